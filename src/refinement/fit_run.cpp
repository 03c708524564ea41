// A whole run: the starting values, then the free parameters released in
// stages in the order practitioners use (scale and background; then the
// zero shift, displacement and cells; then the profile; then coordinates;
// then displacement parameters, occupancies and the other intensity terms),
// each stage running Levenberg–Marquardt until it converges or uses its share
// of the cycles. Parameters the data cannot determine, and one of each pair
// correlated beyond 0.99 at the end, are fixed and named; the run stops early
// only when a step cannot lower χ² or the host asks. Then the statistics, the
// esd's √((JᵀWJ)⁻¹_jj · χ²/(N − P)), the correlations (the normalised
// inverse), and the verdict.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

#include "boundary/boundary.hpp"
#include "boundary/parallel.hpp"
#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Pairs correlated beyond this are not both determined: one is fixed.
constexpr double kCorrelationLimit = 0.99;
// The fewest cycles an early stage may use (a cell started 1 % off takes a few).
constexpr int kStageCycles = 8;
// Cycles given to the free set again after a parameter of a correlated pair was fixed.
constexpr int kSettleCycles = 10;

struct Stage {
    const char *name;
    std::vector<Target> targets;
    std::vector<int> profileTerms;  // of Target::Profile, these fields alone (empty: all)
};

// The order the free set is released in; a stage that frees nothing new is skipped.
// The 2θ profile's constant widths W and X come before U, V and Y: released
// together from far off, the Caglioti terms can drive H_G² to 0 at one end of
// the range, where the pseudo-Voigt's width grows as 1/H_G in them and their
// three columns become one (a broad Lorentzian peak, a narrow Gaussian part).
const std::vector<Stage> &stageOrder() {
    static const std::vector<Stage> order = {
        {"scale and background", {Target::Scale, Target::Background}, {}},
        {"zero, displacement and cells",
         {Target::Zero, Target::Displacement, Target::Transparency, Target::Calibration, Target::Cell, Target::Strain},
         {}},
        {"profile widths W and X", {Target::Profile}, {2, 3}},
        {"profile", {Target::Profile, Target::Asymmetry, Target::Axial}, {}},
        {"coordinates", {Target::Coordinate}, {}},
        {"displacement parameters and occupancies",
         {Target::Uiso, Target::Occupancy, Target::March, Target::Absorption, Target::RoughnessP,
          Target::RoughnessQ},
         {}},
    };
    return order;
}

}  // namespace

int stageOf(const Parameter &parameter) {
    const std::vector<Stage> &order = stageOrder();
    for (std::size_t s = 0; s < order.size(); ++s) {
        const Stage &stage = order[s];
        if (std::find(stage.targets.begin(), stage.targets.end(), parameter.target) == stage.targets.end()) continue;
        if (stage.profileTerms.empty() || std::find(stage.profileTerms.begin(), stage.profileTerms.end(),
                                                    parameter.index) != stage.profileTerms.end())
            return static_cast<int>(s);
    }
    return static_cast<int>(order.size()) - 1;
}

namespace {

void fillStatistics(pk_refinement &r, std::size_t freeCount) {
    double weightedSquares = 0.0;
    double absolute = 0.0;
    double observed = 0.0;
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        if (!(r.weight[i] > 0.0)) continue;
        weightedSquares += r.weight[i] * r.y[i] * r.y[i];
        absolute += std::fabs(r.y[i] - r.calculated[i]);
        observed += r.y[i];
    }
    const auto n = static_cast<int32_t>(weightedPointCount(r));
    const auto p = static_cast<int32_t>(freeCount);
    pk_refinement_summary &s = r.summary;
    s.points = n;
    s.free_count = p;
    s.chi2 = chiSquared(r);
    s.Rwp = calculateWeightedProfileResidual(s.chi2, weightedSquares);
    s.Rexp = calculateExpectedProfileResidual(n, p, weightedSquares);
    // The core's goodness of fit is χ²/(N − P), the reduced χ²; refinement
    // users read GoF as S = Rwp/Rexp, its square root.
    s.reduced_chi2 = n > p ? calculateGoodnessOfFit(s.chi2, n, p) : kNaN;
    s.GoF = std::sqrt(s.reduced_chi2);
    // Rp = 100 Σ|y − y_calc| / Σ y over the fitted points.
    s.Rp = observed != 0.0 ? 100.0 * absolute / observed : kNaN;
    if (isJoint(r)) fillHistogramStatistics(r, freeCount, fillStatistics);
}

// (JᵀWJ)⁻¹ in the scaled form: Â⁻¹.
Eigen::MatrixXd scaledInverse(const NormalEquations &e) {
    const auto size = e.scaled.rows();
    return e.scaled.ldlt().solve(Eigen::MatrixXd::Identity(size, size));
}

// Fixes, one at a time, a parameter of the most correlated pair beyond
// kCorrelationLimit (the one released later; of two in one stage, the later
// listed), the correlations worked out again after each; whether any was fixed.
bool fixCorrelatedPairs(pk_refinement &r, std::vector<int> &free) {
    bool any = false;
    while (free.size() >= 2) {
        freezeWindows(r, true);
        const NormalEquations e = normalEquations(r, free);
        freezeWindows(r, false);
        const Eigen::MatrixXd inverse = scaledInverse(e);
        double most = kCorrelationLimit;
        std::size_t first = 0, second = 0;
        for (std::size_t j = 0; j < free.size(); ++j) {
            for (std::size_t k = j + 1; k < free.size(); ++k) {
                const auto a = static_cast<Eigen::Index>(j), b = static_cast<Eigen::Index>(k);
                const double c = std::fabs(inverse(a, b) / std::sqrt(inverse(a, a) * inverse(b, b)));
                if (c > most) most = c, first = j, second = k;
            }
        }
        if (first == second) break;
        const Parameter &a = r.parameters[static_cast<std::size_t>(free[first])];
        const Parameter &b = r.parameters[static_cast<std::size_t>(free[second])];
        const std::size_t later = stageOf(a) > stageOf(b) ? first : second;
        std::ostringstream why;
        why << a.name << " and " << b.name << " correlated " << std::round(most * 10000.0) / 10000.0;
        fixUndetermined(r, free, {later}, why.str());
        any = true;
    }
    return any;
}

// esd's and correlations from Â at the final values; warnings for the
// parameters held at a limit.
void fillUncertainties(pk_refinement &r, const std::vector<int> &free) {
    freezeWindows(r, true);
    const NormalEquations e = normalEquations(r, free);
    freezeWindows(r, false);
    const auto size = static_cast<Eigen::Index>(free.size());
    const Eigen::MatrixXd inverse = scaledInverse(e);
    const double reduced = r.summary.reduced_chi2;
    r.correlationSize = static_cast<int32_t>(size);
    r.correlationOrder = free;
    r.correlations.assign(static_cast<std::size_t>(size * size), 0.0);
    std::ostringstream warnings;
    for (Eigen::Index j = 0; j < size; ++j) {
        Parameter &parameter = r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])];
        parameter.esd = std::sqrt(inverse(j, j) * reduced) / e.diagonal(j);
        if (parameter.state == PK_PARAMETER_AT_LIMIT) {
            warnings << parameter.name << " is held at its " << (parameter.value <= parameter.lower ? "lower" : "upper")
                     << " limit " << parameter.value << "\n";
        }
        for (Eigen::Index k = 0; k < size; ++k) {
            r.correlations[static_cast<std::size_t>(j * size + k)] =
                inverse(j, k) / std::sqrt(inverse(j, j) * inverse(k, k));
        }
    }
    r.warnings += warnings.str();
}

// The stop, R-Bragg, each phase's size and strain (whose warnings follow the run's), and the verdict.
void finish(pk_refinement &r, int32_t stop, int cycles, const std::string &reason) {
    r.warnings += sizeAndStrain(r);
    r.summary.stop = stop;
    r.summary.converged = stop == PK_STOP_CONVERGED ? 1 : 0;
    r.summary.cycles = cycles;
    r.stopReason = reason;
    r.stage.clear();
    computeBraggResiduals(r);
    judge(r);
}

// On a time-of-flight axis a cell and difC move every peak alike (d scales
// with the cell lengths, the flight time with difC): where no histogram has
// a wavelength to fix the scale, a free cell length beside every histogram's
// free difC leaves one of them undetermined, correlated or not. The first
// histogram's difC is fixed where it stands (the others refine against it)
// and the warnings and verdict say so.
void fixCalibrationBesideCells(pk_refinement &r, std::vector<int> &chosen) {
    const auto timeOfFlight = [](const pk_refinement &one) { return one.instrument.axis == PK_AXIS_TOF; };
    if (isJoint(r) ? !std::all_of(r.members.begin(), r.members.end(), timeOfFlight) : !timeOfFlight(r)) return;
    bool cell = false;
    std::vector<std::size_t> difC;
    for (std::size_t j = 0; j < chosen.size(); ++j) {
        const Parameter &parameter = r.parameters[static_cast<std::size_t>(chosen[j])];
        cell = cell || (parameter.target == Target::Cell && parameter.index < 3);
        if (parameter.target == Target::Calibration && parameter.index == 0) difC.push_back(j);
    }
    const std::size_t histograms = isJoint(r) ? r.members.size() : 1;
    if (!cell || difC.size() < histograms) return;
    fixUndetermined(r, chosen, {difC.front()},
                    "on a time-of-flight axis difC and the cell lengths scale every peak alike: free one of them");
}

}  // namespace

bool Progress::call(const pk_refinement &r, int cycle, double chi2, double damping) const {
    if (callback == nullptr) return false;
    double weightedSquares = 0.0;
    for (std::size_t i = 0; i < r.x.size(); ++i) weightedSquares += r.weight[i] * r.y[i] * r.y[i];
    const double rwp = calculateWeightedProfileResidual(chi2, weightedSquares);
    return callback(context, cyclesBefore + cycle, chi2, rwp, damping) != 0;
}

void runFit(pk_refinement &r, pk_refinement_progress callback, void *context) {
    // One team of threads for the whole run, its stages and statistics.
    const phase::ThreadTeam team(r.options.threads);
    r.summary = pk_refinement_summary{};
    r.correlations.clear();
    r.correlationSize = 0;
    r.correlationOrder.clear();
    r.warnings.clear();
    r.notes.clear();
    r.verdict.clear();
    std::vector<int> chosen;
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        Parameter &parameter = r.parameters[i];
        parameter.esd = kNaN;
        if (parameter.state == PK_PARAMETER_AT_LIMIT || parameter.state == PK_PARAMETER_UNDETERMINED) {
            parameter.state = PK_PARAMETER_FREE;
        }
        if (parameter.state == PK_PARAMETER_FREE) chosen.push_back(static_cast<int>(i));
    }
    fixCalibrationBesideCells(r, chosen);
    if (weightedPointCount(r) <= chosen.size()) {
        phase::fail(PK_ERROR_ARGUMENT, std::to_string(weightedPointCount(r)) + " weighted points cannot determine " +
                                            std::to_string(chosen.size()) + " free parameters");
    }
    // The starting values: a long start (a million points) reports itself as
    // cycle 0 every quarter second and may be stopped, which leaves every
    // parameter where it stood.
    r.stage = "starting values from the data";
    std::vector<double> given;
    for (const Parameter &parameter : r.parameters) given.push_back(parameter.value);
    if (callback != nullptr) {
        auto last = std::chrono::steady_clock::now();
        r.beat = [&r, callback, context, last]() mutable {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(250)) return;
            last = now;
            if (callback(context, 0, kNaN, kNaN, 0.0) != 0) throw StartStopped{};
        };
        if (callback(context, 0, kNaN, kNaN, 0.0) != 0) r.beat = [] { throw StartStopped{}; };
    }
    try {
        beat(r);
        startingValues(r);
        r.beat = nullptr;
    } catch (const StartStopped &) {
        r.beat = nullptr;
        for (std::size_t i = 0; i < r.parameters.size(); ++i) r.parameters[i].value = given[i];
        applyParameters(r);
        evaluate(r, {});
        fillStatistics(r, chosen.size());
        finish(r, PK_STOP_CALLBACK, 0, "stopped by the progress callback before the first cycle");
        return;
    }
    if (chosen.empty()) {
        fillStatistics(r, 0);
        finish(r, PK_STOP_NOTHING_FREE, 0, "no parameter is free");
        return;
    }
    // The stages: each frees the chosen parameters of its targets beside those of the stages before.
    std::vector<std::pair<std::string, int>> stages;  // name, last stage index it holds
    const std::vector<Stage> &order = stageOrder();
    if (r.options.stages != 0) {
        for (std::size_t s = 0; s < order.size(); ++s) {
            const bool frees = std::any_of(chosen.begin(), chosen.end(), [&](int index) {
                return stageOf(r.parameters[static_cast<std::size_t>(index)]) == static_cast<int>(s);
            });
            if (frees) stages.emplace_back(order[s].name, static_cast<int>(s));
        }
    } else {
        stages.emplace_back("every free parameter", static_cast<int>(order.size()));
    }
    Progress progress{callback, context, 0};
    int cyclesLeft = r.options.max_cycles;
    MinimiseOutcome outcome;
    std::vector<int> free;
    for (std::size_t s = 0; s < stages.size() && cyclesLeft > 0; ++s) {
        r.stage = stages[s].first;
        const bool last = s + 1 == stages.size();
        // The stage's free set: the chosen parameters of its targets and those before, less any found undetermined.
        free.clear();
        for (int index : chosen) {
            const Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
            if (parameter.state != PK_PARAMETER_UNDETERMINED && stageOf(parameter) <= stages[s].second)
                free.push_back(index);
        }
        const int share = last ? cyclesLeft : std::min(cyclesLeft, std::max(kStageCycles, r.options.max_cycles / 4));
        outcome = minimise(r, free, share, progress);
        cyclesLeft -= outcome.cycles;
        progress.cyclesBefore += outcome.cycles;
        if (outcome.stop == PK_STOP_CALLBACK) break;
        if (stages.size() > 1 && !last && outcome.stop != PK_STOP_CONVERGED) {
            r.notes += "stage \"" + stages[s].first + "\" ended after " + std::to_string(outcome.cycles) +
                       " cycles: " + outcome.reason + "\n";
        }
        if (last && outcome.stop != PK_STOP_CALLBACK && fixCorrelatedPairs(r, free)) {
            const MinimiseOutcome settled = minimise(r, free, std::max(kSettleCycles, cyclesLeft), progress);
            progress.cyclesBefore += settled.cycles;
            cyclesLeft -= settled.cycles;
            outcome.stop = settled.stop;
            outcome.reason = settled.reason;
        }
    }
    if (outcome.stop == PK_STOP_CYCLE_LIMIT) {
        outcome.reason = "the cycle limit (" + std::to_string(r.options.max_cycles) + ") was reached";
    }
    freezeWindows(r, false);
    evaluate(r, {});
    fillStatistics(r, free.size());
    if (!free.empty()) fillUncertainties(r, free);
    finish(r, outcome.stop, progress.cyclesBefore, outcome.reason);
}

}  // namespace powderkit::refinement
