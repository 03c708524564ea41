// Numbers the phase layer's files share. Where a fast path must agree with a
// core function, the constant is the core's own value.
#ifndef POWDERKIT_PHASE_CONSTANTS_HPP
#define POWDERKIT_PHASE_CONSTANTS_HPP

#include <limits>

namespace powderkit::phase {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesToRadians = 0.017453292519943295;     // π/180
constexpr double kRadiansToDegrees = 57.29577951308232;        // 180/π
constexpr double kEightPiSquared = 78.95683520871486;          // 8π², B = 8π² U
constexpr double kGaussianExponentFactor = 2.772588722239781;  // 4 ln 2
// The core's zero tolerance: smaller magnitudes count as none.
constexpr double kZeroTolerance = 512.0 * std::numeric_limits<double>::epsilon();

}  // namespace powderkit::phase

#endif
