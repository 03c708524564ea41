// The time-of-flight peak shapes of the pattern model with everything that
// depends only on the reflexion worked out once (α, β, σ², the normalisation,
// γ and η), and a loop over the points of a window. The Gaussian shape, and
// the Gaussian part of the pseudo-Voigt, are the core's formulas term for
// term; the pseudo-Voigt's Lorentzian part is the true convolution of the
// back-to-back exponentials with the Lorentzian, which the core's formula is
// not (the sign of its rise-side term; see tof_peaks.cpp). The exponential
// integral is the layer's own (exponential_integral.hpp), along the two
// lines of the plane a reflexion's peak runs on. Tests hold the values to a
// numerical convolution, to the core's shapes where the two agree (γ = 0),
// and to the careful evaluation by the core's Gaussian terms and expTimesE1.
#ifndef POWDERKIT_PHASE_TOF_PEAKS_HPP
#define POWDERKIT_PHASE_TOF_PEAKS_HPP

#include <cstdint>

#include "pattern/exponential_integral.hpp"
#include "powderkit.h"

namespace powderkit::phase {

// One reflexion's peak on a time-of-flight axis (ms), offsets in µs.
struct TofPeak {
    int32_t type = 0;          // PK_PROFILE_TOF_EXP_GAUSSIAN or _TOF_EXP_PSEUDO_VOIGT
    bool present = false;      // false where the core's shape is 0 (σ² or N below its tolerance)
    double centre = 0.0;       // peak position, ms
    double variance = 0.0;     // σ², µs²
    double alpha = 0.0;        // rise rate α, 1/µs
    double beta = 0.0;         // decay rate β, 1/µs
    double normalization = 0.0;  // N = α β / (2 (α + β))
    double divisor = 0.0;      // √(2σ²)
    double inverseDivisor = 0.0;  // 1/√(2σ²)
    double eta = 0.0;          // Lorentzian fraction (pseudo-Voigt)
    ExpE1Line rise;            // the line Im p = α γ / 2
    ExpE1Line decay;           // the line Im q = β γ / 2
};

// The peak of `reflexion` (its peakPosition and d set) for a time-of-flight profile record.
TofPeak makeTofPeak(const Reflexion &reflexion, const RefinementProfile &profile);

// The unit-area peak at x (ms).
double tofPeakValue(const TofPeak &peak, double x);

// y[i] += factor × tofPeakValue(peak, x[i]) for i = first … last.
void addTofWindow(const TofPeak &peak, const double *x, int32_t first, int32_t last, double factor, double *y);

}  // namespace powderkit::phase

#endif
