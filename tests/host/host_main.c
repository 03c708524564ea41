/* A C11 host that includes only the public headers and links only the shared
 * libraries. It checks the record layouts as C sees them, and that the layers
 * join: rock salt read from CIF text by the phase layer, handed over as the
 * core's records, its intensities computed by the core and compared with the
 * independent reference list (tests/data/reflexions/NaCl.tsv). */
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include "interface/expected_layout.h"
#include "powderkit.h"
#include "powderkit_phase.h"

static int failed = 0;

static void check(int condition, const char *what) {
    if (!condition) {
        failed += 1;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

static const char rockSaltCif[] =
    "data_rocksalt\n"
    "_cell_length_a 5.6402\n_cell_length_b 5.6402\n_cell_length_c 5.6402\n"
    "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
    "_symmetry_space_group_name_H-M 'F m -3 m'\n"
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n"
    "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
    "_atom_site_occupancy\n_atom_site_U_iso_or_equiv\n"
    "Na1 Na 0 0 0 1 0.0155\n"
    "Cl1 Cl 0.5 0.5 0.5 1 0.0122\n";

/* d, multiplicity, X-ray |F|² and λ³·Lp·|F|²·m/V² of (1 1 1), (2 0 0), (2 2 0)
 * and (3 1 1) at λ = 1.5406 Å, from the reference list, which prints nine
 * significant digits: compared within 1e-6 relative. */
static const struct {
    double d;
    int multiplicity;
    double f2, intensity;
} expected[] = {{3.25637099, 8, 3.18136313e+02, 2.37757856e+00},
                {2.82010000, 6, 6.81727981e+03, 2.78962679e+01},
                {1.99411183, 12, 4.64731276e+03, 1.71680392e+01},
                {1.70058429, 24, 1.11579842e+02, 5.60234327e-01}};

int main(void) {
#define PK_CHECK_SIZE(Record, size) check(sizeof(Record) == (size), "sizeof " #Record);
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
#undef PK_CHECK_SIZE
#define PK_CHECK_OFFSET(Record, field, offset) \
    check(offsetof(Record, field) == (offset), "offsetof " #Record "." #field);
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
#undef PK_CHECK_OFFSET

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
    /* d ≥ 1.6 Å: 111 200 220 311 222. */
    check(crystal->reflexions->count == 5, "five sets of planes with d > 1.6 Å");
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; i++) {
        Reflexion *found = NULL;
        for (int32_t n = 0; n < crystal->reflexions->count; n++) {
            Reflexion *r = crystal->reflexions->items[n];
            if (fabs(r->dSpacing - expected[i].d) < 1e-6) found = r;
        }
        check(found != NULL, "a reference reflexion generated");
        if (found == NULL) continue;
        calculateIntensityForReflexion(crystal, found, profile);
        const double f2 = found->structureFactorReal * found->structureFactorReal +
                          found->structureFactorImag * found->structureFactorImag;
        check(found->multiplicity == expected[i].multiplicity, "multiplicity as the reference");
        check(fabs(f2 / expected[i].f2 - 1.0) < 1e-6, "|F|² as the reference");
        check(fabs(found->intensity / expected[i].intensity - 1.0) < 1e-6, "intensity as the reference");
    }
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal); /* before the phase, whose texts it points at */
    pk_phase_free(phase);
    printf("host: %s\n", failed == 0 ? "passed" : "FAILED");
    return failed == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
