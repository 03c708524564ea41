// The measured-pattern reader on arbitrary text. A text it accepts must give
// at least two points, x strictly increasing, y finite and not negative, and
// σ finite and positive; a text it refuses must say why, with no handle made.
//
// Layout: the bytes are the text itself (cut at the first NUL, as a C string).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "powderkit_phase.h"

namespace {

[[noreturn]] void failWith(const char *what, int32_t index) {
    std::fprintf(stderr, "%s (point %d)\n", what, index);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    pk_measured_pattern *pattern = nullptr;
    pk_error error{};
    const int32_t status = pk_measured_pattern_read_text(text.c_str(), "fuzz.xy", &pattern, &error);
    if (status != PK_OK) {
        if (pattern != nullptr) failWith("a refused text left a handle", -1);
        if (error.code != status || error.message[0] == '\0') failWith("a refusal without a message", -1);
        return 0;
    }
    const int32_t count = pk_measured_pattern_count(pattern);
    const double *x = pk_measured_pattern_x(pattern);
    const double *y = pk_measured_pattern_y(pattern);
    const double *sigma = pk_measured_pattern_sigma(pattern);
    if (count < 2) failWith("fewer than 2 points accepted", count);
    for (int32_t i = 0; i < count; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || y[i] < 0.0) failWith("bad x or y", i);
        if (!std::isfinite(sigma[i]) || !(sigma[i] > 0.0)) failWith("bad sigma", i);
        if (i > 0 && !(x[i] > x[i - 1])) failWith("x does not increase", i);
    }
    pk_measured_pattern_free(pattern);
    return 0;
}
