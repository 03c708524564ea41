// The derivative tables by name: their key sets and the types that share a
// table, the insertion order (seen by failing the allocation of each key copy
// in turn), the background members against the Chebyshev definition
// T_i(u) = cos(i·acos u), and the secondary-intensity ratio member.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/allocation_failure.hpp"
#include "support/derivative_tables.hpp"

namespace {

using pk_test::functionForKey;
using pk_test::TablePointer;

const std::vector<std::string> kBackgroundKeys = {"B0", "B1", "B2",  "B3",  "B4",  "B5", "B6",
                                                  "B7", "B8", "B9", "B10", "B11", "B12"};
const std::vector<std::string> kReflexionKeys = {"a", "b", "c", "alpha", "beta", "gamma", "Ratio"};
const std::vector<std::string> kProfileKeys[5] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale",
     "Asymmetry"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2",
     "Scale"}};

// Every key present with a function, nothing else in the table.
void expectExactly(const HashTable *table, const std::vector<std::string> &keys) {
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->capacity, 1024);
    EXPECT_EQ(table->count, static_cast<int32_t>(keys.size()));
    for (const std::string &key : keys) EXPECT_NE(pointerForKey(table, key.c_str()), nullptr) << key;
}

TEST(DerivativeTables, KeySetsOfEveryTable) {
    TablePointer background(BackgroundDerivativesHashTable());
    expectExactly(background.get(), kBackgroundKeys);
    EXPECT_EQ(pointerForKey(background.get(), "B13"), nullptr);
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
    EXPECT_EQ(pointerForKey(background.get(), "Ratio"), nullptr);
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

// Builds a table with allocation n failing. The table and its slots are the
// first two allocations, then one copy per key in insertion order: failing
// copy i leaves exactly the i-th key out.
template <typename Builder>
void expectInsertionOrder(Builder build, const std::vector<std::string> &keys) {
    for (long n = 1; n <= static_cast<long>(keys.size()) + 2; ++n) {
        pk_test::failAllocationNumber(n);
        HashTable *table = build();
        pk_test::disarmAllocationFailure();
        if (n <= 2) {
            EXPECT_EQ(table, nullptr) << n;
            continue;
        }
        TablePointer owner(table);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->count, static_cast<int32_t>(keys.size()) - 1);
        for (size_t i = 0; i < keys.size(); ++i) {
            const bool missing = static_cast<long>(i) == n - 3;
            EXPECT_EQ(pointerForKey(table, keys[i].c_str()) == nullptr, missing) << keys[i];
        }
    }
}

TEST(DerivativeTables, KeysAreInsertedInTheirListedOrder) {
    expectInsertionOrder([] { return BackgroundDerivativesHashTable(); }, kBackgroundKeys);
    expectInsertionOrder([] { return ReflexionDerivativesHashTable(); }, kReflexionKeys);
    for (int32_t type = 0; type < 5; ++type) {
        expectInsertionOrder([type] { return ProfileDerivativesHashTable(type); },
                             kProfileKeys[type]);
    }
}

TEST(DerivativeTables, BackgroundMembersAreTheChebyshevPolynomials) {
    TablePointer table(BackgroundDerivativesHashTable());
    const double xMin = 10.0, xMax = 130.0;
    for (int i = 0; i < 13; ++i) {
        const auto member =
            functionForKey<BackgroundDerivativeFunction>(table.get(), kBackgroundKeys[static_cast<size_t>(i)].c_str());
        ASSERT_NE(member, nullptr);
        for (double x = xMin; x <= xMax; x += 7.5) {
            const double u = 2.0 * (x - xMin) / (xMax - xMin) - 1.0;
            const double expected = std::cos(i * std::acos(std::max(-1.0, std::min(1.0, u))));
            EXPECT_NEAR(member(x, xMin, xMax), expected, 1e-10) << "T" << i << " at " << x;
        }
        // Ends of the range: T_i(−1) = (−1)^i and T_i(1) = 1.
        EXPECT_NEAR(member(xMin, xMin, xMax), (i % 2 == 0) ? 1.0 : -1.0, 1e-12);
        EXPECT_NEAR(member(xMax, xMin, xMax), 1.0, 1e-12);
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
