// Allocation failures in the reflexion-list operations of a real crystal
// (rutile): the symmetry-related planes, the March correction that rests on
// them (0.0 when its plane array cannot be had), the intensity and the
// second-wavelength companion that use it, dropping zero-intensity
// reflexions, and the time-of-flight profile check with its temporary
// reflexion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/reference_phases.hpp"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

RefinementCrystal *rutile() { return pk_test::makeReferenceCrystal("rutile", 1.2); }

// Rutile with March preferred orientation along [0 0 1] (plane indices).
RefinementCrystal *orientedRutile() {
    RefinementCrystal *crystal = rutile();
    crystal->usePreferredOrientation = 1;
    crystal->preferredOrientationAxis[2] = 1.0;
    crystal->preferredOrientationMode = 1;
    crystal->preferredOrientation = 0.3;
    normalizeMarchEquation(crystal);
    return crystal;
}

// The reflexion (h k l) of the crystal's list.
Reflexion *reflexionOf(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
        auto *reflexion = static_cast<Reflexion *>(crystal->reflexions->items[i]);
        if (reflexion->h == h && reflexion->k == k && reflexion->l == l) return reflexion;
    }
    return nullptr;
}

RefinementProfile *xrayProfile() {
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 10, 120);
    profile->useSecondaryWavelength = 1;
    profile->secondaryWavelength = 1.5444;
    profile->secondaryIntensityRatio = 2.0;
    return profile;
}

TEST(IntensitySweep, RelatedPlanesGiveNullAndLeaveTheCountUntouched) {
    sweepAllocations("planesRelatedBySymmetry", [](Trial &t) {
        RefinementCrystal *crystal = rutile();
        ASSERT_NE(crystal, nullptr);
        const int32_t hkl[3] = {1, 1, 0};
        int32_t count = -7;
        int32_t *planes = nullptr;
        t.run([&] { planes = planesRelatedBySymmetry(crystal, hkl, 1, &count); });
        EXPECT_EQ(planes == nullptr, t.failed());
        // {1 1 0} of 4/mmm: (1 1 0), (−1 −1 0), (1 −1 0), (−1 1 0).
        EXPECT_EQ(count, t.failed() ? -7 : 4);
        std::free(planes);
        freeRefinementCrystal(crystal);
    });
}

TEST(IntensitySweep, MarchCorrectionIsZeroWithoutItsPlaneArray) {
    sweepAllocations("preferredOrientationCorrectionForReflexion", [](Trial &t) {
        RefinementCrystal *crystal = orientedRutile();
        Reflexion *reflexion = reflexionOf(crystal, 1, 1, 0);
        ASSERT_NE(reflexion, nullptr);
        const Reflexion before = *reflexion;
        double correction = -1.0;
        t.run([&] { correction = preferredOrientationCorrectionForReflexion(crystal, reflexion); });
        if (t.failed()) {
            EXPECT_EQ(correction, 0.0);
        } else {
            // Four planes perpendicular to the axis: α = 90°, each term
            // (r² cos² α + sin² α / r)^−3/2 = r^3/2 with r = 0.7.
            EXPECT_NEAR(correction, 4.0 * std::pow(0.7, 1.5) * crystal->marchNormalization, 1e-12);
        }
        EXPECT_EQ(std::memcmp(&before, reflexion, sizeof before), 0);
        // Usable afterwards.
        EXPECT_GT(preferredOrientationCorrectionForReflexion(crystal, reflexion), 0.0);
        freeRefinementCrystal(crystal);
    });
    sweepAllocations("calculateIntensityForReflexion (preferred orientation)", [](Trial &t) {
        RefinementCrystal *crystal = orientedRutile();
        RefinementProfile *profile = xrayProfile();
        Reflexion *reflexion = reflexionOf(crystal, 1, 1, 0);
        t.run([&] { calculateIntensityForReflexion(crystal, reflexion, profile); });
        if (t.failed()) {
            EXPECT_EQ(reflexion->intensity, 0.0);
        } else {
            EXPECT_GT(reflexion->intensity, 0.0);
        }
        calculateIntensityForReflexion(crystal, reflexion, profile);
        EXPECT_GT(reflexion->intensity, 0.0);
        freeRefinementProfile(profile);
        freeRefinementCrystal(crystal);
    });
}

TEST(IntensitySweep, SecondWavelengthCompanionIsNullOrWithoutIntensity) {
    for (bool oriented : {false, true}) {
        sweepAllocations(oriented ? "secondaryWavelengthReflexion (preferred orientation)"
                                  : "secondaryWavelengthReflexion",
                         [&](Trial &t) {
            RefinementCrystal *crystal = oriented ? orientedRutile() : rutile();
            RefinementProfile *profile = xrayProfile();
            // The strongest reflexion inclined to the axis, (1 0 1) or its mate.
            Reflexion *reflexion = reflexionOf(crystal, 1, 0, 1);
            if (reflexion == nullptr) reflexion = reflexionOf(crystal, 0, 1, 1);
            ASSERT_NE(reflexion, nullptr);
            calculateIntensityForReflexion(crystal, reflexion, profile);
            const Reflexion before = *reflexion;
            Reflexion *companion = nullptr;
            t.run([&] { companion = secondaryWavelengthReflexion(crystal, reflexion, profile); });
            EXPECT_EQ(std::memcmp(&before, reflexion, sizeof before), 0);
            if (!t.failed()) {
                ASSERT_NE(companion, nullptr);
                EXPECT_GT(companion->intensity, 0.0);
            } else if (companion != nullptr) {
                // Only the March correction's planes were missing.
                EXPECT_TRUE(oriented);
                EXPECT_EQ(companion->intensity, 0.0);
                EXPECT_EQ(companion->isSecondaryWavelength, 1);
            }
            if (companion != nullptr) companion->methods->freeReflexion(companion);
            freeRefinementProfile(profile);
            freeRefinementCrystal(crystal);
        });
    }
}

TEST(IntensitySweep, DroppingZeroIntensitiesAlwaysLeavesTheSurvivorsInOrder) {
    sweepAllocations("removeZeroIntensityReflexions", [](Trial &t) {
        RefinementCrystal *crystal = rutile();
        DynamicArray *list = crystal->reflexions;
        ASSERT_GE(list->count, 6);
        std::vector<const Reflexion *> survivors;
        for (int32_t i = 0; i < list->count; ++i) {
            auto *reflexion = static_cast<Reflexion *>(list->items[i]);
            reflexion->intensity = i % 3 == 1 ? 0.0 : 1.0 + i;
            if (i % 3 != 1) survivors.push_back(reflexion);
        }
        t.run([&] { removeZeroIntensityReflexions(crystal); });
        ASSERT_NE(crystal->reflexions, nullptr);
        ASSERT_EQ(crystal->reflexions->count, static_cast<int32_t>(survivors.size()));
        for (std::size_t i = 0; i < survivors.size(); ++i) {
            EXPECT_EQ(crystal->reflexions->items[i], survivors[i]) << i;
        }
        // Usable afterwards: the list grows again.
        addObjectToDynamicArray(crystal->reflexions, makeReflexion());
        EXPECT_EQ(crystal->reflexions->count, static_cast<int32_t>(survivors.size()) + 1);
        freeRefinementCrystal(crystal);
    });
}

TEST(ProfileSweep, TimeOfFlightCheckIsFalseWithoutItsTemporaryReflexion) {
    for (int32_t type : {PK_PROFILE_TOF_EXP_GAUSSIAN, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT}) {
        sweepAllocations(type == 3 ? "ProfileParametersAreValid (type 3)"
                                   : "ProfileParametersAreValid (type 4)",
                         [&](Trial &t) {
            RefinementProfile *profile =
                makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON, type, 0.0,
                                      2.0, 10.0);
            profile->sigma0 = 4.0;
            profile->sigma1 = 20.0;
            profile->gamma0 = 1.0;
            profile->gamma1 = 0.5;
            profile->alpha0 = 0.1;
            profile->alpha1 = 0.05;
            profile->beta0 = 0.03;
            profile->beta1 = 0.005;
            const RefinementProfile before = *profile;
            bool valid = false;
            t.run([&] { valid = ProfileParametersAreValid(profile); });
            EXPECT_EQ(valid, !t.failed());
            EXPECT_EQ(std::memcmp(&before, profile, sizeof before), 0);
            EXPECT_TRUE(ProfileParametersAreValid(profile));
            freeRefinementProfile(profile);
        });
    }
}

}  // namespace
