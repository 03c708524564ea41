// Internal interface of the profile derivatives: the building blocks shared by
// the members of each shape, and the members themselves, the
// ProfileDerivativeFunctions that the profile derivative tables file under
// their parameter keys: templates over the shape rate and the parameter for
// those that differ between shapes only in these, and the shapes' own
// asymmetry members.
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

#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "powderkit.h"
#include "profiles/profiles.hpp"

namespace powderkit {

// 8 ln 2, twice the exponent factor of the unit Gaussian.
constexpr double kGaussianExponentRate = 5.545177444479562;
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
double diffTofDSpacingWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                              Reflexion *reflexion);

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
// Most members differ from shape to shape only in the shape rate they scale
// and in the parameter they are taken by, so they are written once, as
// templates over both, and the profile derivative tables instantiate them
// for each shape; only the asymmetry members are the shape's own.

// A rate of a constant-wavelength shape at x: dΦ/d2θ₀, ∂Φ/∂H_G or ∂Φ/∂H_L.
using ConstantWavelengthRate = double (*)(double x, Reflexion *reflexion,
                                          RefinementProfile *profile);

// The zero shift moves the peak as 2θ₀ does: dΦ/d2θ₀.
template <ConstantWavelengthRate positionRate>
double zeroShiftMember(double x, RefinementCrystal *, Reflexion *reflexion,
                       RefinementProfile *profile) {
    return positionRate(x, reflexion, profile);
}

// A cell parameter moves 2θ₀: dΦ/d2θ₀ × ∂(2θ₀)/∂p.
template <ConstantWavelengthRate positionRate, CellParameter parameter>
double twoThetaCellMember(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                          RefinementProfile *profile) {
    return positionRate(x, reflexion, profile) *
           diffTwoThetaWrtCell(parameter, crystal, reflexion, profile);
}

// ∂Φ/∂H_G × ∂H_G/∂(Caglioti term): t²/(2 H_G) for U, t/(2 H_G) for V and
// 1/(2 H_G) for W.
enum class CagliotiTerm { U, V, W };
template <ConstantWavelengthRate gaussianWidthRate, CagliotiTerm term>
double cagliotiMember(double x, RefinementCrystal *, Reflexion *reflexion,
                      RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    const double t = std::tan(braggAngle(twoTheta));
    const double hG = gaussianFwhm(profile, twoTheta);
    const double widthRate = gaussianWidthRate(x, reflexion, profile);
    switch (term) {
        case CagliotiTerm::U:
            return widthRate * (t * t) * 0.5 / hG;
        case CagliotiTerm::V:
            return widthRate * t * 0.5 / hG;
        case CagliotiTerm::W:
        default:
            return widthRate * 0.5 / hG;
    }
}

// ∂Φ/∂H_L × ∂H_L/∂(LX or LY): 1/cos θ₀ for LX, tan θ₀ for LY.
enum class LorentzianTerm { X, Y };
template <ConstantWavelengthRate lorentzianWidthRate, LorentzianTerm term>
double lorentzianWidthMember(double x, RefinementCrystal *, Reflexion *reflexion,
                             RefinementProfile *profile) {
    const double theta = braggAngle(reflexion->peakPosition);
    if (term == LorentzianTerm::X) {
        return lorentzianWidthRate(x, reflexion, profile) / std::cos(theta);
    }
    return lorentzianWidthRate(x, reflexion, profile) * std::tan(theta);
}

// The scale multiplies the shape: Φ / scale.
template <ProfileFunction value>
double scaleMember(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                   RefinementProfile *profile) {
    return value(x, reflexion, profile) / crystal->scale;
}

// Which rate of a time-of-flight shape a member takes: by the offset Δ, by
// σ², by γ (through η; the pseudo-Voigt only) or by d.
enum class TofRate { offset, variance, gamma, dSpacing };

// A time-of-flight shape's rate at x and the reflexion's d, from the shape's
// work record filled as the value fills it; false when that fails.
using TofShapeRate = bool (*)(double x, const Reflexion *reflexion,
                              const RefinementProfile *profile, TofRate rate, double *value,
                              double *dSpacing);
bool tofExpGaussianRate(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                        TofRate rate, double *value, double *dSpacing);
bool tofExpPseudoVoigtRate(double x, const Reflexion *reflexion,
                           const RefinementProfile *profile, TofRate rate, double *value,
                           double *dSpacing);

// What every time-of-flight shape's rate does: fill the shape's work record
// (`fill`, as the value fills it), give its d and the rate `rateOf` takes
// from the filled record; false, with nothing written, when the fill fails.
template <typename Terms,
          bool (*fill)(double, const Reflexion *, const RefinementProfile *, Terms *),
          double (*rateOf)(const Terms &, const RefinementProfile *, TofRate)>
bool tofShapeRate(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                  TofRate rate, double *value, double *dSpacing) {
    Terms terms;
    if (!fill(x, reflexion, profile, &terms)) return false;
    *dSpacing = terms.dSpacing;
    *value = rateOf(terms, profile, rate);
    return true;
}

// The calibration and width parameters of the time-of-flight shapes: dtt2
// moves Δ by −d²; sigma1 and sigma2 move σ² by d² and d⁴; gamma1 and gamma2
// move γ by d and d². Each member is 0 when the work record cannot be filled.
enum class TofParameter { dtt2, sigma1, sigma2, gamma1, gamma2 };
template <TofShapeRate shapeRate, TofParameter parameter>
double tofMember(double x, RefinementCrystal *, Reflexion *reflexion,
                 RefinementProfile *profile) {
    const TofRate rate = parameter == TofParameter::dtt2 ? TofRate::offset
                         : parameter == TofParameter::sigma1 || parameter == TofParameter::sigma2
                             ? TofRate::variance
                             : TofRate::gamma;
    double value;
    double d;
    if (!shapeRate(x, reflexion, profile, rate, &value, &d)) return 0.0;
    switch (parameter) {
        case TofParameter::dtt2:
            return value * (-(d * d));
        case TofParameter::sigma1:
            return value * (d * d);
        case TofParameter::sigma2: {
            const double d2 = d * d;
            return value * (d2 * d2);
        }
        case TofParameter::gamma1:
            return value * d;
        case TofParameter::gamma2:
        default:
            return value * (d * d);
    }
}

// A cell parameter moves d: ∂Φ/∂d × ∂d/∂p, 0 when the work record cannot be
// filled.
template <TofShapeRate shapeRate, CellParameter parameter>
double tofCellMember(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                     RefinementProfile *profile) {
    double value;
    double d;
    if (!shapeRate(x, reflexion, profile, TofRate::dSpacing, &value, &d)) return 0.0;
    return value * diffTofDSpacingWrtCell(parameter, crystal, reflexion);
}

// The asymmetry members, each the shape's own.
double DiffGaussianProfileWrtAsymmetry(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                       RefinementProfile *profile);
double DiffLorentzianProfileWrtAsymmetry(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile);
double DiffPseudoVoigtProfileWrtAsymmetry(double x, RefinementCrystal *crystal,
                                          Reflexion *reflexion, RefinementProfile *profile);

}  // namespace powderkit

#endif
