// Internal interface of the peak lists: the bounded pseudo-Voigt fit of one
// candidate on its window of a measured pattern, with its Kα2 copy
// (peak_fit.cpp), and the bins
// of an oversampled pattern (oversampling.cpp), used by the search
// (peak_search.cpp).
#ifndef POWDERKIT_PEAKS_HPP
#define POWDERKIT_PEAKS_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "powderkit_phase.h"

namespace powderkit::peaks {

// Half-width, in points, of the running mean of y − background that the
// half-height walks read (the search's FWHM estimate, the bins' widths).
constexpr int32_t kSmoothing = 2;

// Unit-height pseudo-Voigt at t = (x − x0)/Γ: η·L + (1 − η)·G with
// L = 1/(1 + 4t²) and G = exp(−4 ln2 · t²).
double pseudoVoigtShape(double t, double eta);

// Area over (height × FWHM): η·π/2 + (1 − η)·√(π / (4 ln 2)).
double areaPerHeightWidth(double eta);

// The Kα2 line that comes with every Kα1 line of an X-ray tube. Both lines
// diffract from the same planes, so Bragg's law λ = 2d sin θ places the Kα2
// line at sin θ₂ = (λ₂/λ₁)·sin θ₁; at angles this close the instrument and
// the sample broaden both alike (same FWHM and η), and the Kα2 height is the
// tube's Kα2/Kα1 intensity ratio times the Kα1 height. ratio 0: one line.
struct Doublet {
    double k = 0.0;      // λ₂/λ₁
    double ratio = 0.0;  // Kα2 height over Kα1 height

    // 2θ₂ = 2·asin(k·sin θ₁) in degrees, from 2θ₁ in degrees; false (no Kα2
    // line) for a single line or where k·sin θ₁ ≥ 1 (beyond 180°).
    bool place(double twoTheta1, double &twoTheta2) const;
    // d(2θ₂)/d(2θ₁) = k·cos θ₁ / cos θ₂.
    double slope(double twoTheta1, double twoTheta2) const;
    // 2θ₂ − 2θ₁, 0 where there is no Kα2 line.
    double offset(double twoTheta1) const;
};

// A fitted peak's profile at x, its Kα2 copy included: H·[S((x − x0)/Γ, η) + ratio·S((x − x2)/Γ, η)].
double profileAt(const pk_peak &peak, const Doublet &doublet, double x);

// The points first … last (inclusive) of a pattern, the background under
// every point of it, and the largest FWHM a peak may have.
struct FitWindow {
    const double *x;
    const double *y;
    const double *sigma;
    const double *background;
    int32_t first;
    int32_t last;
    double widest;
};

// Where a fit starts (moved inside the bounds when outside them).
struct PeakStart {
    double height, position, fwhm, eta;
};

// The outcome of one fit: `peak` (all but d) when `reason` is empty, or why
// the fit failed; `widest` when Γ ended on its upper bound.
struct PeakFit {
    pk_peak peak;
    std::string reason;
    bool widest;
};

// Fits y = background + c + H·[S((x − x0)/Γ, η) + ratio·S((x − x2)/Γ, η)]
// (S = pseudoVoigtShape, x2 the Kα2 place of x0; the first term alone for a
// single line) with weights 1/σ² by Levenberg–Marquardt steps, x0 held inside
// the window, η in [0, 1] and Γ from one point spacing to `widest`; the esd's
// come from the inverse normal matrix scaled by χ²/(N − 5). The peak's
// height and area are Kα1's.
PeakFit fitPseudoVoigt(const FitWindow &window, const PeakStart &start, const Doublet &doublet = {});

// The bin size k (1: none) that leaves the median FWHM of the strongest peaks
// (tops above 3σ) about twelve points wide; each FWHM measured between the
// points where the running mean of y − background falls to half its top, at
// most `widest` points each side.
int32_t binningFactor(const double *y, const double *sigma, const double *background, int32_t count,
                      int32_t widest);

// Bins of k consecutive points (the last may hold fewer): mean x, mean y, and
// σ of the mean, √(Σσ²)/n.
struct BinnedPattern {
    std::vector<double> x, y, sigma;
};
BinnedPattern binned(const double *x, const double *y, const double *sigma, int32_t count, int32_t k);

}  // namespace powderkit::peaks

#endif
