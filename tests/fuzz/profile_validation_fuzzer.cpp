// ProfileParametersAreValid on arbitrary profile records: any widths, ranges,
// time-of-flight parameters and type codes, NaN and infinities included. The
// check must return, leave the profile as it was, keep the error buffer a
// NUL-terminated text of at most 99 characters, and leave it empty exactly
// when it says the profile is valid.
//
// Layout: the profile as fuzz_records.hpp reads it, then one byte that
// selects an allocation to fail (0: none; n: allocation n of the call).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_records.hpp"
#include "support/allocation_failure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    if (profile == nullptr) std::abort();
    pk_fuzz::fillProfile(in, profile);
    const long failAt = in.byte() % 4;
    const RefinementProfile before = *profile;

    if (failAt > 0) pk_test::failAllocationNumber(failAt);
    const bool valid = ProfileParametersAreValid(profile);
    pk_test::disarmAllocationFailure();

    if (std::memcmp(&before, profile, sizeof before) != 0) {
        std::fprintf(stderr, "the check changed the profile\n");
        std::abort();
    }
    const char *buffer = GetErrorBuffer();
    if (std::memchr(buffer, '\0', PK_ERROR_BUFFER_SIZE) == nullptr) {
        std::fprintf(stderr, "the error buffer is not NUL-terminated\n");
        std::abort();
    }
    if (valid && buffer[0] != '\0') {
        std::fprintf(stderr, "a valid profile left a reason: %s\n", buffer);
        std::abort();
    }
    freeRefinementProfile(profile);
    return 0;
}
