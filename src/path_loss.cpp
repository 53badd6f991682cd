#include "path_loss.h"

#include "log10.h"

#include <cmath>

namespace pathloss {
namespace {

constexpr double db_per_decade = 20.0;

// 32.5 rather than the 32.45 of the full derivation: the figures users compare
// against have always carried 32.5, so it stays.
constexpr double loss_constant_db = 32.5;

// A NaN's sign is the CPU's choice (x86 gives inf - inf, as for a frequency of
// 0 at an infinite distance, the sign bit; ARM does not), and printf shows it,
// so every NaN leaves here as the same quiet NaN.
double same_on_every_machine(double loss_db) { return std::isnan(loss_db) ? NAN : loss_db; }

double distance_term_db(double distance_km) { return db_per_decade * cr_log10(distance_km); }

} // namespace

// The two terms are summed before the constant is added; another grouping
// changes the last bit, and now and then the sixth printed decimal.
double free_space_loss_db(double frequency_mhz, double distance_km)
{
    const double distance_db = distance_term_db(distance_km);
    const double frequency_db = db_per_decade * cr_log10(frequency_mhz);
    return same_on_every_machine((frequency_db + distance_db) + loss_constant_db);
}

double band_loss_db(const band_entry &band, double distance_km)
{
    return same_on_every_machine((distance_term_db(distance_km) + band.frequency_term_db) +
                                 loss_constant_db);
}

} // namespace pathloss
