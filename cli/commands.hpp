// What the subcommands of the `powderkit` command are given and how they run.
// main.cpp fills these options from the command line; each run function does
// its work, returns the text for standard output (printed only on success)
// and throws InputError when the input is bad.
#ifndef POWDERKIT_CLI_COMMANDS_HPP
#define POWDERKIT_CLI_COMMANDS_HPP

#include <stdexcept>
#include <cmath>
#include <string>
#include <vector>

namespace powderkit::cli {

// Bad input: a file, a field or an option value. The message names the file
// and line, or the field; the command exits with status 1.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The source, shared by every subcommand. An empty anode means "not given".
struct SourceOptions {
    std::string anode;
    bool has_wavelength = false;
    double wavelength = 0.0;
    bool neutron = false;
    bool has_monochromator = false;
    double monochromator = 0.0;  // 2θ_M, degrees; 0 for none
    bool no_dispersion = false;  // X-ray f0 alone, without f′ + i f″
    bool has_absorption = false;
    double absorption = 0.0;        // μR of a capillary; 0 for none
    std::vector<double> roughness;  // Suortti's p and q, or empty when not given
    bool has_transparency = false;
    double transparency = 0.0;  // 1/μ, mm; 0 for none
    std::string instrument_file;  // an instrument file to start from; empty: none
    int bank = 0;                 // the bank of the measured and instrument files; 0: the first
    // The X-ray lines the measured file names (Å, and the Kα2/Kα1 ratio), used
    // when neither an anode nor a wavelength is given; 0 when it names none.
    double file_alpha1 = 0.0, file_alpha2 = 0.0, file_ratio = 0.0;
};

struct ReflexionsOptions {
    std::string file;
    std::string block;      // empty: the first data block
    SourceOptions source;
    bool has_d_min = false;
    double d_min = 0.0;
    bool has_two_theta_max = false;
    double two_theta_max = 0.0;
    bool lines = false;
};

struct PatternOptions {
    std::vector<std::string> files;
    std::vector<double> scales;          // empty, or one per file
    SourceOptions source;
    bool no_alpha2 = false;
    std::vector<double> range{10.0, 150.0, 0.02};  // from, to, step (degrees 2θ)
    std::string profile;                 // empty: the instrument file's, else "pv"
    std::vector<double> uvw;             // empty, or U V W
    std::vector<double> axial;           // empty, or S/L and H/L of the axial divergence
    std::string output_dir;              // empty: the pattern goes to stdout
};

struct PeaksOptions {
    std::string file;                    // the measured pattern
    bool has_significance = false;
    double significance = 0.0;           // fitted height over its esd
    SourceOptions source;                // for d and the Kα2 line; neutron unused
    bool no_alpha2 = false;              // Kα1 alone: no Kα2 copy fitted with each peak
};

// One measured pattern of a joint refinement: --pattern FILE[,instrument=F][,bank=N][,name=NAME][,weight=W].
struct PatternInput {
    std::string file;
    std::string instrument_file;         // empty: none
    int bank = 0;                        // of the measured and instrument files; 0: the first
    std::string name;                    // empty: from the file's name
    double weight = 1.0;                 // multiplies its points' weights
};

// FROM TO of --range or --exclude, in the pattern's units (degrees 2θ, or µs
// of flight time), of the pattern named (empty: the only one).
struct XSpan {
    std::string pattern;
    double from = 0.0, to = 0.0;
};

struct RefineOptions {
    std::string measured;                // the measured pattern (empty with --pattern)
    std::vector<PatternInput> patterns;  // the patterns of a joint refinement; empty: `measured` alone
    std::vector<std::string> phases;     // CIF files, one phase each
    SourceOptions source;
    bool no_alpha2 = false;
    std::vector<XSpan> ranges;           // at most one per pattern
    std::vector<XSpan> excluded;
    // --pattern, --range and --exclude as written, read into the three above by runRefine.
    std::vector<std::string> pattern_args, range_args, exclude_args;
    bool has_background = false;
    int background = 6;                  // Chebyshev coefficients
    std::string free;                    // empty: the mode's default list
    std::vector<double> axial;           // empty, or S/L and H/L of the axial divergence
    std::vector<std::string> ties;       // "A=B"
    bool le_bail = false;
    bool has_cycles = false;
    int cycles = 60;
    std::string setup;                   // a setup.json to start from
    std::string output_dir;              // empty: no files
    std::string save_instrument;         // write the refined instrument file here; empty: none
    // How the run starts; −1 or NaN: not given (the library's default).
    int stages = -1;                     // 1: release the free parameters in stages, 0: all at once
    int start_from_data = -1;            // 1: start widths, zero and cells from the measured peaks
    double cell_window = NAN;            // fraction the cells may move so
    double zero_window = NAN;            // degrees the zero may move so
    int threads = 1;                     // threads each cycle's derivatives are shared among
};

struct IndexOptions {
    std::string measured;                // the measured pattern; may be empty when a peak list is given
    std::string peaks;                   // a file of 2θ positions; empty: the pattern's peaks
    SourceOptions source;
    bool no_alpha2 = false;
    std::string systems;                 // comma-separated names; empty: the library's choice
    std::vector<double> volume;          // empty, or MIN MAX of the conventional cell, Å³
    // The search's settings; defaultIndexOptions() fills them with the library's defaults.
    int unindexed = 0;                   // of the searched lines
    double max_error = 0.0;              // degrees 2θ
    double zero = 0.0;                   // ± degrees 2θ
    double d_max = 0.0;                  // Å
    int lines = 0;                       // searched
    int candidates = 0;                  // kept
    int le_bail = 0;                     // best candidates fitted to the pattern
    std::string output_dir;              // empty: no files
};

IndexOptions defaultIndexOptions();

std::string runReflexions(const ReflexionsOptions &options);
std::string runPattern(const PatternOptions &options);
std::string runPeaks(const PeaksOptions &options);
std::string runRefine(const RefineOptions &options);
std::string runIndex(const IndexOptions &options);

}  // namespace powderkit::cli

#endif
