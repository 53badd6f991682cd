// Reading decimal numbers from a console stream, one character of lookahead
// at a time, without relying on more pushback than the stream itself offers.
#pragma once

#include <cstdio>

namespace pathloss {

// A stream plus the few characters a read had to look at and give back. A
// number like "1e+" ends before its "e+", which must stay for the next read;
// C stdio only promises one character of ungetc, so they are held here.
struct char_source {
    std::FILE *file;
    int held[3];
    int held_count;
};

char_source make_char_source(std::FILE *file);

// Next character, or EOF once input has ended.
int next_char(char_source &source);

// Skips white space, then takes the longest prefix of the form
// [+-] digits [. digits] [(e|E) [+-] digits] (at least one mantissa digit;
// "5." and ".5" count). Everything after it stays in the source. Rounds
// correctly whatever the number of digits, ignores the locale, and yields
// +-inf beyond the double range and +-0 below it. Returns NaN when no number
// is there, leaving that text unread.
double read_number(char_source &source);

} // namespace pathloss
