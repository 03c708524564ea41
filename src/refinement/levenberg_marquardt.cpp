// The fit: Levenberg–Marquardt on the weighted residuals r_i = y_i − y_calc,i
// with weights w_i = 1/σ_i². Each cycle solves
//   (Â + λ I) δ̂ = ĝ,  Â = D⁻¹ JᵀWJ D⁻¹,  ĝ = D⁻¹ JᵀW r,  δ = D⁻¹ δ̂,
// D the square roots of the normal matrix's diagonal (so λ is relative to
// each parameter's own curvature), by Eigen's LDLᵀ; λ shrinks tenfold after
// a step that lowers χ² and grows tenfold until one does. The esd's are
// √((JᵀWJ)⁻¹_jj · χ²/(N − P)), and the correlations the normalised inverse.
#include <cmath>
#include <limits>
#include <sstream>

#include "boundary/boundary.hpp"
#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Â (unit diagonal) is taken as singular when an eigenvalue falls below
// this: the data then fix some combination of parameters no better than to
// 1 part in 10⁵ of the rest.
constexpr double kSingularEigenvalue = 1e-10;
constexpr double kFirstDamping = 1e-3;
constexpr double kLargestDamping = 1e10;
// Le Bail extraction passes before each cycle's step: until χ² changes by
// less than this fraction, at most this many.
constexpr double kExtractionTolerance = 1e-6;
constexpr int kExtractionPasses = 400;

struct NormalEquations {
    Eigen::MatrixXd scaled;    // Â
    Eigen::VectorXd gradient;  // ĝ
    Eigen::VectorXd diagonal;  // D
};

NormalEquations normalEquations(pk_refinement &r, const std::vector<int> &free) {
    const Eigen::MatrixXd j = jacobian(r, free);
    const auto count = static_cast<Eigen::Index>(r.x.size());
    Eigen::VectorXd root(count);
    Eigen::VectorXd residual(count);
    for (Eigen::Index i = 0; i < count; ++i) {
        const auto point = static_cast<std::size_t>(i);
        root(i) = std::sqrt(r.weight[point]);
        residual(i) = r.y[point] - r.calculated[point];
    }
    // JᵀWJ = (W^½J)ᵀ(W^½J) as one symmetric rank-N update of the lower
    // triangle, mirrored; JᵀWr = (W^½J)ᵀ(W^½r).
    const Eigen::MatrixXd scaledJ = root.asDiagonal() * j;
    const auto size = static_cast<Eigen::Index>(free.size());
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(size, size);
    normal.selfadjointView<Eigen::Lower>().rankUpdate(scaledJ.transpose());
    normal = normal.selfadjointView<Eigen::Lower>();
    NormalEquations e;
    e.diagonal = normal.diagonal().cwiseSqrt();
    const Eigen::VectorXd inverse = e.diagonal.unaryExpr([](double d) { return d > 0.0 ? 1.0 / d : 0.0; });
    e.scaled = inverse.asDiagonal() * normal * inverse.asDiagonal();
    e.gradient = inverse.asDiagonal() * (scaledJ.transpose() * root.cwiseProduct(residual));
    return e;
}

// The parameters no data determine: a zero diagonal, or a large share of an
// eigenvector of Â whose eigenvalue is (nearly) zero.
std::vector<int> undetermined(const NormalEquations &e, const std::vector<int> &free) {
    std::vector<bool> marked(free.size(), false);
    for (std::size_t j = 0; j < free.size(); ++j) {
        if (!(e.diagonal(static_cast<Eigen::Index>(j)) > 0.0)) marked[j] = true;
    }
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(e.scaled);
    for (Eigen::Index k = 0; k < solver.eigenvalues().size(); ++k) {
        if (solver.eigenvalues()(k) > kSingularEigenvalue) continue;
        for (Eigen::Index j = 0; j < solver.eigenvectors().rows(); ++j) {
            if (e.diagonal(j) > 0.0 && std::fabs(solver.eigenvectors()(j, k)) > 0.3)
                marked[static_cast<std::size_t>(j)] = true;
        }
    }
    std::vector<int> found;
    for (std::size_t j = 0; j < free.size(); ++j) {
        if (marked[j]) found.push_back(free[j]);
    }
    return found;
}

std::size_t pointCount(const pk_refinement &r) {
    std::size_t n = 0;
    for (double w : r.weight) n += w > 0.0 ? 1 : 0;
    return n;
}

// Values plus δ, each held within its limits (and marked so).
bool step(pk_refinement &r, const std::vector<int> &free, const Eigen::VectorXd &shift) {
    for (std::size_t j = 0; j < free.size(); ++j) {
        Parameter &parameter = r.parameters[static_cast<std::size_t>(free[j])];
        double value = parameter.value + shift(static_cast<Eigen::Index>(j));
        parameter.state = PK_PARAMETER_FREE;
        if (value < parameter.lower || value > parameter.upper) {
            value = value < parameter.lower ? parameter.lower : parameter.upper;
            parameter.state = PK_PARAMETER_AT_LIMIT;
        }
        parameter.value = value;
    }
    applyParameters(r);
    try {
        evaluate(r, {});
    } catch (const phase::Failure &) {
        return false;
    }
    return true;
}

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
    const auto n = static_cast<int32_t>(pointCount(r));
    const auto p = static_cast<int32_t>(freeCount);
    pk_refinement_summary &s = r.summary;
    s.points = n;
    s.free_count = p;
    s.chi2 = chiSquared(r);
    s.Rwp = calculateWeightedProfileResidual(s.chi2, weightedSquares);
    s.Rexp = calculateExpectedProfileResidual(n, p, weightedSquares);
    s.GoF = n > p ? calculateGoodnessOfFit(s.chi2, n, p) : kNaN;
    // Rp = 100 Σ|y − y_calc| / Σ y over the fitted points.
    s.Rp = observed != 0.0 ? 100.0 * absolute / observed : kNaN;
}

// esd's and correlations from Â at the final values; warnings for the
// parameters held at a limit and for pairs correlated beyond 0.99.
void fillUncertainties(pk_refinement &r, const NormalEquations &e, const std::vector<int> &free,
                       std::ostringstream &warnings) {
    const auto size = static_cast<Eigen::Index>(free.size());
    const Eigen::MatrixXd inverse = e.scaled.ldlt().solve(Eigen::MatrixXd::Identity(size, size));
    const double reduced = r.summary.GoF;
    r.correlationSize = static_cast<int32_t>(size);
    r.correlationOrder = free;
    r.correlations.assign(static_cast<std::size_t>(size * size), 0.0);
    for (Eigen::Index j = 0; j < size; ++j) {
        Parameter &parameter = r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])];
        parameter.esd = std::sqrt(inverse(j, j) * reduced) / e.diagonal(j);
        if (parameter.state == PK_PARAMETER_AT_LIMIT) {
            warnings << parameter.name << " is held at its " << (parameter.value <= parameter.lower ? "lower" : "upper")
                     << " limit " << parameter.value << "\n";
        }
        for (Eigen::Index k = 0; k < size; ++k) {
            const double correlation = inverse(j, k) / std::sqrt(inverse(j, j) * inverse(k, k));
            r.correlations[static_cast<std::size_t>(j * size + k)] = correlation;
            if (k > j && std::fabs(correlation) > 0.99) {
                warnings << parameter.name << " and "
                         << r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(k)])].name
                         << " are correlated (" << correlation << ")\n";
            }
        }
    }
}

// The stop, R-Bragg, and each phase's size and strain (whose warnings follow the run's).
void finish(pk_refinement &r, int32_t stop, int cycles, const std::string &reason, const std::string &warnings) {
    r.warnings = warnings + sizeAndStrain(r);
    r.summary.stop = stop;
    r.summary.converged = stop == PK_STOP_CONVERGED ? 1 : 0;
    r.summary.cycles = cycles;
    r.stopReason = reason;
    computeBraggResiduals(r);
}

}  // namespace

void runFit(pk_refinement &r, pk_refinement_progress progress, void *context) {
    r.summary = pk_refinement_summary{};
    r.correlations.clear();
    r.correlationSize = 0;
    r.correlationOrder.clear();
    std::vector<int> free;
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        Parameter &parameter = r.parameters[i];
        parameter.esd = kNaN;
        if (parameter.state == PK_PARAMETER_AT_LIMIT || parameter.state == PK_PARAMETER_UNDETERMINED) {
            parameter.state = PK_PARAMETER_FREE;
        }
        if (parameter.state == PK_PARAMETER_FREE) free.push_back(static_cast<int>(i));
    }
    if (pointCount(r) <= free.size()) {
        phase::fail(PK_ERROR_ARGUMENT, std::to_string(pointCount(r)) + " weighted points cannot determine " +
                                            std::to_string(free.size()) + " free parameters");
    }
    startingValues(r);
    const bool leBail = r.options.mode == PK_REFINE_LE_BAIL;
    std::ostringstream warnings;
    if (free.empty()) {
        fillStatistics(r, 0);
        finish(r, PK_STOP_NOTHING_FREE, 0, "no parameter is free", "");
        return;
    }
    double damping = kFirstDamping;
    double chi2 = chiSquared(r);
    int cycle = 0;
    int32_t stop = PK_STOP_CYCLE_LIMIT;
    std::string reason = "the cycle limit (" + std::to_string(r.options.max_cycles) + ") was reached";
    while (cycle < r.options.max_cycles) {
        // Le Bail: the intensities follow the pattern for the current
        // values before the values move; χ² counts from before that.
        const double before = chi2;
        freezeWindows(r, false);
        evaluate(r, {});
        // Passes until χ² settles (the extraction is a fixed-point iteration that
        // slows where peaks overlap), at most kExtractionPasses.
        double settled = chiSquared(r);
        for (int pass = 0; leBail && pass < kExtractionPasses; ++pass) {
            extractIntensities(r);
            const double now = chiSquared(r);
            if (std::fabs(settled - now) <= kExtractionTolerance * now) break;
            settled = now;
        }
        chi2 = chiSquared(r);
        freezeWindows(r, true);
        const NormalEquations e = normalEquations(r, free);
        const std::vector<int> lost = undetermined(e, free);
        if (!lost.empty()) {
            std::string names;
            for (int index : lost) {
                r.parameters[static_cast<std::size_t>(index)].state = PK_PARAMETER_UNDETERMINED;
                names += (names.empty() ? "" : ", ") + r.parameters[static_cast<std::size_t>(index)].name;
            }
            warnings << "the data cannot determine " << names << "\n";
            stop = PK_STOP_SINGULAR;
            reason = "the normal matrix is singular: the data cannot determine " + names;
            break;
        }
        std::vector<double> start(free.size());
        for (std::size_t j = 0; j < free.size(); ++j) start[j] = r.parameters[static_cast<std::size_t>(free[j])].value;
        const auto size = static_cast<Eigen::Index>(free.size());
        bool improved = false;
        Eigen::VectorXd shift;
        double trial = chi2;
        while (damping <= kLargestDamping) {
            const Eigen::MatrixXd damped = e.scaled + damping * Eigen::MatrixXd::Identity(size, size);
            const Eigen::VectorXd scaledShift = damped.ldlt().solve(e.gradient);
            shift = scaledShift.cwiseQuotient(e.diagonal);
            trial = step(r, free, shift) ? chiSquared(r) : INFINITY;
            if (trial < chi2) {
                improved = true;
                damping = std::max(damping / 10.0, 1e-9);
                break;
            }
            for (std::size_t j = 0; j < free.size(); ++j)
                r.parameters[static_cast<std::size_t>(free[j])].value = start[j];
            damping *= 10.0;
        }
        ++cycle;
        if (!improved) {
            applyParameters(r);
            evaluate(r, {});
            damping = kFirstDamping;
            // No step lowers χ²: at its minimum to round-off, or lost.
            const bool atMinimum = e.gradient.norm() < 1e-6 * std::sqrt(chi2) || cycle > 1;
            stop = atMinimum ? PK_STOP_CONVERGED : PK_STOP_DIVERGED;
            reason = atMinimum ? "no step lowers χ² further" : "no step lowers χ², however damped";
            break;
        }
        fillStatistics(r, free.size());
        if (progress != nullptr && progress(context, cycle, trial, r.summary.Rwp, damping) != 0) {
            stop = PK_STOP_CALLBACK;
            reason = "stopped by the progress callback";
            break;
        }
        // Converged when χ² hardly changes and every shift is small beside its esd.
        const Eigen::MatrixXd inverse = e.scaled.ldlt().solve(Eigen::MatrixXd::Identity(size, size));
        const double reduced = r.summary.GoF;
        bool small = (before - trial) < r.options.chi2_tolerance * before;
        for (Eigen::Index j = 0; j < size && small; ++j) {
            const double esd = std::sqrt(inverse(j, j) * reduced) / e.diagonal(j);
            const double moved = r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])].value -
                                 start[static_cast<std::size_t>(j)];
            if (std::fabs(moved) > r.options.shift_tolerance * esd) small = false;
        }
        chi2 = trial;
        if (small) {
            stop = PK_STOP_CONVERGED;
            reason = "converged: χ² and every shift below their tolerances";
            break;
        }
    }
    freezeWindows(r, false);
    evaluate(r, {});
    fillStatistics(r, free.size());
    if (stop != PK_STOP_SINGULAR) {
        freezeWindows(r, true);
        const NormalEquations e = normalEquations(r, free);
        freezeWindows(r, false);
        fillUncertainties(r, e, free, warnings);
    }
    finish(r, stop, cycle, reason, warnings.str());
}

}  // namespace powderkit::refinement
