// What `powderkit refine` keeps of a run and writes of it: the setup a run is
// made from (the options, merged with a setup.json of an earlier run), the
// results taken from the refinement, and the texts of refinement.json,
// fit.xy and setup.json.
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
    std::vector<double> positions;          // Kα1 peak positions inside the range (2θ, or TOF in µs)
};

// A finished run: its summary, parameters, phases and curves.
struct RefineResult {
    pk_refinement_summary summary{};
    pk_instrument instrument{};          // as refined
    std::string stop_reason;
    std::vector<std::string> notes;      // what the run did on its own
    std::vector<std::string> verdict;    // the reasons to doubt the fit; none: nothing found
    std::vector<ParameterResult> parameters;
    std::vector<PhaseResult> phases;
    std::vector<double> x, observed, calculated, background, difference;  // x: 2θ, or TOF in µs
};

// The setup of the command line: the options alone, or a setup.json read and
// overridden by the options given beside it. InputError for a malformed file.
RefineSetup resolveSetup(const RefineOptions &given);

std::string refinementJson(const RefineResult &result);

// Columns x observed calculated difference background after a comment line;
// `x_name` heads the first ("x", or "tof_us" for flight times in µs).
std::string fitXy(const RefineResult &result, const std::string &title, const std::string &x_name);

// The setup that runs the same refinement again, starting from the final
// values of `result`; file paths made absolute.
std::string setupJson(const RefineSetup &setup, const RefineResult &result);

}  // namespace powderkit::cli

#endif
