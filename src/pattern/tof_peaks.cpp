// Time-of-flight peaks: back-to-back exponentials B(t) = 2N e^(αt) (t < 0),
// 2N e^(−βt) (t > 0), N = α β / (2 (α + β)), of unit area, convolved with a
// Gaussian of variance σ²,
//   Φ(Δ) = N (e^u erfc(y) + e^v erfc(z)),
//   u = (α/2)(2Δ + ασ²), v = (β/2)(βσ² − 2Δ), y = (ασ² + Δ)/√(2σ²), z = (βσ² − Δ)/√(2σ²)
// (Von Dreele, Jorgensen and Windsor, J. Appl. Cryst. 15 (1982) 581), the
// core's formula term for term; and with a pseudo-Voigt,
//   Ψ(Δ) = (1 − η) Φ(Δ) + η Λ(Δ),
// η the Thompson–Cox–Hastings fraction of H_G = 2.354820045 σ and γ, where
// Λ = B ⊗ L is the convolution with the Lorentzian L of FWHM γ. Writing
// L(s) = (1/π) Im 1/(s − iγ/2) and ∫₀^∞ e^(−βt) / (t + a) dt = e^(βa) E1(βa),
// the decay side is −(2N/π) Im(e^q E1(q)) with q = −βΔ + iβγ/2, and the rise
// side, the same with t → −t, Δ → −Δ and β → α, has p = +αΔ + iαγ/2:
//   Λ(Δ) = −(2N/π) (Im(e^p E1(p)) + Im(e^q E1(q))).
// The core writes p = −αΔ + iαγ/2, which is not this convolution: the rise
// side's Lorentzian term then falls on the wrong side of the peak (the same
// area, but tens of per cent of the height off near the peak when γ is
// comparable to σ and 1/α). The layer keeps the convolution; as γ → 0 its Λ
// tends to B itself. The widths are σ² = σ0 + σ1 d² + σ2 d⁴,
// α = α1/d (+ α0 for the Gaussian shape), β = β0 + β1/d⁴, γ = γ0 + γ1 d + γ2 d².
// As the core does, e^u and e^v are held within ±1e99 and a term that is not
// a number leaves the point at 0.
// Per point, Φ is formed from the scaled complementary error function
// erfcx(s) = e^(s²) erfc(s) (libcerf): u = y² − g and v = z² − g with
// g = Δ²/(2σ²), so e^u erfc(y) = e^(−g) erfcx(y), one exponential for both
// terms and no overflowing e^u beside an underflowing erfc(y) (where the
// bound would bind, the core's form is kept). Λ takes Im e^z E1(z) along the
// two lines Im p = αγ/2 and Im q = βγ/2, set up once per reflexion
// (ExpE1Line). A test holds both shapes to this file's careful form (the
// core's Gaussian terms, expTimesE1) within 1e−12 of the peak.
#include "boundary/constants.hpp"
#include "pattern/tof_peaks.hpp"

#include <cmath>
#include <complex>

#include <cerf.h>

#include "pattern/exponential_integral.hpp"
#include "pattern/peak_shapes.hpp"
#include "reflexions/vector_math.hpp"

namespace powderkit::phase {

namespace {

constexpr double kGaussianFwhmPerSigma = 2.354820045;
constexpr double kExponentialBound = 1e99;
// Below ln 1e99 ≈ 227.96 the bound never binds.
constexpr double kExponentBoundLogarithm = 227.0;
constexpr double kGaussianReach = 40.0;  // Δ²/(2σ²) beyond which e^(−Δ²/(2σ²)) erfcx is dropped

double boundedExponential(double w) {
    const double value = std::exp(w);
    if (std::isnan(value)) return -kExponentialBound;
    return value > kExponentialBound ? kExponentialBound : value;
}

}  // namespace

TofPeak makeTofPeak(const Reflexion &reflexion, const RefinementProfile &profile) {
    TofPeak peak;
    peak.type = profile.profileType;
    peak.centre = reflexion.peakPosition;
    const double d = reflexion.dSpacing;
    const double d2 = d * d;
    const double d4 = d2 * d2;
    peak.variance = profile.sigma0 + profile.sigma1 * d2 + profile.sigma2 * d4;
    if (peak.variance < kZeroTolerance) return peak;
    const bool pseudoVoigt = peak.type == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT;
    peak.alpha = pseudoVoigt ? profile.alpha1 / d : profile.alpha1 / d + profile.alpha0;
    peak.beta = profile.beta1 / d4 + profile.beta0;
    const double sum = 2.0 * (peak.alpha + peak.beta);
    peak.normalization = std::fabs(sum) < kZeroTolerance ? 0.0 : peak.alpha * peak.beta / sum;
    if (peak.normalization < kZeroTolerance) return peak;
    peak.divisor = std::sqrt(2.0 * peak.variance);
    peak.inverseDivisor = 1.0 / peak.divisor;
    if (pseudoVoigt) {
        const double gamma = profile.gamma0 + profile.gamma1 * d + profile.gamma2 * (d * d);
        const double h = thompsonCoxHastingsFwhm(std::sqrt(peak.variance) * kGaussianFwhmPerSigma, gamma);
        peak.eta = thompsonCoxHastingsEta(gamma / h);
        peak.rise = makeExpE1Line(peak.alpha * gamma / 2.0);
        peak.decay = makeExpE1Line(peak.beta * gamma / 2.0);
    }
    peak.present = true;
    return peak;
}

namespace {

// e^u erfc(y) + e^v erfc(z) as the core forms it, e^u and e^v held at 1e99.
double gaussianTerms(const TofPeak &peak, double delta, double u, double v) {
    const double y = (peak.alpha * peak.variance + delta) / peak.divisor;
    const double z = (peak.beta * peak.variance - delta) / peak.divisor;
    return boundedExponential(u) * std::erfc(y) + boundedExponential(v) * std::erfc(z);
}

[[gnu::always_inline]] inline double valueAt(const TofPeak &peak, double x) {
    const double delta = (x - peak.centre) * 1000.0;
    const double alpha = peak.alpha, beta = peak.beta, variance = peak.variance;
    const double u = (alpha / 2.0) * (2.0 * delta + alpha * variance);
    const double v = (beta / 2.0) * (beta * variance - 2.0 * delta);
    double gaussian;
    if (u > kExponentBoundLogarithm || v > kExponentBoundLogarithm) {
        gaussian = gaussianTerms(peak, delta, u, v);
    } else {
        // u = y² − g and v = z² − g, g = Δ²/(2σ²): e^u erfc(y) = e^(−g) erfcx(y), and
        // below y = 0, where erfc(y) = 2 − erfc(−y) and u < 0, 2 e^u − e^(−g) erfcx(−y);
        // y < 0 and z < 0 exclude each other. Beyond g = 40 the erfcx terms, each
        // at most 1, add less than 2e^(−40) ≈ 8.5e−18 (times N) and are left out.
        const double ratio = delta * peak.inverseDivisor;
        const double g = ratio * ratio;
        const double y = (alpha * variance + delta) * peak.inverseDivisor;
        const double z = (beta * variance - delta) * peak.inverseDivisor;
        gaussian = y < 0.0 || z < 0.0 ? 2.0 * std::exp(y < 0.0 ? u : v) : 0.0;
        if (g <= kGaussianReach) {
            const double ey = erfcx(std::fabs(y)), ez = erfcx(std::fabs(z));
            gaussian += expNonPositive(-g) * ((y < 0.0 ? -ey : ey) + (z < 0.0 ? -ez : ez));
        }
    }
    if (peak.type != PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) return peak.normalization * gaussian;
    const double fp = imagExpTimesE1(peak.rise, alpha * delta);
    const double fq = imagExpTimesE1(peak.decay, -beta * delta);
    if (std::isnan(fp) || std::isnan(fq)) return 0.0;
    const double n = peak.normalization, eta = peak.eta;
    return (1.0 - eta) * n * gaussian - (2.0 * n * eta / kPi) * (fp + fq);
}

}  // namespace

double tofPeakValue(const TofPeak &peak, double x) { return peak.present ? valueAt(peak, x) : 0.0; }

void addTofWindow(const TofPeak &peak, const double *x, int32_t first, int32_t last, double factor, double *y) {
    if (!peak.present) return;
    for (int32_t i = first; i <= last; ++i) y[i] += factor * valueAt(peak, x[i]);
}

}  // namespace powderkit::phase
