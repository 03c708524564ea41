// Internal interface of the peak-profile subsystem shared with the rest of
// the library: the profile method table, the process-wide asymmetry cut-off,
// the constants of the peak shapes, the width, shift and five-point-average
// routines of the constant-wavelength shapes, the time-of-flight work records
// and the complex exponential integral.
#ifndef POWDERKIT_PROFILES_HPP
#define POWDERKIT_PROFILES_HPP

#include <cmath>
#include <complex>

#include "powderkit.h"

namespace powderkit {

extern const RefinementProfileMethods kProfileMethods;

// 2θ in degrees above which the constant-wavelength shapes are symmetric;
// 50.0 from load time, set by SetAsymmetryCutoff2Theta.
extern double asymmetryCutoff2Theta;

// ---------------------------------------------------------------------------
// Constants of the peak shapes
// ---------------------------------------------------------------------------

// Unit-area Gaussian of full width H: (2√(ln 2/π) / H) exp(−4 ln 2 (Δ/H)²).
constexpr double kGaussianPeakFactor = 0.9394372787;     // 2√(ln 2/π)
constexpr double kGaussianExponentFactor = 2.772588722239781;  // 4 ln 2
// Unit-area Lorentzian of full width H: (2/π / H) / (1 + 4 (Δ/H)²).
constexpr double kLorentzianPeakFactor = 0.6366197723675814;  // 2/π

// Thompson–Cox–Hastings total width and mixing.
constexpr double kTchWidth1 = 2.69269;
constexpr double kTchWidth2 = 2.42843;
constexpr double kTchWidth3 = 4.47163;
constexpr double kTchWidth4 = 0.07842;
constexpr double kTchEta1 = 1.36603;
constexpr double kTchEta2 = 0.47719;
constexpr double kTchEta3 = 0.11116;

// Boole's rule over [0, 1] with five points: 7/90, 32/90, 12/90, 32/90, 7/90.
constexpr double kBooleWeightEnd = 0.07777777777777778;
constexpr double kBooleWeightOdd = 0.35555555555555557;
constexpr double kBooleWeightMiddle = 0.13333333333333333;

// Time of flight: FWHM of a Gaussian from its standard deviation, 2√(2 ln 2).
constexpr double kGaussianFwhmPerSigma = 2.354820045;
// Far-out exponentials are stored within ±1e99.
constexpr double kExponentialBound = 1e99;

// The complex exponential integral.
constexpr double kEulerGamma = 0.5772156649015328;
constexpr double kExponentialIntegralTolerance = 1e-15;
constexpr int kExponentialIntegralMaxSteps = 500;
constexpr int kContinuedFractionMinSteps = 20;
constexpr double kSeriesRadius = 5.0;
constexpr double kNegativeAxisSeriesRadius = 40.0;

// ---------------------------------------------------------------------------
// Constant-wavelength shapes
// ---------------------------------------------------------------------------

// The unit-area Gaussian G(Δ; H) and Lorentzian L(Δ; H), H the FWHM in degrees.
inline double unitGaussian(double delta, double fwhm) {
    const double ratio = delta / fwhm;
    return (kGaussianPeakFactor / fwhm) * std::exp(-kGaussianExponentFactor * (ratio * ratio));
}
inline double unitLorentzian(double delta, double fwhm) {
    const double ratio = delta / fwhm;
    return (kLorentzianPeakFactor / fwhm) / (1.0 + 4.0 * (ratio * ratio));
}

// θ₀ in radians of a peak at 2θ₀ degrees.
double braggAngle(double twoTheta);

// Caglioti width H_G = √(U t² + V t + W) with t = tan θ₀, degrees 2θ.
double gaussianFwhm(const RefinementProfile *profile, double twoTheta);

// Lorentzian width H_L = LX / cos θ₀ + LY tan θ₀, degrees 2θ.
double lorentzianFwhm(const RefinementProfile *profile, double twoTheta);

// Thompson–Cox–Hastings total width H of a Gaussian width hG and a Lorentzian
// width hL, and the mixing η for the ratio hL / H.
double thompsonCoxHastingsFwhm(double hG, double hL);
double thompsonCoxHastingsEta(double ratio);

// The widths of the pseudo-Voigt of one reflexion, in this order.
struct PseudoVoigtWidths {
    double gaussianFwhm;    // H_G
    double lorentzianFwhm;  // H_L
    double fwhm;            // H
    double eta;             // η
};

// Fills `widths` from the reflexion's peakPosition and the profile; false
// (nothing written) when any pointer is null.
bool pseudoVoigtWidths(const Reflexion *reflexion, const RefinementProfile *profile,
                       PseudoVoigtWidths *widths);

// The four asymmetry shifts c (k/4)², k = 1 … 4, with c = cot 2θ₀.
struct AsymmetryShifts {
    double shift[4];
};
AsymmetryShifts asymmetryShifts(double twoTheta);

// True when a peak at 2θ₀ lies at or below the process-wide cut-off.
inline bool isBelowAsymmetryCutoff(double twoTheta) {
    return !(twoTheta > asymmetryCutoff2Theta);
}

// True when the Lorentzian and pseudo-Voigt take their five-point average:
// P at or above the zero tolerance and 2θ₀ not above the cut-off.
bool usesAsymmetryAverage(double asymmetry, double twoTheta);

// The five-point asymmetry average A[F](x) of a shape F(position): Boole's
// rule over u in [0, 1] of F(x + P c u²). The widths are held by `shape`;
// only the position moves.
template <typename Shape>
double fivePointAsymmetryAverage(const Shape &shape, double x, double asymmetry,
                                 const AsymmetryShifts &shifts) {
    return kBooleWeightEnd * shape(x) + kBooleWeightOdd * shape(x + asymmetry * shifts.shift[0]) +
           kBooleWeightMiddle * shape(x + asymmetry * shifts.shift[1]) +
           kBooleWeightOdd * shape(x + asymmetry * shifts.shift[2]) +
           kBooleWeightEnd * shape(x + asymmetry * shifts.shift[3]);
}

// The shape at x as the Lorentzian and pseudo-Voigt take it: its five-point
// asymmetry average when usesAsymmetryAverage holds for the peak at 2θ₀, and
// the symmetric shape otherwise.
template <typename Shape>
double asymmetricShapeAt(const Shape &shape, double x, double asymmetry, double twoTheta) {
    if (!usesAsymmetryAverage(asymmetry, twoTheta)) return shape(x);
    return fivePointAsymmetryAverage(shape, x, asymmetry, asymmetryShifts(twoTheta));
}

// The Rietveld factor 1 − P |Δ| Δ / t of the Gaussian, or 1 above the cut-off.
double rietveldAsymmetryFactor(double asymmetry, double delta, double tanTheta,
                               double twoTheta);

// The terms of the Gaussian shape at x that its value and derivatives share.
struct GaussianTerms {
    double twoTheta;  // 2θ₀, the peak position
    double delta;     // Δ = x − 2θ₀
    double tanTheta;  // tan θ₀
    double fwhm;      // H_G
    double factor;    // the Rietveld factor
};
GaussianTerms gaussianTerms(double x, const Reflexion *reflexion,
                            const RefinementProfile *profile);

double gaussianProfile(double x, Reflexion *reflexion, RefinementProfile *profile);
double lorentzianProfile(double x, Reflexion *reflexion, RefinementProfile *profile);
double pseudoVoigtProfile(double x, Reflexion *reflexion, RefinementProfile *profile);

// ---------------------------------------------------------------------------
// Complex exponential integral
// ---------------------------------------------------------------------------

// E1(z) on the principal branch, cut along the negative real axis; E1(0) = +∞.
std::complex<double> complexExponentialIntegral(std::complex<double> z);

// Im(e^p E1(p)) = Re(e^p) Im(E1(p)) + Im(e^p) Re(E1(p)). Far below a
// time-of-flight peak e^p overflows while E1(p) underflows; the product, of
// the size of the far Lorentzian tail, then counts as 0 instead of a
// not-a-number.
double imaginaryPartOfExpTimesE1(std::complex<double> p, std::complex<double> e1);

// ---------------------------------------------------------------------------
// Time-of-flight shapes
// ---------------------------------------------------------------------------

// Work record of the back-to-back exponentials convolved with a Gaussian.
// Δ in µs, σ² in µs², α and β in 1/µs.
struct TofProfileTerms {
    double offset;         // Δ = (x − peakPosition) × 1000
    double variance;       // σ²
    double alpha;          // α
    double beta;           // β
    double normalization;  // N = α β / (2 (α + β))
    double expU;           // bounded e^u
    double expV;           // bounded e^v
    double erfcY;          // erfc(y)
    double erfcZ;          // erfc(z)
    double u;              // (α/2)(2Δ + α σ²)
    double y;              // (α σ² + Δ) / √(2σ²)
    double v;              // (β/2)(β σ² − 2Δ)
    double z;              // (β σ² − Δ) / √(2σ²)
    double dSpacing;       // d, Å
};

// The same convolved with a pseudo-Voigt: the Lorentzian part in E1 terms.
struct TofPseudoVoigtTerms : TofProfileTerms {
    double gamma;               // γ, µs
    double eta;                 // η of H_G and γ
    std::complex<double> p;     // −αΔ + iαγ/2
    std::complex<double> q;     // −βΔ + iβγ/2
    double fwhm;                // H of H_G and γ
    std::complex<double> e1P;   // bounded E1(p)
    std::complex<double> e1Q;   // bounded E1(q)
};

// e^w limited to [−1e99, 1e99]; a not-a-number is stored as −1e99.
double boundedExponential(double w);

// Fill the work records at x; false when σ² or N is below the zero tolerance
// (or, for the pseudo-Voigt, an E1 part is not a number). Each field is stored
// as it is computed, so a failed fill keeps what was computed before it.
bool tofExpGaussianTerms(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                         TofProfileTerms *terms);
bool tofExpPseudoVoigtTerms(double x, const Reflexion *reflexion,
                            const RefinementProfile *profile, TofPseudoVoigtTerms *terms);

double tofExpGaussianProfile(double x, Reflexion *reflexion, RefinementProfile *profile);
double tofExpPseudoVoigtProfile(double x, Reflexion *reflexion, RefinementProfile *profile);

// ---------------------------------------------------------------------------
// Validation
// ---------------------------------------------------------------------------

// Width checks over the fitting range; each false for a null profile.
bool gaussianFwhmIsValid(const RefinementProfile *profile);
bool lorentzianFwhmIsValid(const RefinementProfile *profile);
bool tofProfileIsValid(RefinementProfile *profile);

}  // namespace powderkit

#endif
