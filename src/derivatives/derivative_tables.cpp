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

// The width entries of the constant-wavelength shapes, each group made once
// from the shape's rate by that width: the Caglioti terms GU, GV, GW through
// ∂Φ/∂H_G, the Lorentzian terms LX, LY through ∂Φ/∂H_L.
template <ConstantWavelengthRate gaussianWidthRate>
constexpr std::array<ProfileEntry, 3> cagliotiEntries() {
    return {{{"GU", cagliotiMember<gaussianWidthRate, CagliotiTerm::U>},
             {"GV", cagliotiMember<gaussianWidthRate, CagliotiTerm::V>},
             {"GW", cagliotiMember<gaussianWidthRate, CagliotiTerm::W>}}};
}
template <ConstantWavelengthRate lorentzianWidthRate>
constexpr std::array<ProfileEntry, 2> lorentzianWidthEntries() {
    return {{{"LX", lorentzianWidthMember<lorentzianWidthRate, LorentzianTerm::X>},
             {"LY", lorentzianWidthMember<lorentzianWidthRate, LorentzianTerm::Y>}}};
}

// The table of a constant-wavelength shape: its width entries, "Zero", the
// cell, "Scale" and "Asymmetry".
template <ConstantWavelengthRate positionRate, ProfileFunction value,
          ProfileDerivativeFunction asymmetry, typename... Widths>
HashTable *twoThetaTable(const Widths &...widths) {
    const ProfileEntry zero[] = {{"Zero", zeroShiftMember<positionRate>}};
    const ProfileEntry afterCell[] = {{"Scale", scaleMember<value>}, {"Asymmetry", asymmetry}};
    return tableOf(widths..., zero, twoThetaCellEntries<positionRate>(), afterCell);
}

// The table of a time-of-flight shape: "dtt2", the cell, "sigma1", "sigma2",
// the shape's further widths and "Scale".
template <TofShapeRate shapeRate, ProfileFunction value, typename... Widths>
HashTable *tofTable(const Widths &...widths) {
    const ProfileEntry beforeCell[] = {{"dtt2", tofMember<shapeRate, TofParameter::dtt2>}};
    const ProfileEntry gaussianWidths[] = {{"sigma1", tofMember<shapeRate, TofParameter::sigma1>},
                                           {"sigma2", tofMember<shapeRate, TofParameter::sigma2>}};
    const ProfileEntry scale[] = {{"Scale", scaleMember<value>}};
    return tableOf(beforeCell, tofCellEntries<shapeRate>(), gaussianWidths, widths..., scale);
}

// The Lorentzian widths of the time-of-flight pseudo-Voigt.
const ProfileEntry kTofExpPseudoVoigtGammas[] = {
    {"gamma1", tofMember<tofExpPseudoVoigtRate, TofParameter::gamma1>},
    {"gamma2", tofMember<tofExpPseudoVoigtRate, TofParameter::gamma2>},
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
            return twoThetaTable<diffGaussianProfileWrtPosition, gaussianProfile,
                                 DiffGaussianProfileWrtAsymmetry>(
                cagliotiEntries<diffGaussianProfileWrtFwhm>());
        case PK_PROFILE_LORENTZIAN:
            return twoThetaTable<diffLorentzianProfileWrtPosition, lorentzianProfile,
                                 DiffLorentzianProfileWrtAsymmetry>(
                lorentzianWidthEntries<diffLorentzianProfileWrtFwhm>());
        case PK_PROFILE_PSEUDO_VOIGT:
            return twoThetaTable<diffPseudoVoigtWrtPosition, pseudoVoigtProfile,
                                 DiffPseudoVoigtProfileWrtAsymmetry>(
                lorentzianWidthEntries<diffPseudoVoigtWrtLorentzianFwhm>(),
                cagliotiEntries<diffPseudoVoigtWrtGaussianFwhm>());
        case PK_PROFILE_TOF_EXP_GAUSSIAN:
            return tofTable<tofExpGaussianRate, tofExpGaussianProfile>();
        default:
            return tofTable<tofExpPseudoVoigtRate, tofExpPseudoVoigtProfile>(
                kTofExpPseudoVoigtGammas);
    }
}

}  // extern "C"
