// The whole console session: two questions, the report, and the pause.
#pragma once

#include <cstdio>

namespace pathloss {

// Runs one session reading from `in` and writing to `out`. Nothing is
// validated and nothing is reported: a number that cannot be read becomes
// NaN and the figures that depend on it print as such.
void run_dialogue(std::FILE *in, std::FILE *out);

} // namespace pathloss
