// The axial-divergence asymmetry of L. W. Finger, D. E. Cox and A. P. Jephcoat,
// J. Appl. Cryst. 27 (1994) 892. A ray of the cone of half-angle 2θ₀ that
// leaves the sample at height z_s reaches the detector circle (radius L) at
// height z_s + h and at the observed angle 2φ, with
//   cos 2φ = cos 2θ₀ √(1 + (h/L)²),   h/L = √(cos² 2φ / cos² 2θ₀ − 1),
// so every 2φ lies between 2θ₀ and 2φ_min, the angle of h = H + S (below 90°
// 2φ ≤ 2θ₀; above 90° the tail reverses, 2φ ≥ 2θ₀). Over the heights of a
// sample of half-height S and a detector of half-height H the observed peak is
//   P(x) = ∫ D(2φ) P_sym(x − 2φ) d2φ / ∫ D(2φ) d2φ,   D = W(2φ) / (h |cos 2φ|),
// the 1/(h |cos 2φ|) being the cone's azimuth per unit 2φ and
//   W = 2 min(H, S)       for h ≤ |H − S|,
//   W = H + S − h         for |H − S| ≤ h ≤ H + S (0 beyond),
// the length of sample heights whose rays at h still meet the detector. Where
// the cone reaches 2φ = 0 (or 180°) before h = H + S, the range ends there.
//
// The integral is taken over Δ = |2θ₀ − 2φ| in panels no wider than half a
// FWHM, split where W changes form, each by 8-point Gauss–Legendre in
// u = √Δ: h ∝ √Δ near 2θ₀, so the substitution takes the 1/h singularity
// away (dΔ/h = 2u du/h stays finite) and the integrand is smooth on every
// panel. With h² expressed as sin(2θ₀ + 2φ) sin(2θ₀ − 2φ) / cos² 2θ₀ it keeps
// its precision for Δ → 0. Each node's weight is normalised by the sum of all
// weights, so the peak keeps the symmetric shape's area.
#include "pattern/axial_divergence.hpp"

#include <algorithm>
#include <cmath>

#include "boundary/constants.hpp"
#include "pattern/window_kernels.hpp"

namespace powderkit::phase {

namespace {

// Gauss–Legendre, 8 points on [−1, 1]: the positive nodes and their weights.
constexpr double kNodes[4] = {0.18343464249564978, 0.525532409916329, 0.7966664774136267, 0.9602898564975362};
constexpr double kWeights[4] = {0.36268378337836177, 0.31370664587788705, 0.22238103445337434,
                                0.10122853629037669};
// Panel width in FWHM: a Lorentzian's poles then lie two panel half-widths
// off the panel, and 8 points bring every value within 1e-7 of the peak's
// height of the defining integral (5e-8 at worst in the tests, 5° … 150°).
constexpr double kPanelFwhm = 0.5;
// At most this many panels (a very narrow peak far below 90° with a large
// divergence): beyond it the panels widen and the accuracy falls gradually.
constexpr int kMostPanels = 2048;

struct Geometry {
    double twoTheta;  // 2θ₀, radians
    double cosine;    // cos 2θ₀
    double side;      // +1 below 90° (2φ = 2θ₀ − Δ), −1 above (2φ = 2θ₀ + Δ)
    double s, h;      // S/L, H/L

    // Δ at height h/L = t: where cos 2φ = cos 2θ₀ √(1 + t²), or the end of the range at 0° / 180°.
    double deltaAt(double t) const {
        const double c = cosine * std::sqrt(1.0 + t * t);
        if (std::fabs(c) >= 1.0) return side > 0.0 ? twoTheta : kPi - twoTheta;
        return side * (twoTheta - std::acos(c));
    }
    // D(2φ) at Δ: W / (h |cos 2φ|).
    double density(double delta) const {
        const double phi = twoTheta - side * delta;
        const double t = std::sqrt(std::sin(twoTheta + phi) * std::sin(side * delta)) / std::fabs(cosine);
        double w;
        if (std::min(s, h) > 0.0) {
            w = std::max(0.0, std::min(2.0 * std::min(s, h), s + h - t));
        } else {
            // One height zero: W / 2 min(H, S) tends to 1 below the other height, 0 above.
            w = t < s + h ? 1.0 : 0.0;
        }
        return w / (t * std::fabs(std::cos(phi)));
    }
};

}  // namespace

AxialNodes axialNodes(double twoTheta0, double fwhm, double sl, double hl) {
    AxialNodes nodes;
    const Geometry g{twoTheta0 * kDegreesToRadians, std::cos(twoTheta0 * kDegreesToRadians),
                     std::cos(twoTheta0 * kDegreesToRadians) > 0.0 ? 1.0 : -1.0, sl, hl};
    const double end = sl + hl > 0.0 ? g.deltaAt(sl + hl) : 0.0;
    if (!(end > 0.0) || g.cosine == 0.0) {
        nodes.offsets.push_back(0.0);
        nodes.weights.push_back(1.0);
        return nodes;
    }
    std::vector<double> cuts{0.0};
    const double bend = std::min(sl, hl) > 0.0 ? g.deltaAt(std::fabs(hl - sl)) : 0.0;
    if (bend > 0.0 && bend < end) cuts.push_back(bend);
    cuts.push_back(end);
    const double panel = std::max(kPanelFwhm * fwhm * kDegreesToRadians, end / kMostPanels);
    double total = 0.0;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const double from = cuts[c], to = cuts[c + 1];
        const int count = std::max(1, static_cast<int>(std::ceil((to - from) / panel)));
        for (int k = 0; k < count; ++k) {
            const double uFrom = std::sqrt(from + (to - from) * k / count);
            const double uTo = std::sqrt(from + (to - from) * (k + 1) / count);
            const double middle = 0.5 * (uFrom + uTo), half = 0.5 * (uTo - uFrom);
            for (int i = 0; i < 8; ++i) {
                const double u = middle + (i < 4 ? -kNodes[i] : kNodes[i - 4]) * half;
                const double delta = u * u;
                const double weight = kWeights[i < 4 ? i : i - 4] * half * 2.0 * u * g.density(delta);
                nodes.offsets.push_back(-g.side * delta * kRadiansToDegrees);
                nodes.weights.push_back(weight);
                total += weight;
            }
        }
    }
    for (double &weight : nodes.weights) weight /= total;
    nodes.reach = end * kRadiansToDegrees;
    return nodes;
}

void addAxialWindow(const CwPeak &peak, const AxialNodes &nodes, const double *x, int32_t first, int32_t last,
                    double factor, double *y) {
    CwPeak moved = peak;
    for (std::size_t k = 0; k < nodes.offsets.size(); ++k) {
        moved.centre = peak.centre + nodes.offsets[k];
        addCwWindow(moved, x, first, last, factor * nodes.weights[k], y);
    }
}

}  // namespace powderkit::phase
