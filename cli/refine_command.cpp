// `powderkit refine`: a Rietveld or Le Bail refinement of a measured pattern
// by one or more phases (one CIF file each). The options (or a setup.json of
// an earlier run, overridden by the options given beside it) make the
// refinement; each cycle reports one line on standard error; standard output
// gets the refined parameters, the statistics and each phase's cell. With
// --output DIR the outcome, the curves, the plot and the setup are written
// once everything has been computed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "commands.hpp"
#include "output_files.hpp"
#include "phase_input.hpp"
#include "refine_output.hpp"
#include "svg_plot.hpp"
#include "table_output.hpp"

namespace powderkit::cli {

namespace {

struct RefinementFree {
    void operator()(pk_refinement *refinement) const { pk_refinement_free(refinement); }
};

using RefinementHandle = std::unique_ptr<pk_refinement, RefinementFree>;

bool finite(const std::vector<double> &values) {
    for (double value : values) {
        if (!std::isfinite(value)) return false;
    }
    return true;
}

// Splits "A=B" into the leader A and the follower B.
std::pair<std::string, std::string> splitTie(const std::string &tie) {
    const size_t equals = tie.find('=');
    const std::string leader = tie.substr(0, equals);
    const std::string follower = equals == std::string::npos ? "" : tie.substr(equals + 1);
    const bool blank = leader.find_first_of(" \t") != std::string::npos ||
                       follower.find_first_of(" \t") != std::string::npos;
    if (leader.empty() || follower.empty() || follower.find('=') != std::string::npos || blank) {
        throw InputError("--tie: \"" + tie + "\": write LEADER=FOLLOWER, two parameter names");
    }
    return {leader, follower};
}

// The checks the phase layer does not make itself, with the option named.
void checkOptions(const RefineOptions &options) {
    if (options.measured.empty()) throw InputError("refine: no measured pattern given");
    if (options.phases.empty()) throw InputError("refine: no phase given (name one CIF file or more)");
    if (options.range.size() == 2) {
        const std::string given =
            "--range: " + formatNumber(options.range[0]) + ' ' + formatNumber(options.range[1]) + ": ";
        if (!finite(options.range)) throw InputError(given + "both ends must be finite numbers");
        if (options.range[1] <= options.range[0]) throw InputError(given + "the end must lie above the start");
    }
    for (size_t k = 0; k + 1 < options.excluded.size(); k += 2) {
        const double from = options.excluded[k];
        const double to = options.excluded[k + 1];
        if (!std::isfinite(from) || !std::isfinite(to) || to <= from) {
            throw InputError("--exclude: " + formatNumber(from) + ' ' + formatNumber(to) +
                             ": give two finite numbers, the end above the start");
        }
    }
    if (options.background < 0 || options.background > 13) {
        throw InputError("--background: " + std::to_string(options.background) + ": must be 0 to 13");
    }
    if (options.cycles < 1) throw InputError("--cycles: " + std::to_string(options.cycles) + ": must be 1 or more");
    for (const std::string &tie : options.ties) splitTie(tie);
    if (!std::isnan(options.cell_window) && !(options.cell_window >= 0.0 && options.cell_window <= 0.1)) {
        throw InputError("--cell-window: " + formatNumber(options.cell_window) + ": must lie from 0 to 0.1 (±10 %)");
    }
    if (!std::isnan(options.zero_window) && !(options.zero_window >= 0.0 && options.zero_window <= 5.0)) {
        throw InputError("--zero-window: " + formatNumber(options.zero_window) + ": must lie from 0 to 5 degrees");
    }
}

// The x the user reads and gives (--range, --exclude, the plots and fit.xy):
// degrees 2θ, or on time of flight µs, as its files give them, where the
// layer's axis is in ms.
struct UserAxis {
    bool tof = false;
    double per_axis_unit = 1.0;  // user units per unit of the layer's axis
    std::string label = "2θ (°)";
};

UserAxis userAxis(const pk_instrument &instrument) {
    if (instrument.axis != PK_AXIS_TOF) return {};
    return {true, 1000.0, "TOF (µs)"};
}

// The options a time-of-flight bank has no use for, refused by name when given.
void checkTofOptions(const RefineOptions &options) {
    const SourceOptions &source = options.source;
    const std::string lines = "a time-of-flight bank has no single wavelength: its calibration (difC, difA, zero) "
                              "comes from the instrument file";
    const std::string two_theta = "a term of 2θ patterns, which a time-of-flight bank does not take";
    const std::pair<bool, std::string> refused[] = {
        {!source.anode.empty(), "--anode: " + lines},
        {source.has_wavelength, "--wavelength: " + lines},
        {!options.axial.empty(), "--axial: " + two_theta},
        {source.has_monochromator, "--monochromator: " + two_theta},
        {source.has_absorption, "--absorption: " + two_theta},
        {!source.roughness.empty(), "--roughness: " + two_theta},
        {source.has_transparency, "--transparency: " + two_theta},
        {!std::isnan(options.zero_window), "--zero-window: degrees 2θ; on time of flight the zero starts where given"}};
    for (const auto &[given, message] : refused) {
        if (given) throw InputError(message);
    }
    // Group words and names of 2θ terms, alone or after a phase's name: the layer frees nothing for them there.
    size_t start = 0;
    while (start <= options.free.size()) {
        size_t end = options.free.find(',', start);
        if (end == std::string::npos) end = options.free.size();
        const std::string word = options.free.substr(start, end - start);
        const size_t dot = word.rfind('.');
        const std::string term = dot == std::string::npos ? word : word.substr(dot + 1);
        for (const char *two_theta_term : {"asymmetry", "SL", "HL", "displacement", "absorption", "roughness",
                                           "roughness_p", "roughness_q", "transparency"}) {
            if (term == two_theta_term) throw InputError("--free: \"" + word + "\": " + two_theta);
        }
        start = end + 1;
    }
}

// The range must hold points of the pattern, and the excluded regions must leave some.
void checkPoints(const RefineOptions &options, const pk_measured_pattern &measured, const UserAxis &axis) {
    const size_t count = static_cast<size_t>(pk_measured_pattern_count(&measured));
    const double *layer_x = pk_measured_pattern_x(&measured);
    const auto x = [&](size_t i) { return layer_x[i] * axis.per_axis_unit; };
    size_t in_range = 0;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (options.range.size() == 2 && (x(i) < options.range[0] || x(i) > options.range[1])) continue;
        ++in_range;
        bool excluded = false;
        for (size_t k = 0; k + 1 < options.excluded.size(); k += 2) {
            excluded = excluded || (x(i) >= options.excluded[k] && x(i) <= options.excluded[k + 1]);
        }
        if (!excluded) ++kept;
    }
    if (in_range < 2 && options.range.size() == 2 && count > 0) {
        throw InputError("--range: " + formatNumber(options.range[0]) + ' ' + formatNumber(options.range[1]) +
                         ": holds fewer than 2 points of " + options.measured + ", which spans " +
                         formatNumber(x(0)) + " to " + formatNumber(x(count - 1)) + (axis.tof ? " µs" : ""));
    }
    if (kept == 0 && in_range > 0) throw InputError("--exclude: leaves no point of the range to fit");
}

// With an instrument file every phase starts from its profile, and the refinement knows it as the instrument's
// (on a 2θ axis: the layer takes no time-of-flight profile as the instrument's);
// --axial puts the axial divergence into the profile (the file's, else the default).
RefinementHandle makeRefinement(const RefineSetup &setup, const pk_measured_pattern &measured,
                                const pk_instrument &instrument, const std::vector<PhaseHandle> &phases,
                                const UserAxis &axis) {
    const RefineOptions &options = setup.options;
    const bool from_file = !options.source.instrument_file.empty();
    pk_profile profile = from_file ? readInstrumentFile(options.source.instrument_file, options.source.bank).profile : pk_profile{};
    if (!from_file) pk_profile_default_for(&profile, &instrument, nullptr);
    applyAxial(options.axial, profile);
    const bool own_profile = from_file || !options.axial.empty();
    std::vector<pk_phase_setting> settings;
    for (const PhaseHandle &phase : phases) {
        pk_phase_setting setting{};
        setting.phase = phase.get();
        setting.profile = own_profile ? &profile : nullptr;
        setting.scale = 1.0;
        setting.march_ratio = 1.0;
        setting.march_axis[2] = 1.0;
        settings.push_back(setting);
    }
    std::vector<const char *> names;
    for (const std::string &name : setup.names) names.push_back(name.empty() ? nullptr : name.c_str());
    pk_refinement_options made_with{};
    pk_refinement_options_default(&made_with);
    made_with.mode = options.le_bail ? PK_REFINE_LE_BAIL : PK_REFINE_RIETVELD;
    made_with.background_count = options.background;
    made_with.max_cycles = options.cycles;
    if (options.range.size() == 2) {
        made_with.x_min = options.range[0] / axis.per_axis_unit;
        made_with.x_max = options.range[1] / axis.per_axis_unit;
    }
    if (options.stages >= 0) made_with.stages = static_cast<uint8_t>(options.stages);
    if (options.start_from_data >= 0) made_with.start_from_data = static_cast<uint8_t>(options.start_from_data);
    if (!std::isnan(options.cell_window)) made_with.cell_window = options.cell_window;
    if (!std::isnan(options.zero_window)) made_with.zero_window = options.zero_window;
    made_with.threads = options.threads;
    // Nothing names the lines (no --anode, --wavelength or --instrument, a file that names none): whether the
    // default anode's Kα2 is in the pattern is for the peaks to say.
    const SourceOptions &source = options.source;
    made_with.alpha2_from_data = source.anode.empty() && !source.has_wavelength && !source.neutron &&
                                 source.instrument_file.empty() && !(source.file_alpha1 > 0.0) && !options.no_alpha2;
    pk_error error{};
    pk_refinement *made = nullptr;
    const int32_t status =
        pk_refinement_make(&measured, &instrument, settings.data(), static_cast<int32_t>(settings.size()),
                           names.size() == settings.size() ? names.data() : nullptr, &made_with, &made, &error);
    RefinementHandle refinement(made);
    check(status, error);
    if (from_file && !axis.tof) check(pk_refinement_set_instrument_profile(refinement.get(), &profile, &error), error);
    return refinement;
}

// Excluded regions, starting values and limits, the free list, then the ties.
void configure(pk_refinement &refinement, const RefineSetup &setup, const std::string &setup_file,
               const UserAxis &axis) {
    const RefineOptions &options = setup.options;
    pk_error error{};
    for (size_t k = 0; k + 1 < options.excluded.size(); k += 2) {
        check(pk_refinement_exclude(&refinement, options.excluded[k] / axis.per_axis_unit,
                                    options.excluded[k + 1] / axis.per_axis_unit, &error),
              error);
    }
    std::map<std::string, pk_parameter> current;
    for (int32_t i = 0; i < pk_refinement_parameter_count(&refinement); ++i) {
        pk_parameter parameter{};
        check(pk_refinement_parameter(&refinement, i, &parameter, &error), error);
        current[parameter.name] = parameter;
    }
    for (const SetupParameter &parameter : setup.parameters) {
        const auto found = current.find(parameter.name);
        if (found == current.end()) {
            throw InputError(setup_file + ": \"" + parameter.name + "\" names no parameter of this refinement");
        }
        // A limit not given keeps the parameter's own.
        const double lower = std::isnan(parameter.lower) ? found->second.lower : parameter.lower;
        const double upper = std::isnan(parameter.upper) ? found->second.upper : parameter.upper;
        const char *name = parameter.name.c_str();
        if (pk_refinement_set_limits(&refinement, name, lower, upper, &error) != PK_OK ||
            pk_refinement_set_value(&refinement, name, parameter.value, &error) != PK_OK) {
            throw InputError(setup_file + ": " + error.message);
        }
    }
    if (pk_refinement_set_free(&refinement, options.free.c_str(), true, &error) != PK_OK) {
        throw InputError("--free: " + std::string(error.message));
    }
    for (const std::string &tie : options.ties) {
        const auto [leader, follower] = splitTie(tie);
        if (pk_refinement_tie(&refinement, leader.c_str(), follower.c_str(), &error) != PK_OK) {
            throw InputError("--tie: " + tie + ": " + error.message);
        }
    }
}

// One line per cycle on standard error, and the stage's name when a new one begins.
struct CycleReport {
    const pk_refinement *refinement;
    std::string stage;
};

int32_t reportCycle(void *context, int32_t cycle, double chi2, double rwp, double damping) {
    auto *report = static_cast<CycleReport *>(context);
    const std::string stage = pk_refinement_stage(report->refinement);
    if (stage != report->stage) {
        std::fprintf(stderr, "stage: %s\n", stage.c_str());
        report->stage = stage;
    }
    if (cycle == 0) return 0;  // the starting values going on: the stage line says so
    std::fprintf(stderr, "cycle %d  Rwp %.5g  chi2 %.6g  damping %.3g\n", cycle, rwp, chi2, damping);
    return 0;
}

std::vector<double> curve(const pk_refinement &refinement, int32_t which, int32_t phase) {
    std::vector<double> values(static_cast<size_t>(pk_refinement_point_count(&refinement)));
    pk_error error{};
    check(pk_refinement_curve(&refinement, which, phase, values.data(), static_cast<int32_t>(values.size()),
                              &error),
          error);
    return values;
}

std::vector<double> peakPositions(const pk_refinement &refinement, int32_t phase) {
    std::vector<double> positions(1024);
    for (;;) {
        pk_error error{};
        int32_t written = 0;
        const int32_t status = pk_refinement_peak_positions(&refinement, phase, positions.data(),
                                                            static_cast<int32_t>(positions.size()), &written,
                                                            &error);
        if (status == PK_ERROR_ARGUMENT && positions.size() < (size_t{1} << 26)) {
            positions.resize(positions.size() * 2);   // too small
            continue;
        }
        check(status, error);
        positions.resize(static_cast<size_t>(written < 0 ? 0 : written));
        return positions;
    }
}

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The outcome, its positions in the user's units (`per_axis_unit` of them to the layer's).
RefineResult collect(const pk_refinement &refinement, double per_axis_unit) {
    RefineResult result;
    pk_error error{};
    check(pk_refinement_get_summary(&refinement, &result.summary, &error), error);
    check(pk_refinement_instrument(&refinement, &result.instrument, &error), error);
    result.stop_reason = pk_refinement_stop_reason(&refinement);
    result.notes = lines(pk_refinement_notes(&refinement));
    result.verdict = lines(pk_refinement_verdict(&refinement));
    for (int32_t i = 0; i < pk_refinement_parameter_count(&refinement); ++i) {
        pk_parameter parameter{};
        check(pk_refinement_parameter(&refinement, i, &parameter, &error), error);
        result.parameters.push_back({parameter.name, parameter.value, parameter.esd, parameter.state,
                                     parameter.lower, parameter.upper});
    }
    for (int32_t p = 0; p < pk_refinement_phase_count(&refinement); ++p) {
        pk_refinement_phase phase{};
        check(pk_refinement_phase_result(&refinement, p, &phase, &error), error);
        PhaseResult kept;
        kept.name = phase.name;
        std::copy(phase.cell, phase.cell + 6, kept.cell.begin());
        std::copy(phase.cell_esd, phase.cell_esd + 6, kept.cell_esd.begin());
        kept.r_bragg = phase.r_bragg;
        kept.weight_fraction = phase.weight_fraction;
        kept.size_nm = phase.size_nm;
        kept.size_esd = phase.size_esd;
        kept.strain_percent = phase.strain_percent;
        kept.strain_esd = phase.strain_esd;
        kept.positions = peakPositions(refinement, p);
        for (double &position : kept.positions) position *= per_axis_unit;
        result.phases.push_back(std::move(kept));
    }
    result.x = curve(refinement, PK_CURVE_X, 0);
    result.observed = curve(refinement, PK_CURVE_OBSERVED, 0);
    result.calculated = curve(refinement, PK_CURVE_CALCULATED, 0);
    result.background = curve(refinement, PK_CURVE_BACKGROUND, 0);
    result.difference = curve(refinement, PK_CURVE_DIFFERENCE, 0);
    for (double &x : result.x) x *= per_axis_unit;
    return result;
}

// The instrument file of the refinement as it ends: its instrument and the first phase's profile.
void saveInstrument(const pk_refinement &refinement, const std::string &path) {
    pk_instrument instrument{};
    pk_profile profile{};
    pk_error error{};
    check(pk_refinement_instrument(&refinement, &instrument, &error), error);
    check(pk_refinement_phase_profile(&refinement, 0, &profile, &error), error);
    if (pk_instrument_file_write(path.c_str(), &instrument, &profile, &error) != PK_OK) {
        throw InputError("--save-instrument: " + std::string(error.message));
    }
}

// The refined (and tied) parameters, the statistics and the phases.
std::string resultText(const RefineResult &result) {
    Table parameters({"parameter", "value", "esd", "state"});
    size_t fixed = 0;
    for (const ParameterResult &parameter : result.parameters) {
        if (parameter.state == PK_PARAMETER_FIXED) {
            ++fixed;
            continue;
        }
        parameters.row().add(parameter.name).add(parameter.value);
        parameters.add(std::isfinite(parameter.esd) ? formatNumber(parameter.esd) : "-");
        parameters.add(pk_parameter_state_name(parameter.state));
    }
    const pk_refinement_summary &summary = result.summary;
    Table statistics({"Rp", "Rwp", "Rexp", "chi2", "reduced_chi2", "GoF", "points", "cycles", "converged", "stop_reason"});
    statistics.row().add(summary.Rp).add(summary.Rwp).add(summary.Rexp).add(summary.chi2).add(summary.reduced_chi2).add(summary.GoF);
    statistics.addInteger(summary.points).addInteger(summary.cycles);
    statistics.add(summary.converged ? "yes" : "no").add(result.stop_reason);
    Table phases({"phase", "a", "b", "c", "alpha", "beta", "gamma", "R_bragg", "weight_fraction", "size_nm",
                  "strain_percent"});
    for (const PhaseResult &phase : result.phases) {
        phases.row().add(phase.name);
        for (size_t k = 0; k < 6; ++k) phases.add(withEsd(phase.cell[k], phase.cell_esd[k]));
        phases.add(phase.r_bragg);
        phases.add(std::isfinite(phase.weight_fraction) ? formatNumber(phase.weight_fraction) : "-");
        phases.add(std::isfinite(phase.size_nm) ? withEsd(phase.size_nm, phase.size_esd) : "-");
        phases.add(std::isfinite(phase.strain_percent) ? withEsd(phase.strain_percent, phase.strain_esd) : "-");
    }
    std::string verdict = "\nverdict: ";
    verdict += result.verdict.empty() ? "nothing found to doubt the fit\n" : "doubtful\n";
    for (const std::string &reason : result.verdict) verdict += "  - " + reason + "\n";
    return parameters.text() + "# " + std::to_string(fixed) + " fixed parameters not shown\n\n" +
           statistics.text() + '\n' + phases.text() + verdict;
}

}  // namespace

std::string runRefine(const RefineOptions &given) {
    RefineSetup setup = resolveSetup(given);
    RefineOptions &options = setup.options;
    checkOptions(options);
    if (!options.output_dir.empty()) checkOutputFolder(options.output_dir);
    if (options.free.empty()) {
        options.free = pk_refinement_default_free(options.le_bail ? PK_REFINE_LE_BAIL : PK_REFINE_RIETVELD);
    }
    MeasuredPatternHandle read = readMeasuredPattern(options.measured, options.source.bank, "");
    takeFileWavelengths(options.source, *read);
    const pk_instrument instrument = makeInstrument(options.source, !options.no_alpha2);
    const MeasuredPatternHandle measured =
        onInstrumentAxis(std::move(read), options.measured, instrument, options.source.instrument_file);
    const UserAxis axis = userAxis(instrument);
    if (axis.tof) checkTofOptions(options);
    checkPoints(options, *measured, axis);
    if (options.source.neutron && !options.source.has_wavelength && !axis.tof) {
        options.source.has_wavelength = true;   // the setup names the wavelength used
        options.source.wavelength = instrument.wavelength;
    }
    std::vector<PhaseHandle> phases;
    for (const std::string &file : options.phases) phases.push_back(readPhase(file, ""));
    const RefinementHandle refinement = makeRefinement(setup, *measured, instrument, phases, axis);
    configure(*refinement, setup, given.setup, axis);

    pk_error error{};
    CycleReport report{refinement.get(), ""};
    check(pk_refinement_run(refinement.get(), reportCycle, &report, &error), error);
    const RefineResult result = collect(*refinement, axis.per_axis_unit);
    for (const std::string &note : result.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    const std::string warnings = pk_refinement_warnings(refinement.get());
    if (!warnings.empty()) {
        std::fprintf(stderr, "%s%s", warnings.c_str(), warnings.back() == '\n' ? "" : "\n");
    }
    const std::string text = resultText(result);
    if (!options.save_instrument.empty()) saveInstrument(*refinement, options.save_instrument);
    if (options.output_dir.empty()) return text;

    // Every file's text is made before the first is written.
    std::string title = options.measured + ":";
    for (const PhaseResult &phase : result.phases) title += ' ' + phase.name;
    title += ", " + describeSource(options.source, instrument) + (options.le_bail ? ", Le Bail" : ", Rietveld");
    FitPlotData plot;
    plot.title = title;
    plot.x_label = axis.label;
    plot.x = result.x;
    plot.observed = result.observed;
    plot.calculated = result.calculated;
    plot.background = result.background;
    plot.difference = result.difference;
    plot.excluded = options.excluded;
    for (std::size_t p = 0; p < result.phases.size(); ++p) {
        const PhaseResult &phase = result.phases[p];
        plot.phases.push_back({phase.name,
                               result.phases.size() > 1 ? curve(*refinement, PK_CURVE_PHASE, static_cast<int32_t>(p))
                                                        : std::vector<double>{},
                               phase.positions});
    }
    std::string json = refinementJson(result);
    std::string xy = fitXy(result, title, axis.tof ? "tof_us" : "x");
    std::string svg = svgFitPlot(plot);
    std::string next = setupJson(setup, result);
    // Each phase's refined structure, <name>.cif.
    std::vector<std::pair<std::string, std::string>> cifs;
    for (std::size_t p = 0; p < result.phases.size(); ++p) {
        int32_t size = 0;
        pk_refinement_phase_cif(refinement.get(), static_cast<int32_t>(p), nullptr, 0, &size, nullptr);
        std::string cif(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        check(pk_refinement_phase_cif(refinement.get(), static_cast<int32_t>(p), cif.data(), size, &size, &error),
              error);
        cif.resize(static_cast<std::size_t>(size - 1));
        cifs.emplace_back(result.phases[p].name + ".cif", cif);
    }
    // The report page, whose plots zoom.
    int32_t size = 0;
    check(pk_refinement_report(refinement.get(), title.c_str(), 0, nullptr, 0, &size, &error), error);
    std::string page(static_cast<std::size_t>(size), '\0');
    check(pk_refinement_report(refinement.get(), title.c_str(), 0, page.data(), size, &size, &error), error);
    page.resize(static_cast<std::size_t>(size - 1));
    std::vector<std::pair<std::string, std::string>> files = {
        {"refinement.json", std::move(json)}, {"fit.xy", std::move(xy)}, {"fit.svg", std::move(svg)},
        {"setup.json", std::move(next)}, {"report.html", std::move(page)}};
    files.insert(files.end(), cifs.begin(), cifs.end());
    writeOutputSet(options.output_dir, files);
    return text;
}

}  // namespace powderkit::cli
