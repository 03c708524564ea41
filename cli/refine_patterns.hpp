// The measured patterns of `powderkit refine`: the --pattern values of a
// joint refinement and the names of its patterns, the FROM TO spans of
// --range and --exclude with the pattern each belongs to, and each pattern
// read onto the axis of its instrument, as one measured pattern is.
#ifndef POWDERKIT_CLI_REFINE_PATTERNS_HPP
#define POWDERKIT_CLI_REFINE_PATTERNS_HPP

#include <string>
#include <vector>

#include "commands.hpp"
#include "phase_input.hpp"

namespace powderkit::cli {

// The x the user reads and gives (--range, --exclude, the plots and the fit
// files): degrees 2θ, or on time of flight µs, as its files give them, where
// the layer's axis is in ms.
struct UserAxis {
    bool tof = false;
    double per_axis_unit = 1.0;  // user units per unit of the layer's axis
    std::string label = "2θ (°)";
};

UserAxis userAxis(const pk_instrument &instrument);

// Reads options.pattern_args, range_args and exclude_args (as written on the
// command line) into options.patterns, ranges and excluded. InputError
// naming the option and the value for a malformed one.
void readPatternArguments(RefineOptions &options);

// Refuses a span that is not two finite numbers, the end above the start.
void checkSpan(const std::string &option, const XSpan &span);

// One measured pattern of the run, read.
struct PatternRun {
    PatternInput input;             // its final name ("" for a refinement without --pattern)
    SourceOptions source;           // the source options that apply to it
    pk_instrument instrument{};
    MeasuredPatternHandle measured; // on the instrument's axis
    UserAxis axis;
    std::vector<double> range;      // empty, or FROM TO in the axis' units
    std::vector<double> excluded;   // FROM TO pairs
};

// The patterns of the run: options.measured alone (with --instrument and
// --bank), or each of options.patterns with its own instrument file and bank,
// named (the file's name made safe unless given: letters, digits and '_',
// unique, no phase's name, else "pattern1", "pattern2" …). The source
// options apply to each pattern whose files do not name its source (an
// instrument file, the lines an XRDML file names). Each span of
// options.ranges and options.excluded goes to the pattern it names.
std::vector<PatternRun> readPatterns(const RefineOptions &options, const std::vector<std::string> &phase_names);

}  // namespace powderkit::cli

#endif
