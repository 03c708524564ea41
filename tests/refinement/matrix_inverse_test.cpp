// Gauss–Jordan inverse: hand-worked inverses, row exchanges, the absolute
// pivot bound and the skip rule of the backward pass, refusals, random
// matrices checked by A·A⁻¹ = I, and allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <string>

#include "refinement/matrix.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

using powderkit::makeMatrix;

const char kNotInvertible[] = "The matrix is not invertible.\n";

Matrix *matrixOf(int32_t order, std::initializer_list<double> values) {
    Matrix *m = makeMatrix(order, order);
    int32_t index = 0;
    for (double value : values) {
        m->rowPointers[index / order][index % order] = value;
        ++index;
    }
    return m;
}

void expectIdentity(const Matrix *m, double tolerance) {
    for (int32_t i = 0; i < m->rows; ++i) {
        for (int32_t j = 0; j < m->columns; ++j) {
            EXPECT_NEAR(m->rowPointers[i][j], i == j ? 1.0 : 0.0, tolerance) << i << "," << j;
        }
    }
}

// Inverts src into a fresh matrix; returns what was printed.
std::string invert(const Matrix *src, Matrix **dst, bool *ok) {
    *dst = makeMatrix(src->rows, src->columns);
    return pk_test::captureStdout([&] { *ok = inverseMatrixDst(*dst, src); });
}

TEST(MatrixInverse, OneByOnePivotsAgainstTheAbsoluteBound) {
    Matrix *small = matrixOf(1, {5e-8});
    Matrix *dst = nullptr;
    bool ok = true;
    EXPECT_EQ(invert(small, &dst, &ok), kNotInvertible);
    EXPECT_FALSE(ok);
    EXPECT_EQ(dst->elements[0], 1.0);  // the identity is left behind
    freeMatrix(dst);

    Matrix *two = matrixOf(1, {2.0});
    EXPECT_EQ(invert(two, &dst, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(dst->elements[0], 0.5);
    freeMatrix(dst);

    // The bound is absolute: a perfectly conditioned but small matrix fails.
    Matrix *scaled = matrixOf(2, {1e-8, 0, 0, 1e-8});
    EXPECT_EQ(invert(scaled, &dst, &ok), kNotInvertible);
    EXPECT_FALSE(ok);
    expectIdentity(dst, 0.0);
    freeMatrix(dst);
    for (Matrix *m : {small, two, scaled}) freeMatrix(m);
}

TEST(MatrixInverse, RowExchangesByHandWorkedInverses) {
    // Columns (0, 3) and (1, 0): one exchange; the inverse is [[0, 1/3], [1, 0]].
    Matrix *a = matrixOf(2, {0, 1, 3, 0});
    Matrix *dst = nullptr;
    bool ok = false;
    invert(a, &dst, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(dst->rowPointers[0][0], 0.0);
    EXPECT_DOUBLE_EQ(dst->rowPointers[0][1], 1.0 / 3.0);
    EXPECT_EQ(dst->rowPointers[1][0], 1.0);
    EXPECT_EQ(dst->rowPointers[1][1], 0.0);
    freeMatrix(dst);

    // Two exchanges (rows 0↔2 for column 0, then 1↔2 for column 1). Solving
    // A·x = eⱼ by hand gives the inverse, exact in binary.
    Matrix *b = matrixOf(3, {0, 1, 0, 0, 0, 4, 2, 1, 0});
    invert(b, &dst, &ok);
    ASSERT_TRUE(ok);
    const double expected[9] = {-0.5, 0, 0.5, 1, 0, 0, 0, 0.25, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(dst->rowPointers[i / 3][i % 3], expected[i]) << i;
    freeMatrix(dst);

    // A permutation matrix: the inverse is its transpose.
    const int32_t cycle[5] = {3, 0, 4, 1, 2};
    Matrix *p = makeMatrix(5, 5);
    for (int32_t i = 0; i < 5; ++i) p->rowPointers[i][cycle[i]] = 1.0;
    invert(p, &dst, &ok);
    ASSERT_TRUE(ok);
    for (int32_t i = 0; i < 5; ++i) {
        for (int32_t j = 0; j < 5; ++j) {
            EXPECT_EQ(dst->rowPointers[i][j], p->rowPointers[j][i]) << i << "," << j;
        }
    }
    freeMatrix(dst);
    for (Matrix *m : {a, b, p}) freeMatrix(m);
}

TEST(MatrixInverse, PivotJustBelowTheBoundIsRefusedJustAboveAccepted) {
    // Eliminating column 0 of [[1, 1], [1, 1 + ε]] leaves the pivot ε.
    Matrix *below = matrixOf(2, {1, 1, 1, 1 + 9e-8});
    Matrix *above = matrixOf(2, {1, 1, 1, 1 + 2e-7});
    Matrix *dst = nullptr;
    bool ok = true;
    EXPECT_EQ(invert(below, &dst, &ok), kNotInvertible);
    EXPECT_FALSE(ok);
    expectIdentity(dst, 0.0);
    freeMatrix(dst);
    EXPECT_EQ(invert(above, &dst, &ok), "");
    EXPECT_TRUE(ok);
    // Inverse (1/ε)·[[1 + ε, −1], [−1, 1]], ε = 2e-7 up to the rounding of 1 + ε.
    const double epsilon = (1 + 2e-7) - 1;
    EXPECT_NEAR(dst->rowPointers[0][1], -1 / epsilon, 1e-6 / epsilon);
    EXPECT_NEAR(dst->rowPointers[1][1], 1 / epsilon, 1e-6 / epsilon);
    freeMatrix(dst);
    freeMatrix(below);
    freeMatrix(above);
}

TEST(MatrixInverse, BackwardPassSkipsMultipliersBelowTheBound) {
    // [[1, δ], [0, 1]] has inverse [[1, −δ], [0, 1]]; for δ below 1e-7 the
    // backward pass leaves row 0 alone and the result is the identity.
    Matrix *skipped = matrixOf(2, {1, 5e-8, 0, 1});
    Matrix *used = matrixOf(2, {1, 2e-7, 0, 1});
    Matrix *dst = nullptr;
    bool ok = false;
    invert(skipped, &dst, &ok);
    ASSERT_TRUE(ok);
    expectIdentity(dst, 0.0);
    freeMatrix(dst);
    invert(used, &dst, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(dst->rowPointers[0][1], -2e-7);
    EXPECT_EQ(dst->rowPointers[0][0], 1.0);
    freeMatrix(dst);
    freeMatrix(skipped);
    freeMatrix(used);
}

TEST(MatrixInverse, RefusesNonSquareAndAbsentSourcesSilently) {
    Matrix *wide = makeMatrix(2, 3);
    Matrix *dst = makeMatrix(2, 2);
    bool ok = true;
    EXPECT_EQ(pk_test::captureStdout([&] { ok = inverseMatrixDst(dst, wide); }), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(inverseMatrixDst(dst, nullptr));
    Matrix *square = matrixOf(2, {2, 0, 0, 2});
    EXPECT_FALSE(inverseMatrixDst(nullptr, square));
    Matrix *three = makeMatrix(3, 3);
    EXPECT_FALSE(inverseMatrixDst(three, square));  // destination of another order
    for (Matrix *m : {wide, dst, square, three}) freeMatrix(m);
}

TEST(MatrixInverse, RandomMatricesTimesTheirInverseGiveTheIdentity) {
    std::mt19937 generator(20240611u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int32_t order = 1; order <= 60; ++order) {
        Matrix *a = makeMatrix(order, order);
        // Uniform entries: partial pivoting exchanges rows all the time. The
        // seed is fixed, so these are always the same (invertible) matrices.
        for (int32_t i = 0; i < order * order; ++i) a->elements[i] = uniform(generator);
        Matrix *inverse = makeMatrix(order, order);
        ASSERT_TRUE(inverseMatrixDst(inverse, a)) << "order " << order;
        Matrix *product = makeMatrix(order, order);
        multMatricesDst(product, a, inverse);
        expectIdentity(product, 1e-10);
        multMatricesDst(product, inverse, a);
        expectIdentity(product, 1e-10);
        for (Matrix *m : {a, inverse, product}) freeMatrix(m);
    }
}

TEST(MatrixInverse, AllocationFailureGivesFalseAndTheIdentity) {
    Matrix *a = matrixOf(3, {4, 1, 0, 1, 4, 1, 0, 1, 4});
    Matrix *dst = makeMatrix(3, 3);
    const long runs = pk_test::forEachFailedAllocation(
        [a, dst] { return inverseMatrixDst(dst, a); },
        [dst](bool ok, bool failed) {
            EXPECT_EQ(ok, !failed);
            if (failed) expectIdentity(dst, 0.0);
        });
    EXPECT_EQ(runs, 4);  // the work matrix takes three allocations
    freeMatrix(a);
    freeMatrix(dst);
}

}  // namespace
