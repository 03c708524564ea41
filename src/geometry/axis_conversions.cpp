// Conversions between a reflexion's d-spacing and the pattern axis.
// Constant wavelength: Bragg's law λ = 2 d sin θ, the axis being 2θ in
// degrees shifted by the zero. Time of flight: the diffractometer
// calibration t(µs) = dtt1·d + dtt2·d² + zero, the axis in milliseconds; its
// inverse is the positive root of that quadratic.
#include <cmath>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"

namespace {

double wavelengthFor(const RefinementProfile *profile, uint8_t useSecondary) {
    return useSecondary != 0 ? profile->secondaryWavelength : profile->wavelength;
}

}  // namespace

extern "C" {

// t = d²·dtt2 + d·dtt1 + zero, in µs.
double tofForDSpacingMicroseconds(RefinementProfile *profile, double d) {
    return d * d * profile->dtt2 + d * profile->dtt1 + profile->zero;
}

// The same in ms.
double tofForDSpacing(RefinementProfile *profile, double d) {
    return (d * d * profile->dtt2 + d * profile->dtt1 + profile->zero) *
           powderkit::kMicrosecondsToMilliseconds;
}

// The d of a flight time t (ms): the root of dtt2·d² + dtt1·d + (zero −
// 1000 t) = 0 taken as (√D − dtt1) / (2 dtt2), with the linear and pure
// quadratic cases apart; 0.0 when there is no real root to take.
double dSpacingForTOFMilliseconds(RefinementProfile *profile, double t) {
    const double tolerance = powderkit::zeroTolerance();
    const double a = profile->dtt2;
    const double b = profile->dtt1;
    const double c = profile->zero - powderkit::kMillisecondsToMicroseconds * t;
    if (std::fabs(b) < tolerance && std::fabs(a) < tolerance) return 0.0;
    if (std::fabs(a) < tolerance) return -c / b;
    if (std::fabs(b) < tolerance) return c > 0.0 ? 0.0 : std::sqrt(-c / a);
    const double discriminant = b * b - 4.0 * a * c;
    if (discriminant < 0.0) return 0.0;
    return (std::sqrt(discriminant) - b) / (2.0 * a);
}

// 2θ in degrees, zero included. A d below λ/2 has no Bragg angle and lands
// at 180° + zero, silently.
double twoThetaForDSpacing(RefinementProfile *profile, double d, uint8_t useSecondary) {
    const double sinTheta = wavelengthFor(profile, useSecondary) * 0.5 / d;
    const double theta = sinTheta < 1.0 ? std::asin(sinTheta) : powderkit::kHalfPi;
    return theta * powderkit::kTwiceRadiansToDegrees + profile->zero;
}

// d = (λ/2) / sin((2θ − zero)/2).
double dSpacingForTwoTheta(RefinementProfile *profile, double twoTheta, uint8_t useSecondary) {
    return (wavelengthFor(profile, useSecondary) * 0.5) /
           std::sin((twoTheta - profile->zero) * powderkit::kHalfDegreesToRadians);
}

// Time of flight in ms, or 2θ in degrees with the second wavelength exactly
// for reflexions made for it. Profile method slot 2.
double xForReflexion(RefinementProfile *profile, Reflexion *reflexion) {
    if (profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        const double d = reflexion->dSpacing;
        return (d * d * profile->dtt2 + d * profile->dtt1 + profile->zero) *
               powderkit::kMicrosecondsToMilliseconds;
    }
    return twoThetaForDSpacing(profile, reflexion->dSpacing,
                               reflexion->isSecondaryWavelength != 0 ? 1 : 0);
}

// d of a pattern-axis position, primary wavelength. Profile method slot 3.
double dSpacingForX(RefinementProfile *profile, double x) {
    if (profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        return dSpacingForTOFMilliseconds(profile, x);
    }
    return dSpacingForTwoTheta(profile, x, 0);
}

// The d-spacings of xMin and xMax, the smaller into dMin. Does nothing when a
// pointer is NULL. Profile method slot 4.
void dSpacingRange(RefinementProfile *profile, double *dMin, double *dMax) {
    if (profile == nullptr || dMin == nullptr || dMax == nullptr) return;
    const double first = dSpacingForX(profile, profile->xMin);
    const double second = dSpacingForX(profile, profile->xMax);
    if (first < second) {
        *dMin = first;
        *dMax = second;
    } else {
        *dMin = second;
        *dMax = first;
    }
}

}  // extern "C"
