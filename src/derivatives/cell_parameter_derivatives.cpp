// Peak-position and intensity derivatives by cell parameter, by the chain
// rule through the d-spacing. A constant-wavelength peak sits at
// 2θ = 2 asin(λ/2d), so ∂(2θ)/∂d = −(180/π) λ / (d² √(1 − s²)) degrees per Å
// with s = λ/(2d). The intensity I ∝ L·P / V² moves through the cell volume
// and through the Lorentz-polarisation factor:
//   ∂I/∂p = ∂V/∂p · (−2I/V) + ∂(L·P)/∂d · (I / Lp) · ∂d/∂p,
// the scattering and temperature factors being held at their d.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {
namespace {

using DSpacingRate = double (*)(const RefinementCrystal *, const Reflexion *);
using VolumeRate = double (*)(const RefinementCrystal *);

// ∂(2θ)/∂d in degrees of 2θ per Å, at the reflexion's own wavelength.
double diffTwoThetaWrtDSpacing(const Reflexion *reflexion, const RefinementProfile *profile) {
    const double d = reflexion->dSpacing;
    const double wavelength = reflexion->isSecondaryWavelength != 0
                                  ? profile->secondaryWavelength
                                  : profile->wavelength;
    const double s = wavelength * 0.5 / d;
    return (1.0 / std::sqrt(1.0 - s * s)) * (-kRadiansToDegrees) * wavelength * (1.0 / (d * d));
}

// The d-spacing and volume rates of each cell parameter, in its order.
const DSpacingRate kDSpacingRates[kCellParameterCount] = {
    diffDSpacingWrtCellA,     diffDSpacingWrtCellB,    diffDSpacingWrtCellC,
    diffDSpacingWrtCellAlpha, diffDSpacingWrtCellBeta, diffDSpacingWrtCellGamma};
const VolumeRate kVolumeRates[kCellParameterCount] = {diffVolumeWrtA,     diffVolumeWrtB,
                                                      diffVolumeWrtC,     diffVolumeWrtAlpha,
                                                      diffVolumeWrtBeta,  diffVolumeWrtGamma};

int indexOf(CellParameter parameter) { return static_cast<int>(parameter); }

}  // namespace

double diffTwoThetaWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                           Reflexion *reflexion, RefinementProfile *profile) {
    return kDSpacingRates[indexOf(parameter)](crystal, reflexion) *
           diffTwoThetaWrtDSpacing(reflexion, profile);
}

double diffReflexionIntensityWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                                     Reflexion *reflexion, RefinementProfile *profile) {
    const double intensity = reflexion->intensity;
    return kVolumeRates[indexOf(parameter)](crystal) * (-2.0 * intensity / crystal->volume) +
           diffLorentzPolarizationWrtDSpacing(reflexion, profile) *
               (intensity / reflexion->lorentzPolarization) *
               kDSpacingRates[indexOf(parameter)](crystal, reflexion);
}

}  // namespace powderkit
