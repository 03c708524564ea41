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

double diffTwoTheta(const RefinementCrystal *crystal, const Reflexion *reflexion,
                    const RefinementProfile *profile, DSpacingRate dSpacingRate) {
    return dSpacingRate(crystal, reflexion) * diffTwoThetaWrtDSpacing(reflexion, profile);
}

double diffIntensity(const RefinementCrystal *crystal, const Reflexion *reflexion,
                     const RefinementProfile *profile, VolumeRate volumeRate,
                     DSpacingRate dSpacingRate) {
    const double intensity = reflexion->intensity;
    return volumeRate(crystal) * (-2.0 * intensity / crystal->volume) +
           diffLorentzPolarizationWrtDSpacing(reflexion, profile) *
               (intensity / reflexion->lorentzPolarization) * dSpacingRate(crystal, reflexion);
}

}  // namespace

double diffTwoThetaWrtCellA(RefinementCrystal *crystal, Reflexion *reflexion,
                            RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellA);
}

double diffTwoThetaWrtCellB(RefinementCrystal *crystal, Reflexion *reflexion,
                            RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellB);
}

double diffTwoThetaWrtCellC(RefinementCrystal *crystal, Reflexion *reflexion,
                            RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellC);
}

double diffTwoThetaWrtCellAlpha(RefinementCrystal *crystal, Reflexion *reflexion,
                                RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellAlpha);
}

double diffTwoThetaWrtCellBeta(RefinementCrystal *crystal, Reflexion *reflexion,
                               RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellBeta);
}

double diffTwoThetaWrtCellGamma(RefinementCrystal *crystal, Reflexion *reflexion,
                                RefinementProfile *profile) {
    return diffTwoTheta(crystal, reflexion, profile, diffDSpacingWrtCellGamma);
}

double DiffReflexionIntensityWrtCellA(RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtA, diffDSpacingWrtCellA);
}

double DiffReflexionIntensityWrtCellB(RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtB, diffDSpacingWrtCellB);
}

double DiffReflexionIntensityWrtCellC(RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtC, diffDSpacingWrtCellC);
}

double DiffReflexionIntensityWrtCellAlpha(RefinementCrystal *crystal, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtAlpha,
                         diffDSpacingWrtCellAlpha);
}

double DiffReflexionIntensityWrtCellBeta(RefinementCrystal *crystal, Reflexion *reflexion,
                                         RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtBeta, diffDSpacingWrtCellBeta);
}

double DiffReflexionIntensityWrtCellGamma(RefinementCrystal *crystal, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    return diffIntensity(crystal, reflexion, profile, diffVolumeWrtGamma,
                         diffDSpacingWrtCellGamma);
}

}  // namespace powderkit
