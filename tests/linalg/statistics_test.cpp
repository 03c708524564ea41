// Fit statistics: the hand-worked sums and percentages, the vector-length
// rule of the residual matrices (with the residual update that fills them),
// and the degenerate arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "linalg/linalg.hpp"

namespace {

TEST(Statistics, SumsOfValuesAndWeightedSquares) {
    const double values[3] = {1, 2, 3}, weights[3] = {1, 1, 0.5};
    EXPECT_EQ(calculateWeightedSumSquares(values, weights, 3), 9.5);  // 1 + 4 + 4.5
    EXPECT_EQ(calculateSumValues(values, 3), 6.0);
    EXPECT_EQ(calculateSumValues(values, 2), 3.0);
    EXPECT_EQ(calculateWeightedSumSquares(values, weights, 0), 0.0);
    EXPECT_EQ(calculateWeightedSumSquares(nullptr, weights, 3), 0.0);
    EXPECT_EQ(calculateWeightedSumSquares(values, nullptr, 3), 0.0);
    EXPECT_EQ(calculateSumValues(nullptr, 0), 0.0);
    EXPECT_EQ(calculateSumValues(values, -1), 0.0);
}

TEST(Statistics, ResidualsChiSquaredAndRpFollowTheVectorLength) {
    // Residuals 1, −2, 3, −4, 5 with weights 1, 0.5, 2, 0.25, 1: χ² = 1 + 2 + 18 + 4 + 25 = 50 and
    // Rp = 100·15/50; a 3 × 4 matrix has vector length 4: χ² = 25, Rp = 100·10/50.
    const double observed[12] = {11, 8, 13, 6, 15, 16, 17, 18, 19, 20, 21, 22};
    const double calculated[12] = {10, 10, 10, 10, 10};
    const double weights[12] = {1, 0.5, 2, 0.25, 1, 100, 100, 100, 100, 100, 100, 100};
    const struct { int32_t rows, columns, length; double chi2, rp; } cases[] = {
        {5, 1, 5, 50, 30}, {1, 5, 5, 50, 30}, {3, 4, 4, 25, 20}};
    for (const auto &c : cases) {
        Matrix *r = powderkit::makeMatrix(c.rows, c.columns);
        std::fill(r->elements, r->elements + c.rows * c.columns, 99.0);
        updateResidualsVector(r, observed, calculated);
        updateResidualsVector(r, nullptr, calculated);
        updateResidualsVector(r, observed, nullptr);
        for (int32_t i = 0; i < c.rows * c.columns; ++i) {  // nothing beyond the vector length
            EXPECT_EQ(r->elements[i], i < c.length ? observed[i] - calculated[i] : 99.0) << c.rows << " " << i;
        }
        EXPECT_EQ(calculateChi2(r, weights), c.chi2) << c.rows;
        EXPECT_EQ(calculateProfileResidual(r, 50.0), c.rp) << c.rows;
        freeMatrix(r);
    }
    updateResidualsVector(nullptr, observed, calculated);
    EXPECT_EQ(calculateChi2(nullptr, weights), 0.0);
    EXPECT_EQ(calculateProfileResidual(nullptr, 40.0), 0.0);
}

TEST(Statistics, GoodnessOfFitAndResidualsArePercentages) {
    EXPECT_EQ(calculateGoodnessOfFit(50.0, 110, 10), 0.5);
    EXPECT_EQ(calculateWeightedProfileResidual(1.0, 100.0), 10.0);
    EXPECT_EQ(calculateExpectedProfileResidual(101, 1, 10000.0), 10.0);
    // Rwp/Rexp = √(χ²/(N − P)): the two combine into the goodness of fit.
    const double rwp = calculateWeightedProfileResidual(72.0, 400.0);
    const double rexp = calculateExpectedProfileResidual(20, 2, 400.0);
    EXPECT_NEAR(std::pow(rwp / rexp, 2.0), calculateGoodnessOfFit(72.0, 20, 2), 1e-14);
    // The caller keeps N > P: N = P divides by zero instead of failing.
    EXPECT_TRUE(std::isinf(calculateGoodnessOfFit(1.0, 4, 4)));
}

}  // namespace
