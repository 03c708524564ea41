// What `powderkit refine` keeps of a run and writes of it: the setup a run is
// made from (the options, merged with a setup.json of an earlier run), the
// results taken from the refinement, and the texts of refinement.json, the
// fit files and setup.json.
#ifndef POWDERKIT_CLI_REFINE_OUTPUT_HPP
#define POWDERKIT_CLI_REFINE_OUTPUT_HPP

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.hpp"
#include "powderkit_phase.h"

namespace powderkit::cli {

// A parameter's value and limits (±∞ when none, NaN to keep its own) to start from.
struct SetupParameter {
    std::string name;
    double value = 0.0;
    double lower = NAN;
    double upper = NAN;
};

// Everything a refinement is made from.
struct RefineSetup {
    RefineOptions options;                  // the setup field unused
    std::vector<std::string> names;         // empty, or one phase name per file
    std::vector<SetupParameter> parameters; // set after the refinement is made
};

struct ParameterResult {
    std::string name;
    double value = 0.0;
    double esd = 0.0;
    int32_t state = PK_PARAMETER_FIXED;
    double lower = 0.0;
    double upper = 0.0;
};

struct PhaseResult {
    std::string name;
    std::array<double, 6> cell{};
    std::array<double, 6> cell_esd{};
    double r_bragg = 0.0;
    double weight_fraction = 0.0;
    double size_nm = NAN, size_esd = NAN;                // crystallite size, nm
    double strain_percent = NAN, strain_esd = NAN;       // microstrain, percent
};

// One measured pattern as fitted, in its own units: degrees 2θ, or µs of flight time.
struct HistogramResult {
    std::string name;                    // "" for a refinement of one pattern without --pattern
    std::string file;
    std::string source;                  // what it was measured with, in words
    pk_refinement_summary summary{};     // its own figures
    pk_instrument instrument{};          // as refined
    bool tof = false;
    std::vector<double> range;           // empty, or FROM TO as given
    std::vector<double> excluded;        // FROM TO pairs left out
    std::vector<double> x, observed, calculated, background, difference;
    std::vector<std::vector<double>> phase_curves;  // each phase's share, when there are several
    std::vector<std::vector<double>> positions;     // each phase's Kα1 peak positions inside the range
    std::vector<PhaseResult> phases;                // each phase as this pattern sees it (cell, R-Bragg, size)
};

// A finished run: its summary, parameters, phases and each pattern's fit.
struct RefineResult {
    pk_refinement_summary summary{};     // of the whole refinement
    std::string stop_reason;
    std::vector<std::string> notes;      // what the run did on its own
    std::vector<std::string> verdict;    // the reasons to doubt the fit; none: nothing found
    std::vector<ParameterResult> parameters;
    std::vector<PhaseResult> phases;
    std::vector<HistogramResult> histograms;  // one per measured pattern
};

// The setup of the command line: the options alone, or a setup.json read and
// overridden by the options given beside it. With --pattern, or from the
// setup.json of several patterns, every file named alone is a phase.
// InputError for a malformed file.
RefineSetup resolveSetup(const RefineOptions &given);

std::string refinementJson(const RefineResult &result);

// Columns x observed calculated difference background of one pattern after a
// comment line; the first is headed "x" (degrees 2θ), or "tof_us" (µs).
std::string fitXy(const HistogramResult &histogram, const std::string &title);

// The file fitXy's text of a pattern goes to: fit.xy, or fit_<name>.xy for
// each pattern of a joint refinement.
std::string fitFileName(const HistogramResult &histogram);

// The setup that runs the same refinement again, starting from the final
// values of `result`; file paths made absolute.
std::string setupJson(const RefineSetup &setup, const RefineResult &result);

}  // namespace powderkit::cli

#endif
