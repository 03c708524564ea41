// The profile record: every instrument and peak-shape parameter of one
// pattern, with the defaults of its profile type, its method table, the table
// of value functions by profile type and the process-wide asymmetry cut-off.
#include <cstdlib>

#include "profiles/profiles.hpp"

namespace powderkit {

double asymmetryCutoff2Theta = 50.0;

// One table shared by every profile record.
const RefinementProfileMethods kProfileMethods = {
    freeRefinementProfile,
    copyChebyschevPolynomialParametersToBuffer,
    xForReflexion,
    dSpacingForX,
    dSpacingRange,
};

}  // namespace powderkit

extern "C" {

RefinementProfile *makeRefinementProfile(int32_t experimentType, int32_t radiationType,
                                         int32_t profileType, double wavelength, double xMin,
                                         double xMax) {
    auto *profile = static_cast<RefinementProfile *>(std::calloc(1, sizeof(RefinementProfile)));
    if (profile == nullptr) return nullptr;
    profile->xMin = xMin;
    profile->xMax = xMax;
    profile->methods = &powderkit::kProfileMethods;
    profile->wavelength = wavelength;
    profile->experimentType = experimentType;
    profile->radiationType = radiationType;
    profile->profileType = profileType;
    profile->zero = 0.0;
    // The Lorentzian starts with Lorentzian widths; every other type with the
    // Caglioti Gaussian widths.
    if (profileType == PK_PROFILE_LORENTZIAN) {
        profile->LX = 0.005;
        profile->LY = 0.005;
    } else {
        profile->U = 0.002;
        profile->V = -0.002;
        profile->W = 0.005;
    }
    profile->tofTwoTheta = 90.0;
    profile->dtt1 = 1000.0;
    return profile;
}

// The value function of each profile type, by code.
ProfileFunction ProfileFuncForProfileType(int32_t profileType) {
    static const ProfileFunction kShapes[5] = {
        powderkit::gaussianProfile,       powderkit::lorentzianProfile,
        powderkit::pseudoVoigtProfile,    powderkit::tofExpGaussianProfile,
        powderkit::tofExpPseudoVoigtProfile,
    };
    if (profileType < 0 || profileType > 4) return nullptr;
    return kShapes[profileType];
}

void SetAsymmetryCutoff2Theta(double twoTheta) { powderkit::asymmetryCutoff2Theta = twoTheta; }

}  // extern "C"
