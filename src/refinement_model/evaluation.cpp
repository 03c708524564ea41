// The calculated pattern of a refinement's current values: each phase's
// peaks rebuilt from its description (the pattern model's own code), its
// pattern at scale 1, and the sum with the Chebyshev background. Le Bail
// extraction and R-Bragg share one partition of the observed pattern among
// the reflexions.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "boundary/boundary.hpp"
#include "boundary/parallel.hpp"
#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// The peaks of a phase's current values (its unit pattern is not made); in Le Bail its intensities are the
// extracted ones (a reflexion not yet extracted starts at the mean of the
// others, or at 1).
void rebuildPhase(pk_refinement &r, PhaseModel &model, std::size_t threads) {
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
        phase::makePhasePeaks(r.instrument, setting, model.name, r.x.front(), r.x.back(), &model.planeSets, r.difB,
                              threads);
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
}

// The marked phases' peaks remade (all when `phases` is empty), one phase
// after another, each one's reflexions shared among the threads, their
// windows over the points found once for every pass over them, and their
// unit patterns sized for the points.
void remakePeaks(pk_refinement &r, const std::vector<bool> &phases, std::size_t threads) {
    // A value set by name (a negative μR, say) is refused here, naming the field.
    phase::validateInstrument(r.instrument);
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        if (!phases.empty() && !phases[p]) continue;
        rebuildPhase(r, r.phases[p], threads);
        r.phases[p].unit.resize(r.x.size());
        r.phases[p].peaks.ranges.resize(r.phases[p].peaks.reflexions.size());
    }
    phase::runShared(threads, [&](std::size_t share) {
        for (std::size_t p = 0; p < r.phases.size(); ++p) {
            if (!phases.empty() && !phases[p]) continue;
            phase::PhasePeaks &peaks = r.phases[p].peaks;
            const std::size_t n = peaks.reflexions.size();
            phase::findWindows(peaks, r.x.data(), static_cast<int32_t>(r.x.size()), n * share / threads,
                               n * (share + 1) / threads);
        }
    });
}

// The marked phases' unit patterns over the points first … last (each
// point's sum the same whoever makes it).
void addUnits(pk_refinement &r, const std::vector<bool> &phases, std::size_t first, std::size_t last) {
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        if (!phases.empty() && !phases[p]) continue;
        PhaseModel &model = r.phases[p];
        std::fill(model.unit.begin() + static_cast<std::ptrdiff_t>(first),
                  model.unit.begin() + static_cast<std::ptrdiff_t>(last) + 1, 0.0);
        phase::addPhase(model.peaks, r.x.data(), static_cast<int32_t>(r.x.size()), model.unit.data(),
                        static_cast<int32_t>(first), static_cast<int32_t>(last));
    }
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

// The points are summed and shared among threads in blocks of 2^kShareShift.
constexpr int kShareShift = 6;
constexpr std::size_t kBlock = std::size_t{1} << kShareShift;

// Σ w (y − y_calc)² over the block of points starting at `first`, in the
// order of the points.
double blockChiSquared(const pk_refinement &r, std::size_t first) {
    const std::size_t end = std::min(first + kBlock, r.x.size());
    double sum = 0.0;
    for (std::size_t i = first; i < end; ++i) {
        const double residual = r.y[i] - r.calculated[i];
        sum += r.weight[i] * residual * residual;
    }
    return sum;
}

// Where each of `shares` runs of the points ends, the runs of about equal
// work, cut between blocks of kBlock points (the work is counted per
// block, a window's at the block of its first point: a pass over the peaks
// and the blocks, not over the points). Measured in memory-bound
// multiply-adds (about half a nanosecond): a point of a peak's window costs
// two, a point's sum one a phase and one a polynomial of the background when
// that is remade (`polynomials`).
std::vector<std::size_t> pointShares(const pk_refinement &r, const std::vector<bool> &phases, std::size_t shares,
                                     std::size_t polynomials) {
    const std::size_t count = r.x.size();
    std::vector<std::size_t> ends(shares, count);
    if (shares < 2) return ends;
    const std::size_t blocks = (count >> kShareShift) + 1;
    std::vector<std::int64_t> work(blocks, 0);
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        if (phases.empty() || phases[p])
            phase::addWindowWork(r.phases[p].peaks, r.x.data(), static_cast<int32_t>(count), kShareShift, work);
    }
    const auto point = static_cast<std::int64_t>(r.phases.size() + polynomials);
    const auto pointsOf = [&](std::size_t b) {
        return static_cast<std::int64_t>(std::min(count, (b + 1) << kShareShift) - (b << kShareShift));
    };
    std::int64_t total = 0;
    for (std::size_t b = 0; b < blocks; ++b) total += point * pointsOf(b) + 2 * work[b];
    std::int64_t done = 0;
    std::size_t share = 0;
    for (std::size_t b = 0; b < blocks && share + 1 < shares; ++b) {
        done += point * pointsOf(b) + 2 * work[b];
        while (share + 1 < shares && done * static_cast<std::int64_t>(shares) >= total * static_cast<std::int64_t>(share + 1))
            ends[share++] = std::min(count, (b + 1) << kShareShift);
    }
    return ends;
}

}  // namespace

void freezeWindows(pk_refinement &r, bool frozen) {
    for (pk_refinement &member : r.members) freezeWindows(member, frozen);
    r.windowsFrozen = frozen;
    for (PhaseModel &model : r.phases) model.windows = frozen ? model.peaks.halfWidths : std::vector<double>{};
}

void rebuildPhases(pk_refinement &r, const std::vector<bool> &phases) {
    remakePeaks(r, phases, 1);
    if (!r.x.empty()) addUnits(r, phases, 0, r.x.size() - 1);
}

double evaluate(pk_refinement &r, const std::vector<bool> &phases, int threads) {
    if (isJoint(r)) {
        evaluateMembers(r, phases, {}, threads);
        return chiSquared(r);
    }
    const std::size_t count = r.x.size();
    const auto shares = static_cast<std::size_t>(std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(static_cast<std::int64_t>(count), 1)));
    remakePeaks(r, phases, shares);
    // Σ_k b_k T_k(u) in the core's order (k ascending from a sum of 0), from the polynomials kept over the
    // points: the core's BackgroundIntensity without its powers rebuilt at every point. Remade only when the
    // coefficients moved.
    const bool background =
        !r.backgroundCurveValid || r.backgroundCurveOf != r.background || r.backgroundCurve.size() != count;
    std::vector<const double *> polynomials;
    for (int k = 0; background && k < r.options.background_count; ++k) polynomials.push_back(chebyshevColumn(r, k).data());
    if (background) r.backgroundCurve.resize(count);
    r.calculated.resize(count);
    // The points in one run each per thread, the runs of equal work: the unit patterns, the background, then
    // background plus the phases at their scales.
    const std::vector<std::size_t> ends = pointShares(r, phases, shares, polynomials.size());
    // A thread's copy for the Jacobian works without the measured data: its χ² is not a number.
    const bool measured = r.y.size() == count && r.weight.size() == count;
    std::vector<double> partials(measured ? (count + kBlock - 1) / kBlock : 0);
    phase::runShared(shares, [&](std::size_t share) {
        const std::size_t first = share == 0 ? 0 : ends[share - 1], end = ends[share];
        if (first >= end) return;
        addUnits(r, phases, first, end - 1);
        if (background) {
            std::fill(r.backgroundCurve.begin() + static_cast<std::ptrdiff_t>(first),
                      r.backgroundCurve.begin() + static_cast<std::ptrdiff_t>(end), 0.0);
            for (std::size_t k = 0; k < polynomials.size(); ++k) {
                const double coefficient = r.background[k];
                for (std::size_t i = first; i < end; ++i) r.backgroundCurve[i] += polynomials[k][i] * coefficient;
            }
        }
        for (std::size_t i = first; i < end; ++i) r.calculated[i] = r.backgroundCurve[i];
        for (const PhaseModel &model : r.phases) {
            for (std::size_t i = first; i < end; ++i) r.calculated[i] += model.scale * model.unit[i];
        }
        // χ² by blocks while the run's points are at hand (runs begin on a block's first point).
        for (std::size_t b = first / kBlock; measured && b * kBlock < end; ++b) partials[b] = blockChiSquared(r, b * kBlock);
    });
    if (background) {
        r.backgroundCurveOf = r.background;
        r.backgroundCurveValid = true;
    }
    if (!measured) return std::numeric_limits<double>::quiet_NaN();
    double chi2 = 0.0;
    for (double partial : partials) chi2 += partial;
    return chi2;
}

// Summed by blocks in their order, as evaluate() sums them: the same bits.
double chiSquared(const pk_refinement &r) {
    double sum = 0.0;
    for (std::size_t first = 0; first < r.x.size(); first += kBlock) sum += blockChiSquared(r, first);
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
