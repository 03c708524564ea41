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
#include "boundary/constants.hpp"
#include "pattern/tof_peaks.hpp"

#include <cmath>
#include <complex>

#include "pattern/exponential_integral.hpp"
#include "pattern/peak_shapes.hpp"

namespace powderkit::phase {

namespace {

constexpr double kGaussianFwhmPerSigma = 2.354820045;
constexpr double kExponentialBound = 1e99;

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
    if (pseudoVoigt) {
        const double gamma = profile.gamma0 + profile.gamma1 * d + profile.gamma2 * (d * d);
        const double h = thompsonCoxHastingsFwhm(std::sqrt(peak.variance) * kGaussianFwhmPerSigma, gamma);
        peak.eta = thompsonCoxHastingsEta(gamma / h);
        peak.alphaGamma = peak.alpha * gamma / 2.0;
        peak.betaGamma = peak.beta * gamma / 2.0;
    }
    peak.present = true;
    return peak;
}

double tofPeakValue(const TofPeak &peak, double x) {
    if (!peak.present) return 0.0;
    const double delta = (x - peak.centre) * 1000.0;
    const double alpha = peak.alpha, beta = peak.beta, variance = peak.variance;
    const double u = (alpha / 2.0) * (2.0 * delta + alpha * variance);
    const double v = (beta / 2.0) * (beta * variance - 2.0 * delta);
    const double y = (alpha * variance + delta) / peak.divisor;
    const double z = (beta * variance - delta) / peak.divisor;
    const double gaussian = boundedExponential(u) * std::erfc(y) + boundedExponential(v) * std::erfc(z);
    if (peak.type != PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) return peak.normalization * gaussian;
    const std::complex<double> fp = expTimesE1({alpha * delta, peak.alphaGamma});
    const std::complex<double> fq = expTimesE1({-beta * delta, peak.betaGamma});
    if (std::isnan(fp.imag()) || std::isnan(fq.imag())) return 0.0;
    const double n = peak.normalization, eta = peak.eta;
    return (1.0 - eta) * n * gaussian - (2.0 * n * eta / kPi) * (fp.imag() + fq.imag());
}

void addTofWindow(const TofPeak &peak, const double *x, int32_t first, int32_t last, double factor, double *y) {
    if (!peak.present) return;
    for (int32_t i = first; i <= last; ++i) y[i] += factor * tofPeakValue(peak, x[i]);
}

}  // namespace powderkit::phase
