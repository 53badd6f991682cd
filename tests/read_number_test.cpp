#include "read_number.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace pathloss;

namespace {

struct outcome {
    double value;
    std::string rest; // what the next reader of the stream would see
};

outcome read_from(const std::string &input)
{
    std::FILE *file = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), file);
    std::rewind(file);
    char_source source = make_char_source(file);
    outcome result{read_number(source), {}};
    for (int c = next_char(source); c != EOF; c = next_char(source))
        result.rest += static_cast<char>(c);
    std::fclose(file);
    return result;
}

void expect_read(const std::string &input, double value, const std::string &rest)
{
    const outcome got = read_from(input);
    EXPECT_EQ(got.value, value) << '"' << input << '"';
    EXPECT_EQ(std::signbit(got.value), std::signbit(value)) << '"' << input << '"';
    EXPECT_EQ(got.rest, rest) << '"' << input << '"';
}

} // namespace

TEST(ReadNumber, TakesTheLongestNumberAndLeavesTheRest)
{
    expect_read("144\n", 144, "\n");
    expect_read(" \n\n\t\r\v\f100 km\n", 100, " km\n");
    expect_read("2,5\n", 2, ",5\n");
    expect_read("5.", 5, "");
    expect_read(".5x", 0.5, "x");
    expect_read("-.5", -0.5, "");
    expect_read("+7e2;", 700, ";");
    expect_read("5.e3 ", 5000, " ");
    expect_read("3E-2", 0.03, "");
    expect_read("1.2.3", 1.2, ".3");
    expect_read("007", 7, "");
    expect_read("-0", -0.0, "");
    expect_read("0x1A", 0, "x1A");
    expect_read("12e0x", 12, "x");
}

// Up to two characters past the number must go back: more than ungetc promises.
TEST(ReadNumber, DanglingExponentStaysInTheInput)
{
    expect_read("2.5E-\n", 2.5, "E-\n");
    expect_read("1e", 1, "e");
    expect_read("1e+x", 1, "e+x");
    expect_read("1e++5", 1, "e++5");
    expect_read("1e-+5", 1, "e-+5");
    expect_read("7ee", 7, "ee");
}

TEST(ReadNumber, FailureGivesNaNAndLeavesTheText)
{
    for (const char *text : {"abc\n", "-abc", "+.x", ".", "-", "+-1", "e5", "inf", "nan", "\x80"}) {
        const outcome got = read_from(text);
        EXPECT_TRUE(std::isnan(got.value)) << text;
        EXPECT_EQ(got.rest, text);
    }
    for (const char *blank : {"", "   ", "\n\n\n"}) {
        const outcome got = read_from(blank);
        EXPECT_TRUE(std::isnan(got.value));
        EXPECT_EQ(got.rest, "");
    }
}

TEST(ReadNumber, SuccessiveReadsShareTheStream)
{
    std::FILE *file = std::tmpfile();
    std::fputs("144 1e+\n2\n", file);
    std::rewind(file);
    char_source source = make_char_source(file);
    EXPECT_EQ(read_number(source), 144);
    EXPECT_EQ(read_number(source), 1);
    EXPECT_TRUE(std::isnan(read_number(source)));
    EXPECT_EQ(next_char(source), 'e');
    EXPECT_EQ(next_char(source), '+');
    EXPECT_EQ(read_number(source), 2);
    EXPECT_EQ(next_char(source), '\n');
    EXPECT_EQ(next_char(source), EOF);
    EXPECT_EQ(next_char(source), EOF);
    std::fclose(file);
}

TEST(ReadNumber, RangeEnds)
{
    expect_read("1e400", INFINITY, "");
    expect_read("-1e400", -INFINITY, "");
    expect_read("1e-400", 0, "");
    expect_read("-1e-400", -0.0, "");
    expect_read("1e99999999999999999999999999", INFINITY, "");
    expect_read("0.0e99999999999999999999999999", 0, "");
    expect_read("1e-99999999999999999999999999", 0, "");
    expect_read("1.7976931348623157e308", 1.7976931348623157e308, "");
    expect_read("4.9406564584124654e-324", 4.9406564584124654e-324, "");
    expect_read("2.4703282292062328e-324", 4.9406564584124654e-324, "");
    expect_read("2.4703282292062327e-324", 0, "");
}

TEST(ReadNumber, LongNumbersRoundCorrectly)
{
    const std::string zeros(5000, '0');
    expect_read("0." + zeros + "1e5001", 1, "");
    expect_read("1" + zeros + "e-5000", 1, "");
    expect_read(zeros + "42" + zeros + "e-5000", 42, "");
    // 1 + 2^-53 lies halfway between two doubles: ties go to even, and any
    // non-zero digit however far down tips it up.
    const std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
    expect_read(halfway, 1, "");
    expect_read(halfway + zeros, 1, "");
    expect_read(halfway + zeros + "1", std::nextafter(1.0, 2.0), "");
    expect_read("-" + halfway + zeros + "1 ", -std::nextafter(1.0, 2.0), " ");
}

// glibc's strtod rounds correctly; the reader must agree with it on plain
// numbers however they are spelled.
TEST(ReadNumber, AgreesWithStrtodOnRandomNumbers)
{
    std::mt19937 random(20261208);
    auto digits = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += static_cast<char>('0' + (random() % 10));
        return text;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string text = random() % 2 ? "-" : "";
        text += digits(static_cast<int>(random() % 30));
        text += '.';
        text += digits(1 + static_cast<int>(random() % 30));
        text += 'e';
        text += std::to_string(static_cast<int>(random() % 700) - 350);
        const double expected = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(read_from(text).value, expected) << text;
    }
}
