// Numerical constants shared across the library, each written once with the
// exact digits the library's results depend on. The angle conversions are the
// truncated 13-digit values, not full-precision ones: keep them as they are.
#ifndef POWDERKIT_CONSTANTS_HPP
#define POWDERKIT_CONSTANTS_HPP

namespace powderkit {

constexpr double kDegreesToRadians = 0.0174532925199;
constexpr double kRadiansToDegrees = 57.2957795131;
// Half the degree-to-radian factor: 2θ in degrees to θ in radians.
constexpr double kHalfDegreesToRadians = 0.00872664625995;
// Twice the radian-to-degree factor: θ in radians to 2θ in degrees.
constexpr double kTwiceRadiansToDegrees = 114.5915590262;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi = 1.5707963267948966;

}  // namespace powderkit

#endif
