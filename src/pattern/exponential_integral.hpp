// The exponential integral as the time-of-flight kernels need it: the layer's
// own, chosen per region of the plane for speed. The core's
// complexExponentialIntegral stays the reference.
#ifndef POWDERKIT_PHASE_EXPONENTIAL_INTEGRAL_HPP
#define POWDERKIT_PHASE_EXPONENTIAL_INTEGRAL_HPP

#include <complex>

namespace powderkit::phase {

// f(z) = e^z E1(z), E1 on its principal branch cut along the negative real
// axis, the axis itself taking the upper side's value (Im E1 = −π there), as
// the core does. Within 1e−13 of |f| over the whole plane (a test holds it to
// a table worked out at 40 digits). Infinite at z = 0.
std::complex<double> expTimesE1(std::complex<double> z);

}  // namespace powderkit::phase

#endif
