// Gauss–Jordan inverse: hand-worked inverses with row exchanges, the absolute
// pivot bound and the skip rule of the backward pass, refusals, and random
// matrices checked by A·A⁻¹ = I (allocation failure is swept in tests/reliability).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "linalg/linalg.hpp"
#include "support/output_capture.hpp"

namespace {

using powderkit::makeMatrix;

void expectIdentity(const Matrix *m, double tolerance) {
    for (int32_t i = 0; i < m->rows; ++i) {
        for (int32_t j = 0; j < m->columns; ++j) EXPECT_NEAR(m->rowPointers[i][j], i == j, tolerance) << i << j;
    }
}

TEST(MatrixInverse, HandWorkedInversesAndTheBoundOnPivotsAndMultipliers) {
    const double eps = (1 + 2e-7) - 1;  // 1 + 2e-7 as stored, less 1
    struct Case {
        int32_t order;
        std::vector<double> source, inverse;  // an empty inverse: refused, the identity left
        double tolerance;
    };
    const Case cases[] = {
        {1, {5e-8}, {}, 0}, {1, {2.0}, {0.5}, 0},
        {2, {1e-8, 0, 0, 1e-8}, {}, 0},  // the bound is absolute, not relative
        // Columns (0, 3) and (1, 0): one exchange.
        {2, {0, 1, 3, 0}, {0, 1.0 / 3.0, 1, 0}, 0},
        // Rows 0↔2 for column 0, then 1↔2; solved by hand, exact in binary.
        {3, {0, 1, 0, 0, 0, 4, 2, 1, 0}, {-0.5, 0, 0.5, 1, 0, 0, 0, 0.25, 0}, 0},
        // [[1, 1], [1, 1 + ε]] leaves the pivot ε: refused below 1e-7, accepted above.
        {2, {1, 1, 1, 1 + 9e-8}, {}, 0},
        {2, {1, 1, 1, 1 + 2e-7}, {(1 + eps) / eps, -1 / eps, -1 / eps, 1 / eps}, 1e-6 / eps},
        // [[1, δ], [0, 1]]: a multiplier δ below 1e-7 is skipped in the backward pass.
        {2, {1, 5e-8, 0, 1}, {1, 0, 0, 1}, 0}, {2, {1, 2e-7, 0, 1}, {1, -2e-7, 0, 1}, 0},
        // A tie for the pivot keeps the earlier row, whose multiplier 5e-8 is then skipped.
        {2, {1, 5e-8, 1, 1}, {1, 0, -1 / (1 - 5e-8), 1 / (1 - 5e-8)}, 0},
    };
    for (const Case &c : cases) {
        Matrix *src = makeMatrix(c.order, c.order), *dst = makeMatrix(c.order, c.order);
        std::copy(c.source.begin(), c.source.end(), src->elements);
        bool ok = false;
        const std::string printed = pk_test::captureStdout([&] { ok = inverseMatrixDst(dst, src); });
        EXPECT_EQ(ok, !c.inverse.empty()) << c.source[0];
        EXPECT_EQ(printed, ok ? "" : "The matrix is not invertible.\n");
        if (!ok) expectIdentity(dst, 0.0);
        for (std::size_t k = 0; k < c.inverse.size(); ++k) {
            EXPECT_NEAR(dst->rowPointers[k / c.order][k % c.order], c.inverse[k], c.tolerance) << k;
        }
        freeMatrix(src);
        freeMatrix(dst);
    }
}

TEST(MatrixInverse, NullAndBadArgumentsAreRefusedSilently) {
    Matrix *wide = makeMatrix(2, 3), *dst = makeMatrix(2, 2);
    Matrix *square = makeMatrix(2, 2), *three = makeMatrix(3, 3);
    square->elements[0] = square->elements[3] = 2.0;
    EXPECT_EQ(pk_test::captureStdout([&] {
                  EXPECT_FALSE(inverseMatrixDst(dst, wide));
                  EXPECT_FALSE(inverseMatrixDst(dst, nullptr));
                  EXPECT_FALSE(inverseMatrixDst(nullptr, square));
                  EXPECT_FALSE(inverseMatrixDst(three, square));  // destination of another order
              }),
              "");
    for (Matrix *m : {wide, dst, square, three}) freeMatrix(m);
}

TEST(MatrixInverse, RandomMatricesTimesTheirInverseGiveTheIdentity) {
    // Uniform entries make partial pivoting exchange rows all the time; the
    // seed is fixed, so these are always the same invertible matrices.
    std::mt19937 generator(20240611u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int32_t order = 1; order <= 60; ++order) {
        Matrix *a = makeMatrix(order, order), *inverse = makeMatrix(order, order);
        Matrix *product = makeMatrix(order, order);
        for (int32_t i = 0; i < order * order; ++i) a->elements[i] = uniform(generator);
        ASSERT_TRUE(inverseMatrixDst(inverse, a)) << "order " << order;
        multMatricesDst(product, a, inverse);
        expectIdentity(product, 1e-10);
        multMatricesDst(product, inverse, a);
        expectIdentity(product, 1e-10);
        for (Matrix *m : {a, inverse, product}) freeMatrix(m);
    }
}

}  // namespace
