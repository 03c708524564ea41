// How the cell volume moves with the six cell parameters, and the standard
// uncertainty of the volume propagated from the six cell uncertainties. The
// volume is written V = a b c sin α* sin β sin γ = a b sin γ / c*, so that a
// direct angle acts through its own sine and through the reciprocal angle α*.
// The parameters are taken as uncorrelated.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {

double diffVolumeWrtA(const RefinementCrystal *crystal) {
    return crystal->b * std::sin(crystal->gamma * kDegreesToRadians) / crystal->cStar;
}

double diffVolumeWrtB(const RefinementCrystal *crystal) {
    return crystal->a * std::sin(crystal->gamma * kDegreesToRadians) / crystal->cStar;
}

double diffVolumeWrtC(const RefinementCrystal *crystal) {
    return crystal->a * crystal->b * std::sin(crystal->gamma * kDegreesToRadians) *
           std::sin(crystal->alphaStar * kDegreesToRadians) *
           std::sin(crystal->beta * kDegreesToRadians);
}

double diffVolumeWrtAlpha(const RefinementCrystal *crystal) {
    const double rate = diffReciprocalAngleWrtOwnAngle(crystal->alpha, crystal->beta,
                                                       crystal->gamma);
    return rate * crystal->c * std::cos(crystal->alphaStar * kDegreesToRadians) *
           std::sin(crystal->beta * kDegreesToRadians) * crystal->a * crystal->b *
           std::sin(crystal->gamma * kDegreesToRadians);
}

double diffVolumeWrtBeta(const RefinementCrystal *crystal) {
    const double rate = diffReciprocalAngleWrtOtherAngle(crystal->alpha, crystal->beta,
                                                         crystal->gamma);
    const double alphaStar = crystal->alphaStar * kDegreesToRadians;
    const double beta = crystal->beta * kDegreesToRadians;
    return crystal->a * crystal->b * std::sin(crystal->gamma * kDegreesToRadians) *
           (rate * crystal->c * std::cos(alphaStar) * std::sin(beta) +
            crystal->c * std::sin(alphaStar) * std::cos(beta));
}

double diffVolumeWrtGamma(const RefinementCrystal *crystal) {
    const double rate = diffReciprocalAngleWrtOtherAngle(crystal->alpha, crystal->gamma,
                                                         crystal->beta);
    const double gamma = crystal->gamma * kDegreesToRadians;
    return crystal->a * crystal->b * std::cos(gamma) / crystal->cStar +
           rate * crystal->c * std::cos(crystal->alphaStar * kDegreesToRadians) *
               std::sin(crystal->beta * kDegreesToRadians) * crystal->a * crystal->b *
               std::sin(gamma);
}

}  // namespace powderkit

// σ(V) = √(Σ σ_p² (∂V/∂p)²) over γ, α, a, b, c, β in that order. The angle
// derivatives are per radian, so the angle entries of cellParameterErrors
// give a consistent σ(V) when the host keeps them in radians. A null crystal
// has no volume and gives 0.
extern "C" double UnitCellVolumeError(RefinementCrystal *crystal) {
    if (crystal == nullptr) return 0.0;
    using powderkit::diffVolumeWrtA;
    using powderkit::diffVolumeWrtAlpha;
    using powderkit::diffVolumeWrtB;
    using powderkit::diffVolumeWrtBeta;
    using powderkit::diffVolumeWrtC;
    using powderkit::diffVolumeWrtGamma;
    const double *sigma = crystal->cellParameterErrors;
    return std::sqrt(std::pow(sigma[5], 2.0) * std::pow(diffVolumeWrtGamma(crystal), 2.0) +
                     std::pow(sigma[3], 2.0) * std::pow(diffVolumeWrtAlpha(crystal), 2.0) +
                     std::pow(sigma[0], 2.0) * std::pow(diffVolumeWrtA(crystal), 2.0) +
                     std::pow(sigma[1], 2.0) * std::pow(diffVolumeWrtB(crystal), 2.0) +
                     std::pow(sigma[2], 2.0) * std::pow(diffVolumeWrtC(crystal), 2.0) +
                     std::pow(sigma[4], 2.0) * std::pow(diffVolumeWrtBeta(crystal), 2.0));
}
