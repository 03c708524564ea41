// Reading the command's inputs: CIF files into phases and the source options
// into an instrument. The command checks that a file can be opened before the
// layer reads it, so that the message for a missing file is the command's own
// ("FILE: cannot open: No such file or directory").
#include "phase_input.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

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
    const std::string warnings = pk_phase_warnings(phase.get());
    if (!warnings.empty()) printWarnings(path + ": " + warnings);
    return phase;
}

// Whether the file is JSON (an object), which holds one instrument; the
// layer reads anything else as a GSAS parameter file of banks.
static bool isJsonObject(const std::string &path) {
    std::ifstream stream(path, std::ios::binary);
    char c = '\0';
    while (stream.get(c) && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
    }
    return stream && c == '{';
}

InstrumentFile readInstrumentFile(const std::string &path, int bank) {
    requireReadableFile(path);
    if (isJsonObject(path)) bank = 0;  // --bank picks the measured file's bank; this file has one
    InstrumentFile file;
    pk_error error{};
    int32_t size = 0;
    check(pk_instrument_file_read_bank(path.c_str(), bank, &file.instrument, &file.profile, nullptr, 0, &size,
                                       &error),
          error);
    std::string warnings(static_cast<std::size_t>(size), '\0');
    check(pk_instrument_file_read_bank(path.c_str(), bank, &file.instrument, &file.profile, warnings.data(), size,
                                       nullptr, &error),
          error);
    printWarnings(warnings.c_str());
    check(pk_instrument_file_difb(path.c_str(), bank, &file.difb, &error), error);
    return file;
}

void printWarnings(const std::string &warnings) {
    static std::set<std::string> printed;  // a file read twice warns once
    std::size_t start = 0;
    while (start < warnings.size()) {
        std::size_t end = warnings.find('\n', start);
        if (end == std::string::npos) end = warnings.size();
        const std::string line = warnings.substr(start, end - start);
        if (!line.empty() && printed.insert(line).second) std::cerr << "powderkit: warning: " << line << "\n";
        start = end + 1;
    }
}

MeasuredPatternHandle readMeasuredPattern(const std::string &path, int bank, const std::string &command) {
    pk_error error{};
    pk_measured_pattern *made = nullptr;
    const int32_t status = pk_measured_pattern_read_file_bank(path.c_str(), bank, &made, &error);
    MeasuredPatternHandle pattern(made);
    check(status, error);
    printWarnings(pk_measured_pattern_warnings(pattern.get()));
    if (!command.empty() && pk_measured_pattern_axis(pattern.get()) == PK_AXIS_TOF) {
        throw InputError(path + ": a time-of-flight pattern; " + command + " reads 2θ patterns only for now");
    }
    return pattern;
}

// What a pattern file that was read on a 2θ axis holds, told from its first
// bytes as the reader tells it: "" for text columns, whose x may be anything.
static std::string twoThetaFormat(const std::string &path) {
    std::ifstream stream(path, std::ios::binary);
    std::string head(65536, '\0');
    stream.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(stream.gcount()));
    if (head.compare(0, 7, "RAW1.01") == 0) return "a Bruker RAW file";
    const std::size_t first = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first != std::string::npos && head[first] == '<') return "an XRDML file";
    for (std::size_t line = head.find('\n'); line != std::string::npos; line = head.find('\n', line + 1)) {
        if (head.compare(line + 1, 5, "BANK ") == 0) return "GSAS data of a constant-wavelength (2θ) bank";
    }
    return "";
}

MeasuredPatternHandle onInstrumentAxis(MeasuredPatternHandle pattern, const std::string &path,
                                       const pk_instrument &instrument, const std::string &instrument_file,
                                       const std::string &how) {
    const bool file_tof = pk_measured_pattern_axis(pattern.get()) == PK_AXIS_TOF;
    if (file_tof && instrument.axis != PK_AXIS_TOF) {
        if (instrument_file.empty()) {
            throw InputError(path + ": a time-of-flight bank: give its calibration with " + how + " "
                                    "(a GSAS .prm or .instprm file, or an instrument file of axis \"tof\")");
        }
        throw InputError(path + ": a time-of-flight bank, but " + instrument_file +
                         " gives a 2θ instrument (wavelength " + formatNumber(instrument.wavelength) +
                         " Å): give the bank's time-of-flight instrument file");
    }
    if (file_tof || instrument.axis != PK_AXIS_TOF) return pattern;
    const std::string format = twoThetaFormat(path);
    if (!format.empty()) {
        throw InputError(path + ": " + format + ", but " + instrument_file +
                         " gives a time-of-flight bank: give the pattern's own 2θ instrument, or its "
                         "time-of-flight data");
    }
    // Text columns beside a time-of-flight instrument: flight times in µs, as
    // such files give them, on the layer's axis in ms.
    const int32_t count = pk_measured_pattern_count(pattern.get());
    const double *x = pk_measured_pattern_x(pattern.get());
    std::vector<double> ms(x, x + count);
    for (double &value : ms) value /= 1000.0;
    pk_error error{};
    pk_measured_pattern *made = nullptr;
    const int32_t status = pk_measured_pattern_make(ms.data(), pk_measured_pattern_y(pattern.get()),
                                                    pk_measured_pattern_sigma(pattern.get()), count, &made, &error);
    MeasuredPatternHandle converted(made);
    check(status, error);
    return converted;
}

void applyAxial(const std::vector<double> &axial, pk_profile &profile) {
    if (axial.empty()) return;
    for (double value : axial) {
        if (!(value >= 0.0 && value <= PK_AXIAL_MAX)) {
            throw InputError("--axial: S/L and H/L must lie between 0 and " + formatNumber(PK_AXIAL_MAX) + ", not " +
                             formatNumber(value));
        }
    }
    profile.axial_sl = axial[0];
    profile.axial_hl = axial[1];
    profile.asymmetry = 0.0;
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
    const bool from_file = !source.instrument_file.empty();
    if (from_file) instrument = readInstrumentFile(source.instrument_file, source.bank).instrument;
    if (from_file && source.anode.empty() && !with_alpha2) {
        instrument.wavelength2 = 0.0;
        instrument.ratio2 = 0.0;
    }
    if (source.has_wavelength) {
        if (!std::isfinite(source.wavelength) || source.wavelength <= 0.0) {
            throw InputError("--wavelength: must be a positive number of Å, not " +
                             formatNumber(source.wavelength));
        }
        instrument.wavelength = source.wavelength;
        instrument.wavelength2 = 0.0;
        instrument.ratio2 = 0.0;
    } else if (!from_file && usesFileLines(source)) {
        const bool doublet = with_alpha2 && source.file_alpha2 > 0.0 && source.file_ratio > 0.0;
        instrument.wavelength = source.file_alpha1;
        instrument.wavelength2 = doublet ? source.file_alpha2 : 0.0;
        instrument.ratio2 = doublet ? source.file_ratio : 0.0;
    } else if (!source.anode.empty()) {
        pk_error error{};
        check(pk_instrument_set_anode(&instrument, source.anode.c_str(), with_alpha2, &error), error);
    } else if (with_alpha2 && !source.neutron && !from_file) {
        pk_instrument_default_source(&instrument);  // nothing named: the library's default source
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
    if (source.no_dispersion) instrument.dispersion = 0;
    if (source.has_absorption) {
        if (!(source.absorption >= 0.0 && source.absorption <= PK_ABSORPTION_MAX)) {
            throw InputError("--absorption: must be 0 (none) or a μR of at most 10, not " +
                             formatNumber(source.absorption));
        }
        instrument.absorption = source.absorption;
    }
    if (!source.roughness.empty()) {
        const double p = source.roughness[0], q = source.roughness[1];
        if (!(p >= 0.0 && p <= 1.0) || !(q >= 0.0) || !std::isfinite(q)) {
            throw InputError("--roughness: P must lie between 0 and 1 and Q be 0 or more, not " + formatNumber(p) +
                             "," + formatNumber(q));
        }
        instrument.roughness_p = p;
        instrument.roughness_q = q;
    }
    if (source.has_transparency) {
        if (!(source.transparency >= 0.0) || !std::isfinite(source.transparency)) {
            throw InputError("--transparency: must be 0 (none) or a positive 1/μ in mm, not " +
                             formatNumber(source.transparency));
        }
        instrument.transparency = source.transparency;
    }
    return instrument;
}

std::string describeSource(const SourceOptions &source, const pk_instrument &instrument) {
    if (instrument.axis == PK_AXIS_TOF) {
        char calibration[96];
        std::snprintf(calibration, sizeof calibration, "time of flight, bank at 2θ %.1f°, difC %.1f µs/Å",
                      instrument.tof_two_theta, instrument.dtt1);
        const std::string file = std::filesystem::path(source.instrument_file).filename().string();
        return file.empty() ? calibration : file + " (" + calibration + ")";
    }
    if (!source.instrument_file.empty() && source.anode.empty() && !source.has_wavelength && !source.neutron) {
        const bool neutron = instrument.radiation == PK_RADIATION_NEUTRON;
        return std::filesystem::path(source.instrument_file).filename().string() + " (" +
               (neutron ? "neutrons " : "X-rays ") + formatNumber(instrument.wavelength) + " Å)";
    }
    if (source.neutron) return "neutrons " + formatNumber(instrument.wavelength) + " Å";
    if (source.has_wavelength) return "X-rays " + formatNumber(instrument.wavelength) + " Å";
    if (usesFileLines(source)) {
        return "the file's Kα1 " + formatNumber(instrument.wavelength) + " Å" +
               (instrument.wavelength2 > 0.0 ? " + Kα2 " + formatNumber(instrument.wavelength2) + " Å" : "");
    }
    const std::string anode = source.anode.empty() ? "Cu" : source.anode;
    return anode + (instrument.wavelength2 > 0.0 ? " Kα1+Kα2" : " Kα1");
}

}  // namespace powderkit::cli
