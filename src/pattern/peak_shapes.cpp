// Constant-wavelength peaks with per-reflexion terms precomputed:
//   Gaussian     G(Δ; H_G) (1 − P |Δ| Δ / tan θ₀), H_G² = U tan²θ₀ + V tan θ₀ + W
//                (Rietveld, J. Appl. Cryst. 2 (1969) 65);
//   Lorentzian   L(Δ; H_L), H_L = X / cos θ₀ + Y tan θ₀;
//   pseudo-Voigt (1 − η) G(Δ; H) + η L(Δ; H) with the Thompson–Cox–Hastings
//                H and η (J. Appl. Cryst. 20 (1987) 79);
// with G(Δ; H) = (2√(ln 2/π) / H) exp(−4 ln 2 (Δ/H)²) and
// L(Δ; H) = (2/π / H) / (1 + 4 (Δ/H)²). Below the asymmetry cut-off the
// Lorentzian and pseudo-Voigt are averaged by Boole's rule over the positions
// x + P c (k/4)², k = 0 … 4, c = cot 2θ₀.
#include "boundary/constants.hpp"
#include "pattern/peak_shapes.hpp"

#include <cmath>

namespace powderkit::phase {

namespace {

// The core's constants, so that values agree with its shapes.
constexpr double kCoreDegreesToRadians = 0.0174532925199;  // the core's own, shorter π/180
constexpr double kGaussianPeakFactor = 0.9394372787;          // 2√(ln 2/π)
constexpr double kLorentzianPeakFactor = 0.6366197723675814;   // 2/π
constexpr double kTchWidth[4] = {2.69269, 2.42843, 4.47163, 0.07842};
constexpr double kTchEta[3] = {1.36603, 0.47719, 0.11116};
constexpr double kBooleEnd = 0.07777777777777778;     // 7/90
constexpr double kBooleOdd = 0.35555555555555557;     // 32/90
constexpr double kBooleMiddle = 0.13333333333333333;  // 12/90


// The symmetric shape about the centre, Δ = x − 2θ₀.
inline double symmetricValue(const CwPeak &peak, double delta) {
    const double ratio = delta * peak.inverseFwhm;
    const double r2 = ratio * ratio;
    switch (peak.type) {
    case PK_PROFILE_GAUSSIAN: return peak.gaussianFactor * std::exp(-kGaussianExponentFactor * r2);
    case PK_PROFILE_LORENTZIAN: return peak.lorentzianFactor / (1.0 + 4.0 * r2);
    default:
        return (1.0 - peak.eta) * (peak.gaussianFactor * std::exp(-kGaussianExponentFactor * r2)) +
               peak.eta * (peak.lorentzianFactor / (1.0 + 4.0 * r2));
    }
}

}  // namespace

// H = (H_G⁵ + 2.69269 H_G⁴ H_L + 2.42843 H_G³ H_L² + 4.47163 H_G² H_L³ + 0.07842 H_G H_L⁴ + H_L⁵)^(1/5).
double thompsonCoxHastingsFwhm(double hG, double hL) {
    const double g2 = hG * hG, g3 = g2 * hG, g4 = g3 * hG, g5 = g4 * hG;
    const double l2 = hL * hL, l3 = l2 * hL, l4 = l3 * hL, l5 = l4 * hL;
    return std::pow(
        g5 + kTchWidth[0] * g4 * hL + kTchWidth[1] * g3 * l2 + kTchWidth[2] * g2 * l3 + kTchWidth[3] * hG * l4 + l5,
        0.2);
}

// η = 1.36603 q − 0.47719 q² + 0.11116 q³, q = H_L / H.
double thompsonCoxHastingsEta(double q) { return kTchEta[0] * q - kTchEta[1] * (q * q) + kTchEta[2] * (q * q * q); }

CwPeak makeCwPeak(const Reflexion &reflexion, const RefinementProfile &profile, double asymmetry,
                  double cutoff) {
    CwPeak peak;
    peak.type = profile.profileType;
    peak.centre = reflexion.peakPosition;
    const double theta = peak.centre * 0.5 * kCoreDegreesToRadians;
    const double t = std::tan(theta);
    const double hG = std::sqrt(profile.U * (t * t) + profile.V * t + profile.W);
    const double hL = profile.LX / std::cos(theta) + profile.LY * std::tan(theta);
    double fwhm = hG;
    if (peak.type == PK_PROFILE_LORENTZIAN) fwhm = hL;
    if (peak.type == PK_PROFILE_PSEUDO_VOIGT) {
        fwhm = thompsonCoxHastingsFwhm(hG, hL);
        peak.eta = thompsonCoxHastingsEta(hL / fwhm);
    }
    peak.inverseFwhm = 1.0 / fwhm;
    peak.gaussianFactor = kGaussianPeakFactor / fwhm;
    peak.lorentzianFactor = kLorentzianPeakFactor / fwhm;
    peak.tanTheta = t;
    peak.shift = 1.0 / std::tan(peak.centre * kCoreDegreesToRadians);
    peak.asymmetry = !(peak.centre > cutoff) ? asymmetry : 0.0;
    // The Lorentzian and pseudo-Voigt take no average for an asymmetry below
    // the zero tolerance; the Gaussian factor is applied whatever P is.
    if (peak.type != PK_PROFILE_GAUSSIAN && peak.asymmetry < kZeroTolerance) peak.asymmetry = 0.0;
    return peak;
}

double cwPeakValue(const CwPeak &peak, double x) {
    const double delta = x - peak.centre;
    if (peak.asymmetry == 0.0) return symmetricValue(peak, delta);
    if (peak.type == PK_PROFILE_GAUSSIAN) {
        return symmetricValue(peak, delta) * (1.0 - peak.asymmetry * std::fabs(delta) * delta / peak.tanTheta);
    }
    const double p = peak.asymmetry;
    const double c = peak.centre;
    return kBooleEnd * symmetricValue(peak, delta) +
           kBooleOdd * symmetricValue(peak, (x + p * (peak.shift * 0.0625)) - c) +
           kBooleMiddle * symmetricValue(peak, (x + p * (peak.shift * 0.25)) - c) +
           kBooleOdd * symmetricValue(peak, (x + p * (peak.shift * 0.5625)) - c) +
           kBooleEnd * symmetricValue(peak, (x + p * peak.shift) - c);
}

}  // namespace powderkit::phase
