// Reading the command's inputs through the phase layer: CIF files into
// phases (the file checked by the command first, so that a missing file is
// named plainly), the instrument from the source options, and owning
// handles that free the layer's objects.
#ifndef POWDERKIT_CLI_PHASE_INPUT_HPP
#define POWDERKIT_CLI_PHASE_INPUT_HPP

#include <memory>
#include <string>
#include <vector>

#include "commands.hpp"
#include "powderkit_phase.h"

namespace powderkit::cli {

struct PhaseFree {
    void operator()(pk_phase *phase) const { pk_phase_free(phase); }
};
struct ReflexionListFree {
    void operator()(pk_reflexion_list *list) const { pk_reflexion_list_free(list); }
};
struct PatternModelFree {
    void operator()(pk_pattern_model *model) const { pk_pattern_model_free(model); }
};
using PhaseHandle = std::unique_ptr<pk_phase, PhaseFree>;
using ReflexionListHandle = std::unique_ptr<pk_reflexion_list, ReflexionListFree>;
using PatternModelHandle = std::unique_ptr<pk_pattern_model, PatternModelFree>;

// Throws InputError with the layer's message when `status` is not PK_OK.
void check(int32_t status, const pk_error &error);

// The phase of the CIF file `path` (data block `block`, or the first when
// empty). A missing or unreadable file is bad input, named with its path.
PhaseHandle readPhase(const std::string &path, const std::string &block);

// The instrument and profile of an instrument file; bad input names the file and key.
struct InstrumentFile {
    pk_instrument instrument{};
    pk_profile profile{};
    double difb = 0.0;  // a TOF bank's difB, µs·Å, which the record does not hold
};
InstrumentFile readInstrumentFile(const std::string &path, int bank = 0);

struct MeasuredPatternFree {
    void operator()(pk_measured_pattern *pattern) const { pk_measured_pattern_free(pattern); }
};
using MeasuredPatternHandle = std::unique_ptr<pk_measured_pattern, MeasuredPatternFree>;

// The measured pattern in `path` (bank `bank`, 0: the first), its reader's
// warnings printed to standard error. `command` refuses a time-of-flight
// pattern, which it does not handle yet; "" takes it (refine).
MeasuredPatternHandle readMeasuredPattern(const std::string &path, int bank, const std::string &command);

// `pattern` (read from `path`) on the axis of `instrument` (from
// `instrument_file`, "" when none): a time-of-flight bank needs a
// time-of-flight instrument, which takes no 2θ file (XRDML, Bruker RAW, a GSAS
// 2θ bank); text columns beside it hold flight times in µs, returned in ms.
// `how` tells how such an instrument is given ("--instrument FILE").
MeasuredPatternHandle onInstrumentAxis(MeasuredPatternHandle pattern, const std::string &path,
                                       const pk_instrument &instrument, const std::string &instrument_file,
                                       const std::string &how = "--instrument FILE");

// Prints each line of `warnings` to standard error as "powderkit: warning: LINE", once per run.
void printWarnings(const std::string &warnings);

// --axial S/L,H/L into `profile` (nothing when `axial` is empty): the axial
// divergence in place of the asymmetry P, which it sets to 0.
void applyAxial(const std::vector<double> &axial, pk_profile &profile);

// Keeps the X-ray lines the measured pattern's file names in `source`, unless
// an anode, a wavelength or neutrons were asked for.
void takeFileWavelengths(SourceOptions &source, const pk_measured_pattern &pattern);

// The instrument of the source options: the default (Cu Kα1 alone), an
// anode's Kα1 (and Kα2 when `with_alpha2`), one given wavelength, or the
// lines the measured file named (Kα2 too when `with_alpha2`); neutrons when
// asked for. With an instrument file, the file's instrument with the options
// given overriding its values (without `with_alpha2` its Kα2 line is dropped).
pk_instrument makeInstrument(const SourceOptions &source, bool with_alpha2);

// A short description of the source for comment lines: "Cu Ka1+Ka2",
// "X-rays 1.2 A", "neutrons 1.54 A", "Bank_2.instprm (time of flight, bank at
// 2θ 90.0°, difC 22586.9 µs/Å)".
std::string describeSource(const SourceOptions &source, const pk_instrument &instrument);

}  // namespace powderkit::cli

#endif
