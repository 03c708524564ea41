// Internal interface of the peak-profile subsystem shared with the rest of
// the library: the profile method table and the process-wide asymmetry
// cut-off.
#ifndef POWDERKIT_PROFILES_HPP
#define POWDERKIT_PROFILES_HPP

#include "powderkit.h"

namespace powderkit {

extern const RefinementProfileMethods kProfileMethods;

// 2θ in degrees above which the constant-wavelength shapes are symmetric;
// 50.0 from load time, set by SetAsymmetryCutoff2Theta.
extern double asymmetryCutoff2Theta;

}  // namespace powderkit

#endif
