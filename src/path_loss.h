// Free-space path loss of a radio link, and the amateur bands the report lists.
#pragma once

#include <array>
#include <cstdint>

namespace pathloss {

struct band_entry {
    std::int32_t frequency_mhz;
    // 20 * log10(frequency_mhz), each step rounded to double. Kept as a literal
    // so that every build prints the same band figures whatever its log10.
    double frequency_term_db;
};

inline constexpr std::array<band_entry, 8> amateur_bands{{
    {144, 43.167249841905},
    {432, 52.70967493629824},
    {1296, 62.252100030691494},
    {2320, 67.309759697818},
    {5760, 75.20844966846424},
    {10368, 80.31389977053037},
    {24048, 87.62157926485665},
    {47088, 93.45820489511071},
}};

// Loss in dB for a frequency in MHz and a distance in km. Nothing is checked:
// 0 km gives -inf and a negative argument NaN, as log10 does.
double free_space_loss_db(double frequency_mhz, double distance_km);

double band_loss_db(const band_entry &band, double distance_km);

} // namespace pathloss
