// The fit of one peak on its window of a measured pattern:
//   y(x) = b(x) + c + H·[S(t₁) + r·S(t₂)],  S(t) = η·L(t) + (1 − η)·G(t),
// t₁ = (x − x0)/Γ, t₂ = (x − x2)/Γ, L = 1/(1 + 4t²), G = exp(−4 ln2·t²), b the
// pattern's background and c a free offset of it. The second term is the
// Kα2 copy of the line (Doublet in peaks.hpp): at x2 = 2·asin(k·sin(x0/2)),
// which follows x0 with slope ∂x2/∂x0 = k·cos θ₁ / cos θ₂, with r = 0 for a
// single line. q = (H, x0, Γ, η, c) is refined by Levenberg–Marquardt on the
// residuals weighted by 1/σ². A trial step that leaves x0 ∈ window,
// Γ ∈ [point spacing, widest] or η ∈ [0, 1] is cut back to the bound (a
// projected step), and a value on a bound that the gradient pushes further
// out is held there for that step. At the minimum Cov = (JᵀWJ)⁻¹·χ²/(N − 5)
// gives the esd's, and the Kα1 area A = H·Γ·k(η) its esd as √(∇A·Cov·∇Aᵀ).
#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>

#include "peaks/peaks.hpp"

namespace powderkit::peaks {

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kPi = 3.14159265358979323846;
constexpr int kValues = 5;
constexpr int kStepBudget = 200;
// An accepted step that lowers χ² by less than this fraction ends the fit.
constexpr double kConvergence = 1e-6;
// Marquardt's λ: start, and the value past which no step can lower χ².
constexpr double kFirstDamping = 1e-3;
constexpr double kLargestDamping = 1e10;
constexpr double kNone = std::numeric_limits<double>::infinity();
constexpr double kLeastExponent = -700.0;

using Vector = Eigen::Matrix<double, kValues, 1>;
using Normal = Eigen::Matrix<double, kValues, kValues>;

enum Value { kHeight = 0, kPosition = 1, kFwhm = 2, kEta = 3, kOffset = 4 };

// G(t) = exp(−4 ln2·t²), taken as 0 where it would underflow (|t| > 16), which exp handles slowly.
double gaussian(double t) {
    const double exponent = -4.0 * kLn2 * t * t;
    return exponent > kLeastExponent ? std::exp(exponent) : 0.0;
}

// χ² = Σ w·r² of the window; with `normal` and `gradient` also JᵀWJ and JᵀW·r.
double evaluate(const FitWindow &w, const Doublet &doublet, const Vector &q, Normal *normal, Vector *gradient) {
    if (normal != nullptr) {
        normal->setZero();
        gradient->setZero();
    }
    double x2 = 0.0;
    const bool second = doublet.place(q[kPosition], x2);
    const double r2 = second ? doublet.ratio : 0.0;
    const double follows = second ? doublet.slope(q[kPosition], x2) : 0.0;  // ∂x2/∂x0
    double chi2 = 0.0;
    for (int32_t i = w.first; i <= w.last; ++i) {
        const double t = (w.x[i] - q[kPosition]) / q[kFwhm];
        const double t2 = second ? (w.x[i] - x2) / q[kFwhm] : 0.0;
        const double lorentz = 1.0 / (1.0 + 4.0 * t * t);
        const double gauss = gaussian(t);
        const double lorentz2 = second ? 1.0 / (1.0 + 4.0 * t2 * t2) : 0.0;
        const double gauss2 = second ? gaussian(t2) : 0.0;
        const double shape = q[kEta] * (lorentz + r2 * lorentz2) + (1.0 - q[kEta]) * (gauss + r2 * gauss2);
        const double weight = 1.0 / (w.sigma[i] * w.sigma[i]);
        const double r = w.y[i] - w.background[i] - q[kOffset] - q[kHeight] * shape;
        chi2 += weight * r * r;
        if (normal == nullptr) continue;
        // dS/dt: L' = −8t·L², G' = −8 ln2·t·G.
        const double slope = -8.0 * t * (q[kEta] * lorentz * lorentz + (1.0 - q[kEta]) * kLn2 * gauss);
        const double slope2 =
            second ? -8.0 * t2 * (q[kEta] * lorentz2 * lorentz2 + (1.0 - q[kEta]) * kLn2 * gauss2) : 0.0;
        Vector j;
        j[kHeight] = shape;
        j[kPosition] = -q[kHeight] * (slope + r2 * slope2 * follows) / q[kFwhm];
        j[kFwhm] = -q[kHeight] * (slope * t + (second ? r2 * slope2 * t2 : 0.0)) / q[kFwhm];
        j[kEta] = q[kHeight] * (lorentz - gauss + r2 * (lorentz2 - gauss2));
        j[kOffset] = 1.0;
        normal->noalias() += weight * j * j.transpose();
        *gradient += weight * r * j;
    }
    return chi2;
}

PeakFit failed(const std::string &reason) {
    PeakFit fit{};
    fit.reason = reason;
    return fit;
}

}  // namespace

double pseudoVoigtShape(double t, double eta) {
    return eta / (1.0 + 4.0 * t * t) + (1.0 - eta) * gaussian(t);
}

double areaPerHeightWidth(double eta) {
    return eta * kPi / 2.0 + (1.0 - eta) * std::sqrt(kPi / (4.0 * kLn2));
}

bool Doublet::place(double twoTheta1, double &twoTheta2) const {
    const double s = k * std::sin(twoTheta1 * kPi / 360.0);
    if (!(ratio > 0.0) || !(s < 1.0)) return false;
    twoTheta2 = std::asin(s) * 360.0 / kPi;
    return true;
}

double Doublet::slope(double twoTheta1, double twoTheta2) const {
    return k * std::cos(twoTheta1 * kPi / 360.0) / std::cos(twoTheta2 * kPi / 360.0);
}

double Doublet::offset(double twoTheta1) const {
    double twoTheta2 = twoTheta1;
    return place(twoTheta1, twoTheta2) ? twoTheta2 - twoTheta1 : 0.0;
}

double profileAt(const pk_peak &peak, const Doublet &doublet, double x) {
    double x2 = 0.0;
    const double second =
        doublet.place(peak.position, x2) ? doublet.ratio * pseudoVoigtShape((x - x2) / peak.fwhm, peak.eta) : 0.0;
    return peak.height * (pseudoVoigtShape((x - peak.position) / peak.fwhm, peak.eta) + second);
}

PeakFit fitPseudoVoigt(const FitWindow &w, const PeakStart &start, const Doublet &doublet) {
    const int32_t count = w.last - w.first + 1;
    if (count < kValues + 3) return failed("only " + std::to_string(count) + " points in its window");
    const double span = w.x[w.last] - w.x[w.first];
    const double spacing = span / (count - 1);
    const double widest = std::max(w.widest, spacing);
    // Bounds: x0 inside the window, Γ from one point spacing to the widest, η in [0, 1].
    Vector lower;
    Vector upper;
    lower << -kNone, w.x[w.first], spacing, 0.0, -kNone;
    upper << kNone, w.x[w.last], widest, 1.0, kNone;
    Vector q;
    q << start.height, start.position, start.fwhm, start.eta, 0.0;
    q = q.cwiseMax(lower).cwiseMin(upper);
    Normal normal;
    Vector gradient;
    double chi2 = evaluate(w, doublet, q, &normal, &gradient);
    double damping = kFirstDamping;
    bool converged = false;
    for (int step = 0; step < kStepBudget && !converged; ++step) {
        Normal damped = normal;
        damped.diagonal() *= 1.0 + damping;
        // A value on a bound that the gradient pushes outwards is held there for this step.
        Vector pushed = gradient;
        for (int v = 0; v < kValues; ++v) {
            if ((q[v] <= lower[v] && gradient[v] < 0.0) || (q[v] >= upper[v] && gradient[v] > 0.0)) {
                damped.row(v).setZero();
                damped.col(v).setZero();
                damped(v, v) = 1.0;
                pushed[v] = 0.0;
            }
        }
        const Vector trial = (q + damped.ldlt().solve(pushed)).cwiseMax(lower).cwiseMin(upper);
        const double trialChi2 = evaluate(w, doublet, trial, nullptr, nullptr);
        if (trial.allFinite() && std::isfinite(trialChi2) && trialChi2 <= chi2) {
            converged = chi2 - trialChi2 <= kConvergence * chi2;
            q = trial;
            chi2 = evaluate(w, doublet, q, &normal, &gradient);
            damping = std::max(damping / 3.0, kFirstDamping * 1e-9);
        } else {
            damping *= 10.0;
            // No damped step lowers χ²: q is the minimum (perhaps on a bound).
            converged = damping > kLargestDamping;
        }
    }
    if (!converged) return failed("no convergence in " + std::to_string(kStepBudget) + " steps");
    if (q[kPosition] <= lower[kPosition] || q[kPosition] >= upper[kPosition]) {
        return failed("no maximum inside its window");
    }

    // Invert on the unit diagonal, so that the values' different scales do not count as singularity.
    const Vector diagonal = normal.diagonal();
    if (!(diagonal.minCoeff() > 0.0)) return failed("a value has no effect on the fit (singular normal matrix)");
    const Vector scale = diagonal.cwiseSqrt().cwiseInverse();
    const Normal scaled = scale.asDiagonal() * normal * scale.asDiagonal();
    const Eigen::FullPivLU<Normal> lu(scaled);
    if (!lu.isInvertible()) return failed("the window cannot fix all five values (singular normal matrix)");
    const Normal covariance = scale.asDiagonal() * lu.inverse() * scale.asDiagonal() * (chi2 / (count - kValues));

    const double k = areaPerHeightWidth(q[kEta]);
    const double slopeOfK = areaPerHeightWidth(1.0) - areaPerHeightWidth(0.0);  // ∂k/∂η
    Vector areaGradient;
    areaGradient << q[kFwhm] * k, 0.0, q[kHeight] * k, q[kHeight] * q[kFwhm] * slopeOfK, 0.0;
    PeakFit fit{};
    fit.widest = q[kFwhm] >= upper[kFwhm];
    pk_peak &p = fit.peak;
    p.height = q[kHeight];
    p.position = q[kPosition];
    p.fwhm = q[kFwhm];
    p.eta = q[kEta];
    p.area = q[kHeight] * q[kFwhm] * k;
    p.height_esd = std::sqrt(covariance(kHeight, kHeight));
    p.position_esd = std::sqrt(covariance(kPosition, kPosition));
    p.fwhm_esd = std::sqrt(covariance(kFwhm, kFwhm));
    p.eta_esd = std::sqrt(covariance(kEta, kEta));
    p.area_esd = std::sqrt(areaGradient.dot(covariance * areaGradient));
    const double values[] = {p.height, p.height_esd, p.position_esd, p.fwhm_esd, p.eta_esd, p.area, p.area_esd};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); })) {
        return failed("a fitted value or esd is not finite");
    }
    return fit;
}

}  // namespace powderkit::peaks
