// The derivative tables by parameter name: for the parameters that change a
// reflexion's intensity, and for the parameters of each peak shape (the
// background coefficients have theirs beside the background). Each builder
// makes a new table (1024 slots) and inserts its keys in a fixed order; the
// values are function pointers, not owned. The caller releases the table with
// freeHashTable. Neither the creation nor the insertions are checked: a table
// that cannot be made comes back NULL, and a key whose copy cannot be made is
// missing.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/derivatives.hpp"
#include "derivatives/profile_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {

// ∂I/∂(secondaryIntensityRatio): a second-wavelength reflexion's intensity is
// the primary one divided by the ratio, so the derivative is −I/ratio; 0 for
// a primary reflexion and for an intensity below the zero tolerance.
double DiffReflexionIntensityWrtRatio(RefinementCrystal *, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    if (reflexion->isSecondaryWavelength == 0) return 0.0;
    if (std::fabs(reflexion->intensity) < zeroTolerance()) return 0.0;
    return -(1.0 / profile->secondaryIntensityRatio) * reflexion->intensity;
}

namespace {

const Entry<ReflexionDerivativeFunction> kReflexionEntries[] = {
    {"a", DiffReflexionIntensityWrtCellA},
    {"b", DiffReflexionIntensityWrtCellB},
    {"c", DiffReflexionIntensityWrtCellC},
    {"alpha", DiffReflexionIntensityWrtCellAlpha},
    {"beta", DiffReflexionIntensityWrtCellBeta},
    {"gamma", DiffReflexionIntensityWrtCellGamma},
    {"Ratio", DiffReflexionIntensityWrtRatio},
};

using ProfileEntry = Entry<ProfileDerivativeFunction>;

const ProfileEntry kGaussianEntries[] = {
    {"GU", DiffGaussianProfileWrtGU},
    {"GV", DiffGaussianProfileWrtGV},
    {"GW", DiffGaussianProfileWrtGW},
    {"Zero", DiffGaussianProfileWrtZero},
    {"a", DiffGaussianProfileWrtCellA},
    {"b", DiffGaussianProfileWrtCellB},
    {"c", DiffGaussianProfileWrtCellC},
    {"alpha", DiffGaussianProfileWrtCellAlpha},
    {"beta", DiffGaussianProfileWrtCellBeta},
    {"gamma", DiffGaussianProfileWrtCellGamma},
    {"Scale", DiffGaussianProfileWrtScale},
    {"Asymmetry", DiffGaussianProfileWrtAsymmetry},
};

const ProfileEntry kLorentzianEntries[] = {
    {"LX", DiffLorentzianProfileWrtLX},
    {"LY", DiffLorentzianProfileWrtLY},
    {"Zero", DiffLorentzianProfileWrtZero},
    {"a", DiffLorentzianProfileWrtCellA},
    {"b", DiffLorentzianProfileWrtCellB},
    {"c", DiffLorentzianProfileWrtCellC},
    {"alpha", DiffLorentzianProfileWrtCellAlpha},
    {"beta", DiffLorentzianProfileWrtCellBeta},
    {"gamma", DiffLorentzianProfileWrtCellGamma},
    {"Scale", DiffLorentzianProfileWrtScale},
    {"Asymmetry", DiffLorentzianProfileWrtAsymmetry},
};

const ProfileEntry kPseudoVoigtEntries[] = {
    {"LX", DiffPseudoVoigtProfileWrtLX},
    {"LY", DiffPseudoVoigtProfileWrtLY},
    {"GU", DiffPseudoVoigtProfileWrtGU},
    {"GV", DiffPseudoVoigtProfileWrtGV},
    {"GW", DiffPseudoVoigtProfileWrtGW},
    {"Zero", DiffPseudoVoigtProfileWrtZero},
    {"a", DiffPseudoVoigtProfileWrtCellA},
    {"b", DiffPseudoVoigtProfileWrtCellB},
    {"c", DiffPseudoVoigtProfileWrtCellC},
    {"alpha", DiffPseudoVoigtProfileWrtCellAlpha},
    {"beta", DiffPseudoVoigtProfileWrtCellBeta},
    {"gamma", DiffPseudoVoigtProfileWrtCellGamma},
    {"Scale", DiffPseudoVoigtProfileWrtScale},
    {"Asymmetry", DiffPseudoVoigtProfileWrtAsymmetry},
};

const ProfileEntry kTofExpGaussianEntries[] = {
    {"dtt2", DiffTofExpGaussianProfileWrtDtt2},
    {"a", DiffTofExpGaussianProfileWrtCellA},
    {"b", DiffTofExpGaussianProfileWrtCellB},
    {"c", DiffTofExpGaussianProfileWrtCellC},
    {"alpha", DiffTofExpGaussianProfileWrtCellAlpha},
    {"beta", DiffTofExpGaussianProfileWrtCellBeta},
    {"gamma", DiffTofExpGaussianProfileWrtCellGamma},
    {"sigma1", DiffTofExpGaussianProfileWrtSigma1},
    {"sigma2", DiffTofExpGaussianProfileWrtSigma2},
    {"Scale", DiffTofExpGaussianProfileWrtScale},
};

const ProfileEntry kTofExpPseudoVoigtEntries[] = {
    {"dtt2", DiffTofExpPseudoVoigtProfileWrtDtt2},
    {"a", DiffTofExpPseudoVoigtProfileWrtCellA},
    {"b", DiffTofExpPseudoVoigtProfileWrtCellB},
    {"c", DiffTofExpPseudoVoigtProfileWrtCellC},
    {"alpha", DiffTofExpPseudoVoigtProfileWrtCellAlpha},
    {"beta", DiffTofExpPseudoVoigtProfileWrtCellBeta},
    {"gamma", DiffTofExpPseudoVoigtProfileWrtCellGamma},
    {"sigma1", DiffTofExpPseudoVoigtProfileWrtSigma1},
    {"sigma2", DiffTofExpPseudoVoigtProfileWrtSigma2},
    {"gamma1", DiffTofExpPseudoVoigtProfileWrtGamma1},
    {"gamma2", DiffTofExpPseudoVoigtProfileWrtGamma2},
    {"Scale", DiffTofExpPseudoVoigtProfileWrtScale},
};

}  // namespace
}  // namespace powderkit

extern "C" {

// "a", "b", "c", "alpha", "beta", "gamma" (the cell), "Ratio" →
// ReflexionDerivativeFunction.
HashTable *ReflexionDerivativesHashTable(void) {
    return powderkit::tableOf(powderkit::kReflexionEntries);
}

// The keys of one peak shape → ProfileDerivativeFunction. Types 0 to 3 have
// their own tables; 4 and every other value give the table of type 4.
HashTable *ProfileDerivativesHashTable(int32_t profileType) {
    switch (profileType) {
        case PK_PROFILE_GAUSSIAN:
            return powderkit::tableOf(powderkit::kGaussianEntries);
        case PK_PROFILE_LORENTZIAN:
            return powderkit::tableOf(powderkit::kLorentzianEntries);
        case PK_PROFILE_PSEUDO_VOIGT:
            return powderkit::tableOf(powderkit::kPseudoVoigtEntries);
        case PK_PROFILE_TOF_EXP_GAUSSIAN:
            return powderkit::tableOf(powderkit::kTofExpGaussianEntries);
        default:
            return powderkit::tableOf(powderkit::kTofExpPseudoVoigtEntries);
    }
}

}  // extern "C"
