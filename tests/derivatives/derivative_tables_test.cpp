// The reflexion and profile derivative tables by key: each table's exact key
// set in its insertion order (seen by failing each key copy in turn), and
// that every type from 4 up, or below 0, gets the type-4 table. That each key
// reaches the right function is checked by the finite-difference tables of
// profile_derivatives_test.cpp and cell_and_site_derivatives_test.cpp.
#include <gtest/gtest.h>

#include "support/finite_difference.hpp"


namespace {

const std::vector<std::string> kProfileKeys[5] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale",
     "Asymmetry"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2",
     "Scale"}};

TEST(DerivativeTables, KeySetsInTheirOrder) {
    pk_test::expectKeysInOrder([] { return ReflexionDerivativesHashTable(); },
                               {"a", "b", "c", "alpha", "beta", "gamma", "Ratio"});
    for (const int32_t type : {0, 1, 2, 3, 4, 5, 1000, -1}) {
        const int32_t shape = type >= 0 && type < 4 ? type : 4;
        pk_test::expectKeysInOrder([type] { return ProfileDerivativesHashTable(type); },
                                   kProfileKeys[shape]);
        const auto table = pk_test::owned(ProfileDerivativesHashTable(type)), four = pk_test::owned(ProfileDerivativesHashTable(4));
        EXPECT_EQ(pointerForKey(table.get(), "dtt2") == pointerForKey(four.get(), "dtt2"), shape == 4);
    }
}

}  // namespace
