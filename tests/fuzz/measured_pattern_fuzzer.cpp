// The measured-pattern reader on any text (cut at a NUL), whatever format it takes it for: the checks of
// measured_pattern_check.hpp.
#include "measured_pattern_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    readAndCheckMeasuredPattern(std::string(reinterpret_cast<const char *>(data), size), "fuzz.xy");
    return 0;
}
