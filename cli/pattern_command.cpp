// `powderkit pattern`: the calculated pattern of one or more phases (one CIF
// file each, with a scale each) on an evenly stepped 2θ range that includes
// its end point, without background. The two columns go to standard output,
// or with --output DIR into DIR/pattern.xy beside DIR/reflexions.tsv (the
// reflexions of every phase over the range) and DIR/pattern.svg (the plot).
#include <cmath>

#include "commands.hpp"
#include "output_files.hpp"
#include "phase_input.hpp"
#include "reflexion_table.hpp"
#include "svg_plot.hpp"

namespace powderkit::cli {

namespace {

// More points than this is a mistake in the range rather than a pattern.
constexpr double kMostPoints = 10'000'000.0;

// x_i = from + i·step for i = 0 … n − 1, n = round((to − from)/step) + 1:
// the end point is a point of the pattern when the step divides the range.
std::vector<double> patternAxis(const std::vector<double> &range) {
    const double from = range[0], to = range[1], step = range[2];
    const std::string given = "--range: " + formatNumber(from) + ' ' + formatNumber(to) + ' ' +
                              formatNumber(step) + ": ";
    if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) {
        throw InputError(given + "every value must be a finite number");
    }
    if (step <= 0.0) throw InputError(given + "the step must be positive");
    if (to <= from) throw InputError(given + "the end must lie above the start");
    const double n = std::round((to - from) / step) + 1.0;
    if (n > kMostPoints) {
        throw InputError(given + "more than " + formatNumber(kMostPoints) + " points");
    }
    std::vector<double> x(static_cast<size_t>(n));
    for (size_t i = 0; i < x.size(); ++i) x[i] = from + static_cast<double>(i) * step;
    return x;
}

// The --profile type's default, else the instrument file's profile, else the instrument's default (a neutron
// diffractometer's with its axial divergence); --uvw and --axial over it.
pk_profile makeProfile(const PatternOptions &options, const pk_instrument &instrument) {
    int32_t type = PK_PROFILE_PSEUDO_VOIGT;
    if (options.profile == "gaussian") type = PK_PROFILE_GAUSSIAN;
    if (options.profile == "lorentzian") type = PK_PROFILE_LORENTZIAN;
    pk_profile profile{};
    pk_error error{};
    if (options.profile.empty()) {
        check(pk_profile_default_for(&profile, &instrument, &error), error);
    } else {
        check(pk_profile_default(&profile, type, &error), error);
    }
    if (options.profile.empty() && !options.source.instrument_file.empty()) {
        profile = readInstrumentFile(options.source.instrument_file, options.source.bank).profile;
    }
    if (!options.uvw.empty()) {
        profile.U = options.uvw[0];
        profile.V = options.uvw[1];
        profile.W = options.uvw[2];
    }
    applyAxial(options.axial, profile);
    return profile;
}

std::vector<double> compute(const pk_pattern_model &model, int32_t part,
                            const std::vector<double> &x) {
    std::vector<double> y(x.size());
    pk_error error{};
    check(pk_pattern_model_compute(&model, part, x.data(), static_cast<int32_t>(x.size()),
                                   y.data(), &error),
          error);
    return y;
}

std::vector<double> peakPositions(const pk_pattern_model &model, int32_t phase_index,
                                  int32_t capacity) {
    std::vector<double> positions;
    for (int attempt = 0; attempt < 12; ++attempt, capacity *= 2) {
        positions.assign(static_cast<size_t>(capacity), 0.0);
        pk_error error{};
        int32_t written = 0;
        const int32_t status = pk_pattern_model_peak_positions(&model, phase_index, positions.data(),
                                                               capacity, &written, &error);
        if (status == PK_ERROR_ARGUMENT && capacity < (1 << 26)) continue;  // too small
        check(status, error);
        positions.resize(static_cast<size_t>(written < 0 ? 0 : written));
        return positions;
    }
    return positions;
}

std::string twoColumns(const std::vector<double> &x, const std::vector<double> &y) {
    std::string text;
    text.reserve(x.size() * 24);
    for (size_t i = 0; i < x.size(); ++i) {
        text += formatNumber(x[i]);
        text += '\t';
        text += formatNumber(y[i]);
        text += '\n';
    }
    return text;
}

}  // namespace

std::string runPattern(const PatternOptions &options) {
    if (!options.output_dir.empty()) checkOutputFolder(options.output_dir);
    const std::vector<double> x = patternAxis(options.range);
    if (!options.scales.empty() && options.scales.size() != options.files.size()) {
        throw InputError("--scale: " + std::to_string(options.scales.size()) +
                         " scales given for " + std::to_string(options.files.size()) +
                         " files (give one per file, or none)");
    }
    for (double scale : options.scales) {
        if (!std::isfinite(scale)) throw InputError("--scale: every scale must be a finite number");
    }
    const pk_instrument instrument = makeInstrument(options.source, !options.no_alpha2);
    const pk_profile profile = makeProfile(options, instrument);

    std::vector<PhaseHandle> phases;
    std::vector<pk_phase_setting> settings;
    for (size_t i = 0; i < options.files.size(); ++i) {
        phases.push_back(readPhase(options.files[i], ""));
        pk_phase_setting setting{};
        setting.phase = phases.back().get();
        setting.scale = options.scales.empty() ? 1.0 : options.scales[i];
        setting.profile = &profile;
        setting.use_march = 0;
        setting.march_ratio = 1.0;
        setting.march_axis[2] = 1.0;
        settings.push_back(setting);
    }
    pk_error error{};
    pk_pattern_model *made = nullptr;
    const int32_t status =
        pk_pattern_model_make(&instrument, settings.data(), static_cast<int32_t>(settings.size()),
                              nullptr, 0, x.front(), x.back(), &made, &error);
    const PatternModelHandle model(made);
    check(status, error);
    const std::vector<double> total = compute(*model, PK_PART_TOTAL, x);
    if (options.output_dir.empty()) return twoColumns(x, total);

    // Everything is computed before the first file is written.
    const bool several = phases.size() > 1;
    PlotData plot;
    std::string names;
    Table reflexions(reflexionColumns(several));
    for (size_t p = 0; p < phases.size(); ++p) {
        const std::string name = pk_phase_name(phases[p].get());
        const ReflexionListHandle list =
            makeReflexionList(*phases[p], instrument, PK_LIMIT_X_MAX, x.back());
        addReflexionRows(reflexions, *list, several ? &name : nullptr, x.front());
        PlotPhase phase;
        phase.name = name;
        const int32_t index = static_cast<int32_t>(p);
        if (several) phase.y = compute(*model, index, x);
        phase.positions = peakPositions(*model, index, pk_reflexion_list_count(list.get()) + 64);
        plot.phases.push_back(std::move(phase));
        names += (p > 0 ? " + " : "") + name;
    }
    const std::string title = names + ", " + describeSource(options.source, instrument);
    const std::string xy = "# powderkit pattern: " + title + "\n# two_theta\tintensity\n" +
                           twoColumns(x, total);
    plot.title = title;
    plot.x = x;
    plot.total = total;
    const std::string svg = svgPlot(plot);

    writeOutputSet(options.output_dir, {{"pattern.xy", xy}, {"reflexions.tsv", reflexions.text()}, {"pattern.svg", svg}});
    return "";
}

}  // namespace powderkit::cli
