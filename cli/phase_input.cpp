// Reading the command's inputs: CIF files into phases and the source options
// into an instrument. The command checks that a file can be opened before the
// layer reads it, so that the message for a missing file is the command's own
// ("FILE: cannot open: No such file or directory").
#include "phase_input.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "table_output.hpp"

namespace powderkit::cli {

void check(int32_t status, const pk_error &error) {
    if (status == PK_OK) return;
    if (error.message[0] != '\0') throw InputError(error.message);
    throw InputError("the phase layer failed with status " + std::to_string(status));
}

// Throws InputError unless `path` names a regular file that can be read.
static void requireReadableFile(const std::string &path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw InputError(path + ": cannot read: it is a directory");
    }
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        const int cause = errno;
        throw InputError(path + ": cannot open: " +
                         (cause != 0 ? std::strerror(cause) : "unreadable"));
    }
}

PhaseHandle readPhase(const std::string &path, const std::string &block) {
    requireReadableFile(path);
    pk_error error{};
    pk_phase *made = nullptr;
    const int32_t status =
        pk_phase_from_cif_file(path.c_str(), block.empty() ? nullptr : block.c_str(), &made, &error);
    PhaseHandle phase(made);
    check(status, error);
    if (!phase) throw InputError(path + ": no phase was read");
    return phase;
}

void takeFileWavelengths(SourceOptions &source, const pk_measured_pattern &pattern) {
    if (!source.anode.empty() || source.has_wavelength || source.neutron) return;
    pk_error error{};
    check(pk_measured_pattern_wavelengths(&pattern, &source.file_alpha1, &source.file_alpha2, &source.file_ratio,
                                          &error),
          error);
}

// True when the lines of the measured file stand for the source.
static bool usesFileLines(const SourceOptions &source) {
    return source.file_alpha1 > 0.0 && source.anode.empty() && !source.has_wavelength && !source.neutron;
}

pk_instrument makeInstrument(const SourceOptions &source, bool with_alpha2) {
    pk_instrument instrument{};
    pk_instrument_default(&instrument);
    if (source.has_wavelength) {
        if (!std::isfinite(source.wavelength) || source.wavelength <= 0.0) {
            throw InputError("--wavelength: must be a positive number of Å, not " +
                             formatNumber(source.wavelength));
        }
        instrument.wavelength = source.wavelength;
        instrument.wavelength2 = 0.0;
        instrument.ratio2 = 0.0;
    } else if (usesFileLines(source)) {
        const bool doublet = with_alpha2 && source.file_alpha2 > 0.0 && source.file_ratio > 0.0;
        instrument.wavelength = source.file_alpha1;
        instrument.wavelength2 = doublet ? source.file_alpha2 : 0.0;
        instrument.ratio2 = doublet ? source.file_ratio : 0.0;
    } else if (!source.anode.empty() || (with_alpha2 && !source.neutron)) {
        pk_error error{};
        const std::string anode = source.anode.empty() ? "Cu" : source.anode;
        check(pk_instrument_set_anode(&instrument, anode.c_str(), with_alpha2, &error), error);
    }
    if (source.neutron) {
        // A neutron beam has one wavelength: no second line.
        instrument.radiation = PK_RADIATION_NEUTRON;
        instrument.wavelength2 = 0.0;
        instrument.ratio2 = 0.0;
    }
    if (source.has_monochromator) {
        if (!(source.monochromator >= 0.0 && source.monochromator < 180.0)) {
            throw InputError("--monochromator: must be 0 (none) or a 2θ below 180 degrees, not " +
                             formatNumber(source.monochromator));
        }
        instrument.monochromator = source.monochromator;
    }
    return instrument;
}

std::string describeSource(const SourceOptions &source, const pk_instrument &instrument) {
    if (source.neutron) return "neutrons " + formatNumber(instrument.wavelength) + " A";
    if (source.has_wavelength) return "X-rays " + formatNumber(instrument.wavelength) + " A";
    if (usesFileLines(source)) {
        return "the file's Ka1 " + formatNumber(instrument.wavelength) + " A" +
               (instrument.wavelength2 > 0.0 ? " + Ka2 " + formatNumber(instrument.wavelength2) + " A" : "");
    }
    const std::string anode = source.anode.empty() ? "Cu" : source.anode;
    return anode + (instrument.wavelength2 > 0.0 ? " Ka1+Ka2" : " Ka1");
}

}  // namespace powderkit::cli
