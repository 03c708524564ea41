/* powderkit-demo: the calculated powder pattern of one CIF file through the
 * phase layer, Cu Kα1 + Kα2, 2θ 10–150° in 0.02° steps, written as two
 * columns (2θ, intensity) to standard output or to a file.
 *
 *   powderkit-demo [FILE.cif [OUTPUT]]    (default: corundum of examples/data)
 *
 * Built by hand: cc powderkit_demo.c $(pkg-config --cflags --libs powderkit_phase) */
#include <stdio.h>

#include "powderkit_phase.h"

#ifndef PK_EXAMPLE_DATA_DIR
#define PK_EXAMPLE_DATA_DIR "examples/data"
#endif

#define POINTS 7001

int main(int argc, char **argv) {
    const char *cif = argc > 1 ? argv[1] : PK_EXAMPLE_DATA_DIR "/corundum.cif";
    pk_error error;
    pk_phase *phase = NULL;
    if (pk_phase_from_cif_file(cif, NULL, &phase, &error) != PK_OK) {
        fprintf(stderr, "powderkit-demo: %s\n", error.message);
        return 1;
    }

    pk_instrument instrument;
    pk_instrument_default(&instrument);
    pk_instrument_set_anode(&instrument, "Cu", true, &error); /* Kα1 + Kα2 */
    pk_phase_setting setting = {phase, 1.0, NULL, 0, 1.0, {0.0, 0.0, 1.0}};
    static double x[POINTS], y[POINTS];
    for (int i = 0; i < POINTS; i++) x[i] = 10.0 + 0.02 * i;
    int32_t status = pk_pattern(&instrument, &setting, 1, NULL, 0, x, POINTS, y, &error);
    pk_phase_free(phase);
    if (status != PK_OK) {
        fprintf(stderr, "powderkit-demo: %s\n", error.message);
        return 1;
    }

    FILE *out = argc > 2 ? fopen(argv[2], "w") : stdout;
    if (out == NULL) {
        perror(argv[2]);
        return 1;
    }
    for (int i = 0; i < POINTS; i++) fprintf(out, "%.2f\t%.6g\n", x[i], y[i]);
    if (out != stdout ? fclose(out) != 0 : fflush(out) != 0) {
        fprintf(stderr, "powderkit-demo: could not write the pattern\n");
        return 1;
    }
    return 0;
}
