// Fit statistics: the hand-worked sums and percentages, the vector-length
// rule of the residual matrices, and the degenerate arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "refinement/matrix.hpp"

namespace {

TEST(Statistics, SumsOfValuesAndWeightedSquares) {
    const double values[3] = {1, 2, 3};
    const double weights[3] = {1, 1, 0.5};
    EXPECT_EQ(calculateWeightedSumSquares(values, weights, 3), 9.5);  // 1 + 4 + 4.5
    EXPECT_EQ(calculateWeightedSumSquares(values, weights, 0), 0.0);
    EXPECT_EQ(calculateWeightedSumSquares(nullptr, weights, 3), 0.0);
    EXPECT_EQ(calculateWeightedSumSquares(values, nullptr, 3), 0.0);
    EXPECT_EQ(calculateSumValues(values, 3), 6.0);
    EXPECT_EQ(calculateSumValues(values, 2), 3.0);
    EXPECT_EQ(calculateSumValues(nullptr, 0), 0.0);
    EXPECT_EQ(calculateSumValues(values, -1), 0.0);
}

TEST(Statistics, ChiSquaredAndRpReadTheResidualVectorLength) {
    // Residuals 1, −2, 3, −4, 5 with weights 1, 0.5, 2, 0.25, 1:
    // χ² = 1 + 2 + 18 + 4 + 25 = 50, Σ|r| = 15.
    const double weights[12] = {1, 0.5, 2, 0.25, 1, 100, 100, 100, 100, 100, 100, 100};
    const double residuals[12] = {1, -2, 3, -4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (auto shape : {std::pair<int32_t, int32_t>{5, 1}, {1, 5}}) {
        Matrix *r = powderkit::makeMatrix(shape.first, shape.second);
        for (int32_t i = 0; i < 5; ++i) r->elements[i] = residuals[i];
        EXPECT_EQ(calculateChi2(r, weights), 50.0);
        EXPECT_EQ(calculateProfileResidual(r, 300.0), 5.0);  // 100·15/300
        freeMatrix(r);
    }
    // A 3 × 4 matrix has vector length 4: 1 + 2 + 18 + 4 = 25 and Σ|r| = 10.
    Matrix *wide = powderkit::makeMatrix(3, 4);
    for (int32_t i = 0; i < 12; ++i) wide->elements[i] = residuals[i];
    EXPECT_EQ(calculateChi2(wide, weights), 25.0);
    EXPECT_EQ(calculateProfileResidual(wide, 100.0), 10.0);
    freeMatrix(wide);
    EXPECT_EQ(calculateChi2(nullptr, weights), 0.0);
    EXPECT_EQ(calculateProfileResidual(nullptr, 40.0), 0.0);

    Matrix *three = powderkit::makeMatrix(3, 1);
    three->elements[0] = 1;
    three->elements[1] = -1;
    three->elements[2] = 2;
    EXPECT_EQ(calculateProfileResidual(three, 40.0), 10.0);  // 100·4/40
    freeMatrix(three);
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
