// Keeping a phase's plane sets while its cell is refined. A set's d obeys
// 1/d² = hᵀ G* h with G* the reciprocal metric. For the kept cell (G*₀) and
// the current one (G*), hᵀ G* h ≥ λ hᵀ G*₀ h for every h, where λ is the
// least eigenvalue of G* v = λ G*₀ v. A set with d ≥ dMin now therefore had
// 1/d₀² ≤ 1/(λ dMin²), so the kept list (every set with d₀ ≥ limit) holds
// them all while limit ≤ dMin √λ. The sets, representatives and
// multiplicities depend on the symmetry alone; only d is measured again.
#include "boundary/constants.hpp"
#include "reflexions/plane_set_cache.hpp"

#include <Eigen/Dense>
#include <cmath>

namespace powderkit::phase {

namespace {

constexpr double kMargin = 0.97;  // the kept list goes 3 % below the limit asked for

// G* = G⁻¹, G the direct metric of a b c α β γ.
Eigen::Matrix3d reciprocalMetric(const std::array<double, 6> &cell) {
    const double ca = std::cos(cell[3] * kDegreesToRadians), cb = std::cos(cell[4] * kDegreesToRadians);
    const double cg = std::cos(cell[5] * kDegreesToRadians);
    Eigen::Matrix3d g;
    g << cell[0] * cell[0], cell[0] * cell[1] * cg, cell[0] * cell[2] * cb,  //
        cell[0] * cell[1] * cg, cell[1] * cell[1], cell[1] * cell[2] * ca,   //
        cell[0] * cell[2] * cb, cell[1] * cell[2] * ca, cell[2] * cell[2];
    return g.inverse();
}

// Whether every set with d ≥ dMin for `cell` is among the kept ones.
bool keptListHolds(const std::array<double, 6> &keptCell, double keptLimit, const std::array<double, 6> &cell,
                   double dMin) {
    if (keptLimit <= 0.0) return false;
    if (cell == keptCell) return keptLimit <= dMin;
    const Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::Matrix3d> solver(reciprocalMetric(cell),
                                                                           reciprocalMetric(keptCell));
    if (solver.info() != Eigen::Success) return false;
    const double least = solver.eigenvalues().minCoeff();
    return least > 0.0 && keptLimit <= dMin * std::sqrt(least);
}

}  // namespace

const std::vector<PlaneSet> &PlaneSetCache::setsOf(const pk_phase &phase, double dMin) {
    const std::array<double, 6> &cell = phase.description.cell;
    if (!keptListHolds(keptCell_, keptLimit_, cell, dMin)) {
        kept_ = planeSetsOf(phase, dMin * kMargin);
        keptCell_ = cell;
        keptLimit_ = dMin * kMargin;
    }
    current_.clear();
    for (const PlaneSet &set : kept_) {
        const double d = dSpacingForHKL(phase.crystal.get(), set.hkl[0], set.hkl[1], set.hkl[2]);
        if (d >= dMin) current_.push_back({set.hkl, set.multiplicity, d});
    }
    sortPlaneSets(current_);
    return current_;
}

}  // namespace powderkit::phase
