// The reflexion and profile derivative tables by name: their key sets and the
// types that share a table, the insertion order (seen by failing the
// allocation of each key copy in turn), and the secondary-intensity ratio
// member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/allocation_failure.hpp"
#include "support/derivative_tables.hpp"

namespace {

using pk_test::expectExactly;
using pk_test::expectInsertionOrder;
using pk_test::functionForKey;
using pk_test::TablePointer;

const std::vector<std::string> kReflexionKeys = {"a", "b", "c", "alpha", "beta", "gamma", "Ratio"};
const std::vector<std::string> kProfileKeys[5] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale",
     "Asymmetry"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2",
     "Scale"}};

TEST(DerivativeTables, KeySetsOfEveryTable) {
    TablePointer reflexion(ReflexionDerivativesHashTable());
    expectExactly(reflexion.get(), kReflexionKeys);
    for (int32_t type = 0; type < 5; ++type) {
        TablePointer profile(ProfileDerivativesHashTable(type));
        expectExactly(profile.get(), kProfileKeys[type]);
        // The cell angles are keys of every profile and reflexion table;
        // "Ratio" is only in the reflexion table.
        EXPECT_EQ(pointerForKey(profile.get(), "Ratio"), nullptr);
    }
    TablePointer gaussian(ProfileDerivativesHashTable(0));
    TablePointer lorentzian(ProfileDerivativesHashTable(1));
    TablePointer tof(ProfileDerivativesHashTable(3));
    EXPECT_EQ(pointerForKey(gaussian.get(), "LX"), nullptr);
    EXPECT_EQ(pointerForKey(lorentzian.get(), "GU"), nullptr);
    EXPECT_EQ(pointerForKey(tof.get(), "gamma1"), nullptr);
    EXPECT_EQ(pointerForKey(tof.get(), "Zero"), nullptr);
}

TEST(DerivativeTables, TypeFourAndEveryOtherValueShareOneTable) {
    TablePointer four(ProfileDerivativesHashTable(4));
    for (int32_t type : {7, -1, 5, 1000}) {
        TablePointer other(ProfileDerivativesHashTable(type));
        expectExactly(other.get(), kProfileKeys[4]);
        for (const std::string &key : kProfileKeys[4]) {
            EXPECT_EQ(pointerForKey(other.get(), key.c_str()), pointerForKey(four.get(), key.c_str()));
        }
    }
    // Distinct shapes have distinct members under the same key.
    TablePointer three(ProfileDerivativesHashTable(3));
    EXPECT_NE(pointerForKey(three.get(), "dtt2"), pointerForKey(four.get(), "dtt2"));
}

TEST(DerivativeTables, KeysAreInsertedInTheirListedOrder) {
    expectInsertionOrder([] { return ReflexionDerivativesHashTable(); }, kReflexionKeys);
    for (int32_t type = 0; type < 5; ++type) {
        expectInsertionOrder([type] { return ProfileDerivativesHashTable(type); },
                             kProfileKeys[type]);
    }
}

TEST(DerivativeTables, RatioMemberOnlyMovesSecondWavelengthIntensities) {
    TablePointer table(ReflexionDerivativesHashTable());
    const auto ratio = functionForKey<ReflexionDerivativeFunction>(table.get(), "Ratio");
    ASSERT_NE(ratio, nullptr);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    Reflexion reflexion{};
    reflexion.intensity = 12.0;
    for (double r : {0.5, 2.0, 0.0}) {
        profile->secondaryIntensityRatio = r;
        EXPECT_EQ(ratio(nullptr, &reflexion, profile), 0.0);  // primary: whatever the ratio
    }
    reflexion.isSecondaryWavelength = 1;
    profile->secondaryIntensityRatio = 2.0;
    // I₂ = I₁/r, so ∂I₂/∂r = −I₁/r² = −I₂/r.
    EXPECT_DOUBLE_EQ(ratio(nullptr, &reflexion, profile), -6.0);
    reflexion.intensity = -3e-14;  // below the zero tolerance 2^-44
    EXPECT_EQ(ratio(nullptr, &reflexion, profile), 0.0);
    reflexion.intensity = 6e-14;
    EXPECT_DOUBLE_EQ(ratio(nullptr, &reflexion, profile), -3e-14);
    freeRefinementProfile(profile);
}

}  // namespace
