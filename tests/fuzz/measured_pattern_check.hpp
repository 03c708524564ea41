// What every measured-pattern reader must give for any text: two or more points, x increasing, y finite and
// ≥ 0, σ finite and > 0, the file's wavelengths finite and ≥ 0; a refusal says why and leaves no handle.
#ifndef PK_FUZZ_MEASURED_PATTERN_CHECK_HPP
#define PK_FUZZ_MEASURED_PATTERN_CHECK_HPP

#include <string>

#include "fuzz_input.hpp"
#include "powderkit_phase.h"

// The points and wavelengths of a pattern a reader accepted.
inline void checkMeasuredPattern(const pk_measured_pattern *pattern) {
    pk_error error{};
    const int32_t count = pk_measured_pattern_count(pattern);
    const double *x = pk_measured_pattern_x(pattern), *y = pk_measured_pattern_y(pattern);
    const double *sigma = pk_measured_pattern_sigma(pattern);
    check(count >= 2, "fewer than 2 points accepted");
    for (int32_t i = 0; i < count; ++i) {
        check(std::isfinite(x[i]) && std::isfinite(y[i]) && std::isfinite(sigma[i]), "a point not finite");
        check(y[i] >= 0.0 && sigma[i] > 0.0 && (i == 0 || x[i] > x[i - 1]), "y < 0, σ ≤ 0 or x not increasing");
    }
    double lines[3] = {-1, -1, -1};
    check(pk_measured_pattern_wavelengths(pattern, &lines[0], &lines[1], &lines[2], &error) == PK_OK, "wavelengths");
    for (double line : lines) check(std::isfinite(line) && line >= 0.0, "a wavelength not finite or negative");
}

inline void readAndCheckMeasuredPattern(const std::string &text, const char *name) {
    pk_measured_pattern *pattern = nullptr;
    pk_error error{};
    const int32_t status = pk_measured_pattern_read_text(text.c_str(), name, &pattern, &error);
    check(status == PK_OK || (pattern == nullptr && error.code == status && error.message[0] != '\0'), "a refusal");
    if (status != PK_OK) return;
    checkMeasuredPattern(pattern);
    pk_measured_pattern_free(pattern);
}

#endif
