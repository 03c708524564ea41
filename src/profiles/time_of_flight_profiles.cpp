// The two time-of-flight peak shapes, on a pattern axis in milliseconds and of
// unit area over the offset in microseconds: back-to-back exponentials (rise
// rate α, decay rate β) convolved with a Gaussian of variance σ²,
//   Φ = N (e^u erfc(y) + e^v erfc(z)),  N = α β / (2 (α + β)),
// (Von Dreele, Jorgensen and Windsor, J. Appl. Cryst. 15 (1982) 581), and
// convolved with a pseudo-Voigt whose Lorentzian part of width γ is written
// with the exponential integral of p = −αΔ + iαγ/2 and q = −βΔ + iβγ/2,
//   Ψ = (1 − η) Φ − (2 N η / π) (Im(e^p E1(p)) + Im(e^q E1(q))).
// Both fill a work record that the derivative functions reuse.
#include <cmath>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "profiles/profiles.hpp"

namespace powderkit {

namespace {

using Complex = std::complex<double>;

double boundedPart(double value) {
    if (value > kExponentialBound) return kExponentialBound;
    if (value < -kExponentialBound) return -kExponentialBound;
    return value;
}

// Steps shared by both shapes; α is passed in because the pseudo-Voigt takes
// no constant term alpha0.
bool fillExponentialGaussianTerms(double x, const Reflexion *reflexion,
                                  const RefinementProfile *profile, bool withAlpha0,
                                  TofProfileTerms *terms) {
    const double tolerance = zeroTolerance();
    const double d = reflexion->dSpacing;
    const double d2 = d * d;
    const double d4 = d2 * d2;
    const double delta = (x - reflexion->peakPosition) * kMillisecondsToMicroseconds;
    terms->offset = delta;
    const double variance = profile->sigma0 + profile->sigma1 * d2 + profile->sigma2 * d4;
    terms->variance = variance;
    if (variance < tolerance) return false;

    const double alpha = withAlpha0 ? profile->alpha1 / d + profile->alpha0 : profile->alpha1 / d;
    terms->alpha = alpha;
    const double beta = profile->beta1 / d4 + profile->beta0;
    terms->beta = beta;
    const double sum = 2.0 * (alpha + beta);
    const double normalization = std::fabs(sum) < tolerance ? 0.0 : alpha * beta / sum;
    terms->normalization = normalization;
    if (normalization < tolerance) return false;

    const double u = (alpha / 2.0) * (2.0 * delta + alpha * variance);
    terms->u = u;
    const double v = (beta / 2.0) * (beta * variance - 2.0 * delta);
    terms->v = v;
    const double divisor = std::sqrt(2.0 * variance);
    const double y = (alpha * variance + delta) / divisor;
    terms->y = y;
    const double z = (beta * variance - delta) / divisor;
    terms->z = z;

    terms->expU = boundedExponential(u);
    terms->expV = boundedExponential(v);
    terms->erfcY = std::erfc(y);
    terms->erfcZ = std::erfc(z);
    terms->dSpacing = d;
    return true;
}

}  // namespace

double boundedExponential(double w) {
    const double value = std::exp(w);
    if (std::isnan(value)) return -kExponentialBound;
    return boundedPart(value);
}

bool tofExpGaussianTerms(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                         TofProfileTerms *terms) {
    return fillExponentialGaussianTerms(x, reflexion, profile, true, terms);
}

bool tofExpPseudoVoigtTerms(double x, const Reflexion *reflexion,
                            const RefinementProfile *profile, TofPseudoVoigtTerms *terms) {
    if (!fillExponentialGaussianTerms(x, reflexion, profile, false, terms)) return false;
    const double d = terms->dSpacing;
    const double gamma = profile->gamma0 + profile->gamma1 * d + profile->gamma2 * (d * d);
    terms->gamma = gamma;
    const double hG = std::sqrt(terms->variance) * kGaussianFwhmPerSigma;
    const double h = thompsonCoxHastingsFwhm(hG, gamma);
    terms->fwhm = h;
    terms->eta = thompsonCoxHastingsEta(gamma / h);

    const double alpha = terms->alpha;
    const double beta = terms->beta;
    const double delta = terms->offset;
    terms->p = Complex(-alpha * delta, alpha * gamma / 2.0);
    terms->q = Complex(-beta * delta, beta * gamma / 2.0);

    const Complex e1P = complexExponentialIntegral(terms->p);
    terms->e1P = e1P;
    const Complex e1Q = complexExponentialIntegral(terms->q);
    terms->e1Q = e1Q;
    if (std::isnan(e1P.real()) || std::isnan(e1P.imag()) || std::isnan(e1Q.real()) ||
        std::isnan(e1Q.imag())) {
        return false;
    }
    terms->e1P = Complex(boundedPart(e1P.real()), boundedPart(e1P.imag()));
    terms->e1Q = Complex(boundedPart(e1Q.real()), boundedPart(e1Q.imag()));
    return true;
}

double tofExpGaussianProfile(double x, Reflexion *reflexion, RefinementProfile *profile) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return 0.0;
    return terms.normalization * (terms.expU * terms.erfcY + terms.expV * terms.erfcZ);
}

double tofExpPseudoVoigtProfile(double x, Reflexion *reflexion, RefinementProfile *profile) {
    TofPseudoVoigtTerms terms;
    if (!tofExpPseudoVoigtTerms(x, reflexion, profile, &terms)) return 0.0;
    const double n = terms.normalization;
    const double eta = terms.eta;
    const double lorentzian =
        imaginaryPartOfExpTimesE1(terms.p, terms.e1P) + imaginaryPartOfExpTimesE1(terms.q, terms.e1Q);
    return (1.0 - eta) * n * (terms.expU * terms.erfcY + terms.expV * terms.erfcZ) -
           (2.0 * n * eta / kPi) * lorentzian;
}

}  // namespace powderkit
