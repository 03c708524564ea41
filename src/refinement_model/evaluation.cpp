// The calculated pattern of a refinement's current values: each phase's
// peaks rebuilt from its description (the pattern model's own code), its
// pattern at scale 1, and the sum with the Chebyshev background. Le Bail
// extraction and R-Bragg share one partition of the observed pattern among
// the reflexions.
#include <cmath>

#include "boundary/boundary.hpp"
#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// The peaks of a phase's current values; in Le Bail its intensities are the
// extracted ones (a reflexion not yet extracted starts at the mean of the
// others, or at 1).
void rebuildPhase(pk_refinement &r, PhaseModel &model) {
    phase::validateDescription(model.description, model.name);
    pk_phase current;
    current.description = model.description;
    current.crystal = phase::buildCrystal(current.description);
    model.density = calculateDensity(current.crystal.get());
    pk_phase_setting setting{};
    setting.phase = &current;
    setting.scale = 1.0;
    setting.profile = &model.profile;
    setting.use_march = model.useMarch ? 1 : 0;
    setting.march_ratio = model.marchRatio;
    for (std::size_t i = 0; i < 3; ++i) setting.march_axis[i] = model.marchAxis[i];
    model.peaks =
        phase::makePhasePeaks(r.instrument, setting, model.name, r.x.front(), r.x.back(), &model.planeSets, r.difB);
    if (r.options.mode == PK_REFINE_LE_BAIL) {
        double mean = 1.0;
        if (!model.extracted.empty()) {
            double sum = 0.0;
            for (const auto &entry : model.extracted) sum += entry.second;
            mean = sum / static_cast<double>(model.extracted.size());
        }
        auto &reflexions = model.peaks.reflexions;
        const std::size_t primaries = model.peaks.primaryCount;
        for (std::size_t n = 0; n < primaries; ++n) {
            Reflexion &primary = reflexions[n];
            const auto found = model.extracted.find({primary.h, primary.k, primary.l});
            const double intensity = found != model.extracted.end() ? found->second : mean;
            if (n + primaries < reflexions.size()) {
                // The Kα2 companion keeps its ratio to its Kα1 reflexion.
                Reflexion &companion = reflexions[n + primaries];
                const double ratio =
                    primary.intensity > 0.0 ? companion.intensity / primary.intensity : r.instrument.ratio2;
                companion.intensity = ratio * intensity;
            }
            primary.intensity = intensity;
        }
    }
    if (r.windowsFrozen && model.windows.size() == model.peaks.halfWidths.size()) {
        model.peaks.halfWidths = model.windows;
    }
    model.unit.assign(r.x.size(), 0.0);
    phase::addPhase(model.peaks, r.x.data(), static_cast<int32_t>(r.x.size()), model.unit.data());
}

// Each primary reflexion's share of the observed pattern, Σ_i c_ik R_i and
// Σ_i c_ik, where c_ik is what reflexion k (with its Kα2 companion) adds to
// point i and R_i = (y_i − b_i)/(y_calc,i − b_i).
void partition(const pk_refinement &r, const PhaseModel &model, std::vector<double> &observed,
               std::vector<double> &calculated) {
    const std::size_t primaries = model.peaks.primaryCount;
    observed.assign(primaries, 0.0);
    calculated.assign(primaries, 0.0);
    phase::visitPeakPoints(model.peaks, r.x.data(), static_cast<int32_t>(r.x.size()),
                           [&](std::size_t n, int32_t i, double value) {
                               const auto point = static_cast<std::size_t>(i);
                               const double net = r.calculated[point] - r.backgroundCurve[point];
                               if (r.weight[point] <= 0.0 || !(net > 0.0)) return;
                               const double share = model.scale * model.peaks.reflexions[n].intensity * value;
                               const std::size_t k = n < primaries ? n : n - primaries;
                               observed[k] += share * (r.y[point] - r.backgroundCurve[point]) / net;
                               calculated[k] += share;
                           });
}

}  // namespace

void freezeWindows(pk_refinement &r, bool frozen) {
    for (pk_refinement &member : r.members) freezeWindows(member, frozen);
    r.windowsFrozen = frozen;
    for (PhaseModel &model : r.phases) model.windows = frozen ? model.peaks.halfWidths : std::vector<double>{};
}

void evaluate(pk_refinement &r, const std::vector<bool> &phases) {
    if (isJoint(r)) {
        evaluateMembers(r, phases, {});
        return;
    }
    const std::size_t count = r.x.size();
    // A value set by name (a negative μR, say) is refused here, naming the field.
    phase::validateInstrument(r.instrument);
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        if (phases.empty() || phases[p]) rebuildPhase(r, r.phases[p]);
    }
    if (!r.backgroundCurveValid || r.backgroundCurveOf != r.background || r.backgroundCurve.size() != count) {
        // Σ_k b_k T_k(u) in the core's order (k ascending from a sum of 0), from the polynomials kept
        // over the points: the core's BackgroundIntensity without its powers rebuilt at every point.
        r.backgroundCurve.assign(count, 0.0);
        for (int k = 0; k < r.options.background_count; ++k) {
            const std::vector<double> &polynomial = chebyshevColumn(r, k);
            const double coefficient = r.background[static_cast<std::size_t>(k)];
            for (std::size_t i = 0; i < count; ++i) r.backgroundCurve[i] += polynomial[i] * coefficient;
        }
        r.backgroundCurveOf = r.background;
        r.backgroundCurveValid = true;
    }
    r.calculated = r.backgroundCurve;
    for (const PhaseModel &model : r.phases) {
        for (std::size_t i = 0; i < count; ++i) r.calculated[i] += model.scale * model.unit[i];
    }
}

double chiSquared(const pk_refinement &r) {
    double sum = 0.0;
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        const double residual = r.y[i] - r.calculated[i];
        sum += r.weight[i] * residual * residual;
    }
    return sum;
}

// What an extracted intensity keeps when its share of the pattern is negative.
constexpr double kShrinkage = 1e-3;

void extractIntensities(pk_refinement &r) {
    if (isJoint(r)) {
        for (pk_refinement &member : r.members) extractIntensities(member);
        gatherMembers(r);
        return;
    }
    std::vector<double> observed, calculated;
    for (PhaseModel &model : r.phases) {
        partition(r, model, observed, calculated);
        for (std::size_t k = 0; k < model.peaks.primaryCount; ++k) {
            const Reflexion &reflexion = model.peaks.reflexions[k];
            if (!(calculated[k] > 0.0)) continue;
            // A share that comes out negative (noise on a weak line, a background
            // not yet fitted) shrinks the intensity a thousandfold instead of
            // zeroing it: the multiplicative update could never raise a zero again.
            const double intensity = reflexion.intensity * observed[k] / calculated[k];
            model.extracted[{reflexion.h, reflexion.k, reflexion.l}] =
                intensity > 0.0 ? intensity : kShrinkage * reflexion.intensity;
        }
    }
    evaluate(r, {});
}

void computeBraggResiduals(pk_refinement &r) {
    if (isJoint(r)) {
        // Each histogram's own; the joint phases report the first's.
        for (pk_refinement &member : r.members) computeBraggResiduals(member);
        for (std::size_t p = 0; p < r.phases.size(); ++p) r.phases[p].rBragg = r.members.front().phases[p].rBragg;
        return;
    }
    std::vector<double> observed, calculated;
    for (PhaseModel &model : r.phases) {
        partition(r, model, observed, calculated);
        double difference = 0.0;
        double total = 0.0;
        for (std::size_t k = 0; k < observed.size(); ++k) {
            if (!(calculated[k] > 0.0)) continue;
            // Both intensities in the same units: the shares summed over the points.
            difference += std::fabs(observed[k] - calculated[k]);
            total += std::fabs(observed[k]);
        }
        model.rBragg = total > 0.0 ? 100.0 * difference / total : 0.0;
    }
}

const std::vector<double> &chebyshevColumn(pk_refinement &r, int k) {
    std::vector<double> &column = r.chebyshev[static_cast<std::size_t>(k)];
    if (column.size() != r.x.size()) {
        std::array<double, PK_BACKGROUND_COEFFICIENTS> unit{};
        unit[static_cast<std::size_t>(k)] = 1.0;
        column.resize(r.x.size());
        for (std::size_t i = 0; i < r.x.size(); ++i) {
            column[i] = BackgroundIntensity(unit.data(), r.x[i], r.xMin, r.xMax);
        }
    }
    return column;
}

}  // namespace powderkit::refinement
