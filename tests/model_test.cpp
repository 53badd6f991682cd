#include "path_loss.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using namespace pathloss;

namespace {

std::string six_decimals(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lf", value);
    return text;
}

} // namespace

TEST(Model, TableTermsAreTwentyTimesTheRoundedLog)
{
    for (const band_entry &band : amateur_bands) {
        const double log = std::log10(static_cast<double>(band.frequency_mhz));
        EXPECT_EQ(band.frequency_term_db, 20.0 * log) << band.frequency_mhz;
    }
}

TEST(Model, KnownFigures)
{
    EXPECT_EQ(free_space_loss_db(1000.0, 1.0), 92.5);
    const char *at_100_km[] = {"115.667250", "125.209675", "134.752100", "139.809760",
                               "147.708450", "152.813900", "160.121579", "165.958205"};
    for (std::size_t i = 0; i < amateur_bands.size(); ++i) {
        EXPECT_EQ(six_decimals(band_loss_db(amateur_bands[i], 100.0)), at_100_km[i]);
        EXPECT_EQ(six_decimals(band_loss_db(amateur_bands[i], 1.0) + 40.0), at_100_km[i]);
    }
}

// The user's figure and the band's come from different code paths: one takes
// the log at run time, the other reads the table.
TEST(Model, UserFrequencyMatchesItsBand)
{
    for (double distance : {0.001, 0.37, 1.0, 2.5, 100.0, 12345.678, 4.0e7}) {
        for (const band_entry &band : amateur_bands)
            EXPECT_EQ(six_decimals(free_space_loss_db(band.frequency_mhz, distance)),
                      six_decimals(band_loss_db(band, distance)))
                << band.frequency_mhz << " MHz at " << distance << " km";
    }
}

TEST(Model, DoublingTheDistanceAddsSixDecibelsEverywhere)
{
    const double six_db = 20.0 * std::log10(2.0);
    for (double distance : {0.5, 3.0, 160.0}) {
        for (const band_entry &band : amateur_bands)
            EXPECT_NEAR(band_loss_db(band, 2 * distance) - band_loss_db(band, distance), six_db,
                        1e-12);
        EXPECT_NEAR(free_space_loss_db(7.1, 2 * distance) - free_space_loss_db(7.1, distance),
                    six_db, 1e-12);
    }
}

// printf shows a NaN's sign, so every NaN must come out the same: which sign
// the CPU or libm gives it differs between static and dynamic builds.
bool plain_nan(double loss) { return std::isnan(loss) && !std::signbit(loss); }

TEST(Model, SpecialValuesPassThrough)
{
    const double inf = INFINITY;
    for (const band_entry &band : amateur_bands) {
        EXPECT_EQ(band_loss_db(band, 0.0), -inf);
        EXPECT_EQ(band_loss_db(band, -0.0), -inf);
        EXPECT_TRUE(plain_nan(band_loss_db(band, -1.0)));
        EXPECT_EQ(band_loss_db(band, inf), inf);
        EXPECT_TRUE(plain_nan(band_loss_db(band, NAN)));
    }
    EXPECT_EQ(free_space_loss_db(0.0, 0.0), -inf);
    EXPECT_EQ(free_space_loss_db(144.0, 0.0), -inf);
    EXPECT_EQ(free_space_loss_db(0.0, 10.0), -inf);
    EXPECT_TRUE(plain_nan(free_space_loss_db(-144.0, 0.0)));
    EXPECT_TRUE(plain_nan(free_space_loss_db(144.0, -1.0)));
    // Infinitely far at zero frequency is no number at all.
    EXPECT_TRUE(plain_nan(free_space_loss_db(0.0, inf)));
    EXPECT_TRUE(plain_nan(free_space_loss_db(inf, 0.0)));
    // No clamp at either end.
    EXPECT_DOUBLE_EQ(free_space_loss_db(1.0, 0.001), -27.5);
    EXPECT_DOUBLE_EQ(band_loss_db(amateur_bands[0], 1e300), 6032.5 + 43.167249841905);
}
