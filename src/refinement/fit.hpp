// The pieces of the fit, on Eigen's dense matrices: the Jacobian, the normal
// equations, the Levenberg–Marquardt cycles over one set of free parameters,
// and the starting values worked out before the first cycle.
#ifndef POWDERKIT_REFINEMENT_FIT_HPP
#define POWDERKIT_REFINEMENT_FIT_HPP

#include <Eigen/Dense>
#include <memory>
#include <string>
#include <vector>

#include "refinement_model/refinement.hpp"
#include "starting_values/starting_values.hpp"

namespace powderkit::refinement {

// A refinement of one measured pattern (pk_refinement_make, its arguments
// checked there), its parameters listed and its pattern calculated.
std::unique_ptr<pk_refinement> makeRefinement(const pk_measured_pattern &measured, const pk_instrument &instrument,
                                              const pk_phase_setting *phases, int32_t phaseCount,
                                              const char *const *names, const pk_refinement_options &options);

// The result record of phases[index] (the refinement's, or a joint refinement's
// histogram's), its cell's esd's given.
void fillPhaseResult(const pk_refinement &refinement, const std::vector<PhaseModel> &phases, std::size_t index,
                     const std::array<double, 6> &cellEsd, pk_refinement_phase *phase);

// A phase's share of point i (its scale times its pattern at scale 1).
double phaseCurve(const pk_refinement &refinement, std::size_t phase, std::size_t i);

// The most threads a refinement's options may ask for.
constexpr int32_t kMostThreads = 64;

// ∂y_calc/∂p of every point (rows) by the free parameters `free` (columns),
// at the current values, which it leaves as they were. The differenced
// columns are shared among options.threads threads, each working on its own
// copy of the refinement; every column is the same to the bit as on one.
Eigen::MatrixXd jacobian(pk_refinement &refinement, const std::vector<int> &free);

// The normal equations scaled to a unit diagonal: Â = D⁻¹ JᵀWJ D⁻¹,
// ĝ = D⁻¹ JᵀW r, D the square roots of JᵀWJ's diagonal.
struct NormalEquations {
    Eigen::MatrixXd scaled;    // Â
    Eigen::VectorXd gradient;  // ĝ
    Eigen::VectorXd diagonal;  // D
};
NormalEquations normalEquations(pk_refinement &refinement, const std::vector<int> &free);

// The points that carry weight, and χ²/(N − P) for P free parameters (NaN when N ≤ P).
std::size_t weightedPointCount(const pk_refinement &refinement);
double reducedChiSquared(const pk_refinement &refinement, std::size_t freeCount);

// The host's progress callback, its cycle count running on across stages.
struct Progress {
    pk_refinement_progress callback = nullptr;
    void *context = nullptr;
    int cyclesBefore = 0;  // cycles of the stages already run
    // Calls the host (when it gave a callback) with the cycle, χ², Rwp and
    // damping; true when it asks to stop.
    bool call(const pk_refinement &refinement, int cycle, double chi2, double damping) const;
};

// A peak of the weighted difference curve: its position and its summed
// weighted residual in standard deviations.
struct ResidualPeak {
    double x, significance;
};

// The peaks of the weighted difference curve that no calculated line
// explains (at most five, the most significant), for the verdict and the report.
std::vector<ResidualPeak> unexplainedPeaks(const pk_refinement &refinement);

// How a run of cycles ended.
struct MinimiseOutcome {
    int32_t stop = PK_STOP_CYCLE_LIMIT;
    int cycles = 0;
    std::string reason;
};

// Levenberg–Marquardt cycles on `free` (parameter indices) until converged,
// stopped, or `cycles` run. Parameters the data cannot determine are fixed
// where they stand (state PK_PARAMETER_UNDETERMINED), named in the
// refinement's warnings, and taken out of `free`.
MinimiseOutcome minimise(pk_refinement &refinement, std::vector<int> &free, int cycles, const Progress &progress);

// The parameters no data determine, as positions in `free`: every one with a
// zero diagonal, and for each eigenvector of Â whose eigenvalue is (nearly)
// zero the one of its large parts released last (of those, the largest part):
// fixing it leaves the others determined.
std::vector<std::size_t> undetermined(const pk_refinement &refinement, const std::vector<int> &free,
                                      const NormalEquations &equations);

// Takes the parameters at `positions` of `free` out of it, fixed where they
// stand as undetermined, with one warning naming them and `why`.
void fixUndetermined(pk_refinement &refinement, std::vector<int> &free, const std::vector<std::size_t> &positions,
                     const std::string &why);

// Joint refinements (joint_run.cpp): each member's statistics by `fill`
// with its share of the free parameters, and the pattern's reasons of the
// verdict of each histogram, named.
void fillHistogramStatistics(pk_refinement &refinement, std::size_t freeCount,
                             void (*fill)(pk_refinement &, std::size_t));
std::string jointPatternReasons(const pk_refinement &refinement);

// The stage (0 first) in which a parameter is released.
int stageOf(const Parameter &parameter);

// A whole run (fit_run.cpp): starting values, the stages, the statistics,
// esd's, correlations, stop reason, warnings, notes and verdict.
void runFit(pk_refinement &refinement, pk_refinement_progress progress, void *context);

// The verdict of a finished run: the reasons to doubt the fit into
// refinement.verdict and summary.doubtful.
void judge(pk_refinement &refinement);

// The reasons to doubt a fit that its difference curve shows: Kβ lines,
// peaks that no phase explains.
std::string patternReasons(const pk_refinement &refinement);

}  // namespace powderkit::refinement

#endif
