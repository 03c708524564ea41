// Internal interface of the profile derivatives: the building blocks shared by
// the members of each shape, and the members themselves, one
// ProfileDerivativeFunction per shape and refinable parameter, which the
// profile derivative tables file under their parameter keys.
//
// Units. Constant wavelength: the centre terms are per degree of 2θ₀ (the
// pattern axis), while the width terms reached through the Bragg angle are
// per radian of 2θ₀, and the cell members multiply the sum by the cell
// position derivatives (degrees of 2θ per Å or per radian of a cell angle).
// The asymmetric averages hold their shifts fixed. Time of flight: offsets in
// µs; the pseudo-Voigt follows γ only through η, and of the dependence of its
// complex arguments p and q on α and β only the real part −Δ.
#ifndef POWDERKIT_PROFILE_DERIVATIVES_HPP
#define POWDERKIT_PROFILE_DERIVATIVES_HPP

#include "powderkit.h"
#include "profiles/profiles.hpp"

namespace powderkit {

// 8 ln 2, twice the exponent factor of the unit Gaussian.
constexpr double kGaussianExponentRate = 5.545177444479562;
// 4π, of the unit Lorentzian's rates.
constexpr double kFourPi = 12.566370614359172;
// −2/√π, the derivative of erfc at 0.
constexpr double kErfcSlope = -1.1283791670955126;
// √2.
constexpr double kSquareRootOfTwo = 1.4142135623730951;
// Half of 2√(2 ln 2): dH_G/dσ² = this / σ.
constexpr double kHalfGaussianFwhmPerSigma = 1.1774100225;

// ---------------------------------------------------------------------------
// Constant-wavelength building blocks
// ---------------------------------------------------------------------------

// dH_G/d2θ₀ = (2 U t + V) / (4 H cos²θ₀), 2θ₀ in radians; 0 when the
// denominator is below the zero tolerance.
double diffGaussianFwhmWrtPosition(double twoTheta, double fwhm,
                                   const RefinementProfile *profile);

// ∂G(Δ; H)/∂2θ₀ at fixed width, per degree: G × 8 ln 2 × Δ / H²; 0 for H
// below the zero tolerance.
double diffGaussianWrtCentre(double x, double twoTheta, double fwhm);

// ∂G(Δ; H)/∂H at fixed centre: G × (8 ln 2 (Δ/H)² − 1) / H.
double diffGaussianWrtFwhm(double delta, double fwhm);

// ∂L(Δ; H)/∂H at fixed centre, Δ = x − peakPosition: 4π u² L² − L / H with
// u = Δ/H; 0 for H below the zero tolerance.
double diffLorentzianWrtFwhm(double x, const Reflexion *reflexion, double fwhm);

// ∂L(Δ; H)/∂2θ₀ at fixed width, per degree: 4π u L²; 0 for H below the zero
// tolerance.
double diffLorentzianWrtCentre(double x, double twoTheta, double fwhm);

// dH_L/d2θ₀ = LX t / (2 cos θ₀) + LY / (2 cos²θ₀), 2θ₀ in radians.
double diffLorentzianFwhmWrtPosition(double twoTheta, const RefinementProfile *profile);

// ∂A/∂2θ₀ of the Rietveld factor A = 1 − P |Δ| Δ / t: the Δ term per degree
// and the t term per radian; 0 above the asymmetry cut-off.
double diffRietveldAsymmetryFactorWrtPosition(double asymmetry, double x, double twoTheta,
                                              double tanTheta);

// How the Thompson–Cox–Hastings total width H and mixing η of a Gaussian
// width H_G and a Lorentzian width H_L (γ for time of flight) move.
struct ThompsonCoxHastingsRates {
    double fwhmWrtGaussian;    // dH/dH_G
    double fwhmWrtLorentzian;  // dH/dH_L
    double etaWrtFwhm;         // ∂η/∂H at fixed H_L
    double etaWrtLorentzianAtFixedFwhm;  // ∂η/∂H_L at fixed H
    double etaWrtLorentzian;   // dη/dH_L, through H and directly
    double etaWrtGaussian;     // dη/dH_G, through H
};
ThompsonCoxHastingsRates thompsonCoxHastingsRates(double gaussianFwhm, double lorentzianFwhm,
                                                  double fwhm);

// ∂/∂P of a five-point asymmetry average whose shape moves with its centre at
// `centreRate` (∂F/∂2θ₀): each shifted point x + P sₖ contributes
// wₖ × (−sₖ) × centreRate(x + P sₖ); the unshifted point has no shift.
template <typename CentreRate>
double diffAsymmetryAverageWrtAsymmetry(const CentreRate &centreRate, double x, double asymmetry,
                                        const AsymmetryShifts &shifts) {
    const double weights[4] = {kBooleWeightOdd, kBooleWeightMiddle, kBooleWeightOdd,
                               kBooleWeightEnd};
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        sum += weights[k] * (-shifts.shift[k]) * centreRate(x + asymmetry * shifts.shift[k]);
    }
    return sum;
}

// dΦ/d2θ₀ of each shape (the "Zero" members and the factor of the cell
// members), and the width derivatives ∂Φ/∂H_G, ∂Φ/∂H_L.
double diffGaussianProfileWrtPosition(double x, Reflexion *reflexion, RefinementProfile *profile);
double diffGaussianProfileWrtFwhm(double x, Reflexion *reflexion, RefinementProfile *profile);
double diffLorentzianProfileWrtPosition(double x, Reflexion *reflexion,
                                        RefinementProfile *profile);
double diffLorentzianProfileWrtFwhm(double x, Reflexion *reflexion, RefinementProfile *profile);
double diffPseudoVoigtWrtPosition(double x, Reflexion *reflexion, RefinementProfile *profile);
double diffPseudoVoigtWrtLorentzianFwhm(double x, Reflexion *reflexion,
                                        RefinementProfile *profile);
double diffPseudoVoigtWrtGaussianFwhm(double x, Reflexion *reflexion, RefinementProfile *profile);

// ---------------------------------------------------------------------------
// Time-of-flight building blocks
// ---------------------------------------------------------------------------

// ∂d/∂p for each cell parameter, through the inverse d-spacing derivatives.
double diffTofDSpacingWrtCellA(RefinementCrystal *crystal, Reflexion *reflexion);
double diffTofDSpacingWrtCellB(RefinementCrystal *crystal, Reflexion *reflexion);
double diffTofDSpacingWrtCellC(RefinementCrystal *crystal, Reflexion *reflexion);
double diffTofDSpacingWrtCellAlpha(RefinementCrystal *crystal, Reflexion *reflexion);
double diffTofDSpacingWrtCellBeta(RefinementCrystal *crystal, Reflexion *reflexion);
double diffTofDSpacingWrtCellGamma(RefinementCrystal *crystal, Reflexion *reflexion);

// Partial derivatives of the back-to-back exponentials ⊗ Gaussian of a filled
// work record, with the normalisation N given apart (the pseudo-Voigt passes
// N′ = (1 − η) N): by σ², by the offset Δ, and by α and β, where
// `normalizationRate` is ∂(value)/∂N (the sum S for the Gaussian).
double diffTofExpGaussianWrtVariance(const TofProfileTerms &terms, double normalization);
double diffTofExpGaussianWrtOffset(const TofProfileTerms &terms, double normalization);
double diffTofExpGaussianWrtAlpha(const TofProfileTerms &terms, double normalizationRate,
                                  double normalization);
double diffTofExpGaussianWrtBeta(const TofProfileTerms &terms, double normalizationRate,
                                 double normalization);

// ∂Φ/∂d of the Gaussian shape through Δ, σ², α and β.
double diffTofExpGaussianWrtDSpacing(const TofProfileTerms &terms,
                                     const RefinementProfile *profile);

// The partial derivatives of the pseudo-Voigt shape Ψ of a filled work
// record that its members combine.
struct TofPseudoVoigtRates {
    double eta;        // ∂Ψ/∂η
    double variance;   // ∂Ψ/∂σ²
    double gamma;      // ∂Ψ/∂γ, through η only
    double offset;     // ∂Ψ/∂Δ
    double dSpacing;   // ∂Ψ/∂d
};
// Fills the rates; `withDSpacing` false leaves dSpacing 0 (it needs the rates
// by α and β as well).
void tofPseudoVoigtRates(const TofPseudoVoigtTerms &terms, const RefinementProfile *profile,
                         bool withDSpacing, TofPseudoVoigtRates *rates);

// ---------------------------------------------------------------------------
// Members
// ---------------------------------------------------------------------------

#define PK_PROFILE_DERIVATIVE(name) \
    double name(double x, RefinementCrystal *crystal, Reflexion *reflexion, \
                RefinementProfile *profile)

PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtGU);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtGV);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtGW);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtZero);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellA);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellB);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellC);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellAlpha);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellBeta);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtCellGamma);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtScale);
PK_PROFILE_DERIVATIVE(DiffGaussianProfileWrtAsymmetry);

PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtLX);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtLY);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtZero);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellA);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellB);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellC);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellAlpha);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellBeta);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtCellGamma);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtScale);
PK_PROFILE_DERIVATIVE(DiffLorentzianProfileWrtAsymmetry);

PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtLX);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtLY);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtGU);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtGV);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtGW);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtZero);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellA);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellB);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellC);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellAlpha);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellBeta);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtCellGamma);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtScale);
PK_PROFILE_DERIVATIVE(DiffPseudoVoigtProfileWrtAsymmetry);

PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtDtt2);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellA);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellB);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellC);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellAlpha);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellBeta);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtCellGamma);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtSigma1);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtSigma2);
PK_PROFILE_DERIVATIVE(DiffTofExpGaussianProfileWrtScale);

PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtDtt2);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellA);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellB);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellC);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellAlpha);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellBeta);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtCellGamma);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtSigma1);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtSigma2);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtGamma1);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtGamma2);
PK_PROFILE_DERIVATIVE(DiffTofExpPseudoVoigtProfileWrtScale);

#undef PK_PROFILE_DERIVATIVE

}  // namespace powderkit

#endif
