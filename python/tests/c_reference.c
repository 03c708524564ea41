/* The C side of the Python package's bit-for-bit tests: the same calls as the
 * package makes, printed as hexadecimal floats (exact).
 *
 *   c_reference layout                   size and field offsets of every record
 *   c_reference reflexions CIF D_MIN     d, 2θ, |F|², intensity of each reflexion (Cu Kα1)
 *   c_reference pattern CIF FROM TO STEP the pattern (Cu Kα1 + Kα2, default profile, scale 1)
 */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "powderkit_phase.h"

static int failed(const pk_error *error) {
    fprintf(stderr, "c_reference: %s\n", error->message);
    return 1;
}

#define FIELD(record, field) printf(#record " " #field " %zu\n", offsetof(record, field))
#define SIZE(record) printf(#record " sizeof %zu\n", sizeof(record))

static int layout(void) {
    SIZE(pk_error); FIELD(pk_error, message);
    SIZE(pk_instrument); FIELD(pk_instrument, wavelength); FIELD(pk_instrument, dtt2);
    FIELD(pk_instrument, monochromator); FIELD(pk_instrument, dispersion); FIELD(pk_instrument, absorption);
    FIELD(pk_instrument, transparency);
    SIZE(pk_profile); FIELD(pk_profile, U); FIELD(pk_profile, beta1); FIELD(pk_profile, axial_hl);
    SIZE(pk_site); FIELD(pk_site, x); FIELD(pk_site, has_u_aniso); FIELD(pk_site, u_aniso);
    SIZE(pk_phase_setting); FIELD(pk_phase_setting, profile); FIELD(pk_phase_setting, use_march);
    FIELD(pk_phase_setting, march_axis);
    SIZE(pk_peak_search); FIELD(pk_peak_search, wavelength); FIELD(pk_peak_search, ratio2);
    SIZE(pk_peak_failure); FIELD(pk_peak_failure, reason);
    SIZE(pk_refinement_options); FIELD(pk_refinement_options, x_min); FIELD(pk_refinement_options, max_cycles);
    FIELD(pk_refinement_options, shift_tolerance);
    SIZE(pk_parameter); FIELD(pk_parameter, value); FIELD(pk_parameter, state); FIELD(pk_parameter, upper);
    SIZE(pk_refinement_summary); FIELD(pk_refinement_summary, stop); FIELD(pk_refinement_summary, Rp);
    FIELD(pk_refinement_summary, reduced_chi2); FIELD(pk_refinement_summary, GoF);
    SIZE(pk_refinement_phase); FIELD(pk_refinement_phase, cell); FIELD(pk_refinement_phase, weight_fraction);
    FIELD(pk_refinement_phase, size_nm); FIELD(pk_refinement_phase, strain_esd);
    SIZE(pk_refinement_histogram); FIELD(pk_refinement_histogram, profiles); FIELD(pk_refinement_histogram, x_max);
    SIZE(pk_refinement_histogram_result); FIELD(pk_refinement_histogram_result, instrument);
    FIELD(pk_refinement_histogram_result, summary);
    SIZE(pk_index_options); FIELD(pk_index_options, max_unindexed); FIELD(pk_index_options, zero_window);
    FIELD(pk_index_options, le_bail_count);
    SIZE(pk_index_candidate); FIELD(pk_index_candidate, centring); FIELD(pk_index_candidate, cell);
    FIELD(pk_index_candidate, N); FIELD(pk_index_candidate, mean_error); FIELD(pk_index_candidate, le_bail_rwp);
    SIZE(pk_extinction_class); FIELD(pk_extinction_class, groups); FIELD(pk_extinction_class, absent_lines);
    return 0;
}

static int reflexions(const char *path, double d_min) {
    pk_error error;
    pk_phase *phase = NULL;
    pk_reflexion_list *list = NULL;
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    if (pk_phase_from_cif_file(path, NULL, &phase, &error) != PK_OK) return failed(&error);
    if (pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, d_min, &list, &error) != PK_OK) {
        pk_phase_free(phase);
        return failed(&error);
    }
    const int32_t n = pk_reflexion_list_count(list);
    const int32_t quantities[4] = {PK_QUANTITY_D, PK_QUANTITY_X, PK_QUANTITY_F2, PK_QUANTITY_INTENSITY};
    double *values = malloc(sizeof(double) * 4 * (size_t)(n > 0 ? n : 1));
    int status = values == NULL;
    for (int q = 0; q < 4 && status == 0; ++q) {
        if (pk_reflexion_list_values(list, quantities[q], values + q * n, n, &error) != PK_OK) status = failed(&error);
    }
    for (int32_t i = 0; i < n && status == 0; ++i) {
        printf("%a %a %a %a\n", values[i], values[n + i], values[2 * n + i], values[3 * n + i]);
    }
    free(values);
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
    return status;
}

static int pattern(const char *path, double from, double to, double step) {
    pk_error error;
    pk_phase *phase = NULL;
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    if (pk_instrument_set_anode(&instrument, "Cu", true, &error) != PK_OK) return failed(&error);
    if (pk_phase_from_cif_file(path, NULL, &phase, &error) != PK_OK) return failed(&error);
    const int32_t n = (int32_t)((to - from) / step + 0.5) + 1;
    double *x = malloc(sizeof(double) * (size_t)n);
    double *y = malloc(sizeof(double) * (size_t)n);
    int status = x == NULL || y == NULL;
    for (int32_t i = 0; i < n && status == 0; ++i) x[i] = from + step * i;
    pk_phase_setting setting = {phase, 1.0, NULL, 0, 1.0, {0.0, 0.0, 1.0}};
    if (status == 0 && pk_pattern(&instrument, &setting, 1, NULL, 0, x, n, y, &error) != PK_OK) {
        status = failed(&error);
    }
    for (int32_t i = 0; i < n && status == 0; ++i) printf("%a %a\n", x[i], y[i]);
    free(x);
    free(y);
    pk_phase_free(phase);
    return status;
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "layout") == 0) return layout();
    if (argc == 4 && strcmp(argv[1], "reflexions") == 0) return reflexions(argv[2], atof(argv[3]));
    if (argc == 6 && strcmp(argv[1], "pattern") == 0) {
        return pattern(argv[2], atof(argv[3]), atof(argv[4]), atof(argv[5]));
    }
    fprintf(stderr, "usage: c_reference layout | reflexions CIF D_MIN | pattern CIF FROM TO STEP\n");
    return 2;
}
