/* An installed tree's user: C11, the public headers, the installed libraries (check_install.sh). */
#include <math.h>
#include <stdio.h>

#include <powderkit.h>
#include <powderkit_phase.h>

/* Rock salt by its space-group symbol alone: the layer makes the operators. */
static const char nacl_cif[] =
    "data_NaCl\n_cell_length_a 5.6402\n_cell_length_b 5.6402\n_cell_length_c 5.6402\n"
    "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n_symmetry_space_group_name_H-M 'F m -3 m'\n"
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
    "_atom_site_occupancy\n_atom_site_U_iso_or_equiv\nNa1 Na 0 0 0 1 0.0155\nCl1 Cl 0.5 0.5 0.5 1 0.0122\n";

int main(void) {
    /* The core: B0 T0 + B1 T1 + B2 T2 at u = 2(40 − 10)/40 − 1 = 0.5 is 1 + 2·0.5 + 3·(2·0.25 − 1) = 0.5. */
    const double coefficients[13] = {1.0, 2.0, 3.0};
    const double background = BackgroundIntensity(coefficients, 40.0, 10.0, 50.0);
    /* The phase layer, NaCl to d = 1 Å: h k l all even or all odd, h²+k²+l² ≤ 31.8: 111 200 220
     * 311 222 400 331 420 422, and 511 and 333 on one line: 11 sets of planes on 10 lines. */
    pk_error error = {0};
    pk_phase *phase = NULL;
    pk_reflexion_list *list = NULL;
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    if (pk_phase_from_cif_text(nacl_cif, NULL, &phase, &error) != PK_OK ||
        pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, 1.0, &list, &error) != PK_OK) {
        fprintf(stderr, "phase layer: %s\n", error.message);
        pk_phase_free(phase);
        return 1;
    }
    const int32_t count = pk_reflexion_list_count(list), lines = pk_reflexion_list_line_count(list);
    printf("%s: background %.6f, %s: %d reflexions on %d lines\n", pk_version(), background, pk_phase_name(phase),
           (int)count, (int)lines);
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
    return fabs(background - 0.5) < 1e-12 && count == 11 && lines == 10 ? 0 : 1;
}
