/* The floor for the cost of a run: the same dialogue written as plain C
   stdio, the way the calculator would be written without any care for exact
   reading. Kept only to measure against; it is not the program. */
#include <math.h>
#include <stdio.h>

static const int band_mhz[8] = {144, 432, 1296, 2320, 5760, 10368, 24048, 47088};
static const double band_term_db[8] = {43.167249841905,   52.70967493629824, 62.252100030691494,
                                       67.309759697818,   75.20844966846424, 80.31389977053037,
                                       87.62157926485665, 93.45820489511071};

int main(void)
{
    double frequency = 0, distance = 0;
    int i;

    printf("\nIntroduce la frecuencia en Mhz: ");
    fflush(stdout);
    if (scanf("%lf", &frequency) != 1)
        frequency = NAN;
    printf("\nIntroduce la distancia en Km. Si usas decimales separa con punto . : ");
    fflush(stdout);
    if (scanf("%lf", &distance) != 1)
        distance = NAN;
    printf("\nLa atenuacion del espacio libre en dB es: %lf",
           (20.0 * log10(frequency) + 20.0 * log10(distance)) + 32.5);
    printf("\n\n\tLa atenuaciones tipIcas en QRG de aficionados (en dB es): ");
    for (i = 0; i < 8; i++)
        printf(i == 0 ? "\n\nLa atenuacion en %i Mhz en dB es: %lf"
                      : "\nLa atenuacion en %i Mhz en dB es: %lf",
               band_mhz[i], (20.0 * log10(distance) + band_term_db[i]) + 32.5);
    printf("\n\n\n");
    printf("\nPulse Intro para continuar");
    fflush(stdout);
    getchar();
    getchar();
    return 0;
}
