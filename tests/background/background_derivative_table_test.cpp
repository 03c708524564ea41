// The background derivative table by name: its keys "B0" … "B12" and nothing
// else, their insertion order (seen by failing the allocation of each key copy
// in turn), and its members against the Chebyshev definition
// T_i(u) = cos(i·acos u).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/derivative_tables.hpp"

namespace {

using pk_test::functionForKey;
using pk_test::TablePointer;

const std::vector<std::string> kBackgroundKeys = {"B0", "B1", "B2",  "B3",  "B4",  "B5", "B6",
                                                  "B7", "B8", "B9", "B10", "B11", "B12"};

TEST(BackgroundDerivativeTable, KeysAndTheirOrder) {
    TablePointer background(BackgroundDerivativesHashTable());
    pk_test::expectExactly(background.get(), kBackgroundKeys);
    EXPECT_EQ(pointerForKey(background.get(), "B13"), nullptr);
    EXPECT_EQ(pointerForKey(background.get(), "Ratio"), nullptr);
    pk_test::expectInsertionOrder([] { return BackgroundDerivativesHashTable(); }, kBackgroundKeys);
}

TEST(BackgroundDerivativeTable, MembersAreTheChebyshevPolynomials) {
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

}  // namespace
