// Widths and asymmetry shifts of the constant-wavelength peaks: the Caglioti
// Gaussian width H_G² = U tan²θ + V tanθ + W, the Lorentzian width
// H_L = LX / cosθ + LY tanθ, the Thompson–Cox–Hastings total width and mixing
// of the pseudo-Voigt (Thompson, Cox and Hastings, J. Appl. Cryst. 20 (1987)
// 79), and the shifts of the five-point asymmetry average, c (k/4)² with
// c = cot 2θ₀. The time-of-flight pseudo-Voigt uses the same total width and
// mixing with γ in place of H_L.
#include <cmath>

#include "frame/frame.hpp"
#include "profiles/profiles.hpp"

namespace powderkit {

double braggAngle(double twoTheta) { return twoTheta * 0.5 * kDegreesToRadians; }

double gaussianFwhm(const RefinementProfile *profile, double twoTheta) {
    const double t = std::tan(braggAngle(twoTheta));
    return std::sqrt(profile->U * (t * t) + profile->V * t + profile->W);
}

double lorentzianFwhm(const RefinementProfile *profile, double twoTheta) {
    const double theta = braggAngle(twoTheta);
    return profile->LX / std::cos(theta) + profile->LY * std::tan(theta);
}

// H = (H_G⁵ + 2.69269 H_G⁴ H_L + 2.42843 H_G³ H_L² + 4.47163 H_G² H_L³
//      + 0.07842 H_G H_L⁴ + H_L⁵)^(1/5)
double thompsonCoxHastingsFwhm(double hG, double hL) {
    const double g2 = hG * hG, g3 = g2 * hG, g4 = g3 * hG, g5 = g4 * hG;
    const double l2 = hL * hL, l3 = l2 * hL, l4 = l3 * hL, l5 = l4 * hL;
    return std::pow(g5 + kTchWidth1 * g4 * hL + kTchWidth2 * g3 * l2 + kTchWidth3 * g2 * l3 +
                        kTchWidth4 * hG * l4 + l5,
                    0.2);
}

// η = 1.36603 q − 0.47719 q² + 0.11116 q³, q = H_L / H.
double thompsonCoxHastingsEta(double ratio) {
    return kTchEta1 * ratio - kTchEta2 * (ratio * ratio) + kTchEta3 * (ratio * ratio * ratio);
}

bool pseudoVoigtWidths(const Reflexion *reflexion, const RefinementProfile *profile,
                       PseudoVoigtWidths *widths) {
    if (reflexion == nullptr || profile == nullptr || widths == nullptr) return false;
    const double twoTheta = reflexion->peakPosition;
    const double hG = gaussianFwhm(profile, twoTheta);
    const double hL = lorentzianFwhm(profile, twoTheta);
    const double h = thompsonCoxHastingsFwhm(hG, hL);
    widths->gaussianFwhm = hG;
    widths->lorentzianFwhm = hL;
    widths->fwhm = h;
    widths->eta = thompsonCoxHastingsEta(hL / h);
    return true;
}

AsymmetryShifts asymmetryShifts(double twoTheta) {
    // The cotangent of 2θ₀ itself, not of θ₀.
    const double c = 1.0 / std::tan(twoTheta * kDegreesToRadians);
    return AsymmetryShifts{{c * 0.0625, c * 0.25, c * 0.5625, c}};
}

bool usesAsymmetryAverage(double asymmetry, double twoTheta) {
    return !(asymmetry < zeroTolerance()) && isBelowAsymmetryCutoff(twoTheta);
}

double rietveldAsymmetryFactor(double asymmetry, double delta, double tanTheta,
                               double twoTheta) {
    if (!isBelowAsymmetryCutoff(twoTheta)) return 1.0;
    return 1.0 - asymmetry * std::fabs(delta) * delta / tanTheta;
}

}  // namespace powderkit
