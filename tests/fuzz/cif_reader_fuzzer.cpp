// The CIF reader on any text (cut at a NUL): a phase has a finite positive cell, an operator
// and readable sites; a refusal says why and leaves no phase.
#include <cmath>
#include <string>

#include "fuzz_input.hpp"
#include "powderkit_phase.h"

using pk_fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    pk_phase *phase = nullptr;
    pk_error error{};
    const int32_t status = pk_phase_from_cif_text(text.c_str(), nullptr, &phase, &error);
    check(status == PK_OK || (phase == nullptr && error.code == status && error.message[0] != '\0'), "a refusal");
    double cell[7] = {1, 1, 1, 1, 1, 1, 1};
    check(status != PK_OK || pk_phase_cell(phase, cell, &cell[6]) == PK_OK, "a phase without its cell");
    for (double value : cell) check(std::isfinite(value) && value > 0.0, "a cell value not finite and positive");
    check(status != PK_OK || pk_phase_operator_count(phase) >= 1, "a phase without operators");
    for (int32_t i = 0; status == PK_OK && i < pk_phase_site_count(phase); ++i) {
        pk_site site{};
        check(pk_phase_site(phase, i, &site, &error) == PK_OK, "a site not readable");
        check(site.label != nullptr && site.type != nullptr, "a site without label or type");
    }
    pk_phase_free(phase);
    return 0;
}
