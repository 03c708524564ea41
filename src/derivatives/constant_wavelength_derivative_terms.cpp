// The building blocks of the constant-wavelength profile derivatives: the
// rates of the unit Gaussian and Lorentzian by their centre and width, the
// rates of the Caglioti and Lorentzian widths by the peak position, the rate
// of the Rietveld asymmetry factor, and the chain terms of the
// Thompson–Cox–Hastings width and mixing (Thompson, Cox and Hastings,
// J. Appl. Cryst. 20 (1987) 79). With Δ = x − 2θ₀ and u = Δ/H:
//   ∂G/∂2θ₀ = G 8 ln 2 Δ/H²,   ∂G/∂H = G (8 ln 2 u² − 1)/H,
//   ∂L/∂2θ₀ = 4π u L²,          ∂L/∂H = 4π u² L² − L/H.
// The width rates by 2θ₀ go through the Bragg angle and are per radian of
// 2θ₀; the centre rates are per degree.
#include <cmath>

#include "derivatives/profile_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {

double diffGaussianFwhmWrtPosition(double twoTheta, double fwhm,
                                   const RefinementProfile *profile) {
    const double theta = braggAngle(twoTheta);
    const double t = std::tan(theta);
    const double cosine = std::cos(theta);
    const double denominator = 4.0 * fwhm * (cosine * cosine);
    if (std::fabs(denominator) < zeroTolerance()) return 0.0;
    return (2.0 * profile->U * t + profile->V) / denominator;
}

double diffGaussianWrtCentre(double x, double twoTheta, double fwhm) {
    if (fwhm < zeroTolerance()) return 0.0;
    const double delta = x - twoTheta;
    return unitGaussian(delta, fwhm) * kGaussianExponentRate * delta / (fwhm * fwhm);
}

double diffGaussianWrtFwhm(double delta, double fwhm) {
    const double u = delta / fwhm;
    return unitGaussian(delta, fwhm) * (kGaussianExponentRate * (u * u) - 1.0) / fwhm;
}

double diffLorentzianWrtFwhm(double x, const Reflexion *reflexion, double fwhm) {
    if (fwhm < zeroTolerance()) return 0.0;
    const double delta = x - reflexion->peakPosition;
    const double u = delta / fwhm;
    const double lorentzian = unitLorentzian(delta, fwhm);
    return kFourPi * (u * u) * (lorentzian * lorentzian) - lorentzian / fwhm;
}

double diffLorentzianWrtCentre(double x, double twoTheta, double fwhm) {
    if (fwhm < zeroTolerance()) return 0.0;
    const double delta = x - twoTheta;
    const double lorentzian = unitLorentzian(delta, fwhm);
    return kFourPi * (delta / fwhm) * (lorentzian * lorentzian);
}

double diffLorentzianFwhmWrtPosition(double twoTheta, const RefinementProfile *profile) {
    const double theta = braggAngle(twoTheta);
    const double cosine = std::cos(theta);
    return profile->LX * 0.5 * std::tan(theta) / cosine + profile->LY * 0.5 / (cosine * cosine);
}

// σ = +1 above the peak and −1 at or below it, so that σ Δ = |Δ|.
double diffRietveldAsymmetryFactorWrtPosition(double asymmetry, double x, double twoTheta,
                                              double tanTheta) {
    if (!isBelowAsymmetryCutoff(twoTheta)) return 0.0;
    const double delta = x - twoTheta;
    const double side = x > twoTheta ? 1.0 : -1.0;
    const double cosine = std::cos(braggAngle(twoTheta));
    return side * 2.0 * asymmetry * delta / tanTheta +
           asymmetry * std::fabs(delta) * delta * 0.5 / ((cosine * cosine) * (tanTheta * tanTheta));
}

// H⁵ = H_G⁵ + 2.69269 H_G⁴ H_L + 2.42843 H_G³ H_L² + 4.47163 H_G² H_L³
//      + 0.07842 H_G H_L⁴ + H_L⁵ and η = 1.36603 q − 0.47719 q² + 0.11116 q³
// with q = H_L/H, differentiated term by term.
ThompsonCoxHastingsRates thompsonCoxHastingsRates(double gaussianFwhm, double lorentzianFwhm,
                                                  double fwhm) {
    const double g = gaussianFwhm, l = lorentzianFwhm, h = fwhm;
    const double g2 = g * g, g3 = g2 * g, g4 = g3 * g;
    const double l2 = l * l, l3 = l2 * l, l4 = l3 * l;
    const double h2 = h * h, h3 = h2 * h, h4 = h3 * h;
    const double inverseH4 = 0.2 / h4;
    ThompsonCoxHastingsRates rates;
    rates.fwhmWrtGaussian = inverseH4 * (5.0 * g4 + 4.0 * kTchWidth1 * g3 * l +
                                         3.0 * kTchWidth2 * g2 * l2 + 2.0 * kTchWidth3 * g * l3 +
                                         kTchWidth4 * l4);
    rates.fwhmWrtLorentzian = inverseH4 * (kTchWidth1 * g4 + 2.0 * kTchWidth2 * g3 * l +
                                           3.0 * kTchWidth3 * g2 * l2 +
                                           4.0 * kTchWidth4 * g * l3 + 5.0 * l4);
    rates.etaWrtFwhm = -kTchEta1 * l / h2 + 2.0 * kTchEta2 * l2 / h3 - 3.0 * kTchEta3 * l3 / h4;
    rates.etaWrtLorentzianAtFixedFwhm = kTchEta1 / h - 2.0 * kTchEta2 * l / h2 +
                                        3.0 * kTchEta3 * l2 / h3;
    rates.etaWrtLorentzian =
        rates.etaWrtFwhm * rates.fwhmWrtLorentzian + rates.etaWrtLorentzianAtFixedFwhm;
    rates.etaWrtGaussian = rates.etaWrtFwhm * rates.fwhmWrtGaussian;
    return rates;
}

}  // namespace powderkit
