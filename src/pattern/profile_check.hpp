// Checks of a phase's profile before a pattern model is made from it.
#ifndef POWDERKIT_PHASE_PROFILE_CHECK_HPP
#define POWDERKIT_PHASE_PROFILE_CHECK_HPP

#include "powderkit.h"
#include "powderkit_phase.h"

namespace powderkit::phase {

// The type fits the axis (`tof`), every parameter is a number, the asymmetry
// is not negative, the axial divergence within 0 … PK_AXIAL_MAX, on a 2θ axis
// and not beside an asymmetry P above 0. Fails naming the field.
void checkProfileFields(const pk_profile &profile, bool tof);

// The widths of the core's profile record are real and positive over the
// span xMin … xMax. Fails saying where they are not.
void checkWidths(const RefinementProfile &profile, double xMin, double xMax);

}  // namespace powderkit::phase

#endif
