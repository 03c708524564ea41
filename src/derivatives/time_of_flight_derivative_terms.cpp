// The building blocks of the time-of-flight profile derivatives, from the
// filled work records of the two shapes. For the back-to-back exponentials
// ⊗ Gaussian, Φ = N (e^u erfc y + e^v erfc z) with u = (α/2)(2Δ + ασ²),
// v = (β/2)(βσ² − 2Δ), y = (ασ² + Δ)/√(2σ²), z = (βσ² − Δ)/√(2σ²) and
// d erfc(w)/dw = −(2/√π) e^(−w²), each rate follows by the chain rule. For the
// pseudo-Voigt, Ψ = (1 − η) Φ − (2Nη/π) Λ with Λ = Im(e^p E1(p)) + Im(e^q E1(q))
// and d(e^p E1(p))/dp = e^p (E1(p) − e^(−p)/p); γ is followed through η only,
// and of p = −αΔ + iαγ/2 and q = −βΔ + iβγ/2 only the real parts. The
// calibration t = dtt1 d + dtt2 d² + zero, σ² = sigma0 + sigma1 d² + sigma2 d⁴,
// α = alpha0 + alpha1/d, β = beta0 + beta1/d⁴ and γ = gamma0 + gamma1 d +
// gamma2 d² carry the rates on to d.
#include <cmath>
#include <complex>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/profile_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {
namespace {

using Complex = std::complex<double>;

// e^(−w²), unbounded.
double gaussianOf(double w) { return std::exp(-(w * w)); }

// s = √(2σ²).
double spread(const TofProfileTerms &terms) { return std::sqrt(2.0 * terms.variance); }

// The real rate of (−2Nη/π) Im(e^p E1(p)) along the real axis of p. Where the
// exponential overflows or the argument is 0 the rate is not a number; it is
// then taken as 0, as the value takes the same term far from the peak.
double diffLorentzianPartWrtArgument(Complex p, Complex e1, double normalization, double eta) {
    const Complex w = e1 + (-std::exp(-p)) / p;
    const Complex expP = std::exp(p);
    const double rate =
        (w.real() * expP.imag() + w.imag() * expP.real()) * (-2.0 * normalization * eta / kPi);
    return std::isfinite(rate) ? rate : 0.0;
}

// ∂d/∂a = d² a*² sin β* sin γ ∂d*/∂a* of an edge, and cyclic for b and c,
// from the edge's reciprocal edge, the reciprocal and direct angles (degrees)
// in its a* = 1/(a sin β* sin γ), and ∂d*/∂a*.
double tofDSpacingWrtEdge(const Reflexion *reflexion, double reciprocalEdge,
                          double reciprocalAngle, double directAngle, double inverseRate) {
    const double d = reflexion->dSpacing;
    return (d * d) * (reciprocalEdge * reciprocalEdge) *
           std::sin(reciprocalAngle * kDegreesToRadians) *
           std::sin(directAngle * kDegreesToRadians) * inverseRate;
}

}  // namespace

double diffTofExpGaussianWrtVariance(const TofProfileTerms &terms, double normalization) {
    const double s = spread(terms);
    const double n = normalization;
    const double alpha = terms.alpha;
    const double beta = terms.beta;
    const double ratio = terms.offset / terms.variance;
    return kErfcSlope * gaussianOf(terms.y) * n * terms.expU * (alpha - ratio) * 0.5 / s +
           (alpha * alpha / 2.0) * n * terms.expU * terms.erfcY +
           (beta * beta / 2.0) * n * terms.expV * terms.erfcZ +
           kErfcSlope * gaussianOf(terms.z) * n * terms.expV * (ratio + beta) * 0.5 / s;
}

double diffTofExpGaussianWrtOffset(const TofProfileTerms &terms, double normalization) {
    const double s = spread(terms);
    const double n = normalization;
    return kErfcSlope * gaussianOf(terms.y) * n * terms.expU / s +
           terms.alpha * n * terms.expU * terms.erfcY -
           terms.beta * n * terms.expV * terms.erfcZ -
           kErfcSlope * gaussianOf(terms.z) * n * terms.expV / s;
}

// ∂N/∂α = β²/(2(α + β)²); ∂u/∂α = ασ² + Δ; ∂y/∂α = √σ²/√2.
double diffTofExpGaussianWrtAlpha(const TofProfileTerms &terms, double normalizationRate,
                                  double normalization) {
    const double alpha = terms.alpha;
    const double beta = terms.beta;
    const double sum = alpha + beta;
    const double r2 = std::sqrt(terms.variance) / kSquareRootOfTwo;
    return normalizationRate * (beta * beta) / (2.0 * (sum * sum)) +
           (terms.variance * alpha + terms.offset) * normalization * terms.expU * terms.erfcY +
           kErfcSlope * gaussianOf(terms.y) * normalization * terms.expU * r2;
}

double diffTofExpGaussianWrtBeta(const TofProfileTerms &terms, double normalizationRate,
                                 double normalization) {
    const double alpha = terms.alpha;
    const double beta = terms.beta;
    const double sum = alpha + beta;
    const double r2 = std::sqrt(terms.variance) / kSquareRootOfTwo;
    return normalizationRate * (alpha * alpha) / (2.0 * (sum * sum)) +
           (terms.variance * beta - terms.offset) * normalization * terms.expV * terms.erfcZ +
           kErfcSlope * gaussianOf(terms.z) * normalization * terms.expV * r2;
}

double diffTofExpGaussianWrtDSpacing(const TofProfileTerms &terms,
                                     const RefinementProfile *profile) {
    const double d = terms.dSpacing;
    const double d2 = d * d;
    const double n = terms.normalization;
    const double sum = terms.expU * terms.erfcY + terms.expV * terms.erfcZ;
    return diffTofExpGaussianWrtBeta(terms, sum, n) * (-4.0 * profile->beta1 / (d2 * d2 * d)) +
           diffTofExpGaussianWrtAlpha(terms, sum, n) * (-profile->alpha1 / d2) +
           diffTofExpGaussianWrtVariance(terms, n) *
               (4.0 * profile->sigma2 * (d2 * d) + 2.0 * profile->sigma1 * d) -
           diffTofExpGaussianWrtOffset(terms, n) * (2.0 * profile->dtt2 * d + profile->dtt1);
}

void tofPseudoVoigtRates(const TofPseudoVoigtTerms &terms, const RefinementProfile *profile,
                         bool withDSpacing, TofPseudoVoigtRates *rates) {
    const double n = terms.normalization;
    const double eta = terms.eta;
    const double reducedN = (1.0 - eta) * n;
    const double sum = terms.expU * terms.erfcY + terms.expV * terms.erfcZ;
    const double lorentzian =
        imaginaryPartOfExpTimesE1(terms.p, terms.e1P) + imaginaryPartOfExpTimesE1(terms.q, terms.e1Q);

    const double etaRate = -(2.0 * n / kPi) * lorentzian - n * sum;
    const double pRate = diffLorentzianPartWrtArgument(terms.p, terms.e1P, n, eta);
    const double qRate = diffLorentzianPartWrtArgument(terms.q, terms.e1Q, n, eta);

    const double sigma = std::sqrt(terms.variance);
    const double gaussianWidth = sigma * kGaussianFwhmPerSigma;
    const ThompsonCoxHastingsRates tch =
        thompsonCoxHastingsRates(gaussianWidth, terms.gamma, terms.fwhm);

    rates->eta = etaRate;
    rates->variance = diffTofExpGaussianWrtVariance(terms, reducedN) +
                      etaRate * tch.etaWrtFwhm * tch.fwhmWrtGaussian *
                          (kHalfGaussianFwhmPerSigma / sigma);
    rates->gamma = etaRate * (tch.etaWrtFwhm * tch.fwhmWrtLorentzian +
                              tch.etaWrtLorentzianAtFixedFwhm);
    rates->offset = -terms.beta * qRate - terms.alpha * pRate +
                    diffTofExpGaussianWrtOffset(terms, reducedN);
    rates->dSpacing = 0.0;
    if (!withDSpacing) return;

    const double normalizationRate = (1.0 - eta) * sum - (2.0 * eta / kPi) * lorentzian;
    const double alphaRate = diffTofExpGaussianWrtAlpha(terms, normalizationRate, reducedN) +
                             (-terms.offset) * pRate;
    const double betaRate = diffTofExpGaussianWrtBeta(terms, normalizationRate, reducedN) +
                            (-terms.offset) * qRate;
    const double d = terms.dSpacing;
    const double d2 = d * d;
    rates->dSpacing = rates->offset * (-(2.0 * profile->dtt2 * d + profile->dtt1)) +
                      rates->gamma * (2.0 * profile->gamma2 * d + profile->gamma1) +
                      rates->variance * (4.0 * profile->sigma2 * (d2 * d) + 2.0 * profile->sigma1 * d) +
                      betaRate * (-4.0 * profile->beta1 / (d2 * d2 * d)) +
                      alphaRate * (-profile->alpha1 / d2);
}

double diffTofDSpacingWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                             Reflexion *reflexion) {
    switch (parameter) {
        case CellParameter::a:
            return tofDSpacingWrtEdge(reflexion, crystal->aStar, crystal->betaStar, crystal->gamma,
                                      diffInverseDSpacingWrtAStar(crystal, reflexion));
        case CellParameter::b:
            return tofDSpacingWrtEdge(reflexion, crystal->bStar, crystal->gammaStar,
                                      crystal->alpha,
                                      diffInverseDSpacingWrtBStar(crystal, reflexion));
        case CellParameter::c:
            return tofDSpacingWrtEdge(reflexion, crystal->cStar, crystal->alphaStar, crystal->beta,
                                      diffInverseDSpacingWrtCStar(crystal, reflexion));
        case CellParameter::alpha:
            return diffDSpacingWrtCellAlpha(crystal, reflexion);
        case CellParameter::beta:
            return diffDSpacingWrtCellBeta(crystal, reflexion);
        case CellParameter::gamma:
        default:
            return diffDSpacingWrtCellGamma(crystal, reflexion);
    }
}

}  // namespace powderkit
