#include "example_phase.h"

#include <stdio.h>

#include "host_files.h"

bool loadExampleCrystal(const char *folder, const char *name, double dMin, pk_phase **phase,
                        RefinementCrystal **crystal) {
    char file[512], path[4096];
    *phase = NULL;
    *crystal = NULL;
    if (snprintf(file, sizeof file, "%s.cif", name) >= (int)sizeof file ||
        !joinPath(path, sizeof path, folder != NULL ? folder : PK_EXAMPLE_DATA_DIR, file)) {
        fprintf(stderr, "the path of %s.cif is too long\n", name);
        return false;
    }
    pk_error error;
    if (pk_phase_from_cif_file(path, NULL, phase, &error) != PK_OK ||
        pk_phase_core_crystal(*phase, dMin, crystal, &error) != PK_OK) {
        fprintf(stderr, "%s\n", error.message);
        pk_phase_free(*phase);
        *phase = NULL;
        return false;
    }
    return true;
}
