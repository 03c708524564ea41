// The measured-pattern reader on any text (cut at a NUL): two or more points, x increasing, y finite
// and ≥ 0, σ finite and > 0; a refusal says why and leaves no handle.
#include "fuzz_input.hpp"
#include "powderkit_phase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    pk_measured_pattern *pattern = nullptr;
    pk_error error{};
    const int32_t status = pk_measured_pattern_read_text(text.c_str(), "fuzz.xy", &pattern, &error);
    check(status == PK_OK || (pattern == nullptr && error.code == status && error.message[0] != '\0'), "a refusal");
    if (status != PK_OK) return 0;
    const int32_t count = pk_measured_pattern_count(pattern);
    const double *x = pk_measured_pattern_x(pattern), *y = pk_measured_pattern_y(pattern);
    const double *sigma = pk_measured_pattern_sigma(pattern);
    check(count >= 2, "fewer than 2 points accepted");
    for (int32_t i = 0; i < count; ++i) {
        check(std::isfinite(x[i]) && std::isfinite(y[i]) && std::isfinite(sigma[i]), "a point not finite");
        check(y[i] >= 0.0 && sigma[i] > 0.0 && (i == 0 || x[i] > x[i - 1]), "y < 0, σ ≤ 0 or x not increasing");
    }
    pk_measured_pattern_free(pattern);
    return 0;
}
