// The correctly rounded base-10 logarithm, and why it is correct.
//
// Only IEEE double + - * with round to nearest (contraction off) and 32/64-bit
// integer operations are used, so every machine computes the same bits. Ziv's
// strategy: a fast path gives y = log10(x) as hi + lo with a proven bound
// |y - (hi + lo)| <= margin; if hi + (lo - margin) and hi + (lo + margin)
// round alike, y rounds to that too (rounding is monotonic; margin carries
// more than the slack to absorb the rounding of lo +- margin). Otherwise the
// slow path evaluates y in fixed point to 128 bits or more. log10(x) is
// irrational unless x is 10^k, when it is the double k itself: it is never a
// midpoint between two doubles, so a close enough approximation settles it.
//
// Reduction (both paths). x = 2^e m with m in [1 - 2^-9, 2 - 2^-8), and
// i = the significand rounded to 7 fraction bits, so that |m - c| <= 2^-8 for
// c = 1 + i/128 (c = 1 with e one up for m just below 2). The table holds
// r ~ 1/c with 17 significant bits (r = 1 for i = 0) and t = -log10(r):
//   log10(x) = e log10(2) + t + log(1 + z) / ln(10),  z = m r - 1,
// and |z| <= 2^-8 (log10_table.py checks this for every entry). Entry 0 with
// e = 0 is x in [1 - 2^-9, 1 + 2^-8): there the result is the log(1 + z)
// term alone, which keeps its relative accuracy however close x is to 1;
// anywhere else |y| >= log10(1 / (1 - 2^-9)) > 2^-10.2.
//
// Fast path, u = 2^-53, c = 1/ln(10); the error of log(1 + z) in units of
// log(1 + z), everything after in units of log10.
// - z = z_hi + z_lo exactly: m = m_top + (m - m_top) with 17 and at most 36
//   significant bits, both times r exact, m_top r - 1 exact (Sterbenz), and
//   the sum by TwoSum. z = t1 + t2 with t1 = z_hi cut to 25 bits, so t1^2 is
//   exact; |t2| <= 2^-23.88 |z|, rounded once (2^-76.9 |z|).
// - log(1 + z) = (t1 - t1^2/2) + t2 - t2 (t1 + z)/2 + z^3/3 - ..., the first
//   pair summed exactly (Fast2Sum), the second term within 2^-82 |z|. The
//   series stops at z^9/9 (the rest: 2^-75.3 |z|). z^3 (1/3 - z/4 + ... +
//   z^6/9) from z_hi is within 2.8u |z|^3 (its roundings and the z_lo left
//   out); the three sums into ln_lo, each below 0.34 |z|^3 + 2^-23.88 |z|,
//   add u times that each. So log(1 + z) = u_hi + ln_lo within
//   3.82u |z|^3 + 2^-73.5 |z|, and |ln_lo| <= 0.34 |z|^3 + 2^-23.88 |z|.
// - Times c = inv_ln10_hi + inv_ln10_lo (+ 2^-110) with Dekker's exact product
//   for u_hi; ln_lo inv_ln10_lo left out (2^-73.7 c |z|); ln_lo passes through
//   five roundings to the end (5u c |ln_lo|).
// - e log10(2) + t: e log10_2_hi + t_hi is exact (42-bit constant times an
//   exponent of at most 11 bits, all multiples of 2^-43, sum below 2^9); the
//   low halves carry 2^-98 |e| + 2^-97 and round in two sums: below 2^-85 in
//   all, and nothing on entry 0 with e = 0. Unless it is 0, |e log10(2) + t|
//   is at least 1.9 |q_hi| (checked by the generator), so hi and lo follow by
//   Fast2Sum and |q_hi| <= 1.12 |hi|; the last sums add 2^-105 |hi|.
// In all, with c |z| <= |q_hi| / 0.996 and z^2 <= z_hi^2 (1 + 3u):
// |y - (hi + lo)| < (5.6u z_hi^2 + 2^-72.2) |hi| on entry 0 with e = 0, where
// hi = q_hi, and < (6.2u z_hi^2 + 2^-71.9) |hi| elsewhere, where 2^-85 is
// below 2^-74.8 |y|. margin = (2^-48 z_hi^2 + 2^-70) |hi| is over 3.7 times
// that. Measured against MPFR on millions of inputs, the error stays under
// 7% of margin, and about one input in 8000 goes on to the slow path.
//
// Slow path: fixed point with n 32-bit limbs after the point (n = 4, 8, 12),
// ulp = 2^-32n, every step truncating; z is exact (z 2^70 is an integer).
// g = log(1 + z)/z = sum (-z)^k/(k+1), the powers by truncated products (each
// within 1.004 ulp of |z|^k), each term divided (1.502 ulp), up to the first
// power that truncates to zero (the rest: 0.51 ulp); K terms: 1.502 K + 0.51
// ulp. Then Z g, where Z is z, or on entry 0 with e = 0, where nothing else
// is added, z 2^s scaled into [1/4, 1/2) for relative accuracy (+1 ulp);
// times 1/ln(10) truncated (+2 ulp); t truncated (+1 ulp); e log10(2) from
// one limb more (+1.001 ulp): within 0.653 K + 4.67 ulp, and K + 10 ulp are
// allowed. If the two ends of that interval round apart, n grows. Only a
// double whose log10 lay within about 2^-316 ulp of a midpoint would exhaust
// the 384 bits (the last attempt's nearest is returned then); among the 2^63
// positive doubles, about 2^-252 such are to be expected.
#include "log10.h"

#include "log10_table.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace pathloss {
namespace {

namespace table = log10_table;

// std::bit_cast, which the browser build's C++ library lacks.
std::uint64_t to_bits(double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double from_bits(std::uint64_t bits)
{
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct reduced {
    int exponent;
    std::size_t index;
    double m;
};

reduced reduce(double x)
{
    std::uint64_t bits = to_bits(x);
    int scale = 0;
    if (bits < (std::uint64_t{1} << 52)) {
        bits = to_bits(x * 0x1p52);
        scale = -52;
    }
    const std::uint64_t rounded = bits + (std::uint64_t{1} << 44);
    const int exponent = static_cast<int>(rounded >> 52) - 1023;
    const std::uint64_t m_bits = bits - (static_cast<std::uint64_t>(exponent) << 52);
    return {exponent + scale, static_cast<std::size_t>((rounded >> 45) & 127U), from_bits(m_bits)};
}

// value with the low `count` bits of its encoding cleared: its leading
// 53 - count significant bits, exactly.
double leading_bits(double value, int count)
{
    const std::uint64_t mask = ~((std::uint64_t{1} << count) - 1);
    return from_bits(to_bits(value) & mask);
}

double special_value(double x)
{
    if (x == 0)
        return -std::numeric_limits<double>::infinity();
    if (std::isnan(x))
        return x + x;
    if (x > 0)
        return x;
    return std::numeric_limits<double>::quiet_NaN();
}

// ---- Slow path ----

constexpr std::size_t max_limbs = table::wide_limbs;
constexpr std::size_t limb_step = 4;

// limb[0] is the integer part, in two's complement, limb[1..n] the fraction,
// most significant first; one more limb serves the exponent's product.
using wide = std::array<std::uint32_t, max_limbs + 2>;

std::uint32_t low_half(std::uint64_t value) { return static_cast<std::uint32_t>(value); }

void add(wide &a, const wide &b, std::size_t n)
{
    std::uint64_t carry = 0;
    for (std::size_t k = n + 1; k-- > 0;) {
        const std::uint64_t sum = std::uint64_t{a[k]} + b[k] + carry;
        a[k] = low_half(sum);
        carry = sum >> 32;
    }
}

void negate(wide &a, std::size_t n)
{
    std::uint64_t carry = 1;
    for (std::size_t k = n + 1; k-- > 0;) {
        const std::uint64_t sum = std::uint64_t{~a[k]} + carry;
        a[k] = low_half(sum);
        carry = sum >> 32;
    }
}

void subtract(wide &a, wide b, std::size_t n)
{
    negate(b, n);
    add(a, b, n);
}

bool is_negative(const wide &a) { return (a[0] >> 31) != 0; }

bool is_zero(const wide &a, std::size_t n)
{
    for (std::size_t k = 0; k <= n; ++k)
        if (a[k] != 0)
            return false;
    return true;
}

// floor(a b) for a, b >= 0 whose product is below 2^32.
wide multiply(const wide &a, const wide &b, std::size_t n)
{
    std::array<std::uint32_t, (2 * max_limbs) + 2> full{};
    for (std::size_t i = n + 1; i-- > 0;) {
        std::uint64_t carry = 0;
        for (std::size_t j = n + 1; j-- > 0;) {
            const std::uint64_t sum = (std::uint64_t{a[i]} * b[j]) + full[i + j] + carry;
            full[i + j] = low_half(sum);
            carry = sum >> 32;
        }
        if (i > 0)
            full[i - 1] = low_half(carry);
    }
    wide product{};
    for (std::size_t k = 0; k <= n; ++k)
        product[k] = full[k];
    return product;
}

// floor(a / divisor) for a >= 0.
void divide(wide &a, std::uint32_t divisor, std::size_t n)
{
    std::uint64_t remainder = 0;
    for (std::size_t k = 0; k <= n; ++k) {
        const std::uint64_t current = remainder << 32 | a[k];
        a[k] = low_half(current / divisor);
        remainder = current % divisor;
    }
}

// magnitude 2^(shift - 70) for shift in [0, 69] and a result below 1, exactly
// in three fraction limbs.
wide from_fixed70(std::uint64_t magnitude, int shift)
{
    // The 96-bit fraction magnitude << (shift + 26), as high:low.
    const int left = shift + 26;
    const std::uint64_t high = left >= 64 ? magnitude << (left - 64) : magnitude >> (64 - left);
    const std::uint64_t low = left >= 64 ? 0 : magnitude << left;
    wide value{};
    value[1] = low_half(high);
    value[2] = low_half(low >> 32);
    value[3] = low_half(low);
    return value;
}

// A wide constant's first n fraction limbs, truncated.
template <std::size_t size>
wide from_table(const std::array<std::uint32_t, size> &limbs, std::size_t n)
{
    wide value{};
    for (std::size_t k = 1; k <= n; ++k)
        value[k] = limbs[k - 1];
    return value;
}

// The double nearest a 2^(-32n - scale), ties to even.
double nearest_double(wide a, std::size_t n, int scale)
{
    const bool negative = is_negative(a);
    if (negative)
        negate(a, n);
    std::size_t top = 0;
    while (top <= n && a[top] == 0)
        ++top;
    if (top > n)
        return 0.0;
    const auto limb = [&](std::size_t k) { return k <= n ? a[k] : std::uint32_t{0}; };
    // 64 bits from the leading one, and whether any bit below them is set.
    const auto lead = static_cast<int>(std::bit_width(a[top]));
    const std::uint64_t pair = std::uint64_t{limb(top)} << 32 | limb(top + 1);
    const std::uint32_t next = limb(top + 2);
    std::uint64_t window = pair;
    bool sticky = next != 0;
    if (lead < 32) {
        window = pair << (32 - lead) | next >> lead;
        sticky = low_half(std::uint64_t{next} << (32 - lead)) != 0;
    }
    for (std::size_t k = top + 3; k <= n; ++k)
        sticky = sticky || a[k] != 0;
    std::uint64_t significand = window >> 11;
    const bool round_bit = ((window >> 10) & 1U) != 0;
    const bool below = (window & 0x3FFU) != 0 || sticky;
    if (round_bit && (below || (significand & 1U) != 0))
        ++significand;
    // Far from the ends of the exponent range: a power of two made from its
    // bits scales exactly.
    const int exponent = lead - 53 - (32 * static_cast<int>(top)) - scale;
    const double power = from_bits(static_cast<std::uint64_t>(exponent + 1023) << 52);
    const double result = static_cast<double>(significand) * power;
    return negative ? -result : result;
}

// exponent log10(2), from one limb more than n, truncated.
wide exponent_term(int exponent, std::size_t n)
{
    wide value = from_table(table::log10_2_wide, n + 1);
    const auto factor = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
    std::uint64_t carry = 0;
    for (std::size_t k = n + 2; k-- > 0;) {
        const std::uint64_t product = (std::uint64_t{value[k]} * factor) + carry;
        value[k] = low_half(product);
        carry = product >> 32;
    }
    value[n + 1] = 0;
    if (exponent < 0)
        negate(value, n);
    return value;
}

// log10(x) 2^scale with n fraction limbs, where z = m r - 1 is
// -+magnitude 2^-70, and the number of ulps it may be off.
struct estimate {
    wide value;
    std::uint32_t error;
};

estimate evaluate(const reduced &r, bool z_negative, std::uint64_t magnitude, int scale,
                  std::size_t n)
{
    // g = log(1 + z) / z = sum over k of (-z)^k / (k + 1)
    const wide z = from_fixed70(magnitude, 0);
    wide power{};
    power[0] = 1;
    wide g = power;
    std::uint32_t terms = 0;
    for (std::uint32_t k = 1;; ++k) {
        power = multiply(power, z, n);
        if (is_zero(power, n))
            break;
        wide term = power;
        divide(term, k + 1, n);
        if (z_negative || k % 2 == 0)
            add(g, term, n);
        else
            subtract(g, term, n);
        ++terms;
    }
    wide y = multiply(from_table(table::inv_ln10_wide, n),
                      multiply(from_fixed70(magnitude, scale), g, n), n);
    if (z_negative)
        negate(y, n);
    add(y, from_table(table::t_wide[r.index], n), n);
    add(y, exponent_term(r.exponent, n), n);
    return {y, terms + 10};
}

} // namespace

double cr_log10_slow(double x, int first_limbs)
{
    if (x == 1.0)
        return 0.0;
    const reduced r = reduce(x);
    // z 2^70 = M R 2^(1 or 0) - 2^70 for m = M 2^-52 (or 2^-53 below 1) and
    // r = R 2^-17: an integer of at most 63 bits, whatever wraps above 2^64.
    const auto big_r = static_cast<std::uint64_t>(table::reduction[r.index].r * 0x1p17);
    const std::uint64_t significand =
        (to_bits(r.m) & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const std::uint64_t product = significand * big_r * (r.m >= 1.0 ? 2U : 1U);
    const bool z_negative = (product >> 63) != 0;
    const std::uint64_t magnitude = z_negative ? 0 - product : product;
    const int scale =
        r.exponent == 0 && r.index == 0 ? 69 - static_cast<int>(std::bit_width(magnitude)) : 0;
    double nearest = 0.0;
    for (auto n = static_cast<std::size_t>(first_limbs); n <= max_limbs; n += limb_step) {
        const estimate y = evaluate(r, z_negative, magnitude, scale, n);
        wide error{};
        error[n] = y.error;
        wide low = y.value;
        subtract(low, error, n);
        wide high = y.value;
        add(high, error, n);
        nearest = nearest_double(low, n, scale);
        if (nearest == nearest_double(high, n, scale))
            return nearest;
    }
    return nearest;
}

double cr_log10_fast(double x)
{
    const reduced r = reduce(x);
    const table::entry &entry = table::reduction[r.index];

    const double m_top = leading_bits(r.m, 36);
    const double a = (m_top * entry.r) - 1.0;
    const double b = (r.m - m_top) * entry.r;
    const double z_hi = a + b;
    const double b_virtual = z_hi - a;
    const double z_lo = (a - (z_hi - b_virtual)) + (b - b_virtual);

    const double t1 = leading_bits(z_hi, 28);
    const double t2 = (z_hi - t1) + z_lo;
    const double half_square = 0.5 * t1 * t1;
    const double u_hi = t1 - half_square;
    const double u_lo = (t1 - u_hi) - half_square;
    const double z2 = z_hi * z_hi;
    const double odd = ((1.0 / 3) - (0.25 * z_hi)) +
                       (z2 * ((0.2 - (z_hi * (1.0 / 6))) +
                              (z2 * (((1.0 / 7) - (0.125 * z_hi)) + (z2 * (1.0 / 9))))));
    const double cube_terms = (z2 * z_hi) * odd;
    const double ln_lo = u_lo + (t2 + ((-0.5 * t2 * (t1 + z_hi)) + cube_terms));

    const double split = u_hi * 0x1.0000002p27; // Veltkamp: 2^27 + 1
    const double u_top = split - (split - u_hi);
    const double u_rest = u_hi - u_top;
    const double q_hi = u_hi * table::inv_ln10_hi;
    const double q_err = (((u_top * table::inv_ln10_hi_top) - q_hi) +
                          (u_top * table::inv_ln10_hi_rest) + (u_rest * table::inv_ln10_hi_top)) +
                         (u_rest * table::inv_ln10_hi_rest);
    const double q_lo = q_err + ((u_hi * table::inv_ln10_lo) + (ln_lo * table::inv_ln10_hi));

    const auto exponent = static_cast<double>(r.exponent);
    const double big = (exponent * table::log10_2_hi) + entry.t_hi;
    const double small = (exponent * table::log10_2_lo) + entry.t_lo;
    const double hi = big + q_hi;
    const double lo = (q_hi - (hi - big)) + (q_lo + small);

    const double margin = (0x1p-48 * z2 + 0x1p-70) * std::fabs(hi);
    const double up = hi + (lo + margin);
    return up == hi + (lo - margin) ? up : std::numeric_limits<double>::quiet_NaN();
}

double cr_log10(double x)
{
    if (to_bits(x) - 1 >= 0x7FEFFFFFFFFFFFFFU)
        return special_value(x);
    const double fast = cr_log10_fast(x);
    return std::isnan(fast) ? cr_log10_slow(x) : fast;
}

} // namespace pathloss
