// The least-squares record: preparation and re-preparation, standard errors
// and correlations, allocation failure, and a straight-line fit driven
// through the exported matrix operations alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "linalg/linalg.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

void release(LeastSquaresMatrices *ls) {
    freeLeastSquaresMatrices(ls);
    std::free(ls);
}

void expectShapes(const LeastSquaresMatrices *ls, int32_t n, int32_t p) {
    const struct { const Matrix *m; int32_t rows, columns; } shapes[] = {
        {ls->jacobian, n, p},          {ls->jacobianTransposed, p, n}, {ls->normalMatrix, p, p},
        {ls->covariance, p, p},        {ls->correlations, p, p},       {ls->parameterColumn1, p, 1},
        {ls->parameterColumn2, p, 1},  {ls->observationColumn1, n, 1}, {ls->observationColumn2, n, 1},
        {ls->observationColumn3, n, 1}, {ls->observationColumn4, n, 1}};
    for (const auto &s : shapes) {
        ASSERT_TRUE(s.m != nullptr && s.m->rows == s.rows && s.m->columns == s.columns) << &s - shapes;
        EXPECT_EQ(s.m->rowPointers[s.rows - 1], s.m->elements + (s.rows - 1) * s.columns) << &s - shapes;
    }
    EXPECT_TRUE(ls->standardErrors != nullptr && ls->observationCount == n && ls->parameterCount == p);
}

// Every preparation past its argument test sets the cycle values; spoil them to see it.
void spoilCycleValues(LeastSquaresMatrices *ls) {
    ls->cycleValue1 = ls->cycleValue2 = -1.0;
    ls->cycleFlag = 0;
}
bool cycleValuesReset(const LeastSquaresMatrices *ls) {
    return ls->cycleValue1 == 0.01 && ls->cycleValue2 == 2.0 && ls->cycleFlag == 1;
}

TEST(LeastSquares, PreparationMakesKeepsAndResizes) {
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    const LeastSquaresMatricesMethods slots = {freeLeastSquaresMatrices, prepareForRefinementCycle,
                                               calculateParameterCorrelationsAndErrors};
    EXPECT_EQ(std::memcmp(ls->methods, &slots, sizeof slots), 0);
    // Counts below 1 change nothing, not even the cycle values.
    spoilCycleValues(ls);
    EXPECT_FALSE(prepareForRefinementCycle(ls, 0, 3) || prepareForRefinementCycle(ls, 5, -2) ||
                 prepareForRefinementCycle(nullptr, 5, 3));
    EXPECT_TRUE(ls->jacobian == nullptr && ls->parameterCount == 0);
    EXPECT_TRUE(ls->cycleValue1 == -1.0 && ls->cycleValue2 == -1.0 && ls->cycleFlag == 0);
    // The first preparation zero-fills; hostReserved is the host's.
    ls->hostReserved = 42.0;
    ASSERT_TRUE(ls->methods->prepareForRefinementCycle(ls, 7, 3));
    expectShapes(ls, 7, 3);
    EXPECT_TRUE(cycleValuesReset(ls) && ls->hostReserved == 42.0);
    for (int32_t i = 0; i < 21; ++i) EXPECT_EQ(ls->jacobian->elements[i], 0.0);
    EXPECT_TRUE(ls->standardErrors[0] == 0.0 && ls->standardErrors[2] == 0.0);
    // The same counts keep every matrix and its contents, and reset the cycle values.
    Matrix *jacobian = ls->jacobian;
    jacobian->rowPointers[6][2] = 8.5;
    ls->standardErrors[0] = 1.5;
    ls->standardErrors[1] = 2.5;
    spoilCycleValues(ls);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3));
    EXPECT_TRUE(ls->jacobian == jacobian && jacobian->rowPointers[6][2] == 8.5 && cycleValuesReset(ls));
    // N only: the error array is left as it was; fewer parameters shrink it,
    // keeping its leading entries; more parameters give a larger one.
    double *errors = ls->standardErrors;
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 3));
    expectShapes(ls, 25, 3);
    EXPECT_EQ(ls->standardErrors, errors);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 2));
    expectShapes(ls, 25, 2);
    EXPECT_TRUE(ls->standardErrors[0] == 1.5 && ls->standardErrors[1] == 2.5);
    spoilCycleValues(ls);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 6, 40));
    expectShapes(ls, 6, 40);
    ls->standardErrors[39] = 1.0;  // the sanitizer pass watches the bounds
    EXPECT_TRUE(cycleValuesReset(ls));
    release(ls);
}

TEST(LeastSquares, StandardErrorsAndCorrelationsFromTheCovariance) {
    // Diagonal (4, 9), off-diagonal 3: errors 2 and 3, correlation 3/(2·3).
    LeastSquaresMatrices *ls = makeRefinementMatrices(), *empty = makeRefinementMatrices();
    ASSERT_TRUE(prepareForRefinementCycle(ls, 5, 2));
    const double covariance[4] = {4, 3, 3, 9}, correlations[4] = {1, 0.5, 0.5, 1};
    std::memcpy(ls->covariance->elements, covariance, sizeof covariance);
    bool ok = false;
    EXPECT_EQ(pk_test::captureStdout([&] { ok = calculateParameterCorrelationsAndErrors(ls); }), "");
    EXPECT_TRUE(ok && ls->standardErrors[0] == 2.0 && ls->standardErrors[1] == 3.0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ls->correlations->elements[i], correlations[i]) << i;
    // A diagonal that is not positive: the message, the errors before it written, correlations untouched.
    for (double bad : {0.0, -1.0, std::nan("")}) {
        ls->covariance->rowPointers[1][1] = bad;
        ls->standardErrors[0] = 0.0;
        ls->correlations->rowPointers[0][1] = 7.0;
        EXPECT_EQ(pk_test::captureStdout([&] { ok = calculateParameterCorrelationsAndErrors(ls); }),
                  "Negative covariance diagonal encountered!\n");
        EXPECT_TRUE(!ok && ls->standardErrors[0] == 2.0 && ls->correlations->rowPointers[0][1] == 7.0) << bad;
    }
    EXPECT_FALSE(calculateParameterCorrelationsAndErrors(empty));
    EXPECT_FALSE(calculateParameterCorrelationsAndErrors(nullptr));
    freeLeastSquaresMatrices(nullptr);
    release(ls);
    release(empty);
}

TEST(LeastSquares, AllocationFailuresLeaveABrokenRecordThatStaysBroken) {
    // {earlier N, P (0: none)}, {N, P}: a first preparation, one that grows,
    // and one that shrinks P while growing N.
    for (const auto &c : {std::array<int32_t, 4>{0, 0, 6, 3}, {6, 3, 9, 5}, {6, 3, 12, 2}}) {
        for (long n = 1;; ++n) {
            LeastSquaresMatrices *ls = makeRefinementMatrices();
            ASSERT_TRUE(c[0] == 0 || prepareForRefinementCycle(ls, c[0], c[1]));
            pk_test::failAllocationNumber(n);
            const bool ok = prepareForRefinementCycle(ls, c[2], c[3]);
            const bool failed = pk_test::allocationsCounted() >= n;
            pk_test::disarmAllocationFailure();
            EXPECT_TRUE(ok == !failed && cycleValuesReset(ls)) << n;
            if (!failed) expectShapes(ls, c[2], c[3]);
            // A broken record does not pass for a ready one, and is still safe to query
            // once its covariance (unspecified after a resize) is filled, as a host would.
            EXPECT_TRUE(!failed || !prepareForRefinementCycle(ls, c[2], c[3])) << n;
            if (Matrix *cov = ls->covariance) std::fill_n(cov->elements, cov->rows * cov->columns, 1.0);
            pk_test::captureStdout([&] { calculateParameterCorrelationsAndErrors(ls); });
            release(ls);
            if (!failed) break;
        }
    }
}

// y = a + b·x through five points, solved as a host would. By hand, with
// x̄ = 3, Sxx = 10, Sxy = 9.7, SSE = 0.123: b = 0.97, a = 0.13, s² = 0.041,
// σ(b) = √(s²/Sxx), σ(a) = √(s²·(1/5 + x̄²/Sxx)), ρ(a, b) = −x̄/√(Sxx/5 + x̄²).
TEST(LeastSquares, StraightLineFitGivesTheTextbookEstimatesAndErrors) {
    const double x[5] = {1, 2, 3, 4, 5}, y[5] = {1.2, 1.9, 3.2, 3.8, 5.1};
    const double weights[5] = {1, 1, 1, 1, 1}, zeros[5] = {0, 0, 0, 0, 0};
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    ASSERT_TRUE(prepareForRefinementCycle(ls, 5, 2));
    for (int32_t i = 0; i < 5; ++i) {
        ls->jacobian->rowPointers[i][0] = 1.0;
        ls->jacobian->rowPointers[i][1] = x[i];
    }
    transposeMatrixDst(ls->jacobianTransposed, ls->jacobian);
    multMatricesDst(ls->normalMatrix, ls->jacobianTransposed, ls->jacobian);
    ASSERT_TRUE(inverseMatrixDst(ls->covariance, ls->normalMatrix));
    updateResidualsVector(ls->observationColumn1, y, zeros);  // against a = b = 0
    Matrix *solver = copyMatrix(ls->jacobianTransposed);      // (JᵀJ)⁻¹Jᵀ
    multMatricesDst(solver, ls->covariance, ls->jacobianTransposed);
    multMatricesDst(ls->parameterColumn1, solver, ls->observationColumn1);
    const double a = ls->parameterColumn1->elements[0], b = ls->parameterColumn1->elements[1];
    EXPECT_NEAR(a, 0.13, 1e-13);
    EXPECT_NEAR(b, 0.97, 1e-13);
    double fitted[5];
    for (int32_t i = 0; i < 5; ++i) fitted[i] = a + b * x[i];
    updateResidualsVector(ls->observationColumn2, y, fitted);
    const double chi2 = calculateChi2(ls->observationColumn2, weights);
    EXPECT_NEAR(chi2, 0.123, 1e-13);
    for (int32_t i = 0; i < 4; ++i) ls->covariance->elements[i] *= calculateGoodnessOfFit(chi2, 5, 2);
    ASSERT_TRUE(calculateParameterCorrelationsAndErrors(ls));
    EXPECT_NEAR(ls->standardErrors[0], std::sqrt(0.041 * (0.2 + 0.9)), 1e-13);
    EXPECT_NEAR(ls->standardErrors[1], std::sqrt(0.041 / 10), 1e-13);
    EXPECT_NEAR(ls->correlations->rowPointers[0][1], -3.0 / std::sqrt(11.0), 1e-13);
    freeMatrix(solver);
    release(ls);
}

}  // namespace
