// The cost of one logarithm: cr_log10 on inputs its fast path settles, the
// slow path alone, and the C library's log10, over the same distances.
//
// usage: log10 time            prints "WHICH ns-per-call" for glibc, fast, slow
//        log10 count WHICH N   makes N calls of WHICH, for callgrind to count
#include "log10.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ratio>
#include <vector>

namespace {

// Called through a pointer so that the compiler cannot fold or inline it.
double (*volatile libc_log10)(double) = std::log10;
volatile double sink;

std::vector<double> distances()
{
    // 1 m to 100,000 km on a geometric grid, nudged off round numbers.
    std::vector<double> x(4096);
    for (std::size_t k = 0; k < x.size(); ++k)
        x[k] =
            std::pow(10.0, -3.0 + (8.0 * static_cast<double>(k) / static_cast<double>(x.size()))) *
            1.000000123;
    return x;
}

double run(const char *which, const std::vector<double> &x, long calls)
{
    double sum = 0;
    const bool slow = std::strcmp(which, "slow") == 0;
    const bool libc = std::strcmp(which, "glibc") == 0;
    for (long k = 0; k < calls; ++k) {
        const double v = x[static_cast<std::size_t>(k) % x.size()];
        sum += slow ? pathloss::cr_log10_slow(v) : libc ? libc_log10(v) : pathloss::cr_log10(v);
    }
    return sum;
}

double nanoseconds_per_call(const char *which, const std::vector<double> &x, long calls)
{
    double best = 1e300;
    for (int repeat = 0; repeat < 5; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        sink = run(which, x, calls);
        const std::chrono::duration<double, std::nano> took =
            std::chrono::steady_clock::now() - start;
        best = std::fmin(best, took.count() / static_cast<double>(calls));
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<double> x = distances();
    if (argc == 4 && std::strcmp(argv[1], "count") == 0) {
        sink = run(argv[2], x, std::atol(argv[3]));
        return 0;
    }
    long leave = 0;
    for (double v : x)
        leave += std::isnan(pathloss::cr_log10_fast(v)) ? 1 : 0;
    if (leave > 0)
        std::fprintf(stderr, "warning: %ld distances leave the fast path\n", leave);
    std::printf("glibc %.1f\n", nanoseconds_per_call("glibc", x, 4000000));
    std::printf("fast %.1f\n", nanoseconds_per_call("fast", x, 4000000));
    std::printf("slow %.1f\n", nanoseconds_per_call("slow", x, 200000));
    return 0;
}
