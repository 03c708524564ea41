// Dense matrices: creation and its limits, resizing by the buffer rule,
// copies, product, difference and transpose by hand, the Gauss–Jordan inverse
// (hand-worked inverses needing row exchanges, the absolute pivot bound, the
// skip rule of the backward pass, random matrices by A·A⁻¹ = I), refusals.
#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "linalg/linalg.hpp"
#include "support/output_capture.hpp"
#include "support/tolerances.hpp"

namespace {

using powderkit::makeMatrix;
using powderkit::resizeMatrix;

Matrix *matrixOf(int32_t rows, int32_t columns, std::vector<double> values) {
    Matrix *m = makeMatrix(rows, columns);
    std::copy(values.begin(), values.end(), m->elements);
    return m;
}

// The shape, the row pointers into the one block, and the leading entries
// read through the rows; within `tolerance`.
void expectMatrix(const Matrix *m, int32_t rows, int32_t columns, std::vector<double> values, double tolerance = 0.0) {
    ASSERT_TRUE(m != nullptr && m->rows == rows && m->columns == columns);
    for (int32_t i = 0; i < rows; ++i) EXPECT_EQ(m->rowPointers[i], m->elements + i * columns) << i;
    for (std::size_t k = 0; k < values.size(); ++k) EXPECT_NEAR(m->rowPointers[k / columns][k % columns], values[k], tolerance) << k;
}

TEST(Matrix, MakeResizeCopyAndArithmeticByHand) {
    Matrix *m = makeMatrix(3, 4);
    expectMatrix(m, 3, 4, std::vector<double>(12, 0.0));
    std::iota(m->elements, m->elements + 12, 1.0);
    double *block = m->elements;
    EXPECT_TRUE(resizeMatrix(m, 3, 4) == m && m->elements == block);  // same shape: contents intact
    // Fewer rows shrink in place keeping the leading rows; new columns re-read
    // the row-major entries with the new stride; grown, contents unspecified.
    expectMatrix(m = resizeMatrix(m, 2, 4), 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    expectMatrix(m = resizeMatrix(m, 4, 2), 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    expectMatrix(m = resizeMatrix(m, 30, 7), 30, 7, {});
    Matrix *src = matrixOf(2, 3, {1, -2, 3, 4.5, 5, -6});
    Matrix *copy = copyMatrix(src), *fast = makeMatrix(2, 3), *rows = makeMatrix(2, 3), *t = makeMatrix(3, 2);
    fastCopyMatrixDst(fast, src);
    powderkit::copyMatrixContents(rows, src);
    EXPECT_NE(copy->elements, src->elements);
    for (const Matrix *c : {copy, fast, rows}) expectMatrix(c, 2, 3, {1, -2, 3, 4.5, 5, -6});
    transposeMatrixDst(t, src);
    expectMatrix(t, 3, 2, {1, 4.5, -2, 5, 3, -6});
    Matrix *a = matrixOf(2, 2, {1, 2, 3, 4}), *b = matrixOf(2, 2, {5, 6, 7, 8}), *dst = matrixOf(2, 2, {9, 9, 9, 9});
    multMatricesDst(dst, a, b);
    expectMatrix(dst, 2, 2, {19, 22, 43, 50});
    subFromMatrix(dst, b);
    expectMatrix(dst, 2, 2, {14, 16, 36, 42});
    Matrix *v = matrixOf(3, 1, {3, 2, 1}), *sv = powderkit::multMatrices(src, v);
    expectMatrix(sv, 2, 1, {2, 17.5});
    // 1 + 1e16 rounds to 1e16: summed in index order the terms give 0, backwards 1.
    Matrix *big = matrixOf(1, 3, {1.0, 1e16, -1e16}), *ones = matrixOf(3, 1, {1, 1, 1});
    multMatricesDst(dst = resizeMatrix(dst, 1, 1), big, ones);
    EXPECT_EQ(dst->elements[0], 0.0);
    for (Matrix *x : {m, src, copy, fast, rows, t, a, b, dst, v, sv, big, ones}) freeMatrix(x);
}

TEST(Matrix, BadShapesAndNullArgumentsChangeNothing) {
    // 46341² overflows 32 bits; 65536² wraps to 0 and 65537² to 131073. A
    // failed resize releases the matrix given.
    for (const auto &shape : std::vector<std::array<int32_t, 2>>{{0, 3}, {3, 0}, {-1, 3}, {46341, 46341}, {65536, 65536}, {65537, 65537}}) {
        EXPECT_EQ(makeMatrix(shape[0], shape[1]), nullptr);
        EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), shape[0], shape[1]), nullptr);
    }
    EXPECT_TRUE(resizeMatrix(nullptr, 2, 2) == nullptr && copyMatrix(nullptr) == nullptr);
    freeMatrix(nullptr);
    Matrix *a = matrixOf(2, 3, {1, 2, 3, 4, 5, 6}), *square = makeMatrix(3, 3), *inverse = makeMatrix(2, 2);
    Matrix *dst = matrixOf(2, 3, {7, 7, 7, 7, 7, 7}), *wrong = matrixOf(3, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7});
    EXPECT_TRUE(powderkit::multMatrices(a, a) == nullptr && powderkit::multMatrices(nullptr, a) == nullptr);
    multMatricesDst(dst, a, a);         // inner dimensions 3 ≠ 2
    multMatricesDst(wrong, a, square);  // a·square is 2 × 3
    transposeMatrixDst(dst, a);         // the transpose is 3 × 2
    multMatricesDst(nullptr, a, square), multMatricesDst(dst, nullptr, square), multMatricesDst(dst, a, nullptr);
    transposeMatrixDst(dst, nullptr), transposeMatrixDst(nullptr, a), fastCopyMatrixDst(nullptr, a);
    expectMatrix(dst, 2, 3, std::vector<double>(6, 7.0));
    expectMatrix(wrong, 3, 3, std::vector<double>(9, 7.0));
    // The inverse refuses silently: not square, null, a destination of another order.
    EXPECT_EQ(pk_test::captureStdout([&] {
                  EXPECT_FALSE(inverseMatrixDst(inverse, a) || inverseMatrixDst(inverse, nullptr) ||
                               inverseMatrixDst(nullptr, square) || inverseMatrixDst(inverse, square));
              }), "");
    for (Matrix *m : {a, square, inverse, dst, wrong}) freeMatrix(m);
}

TEST(MatrixInverse, HandWorkedAndRandomInverses) {
    const double eps = (1 + 2e-7) - 1;  // 1 + 2e-7 as stored, less 1
    const struct {
        int32_t order;
        std::vector<double> source, inverse;  // none: refused with the message, the identity left
        double tolerance;
    } cases[] = {
        {1, {5e-8}, {}, 0}, {1, {2.0}, {0.5}, 0},
        {2, {1e-8, 0, 0, 1e-8}, {}, 0},  // the bound is absolute, not relative
        {2, {0, 1, 3, 0}, {0, 1.0 / 3.0, 1, 0}, 0},  // one exchange
        // Rows 0↔2 for column 0, then 1↔2: the larger candidate wins, not the first non-zero.
        {3, {0, 1, 0, 0, 0, 4, 2, 1, 0}, {-0.5, 0, 0.5, 1, 0, 0, 0, 0.25, 0}, 0},
        // Pivots 3 (row 1) then 4 (row 2); inverse by cofactors, determinant −14.
        {3, {1, 2, 0, 3, 1, 1, 0, 4, 2}, {1.0 / 7, 2.0 / 7, -1.0 / 7, 3.0 / 7, -1.0 / 7, 1.0 / 14, -6.0 / 7, 2.0 / 7, 5.0 / 14}, pk_test::kRoundOff},
        // [[1, 1], [1, 1 + ε]] leaves the pivot ε: refused below 1e-7, accepted above.
        {2, {1, 1, 1, 1 + 9e-8}, {}, 0},
        {2, {1, 1, 1, 1 + 2e-7}, {(1 + eps) / eps, -1 / eps, -1 / eps, 1 / eps}, 1e-6 / eps},
        // [[1, δ], [0, 1]]: a multiplier δ below 1e-7 is skipped in the backward pass.
        {2, {1, 5e-8, 0, 1}, {1, 0, 0, 1}, 0}, {2, {1, 2e-7, 0, 1}, {1, -2e-7, 0, 1}, 0},
        // A tie for the pivot keeps the earlier row, whose multiplier 5e-8 is then skipped.
        {2, {1, 5e-8, 1, 1}, {1, 0, -1 / (1 - 5e-8), 1 / (1 - 5e-8)}, 0},
    };
    for (const auto &c : cases) {
        Matrix *src = matrixOf(c.order, c.order, c.source), *dst = makeMatrix(c.order, c.order);
        bool ok = false;
        const std::string printed = pk_test::captureStdout([&] { ok = inverseMatrixDst(dst, src); });
        EXPECT_EQ(printed, ok ? "" : "The matrix is not invertible.\n");
        EXPECT_EQ(ok, !c.inverse.empty()) << c.source[0];
        if (!ok) expectMatrix(dst, c.order, c.order, c.order == 1 ? std::vector<double>{1} : std::vector<double>{1, 0, 0, 1});
        if (ok) expectMatrix(dst, c.order, c.order, c.inverse, c.tolerance);
        for (Matrix *m : {src, dst}) freeMatrix(m);
    }
    // Uniform entries make partial pivoting exchange rows all the time; a fixed seed.
    std::mt19937 generator(20240611u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int32_t order = 1; order <= 40; ++order) {
        Matrix *a = makeMatrix(order, order), *inverse = makeMatrix(order, order), *product = makeMatrix(order, order);
        for (int32_t i = 0; i < order * order; ++i) a->elements[i] = uniform(generator);
        ASSERT_TRUE(inverseMatrixDst(inverse, a)) << order;
        std::vector<double> identity(static_cast<std::size_t>(order * order), 0.0);
        for (int32_t i = 0; i < order; ++i) identity[static_cast<std::size_t>(i * order + i)] = 1.0;
        multMatricesDst(product, a, inverse);
        expectMatrix(product, order, order, identity, 1e-10);  // the condition number of these times ε
        multMatricesDst(product, inverse, a);
        expectMatrix(product, order, order, identity, 1e-10);
        for (Matrix *m : {a, inverse, product}) freeMatrix(m);
    }
}

}  // namespace
