// Position and width derivatives of the three constant-wavelength shapes, the
// factors that their members scale. The Gaussian carries the Rietveld factor
// A below the cut-off; the Lorentzian and pseudo-Voigt, when they take their
// five-point asymmetry average, average their symmetric derivatives over the
// same shifted positions with the widths and shifts of 2θ₀ held fixed (the
// dependence of the shifts on 2θ₀ is not followed). In dΦ/d2θ₀ the centre
// terms are per degree and the width terms per radian of 2θ₀.
#include <cmath>

#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

// The widths of one pseudo-Voigt reflexion and how they move.
struct PseudoVoigtState {
    double twoTheta;
    PseudoVoigtWidths widths;
    ThompsonCoxHastingsRates rates;
    double lorentzianFwhmRate;  // dH_L/d2θ₀ (rule 6)
    double gaussianFwhmRate;    // dH_G/d2θ₀
    double fwhmRate;            // dH/d2θ₀
};

PseudoVoigtState pseudoVoigtState(const Reflexion *reflexion, const RefinementProfile *profile) {
    PseudoVoigtState state;
    state.twoTheta = reflexion->peakPosition;
    pseudoVoigtWidths(reflexion, profile, &state.widths);
    state.rates = thompsonCoxHastingsRates(state.widths.gaussianFwhm, state.widths.lorentzianFwhm,
                                           state.widths.fwhm);
    state.lorentzianFwhmRate = diffLorentzianFwhmWrtPosition(state.twoTheta, profile);
    state.gaussianFwhmRate =
        diffGaussianFwhmWrtPosition(state.twoTheta, state.widths.gaussianFwhm, profile);
    state.fwhmRate = state.gaussianFwhmRate * state.rates.fwhmWrtGaussian +
                     state.rates.fwhmWrtLorentzian * state.lorentzianFwhmRate;
    return state;
}

// dpV/d2θ₀ of the symmetric pseudo-Voigt at one position.
struct PseudoVoigtPositionRate {
    const PseudoVoigtState &s;
    const Reflexion *reflexion;
    double operator()(double position) const {
        const double h = s.widths.fwhm;
        const double eta = s.widths.eta;
        const double delta = position - s.twoTheta;
        const double gaussian = unitGaussian(delta, h);
        const double lorentzian = unitLorentzian(delta, h);
        const double etaRate = s.rates.etaWrtLorentzian * s.lorentzianFwhmRate +
                               s.gaussianFwhmRate * s.rates.etaWrtGaussian;
        return etaRate * (lorentzian - gaussian) +
               (1.0 - eta) * (diffGaussianWrtCentre(position, s.twoTheta, h) +
                              diffGaussianWrtFwhm(delta, h) * s.fwhmRate) +
               eta * (diffLorentzianWrtFwhm(position, reflexion, h) * s.fwhmRate +
                      diffLorentzianWrtCentre(position, s.twoTheta, h));
    }
};

// ∂pV/∂H_L (or ∂pV/∂H_G) of the symmetric pseudo-Voigt at one position, for
// the rates dη/dH_x and dH/dH_x of that width.
struct PseudoVoigtWidthRate {
    const PseudoVoigtState &s;
    const Reflexion *reflexion;
    double etaRate;
    double fwhmRate;
    double operator()(double position) const {
        const double h = s.widths.fwhm;
        const double eta = s.widths.eta;
        const double delta = position - s.twoTheta;
        return etaRate * (unitLorentzian(delta, h) - unitGaussian(delta, h)) +
               (eta * diffLorentzianWrtFwhm(position, reflexion, h) +
                (1.0 - eta) * diffGaussianWrtFwhm(delta, h)) *
                   fwhmRate;
    }
};

double pseudoVoigtWidthDerivative(double x, const Reflexion *reflexion,
                                  const RefinementProfile *profile, bool lorentzianWidth) {
    const PseudoVoigtState state = pseudoVoigtState(reflexion, profile);
    const PseudoVoigtWidthRate rate{
        state, reflexion,
        lorentzianWidth ? state.rates.etaWrtLorentzian : state.rates.etaWrtGaussian,
        lorentzianWidth ? state.rates.fwhmWrtLorentzian : state.rates.fwhmWrtGaussian};
    return asymmetricShapeAt(rate, x, profile->asymmetry, state.twoTheta);
}

}  // namespace

double diffGaussianProfileWrtPosition(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const GaussianTerms g = gaussianTerms(x, reflexion, profile);
    const double factorRate =
        diffRietveldAsymmetryFactorWrtPosition(profile->asymmetry, x, g.twoTheta, g.tanTheta);
    return g.factor * (diffGaussianFwhmWrtPosition(g.twoTheta, g.fwhm, profile) *
                           diffGaussianWrtFwhm(g.delta, g.fwhm) +
                       diffGaussianWrtCentre(x, g.twoTheta, g.fwhm)) +
           unitGaussian(g.delta, g.fwhm) * factorRate;
}

double diffGaussianProfileWrtFwhm(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const GaussianTerms g = gaussianTerms(x, reflexion, profile);
    const double u = g.delta / g.fwhm;
    return unitGaussian(g.delta, g.fwhm) * ((kGaussianExponentRate * (u * u) - 1.0) / g.fwhm) *
           g.factor;
}

double diffLorentzianProfileWrtPosition(double x, Reflexion *reflexion,
                                        RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    const double hL = lorentzianFwhm(profile, twoTheta);
    const double widthRate = diffLorentzianFwhmWrtPosition(twoTheta, profile);
    const auto centreRate = [&](double position) {
        return diffLorentzianWrtCentre(position, twoTheta, hL);
    };
    const auto fwhmRate = [&](double position) {
        return diffLorentzianWrtFwhm(position, reflexion, hL);
    };
    if (!usesAsymmetryAverage(profile->asymmetry, twoTheta)) {
        return centreRate(x) + fwhmRate(x) * widthRate;
    }
    const AsymmetryShifts shifts = asymmetryShifts(twoTheta);
    return fivePointAsymmetryAverage(centreRate, x, profile->asymmetry, shifts) +
           fivePointAsymmetryAverage(fwhmRate, x, profile->asymmetry, shifts) * widthRate;
}

double diffLorentzianProfileWrtFwhm(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    const double hL = lorentzianFwhm(profile, twoTheta);
    const auto fwhmRate = [&](double position) {
        return diffLorentzianWrtFwhm(position, reflexion, hL);
    };
    return asymmetricShapeAt(fwhmRate, x, profile->asymmetry, twoTheta);
}

double diffPseudoVoigtWrtPosition(double x, Reflexion *reflexion, RefinementProfile *profile) {
    const PseudoVoigtState state = pseudoVoigtState(reflexion, profile);
    const PseudoVoigtPositionRate rate{state, reflexion};
    return asymmetricShapeAt(rate, x, profile->asymmetry, state.twoTheta);
}

double diffPseudoVoigtWrtLorentzianFwhm(double x, Reflexion *reflexion,
                                        RefinementProfile *profile) {
    return pseudoVoigtWidthDerivative(x, reflexion, profile, true);
}

double diffPseudoVoigtWrtGaussianFwhm(double x, Reflexion *reflexion, RefinementProfile *profile) {
    return pseudoVoigtWidthDerivative(x, reflexion, profile, false);
}

}  // namespace powderkit
