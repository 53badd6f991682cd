// libFuzzer target: arbitrary bytes as standard input, to the number reader
// and to the whole dialogue, checking what must hold for any input.
#include "dialogue.h"
#include "path_loss.h"
#include "read_number.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

std::FILE *open_input(const std::uint8_t *data, std::size_t size)
{
    // fmemopen refuses an empty buffer on some libcs; a tmpfile never does.
    std::FILE *file =
        size == 0 ? std::tmpfile() : fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    require(file != nullptr, "input stream opens");
    return file;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest number at the start of `text`, worked out on the
// whole string at once rather than a character at a time.
std::size_t number_length(std::string_view text)
{
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && is_digit(text[i]))
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return 0;
    const std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() > 0)
            return i;
    }
    return end;
}

std::size_t skip_space(std::string_view text, std::size_t at)
{
    while (at < text.size() && text[at] != '\0' && std::strchr(" \t\n\v\f\r", text[at]) != nullptr)
        ++at;
    return at;
}

// Two successive reads: each takes exactly the longest number after the
// white space, gives the value strtod gives for that text, and leaves the
// rest of the input untouched; where there is no number, NaN and nothing
// but the white space taken.
void check_reader(std::string_view text, std::FILE *in)
{
    pathloss::char_source source = pathloss::make_char_source(in);
    std::size_t at = 0;
    for (int read = 0; read < 2; ++read) {
        const double value = pathloss::read_number(source);
        const std::size_t start = skip_space(text, at);
        const std::size_t length = number_length(text.substr(start));
        if (length == 0) {
            require(std::isnan(value), "no number reads as NaN");
            at = start;
            continue;
        }
        const std::string number(text.substr(start, length));
        char *end = nullptr;
        const double expected = std::strtod(number.c_str(), &end);
        require(end == number.c_str() + length, "strtod takes the same text");
        require(std::memcmp(&value, &expected, sizeof value) == 0, "value as strtod rounds it");
        at = start + length;
    }
    for (; at < text.size(); ++at)
        require(pathloss::next_char(source) == static_cast<unsigned char>(text[at]),
                "rest untouched");
    require(pathloss::next_char(source) == EOF, "nothing invented");
}

bool is_figure(std::string_view figure)
{
    if (!figure.empty() && figure[0] == '-')
        figure.remove_prefix(1);
    if (figure == "inf" || figure == "nan")
        return true;
    const std::size_t point = figure.find('.');
    if (point == std::string_view::npos || point == 0 || figure.size() - point != 7)
        return false;
    for (std::size_t i = 0; i < figure.size(); ++i)
        if (i != point && !is_digit(figure[i]))
            return false;
    return true;
}

// Takes `literal` and then a figure from the front of `out`.
void expect_line(std::string_view &out, const std::string &literal)
{
    require(out.substr(0, literal.size()) == literal, "literal text in place");
    out.remove_prefix(literal.size());
    const std::size_t end = std::min(out.find('\n'), out.size());
    require(is_figure(out.substr(0, end)), "six-decimal figure, inf or nan");
    out.remove_prefix(end);
}

void check_dialogue(std::FILE *in)
{
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&buffer, &size);
    require(out != nullptr, "output stream opens");
    pathloss::run_dialogue(in, out);
    std::fclose(out);

    std::string_view rest(buffer, size);
    expect_line(rest, "\nIntroduce la frecuencia en Mhz: "
                      "\nIntroduce la distancia en Km. Si usas decimales separa con punto . : "
                      "\nLa atenuacion del espacio libre en dB es: ");
    std::string heading = "\n\n\tLa atenuaciones tipIcas en QRG de aficionados (en dB es): \n";
    for (const pathloss::band_entry &band : pathloss::amateur_bands) {
        expect_line(rest, heading + "\nLa atenuacion en " + std::to_string(band.frequency_mhz) +
                              " Mhz en dB es: ");
        heading.clear();
    }
    require(rest == "\n\n\n\nPulse Intro para continuar", "ends with the pause");
    std::free(buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::FILE *in = open_input(data, size);
    check_reader(text, in);
    std::fclose(in);

    in = open_input(data, size);
    check_dialogue(in);
    std::fclose(in);
    return 0;
}
