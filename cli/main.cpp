// The `powderkit` command: reads the command line with CLI11, runs one
// subcommand and maps the outcome to the exit status: 0 on success (help and
// version included), 1 on bad input (the message on stderr, nothing on
// stdout: a subcommand's output is held until it has succeeded), 2 on a
// usage error (an unknown option, a missing argument, options that exclude
// each other).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "commands.hpp"
#include "progress_lines.hpp"
#include "table_output.hpp"

#include "powderkit_phase.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kBadInput = 1;
constexpr int kUsageError = 2;

using namespace powderkit::cli;

// A number option that records that it was given (zero is a value a user
// may give, and must then be refused by the check of that value).
template <typename Number>
CLI::Option *addNumber(CLI::App &command, const std::string &name, Number &value, bool &given,
                       const std::string &description) {
    return command.add_option_function<Number>(
        name,
        [&value, &given](const Number &number) {
            value = number;
            given = true;
        },
        description);
}

// What a command does with the source. A peak list needs only the lines that
// turn its positions into d; reflexion lists, patterns and refinements also
// need what changes intensities and positions (the monochromator, dispersion,
// and the sample's absorption, roughness and transparency).
enum class SourceUse { Lines, LinesAndCorrections };

// The two options others exclude: --anode and --wavelength.
struct SourceChoice {
    CLI::Option *anode;
    CLI::Option *wavelength;
};

// The options naming the source, one definition for every command; `use`
// says whether the command offers the intensity and sample corrections.
SourceChoice addSourceOptions(CLI::App &command, SourceOptions &source, SourceUse use) {
    CLI::Option *anode = command.add_option("--anode", source.anode, "X-ray tube anode: Cu, Co, Mo, Fe, Cr or Ag");
    CLI::Option *wavelength = addNumber(command, "--wavelength", source.wavelength, source.has_wavelength,
                                        "a single wavelength, Å");
    anode->excludes(wavelength);
    auto *neutron = command.add_flag("--neutron", source.neutron,
                                     "neutrons (at the wavelength given, or 1.540593 Å)");
    neutron->excludes(anode);
    if (use == SourceUse::LinesAndCorrections) {
        addNumber(command, "--monochromator", source.monochromator, source.has_monochromator,
                  "2θ of a monochromator crystal, degrees (graphite 002 for Cu Kα: 26.6; Ge 111: 27.3)");
        command.add_flag("--no-dispersion", source.no_dispersion,
                         "X-ray scattering factors without anomalous dispersion (f′ + i f″ of each element at each "
                         "line, on by default; tabulated for 0.41-4.13 Å)");
        addNumber(command, "--absorption", source.absorption, source.has_absorption,
                  "μR of a Debye–Scherrer capillary (μ its absorption coefficient, R its radius), 0 … 10");
        command
            .add_option("--roughness", source.roughness,
                        "P,Q: Bragg–Brentano surface roughness, intensity × 1 − P e^−Q + P e^(−Q/sin θ)")
            ->expected(2)
            ->delimiter(',');
        addNumber(command, "--transparency", source.transparency, source.has_transparency,
                  "1/μ of a Bragg–Brentano sample, mm: 2θ moves by −(1/μ) sin 2θ / 2R");
    }
    command.add_option("--instrument", source.instrument_file,
                       "start from an instrument file (refine --save-instrument writes one); the options "
                       "given beside it override its values");
    return {anode, wavelength};
}

// --bank, for the measured file and the instrument file.
void addBank(CLI::App &command, SourceOptions &source) {
    command.add_option("--bank", source.bank,
                       "the bank of a GSAS file or range of a Bruker RAW file, by its number (default: the first); "
                       "the instrument file's bank too")
        ->check(CLI::NonNegativeNumber);
}

// --no-alpha2, which a single --wavelength excludes.
void addNoAlpha2(CLI::App &command, bool &no_alpha2, const SourceChoice &source) {
    command.add_flag("--no-alpha2", no_alpha2, "the anode's Kα1 line alone")->excludes(source.wavelength);
}

// --axial S/L,H/L, the profile's axial divergence.
void addAxial(CLI::App &command, std::vector<double> &axial) {
    command
        .add_option("--axial", axial,
                    "SL,HL: axial divergence, sample and detector half-heights over the radius (each 0 … 0.1), "
                    "in place of the asymmetry P")
        ->expected(2)
        ->delimiter(',');
}

void addReflexions(CLI::App &app, ReflexionsOptions &options) {
    CLI::App *command =
        app.add_subcommand("reflexions", "List the reflexions of a phase, largest d first");
    command->add_option("file", options.file, "CIF file")->required();
    command->add_option("--block", options.block, "data block (default: the first)");
    addSourceOptions(*command, options.source, SourceUse::LinesAndCorrections);
    auto *d_min = addNumber(*command, "--d-min", options.d_min, options.has_d_min,
                            "smallest d-spacing, Å (default: d at 2θ = 150°)");
    auto *two_theta_max = addNumber(*command, "--two-theta-max", options.two_theta_max,
                                    options.has_two_theta_max, "largest 2θ, degrees");
    d_min->excludes(two_theta_max);
    command->add_flag("--lines", options.lines,
                      "one row per observed line, with its reflexions");
    command->footer("Example:\n  powderkit reflexions NaCl.cif --anode Co --d-min 1.0 --lines\n"
                    "Default: Cu Kα1 alone (1.540593 Å), X-rays, down to the d at 2θ = 150°.");
}

void addPattern(CLI::App &app, PatternOptions &options) {
    CLI::App *command =
        app.add_subcommand("pattern", "Calculate the powder pattern of one or more phases");
    command->add_option("files", options.files, "CIF files, one phase each")->required();
    command->add_option("--scale", options.scales, "one scale factor per file (default 1)");
    const SourceChoice source = addSourceOptions(*command, options.source, SourceUse::LinesAndCorrections);
    addNoAlpha2(*command, options.no_alpha2, source);
    addBank(*command, options.source);
    command->add_option("--range", options.range, "FROM TO STEP in degrees 2θ (default 10 150 0.02)")
        ->expected(3)
        ->allow_extra_args(false);
    command->add_option("--profile", options.profile, "peak shape (default: the --instrument file's, else pv)")
        ->check(CLI::IsMember({"pv", "gaussian", "lorentzian"}));
    command->add_option("--uvw", options.uvw, "Gaussian width U V W, degrees²")->expected(3);
    addAxial(*command, options.axial);
    command->add_option("--output", options.output_dir,
                        "write DIR/pattern.xy, DIR/reflexions.tsv and DIR/pattern.svg");
    command->footer(
        "Example:\n  powderkit pattern corundum.cif NaCl.cif --scale 1 0.5 --range 20 80 0.01"
        " --output out\n"
        "Default: Cu Kα1+Kα2, pseudo-Voigt, 2θ from 10° to 150° by 0.02°; without --output the"
        "\ntwo columns (2θ, intensity) go to standard output.");
}

void addPeaks(CLI::App &app, PeaksOptions &options) {
    CLI::App *command = app.add_subcommand("peaks", "List the significant peaks of a measured pattern");
    command->add_option("file", options.file, "measured pattern (x y [sigma] text, XRDML, GSAS raw, Bruker RAW)")->required();
    addNumber(*command, "--significance", options.significance, options.has_significance,
              "fitted height over its own esd a peak must exceed");
    const SourceChoice source = addSourceOptions(*command, options.source, SourceUse::Lines);
    addNoAlpha2(*command, options.no_alpha2, source);
    addBank(*command, options.source);
    command->footer("Example:\n  powderkit peaks measured.xy --anode Cu\n"
                    "Without --anode, --wavelength or --instrument, the lines are those the file names (XRDML),\n"
                    "else Cu Kα1 + Kα2. With a Kα2 line each peak is fitted as a Kα1 + Kα2 doublet (the Kα2\n"
                    "copy at its own Bragg angle, the source's Kα2/Kα1 ratio as high, same width and shape): a\n"
                    "Kα2 line is never a row of its own, and 2θ, d, height and area are Kα1's.\n"
                    "--no-alpha2 or --wavelength: one line.\n"
                    "A candidate whose fit failed is one line on standard error, not a row; a line cut by\n"
                    "the end of the data is named so.");
}

void addRefine(CLI::App &app, RefineOptions &options) {
    CLI::App *command =
        app.add_subcommand("refine", "Refine a measured pattern, or several jointly (Rietveld or Le Bail)");
    // Required unless --setup names it: runRefine checks.
    command->add_option("measured", options.measured,
                        "measured pattern (may come from --setup); with --pattern, the first phase");
    command->add_option("phases", options.phases, "CIF files, one phase each");
    command->add_option("--pattern", options.pattern_args,
                        "FILE[,instrument=F][,bank=N][,name=NAME][,weight=W]: one measured pattern of a joint "
                        "refinement (repeatable); every file named alone is then a phase")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    const SourceChoice source = addSourceOptions(*command, options.source, SourceUse::LinesAndCorrections);
    addNoAlpha2(*command, options.no_alpha2, source);
    addBank(*command, options.source);
    command->add_option("--range", options.range_args,
                        "FROM TO, the range refined: degrees 2θ, or µs of flight time on a time-of-flight pattern; "
                        "with --pattern NAME:FROM TO, one per pattern")
        ->expected(2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--exclude", options.exclude_args,
                        "FROM TO left out, in the units of --range (repeatable); with several --pattern NAME:FROM TO")
        ->expected(2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    addNumber(*command, "--background", options.background, options.has_background,
              "Chebyshev background coefficients (default 6)");
    command->add_option("--free", options.free,
                        "comma-separated parameters and group words to refine");
    command->add_option("--tie", options.ties, "A=B: B follows A (repeatable)");
    addAxial(*command, options.axial);
    command->add_flag("--le-bail", options.le_bail, "Le Bail: intensities from the pattern");
    addNumber(*command, "--cycles", options.cycles, options.has_cycles, "cycle limit (default 60)");
    command->add_flag_function(
        "--no-stages", [&options](std::int64_t) { options.stages = 0; },
        "release every free parameter at once (default: in stages, scale and background first)");
    command->add_flag_function(
        "--no-data-start", [&options](std::int64_t) { options.start_from_data = 0; },
        "start from the values as given (default: widths, zero and cells from the measured peaks)");
    command->add_option("--cell-window", options.cell_window,
                        "how far the measured peaks may move the cells before the first cycle, a fraction "
                        "(default 0.01; 0: not at all)");
    command->add_option("--zero-window", options.zero_window,
                        "how far they may move the zero shift, degrees (default 0.1; 0: not at all; 2θ only)");
    command->add_option("--threads", options.threads,
                        "threads each cycle's derivatives are shared among, 1 to 64 (default 1; the results are "
                        "the same to the last bit)")
        ->check(CLI::Range(1, 64));
    command->add_option("--setup", options.setup, "start from a setup.json of an earlier run");
    command->add_option("--output", options.output_dir,
                        "write DIR/refinement.json, DIR/fit.xy (with --pattern DIR/fit_NAME.xy each), DIR/fit.svg, "
                        "DIR/report.html and DIR/setup.json");
    command->add_option("--save-instrument", options.save_instrument,
                        "write the instrument as refined (zero, displacement …) and the first phase's refined "
                        "profile to FILE, an instrument file (with --pattern one per pattern, its name before the "
                        "extension: FILE_NAME.json)");
    command->footer("Example:\n  powderkit refine mixture.xy corundum.cif silicon.cif --anode Cu --output fit\n"
                    "Without --anode, --wavelength or --instrument, the Kα1 + Kα2 lines the file names (XRDML),\n"
                    "else Cu's.\n"
                    "Default --free: scale,background,zero,cell,profile (Le Bail: without scale), released in\n"
                    "stages; the widths, zero and cells start from the measured peaks. What the data cannot\n"
                    "determine is fixed and named; the verdict, printed last, says why a fit may be poor.\n"
                    "Instrument and sample:\n"
                    "  powderkit refine si.xy silicon.cif --save-instrument diffractometer.json\n"
                    "  powderkit refine sample.xy sample.cif --instrument diffractometer.json\n"
                    "With --instrument every phase starts from the file's profile, and the table gives each\n"
                    "phase's crystallite size (nm, Scherrer K = 0.9) and microstrain (%) from its broadening\n"
                    "beyond the file's profile.\n"
                    "Time of flight: --instrument names the bank's calibration and profile (.prm, .instprm, or an\n"
                    "instrument file of axis \"tof\"), --bank the bank of both files:\n"
                    "  powderkit refine 435.gda steel.cif --bank 1 --instrument Vulcan.prm --output fit\n"
                    "A GSAS time-of-flight bank says so itself; text columns beside such an instrument hold flight\n"
                    "times in µs. --range, --exclude, fit.xy and the plots are in µs. --free calibration frees difC,\n"
                    "difA and zero, profile the time-of-flight widths; the 2θ options (--anode, --wavelength,\n"
                    "--axial, --monochromator, the sample corrections, --zero-window) are refused there.\n"
                    "Several measured patterns at once (a joint refinement), each with its own instrument:\n"
                    "  powderkit refine --pattern xray.gsa,instrument=lab.prm --pattern neutron.gsa,instrument=d1a.prm \\\n"
                    "                   phase.cif --output fit\n"
                    "The structure is shared; each pattern keeps its scales, profile, zero or calibration and\n"
                    "background, named NAME.zero, NAME.<phase>.scale (NAME: the file's name, or name=). --anode,\n"
                    "--wavelength and --neutron serve the patterns whose files do not name their source.\n"
                    "--range and --exclude take NAME:FROM TO; --free takes qualified words too (xray.zero), and\n"
                    "strain frees the cell offsets of the patterns after the first (another temperature).\n"
                    "DIR gets fit_NAME.xy per pattern, and fit.svg and report.html a panel each.");
}

void addIndex(CLI::App &app, IndexOptions &options) {
    CLI::App *command = app.add_subcommand("index", "Find the cell of an unknown phase from its peak list");
    // Required unless --peaks gives the lines: runIndex checks.
    command->add_option("measured", options.measured,
                        "measured pattern: its peaks are the lines, and the best cells are fitted to it (Le Bail); "
                        "may be left out with --peaks");
    command->add_option("--peaks", options.peaks,
                        "FILE of 2θ positions (Kα1, degrees), the first column; '#' comments, one header line "
                        "allowed (a `powderkit peaks` table will do, its two_theta_esd column read too)");
    const SourceChoice source = addSourceOptions(*command, options.source, SourceUse::Lines);
    addNoAlpha2(*command, options.no_alpha2, source);
    addBank(*command, options.source);
    command->add_option("--systems", options.systems,
                        "crystal systems searched, comma-separated: cubic, tetragonal, hexagonal (trigonal and "
                        "rhombohedral too), orthorhombic, monoclinic, triclinic (default: cubic to monoclinic; triclinic "
                        "only when named, found when two of its reduced cell's three axial lines are among the lines)");
    command->add_option("--volume", options.volume,
                        "MIN MAX: the volumes of the conventional cell searched, Å³ (default: from the lines)")
        ->expected(2);
    command->add_option("--unindexed", options.unindexed,
                        "searched lines that may stay unindexed, impurity lines (default " +
                            std::to_string(options.unindexed) + ")");
    command->add_option("--max-error", options.max_error,
                        "the largest 2θ error of an indexed line, degrees (default " +
                            formatNumber(options.max_error) + "; three of a line's esd's where they are more)");
    command->add_option("--zero", options.zero,
                        "the zero shift searched and fitted, ± degrees 2θ (default " + formatNumber(options.zero) +
                            "; 0: none)");
    command->add_option("--d-max", options.d_max,
                        "lines of d above this are ignored (low-angle artefacts), Å (default " +
                            formatNumber(options.d_max) + ")");
    command->add_option("--lines", options.lines,
                        "the first lines searched, 6 to 60 (default " + std::to_string(options.lines) +
                            "); the rest are indexed by the cells found");
    command->add_option("--candidates", options.candidates,
                        "candidates kept (default " + std::to_string(options.candidates) + ")");
    command->add_option("--le-bail-fits", options.le_bail,
                        "the best candidates fitted to the measured pattern by Le Bail (default " +
                            std::to_string(options.le_bail) + "; 0: none)");
    command->add_option("--output", options.output_dir, "write DIR/index.json: every candidate in full");
    command->footer(
        "Examples:\n  powderkit index measured.xy --anode Cu --output cell\n"
        "  powderkit index --peaks lines.txt --wavelength 1.5406 --systems cubic,tetragonal\n"
        "  powderkit index measured.xy --peaks lines.txt      # these lines, Le Bail fits of measured.xy\n"
        "Without --peaks the lines are the pattern's peaks, found as `powderkit peaks` finds them. Without\n"
        "--anode, --wavelength or --instrument the positions are Kα1's of the lines the measured file names,\n"
        "else of Cu (1.540593 Å).\n"
        "By default every system from cubic to monoclinic is searched (triclinic only when --systems names\n"
        "it), lines of d above " + formatNumber(options.d_max) + " Å are ignored, " +
        std::to_string(options.unindexed) + " of the first " + std::to_string(options.lines) +
        " lines may stay unindexed,\n2θ errors up to " + formatNumber(options.max_error) +
        "° are allowed and the zero shift is searched within ±" + formatNumber(options.zero) + "°.\n"
        "Standard output: one row per candidate, best (highest M20) first: the conventional cell with esd's,\n"
        "its volume (Å³), M20, F_N with the mean |Δ2θ| and the possible lines, the searched lines left\n"
        "unindexed, the extinction symbols that leave the most lines absent, the Rwp (%) of the Le Bail fit,\n"
        "and the rank of a better candidate whose lattice it multiplies. Progress and the notes of the\n"
        "search go to standard error.");
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"powderkit: reflexion lists, calculated patterns, peak lists, refinements and indexing",
                 "powderkit"};
    app.set_version_flag("--version", pk_version());
    app.require_subcommand(1);
    app.footer("Examples:\n  powderkit reflexions NaCl.cif --lines\n"
               "  powderkit pattern corundum.cif --range 20 80 0.01 --output out\n"
               "  powderkit peaks measured.xy\n"
               "  powderkit refine measured.xy corundum.cif --output fit\n"
               "  powderkit index measured.xy --output cell\n"
               "Run `powderkit SUBCOMMAND --help` for the options of each.");
    ReflexionsOptions reflexions;
    PatternOptions pattern;
    PeaksOptions peaks;
    RefineOptions refine;
    IndexOptions index = defaultIndexOptions();
    addReflexions(app, reflexions);
    addPattern(app, pattern);
    addPeaks(app, peaks);
    addRefine(app, refine);
    addIndex(app, index);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kSuccess : kUsageError;
    }

    // Long work (the reflexions of a large cell) reports on standard error.
    ProgressLines progress;
    pk_set_progress_handler(printProgress, &progress);
    try {
        std::string output;
        if (app.got_subcommand("reflexions")) {
            output = runReflexions(reflexions);
        } else if (app.got_subcommand("pattern")) {
            output = runPattern(pattern);
        } else if (app.got_subcommand("peaks")) {
            output = runPeaks(peaks);
        } else if (app.got_subcommand("refine")) {
            output = runRefine(refine);
        } else {
            output = runIndex(index);
        }
        if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
            std::fflush(stdout) != 0) {
            std::fprintf(stderr, "powderkit: cannot write to standard output\n");
            return kBadInput;
        }
        return kSuccess;
    } catch (const InputError &e) {
        std::fprintf(stderr, "powderkit: %s\n", e.what());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "powderkit: out of memory\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "powderkit: %s\n", e.what());
    }
    return kBadInput;
}
