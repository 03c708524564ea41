// The constant-wavelength peak shapes of the pattern model with everything
// that depends only on the reflexion worked out once: centre, widths, mixing
// η, tan θ₀ and cot 2θ₀. Per point only the shape itself remains. The
// arithmetic is the core's (the same constants, the same formulas in the same
// order), and a test holds every value to the core's ProfileFunction.
#ifndef POWDERKIT_PHASE_PEAK_SHAPES_HPP
#define POWDERKIT_PHASE_PEAK_SHAPES_HPP

#include "powderkit.h"

namespace powderkit::phase {

// One reflexion's peak on a 2θ axis (degrees).
struct CwPeak {
    int32_t type = 0;        // PK_PROFILE_GAUSSIAN, _LORENTZIAN or _PSEUDO_VOIGT
    double centre = 0.0;     // 2θ₀
    double gaussianFactor = 0.0;   // 2√(ln 2/π) / H for the Gaussian part
    double lorentzianFactor = 0.0; // (2/π) / H for the Lorentzian part
    double inverseFwhm = 0.0;      // 1 / H
    double eta = 0.0;              // mixing of the pseudo-Voigt
    double asymmetry = 0.0;        // P where the asymmetry applies, else 0
    double tanTheta = 0.0;         // tan θ₀ (Gaussian asymmetry)
    double shift = 0.0;            // cot 2θ₀ (five-point asymmetry)
};

// The Thompson–Cox–Hastings pseudo-Voigt: the FWHM H of Gaussian and
// Lorentzian widths, and the Lorentzian fraction η of q = H_L / H (the
// core's constants and arithmetic).
double thompsonCoxHastingsFwhm(double hG, double hL);
double thompsonCoxHastingsEta(double q);

// The peak of `reflexion` (its peakPosition set) for a profile record of one
// of the three 2θ types; the asymmetry P applies at or below `cutoff`.
CwPeak makeCwPeak(const Reflexion &reflexion, const RefinementProfile &profile, double asymmetry,
                  double cutoff);

// The unit-area peak at 2θ = x.
double cwPeakValue(const CwPeak &peak, double x);

}  // namespace powderkit::phase

#endif
