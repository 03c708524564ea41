// `powderkit refine`: a Rietveld or Le Bail refinement of a measured pattern
// by one or more phases (one CIF file each), or a joint refinement of several
// measured patterns (--pattern, each with its own instrument) against the
// same phases. The options (or a setup.json of an earlier run, overridden by
// the options given beside it) make the refinement; each cycle reports one
// line on standard error; standard output gets the refined parameters, the
// statistics (and each pattern's) and each phase's cell. With --output DIR
// the outcome, the curves, the plot and the setup are written once
// everything has been computed. One measured pattern is one histogram of
// the layer's, so that both kinds are read back and written alike.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "commands.hpp"
#include "output_files.hpp"
#include "phase_input.hpp"
#include "refine_output.hpp"
#include "refine_patterns.hpp"
#include "svg_plot.hpp"
#include "table_output.hpp"

namespace powderkit::cli {

namespace {

struct RefinementFree {
    void operator()(pk_refinement *refinement) const { pk_refinement_free(refinement); }
};

using RefinementHandle = std::unique_ptr<pk_refinement, RefinementFree>;

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
    const bool joint = !options.patterns.empty();
    if (options.measured.empty() && !joint) {
        throw InputError("refine: no measured pattern given (name one, or --pattern FILE for each of several)");
    }
    if (options.phases.empty()) throw InputError("refine: no phase given (name one CIF file or more)");
    for (const XSpan &span : options.ranges) checkSpan("--range", span);
    for (const XSpan &span : options.excluded) checkSpan("--exclude", span);
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
    if (!joint) return;
    if (!options.source.instrument_file.empty()) {
        throw InputError("--instrument: with --pattern each pattern names its own, as in --pattern FILE,instrument=" +
                         options.source.instrument_file);
    }
    if (options.source.bank > 0) {
        throw InputError("--bank: with --pattern each pattern names its own, as in --pattern FILE,bank=" +
                         std::to_string(options.source.bank));
    }
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
void checkPoints(const PatternRun &run) {
    const pk_measured_pattern &measured = *run.measured;
    const size_t count = static_cast<size_t>(pk_measured_pattern_count(&measured));
    const double *layer_x = pk_measured_pattern_x(&measured);
    const auto x = [&](size_t i) { return layer_x[i] * run.axis.per_axis_unit; };
    size_t in_range = 0;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (run.range.size() == 2 && (x(i) < run.range[0] || x(i) > run.range[1])) continue;
        ++in_range;
        bool excluded = false;
        for (size_t k = 0; k + 1 < run.excluded.size(); k += 2) {
            excluded = excluded || (x(i) >= run.excluded[k] && x(i) <= run.excluded[k + 1]);
        }
        if (!excluded) ++kept;
    }
    if (in_range < 2 && run.range.size() == 2 && count > 0) {
        throw InputError("--range: " + formatNumber(run.range[0]) + ' ' + formatNumber(run.range[1]) +
                         ": holds fewer than 2 points of " + run.input.file + ", which spans " + formatNumber(x(0)) +
                         " to " + formatNumber(x(count - 1)) + (run.axis.tof ? " µs" : ""));
    }
    if (kept == 0 && in_range > 0) throw InputError("--exclude: leaves no point of " + run.input.file + " to fit");
}

// Each phase's starting profile on a pattern, when the pattern has its own: with an instrument file the file's,
// with --axial (on 2θ) the instrument's default with that axial divergence.
bool startingProfile(const RefineOptions &options, const PatternRun &run, pk_profile &profile) {
    const bool from_file = !run.source.instrument_file.empty();
    const std::vector<double> axial = run.axis.tof ? std::vector<double>{} : options.axial;
    if (!from_file && axial.empty()) return false;
    if (from_file) {
        profile = readInstrumentFile(run.source.instrument_file, run.source.bank).profile;
    } else {
        pk_profile_default_for(&profile, &run.instrument, nullptr);
    }
    applyAxial(axial, profile);
    return true;
}

// Nothing names the lines of a 2θ pattern: no --anode, --wavelength, --neutron or instrument file, a file that
// names none.
bool linesUnnamed(const SourceOptions &source) {
    return source.anode.empty() && !source.has_wavelength && !source.neutron && source.instrument_file.empty() &&
           !(source.file_alpha1 > 0.0);
}

pk_refinement_options refinementOptions(const RefineOptions &options, const std::vector<PatternRun> &runs) {
    pk_refinement_options made_with{};
    pk_refinement_options_default(&made_with);
    made_with.mode = options.le_bail ? PK_REFINE_LE_BAIL : PK_REFINE_RIETVELD;
    made_with.background_count = options.background;
    made_with.max_cycles = options.cycles;
    if (options.stages >= 0) made_with.stages = static_cast<uint8_t>(options.stages);
    if (options.start_from_data >= 0) made_with.start_from_data = static_cast<uint8_t>(options.start_from_data);
    if (!std::isnan(options.cell_window)) made_with.cell_window = options.cell_window;
    if (!std::isnan(options.zero_window)) made_with.zero_window = options.zero_window;
    made_with.threads = options.threads;
    // Whether the default anode's Kα2 is in the 2θ patterns is for their peaks to say when nothing names their lines.
    const auto unnamed = [](const PatternRun &run) { return run.axis.tof || linesUnnamed(run.source); };
    const auto two_theta = [](const PatternRun &run) { return !run.axis.tof; };
    made_with.alpha2_from_data = !options.no_alpha2 && std::any_of(runs.begin(), runs.end(), two_theta) &&
                                 std::all_of(runs.begin(), runs.end(), unnamed);
    return made_with;
}

std::vector<const char *> phaseNames(const RefineSetup &setup) {
    std::vector<const char *> names;
    for (const std::string &name : setup.names) names.push_back(name.empty() ? nullptr : name.c_str());
    return names;
}

pk_phase_setting settingOf(const PhaseHandle &phase, const pk_profile *profile) {
    pk_phase_setting setting{};
    setting.phase = phase.get();
    setting.profile = profile;
    setting.scale = 1.0;
    setting.march_ratio = 1.0;
    setting.march_axis[2] = 1.0;
    return setting;
}

// One measured pattern: with an instrument file every phase starts from its profile, and the refinement knows it
// as the instrument's (on a 2θ axis: the layer takes no time-of-flight profile as the instrument's).
RefinementHandle makeRefinement(const RefineSetup &setup, const std::vector<PatternRun> &runs,
                                const std::vector<PhaseHandle> &phases) {
    const PatternRun &run = runs.front();
    pk_profile profile{};
    const bool own_profile = startingProfile(setup.options, run, profile);
    std::vector<pk_phase_setting> settings;
    for (const PhaseHandle &phase : phases) settings.push_back(settingOf(phase, own_profile ? &profile : nullptr));
    const std::vector<const char *> names = phaseNames(setup);
    pk_refinement_options made_with = refinementOptions(setup.options, runs);
    if (run.range.size() == 2) {
        made_with.x_min = run.range[0] / run.axis.per_axis_unit;
        made_with.x_max = run.range[1] / run.axis.per_axis_unit;
    }
    pk_error error{};
    pk_refinement *made = nullptr;
    const int32_t status =
        pk_refinement_make(run.measured.get(), &run.instrument, settings.data(), static_cast<int32_t>(settings.size()),
                           names.size() == settings.size() ? names.data() : nullptr, &made_with, &made, &error);
    RefinementHandle refinement(made);
    check(status, error);
    if (!run.source.instrument_file.empty() && !run.axis.tof) {
        check(pk_refinement_set_instrument_profile(refinement.get(), &profile, &error), error);
    }
    return refinement;
}

// What the output keeps of a phase's result record.
PhaseResult phaseResultOf(const pk_refinement_phase &phase) {
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
    return kept;
}

// Several measured patterns, each with its instrument, range and weight; each phase starts on each pattern from
// that pattern's instrument file's profile, else from its instrument's default.
RefinementHandle makeJointRefinement(const RefineSetup &setup, const std::vector<PatternRun> &runs,
                                     const std::vector<PhaseHandle> &phases) {
    std::vector<std::vector<pk_profile>> profiles(runs.size());
    std::vector<pk_refinement_histogram> histograms;
    for (size_t h = 0; h < runs.size(); ++h) {
        const PatternRun &run = runs[h];
        pk_profile profile{};
        if (startingProfile(setup.options, run, profile)) profiles[h].assign(phases.size(), profile);
        pk_refinement_histogram histogram{};
        histogram.name = run.input.name.c_str();
        histogram.measured = run.measured.get();
        histogram.instrument = &run.instrument;
        histogram.profiles = profiles[h].empty() ? nullptr : profiles[h].data();
        histogram.weight = run.input.weight;
        if (run.range.size() == 2) {
            histogram.x_min = run.range[0] / run.axis.per_axis_unit;
            histogram.x_max = run.range[1] / run.axis.per_axis_unit;
        }
        histograms.push_back(histogram);
    }
    std::vector<pk_phase_setting> settings;
    for (const PhaseHandle &phase : phases) settings.push_back(settingOf(phase, nullptr));
    const std::vector<const char *> names = phaseNames(setup);
    const pk_refinement_options made_with = refinementOptions(setup.options, runs);
    pk_error error{};
    pk_refinement *made = nullptr;
    const int32_t status = pk_refinement_make_joint(
        histograms.data(), static_cast<int32_t>(histograms.size()), settings.data(),
        static_cast<int32_t>(settings.size()), names.size() == settings.size() ? names.data() : nullptr, &made_with,
        &made, &error);
    RefinementHandle refinement(made);
    check(status, error);
    // Size and strain on each 2θ pattern whose instrument file gives the instrument's own profile.
    for (size_t h = 0; h < runs.size(); ++h) {
        if (runs[h].source.instrument_file.empty() || runs[h].axis.tof || profiles[h].empty()) continue;
        check(pk_refinement_histogram_set_instrument_profile(refinement.get(), static_cast<int32_t>(h),
                                                             &profiles[h].front(), &error),
              error);
    }
    return refinement;
}

// Excluded regions, starting values and limits, the free list, then the ties.
void configure(pk_refinement &refinement, const RefineSetup &setup, const std::string &setup_file,
               const std::vector<PatternRun> &runs) {
    const RefineOptions &options = setup.options;
    pk_error error{};
    for (size_t h = 0; h < runs.size(); ++h) {
        const PatternRun &run = runs[h];
        for (size_t k = 0; k + 1 < run.excluded.size(); k += 2) {
            check(pk_refinement_histogram_exclude(&refinement, static_cast<int32_t>(h),
                                                  run.excluded[k] / run.axis.per_axis_unit,
                                                  run.excluded[k + 1] / run.axis.per_axis_unit, &error),
                  error);
        }
    }
    // A TOF bank's difB, which the instrument record does not hold, from its instrument file.
    for (size_t h = 0; h < runs.size(); ++h) {
        const PatternRun &run = runs[h];
        if (!run.axis.tof || run.source.instrument_file.empty()) continue;
        const double difb = readInstrumentFile(run.source.instrument_file, run.source.bank).difb;
        const std::string name = options.patterns.empty() ? "difB" : run.input.name + ".difB";
        if (difb != 0.0) check(pk_refinement_set_value(&refinement, name.c_str(), difb, &error), error);
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

// One phase's peak positions in pattern `histogram` (the layer's axis units).
std::vector<double> peakPositions(const pk_refinement &refinement, int32_t histogram, int32_t phase) {
    std::vector<double> positions(1024);
    for (;;) {
        pk_error error{};
        int32_t written = 0;
        const int32_t status = pk_refinement_histogram_peak_positions(
            &refinement, histogram, phase, positions.data(), static_cast<int32_t>(positions.size()), &written, &error);
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

// values[first, first + count) times `factor`.
std::vector<double> slice(const std::vector<double> &values, size_t first, size_t count, double factor = 1.0) {
    std::vector<double> part(values.begin() + static_cast<std::ptrdiff_t>(first),
                             values.begin() + static_cast<std::ptrdiff_t>(first + count));
    for (double &value : part) value *= factor;
    return part;
}

// The outcome, each pattern's curves and positions in its user's units.
RefineResult collect(const pk_refinement &refinement, const std::vector<PatternRun> &runs) {
    RefineResult result;
    pk_error error{};
    check(pk_refinement_get_summary(&refinement, &result.summary, &error), error);
    result.stop_reason = pk_refinement_stop_reason(&refinement);
    result.notes = lines(pk_refinement_notes(&refinement));
    result.verdict = lines(pk_refinement_verdict(&refinement));
    for (int32_t i = 0; i < pk_refinement_parameter_count(&refinement); ++i) {
        pk_parameter parameter{};
        check(pk_refinement_parameter(&refinement, i, &parameter, &error), error);
        result.parameters.push_back({parameter.name, parameter.value, parameter.esd, parameter.state,
                                     parameter.lower, parameter.upper});
    }
    const int32_t phase_count = pk_refinement_phase_count(&refinement);
    for (int32_t p = 0; p < phase_count; ++p) {
        pk_refinement_phase phase{};
        check(pk_refinement_phase_result(&refinement, p, &phase, &error), error);
        result.phases.push_back(phaseResultOf(phase));
    }
    const std::vector<double> x = curve(refinement, PK_CURVE_X, 0);
    const std::vector<double> observed = curve(refinement, PK_CURVE_OBSERVED, 0);
    const std::vector<double> calculated = curve(refinement, PK_CURVE_CALCULATED, 0);
    const std::vector<double> background = curve(refinement, PK_CURVE_BACKGROUND, 0);
    const std::vector<double> difference = curve(refinement, PK_CURVE_DIFFERENCE, 0);
    std::vector<std::vector<double>> shares;
    for (int32_t p = 0; phase_count > 1 && p < phase_count; ++p) shares.push_back(curve(refinement, PK_CURVE_PHASE, p));
    for (size_t h = 0; h < runs.size(); ++h) {
        const PatternRun &run = runs[h];
        pk_refinement_histogram_result own{};
        check(pk_refinement_get_histogram(&refinement, static_cast<int32_t>(h), &own, &error), error);
        HistogramResult histogram;
        histogram.name = own.name;
        histogram.file = run.input.file;
        histogram.source = describeSource(run.source, run.instrument);
        histogram.summary = own.summary;
        histogram.instrument = own.instrument;
        histogram.tof = run.axis.tof;
        histogram.range = run.range;
        histogram.excluded = run.excluded;
        const auto first = static_cast<size_t>(own.first_point);
        const auto count = static_cast<size_t>(own.point_count);
        histogram.x = slice(x, first, count, run.axis.per_axis_unit);
        histogram.observed = slice(observed, first, count);
        histogram.calculated = slice(calculated, first, count);
        histogram.background = slice(background, first, count);
        histogram.difference = slice(difference, first, count);
        for (const std::vector<double> &share : shares) histogram.phase_curves.push_back(slice(share, first, count));
        for (int32_t p = 0; p < phase_count; ++p) {
            pk_refinement_phase phase{};
            check(pk_refinement_histogram_phase_result(&refinement, static_cast<int32_t>(h), p, &phase, &error),
                  error);
            histogram.phases.push_back(phaseResultOf(phase));
            histogram.positions.push_back(peakPositions(refinement, static_cast<int32_t>(h), p));
            for (double &position : histogram.positions.back()) position *= run.axis.per_axis_unit;
        }
        result.histograms.push_back(std::move(histogram));
    }
    return result;
}

// The instrument file of each pattern as the refinement ends: its instrument and the first phase's profile there. Of a
// joint refinement one file per pattern, its name before the extension ("lab.json" → "lab_xray.json").
void saveInstrument(const pk_refinement &refinement, const std::string &path) {
    pk_error error{};
    for (int32_t h = 0; h < pk_refinement_histogram_count(&refinement); ++h) {
        pk_refinement_histogram_result histogram{};
        pk_profile profile{};
        check(pk_refinement_get_histogram(&refinement, h, &histogram, &error), error);
        check(pk_refinement_histogram_profile(&refinement, h, 0, &profile, &error), error);
        std::filesystem::path file(path);
        if (histogram.name[0] != '\0') {
            file.replace_filename(file.stem().string() + "_" + histogram.name + file.extension().string());
        }
        if (pk_instrument_file_write(file.string().c_str(), &histogram.instrument, &profile, &error) != PK_OK) {
            throw InputError("--save-instrument: " + std::string(error.message));
        }
    }
}

// The refined (and tied) parameters, the statistics (and each pattern's of a joint refinement) and the phases.
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
    std::string patterns;
    if (!result.histograms.front().name.empty()) {
        Table table({"pattern", "file", "Rp", "Rwp", "Rexp", "chi2", "reduced_chi2", "GoF", "points"});
        for (const HistogramResult &histogram : result.histograms) {
            const pk_refinement_summary &own = histogram.summary;
            table.row().add(histogram.name).add(histogram.file).add(own.Rp).add(own.Rwp).add(own.Rexp).add(own.chi2);
            table.add(own.reduced_chi2).add(own.GoF).addInteger(own.points);
        }
        patterns = '\n' + table.text();
    }
    // Of a joint refinement, each phase as each pattern sees it (its cell there, R-Bragg, size and strain).
    const bool joint = !result.histograms.front().name.empty();
    std::vector<std::string> columns = {"phase", "a", "b", "c", "alpha", "beta", "gamma", "R_bragg", "weight_fraction",
                                        "size_nm", "strain_percent"};
    if (joint) columns.insert(columns.begin(), "pattern");
    Table phases(std::move(columns));
    const auto addPhase = [](Table &table, const PhaseResult &phase) {
        table.add(phase.name);
        for (size_t k = 0; k < 6; ++k) table.add(withEsd(phase.cell[k], phase.cell_esd[k]));
        table.add(phase.r_bragg);
        table.add(std::isfinite(phase.weight_fraction) ? formatNumber(phase.weight_fraction) : "-");
        table.add(std::isfinite(phase.size_nm) ? withEsd(phase.size_nm, phase.size_esd) : "-");
        table.add(std::isfinite(phase.strain_percent) ? withEsd(phase.strain_percent, phase.strain_esd) : "-");
    };
    if (joint) {
        for (const HistogramResult &histogram : result.histograms) {
            for (const PhaseResult &phase : histogram.phases) addPhase(phases.row().add(histogram.name), phase);
        }
    } else {
        for (const PhaseResult &phase : result.phases) addPhase(phases.row(), phase);
    }
    std::string verdict = "\nverdict: ";
    verdict += result.verdict.empty() ? "nothing found to doubt the fit\n" : "doubtful\n";
    for (const std::string &reason : result.verdict) verdict += "  - " + reason + "\n";
    return parameters.text() + "# " + std::to_string(fixed) + " fixed parameters not shown\n\n" +
           statistics.text() + patterns + '\n' + phases.text() + verdict;
}

// The report page, whose plots zoom.
std::string reportPage(const pk_refinement &refinement, const std::string &title) {
    pk_error error{};
    int32_t size = 0;
    check(pk_refinement_report(&refinement, title.c_str(), 0, nullptr, 0, &size, &error), error);
    std::string page(static_cast<std::size_t>(size), '\0');
    check(pk_refinement_report(&refinement, title.c_str(), 0, page.data(), size, &size, &error), error);
    page.resize(static_cast<std::size_t>(size - 1));
    return page;
}

// Each phase's refined structure, <name>.cif.
std::vector<std::pair<std::string, std::string>> refinedCifs(const pk_refinement &refinement,
                                                             const RefineResult &result) {
    std::vector<std::pair<std::string, std::string>> cifs;
    pk_error error{};
    for (std::size_t p = 0; p < result.phases.size(); ++p) {
        int32_t size = 0;
        pk_refinement_phase_cif(&refinement, static_cast<int32_t>(p), nullptr, 0, &size, nullptr);
        std::string cif(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        check(pk_refinement_phase_cif(&refinement, static_cast<int32_t>(p), cif.data(), size, &size, &error), error);
        cif.resize(static_cast<std::size_t>(size - 1));
        cifs.emplace_back(result.phases[p].name + ".cif", cif);
    }
    return cifs;
}

}  // namespace

std::string runRefine(const RefineOptions &command_line) {
    RefineOptions given = command_line;
    readPatternArguments(given);
    RefineSetup setup = resolveSetup(given);
    RefineOptions &options = setup.options;
    checkOptions(options);
    if (!options.output_dir.empty()) checkOutputFolder(options.output_dir);
    if (options.free.empty()) {
        options.free = pk_refinement_default_free(options.le_bail ? PK_REFINE_LE_BAIL : PK_REFINE_RIETVELD);
    }
    std::vector<PhaseHandle> phases;
    std::vector<std::string> phase_names;
    for (size_t p = 0; p < options.phases.size(); ++p) {
        phases.push_back(readPhase(options.phases[p], ""));
        const bool named = p < setup.names.size() && !setup.names[p].empty();
        phase_names.push_back(named ? setup.names[p] : pk_phase_name(phases.back().get()));
    }
    const std::vector<PatternRun> runs = readPatterns(options, phase_names);
    const bool joint = !options.patterns.empty();
    if (std::all_of(runs.begin(), runs.end(), [](const PatternRun &run) { return run.axis.tof; })) {
        checkTofOptions(options);
    }
    for (const PatternRun &run : runs) checkPoints(run);
    if (!joint) options.source = runs.front().source;  // with the lines the file names, for setup.json
    const RefinementHandle refinement =
        joint ? makeJointRefinement(setup, runs, phases) : makeRefinement(setup, runs, phases);
    configure(*refinement, setup, given.setup, runs);

    pk_error error{};
    CycleReport report{refinement.get(), ""};
    check(pk_refinement_run(refinement.get(), reportCycle, &report, &error), error);
    const RefineResult result = collect(*refinement, runs);
    for (const std::string &note : result.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    const std::string warnings = pk_refinement_warnings(refinement.get());
    if (!warnings.empty()) {
        std::fprintf(stderr, "%s%s", warnings.c_str(), warnings.back() == '\n' ? "" : "\n");
    }
    const std::string text = resultText(result);
    if (!options.save_instrument.empty()) saveInstrument(*refinement, options.save_instrument);
    if (options.output_dir.empty()) return text;

    // Every file's text is made before the first is written.
    std::string phase_list;
    for (const PhaseResult &phase : result.phases) phase_list += ' ' + phase.name;
    const std::string mode = options.le_bail ? ", Le Bail" : ", Rietveld";
    std::string title;
    std::vector<FitPlotData> plots;
    std::vector<std::pair<std::string, std::string>> files = {{"refinement.json", refinementJson(result)}};
    for (const HistogramResult &histogram : result.histograms) {
        const std::string own = histogram.file + (joint ? " (" + histogram.name + ")" : "") + ":" + phase_list +
                                ", " + histogram.source + mode;
        title += (title.empty() ? "" : " + ") + (joint ? histogram.name : own);
        files.emplace_back(fitFileName(histogram), fitXy(histogram, own));
        FitPlotData plot;
        plot.title = joint ? histogram.name + ": " + histogram.file + ", " + histogram.source : "";
        plot.x_label = histogram.tof ? "TOF (µs)" : "2θ (°)";
        plot.x = histogram.x;
        plot.observed = histogram.observed;
        plot.calculated = histogram.calculated;
        plot.background = histogram.background;
        plot.difference = histogram.difference;
        plot.excluded = histogram.excluded;
        for (std::size_t p = 0; p < result.phases.size(); ++p) {
            plot.phases.push_back({result.phases[p].name,
                                   histogram.phase_curves.empty() ? std::vector<double>{} : histogram.phase_curves[p],
                                   histogram.positions[p]});
        }
        plots.push_back(std::move(plot));
    }
    if (joint) title += ":" + phase_list + mode;
    files.emplace_back("fit.svg", svgFitPlot(title, plots));
    files.emplace_back("setup.json", setupJson(setup, result));
    files.emplace_back("report.html", reportPage(*refinement, title));
    const auto cifs = refinedCifs(*refinement, result);
    files.insert(files.end(), cifs.begin(), cifs.end());
    writeOutputSet(options.output_dir, files);
    return text;
}

}  // namespace powderkit::cli
