// The three constant-wavelength peak shapes on a 2θ axis in degrees, each of
// unit area: the Gaussian with the Caglioti width and the Rietveld asymmetry
// factor 1 − P s Δ² / tanθ (Rietveld, J. Appl. Cryst. 2 (1969) 65), the
// Lorentzian, and the pseudo-Voigt with the Thompson–Cox–Hastings width and
// mixing. Below the asymmetry cut-off the Lorentzian and pseudo-Voigt are
// averaged over the five shifted positions x + P c (k/4)².
#include <cmath>

#include "profiles/profiles.hpp"

namespace powderkit {

namespace {

// The symmetric pseudo-Voigt (1 − η) G(Δ; H) + η L(Δ; H) about a fixed centre.
struct PseudoVoigtShape {
    double centre;
    double fwhm;
    double eta;
    double operator()(double position) const {
        const double delta = position - centre;
        return (1.0 - eta) * unitGaussian(delta, fwhm) + eta * unitLorentzian(delta, fwhm);
    }
};

struct LorentzianShape {
    double centre;
    double fwhm;
    double operator()(double position) const { return unitLorentzian(position - centre, fwhm); }
};

}  // namespace

GaussianTerms gaussianTerms(double x, const Reflexion *reflexion,
                            const RefinementProfile *profile) {
    GaussianTerms terms;
    terms.twoTheta = reflexion->peakPosition;
    terms.delta = x - terms.twoTheta;
    terms.tanTheta = std::tan(braggAngle(terms.twoTheta));
    terms.fwhm = gaussianFwhm(profile, terms.twoTheta);
    terms.factor = rietveldAsymmetryFactor(profile->asymmetry, terms.delta, terms.tanTheta,
                                           terms.twoTheta);
    return terms;
}

double gaussianProfile(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const GaussianTerms g = gaussianTerms(x, reflexion, profile);
    return unitGaussian(g.delta, g.fwhm) * g.factor;
}

double lorentzianProfile(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    const LorentzianShape shape{twoTheta, lorentzianFwhm(profile, twoTheta)};
    return asymmetricShapeAt(shape, x, profile->asymmetry, twoTheta);
}

double pseudoVoigtProfile(double x, Reflexion *reflexion, RefinementProfile *profile) {
    PseudoVoigtWidths widths;
    pseudoVoigtWidths(reflexion, profile, &widths);
    const double twoTheta = reflexion->peakPosition;
    const PseudoVoigtShape shape{twoTheta, widths.fwhm, widths.eta};
    return asymmetricShapeAt(shape, x, profile->asymmetry, twoTheta);
}

}  // namespace powderkit
