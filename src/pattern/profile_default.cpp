// The profile a user starts from: for a 2θ shape, a laboratory Bragg–Brentano
// diffractometer with a Cu tube; for a time-of-flight shape, a backscattering
// bank. Refinement starts its widths from the data where it can.
#include <string>

#include "boundary/boundary.hpp"

using namespace powderkit::phase;

extern "C" {

int32_t pk_profile_default(pk_profile *profile, int32_t type, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(profile, "profile");
        if (type < PK_PROFILE_GAUSSIAN || type > PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) {
            fail(PK_ERROR_ARGUMENT, "unknown profile type " + std::to_string(type));
        }
        *profile = pk_profile{};
        profile->type = type;
        profile->asymmetry_cutoff = 50.0;
        if (type <= PK_PROFILE_PSEUDO_VOIGT) {
            // A laboratory Bragg–Brentano diffractometer with a Cu tube.
            profile->U = 0.004;
            profile->V = -0.002;
            profile->W = 0.003;
            profile->X = 0.02;
            profile->Y = 0.01;
            profile->asymmetry = 0.02;
        } else {
            // A backscattering time-of-flight bank.
            profile->sigma1 = 40.0;
            profile->alpha1 = 0.1;
            profile->beta0 = 0.03;
            profile->beta1 = 0.005;
            profile->gamma1 = 2.0;
        }
    });
}

}  // extern "C"
