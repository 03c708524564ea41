// Intensity derivatives by cell parameter, taken from the reflexion table,
// against central differences of the intensity calculation: the cell moved,
// the reciprocal cell, metric tensors and d-spacing recomputed, the
// intensity recalculated. The rule holds the scattering and temperature
// factors at their d, so the crystal uses scattering factors without a d
// dependence (X-ray records with only the constant c, or neutrons), no
// temperature factors and no preferred orientation. The monoclinic reference
// crystal is made triclinic; its fractional positions stay as they are.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "support/derivative_tables.hpp"
#include "support/element_data.hpp"
#include "support/finite_difference.hpp"
#include "support/reference_phases.hpp"

namespace {

using pk_test::centralDifferenceOfField;
using pk_test::derivativeAgrees;

// An X-ray record whose factor is the constant c = a1 + a2 + a3 + a4 + c of
// the element (its value at zero angle): no d dependence.
RefinementAtomicScatteringFactor *constantXrayFactor(const std::string &symbol) {
    const pk_test::ElementRow *row = pk_test::findElement(symbol);
    if (row == nullptr) return nullptr;
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    record->hasCromerMannCoefficients = 1;
    record->cromerMannCoefficients[8] = row->coefficients[0] + row->coefficients[2] +
                                        row->coefficients[4] + row->coefficients[6] +
                                        row->coefficients[8];
    return record;
}

// The monoclinic reference crystal with every occupant's scattering record
// replaced by what `factory` makes for its element, and no temperature factors.
struct Crystal {
    RefinementCrystal *crystal;
    explicit Crystal(RefinementAtomicScatteringFactor *(*factory)(const std::string &))
        : crystal(pk_test::makeReferenceCrystal("lowsym")) {
        for (int32_t i = 0; i < crystal->sites->count; ++i) {
            const auto *site = static_cast<const Site *>(crystal->sites->items[i]);
            for (int32_t j = 0; j < site->occupants->count; ++j) {
                auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[j]);
                freeRefinementAtomicScatteringFactor(occupant->scatteringFactor);
                occupant->scatteringFactor = factory(occupant->symbol);
            }
        }
        crystal->useAnisotropicDisplacement = 0;
        crystal->alpha = 86.0;
        crystal->gamma = 95.0;
        refresh();
    }
    ~Crystal() { freeRefinementCrystal(crystal); }
    void refresh() {
        calculateReciprocalCell(crystal);
        calculateMetricTensor(crystal);
    }
};

const std::array<pk_test::CellParameterStep, 6> kCellKeys = pk_test::cellParameterSteps(1e-5, 1e-4);

const std::array<std::array<int32_t, 3>, 6> kPlanes = {
    {{1, 0, 0}, {0, 1, 1}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {2, 3, 4}}};

// For each plane and cell key, the table member against the difference of
// the intensity that `intensityOf` recalculates for the current cell.
void checkCellKeys(Crystal &x, RefinementProfile *profile,
                   const std::function<double(Reflexion *)> &intensityOf) {
    pk_test::TablePointer table(ReflexionDerivativesHashTable());
    for (const auto &hkl : kPlanes) {
        Reflexion reflexion{};
        reflexion.h = hkl[0];
        reflexion.k = hkl[1];
        reflexion.l = hkl[2];
        reflexion.multiplicity = 2;
        const auto recalculate = [&] {
            x.refresh();
            reflexion.dSpacing = dSpacingForHKL(x.crystal, hkl[0], hkl[1], hkl[2]);
            return intensityOf(&reflexion);
        };
        const double intensity = recalculate();
        ASSERT_GT(intensity, 0.0);
        for (const pk_test::CellParameterStep &key : kCellKeys) {
            SCOPED_TRACE(testing::Message() << key.key << " of " << hkl[0] << ' ' << hkl[1] << ' '
                                            << hkl[2]);
            const auto member =
                pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), key.key);
            ASSERT_NE(member, nullptr);
            recalculate();
            const double analytic = member(x.crystal, &reflexion, profile);
            const double numeric =
                centralDifferenceOfField(&(x.crystal->*key.field), key.step, recalculate) *
                key.unitFactor;
            // Scale: the intensity per Å (or radian) of a 1 Å (1 rad) change.
            EXPECT_TRUE(derivativeAgrees(analytic, numeric, 1e-6, intensity));
        }
    }
}

TEST(CellIntensityDerivatives, XraysWithConstantScatteringFactors) {
    Crystal x(constantXrayFactor);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    checkCellKeys(x, profile, [&](Reflexion *r) {
        calculateIntensityForReflexion(x.crystal, r, profile);
        return r->intensity;
    });
    freeRefinementProfile(profile);
}

TEST(CellIntensityDerivatives, NeutronsConstantWavelengthAndTimeOfFlight) {
    Crystal x(pk_test::makeScatteringFactorFor);
    for (int32_t experiment : {1, 4}) {
        RefinementProfile *profile = makeRefinementProfile(experiment, 3, experiment == 4 ? 3 : 0,
                                                           1.2, 5.0, 150.0);
        profile->tofTwoTheta = 145.0;
        checkCellKeys(x, profile, [&](Reflexion *r) {
            calculateIntensityForReflexion(x.crystal, r, profile);
            return r->intensity;
        });
        freeRefinementProfile(profile);
    }
}

TEST(CellIntensityDerivatives, SecondWavelengthCompanion) {
    // The companion's intensity comes from the primary structure factor at
    // the second wavelength and carries its own Lorentz-polarisation factor.
    Crystal x(constantXrayFactor);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    profile->useSecondaryWavelength = 1;
    profile->secondaryWavelength = 1.5444;
    profile->secondaryIntensityRatio = 2.0;
    Reflexion companion{};
    checkCellKeys(x, profile, [&](Reflexion *r) {
        calculateIntensityForReflexion(x.crystal, r, profile);
        Reflexion *second = secondaryWavelengthReflexion(x.crystal, r, profile);
        companion = *second;
        second->methods->freeReflexion(second);
        // Hand the member the companion's stored values through r.
        r->intensity = companion.intensity;
        r->lorentzPolarization = companion.lorentzPolarization;
        r->isSecondaryWavelength = 1;
        return companion.intensity;
    });

    // "Ratio": the companion's intensity against the ratio it is divided by.
    pk_test::TablePointer table(ReflexionDerivativesHashTable());
    const auto ratio = pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), "Ratio");
    Reflexion primary{};
    primary.h = 1;
    primary.k = 2;
    primary.l = -3;
    primary.multiplicity = 2;
    primary.dSpacing = dSpacingForHKL(x.crystal, 1, 2, -3);
    calculateIntensityForReflexion(x.crystal, &primary, profile);
    const auto companionIntensity = [&] {
        Reflexion *second = secondaryWavelengthReflexion(x.crystal, &primary, profile);
        const double intensity = second->intensity;
        second->methods->freeReflexion(second);
        return intensity;
    };
    Reflexion *second = secondaryWavelengthReflexion(x.crystal, &primary, profile);
    const double numeric =
        centralDifferenceOfField(&profile->secondaryIntensityRatio, 1e-5, companionIntensity);
    EXPECT_TRUE(derivativeAgrees(ratio(x.crystal, second, profile), numeric, 1e-8));
    second->methods->freeReflexion(second);
    freeRefinementProfile(profile);
}

}  // namespace
