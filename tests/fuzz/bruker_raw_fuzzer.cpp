// The Bruker RAW reader on any bytes (NULs included, as the format holds them), for its first range and for
// range 2: a refusal is a failure with a message, never another exception; an accepted pattern passes the checks
// of measured_pattern_check.hpp.
#include <string_view>

#include "boundary/boundary.hpp"
#include "io/measured_pattern.hpp"
#include "measured_pattern_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    for (int32_t range : {0, 2}) {
        try {
            const auto pattern = powderkit::phase::readBrukerRaw(bytes, "fuzz.raw", range);
            check(pattern != nullptr, "no pattern and no failure");
            checkMeasuredPattern(pattern.get());
        } catch (const powderkit::phase::Failure &failure) {
            check(failure.what()[0] != '\0', "a refusal without a message");
        }
    }
    return 0;
}
