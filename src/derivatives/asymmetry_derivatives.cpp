// The asymmetry members of the three constant-wavelength shapes, the members
// each shape has on its own. The Gaussian applies the Rietveld factor below
// the cut-off, whatever the sign of P; the Lorentzian and pseudo-Voigt move
// the shifted points of their five-point average, and so are 0 whenever the
// shape is evaluated symmetric.
#include <cmath>

#include "derivatives/profile_derivatives.hpp"

namespace powderkit {

// ∂(G × (1 − P |Δ| Δ / t))/∂P = −(|Δ| Δ / t) G, whatever the sign of P.
double DiffGaussianProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                       RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!isBelowAsymmetryCutoff(twoTheta)) return 0.0;
    const double delta = x - twoTheta;
    const double t = std::tan(braggAngle(twoTheta));
    return -(std::fabs(delta) * delta / t) * unitGaussian(delta, gaussianFwhm(profile, twoTheta));
}

double DiffLorentzianProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                         RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!usesAsymmetryAverage(profile->asymmetry, twoTheta)) return 0.0;
    const double hL = lorentzianFwhm(profile, twoTheta);
    const auto centreRate = [&](double position) {
        return diffLorentzianWrtCentre(position, twoTheta, hL);
    };
    return diffAsymmetryAverageWrtAsymmetry(centreRate, x, profile->asymmetry,
                                            asymmetryShifts(twoTheta));
}

double DiffPseudoVoigtProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!usesAsymmetryAverage(profile->asymmetry, twoTheta)) return 0.0;
    PseudoVoigtWidths widths;
    pseudoVoigtWidths(reflexion, profile, &widths);
    const double h = widths.fwhm;
    const double eta = widths.eta;
    const auto centreRate = [&](double position) {
        return (1.0 - eta) * diffGaussianWrtCentre(position, twoTheta, h) +
               eta * diffLorentzianWrtCentre(position, twoTheta, h);
    };
    return diffAsymmetryAverageWrtAsymmetry(centreRate, x, profile->asymmetry,
                                            asymmetryShifts(twoTheta));
}

}  // namespace powderkit
