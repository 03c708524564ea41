// The constant-wavelength peak of one reflexion over the points of its
// window: one tight loop per shape, with everything that depends only on
// the reflexion taken from its CwPeak, e^v from vector_math.hpp, and no
// branch or call per point, so that the loop runs on vector lanes. The
// formulas are those of peak_shapes.cpp, term for term; a test holds the
// values to the core's profile functions.
#include "boundary/constants.hpp"
#include "pattern/window_kernels.hpp"

#include "reflexions/vector_math.hpp"

#include <algorithm>

namespace powderkit::phase {

namespace {

constexpr double kBooleEnd = 0.07777777777777778;              // 7/90
constexpr double kBooleOdd = 0.35555555555555557;              // 32/90
constexpr double kBooleMiddle = 0.13333333333333333;           // 12/90

// Beyond 12 FWHM the Gaussian is below e^(−4 ln 2 · 144) ≈ 1e−173 of its
// height: beside the Lorentzian's tail it adds nothing to any bit.
constexpr double kGaussianReach = 12.0;

// The symmetric shapes at Δ = x − 2θ₀, r = Δ/H:
//   Gaussian      (2√(ln 2/π)/H) e^(−4 ln 2 r²)
//   Lorentzian    ((2/π)/H) / (1 + 4 r²)
//   pseudo-Voigt  (1 − η) Gaussian + η Lorentzian; in a tail (|r| > 12) its
//                 Lorentzian part alone
template <int Type, bool Tail>
[[gnu::always_inline]] inline double symmetric(const CwPeak &peak, double delta) {
    const double ratio = delta * peak.inverseFwhm;
    const double r2 = ratio * ratio;
    if constexpr (Type == PK_PROFILE_GAUSSIAN) {
        return peak.gaussianFactor * expNonPositive(-kGaussianExponentFactor * r2);
    } else if constexpr (Type == PK_PROFILE_LORENTZIAN) {
        return peak.lorentzianFactor / (1.0 + 4.0 * r2);
    } else if constexpr (Tail) {
        return peak.eta * (peak.lorentzianFactor / (1.0 + 4.0 * r2));
    } else {
        return (1.0 - peak.eta) * (peak.gaussianFactor * expNonPositive(-kGaussianExponentFactor * r2)) +
               peak.eta * (peak.lorentzianFactor / (1.0 + 4.0 * r2));
    }
}

template <int Type, bool Tail>
struct SymmetricLoop {
    [[gnu::always_inline]] static void run(const CwPeak &peak, const double *x, int32_t first, int32_t last,
                                           double factor, double *y) {
        const double centre = peak.centre;
        for (int32_t i = first; i <= last; ++i) y[i] += factor * symmetric<Type, Tail>(peak, x[i] - centre);
    }
};

// The Gaussian's asymmetry: G(Δ) (1 − P |Δ| Δ / tan θ₀) (Rietveld).
[[gnu::always_inline]] inline void asymmetricGaussianWindow(const CwPeak &peak, const double *x, int32_t first,
                                                            int32_t last, double factor, double *y) {
    const double centre = peak.centre;
    for (int32_t i = first; i <= last; ++i) {
        const double delta = x[i] - centre;
        const double magnitude = delta < 0.0 ? -delta : delta;
        y[i] += factor * (symmetric<PK_PROFILE_GAUSSIAN, false>(peak, delta) *
                          (1.0 - peak.asymmetry * magnitude * delta / peak.tanTheta));
    }
}

// The Lorentzian's and pseudo-Voigt's asymmetry: Boole's rule over the
// positions x + P c (k/4)², k = 0 … 4, c = cot 2θ₀.
template <int Type, bool Tail>
struct BooleLoop {
    [[gnu::always_inline]] static void run(const CwPeak &peak, const double *x, int32_t first, int32_t last,
                                           double factor, double *y) {
        const double p = peak.asymmetry;
        const double c = peak.centre;
        const double s1 = p * (peak.shift * 0.0625), s2 = p * (peak.shift * 0.25);
        const double s3 = p * (peak.shift * 0.5625), s4 = p * peak.shift;
        for (int32_t i = first; i <= last; ++i) {
            const double at = x[i];
            y[i] += factor * (kBooleEnd * symmetric<Type, Tail>(peak, at - c) +
                              kBooleOdd * symmetric<Type, Tail>(peak, (at + s1) - c) +
                              kBooleMiddle * symmetric<Type, Tail>(peak, (at + s2) - c) +
                              kBooleOdd * symmetric<Type, Tail>(peak, (at + s3) - c) +
                              kBooleEnd * symmetric<Type, Tail>(peak, (at + s4) - c));
        }
    }
};

// Runs Loop over first … last; for the pseudo-Voigt, as Loop<Type, false>
// over the points within 12 FWHM + reach of the centre and as
// Loop<Type, true> over those beyond on either side (reach: how far the
// loop's shifted positions go beyond x).
template <template <int, bool> class Loop, int Type>
[[gnu::always_inline]] inline void window(const CwPeak &peak, const double *x, int32_t first, int32_t last,
                                          double reach, double factor, double *y) {
    if constexpr (Type != PK_PROFILE_PSEUDO_VOIGT) {
        Loop<Type, false>::run(peak, x, first, last, factor, y);
    } else {
        const double half = kGaussianReach / peak.inverseFwhm + reach;
        const double *begin = x + first, *end = x + last + 1;
        const auto low = static_cast<int32_t>(std::lower_bound(begin, end, peak.centre - half) - x);
        const auto high = static_cast<int32_t>(std::upper_bound(begin, end, peak.centre + half) - x) - 1;
        if (low > first) Loop<Type, true>::run(peak, x, first, low - 1, factor, y);
        if (high >= low) Loop<Type, false>::run(peak, x, low, high, factor, y);
        if (high < last) Loop<Type, true>::run(peak, x, high + 1 > low ? high + 1 : low, last, factor, y);
    }
}

// The reach of the Boole positions, |P cot 2θ₀|.
inline double booleReach(const CwPeak &peak) {
    const double shift = peak.asymmetry * peak.shift;
    return shift < 0.0 ? -shift : shift;
}

}  // namespace

PK_VECTOR_CLONES
void addCwWindow(const CwPeak &peak, const double *x, int32_t first, int32_t last, double factor, double *y) {
    switch (peak.type) {
    case PK_PROFILE_GAUSSIAN:
        if (peak.asymmetry == 0.0) {
            window<SymmetricLoop, PK_PROFILE_GAUSSIAN>(peak, x, first, last, 0.0, factor, y);
        } else {
            asymmetricGaussianWindow(peak, x, first, last, factor, y);
        }
        return;
    case PK_PROFILE_LORENTZIAN:
        if (peak.asymmetry == 0.0) {
            window<SymmetricLoop, PK_PROFILE_LORENTZIAN>(peak, x, first, last, 0.0, factor, y);
        } else {
            window<BooleLoop, PK_PROFILE_LORENTZIAN>(peak, x, first, last, booleReach(peak), factor, y);
        }
        return;
    default:
        if (peak.asymmetry == 0.0) {
            window<SymmetricLoop, PK_PROFILE_PSEUDO_VOIGT>(peak, x, first, last, 0.0, factor, y);
        } else {
            window<BooleLoop, PK_PROFILE_PSEUDO_VOIGT>(peak, x, first, last, booleReach(peak), factor, y);
        }
        return;
    }
}

}  // namespace powderkit::phase
