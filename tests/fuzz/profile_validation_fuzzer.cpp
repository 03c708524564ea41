// ProfileParametersAreValid on any profile: the error buffer a NUL-terminated text, empty when valid.
// Layout: the profile (fuzz_input.hpp), then one byte, once the allocation to fail, now unused.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    pk_fuzz::fillProfile(in, profile);
    const bool valid = ProfileParametersAreValid(profile);
    const char *buffer = GetErrorBuffer();
    check(std::memchr(buffer, '\0', PK_ERROR_BUFFER_SIZE) != nullptr && (!valid || buffer[0] == '\0'), "the buffer");
    freeRefinementProfile(profile);
    return 0;
}
