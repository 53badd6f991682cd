#include "read_number.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pathloss {
namespace {

// Enough significant digits to settle the rounding of any decimal to double:
// a halfway point between two doubles has at most 767 of them. The digits
// beyond only tell whether the tail is zero.
constexpr int kept_digits = 800;

// Far beyond any exponent that still rounds to a finite, non-zero double, yet
// small enough that ten times one, or the sum of two, cannot overflow.
constexpr long long exponent_limit = 100'000'000'000'000'000;
constexpr long long printed_exponent_limit = 100000;

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The C locale's white space, spelled out so that no locale can change it.
bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

long long clamp(long long value, long long limit)
{
    return value > limit ? limit : value < -limit ? -limit : value;
}

void give_back(char_source &source, int c)
{
    if (c != EOF)
        source.held[source.held_count++] = c;
}

// The number read so far: digits * 10^exponent. The digits are kept in the
// text that strtod will read, with room for a sticky digit and the exponent:
// at most kept_digits significant ones, and sticky tells whether any dropped
// one was non-zero.
struct decimal {
    char digits[kept_digits + 32];
    int count;
    bool sticky;
    long long exponent;
};

void add_digit(decimal &number, int c, bool after_point)
{
    if (number.count == 0 && c == '0') {
        if (after_point)
            number.exponent = clamp(number.exponent - 1, exponent_limit);
    } else if (number.count < kept_digits) {
        number.digits[number.count++] = static_cast<char>(c);
        if (after_point)
            number.exponent = clamp(number.exponent - 1, exponent_limit);
    } else {
        number.sticky = number.sticky || c != '0';
        if (!after_point)
            number.exponent = clamp(number.exponent + 1, exponent_limit);
    }
}

// strtod rounds correctly; it is handed only digits and an exponent, with no
// decimal point, so the locale has nothing to say about the result. The
// exponent is written out by hand: snprintf would cost more than the rest of
// the read.
double to_double(decimal &number, bool negative)
{
    if (number.count == 0)
        return negative ? -0.0 : 0.0;
    char *end = number.digits + number.count;
    long long exponent = number.exponent;
    if (number.sticky) {
        *end++ = '1';
        --exponent;
    }
    exponent = clamp(exponent, printed_exponent_limit);
    *end++ = 'e';
    if (exponent < 0)
        *end++ = '-';
    char reversed[8];
    int count = 0;
    for (long long rest = exponent < 0 ? -exponent : exponent; count == 0 || rest > 0; rest /= 10)
        reversed[count++] = static_cast<char>('0' + (rest % 10));
    while (count > 0)
        *end++ = reversed[--count];
    *end = '\0';
    const double magnitude = std::strtod(number.digits, nullptr);
    return negative ? -magnitude : magnitude;
}

// Takes a run of digits into `number`; c is the character at hand before and
// after. Returns whether there was any.
bool read_digits(char_source &source, int &c, decimal &number, bool after_point)
{
    const bool any = is_digit(c);
    for (; is_digit(c); c = next_char(source))
        add_digit(number, c, after_point);
    return any;
}

// An exponent counts only with digits after its marker and sign; without
// them, marker and sign are given back for the next read. Returns the
// character that ends the number.
int read_exponent(char_source &source, int c, decimal &number)
{
    if (c != 'e' && c != 'E')
        return c;
    const int marker = c;
    c = next_char(source);
    const int sign = c == '+' || c == '-' ? c : 0;
    if (sign != 0)
        c = next_char(source);
    if (!is_digit(c)) {
        give_back(source, c);
        if (sign != 0)
            give_back(source, sign);
        return marker;
    }
    long long exponent = 0;
    for (; is_digit(c); c = next_char(source))
        exponent = clamp((exponent * 10) + (c - '0'), exponent_limit);
    number.exponent += sign == '-' ? -exponent : exponent;
    return c;
}

} // namespace

char_source make_char_source(std::FILE *file) { return char_source{file, {}, 0}; }

int next_char(char_source &source)
{
    if (source.held_count > 0)
        return source.held[--source.held_count];
    return std::getc(source.file);
}

// Characters are given back last read first, so that the next read sees them
// in their original order. At most three are ever held: a sign, a point and
// the character after them, or an exponent marker, its sign and the next one.
double read_number(char_source &source)
{
    int c = next_char(source);
    while (is_space(c))
        c = next_char(source);

    const int sign = c == '+' || c == '-' ? c : 0;
    if (sign != 0)
        c = next_char(source);

    decimal number;
    number.count = 0;
    number.sticky = false;
    number.exponent = 0;
    bool any_digit = read_digits(source, c, number, false);
    const bool point = c == '.';
    if (point) {
        c = next_char(source);
        any_digit = read_digits(source, c, number, true) || any_digit;
    }
    if (!any_digit) {
        give_back(source, c);
        if (point)
            give_back(source, '.');
        if (sign != 0)
            give_back(source, sign);
        return NAN;
    }
    give_back(source, read_exponent(source, c, number));
    return to_double(number, sign == '-');
}

} // namespace pathloss
