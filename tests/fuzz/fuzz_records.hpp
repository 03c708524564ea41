// Records filled from a fuzz input: a profile record made by the library (so
// its method table is right) with every number, type code and flag taken
// from the input, and a reflexion with arbitrary indices, d-spacing and
// position. Values are read with Input::value (one byte for an ordinary
// number, nine for any double).
#ifndef PK_FUZZ_RECORDS_HPP
#define PK_FUZZ_RECORDS_HPP

#include "fuzz_input.hpp"
#include "powderkit.h"

namespace pk_fuzz {

// Profile type 0 … 4 most of the time, any 32-bit code otherwise.
inline int32_t profileTypeFrom(Input &in) {
    const uint8_t b = in.byte();
    return b < 250 ? b % 5 : in.int32();
}

inline void fillProfile(Input &in, RefinementProfile *profile) {
    profile->profileType = profileTypeFrom(in);
    const uint8_t codes = in.byte();
    profile->experimentType = (codes & 1) != 0 ? PK_EXPERIMENT_TIME_OF_FLIGHT : 1 + (codes >> 1) % 2;
    profile->radiationType = (codes & 4) != 0 ? PK_RADIATION_NEUTRON : PK_RADIATION_XRAY;
    profile->useSecondaryWavelength = static_cast<uint8_t>((codes >> 3) & 1);
    double *fields[] = {&profile->U,          &profile->V,          &profile->W,
                        &profile->LX,         &profile->LY,         &profile->asymmetry,
                        &profile->wavelength, &profile->secondaryWavelength,
                        &profile->secondaryIntensityRatio,          &profile->tofTwoTheta,
                        &profile->dtt1,       &profile->dtt2,       &profile->sigma0,
                        &profile->sigma1,     &profile->sigma2,     &profile->gamma0,
                        &profile->gamma1,     &profile->gamma2,     &profile->alpha0,
                        &profile->alpha1,     &profile->beta0,      &profile->beta1,
                        &profile->zero,       &profile->xMin,       &profile->xMax};
    for (double *field : fields) *field = in.value();
}

inline void fillReflexion(Input &in, Reflexion *reflexion) {
    reflexion->h = static_cast<int8_t>(in.byte());
    reflexion->k = static_cast<int8_t>(in.byte());
    reflexion->l = static_cast<int8_t>(in.byte());
    reflexion->multiplicity = static_cast<int8_t>(in.byte());
    reflexion->dSpacing = in.value();
    reflexion->peakPosition = in.value();
    reflexion->isSecondaryWavelength = static_cast<uint8_t>(in.byte() & 1);
}

}  // namespace pk_fuzz

#endif
