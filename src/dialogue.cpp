#include "dialogue.h"

#include "path_loss.h"
#include "read_number.h"

#include <cstdio>

namespace pathloss {
namespace {

// No prompt ends in a line break, and a pipe is fully buffered: without the
// flush an IDE console or a script would wait on a question it cannot see.
void ask(std::FILE *out, const char *question)
{
    std::fputs(question, out);
    std::fflush(out);
}

} // namespace

void run_dialogue(std::FILE *in, std::FILE *out)
{
    char_source input = make_char_source(in);

    ask(out, "\nIntroduce la frecuencia en Mhz: ");
    const double frequency_mhz = read_number(input);
    ask(out, "\nIntroduce la distancia en Km. Si usas decimales separa con punto . : ");
    const double distance_km = read_number(input);

    std::fprintf(out, "\nLa atenuacion del espacio libre en dB es: %lf",
                 free_space_loss_db(frequency_mhz, distance_km));

    std::fputs("\n\n\tLa atenuaciones tipIcas en QRG de aficionados (en dB es): \n", out);
    for (const band_entry &band : amateur_bands)
        std::fprintf(out, "\nLa atenuacion en %i Mhz en dB es: %lf", band.frequency_mhz,
                     band_loss_db(band, distance_km));
    std::fputs("\n\n\n", out);

    // The first character is the line end the distance left behind; the
    // second is the Enter the user is asked for.
    ask(out, "\nPulse Intro para continuar");
    next_char(input);
    next_char(input);
}

} // namespace pathloss
