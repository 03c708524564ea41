// The instrument-file reader (JSON, and the GSAS family's INS records and key:value lines, told apart by content)
// on any text (cut at a NUL), for the first bank and bank 2: a refusal leaves the instrument and profile as they
// were and says why; an accepted file gives finite values, a positive wavelength or calibration, and warnings
// that fit their size.
#include <cstring>
#include <string>

#include "fuzz_input.hpp"
#include "powderkit_phase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (int32_t bank : {0, 2}) {
        pk_instrument instrument;
        pk_instrument_default(&instrument);
        pk_profile profile;
        pk_profile_default(&profile, PK_PROFILE_PSEUDO_VOIGT, nullptr);
        const pk_instrument instrumentBefore = instrument;
        const pk_profile profileBefore = profile;
        char warnings[64];
        int32_t needed = -1;
        pk_error error{};
        const int32_t status = pk_instrument_file_read_text_bank(text.c_str(), "fuzz.prm", bank, &instrument, &profile,
                                                                 warnings, sizeof warnings, &needed, &error);
        if (status != PK_OK) {
            check(error.code == status && error.message[0] != '\0', "a refusal without a message");
            check(std::memcmp(&instrument, &instrumentBefore, sizeof instrument) == 0 &&
                      std::memcmp(&profile, &profileBefore, sizeof profile) == 0,
                  "a refusal changed the records");
            continue;
        }
        check(needed >= 1 && std::strlen(warnings) < sizeof warnings, "warnings not cut to fit");
        const double values[] = {instrument.wavelength, instrument.zero, profile.U, profile.V, profile.W, profile.X,
                                 profile.Y, profile.asymmetry, profile.axial_sl, profile.axial_hl};
        for (double v : values) check(std::isfinite(v), "a value not finite");
        check(instrument.axis == PK_AXIS_TOF || instrument.wavelength > 0.0, "no wavelength");
    }
    return 0;
}
