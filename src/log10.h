// A base-10 logarithm of the program's own: correctly rounded, so that every
// machine prints the same figures whatever its C library.
#pragma once

namespace pathloss {

// log10(x) rounded to the nearest double, ties to even, for every double x.
// +-0 gives -inf, a negative x (-inf too) NaN, +inf +inf, NaN NaN; 10^k gives
// k exactly.
double cr_log10(double x);

// cr_log10's two ways, for positive finite x only, apart for the tests: the
// fast one returns NaN when it cannot round with certainty; the slow one
// always settles, starting with first_limbs 32-bit limbs of fraction (4, 8 or
// 12) and taking 4 more while it cannot.
double cr_log10_fast(double x);
double cr_log10_slow(double x, int first_limbs = 4);

} // namespace pathloss
