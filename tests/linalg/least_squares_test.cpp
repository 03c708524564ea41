// The least-squares record (preparation and re-preparation; its allocation
// failures are swept in tests/reliability),
// a straight-line fit driven through the exported matrix operations and
// checked against the textbook estimates, errors and correlation, and the fit
// statistics by hand, with the vector-length rule of the residual matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "linalg/linalg.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/tolerances.hpp"

namespace {

// The eleven matrices in their shapes with row pointers into their blocks.
bool shaped(const LeastSquaresMatrices *ls, int32_t n, int32_t p) {
    const struct { const Matrix *m; int32_t rows, columns; } shapes[] = {
        {ls->jacobian, n, p}, {ls->jacobianTransposed, p, n}, {ls->normalMatrix, p, p}, {ls->covariance, p, p},
        {ls->correlations, p, p}, {ls->parameterColumn1, p, 1}, {ls->parameterColumn2, p, 1},
        {ls->observationColumn1, n, 1}, {ls->observationColumn2, n, 1}, {ls->observationColumn3, n, 1}, {ls->observationColumn4, n, 1}};
    bool ok = ls->standardErrors != nullptr && ls->observationCount == n && ls->parameterCount == p;
    for (const auto &s : shapes) {
        ok = ok && s.m && s.m->rows == s.rows && s.m->columns == s.columns &&
             s.m->rowPointers[s.rows - 1] == s.m->elements + (s.rows - 1) * s.columns;
    }
    return ok;
}
// Every preparation past its argument test resets the cycle values.
bool resetCycle(LeastSquaresMatrices *ls) {
    const bool reset = ls->cycleValue1 == 0.01 && ls->cycleValue2 == 2.0 && ls->cycleFlag == 1;
    ls->cycleValue1 = ls->cycleValue2 = -1.0, ls->cycleFlag = 0;
    return reset;
}

TEST(LeastSquares, PreparationMakesKeepsAndResizes) {
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    const LeastSquaresMatricesMethods slots = {freeLeastSquaresMatrices, prepareForRefinementCycle, calculateParameterCorrelationsAndErrors};
    EXPECT_EQ(std::memcmp(ls->methods, &slots, sizeof slots), 0);
    EXPECT_FALSE(prepareForRefinementCycle(ls, 0, 3) || prepareForRefinementCycle(ls, 5, -2) || prepareForRefinementCycle(nullptr, 5, 3));
    EXPECT_TRUE(ls->jacobian == nullptr && ls->parameterCount == 0 && !resetCycle(ls));  // nothing changed
    ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3) && shaped(ls, 7, 3) && resetCycle(ls));
    for (int32_t i = 0; i < 21; ++i) EXPECT_EQ(ls->jacobian->elements[i], 0.0);
    // The same counts keep every block; new N only keeps the error array;
    // fewer parameters shrink it keeping its leading entries; more, a new one.
    Matrix *jacobian = ls->jacobian;
    jacobian->rowPointers[6][2] = 8.5, ls->standardErrors[0] = 1.5, ls->standardErrors[1] = 2.5;
    ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3) && resetCycle(ls) && ls->jacobian == jacobian && jacobian->rowPointers[6][2] == 8.5);
    double *errors = ls->standardErrors;
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 3) && shaped(ls, 25, 3) && ls->standardErrors == errors);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 2) && shaped(ls, 25, 2) && ls->standardErrors[1] == 2.5);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 6, 40) && shaped(ls, 6, 40) && resetCycle(ls));
    freeLeastSquaresMatrices(ls), std::free(ls);
    // A record left broken by a failed preparation does not pass for a ready one
    // when prepared again with the same counts.
    ls = makeRefinementMatrices();
    pk_test::failAllocationNumber(3);
    EXPECT_FALSE(prepareForRefinementCycle(ls, 6, 3));
    pk_test::disarmAllocationFailure();
    EXPECT_FALSE(prepareForRefinementCycle(ls, 6, 3));
    freeLeastSquaresMatrices(ls), std::free(ls);
}

// y = a + b·x through five points, solved as a host would. By hand, with
// x̄ = 3, Sxx = 10, Sxy = 9.7, SSE = 0.123: b = 0.97, a = 0.13, s² = 0.041,
// σ(b) = √(s²/Sxx), σ(a) = √(s²(1/5 + x̄²/Sxx)), ρ(a, b) = −x̄/√(Sxx/5 + x̄²).
TEST(LeastSquares, StraightLineFitGivesTheTextbookEstimatesAndErrors) {
    const double x[5] = {1, 2, 3, 4, 5}, y[5] = {1.2, 1.9, 3.2, 3.8, 5.1}, weights[5] = {1, 1, 1, 1, 1}, zeros[5] = {};
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    ASSERT_TRUE(prepareForRefinementCycle(ls, 5, 2));
    for (int32_t i = 0; i < 5; ++i) ls->jacobian->rowPointers[i][0] = 1.0, ls->jacobian->rowPointers[i][1] = x[i];
    transposeMatrixDst(ls->jacobianTransposed, ls->jacobian);
    multMatricesDst(ls->normalMatrix, ls->jacobianTransposed, ls->jacobian);
    ASSERT_TRUE(inverseMatrixDst(ls->covariance, ls->normalMatrix));
    updateResidualsVector(ls->observationColumn1, y, zeros);  // against a = b = 0
    Matrix *solver = copyMatrix(ls->jacobianTransposed);      // (JᵀJ)⁻¹Jᵀ
    multMatricesDst(solver, ls->covariance, ls->jacobianTransposed);
    multMatricesDst(ls->parameterColumn1, solver, ls->observationColumn1);
    const double a = ls->parameterColumn1->elements[0], b = ls->parameterColumn1->elements[1];
    EXPECT_NEAR(a, 0.13, pk_test::kRoundOff);
    EXPECT_NEAR(b, 0.97, pk_test::kRoundOff);
    double fitted[5];
    for (int32_t i = 0; i < 5; ++i) fitted[i] = a + b * x[i];
    updateResidualsVector(ls->observationColumn2, y, fitted);
    const double chi2 = calculateChi2(ls->observationColumn2, weights);
    EXPECT_NEAR(chi2, 0.123, pk_test::kRoundOff);
    for (int32_t i = 0; i < 4; ++i) ls->covariance->elements[i] *= calculateGoodnessOfFit(chi2, 5, 2);
    EXPECT_EQ(pk_test::captureStdout([&] { ASSERT_TRUE(calculateParameterCorrelationsAndErrors(ls)); }), "");
    EXPECT_NEAR(ls->standardErrors[0], std::sqrt(0.041 * (0.2 + 0.9)), pk_test::kRoundOff);
    EXPECT_NEAR(ls->standardErrors[1], std::sqrt(0.041 / 10), pk_test::kRoundOff);
    EXPECT_NEAR(ls->correlations->rowPointers[0][1], -3.0 / std::sqrt(11.0), pk_test::kRoundOff);
    EXPECT_NEAR(ls->correlations->rowPointers[1][1], 1.0, pk_test::kRoundOff);
    // A diagonal that is not positive: the message, the errors before it written, correlations untouched.
    for (const double bad : {0.0, -1.0, std::nan("")}) {
        ls->covariance->rowPointers[1][1] = bad, ls->standardErrors[0] = 0.0, ls->correlations->rowPointers[0][1] = 7.0;
        bool ok = true;
        EXPECT_EQ(pk_test::captureStdout([&] { ok = calculateParameterCorrelationsAndErrors(ls); }), "Negative covariance diagonal encountered!\n");
        EXPECT_TRUE(!ok && ls->standardErrors[0] > 0.0 && ls->correlations->rowPointers[0][1] == 7.0) << bad;
    }
    freeMatrix(solver);
    freeLeastSquaresMatrices(ls), std::free(ls);
    ls = makeRefinementMatrices();
    EXPECT_FALSE(calculateParameterCorrelationsAndErrors(ls) || calculateParameterCorrelationsAndErrors(nullptr));
    freeLeastSquaresMatrices(ls), freeLeastSquaresMatrices(nullptr), std::free(ls);
}

TEST(Statistics, SumsResidualsAndPercentagesByHand) {
    const double values[3] = {1, 2, 3}, w3[3] = {1, 1, 0.5};
    EXPECT_EQ(calculateWeightedSumSquares(values, w3, 3), 9.5);  // 1 + 4 + 4.5
    EXPECT_TRUE(calculateSumValues(values, 3) == 6.0 && calculateSumValues(values, 2) == 3.0);
    EXPECT_EQ(calculateWeightedSumSquares(values, w3, 0) + calculateWeightedSumSquares(nullptr, w3, 3) +
              calculateWeightedSumSquares(values, nullptr, 3) + calculateSumValues(nullptr, 0) + calculateSumValues(values, -1), 0.0);
    // Residuals 1, −2, 3, −4, 5, weights 1, 0.5, 2, 0.25, 1: χ² = 1 + 2 + 18 + 4 + 25 = 50,
    // Rp = 100·15/50; a 3 × 4 matrix has vector length 4: χ² = 25, Rp = 100·10/50.
    const double observed[12] = {11, 8, 13, 6, 15, 16, 17, 18, 19, 20, 21, 22}, calculated[12] = {10, 10, 10, 10, 10};
    const double weights[12] = {1, 0.5, 2, 0.25, 1, 100, 100, 100, 100, 100, 100, 100};
    for (const auto &c : std::vector<std::array<int32_t, 5>>{{5, 1, 5, 50, 30}, {1, 5, 5, 50, 30}, {3, 4, 4, 25, 20}}) {
        Matrix *r = powderkit::makeMatrix(c[0], c[1]);
        std::fill(r->elements, r->elements + c[0] * c[1], 99.0);
        updateResidualsVector(r, observed, calculated), updateResidualsVector(r, nullptr, calculated), updateResidualsVector(r, observed, nullptr);
        for (int32_t i = 0; i < c[0] * c[1]; ++i) EXPECT_EQ(r->elements[i], i < c[2] ? observed[i] - calculated[i] : 99.0) << i;
        EXPECT_TRUE(calculateChi2(r, weights) == c[3] && calculateProfileResidual(r, 50.0) == c[4]) << c[0];
        freeMatrix(r);
    }
    updateResidualsVector(nullptr, observed, calculated);
    EXPECT_EQ(calculateChi2(nullptr, weights) + calculateProfileResidual(nullptr, 40.0), 0.0);
    // Rwp = 100 √(χ²/Σwy²), Rexp = 100 √((N − P)/Σwy²); (Rwp/Rexp)² = χ²/(N − P); N = P divides by 0.
    EXPECT_TRUE(calculateGoodnessOfFit(50.0, 110, 10) == 0.5 && calculateWeightedProfileResidual(1.0, 100.0) == 10.0);
    EXPECT_EQ(calculateExpectedProfileResidual(101, 1, 10000.0), 10.0);
    EXPECT_NEAR(std::pow(calculateWeightedProfileResidual(72.0, 400.0) / calculateExpectedProfileResidual(20, 2, 400.0), 2.0),
                calculateGoodnessOfFit(72.0, 20, 2), pk_test::kRoundOff);
    EXPECT_TRUE(std::isinf(calculateGoodnessOfFit(1.0, 4, 4)));
}

}  // namespace
