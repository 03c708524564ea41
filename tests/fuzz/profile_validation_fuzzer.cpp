// ProfileParametersAreValid on any profile, allocation b % 4 failing: the profile unchanged, the error
// buffer a NUL-terminated text, empty when valid. Layout: the profile (fuzz_input.hpp), the byte b.
#include "fuzz_input.hpp"
#include "support/allocation_failure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    pk_fuzz::fillProfile(in, profile);
    const long failAt = in.byte() % 4;
    const RefinementProfile before = *profile;
    if (failAt > 0) pk_test::failAllocationNumber(failAt);
    const bool valid = ProfileParametersAreValid(profile);
    pk_test::disarmAllocationFailure();
    pk_fuzz::check(std::memcmp(&before, profile, sizeof before) == 0, "the check changed the profile");
    const char *buffer = GetErrorBuffer();
    pk_fuzz::check(std::memchr(buffer, '\0', PK_ERROR_BUFFER_SIZE) != nullptr, "an error buffer without NUL");
    pk_fuzz::check(!valid || buffer[0] == '\0', "a valid profile left a reason");
    freeRefinementProfile(profile);
    return 0;
}
