// The derivative tables by parameter name: for the parameters that change a
// reflexion's intensity, and for the parameters of each peak shape (the
// background coefficients have theirs beside the background). Every table
// lists the six cell parameters together, so their entries are made once, for
// each kind of table from its cell member instantiated for each parameter;
// the members of the other keys are the shapes' instances of the member
// templates of the profile derivatives, or the shapes' own asymmetry members.
// Each builder makes a new table (1024 slots) and inserts its keys in a fixed
// order; the values are function pointers, not owned. The caller releases
// the table with freeHashTable. Neither the creation nor the insertions are
// checked: a table that cannot be made comes back NULL, and a key whose copy
// cannot be made is missing.
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

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

using ProfileEntry = Entry<ProfileDerivativeFunction>;
using ReflexionEntry = Entry<ReflexionDerivativeFunction>;

// The keys of the six cell parameters, in their order.
constexpr const char *kCellKeys[kCellParameterCount] = {"a",     "b",    "c",
                                                        "alpha", "beta", "gamma"};

// The six cell entries of a table, key by key, with Member<p>::function as
// the member of parameter p.
template <template <CellParameter> class Member, typename Function, std::size_t... index>
constexpr std::array<Entry<Function>, sizeof...(index)> cellEntries(
    std::index_sequence<index...>) {
    return {{{kCellKeys[index], Member<static_cast<CellParameter>(index)>::function}...}};
}
template <template <CellParameter> class Member, typename Function>
constexpr std::array<Entry<Function>, kCellParameterCount> cellEntries() {
    return cellEntries<Member, Function>(std::make_index_sequence<kCellParameterCount>());
}

// The cell members of each kind of table: of the intensity, of a
// constant-wavelength shape through 2θ₀, of a time-of-flight shape through d.
template <CellParameter parameter>
struct IntensityCellMember {
    static double function(RefinementCrystal *crystal, Reflexion *reflexion,
                           RefinementProfile *profile) {
        return diffReflexionIntensityWrtCell(parameter, crystal, reflexion, profile);
    }
};

template <ConstantWavelengthRate positionRate>
struct TwoThetaCell {
    template <CellParameter parameter>
    struct Member {
        static constexpr ProfileDerivativeFunction function =
            twoThetaCellMember<positionRate, parameter>;
    };
};

template <TofShapeRate shapeRate>
struct TofCell {
    template <CellParameter parameter>
    struct Member {
        static constexpr ProfileDerivativeFunction function = tofCellMember<shapeRate, parameter>;
    };
};

template <ConstantWavelengthRate positionRate>
constexpr std::array<ProfileEntry, kCellParameterCount> twoThetaCellEntries() {
    return cellEntries<TwoThetaCell<positionRate>::template Member, ProfileDerivativeFunction>();
}

template <TofShapeRate shapeRate>
constexpr std::array<ProfileEntry, kCellParameterCount> tofCellEntries() {
    return cellEntries<TofCell<shapeRate>::template Member, ProfileDerivativeFunction>();
}

// Each table lists its keys in three parts: those before the cell, the six
// cell parameters, and those after.
const ReflexionEntry kReflexionAfterCell[] = {{"Ratio", DiffReflexionIntensityWrtRatio}};

const ProfileEntry kGaussianBeforeCell[] = {
    {"GU", cagliotiMember<diffGaussianProfileWrtFwhm, CagliotiTerm::U>},
    {"GV", cagliotiMember<diffGaussianProfileWrtFwhm, CagliotiTerm::V>},
    {"GW", cagliotiMember<diffGaussianProfileWrtFwhm, CagliotiTerm::W>},
    {"Zero", zeroShiftMember<diffGaussianProfileWrtPosition>},
};
const ProfileEntry kGaussianAfterCell[] = {
    {"Scale", scaleMember<gaussianProfile>},
    {"Asymmetry", DiffGaussianProfileWrtAsymmetry},
};

const ProfileEntry kLorentzianBeforeCell[] = {
    {"LX", lorentzianWidthMember<diffLorentzianProfileWrtFwhm, LorentzianTerm::X>},
    {"LY", lorentzianWidthMember<diffLorentzianProfileWrtFwhm, LorentzianTerm::Y>},
    {"Zero", zeroShiftMember<diffLorentzianProfileWrtPosition>},
};
const ProfileEntry kLorentzianAfterCell[] = {
    {"Scale", scaleMember<lorentzianProfile>},
    {"Asymmetry", DiffLorentzianProfileWrtAsymmetry},
};

const ProfileEntry kPseudoVoigtBeforeCell[] = {
    {"LX", lorentzianWidthMember<diffPseudoVoigtWrtLorentzianFwhm, LorentzianTerm::X>},
    {"LY", lorentzianWidthMember<diffPseudoVoigtWrtLorentzianFwhm, LorentzianTerm::Y>},
    {"GU", cagliotiMember<diffPseudoVoigtWrtGaussianFwhm, CagliotiTerm::U>},
    {"GV", cagliotiMember<diffPseudoVoigtWrtGaussianFwhm, CagliotiTerm::V>},
    {"GW", cagliotiMember<diffPseudoVoigtWrtGaussianFwhm, CagliotiTerm::W>},
    {"Zero", zeroShiftMember<diffPseudoVoigtWrtPosition>},
};
const ProfileEntry kPseudoVoigtAfterCell[] = {
    {"Scale", scaleMember<pseudoVoigtProfile>},
    {"Asymmetry", DiffPseudoVoigtProfileWrtAsymmetry},
};

const ProfileEntry kTofExpGaussianBeforeCell[] = {
    {"dtt2", tofMember<tofExpGaussianRate, TofParameter::dtt2>},
};
const ProfileEntry kTofExpGaussianAfterCell[] = {
    {"sigma1", tofMember<tofExpGaussianRate, TofParameter::sigma1>},
    {"sigma2", tofMember<tofExpGaussianRate, TofParameter::sigma2>},
    {"Scale", scaleMember<tofExpGaussianProfile>},
};

const ProfileEntry kTofExpPseudoVoigtBeforeCell[] = {
    {"dtt2", tofMember<tofExpPseudoVoigtRate, TofParameter::dtt2>},
};
const ProfileEntry kTofExpPseudoVoigtAfterCell[] = {
    {"sigma1", tofMember<tofExpPseudoVoigtRate, TofParameter::sigma1>},
    {"sigma2", tofMember<tofExpPseudoVoigtRate, TofParameter::sigma2>},
    {"gamma1", tofMember<tofExpPseudoVoigtRate, TofParameter::gamma1>},
    {"gamma2", tofMember<tofExpPseudoVoigtRate, TofParameter::gamma2>},
    {"Scale", scaleMember<tofExpPseudoVoigtProfile>},
};

}  // namespace
}  // namespace powderkit

extern "C" {

// "a", "b", "c", "alpha", "beta", "gamma" (the cell), "Ratio" →
// ReflexionDerivativeFunction.
HashTable *ReflexionDerivativesHashTable(void) {
    using namespace powderkit;
    return tableOf(cellEntries<IntensityCellMember, ReflexionDerivativeFunction>(),
                   kReflexionAfterCell);
}

// The keys of one peak shape → ProfileDerivativeFunction. Types 0 to 3 have
// their own tables; 4 and every other value give the table of type 4.
HashTable *ProfileDerivativesHashTable(int32_t profileType) {
    using namespace powderkit;
    switch (profileType) {
        case PK_PROFILE_GAUSSIAN:
            return tableOf(kGaussianBeforeCell,
                           twoThetaCellEntries<diffGaussianProfileWrtPosition>(),
                           kGaussianAfterCell);
        case PK_PROFILE_LORENTZIAN:
            return tableOf(kLorentzianBeforeCell,
                           twoThetaCellEntries<diffLorentzianProfileWrtPosition>(),
                           kLorentzianAfterCell);
        case PK_PROFILE_PSEUDO_VOIGT:
            return tableOf(kPseudoVoigtBeforeCell,
                           twoThetaCellEntries<diffPseudoVoigtWrtPosition>(),
                           kPseudoVoigtAfterCell);
        case PK_PROFILE_TOF_EXP_GAUSSIAN:
            return tableOf(kTofExpGaussianBeforeCell, tofCellEntries<tofExpGaussianRate>(),
                           kTofExpGaussianAfterCell);
        default:
            return tableOf(kTofExpPseudoVoigtBeforeCell, tofCellEntries<tofExpPseudoVoigtRate>(),
                           kTofExpPseudoVoigtAfterCell);
    }
}

}  // extern "C"
