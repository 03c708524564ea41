// The least-squares record: preparation and re-preparation, standard errors
// and correlations, the residual update and its vector-length rule,
// allocation failure, and a straight-line fit driven through the exported
// matrix operations alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "refinement/matrix.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

struct RecordDeleter {
    void operator()(LeastSquaresMatrices *ls) const {
        freeLeastSquaresMatrices(ls);
        std::free(ls);
    }
};
using Record = std::unique_ptr<LeastSquaresMatrices, RecordDeleter>;

void expectShape(const Matrix *m, int32_t rows, int32_t columns, const char *name) {
    ASSERT_NE(m, nullptr) << name;
    EXPECT_EQ(m->rows, rows) << name;
    EXPECT_EQ(m->columns, columns) << name;
    for (int32_t i = 0; i < m->rows; ++i) {
        EXPECT_EQ(m->rowPointers[i], m->elements + i * m->columns) << name << " row " << i;
    }
}

void expectShapes(const LeastSquaresMatrices *ls, int32_t n, int32_t p) {
    expectShape(ls->jacobian, n, p, "jacobian");
    expectShape(ls->jacobianTransposed, p, n, "jacobianTransposed");
    expectShape(ls->normalMatrix, p, p, "normalMatrix");
    expectShape(ls->covariance, p, p, "covariance");
    expectShape(ls->correlations, p, p, "correlations");
    expectShape(ls->parameterColumn1, p, 1, "parameterColumn1");
    expectShape(ls->parameterColumn2, p, 1, "parameterColumn2");
    expectShape(ls->observationColumn1, n, 1, "observationColumn1");
    expectShape(ls->observationColumn2, n, 1, "observationColumn2");
    expectShape(ls->observationColumn3, n, 1, "observationColumn3");
    expectShape(ls->observationColumn4, n, 1, "observationColumn4");
    EXPECT_EQ(ls->observationCount, n);
    EXPECT_EQ(ls->parameterCount, p);
}

void spoilCycleValues(LeastSquaresMatrices *ls) {
    ls->cycleValue1 = -1.0;
    ls->cycleValue2 = -1.0;
    ls->cycleFlag = 0;
}

void expectCycleValuesReset(const LeastSquaresMatrices *ls) {
    EXPECT_EQ(ls->cycleValue1, 0.01);
    EXPECT_EQ(ls->cycleValue2, 2.0);
    EXPECT_EQ(ls->cycleFlag, 1);
}

TEST(LeastSquares, FreshRecordHasNoMatricesAndItsTable) {
    Record ls(makeRefinementMatrices());
    ASSERT_NE(ls, nullptr);
    EXPECT_EQ(ls->methods, &powderkit::kLeastSquaresMatricesMethods);
    EXPECT_EQ(ls->methods->freeLeastSquaresMatrices, &freeLeastSquaresMatrices);
    EXPECT_EQ(ls->methods->prepareForRefinementCycle, &prepareForRefinementCycle);
    EXPECT_EQ(ls->methods->calculateParameterCorrelationsAndErrors,
              &calculateParameterCorrelationsAndErrors);
    EXPECT_EQ(ls->jacobian, nullptr);
    EXPECT_EQ(ls->standardErrors, nullptr);
    EXPECT_EQ(ls->parameterCount, 0);
    EXPECT_EQ(ls->cycleFlag, 0);
    freeLeastSquaresMatrices(nullptr);
}

TEST(LeastSquares, FirstPreparationMakesZeroFilledMatricesOfEveryShape) {
    Record ls(makeRefinementMatrices());
    ls->hostReserved = 42.0;
    EXPECT_FALSE(prepareForRefinementCycle(nullptr, 7, 3));
    ASSERT_TRUE(ls->methods->prepareForRefinementCycle(ls.get(), 7, 3));
    expectShapes(ls.get(), 7, 3);
    expectCycleValuesReset(ls.get());
    EXPECT_EQ(ls->hostReserved, 42.0);
    for (int32_t i = 0; i < 21; ++i) EXPECT_EQ(ls->jacobian->elements[i], 0.0);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(ls->standardErrors[i], 0.0);
    for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(ls->observationColumn4->elements[i], 0.0);
}

TEST(LeastSquares, CountsBelowOneChangeNothing) {
    Record ls(makeRefinementMatrices());
    spoilCycleValues(ls.get());
    EXPECT_FALSE(prepareForRefinementCycle(ls.get(), 0, 3));
    EXPECT_FALSE(prepareForRefinementCycle(ls.get(), 5, 0));
    EXPECT_FALSE(prepareForRefinementCycle(ls.get(), 5, -2));
    EXPECT_EQ(ls->jacobian, nullptr);
    EXPECT_EQ(ls->parameterCount, 0);
    EXPECT_EQ(ls->cycleValue1, -1.0);
    EXPECT_EQ(ls->cycleValue2, -1.0);
    EXPECT_EQ(ls->cycleFlag, 0);
}

TEST(LeastSquares, RepeatedPreparationWithTheSameCountsKeepsEverything) {
    Record ls(makeRefinementMatrices());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 4, 2));
    Matrix *jacobian = ls->jacobian;
    double *errors = ls->standardErrors;
    ls->jacobian->rowPointers[3][1] = 8.5;
    ls->covariance->rowPointers[0][1] = -3.0;
    ls->standardErrors[1] = 0.25;
    spoilCycleValues(ls.get());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 4, 2));
    EXPECT_EQ(ls->jacobian, jacobian);
    EXPECT_EQ(ls->standardErrors, errors);
    EXPECT_EQ(ls->jacobian->rowPointers[3][1], 8.5);
    EXPECT_EQ(ls->covariance->rowPointers[0][1], -3.0);
    EXPECT_EQ(ls->standardErrors[1], 0.25);
    expectCycleValuesReset(ls.get());
}

TEST(LeastSquares, ChangedCountsResizeTheirMatricesAndTheErrorArray) {
    Record ls(makeRefinementMatrices());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 10, 3));
    ls->standardErrors[0] = 1.5;
    ls->standardErrors[1] = 2.5;
    double *errors = ls->standardErrors;
    // N only: the error array is left as it was.
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 25, 3));
    expectShapes(ls.get(), 25, 3);
    EXPECT_EQ(ls->standardErrors, errors);
    EXPECT_EQ(ls->standardErrors[1], 2.5);
    // Fewer parameters: the array shrinks, keeping its leading entries.
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 25, 2));
    expectShapes(ls.get(), 25, 2);
    EXPECT_EQ(ls->standardErrors[0], 1.5);
    EXPECT_EQ(ls->standardErrors[1], 2.5);
    // More parameters and fewer points: every matrix takes its new shape and
    // the larger error array is usable to its end.
    spoilCycleValues(ls.get());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 6, 40));
    expectShapes(ls.get(), 6, 40);
    ls->standardErrors[39] = 1.0;
    expectCycleValuesReset(ls.get());
}

TEST(LeastSquares, StandardErrorsAndCorrelationsFromTheCovariance) {
    Record ls(makeRefinementMatrices());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 5, 2));
    Matrix *c = ls->covariance;
    c->rowPointers[0][0] = 4.0;
    c->rowPointers[1][1] = 9.0;
    c->rowPointers[0][1] = 3.0;
    c->rowPointers[1][0] = 3.0;
    std::string printed =
        pk_test::captureStdout([&] { EXPECT_TRUE(calculateParameterCorrelationsAndErrors(ls.get())); });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ls->standardErrors[0], 2.0);
    EXPECT_EQ(ls->standardErrors[1], 3.0);
    EXPECT_EQ(ls->correlations->rowPointers[0][0], 1.0);
    EXPECT_EQ(ls->correlations->rowPointers[1][1], 1.0);
    EXPECT_EQ(ls->correlations->rowPointers[0][1], 0.5);
    EXPECT_EQ(ls->correlations->rowPointers[1][0], 0.5);
}

TEST(LeastSquares, DiagonalThatIsNotPositiveStopsWithTheMessage) {
    for (double bad : {0.0, -1.0, std::nan("")}) {
        Record ls(makeRefinementMatrices());
        ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 5, 2));
        ls->covariance->rowPointers[0][0] = 4.0;
        ls->covariance->rowPointers[1][1] = bad;
        ls->correlations->rowPointers[0][1] = 7.0;
        bool ok = true;
        EXPECT_EQ(pk_test::captureStdout([&] { ok = calculateParameterCorrelationsAndErrors(ls.get()); }),
                  "Negative covariance diagonal encountered!\n");
        EXPECT_FALSE(ok);
        EXPECT_EQ(ls->standardErrors[0], 2.0);
        EXPECT_EQ(ls->correlations->rowPointers[0][1], 7.0);
    }
    Record empty(makeRefinementMatrices());
    EXPECT_FALSE(calculateParameterCorrelationsAndErrors(empty.get()));
    EXPECT_FALSE(calculateParameterCorrelationsAndErrors(nullptr));
}

TEST(LeastSquares, ResidualUpdateFollowsTheVectorLength) {
    const double first[12] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    const double second[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Shape {
        int32_t rows, columns, written;
    };
    for (Shape shape : {Shape{5, 1, 5}, Shape{1, 5, 5}, Shape{3, 4, 4}}) {
        Matrix *r = powderkit::makeMatrix(shape.rows, shape.columns);
        for (int32_t i = 0; i < shape.rows * shape.columns; ++i) r->elements[i] = -1.0;
        updateResidualsVector(r, first, second);
        for (int32_t i = 0; i < shape.rows * shape.columns; ++i) {
            EXPECT_EQ(r->elements[i], i < shape.written ? 9.0 * (i + 1) : -1.0)
                << shape.rows << "x" << shape.columns << " entry " << i;
        }
        updateResidualsVector(r, nullptr, second);
        updateResidualsVector(r, first, nullptr);
        EXPECT_EQ(r->elements[0], 9.0);
        freeMatrix(r);
    }
    updateResidualsVector(nullptr, first, second);
}

TEST(LeastSquares, AllocationFailuresLeaveABrokenRecordThatStaysBroken) {
    // First preparation: every failure gives false; the record is released
    // without leaks and a repeated preparation does not pass for a ready one.
    for (long n = 1;; ++n) {
        Record ls(makeRefinementMatrices());
        pk_test::failAllocationNumber(n);
        const bool ok = prepareForRefinementCycle(ls.get(), 6, 3);
        const bool failed = pk_test::allocationsCounted() >= n;
        pk_test::disarmAllocationFailure();
        EXPECT_EQ(ok, !failed) << n;
        expectCycleValuesReset(ls.get());
        if (!failed) break;
        EXPECT_FALSE(prepareForRefinementCycle(ls.get(), 6, 3)) << n;
        ASSERT_LT(n, 100);
    }
    // Later preparations that grow, and that shrink P while growing N.
    struct Counts {
        int32_t n, p;
    };
    for (Counts counts : {Counts{9, 5}, Counts{12, 2}}) {
        for (long n = 1;; ++n) {
            Record ls(makeRefinementMatrices());
            ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 6, 3));
            pk_test::failAllocationNumber(n);
            const bool ok = prepareForRefinementCycle(ls.get(), counts.n, counts.p);
            const bool failed = pk_test::allocationsCounted() >= n;
            pk_test::disarmAllocationFailure();
            EXPECT_EQ(ok, !failed) << n;
            if (!failed) {
                expectShapes(ls.get(), counts.n, counts.p);
                break;
            }
            EXPECT_FALSE(prepareForRefinementCycle(ls.get(), counts.n, counts.p)) << n;
            // Still safe to query (the sanitizer pass watches the array bounds).
            // A grown covariance holds unspecified values: fill it first, as
            // a host would, so that nothing reads memory never written.
            if (Matrix *covariance = ls->covariance) {
                for (int32_t i = 0; i < covariance->rows * covariance->columns; ++i) {
                    covariance->elements[i] = 1.0;
                }
            }
            pk_test::captureStdout([&] { calculateParameterCorrelationsAndErrors(ls.get()); });
            ASSERT_LT(n, 100);
        }
    }
}

// y = a + b·x through five points, solved as a host would: design matrix,
// transpose, normal matrix, inverse, shifts from zero, covariance scaled by
// the goodness of fit. The textbook results (by hand, with x̄ = 3,
// Sxx = 10, Sxy = 9.7, SSE = 0.123): b = 0.97, a = 0.13, s² = 0.041,
// σ(b) = √(s²/Sxx) = √0.0041, σ(a) = √(s²·(1/5 + x̄²/Sxx)) = √0.0451, and
// ρ(a, b) = −x̄/√(Sxx/5 + x̄²) = −3/√11.
TEST(LeastSquares, StraightLineFitGivesTheTextbookEstimatesAndErrors) {
    const double x[5] = {1, 2, 3, 4, 5};
    const double y[5] = {1.2, 1.9, 3.2, 3.8, 5.1};
    const double weights[5] = {1, 1, 1, 1, 1};
    const double zeros[5] = {0, 0, 0, 0, 0};
    Record ls(makeRefinementMatrices());
    ASSERT_TRUE(prepareForRefinementCycle(ls.get(), 5, 2));
    for (int32_t i = 0; i < 5; ++i) {
        ls->jacobian->rowPointers[i][0] = 1.0;
        ls->jacobian->rowPointers[i][1] = x[i];
    }
    transposeMatrixDst(ls->jacobianTransposed, ls->jacobian);
    multMatricesDst(ls->normalMatrix, ls->jacobianTransposed, ls->jacobian);
    ASSERT_TRUE(inverseMatrixDst(ls->covariance, ls->normalMatrix));
    // Residuals against the starting model (a = b = 0) are y itself.
    updateResidualsVector(ls->observationColumn1, y, zeros);
    Matrix *solver = copyMatrix(ls->jacobianTransposed);  // (JᵀJ)⁻¹Jᵀ, 2 × 5
    multMatricesDst(solver, ls->covariance, ls->jacobianTransposed);
    multMatricesDst(ls->parameterColumn1, solver, ls->observationColumn1);
    const double a = ls->parameterColumn1->elements[0];
    const double b = ls->parameterColumn1->elements[1];
    EXPECT_NEAR(a, 0.13, 1e-13);
    EXPECT_NEAR(b, 0.97, 1e-13);

    double fitted[5];
    for (int32_t i = 0; i < 5; ++i) fitted[i] = a + b * x[i];
    updateResidualsVector(ls->observationColumn2, y, fitted);
    const double chi2 = calculateChi2(ls->observationColumn2, weights);
    EXPECT_NEAR(chi2, 0.123, 1e-13);
    const double gof = calculateGoodnessOfFit(chi2, 5, 2);
    for (int32_t i = 0; i < 4; ++i) ls->covariance->elements[i] *= gof;
    ASSERT_TRUE(calculateParameterCorrelationsAndErrors(ls.get()));
    EXPECT_NEAR(ls->standardErrors[0], std::sqrt(0.0451), 1e-13);
    EXPECT_NEAR(ls->standardErrors[1], std::sqrt(0.0041), 1e-13);
    EXPECT_NEAR(ls->correlations->rowPointers[0][1], -3.0 / std::sqrt(11.0), 1e-13);
    freeMatrix(solver);
}

}  // namespace
