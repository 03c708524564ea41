// The profile a user starts from: for a 2θ shape, a laboratory Bragg–Brentano
// diffractometer with a Cu tube; for a time-of-flight shape, a backscattering
// bank; for constant-wavelength neutrons, the axial divergence of a neutron
// diffractometer as its asymmetry. Refinement starts its widths from the
// data where it can.
#include <string>

#include "boundary/boundary.hpp"
#include "pattern/pattern_model.hpp"

using namespace powderkit::phase;

namespace {

// S/L and H/L of a neutron diffractometer: a sample about 6 cm and detectors
// about 9 cm tall on a circle of 1.5 m.
constexpr double kNeutronAxialSL = 0.02;
constexpr double kNeutronAxialHL = 0.03;

}  // namespace

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

int32_t pk_profile_default_for(pk_profile *profile, const pk_instrument *instrument, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(profile, "profile");
        requireArgument(instrument, "instrument");
        *profile = defaultProfileFor(*instrument);
    });
}

}  // extern "C"

namespace powderkit::phase {

pk_profile defaultProfileFor(const pk_instrument &instrument) {
    pk_profile profile{};
    const bool tof = instrument.axis == PK_AXIS_TOF;
    pk_profile_default(&profile, tof ? PK_PROFILE_TOF_EXP_PSEUDO_VOIGT : PK_PROFILE_PSEUDO_VOIGT, nullptr);
    if (!tof && instrument.radiation == PK_RADIATION_NEUTRON) {
        // A neutron diffractometer's asymmetry is its axial divergence (Finger, Cox and Jephcoat).
        profile.asymmetry = 0.0;
        profile.axial_sl = kNeutronAxialSL;
        profile.axial_hl = kNeutronAxialHL;
    }
    return profile;
}

}  // namespace powderkit::phase
