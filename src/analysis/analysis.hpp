// Internal interface of the raw-pattern analysis: the pseudo-Voigt model and
// its derivative table, the steps of the single-peak fit, and the background
// point selection with its filters and spline.
#ifndef POWDERKIT_ANALYSIS_HPP
#define POWDERKIT_ANALYSIS_HPP

#include <cstdint>

#include "powderkit.h"

namespace powderkit {

// ---- pseudo-Voigt model: P = (x0, A, B, Γ, η) as a 5 × 1 matrix ----------

// Unit-area Lorentzian Γ/(2π·(Δ² + (Γ/2)²)) and Gaussian
// √(ln 2/π)·(2/Γ)·exp(−(4 ln 2/Γ²)·Δ²) of full width Γ at offset Δ.
double modelLorentzian(double delta, double fwhm);
double modelGaussian(double delta, double fwhm);

// ∂y/∂(one parameter) at x for the parameters P.
using PseudoVoigtDerivative = double (*)(double x, const Matrix *parameters);
double DiffPseudoVoigtWrtPosition(double x, const Matrix *parameters);
double DiffPseudoVoigtWrtArea(double x, const Matrix *parameters);
double DiffPseudoVoigtWrtBackground(double x, const Matrix *parameters);
double DiffPseudoVoigtWrtFWHM(double x, const Matrix *parameters);
double DiffPseudoVoigtWrtEta(double x, const Matrix *parameters);

// The derivative table in Jacobian column order, closed by nullptr.
extern const PseudoVoigtDerivative pseudoVoigtDerivatives[6];

// ---- single-peak fit ---------------------------------------------------

// Relative change of χ² below which an accepted step ends the fit.
constexpr double kFitConvergence = 1e-7;
constexpr int32_t kFitStepBudget = 20;
// Points searched on each side of the maximum for the window and half height.
constexpr int32_t kFitSideSpan = 29;

// Starting values from the range (position and baseline of the maximum,
// η = 0.5, width between the half-height points, area matching the height),
// or nullptr. Needs `start`-independent fields only.
Matrix *initialPseudoVoigtParameters(const PeakRange *range);

// r(i) = yᵢ − y(xᵢ) over the window; nothing unless r is pointCount × 1.
void pseudoVoigtResiduals(Matrix *r, const PeakRange *range, const Matrix *parameters);

// J(i, j) = derivative j at xᵢ; nothing unless J is pointCount × 5 and P a column.
void pseudoVoigtJacobian(Matrix *j, const PeakRange *range, const Matrix *parameters);

// One damped step (see pseudo_voigt_fit.cpp): 0 converged, 1 go on, 2 failed.
int32_t pseudoVoigtFitStep(Matrix *parameters, Matrix *r, const Matrix *j,
                           const PeakRange *range, double *chi2, double *lambda);

// ---- background estimation --------------------------------------------

// A fixed nine-point convolution filter: window length, normaliser and
// coefficients for the points −4 … +4 of the window.
struct FilterTable {
    int32_t window;
    int32_t normaliser;
    double coefficients[9];
};
extern const FilterTable smoothingCoefficients;
extern const FilterTable firstDerivativeCoefficients;

// The flat low points through which the background passes (a new array the
// caller frees, *outCount of them), or nullptr.
PatternPoint *selectBackgroundPoints(const PatternPoint *points, int32_t count,
                                     int32_t *outCount);

// One piece of a cubic spline: S(x) = a + b·t + c·t² + d·t³, t = x − x0.
struct SplineSegment {
    double a, b, c, d, x0;
};

// The natural cubic spline through `count` (≥ 2) knots: fills count − 1
// segments; false when the work memory cannot be had.
bool naturalCubicSpline(const PatternPoint *knots, int32_t count, SplineSegment *segments);

}  // namespace powderkit

#endif
