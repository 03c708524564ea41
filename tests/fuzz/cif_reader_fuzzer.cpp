// The CIF reader on any text (cut at a NUL): a phase has readable sites; a refusal says why and leaves
// no phase.
#include "fuzz_input.hpp"
#include "powderkit_phase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    pk_phase *phase = nullptr;
    pk_error error{};
    const int32_t status = pk_phase_from_cif_text(text.c_str(), nullptr, &phase, &error);
    check(status == PK_OK || (phase == nullptr && error.code == status && error.message[0] != '\0'), "a refusal");
    if (status != PK_OK) return 0;
    pk_site site{};
    for (int32_t i = 0; i < pk_phase_site_count(phase); ++i) {
        check(pk_phase_site(phase, i, &site, &error) == PK_OK && site.label && site.type, "a site not readable");
    }
    pk_phase_free(phase);
    return 0;
}
