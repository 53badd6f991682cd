// cr_log10 against GNU MPFR's log10 rounded to nearest, bit for bit: special
// values, every power of ten, the ends of the subnormal and normal ranges, the
// edges of the argument reduction, inputs around 1 and around powers of ten,
// the hardest inputs a search found, and PATHLOSS_LOG10_SAMPLES pseudo-random
// doubles (default 1,000,000) over the whole range and as many over
// [1e-4, 1e6]. The slow path rarely gets an input from the fast one, so it is
// also checked alone, at each width it can start with.
#include "log10.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mpfr.h>
#include <random>

using pathloss::cr_log10;

namespace {

struct tally {
    mpfr_t value;
    long checked;
    long slow;
    long mismatches;
};

// The double nearest log10(x): 53 bits, with double's exponent range and
// subnormals, so that MPFR rounds exactly where a double must.
double reference(tally &t, double x)
{
    mpfr_set_d(t.value, x, MPFR_RNDN);
    const int ternary = mpfr_log10(t.value, t.value, MPFR_RNDN);
    mpfr_subnormalize(t.value, ternary, MPFR_RNDN);
    return mpfr_get_d(t.value, MPFR_RNDN);
}

bool same_bits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void compare(tally &t, const char *what, double x, double got)
{
    const double want = reference(t, x);
    if (!same_bits(got, want) && ++t.mismatches <= 20)
        std::printf("%s(%a) = %a, MPFR says %a\n", what, x, got, want);
}

// cr_log10 as the program calls it, noting whether the slow path settled it.
void check(tally &t, double x)
{
    ++t.checked;
    if (x > 0 && x < INFINITY && std::isnan(pathloss::cr_log10_fast(x)))
        ++t.slow;
    compare(t, "cr_log10", x, cr_log10(x));
}

void check_around(tally &t, double x, int ulps)
{
    double below = x;
    double above = x;
    check(t, x);
    for (int k = 0; k < ulps; ++k) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, INFINITY);
        check(t, below);
        check(t, above);
    }
}

double random_positive(std::mt19937_64 &bits)
{
    for (;;) {
        const std::uint64_t pattern = bits() % 0x7FF0000000000000U;
        double x = 0;
        std::memcpy(&x, &pattern, sizeof x);
        if (x != 0)
            return x;
    }
}

} // namespace

int main()
{
    const char *samples_text = std::getenv("PATHLOSS_LOG10_SAMPLES");
    const long samples = samples_text != nullptr ? std::atol(samples_text) : 1000000;
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    tally t{};
    mpfr_init2(t.value, 53);

    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {0.0, -0.0, -inf, -1.0, -5e-324, inf, std::nan("")})
        check(t, x);
    char power[16];
    for (int k = -323; k <= 308; ++k) {
        std::snprintf(power, sizeof power, "1e%d", k);
        check_around(t, std::strtod(power, nullptr), 3);
    }
    for (double x : {5e-324, 0x1p-1022, 0x1.fffffffffffffp-1023, 0x1.fffffffffffffp+1023})
        check_around(t, x, 3);
    check_around(t, 1.0, 2000);
    // Where the reduction switches table entry or exponent, in and below the
    // normal range.
    for (int i = 0; i <= 256; ++i)
        for (int exponent : {-1074, -1030, -1, 0, 1, 1000})
            check_around(t, std::ldexp(1.0 + (i / 256.0), exponent), 2);
    // Found by a search of 2.2 billion inputs for those whose log10 lies
    // nearest a midpoint between two doubles (up to 2^-34.4 ulp from it);
    // none of them rounds on the fast path.
    for (double x : {0x1.5dfc72ebb6e1dp-755, 0x1.dbdd24e7fc357p+389, 0x1.7853f9c65275cp+19,
                     0x1.0b9981f6e8f83p+17, 0x1.89fa781bb5076p-65, 0x1.985771552598bp+19,
                     0x1.06449bc8d16d8p+540, 0x1.c22f53e611b99p-212, 0x1.ffffffe32e6f5p-1,
                     0x1.ffffffe2b8bacp-1, 0x1.00000003e6796p+0, 0x1.6a0ebc00e4f33p-1022})
        check(t, x);

    std::mt19937_64 bits(20240601);
    for (long k = 0; k < samples; ++k)
        check(t, random_positive(bits));
    for (long k = 0; k < samples; ++k)
        check(t, 1e-4 + ((1e6 - 1e-4) * (static_cast<double>(bits() >> 11) * 0x1p-53)));

    long slow_alone = 0;
    for (int first_limbs : {4, 8, 12}) {
        const long count = first_limbs == 4 ? 100000 : 10000;
        for (long k = 0; k < count; ++k, ++slow_alone) {
            const double x = random_positive(bits);
            compare(t, "cr_log10_slow", x, pathloss::cr_log10_slow(x, first_limbs));
        }
    }

    std::printf("log10.mpfr: %ld inputs checked, %ld of them settled by the slow path; "
                "the slow path alone on %ld more; %ld mismatches\n",
                t.checked, t.slow, slow_alone, t.mismatches);
    mpfr_clear(t.value);
    return t.mismatches == 0 ? 0 : 1;
}
