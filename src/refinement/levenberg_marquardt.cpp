// The cycles of the fit: Levenberg–Marquardt on the weighted residuals
// r_i = y_i − y_calc,i with weights w_i = 1/σ_i². Each cycle solves
//   (Â + λ I) δ̂ = ĝ,  Â = D⁻¹ JᵀWJ D⁻¹,  ĝ = D⁻¹ JᵀW r,  δ = D⁻¹ δ̂,
// D the square roots of the normal matrix's diagonal (so λ is relative to
// each parameter's own curvature), by Eigen's LDLᵀ; λ shrinks tenfold after
// a step that lowers χ² and grows tenfold until one does. A parameter the
// data cannot determine (a zero diagonal, or a share of an eigenvector of Â
// whose eigenvalue is nearly zero) is fixed where it stands, named, and the
// cycles go on with the others.
#include <algorithm>
#include <cmath>
#include <limits>

#include "boundary/boundary.hpp"
#include "boundary/parallel.hpp"
#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

// Â (unit diagonal) is taken as singular when an eigenvalue falls below
// this: the data then fix some combination of parameters no better than to
// 1 part in 10⁵ of the rest.
constexpr double kSingularEigenvalue = 1e-10;
// The share of such an eigenvector that marks a parameter as part of it.
constexpr double kSingularShare = 0.3;
constexpr double kFirstDamping = 1e-3;
constexpr double kLargestDamping = 1e10;
// Le Bail extraction passes before each cycle's step: until χ² changes by
// less than this fraction, at most this many.
constexpr double kExtractionTolerance = 1e-6;
constexpr int kExtractionPasses = 400;
// The normal equations' sums run over blocks of at most this many points,
// their count a multiple of kBlockGroups: 2, 3, 4 or 6 threads then share
// them evenly (an odd block left over cost a two-thread cycle 4 %).
constexpr Eigen::Index kBlockPoints = 4096;
constexpr Eigen::Index kBlockGroups = 12;

// Values plus δ, each held within its limits (and marked so); χ² there, or infinity when they make no
// pattern.
double step(pk_refinement &r, const std::vector<int> &free, const Eigen::VectorXd &shift) {
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
        return evaluate(r, {}, r.options.threads);
    } catch (const phase::Failure &) {
        return INFINITY;
    }
}

// The scaled gradient (the direction of descent) without the parts of values on a limit that it pushes
// beyond: those cannot move, so they say nothing of whether the fit is at its minimum.
Eigen::VectorXd projectedGradient(const pk_refinement &r, const std::vector<int> &free, const Eigen::VectorXd &gradient) {
    Eigen::VectorXd projected = gradient;
    for (std::size_t j = 0; j < free.size(); ++j) {
        const Parameter &parameter = r.parameters[static_cast<std::size_t>(free[j])];
        const auto i = static_cast<Eigen::Index>(j);
        if ((parameter.value >= parameter.upper && gradient(i) > 0.0) ||
            (parameter.value <= parameter.lower && gradient(i) < 0.0))
            projected(i) = 0.0;
    }
    return projected;
}

// Le Bail: the intensities follow the pattern for the current values before
// the values move, in passes until χ² settles (the extraction is a
// fixed-point iteration that slows where peaks overlap).
void followIntensities(pk_refinement &r) {
    double settled = chiSquared(r);
    for (int pass = 0; pass < kExtractionPasses; ++pass) {
        extractIntensities(r);
        const double now = chiSquared(r);
        if (std::fabs(settled - now) <= kExtractionTolerance * now) break;
        settled = now;
    }
}

}  // namespace

std::vector<std::size_t> undetermined(const pk_refinement &r, const std::vector<int> &free, const NormalEquations &e) {
    const auto size = static_cast<std::size_t>(e.diagonal.size());
    std::vector<bool> marked(size, false);
    for (std::size_t j = 0; j < size; ++j) {
        if (!(e.diagonal(static_cast<Eigen::Index>(j)) > 0.0)) marked[j] = true;
    }
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(e.scaled);
    for (Eigen::Index k = 0; k < solver.eigenvalues().size(); ++k) {
        if (solver.eigenvalues()(k) > kSingularEigenvalue) continue;
        Eigen::Index chosen = -1;
        for (Eigen::Index j = 0; j < solver.eigenvectors().rows(); ++j) {
            const double share = std::fabs(solver.eigenvectors()(j, k));
            if (!(e.diagonal(j) > 0.0) || share <= kSingularShare) continue;
            const auto stage = [&](Eigen::Index i) {
                return stageOf(r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(i)])]);
            };
            if (chosen < 0 || stage(j) > stage(chosen) ||
                (stage(j) == stage(chosen) && share > std::fabs(solver.eigenvectors()(chosen, k))))
                chosen = j;
        }
        if (chosen >= 0) marked[static_cast<std::size_t>(chosen)] = true;
    }
    std::vector<std::size_t> found;
    for (std::size_t j = 0; j < size; ++j) {
        if (marked[j]) found.push_back(j);
    }
    return found;
}

NormalEquations normalEquations(pk_refinement &r, const std::vector<int> &free) {
    const Eigen::MatrixXd j = jacobian(r, free);
    const auto count = static_cast<Eigen::Index>(r.x.size());
    // JᵀWJ = Σ_b (W^½J_b)ᵀ(W^½J_b) and JᵀWr = Σ_b (W^½J_b)ᵀ(W^½r_b) over blocks b of equal length (the last
    // shorter, some at the end empty on a short pattern), their bounds set by the point count alone: each
    // block's lower triangle by one symmetric rank update, the blocks shared among the threads and summed in
    // their order, so that the sums are the same to the bit whatever the number of threads.
    const auto size = static_cast<Eigen::Index>(free.size());
    const Eigen::Index blocks =
        kBlockGroups * std::max<Eigen::Index>(1, (count + kBlockGroups * kBlockPoints - 1) / (kBlockGroups * kBlockPoints));
    const Eigen::Index length = (count + blocks - 1) / blocks;
    std::vector<Eigen::MatrixXd> normals(static_cast<std::size_t>(blocks));
    std::vector<Eigen::VectorXd> gradients(static_cast<std::size_t>(blocks));
    const auto threads = static_cast<std::size_t>(std::clamp<Eigen::Index>(r.options.threads, 1, std::max<Eigen::Index>(blocks, 1)));
    phase::runShared(threads, [&](std::size_t share) {
        Eigen::VectorXd root, residual;
        for (auto b = static_cast<Eigen::Index>(share); b < blocks; b += static_cast<Eigen::Index>(threads)) {
            const Eigen::Index first = std::min(b * length, count);
            const Eigen::Index rows = std::min(length, count - first);
            Eigen::MatrixXd &normal = normals[static_cast<std::size_t>(b)];
            normal = Eigen::MatrixXd::Zero(size, size);
            if (rows == 0) {
                gradients[static_cast<std::size_t>(b)] = Eigen::VectorXd::Zero(size);
                continue;
            }
            root.resize(rows);
            residual.resize(rows);
            for (Eigen::Index i = 0; i < rows; ++i) {
                const auto point = static_cast<std::size_t>(first + i);
                root(i) = std::sqrt(r.weight[point]);
                residual(i) = root(i) * (r.y[point] - r.calculated[point]);
            }
            const Eigen::MatrixXd scaledJ = root.asDiagonal() * j.middleRows(first, rows);
            normal.selfadjointView<Eigen::Lower>().rankUpdate(scaledJ.transpose());
            gradients[static_cast<std::size_t>(b)] = scaledJ.transpose() * residual;
        }
    });
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(size, size);
    Eigen::VectorXd gradient = Eigen::VectorXd::Zero(size);
    for (std::size_t b = 0; b < normals.size(); ++b) {
        normal += normals[b];
        gradient += gradients[b];
    }
    normal = normal.selfadjointView<Eigen::Lower>();
    NormalEquations e;
    e.diagonal = normal.diagonal().cwiseSqrt();
    const Eigen::VectorXd inverse = e.diagonal.unaryExpr([](double d) { return d > 0.0 ? 1.0 / d : 0.0; });
    e.scaled = inverse.asDiagonal() * normal * inverse.asDiagonal();
    e.gradient = inverse.asDiagonal() * gradient;
    return e;
}

std::size_t weightedPointCount(const pk_refinement &r) {
    std::size_t n = 0;
    for (double w : r.weight) n += w > 0.0 ? 1 : 0;
    return n;
}

double reducedChiSquared(const pk_refinement &r, std::size_t freeCount) {
    const std::size_t n = weightedPointCount(r);
    return n > freeCount ? chiSquared(r) / static_cast<double>(n - freeCount)
                         : std::numeric_limits<double>::quiet_NaN();
}

void fixUndetermined(pk_refinement &r, std::vector<int> &free, const std::vector<std::size_t> &positions,
                     const std::string &why) {
    std::string names;
    std::vector<bool> lost(free.size(), false);
    for (std::size_t j : positions) {
        Parameter &parameter = r.parameters[static_cast<std::size_t>(free[j])];
        parameter.state = PK_PARAMETER_UNDETERMINED;
        names += (names.empty() ? "" : ", ") + parameter.name;
        lost[j] = true;
    }
    std::vector<int> kept;
    for (std::size_t j = 0; j < free.size(); ++j) {
        if (!lost[j]) kept.push_back(free[j]);
    }
    free = kept;
    r.warnings += "the data cannot determine " + names + " (" + why + "): fixed where they stood\n";
}

MinimiseOutcome minimise(pk_refinement &r, std::vector<int> &free, int cycles, const Progress &progress) {
    MinimiseOutcome outcome;
    outcome.reason = "the cycle limit was reached";
    const bool leBail = r.options.mode == PK_REFINE_LE_BAIL;
    double damping = kFirstDamping;
    // The threads the cycles share their work with, kept waiting between the shared parts.
    const phase::ThreadTeam team(r.options.threads);
    while (outcome.cycles < cycles && !free.empty()) {
        freezeWindows(r, false);
        double chi2 = evaluate(r, {}, r.options.threads);
        if (leBail) {
            followIntensities(r);
            chi2 = chiSquared(r);
        }
        freezeWindows(r, true);
        NormalEquations e = normalEquations(r, free);
        for (std::vector<std::size_t> lost = undetermined(r, free, e); !lost.empty() && !free.empty();
             lost = undetermined(r, free, e)) {
            fixUndetermined(r, free, lost, "the normal matrix is singular");
            if (!free.empty()) e = normalEquations(r, free);
        }
        if (free.empty()) break;
        std::vector<double> start(free.size());
        for (std::size_t j = 0; j < free.size(); ++j) start[j] = r.parameters[static_cast<std::size_t>(free[j])].value;
        const auto size = static_cast<Eigen::Index>(free.size());
        bool improved = false;
        double trial = chi2;
        while (damping <= kLargestDamping) {
            const Eigen::MatrixXd damped = e.scaled + damping * Eigen::MatrixXd::Identity(size, size);
            const Eigen::VectorXd shift = damped.ldlt().solve(e.gradient).cwiseQuotient(e.diagonal);
            trial = step(r, free, shift);
            if (trial < chi2) {
                improved = true;
                damping = std::max(damping / 10.0, 1e-9);
                break;
            }
            for (std::size_t j = 0; j < free.size(); ++j)
                r.parameters[static_cast<std::size_t>(free[j])].value = start[j];
            damping *= 10.0;
        }
        ++outcome.cycles;
        if (!improved) {
            applyParameters(r);
            evaluate(r, {}, r.options.threads);
            // No step lowers χ²: at its minimum to round-off (within the limits: a value on a limit that the
            // gradient pushes beyond it has no descent left there), or lost.
            const bool atMinimum = projectedGradient(r, free, e.gradient).norm() < 1e-6 * std::sqrt(chi2) ||
                                   outcome.cycles > 1;
            outcome.stop = atMinimum ? PK_STOP_CONVERGED : PK_STOP_DIVERGED;
            outcome.reason = atMinimum ? "no step lowers χ² further" : "no step lowers χ², however damped";
            return outcome;
        }
        if (progress.call(r, outcome.cycles, trial, damping)) {
            outcome.stop = PK_STOP_CALLBACK;
            outcome.reason = "stopped by the progress callback";
            return outcome;
        }
        // Converged when χ² hardly changes and every shift is small beside its esd (the esd's, a matrix
        // inverse and a pass over the points on the calling thread alone, only once χ² has settled).
        bool small = (chi2 - trial) < r.options.chi2_tolerance * chi2;
        const Eigen::MatrixXd inverse =
            small ? e.scaled.ldlt().solve(Eigen::MatrixXd::Identity(size, size)) : Eigen::MatrixXd();
        const double reduced = small ? reducedChiSquared(r, free.size()) : 0.0;
        for (Eigen::Index j = 0; j < size && small; ++j) {
            const double esd = std::sqrt(inverse(j, j) * reduced) / e.diagonal(j);
            const double moved = r.parameters[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])].value -
                                 start[static_cast<std::size_t>(j)];
            if (std::fabs(moved) > r.options.shift_tolerance * esd) small = false;
        }
        if (small) {
            outcome.stop = PK_STOP_CONVERGED;
            outcome.reason = "converged: χ² and every shift below their tolerances";
            return outcome;
        }
    }
    if (free.empty()) {
        outcome.stop = PK_STOP_CONVERGED;
        outcome.reason = "no parameter the data determine is left free";
    }
    return outcome;
}

}  // namespace powderkit::refinement
