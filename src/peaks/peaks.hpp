// Internal interface of the peak lists: the bounded pseudo-Voigt fit of one
// candidate on its window of a measured pattern (peak_fit.cpp) and the bins
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

// Fits y = background + c + H·pseudoVoigtShape((x − x0)/Γ, η) with weights
// 1/σ² by Levenberg–Marquardt steps, x0 held inside the window, η in [0, 1]
// and Γ from one point spacing to `widest`; the esd's come from the inverse
// normal matrix scaled by χ²/(N − 5).
PeakFit fitPseudoVoigt(const FitWindow &window, const PeakStart &start);

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
