/* A C11 host of the public headers and the shared libraries: the record layouts as
 * C sees them, and rock salt read by the phase layer, handed over as the core's
 * records, its intensities computed by the core against tests/data/reflexions/NaCl.tsv. */
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include "interface/expected_layout.h"
#include "powderkit.h"
#include "powderkit_phase.h"

static int failed = 0;

static void check(int condition, const char *what) {
    if (!condition) fprintf(stderr, "FAILED: %s\n", what), failed += 1;
}

static const char rockSaltCif[] =
    "data_rocksalt\n_cell_length_a 5.6402\n_cell_length_b 5.6402\n_cell_length_c 5.6402\n"
    "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n_symmetry_space_group_name_H-M 'F m -3 m'\n"
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
    "_atom_site_occupancy\n_atom_site_U_iso_or_equiv\nNa1 Na 0 0 0 1 0.0155\nCl1 Cl 0.5 0.5 0.5 1 0.0122\n";

/* d, multiplicity, X-ray |F|² and λ³·Lp·|F|²·m/V² at λ = 1.5406 Å of (1 1 1) and (2 0 0),
 * all odd and all even, from the reference list (nine digits: within 1e-6 relative). */
static const struct { double d; int multiplicity; double f2, intensity; } expected[] = {
    {3.25637099, 8, 3.18136313e+02, 2.37757856e+00}, {2.82010000, 6, 6.81727981e+03, 2.78962679e+01}};

int main(void) {
#define PK_CHECK_SIZE(Record, size) check(sizeof(Record) == (size), "sizeof " #Record);
#define PK_CHECK_OFFSET(Record, field, offset) check(offsetof(Record, field) == (offset), "offsetof " #field);
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
    pk_phase *phase = NULL;
    RefinementCrystal *crystal = NULL;
    pk_error error;
    if (pk_phase_from_cif_text(rockSaltCif, NULL, &phase, &error) != PK_OK ||
        pk_phase_core_crystal(phase, 1.6, &crystal, &error) != PK_OK) {
        fprintf(stderr, "FAILED: rock salt through the phase layer: %s\n", error.message);
        pk_phase_free(phase);
        return EXIT_FAILURE;
    }
    RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY,
                                                       PK_PROFILE_PSEUDO_VOIGT, 1.5406, 20.0, 80.0);
    check(crystal->reflexions->count == 5, "d ≥ 1.6 Å: 111 200 220 311 222");
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; i++) {
        Reflexion *found = NULL;
        for (int32_t n = 0; n < crystal->reflexions->count; n++) {
            Reflexion *r = crystal->reflexions->items[n];
            if (fabs(r->dSpacing - expected[i].d) < 1e-6) found = r;
        }
        check(found != NULL, "a reference reflexion generated");
        if (found == NULL) continue;
        calculateIntensityForReflexion(crystal, found, profile);
        const double re = found->structureFactorReal, im = found->structureFactorImag;
        check(found->multiplicity == expected[i].multiplicity, "multiplicity as the reference");
        check(fabs((re * re + im * im) / expected[i].f2 - 1.0) < 1e-6, "|F|² as the reference");
        check(fabs(found->intensity / expected[i].intensity - 1.0) < 1e-6, "intensity as the reference");
    }
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal); /* before the phase, whose texts it points at */
    pk_phase_free(phase);
    printf("host: %s\n", failed == 0 ? "passed" : "FAILED");
    return failed == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
