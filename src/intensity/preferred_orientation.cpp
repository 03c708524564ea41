// The March correction for preferred orientation. A plane whose normal makes
// the angle α (folded into 0…90°) with the preferred axis is weighted by
// P(α; r) = (r² cos²α + sin²α / r)^(−3/2), summed over the planes equivalent
// to a reflexion and normalised so that P averages to 1 over orientations:
// the normalisation is π over the integral of P over 0…π.
#include <cmath>
#include <cstdlib>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "intensity/intensity.hpp"

namespace powderkit {
namespace {

// The March parameter r = max(1 − t, 0.0001) for the amount t.
double marchParameter(double amount) {
    const double r = 1.0 - amount;
    return r > 0.0001 ? r : 0.0001;
}

// The midpoint rule's step over 0…π/2 (π/2000) and its first sample.
constexpr double kMarchStep = 0.0015707963267948967;
constexpr double kMarchFirstSample = 0.0007853981633974483;

}  // namespace
}  // namespace powderkit

extern "C" {

double integrateMarchEquationWithRValue(double r) {
    double sum = 0.0;
    double alpha = powderkit::kMarchFirstSample;
    for (int i = 0; i < 1000; ++i) {
        const double sine = std::sin(alpha);
        sum = sum + std::pow((1.0 - sine * sine) * r * r + (1.0 / r) * sine * sine, -1.5) *
                        powderkit::kMarchStep;
        alpha = alpha + powderkit::kMarchStep;
    }
    return 2.0 * sum;
}

void normalizeMarchEquation(RefinementCrystal *crystal) {
    if (crystal == nullptr) return;
    const double r = powderkit::marchParameter(crystal->preferredOrientation);
    crystal->marchNormalization = powderkit::kPi / integrateMarchEquationWithRValue(r);
}

double preferredOrientationCorrectionForReflexion(RefinementCrystal *crystal,
                                                  Reflexion *reflexion) {
    if (crystal == nullptr || reflexion == nullptr) return 0.0;
    const double *axis = crystal->preferredOrientationAxis;
    if (!crystal->usePreferredOrientation ||
        std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]) < 1e-5) {
        return static_cast<double>(reflexion->multiplicity);
    }
    int32_t count = 0;
    int32_t *planes = planesRelatedBySymmetry(crystal, &reflexion->h, 1, &count);
    if (planes == nullptr) return 0.0;  // no room for the planes: no intensity

    const double (*metric)[3] = crystal->metricTensor;
    const std::array<double, 3> q =
        crystal->preferredOrientationAxisType == 2
            ? std::array<double, 3>{axis[0], axis[1], axis[2]}
            : powderkit::indicesToVector(powderkit::truncateToInt32(axis[0]),
                                         powderkit::truncateToInt32(axis[1]),
                                         powderkit::truncateToInt32(axis[2]), metric);
    double r = powderkit::marchParameter(crystal->preferredOrientation);
    if (crystal->preferredOrientationMode != 1) r = 1.0 / r;

    double sum = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t *plane = planes + 3 * i;
        const double d = dSpacingForHKL(crystal, plane[0], plane[1], plane[2]);
        if (std::fabs(reflexion->dSpacing - d) > 1e-5) continue;
        const std::array<double, 3> p = powderkit::indicesToVector(plane[0], plane[1], plane[2], metric);
        double alpha = powderkit::angleInMetric(p, q, metric);
        if (alpha > 90.0) alpha = 180.0 - alpha;
        alpha *= powderkit::kDegreesToRadians;
        const double cosine = std::cos(alpha);
        const double sine = std::sin(alpha);
        sum = sum + std::pow(r * r * cosine * cosine + (1.0 / r) * sine * sine, -1.5);
    }
    std::free(planes);
    return sum * crystal->marchNormalization;
}

}  // extern "C"
