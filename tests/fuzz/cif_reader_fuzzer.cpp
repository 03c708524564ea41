// The CIF reader on arbitrary text (the first data block). A phase it makes
// must have a finite cell of positive lengths and volume, at least the
// identity among its operators, and every site readable with its label and
// type; a text it refuses must say why, with no phase made.
//
// Layout: the bytes are the CIF text itself (cut at the first NUL).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "powderkit_phase.h"

namespace {

[[noreturn]] void failWith(const char *what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void checkPhase(const pk_phase *phase) {
    if (pk_phase_name(phase) == nullptr || pk_phase_symbol(phase) == nullptr) {
        failWith("a phase without a name or symbol text");
    }
    double cell[6];
    double volume = 0.0;
    if (pk_phase_cell(phase, cell, &volume) != PK_OK) failWith("the cell of a made phase");
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(cell[i]) || !(cell[i] > 0.0)) failWith("a cell value not finite and positive");
    }
    if (!std::isfinite(volume) || !(volume > 0.0)) failWith("a cell volume not finite and positive");
    if (pk_phase_operator_count(phase) < 1) failWith("a phase without operators");
    const int32_t sites = pk_phase_site_count(phase);
    for (int32_t i = 0; i < sites; ++i) {
        pk_site site{};
        pk_error error{};
        if (pk_phase_site(phase, i, &site, &error) != PK_OK) failWith(error.message);
        if (site.label == nullptr || site.type == nullptr) failWith("a site without label or type");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    pk_phase *phase = nullptr;
    pk_error error{};
    const int32_t status = pk_phase_from_cif_text(text.c_str(), nullptr, &phase, &error);
    if (status != PK_OK) {
        if (phase != nullptr) failWith("a refused text left a phase");
        if (error.code != status || error.message[0] == '\0') failWith("a refusal without a message");
        return 0;
    }
    checkPhase(phase);
    pk_phase_free(phase);
    return 0;
}
