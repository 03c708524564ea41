// Dense matrices: creation and its limits, resizing by the buffer rule,
// copies, product, difference and transpose, and allocation failure.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "refinement/matrix.hpp"
#include "support/allocation_failure.hpp"

namespace {

using powderkit::makeMatrix;
using powderkit::resizeMatrix;

Matrix *matrixOf(int32_t rows, int32_t columns, std::initializer_list<double> values) {
    Matrix *m = makeMatrix(rows, columns);
    int32_t index = 0;
    for (double value : values) {
        m->rowPointers[index / columns][index % columns] = value;
        ++index;
    }
    return m;
}

void expectRowsPointIntoElements(const Matrix *m) {
    for (int32_t i = 0; i < m->rows; ++i) {
        EXPECT_EQ(m->rowPointers[i], m->elements + i * m->columns) << "row " << i;
    }
}

void expectElements(const Matrix *m, std::initializer_list<double> values) {
    int32_t index = 0;
    for (double value : values) {
        EXPECT_EQ(m->rowPointers[index / m->columns][index % m->columns], value) << "entry " << index;
        ++index;
    }
}

TEST(Matrix, MakeGivesZerosWithRowPointersIntoOneBlock) {
    Matrix *m = makeMatrix(3, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, 3);
    EXPECT_EQ(m->columns, 4);
    expectRowsPointIntoElements(m);
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(m->elements[i], 0.0);
    freeMatrix(m);
}

TEST(Matrix, MakeRefusesEmptyShapesAndElementCountsBeyond32Bits) {
    EXPECT_EQ(makeMatrix(0, 3), nullptr);
    EXPECT_EQ(makeMatrix(3, 0), nullptr);
    EXPECT_EQ(makeMatrix(-1, 3), nullptr);
    // 46341² = 2147488281 > 2³¹ − 1; 65536² wraps to 0 in 32 bits.
    EXPECT_EQ(makeMatrix(46341, 46341), nullptr);
    EXPECT_EQ(makeMatrix(65536, 65536), nullptr);
}

TEST(Matrix, ResizeToTheSameShapeKeepsMatrixAndContents) {
    Matrix *m = matrixOf(2, 2, {1, 2, 3, 4});
    double *elements = m->elements;
    Matrix *same = resizeMatrix(m, 2, 2);
    ASSERT_EQ(same, m);
    EXPECT_EQ(same->elements, elements);
    expectElements(same, {1, 2, 3, 4});
    freeMatrix(same);
}

TEST(Matrix, ResizeFollowsTheBufferRule) {
    // Fewer rows: the block shrinks in place and the leading rows survive.
    Matrix *m = matrixOf(3, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    m = resizeMatrix(m, 2, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, 2);
    expectRowsPointIntoElements(m);
    expectElements(m, {1, 2, 3, 4, 5, 6, 7, 8});
    // Same element count, new column count: the block is kept, so the old
    // row-major entries are re-read with the new stride.
    m = resizeMatrix(m, 4, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->columns, 2);
    expectRowsPointIntoElements(m);
    EXPECT_EQ(m->rowPointers[1][0], 3.0);
    EXPECT_EQ(m->rowPointers[3][1], 8.0);
    // Growing gives a usable matrix of the new shape (contents unspecified).
    m = resizeMatrix(m, 30, 7);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, 30);
    EXPECT_EQ(m->columns, 7);
    expectRowsPointIntoElements(m);
    m->rowPointers[29][6] = 1.0;
    freeMatrix(m);
}

TEST(Matrix, ResizeReleasesTheMatrixOnBadShapesButNotAnAbsentOne) {
    // The released matrix is checked by the leak detector of the sanitizer pass.
    EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), 0, 2), nullptr);
    EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), 2, -1), nullptr);
    EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), 65536, 65536), nullptr);
    EXPECT_EQ(resizeMatrix(nullptr, 2, 2), nullptr);
}

TEST(Matrix, CopiesKeepShapeAndElements) {
    Matrix *src = matrixOf(2, 3, {1, -2, 3, 4.5, 5, -6});
    Matrix *copy = copyMatrix(src);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->elements, src->elements);
    EXPECT_EQ(copy->rows, 2);
    EXPECT_EQ(copy->columns, 3);
    expectRowsPointIntoElements(copy);
    expectElements(copy, {1, -2, 3, 4.5, 5, -6});

    Matrix *block = makeMatrix(2, 3);
    fastCopyMatrixDst(block, src);
    expectElements(block, {1, -2, 3, 4.5, 5, -6});

    Matrix *rows = makeMatrix(2, 3);
    powderkit::copyMatrixContents(rows, src);
    expectElements(rows, {1, -2, 3, 4.5, 5, -6});

    EXPECT_EQ(copyMatrix(nullptr), nullptr);
    freeMatrix(nullptr);
    fastCopyMatrixDst(nullptr, src);
    for (Matrix *m : {src, copy, block, rows}) freeMatrix(m);
}

TEST(Matrix, ProductOfHandWorkedMatrices) {
    Matrix *a = matrixOf(2, 2, {1, 2, 3, 4});
    Matrix *b = matrixOf(2, 2, {5, 6, 7, 8});
    Matrix *dst = matrixOf(2, 2, {9, 9, 9, 9});
    multMatricesDst(dst, a, b);
    expectElements(dst, {19, 22, 43, 50});

    Matrix *c = matrixOf(2, 3, {1, 0, 2, -1, 3, 1});
    Matrix *v = matrixOf(3, 1, {3, 2, 1});
    Matrix *cv = powderkit::multMatrices(c, v);
    ASSERT_NE(cv, nullptr);
    EXPECT_EQ(cv->rows, 2);
    EXPECT_EQ(cv->columns, 1);
    expectElements(cv, {5, 4});
    EXPECT_EQ(powderkit::multMatrices(c, c), nullptr);
    EXPECT_EQ(powderkit::multMatrices(nullptr, v), nullptr);
    for (Matrix *m : {a, b, dst, c, v, cv}) freeMatrix(m);
}

TEST(Matrix, ProductSumsInIndexOrder) {
    // 1e16 + 1 rounds back to 1e16 (the spacing of doubles there is 2), so
    // the terms taken in order k = 0, 1, 2 give exactly 0; any other order
    // that adds the 1 last gives 1.
    Matrix *a = matrixOf(1, 3, {1e16, 1.0, -1e16});
    Matrix *b = matrixOf(3, 1, {1, 1, 1});
    Matrix *dst = makeMatrix(1, 1);
    multMatricesDst(dst, a, b);
    EXPECT_EQ(dst->elements[0], 0.0);
    for (Matrix *m : {a, b, dst}) freeMatrix(m);
}

TEST(Matrix, ProductAndTransposeLeaveMismatchedDestinationsAlone) {
    Matrix *a = matrixOf(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix *b = matrixOf(2, 3, {1, 1, 1, 1, 1, 1});
    Matrix *square = matrixOf(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    Matrix *dst = matrixOf(2, 3, {7, 7, 7, 7, 7, 7});
    multMatricesDst(dst, a, b);  // inner dimensions 3 ≠ 2
    expectElements(dst, {7, 7, 7, 7, 7, 7});
    Matrix *wrong = matrixOf(3, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7});
    multMatricesDst(wrong, a, square);  // a·square is 2 × 3, not 3 × 3
    expectElements(wrong, {7, 7, 7, 7, 7, 7, 7, 7, 7});
    multMatricesDst(nullptr, a, square);
    multMatricesDst(wrong, nullptr, square);
    multMatricesDst(wrong, square, nullptr);

    transposeMatrixDst(dst, a);  // dst is 2 × 3, the transpose is 3 × 2
    expectElements(dst, {7, 7, 7, 7, 7, 7});
    Matrix *t = makeMatrix(3, 2);
    transposeMatrixDst(t, a);
    expectElements(t, {1, 4, 2, 5, 3, 6});
    transposeMatrixDst(t, nullptr);
    transposeMatrixDst(nullptr, a);
    for (Matrix *m : {a, b, dst, square, wrong, t}) freeMatrix(m);
}

TEST(Matrix, SubtractionIsElementwise) {
    Matrix *dst = matrixOf(2, 2, {5, 5, 5, 5});
    Matrix *src = matrixOf(2, 2, {1, 2, 3, 4.5});
    subFromMatrix(dst, src);
    expectElements(dst, {4, 3, 2, 0.5});
    subFromMatrix(dst, nullptr);
    subFromMatrix(nullptr, src);
    freeMatrix(dst);
    freeMatrix(src);
}

TEST(Matrix, AllocationFailuresGiveNullAndLeakNothing) {
    const auto expectNullOnFailure = [](Matrix *m, bool failed) {
        EXPECT_EQ(m == nullptr, failed);
        if (m != nullptr) expectRowsPointIntoElements(m);
        freeMatrix(m);
    };
    EXPECT_EQ(pk_test::forEachFailedAllocation([] { return makeMatrix(3, 4); }, expectNullOnFailure), 4);
    Matrix *src = matrixOf(2, 2, {1, 2, 3, 4});
    Matrix *b = matrixOf(2, 1, {1, 1});
    pk_test::forEachFailedAllocation([src] { return copyMatrix(src); }, expectNullOnFailure);
    pk_test::forEachFailedAllocation([src, b] { return powderkit::multMatrices(src, b); },
                                     expectNullOnFailure);
    freeMatrix(src);
    freeMatrix(b);
    // Growing, shrinking and reshaping take two allocations after the three
    // of the matrix: a failure of either releases the matrix given.
    for (auto shape : {std::pair<int32_t, int32_t>{5, 6}, {1, 2}, {2, 3}}) {
        const long runs = pk_test::forEachFailedAllocation(
            [shape] { return resizeMatrix(makeMatrix(3, 3), shape.first, shape.second); },
            expectNullOnFailure);
        EXPECT_EQ(runs, 6);
    }
}

}  // namespace
