// The d-spacing of a plane, d = 1/√(hᵀ G* h), and the smallest d-spacing
// worth generating for a pattern. The index products are formed in 32-bit
// arithmetic before they meet the metric.
#include <cmath>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"

extern "C" {

// d-spacing of (h k l) in Å from the reciprocal metric tensor; (0 0 0) gives +∞.
double dSpacingForHKL(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    using powderkit::multiplyInt32;
    const double hh = multiplyInt32(h, h);
    const double kk = multiplyInt32(k, k);
    const double ll = multiplyInt32(l, l);
    const double hk2 = multiplyInt32(multiplyInt32(2, h), k);
    const double hl2 = multiplyInt32(multiplyInt32(2, h), l);
    const double kl2 = multiplyInt32(multiplyInt32(2, k), l);
    const double(*gs)[3] = crystal->reciprocalMetricTensor;
    const double q = hh * gs[0][0] + kk * gs[1][1] + ll * gs[2][2] + hk2 * gs[0][1] +
                     hl2 * gs[0][2] + kl2 * gs[1][2];
    return 1.0 / std::sqrt(q);
}

// λ/2 + 1e-5 Å (the d-spacing at 2θ = 180°) for experiment types 1 and 2;
// 0.1 Å for any other experiment.
double minDSpacingForPlot(RefinementProfile *profile) {
    if (profile->experimentType == PK_EXPERIMENT_CONSTANT_WAVELENGTH ||
        profile->experimentType == PK_EXPERIMENT_CONSTANT_WAVELENGTH_ALT) {
        return profile->wavelength * 0.5 + powderkit::kMinDSpacingRaise;
    }
    return powderkit::kMinDSpacingOtherAxis;
}

}  // extern "C"
