// Dense matrices: creation and its limits, resizing by the buffer rule, copies,
// product, difference and transpose, and refusals (allocation failure is swept
// in tests/reliability).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

#include "linalg/linalg.hpp"

namespace {

using powderkit::makeMatrix;
using powderkit::resizeMatrix;

Matrix *matrixOf(int32_t rows, int32_t columns, std::initializer_list<double> values) {
    Matrix *m = makeMatrix(rows, columns);
    std::copy(values.begin(), values.end(), m->elements);
    return m;
}

// The shape, the row pointers into the one block, and the leading entries read through the rows.
void expectMatrix(const Matrix *m, int32_t rows, int32_t columns, std::initializer_list<double> values) {
    ASSERT_TRUE(m != nullptr && m->rows == rows && m->columns == columns);
    for (int32_t i = 0; i < rows; ++i) EXPECT_EQ(m->rowPointers[i], m->elements + i * columns) << i;
    for (std::size_t k = 0; k < values.size(); ++k) {
        EXPECT_EQ(m->rowPointers[k / columns][k % columns], values.begin()[k]) << "entry " << k;
    }
}

TEST(Matrix, MakeResizeAndCopy) {
    Matrix *m = makeMatrix(3, 4);
    expectMatrix(m, 3, 4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    std::iota(m->elements, m->elements + 12, 1.0);
    double *block = m->elements;
    ASSERT_EQ(resizeMatrix(m, 3, 4), m);  // same shape: same block, contents intact
    EXPECT_EQ(m->elements, block);
    // Fewer rows shrink in place keeping the leading rows; the same count with
    // new columns re-reads the old row-major entries with the new stride.
    expectMatrix(m = resizeMatrix(m, 2, 4), 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    expectMatrix(m = resizeMatrix(m, 4, 2), 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    expectMatrix(m = resizeMatrix(m, 30, 7), 30, 7, {});  // grown: contents unspecified
    m->rowPointers[29][6] = 1.0;
    Matrix *src = matrixOf(2, 3, {1, -2, 3, 4.5, 5, -6});
    Matrix *copy = copyMatrix(src), *block2 = makeMatrix(2, 3), *rows = makeMatrix(2, 3);
    fastCopyMatrixDst(block2, src);
    powderkit::copyMatrixContents(rows, src);
    EXPECT_NE(copy->elements, src->elements);
    for (const Matrix *c : {copy, block2, rows}) expectMatrix(c, 2, 3, {1, -2, 3, 4.5, 5, -6});
    for (Matrix *c : {m, src, copy, block2, rows}) freeMatrix(c);
}

TEST(Matrix, ProductDifferenceAndTransposeByHand) {
    Matrix *a = matrixOf(2, 2, {1, 2, 3, 4}), *b = matrixOf(2, 2, {5, 6, 7, 8});
    Matrix *dst = matrixOf(2, 2, {9, 9, 9, 9});
    multMatricesDst(dst, a, b);
    expectMatrix(dst, 2, 2, {19, 22, 43, 50});
    subFromMatrix(dst, b);
    expectMatrix(dst, 2, 2, {14, 16, 36, 42});
    Matrix *c = matrixOf(2, 3, {1, 0, 2, -1, 3, 1}), *v = matrixOf(3, 1, {3, 2, 1});
    Matrix *cv = powderkit::multMatrices(c, v), *t = makeMatrix(3, 2);
    expectMatrix(cv, 2, 1, {5, 4});
    transposeMatrixDst(t, c);
    expectMatrix(t, 3, 2, {1, -1, 0, 3, 2, 1});
    // 1 + 1e16 rounds to 1e16: summed in index order the terms give 0, backwards 1.
    Matrix *big = matrixOf(1, 3, {1.0, 1e16, -1e16}), *ones = matrixOf(3, 1, {1, 1, 1});
    multMatricesDst(dst = resizeMatrix(dst, 1, 1), big, ones);
    EXPECT_EQ(dst->elements[0], 0.0);
    for (Matrix *m : {a, b, dst, c, v, cv, t, big, ones}) freeMatrix(m);
}

TEST(Matrix, NullAndBadArgumentsChangeNothing) {
    // 46341² overflows 32 bits; 65536² wraps to 0 and 65537² to 131073. A failed resize
    // releases the matrix given (the sanitizer pass checks for leaks).
    const std::array<int32_t, 2> shapes[] = {
        {0, 3}, {3, 0}, {-1, 3}, {46341, 46341}, {65536, 65536}, {65537, 65537}};
    for (const auto &shape : shapes) {
        EXPECT_EQ(makeMatrix(shape[0], shape[1]), nullptr);
        EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), shape[0], shape[1]), nullptr);
    }
    EXPECT_EQ(resizeMatrix(nullptr, 2, 2), nullptr);
    EXPECT_EQ(copyMatrix(nullptr), nullptr);
    freeMatrix(nullptr);
    Matrix *a = matrixOf(2, 3, {1, 2, 3, 4, 5, 6}), *square = makeMatrix(3, 3);
    EXPECT_EQ(powderkit::multMatrices(a, a), nullptr);
    EXPECT_EQ(powderkit::multMatrices(nullptr, a), nullptr);
    Matrix *dst = matrixOf(2, 3, {7, 7, 7, 7, 7, 7}), *wrong = matrixOf(3, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7});
    multMatricesDst(dst, a, a);         // inner dimensions 3 ≠ 2
    multMatricesDst(wrong, a, square);  // a·square is 2 × 3
    transposeMatrixDst(dst, a);         // the transpose is 3 × 2
    multMatricesDst(nullptr, a, square);
    multMatricesDst(dst, nullptr, square);
    multMatricesDst(dst, a, nullptr);
    transposeMatrixDst(dst, nullptr);
    transposeMatrixDst(nullptr, a);
    fastCopyMatrixDst(nullptr, a);
    expectMatrix(dst, 2, 3, {7, 7, 7, 7, 7, 7});
    expectMatrix(wrong, 3, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7});
    for (Matrix *m : {a, square, dst, wrong}) freeMatrix(m);
}

}  // namespace
