// Dense matrices, the Gauss–Jordan inverse's pivoting and skip rules, the least-squares record, statistics: by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>

#include "linalg/linalg.hpp"
#include "support/output_capture.hpp"
#include "support/tolerances.hpp"

namespace {

using powderkit::makeMatrix, powderkit::resizeMatrix;

Matrix *matrixOf(int32_t rows, int32_t columns, std::vector<double> values) {
    Matrix *m = makeMatrix(rows, columns);
    std::copy(values.begin(), values.end(), m->elements);
    return m;
}

void expectMatrix(const Matrix *m, int32_t rows, int32_t columns, std::vector<double> values, double tolerance = 0.0) {
    ASSERT_TRUE(m != nullptr && m->rows == rows && m->columns == columns);
    for (int32_t i = 0; i < rows; ++i) EXPECT_EQ(m->rowPointers[i], m->elements + i * columns) << i;
    for (std::size_t k = 0; k < values.size(); ++k)
        EXPECT_NEAR(m->rowPointers[k / columns][k % columns], values[k], tolerance) << k;
}

TEST(Matrix, MakeResizeCopyAndArithmeticByHand) {
    Matrix *m = makeMatrix(3, 4);
    expectMatrix(m, 3, 4, std::vector<double>(12, 0.0));
    std::iota(m->elements, m->elements + 12, 1.0);
    EXPECT_EQ(resizeMatrix(m, 3, 4), m);
    expectMatrix(m = resizeMatrix(m, 2, 4), 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});  // fewer rows keep the leading rows
    expectMatrix(m = resizeMatrix(m, 4, 2), 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});  // new columns re-read the entries
    expectMatrix(m = resizeMatrix(m, 30, 7), 30, 7, {});  // grown: contents unspecified
    Matrix *src = matrixOf(2, 3, {1, -2, 3, 4.5, 5, -6}), *v = matrixOf(3, 1, {3, 2, 1}), *square = makeMatrix(3, 3);
    Matrix *copy = copyMatrix(src), *fast = makeMatrix(2, 3), *rows = makeMatrix(2, 3), *t = makeMatrix(3, 2);
    fastCopyMatrixDst(fast, src);
    powderkit::copyMatrixContents(rows, src);
    transposeMatrixDst(t, src);
    EXPECT_EQ(powderkit::multMatrices(src, src), nullptr);  // mismatched shapes write nothing: 3 ≠ 2
    multMatricesDst(copy, src, src);
    multMatricesDst(t, src, v);  // src·v is 2 × 1
    transposeMatrixDst(fast, src);  // the transpose is 3 × 2
    EXPECT_EQ(pk_test::captureStdout([&] { EXPECT_FALSE(inverseMatrixDst(t, t) || inverseMatrixDst(t, square)); }), "");
    for (const Matrix *c : {copy, fast, rows}) expectMatrix(c, 2, 3, {1, -2, 3, 4.5, 5, -6});
    expectMatrix(t, 3, 2, {1, 4.5, -2, 5, 3, -6});
    Matrix *a = matrixOf(2, 2, {1, 2, 3, 4}), *b = matrixOf(2, 2, {5, 6, 7, 8}), *dst = matrixOf(2, 2, {9, 9, 9, 9});
    multMatricesDst(dst, a, b);
    expectMatrix(dst, 2, 2, {19, 22, 43, 50});
    subFromMatrix(dst, b);
    expectMatrix(dst, 2, 2, {14, 16, 36, 42});
    Matrix *sv = powderkit::multMatrices(src, v);
    expectMatrix(sv, 2, 1, {2, 17.5});
    Matrix *row = matrixOf(1, 3, {7, 8, 9}), *column = makeMatrix(3, 1);
    transposeMatrixDst(column, row);  // a single row has a transpose too
    expectMatrix(column, 3, 1, {7, 8, 9});
    for (Matrix *x : {m, src, v, square, copy, fast, rows, t, a, b, dst, sv, row, column}) freeMatrix(x);
    const std::array<int32_t, 2> shapes[] = {{0, 3}, {3, 0}, {-1, 3}, {46341, 46341}, {65536, 65536}, {65537, 65537}};
    for (const auto &shape : shapes) {  // 46341² overflows 32 bits; 65536² wraps to 0 and 65537² to 131073
        EXPECT_EQ(makeMatrix(shape[0], shape[1]), nullptr);
        EXPECT_EQ(resizeMatrix(makeMatrix(2, 2), shape[0], shape[1]), nullptr);  // the matrix given released
    }
}

TEST(MatrixInverse, HandWorkedInverses) {
    const double eps = (1 + 2e-7) - 1, seventh = 1.0 / 7.0, d = 1 / (1 - 5e-8);  // eps: 1 + 2e-7 as stored, less 1
    const struct { int32_t order; std::vector<double> source, inverse; double tolerance; } cases[] = {
        {2, {1e-8, 0, 0, 1e-8}, {}, 0},  // refused, identity left: the bound is absolute, not relative
        {3, {0, 1, 0, 0, 0, 4, 2, 1, 0}, {-0.5, 0, 0.5, 1, 0, 0, 0, 0.25, 0}, 0},  // rows 0↔2, 1↔2, the larger wins
        {3, {1, 2, 0, 3, 1, 1, 0, 4, 2}, {seventh, 2 * seventh, -seventh, 3 * seventh, -seventh, seventh / 2,
                                          -6 * seventh, 2 * seventh, 2.5 * seventh}, pk_test::kRoundOff},  // cofactors
        {2, {1, 1, 1, 1 + 9e-8}, {}, 0},  // [[1, 1], [1, 1 + ε]] leaves the pivot ε: refused below 1e-7, accepted above
        {2, {1, 1, 1, 1 + 2e-7}, {(1 + eps) / eps, -1 / eps, -1 / eps, 1 / eps}, 1e-6 / eps},
        {2, {1, 5e-8, 0, 1}, {1, 0, 0, 1}, 0}, {2, {1, 2e-7, 0, 1}, {1, -2e-7, 0, 1}, 0},  // a multiplier below 1e-7
        {2, {1, 5e-8, 1, 1}, {1, 0, -d, d}, 0}};  // a pivot tie keeps the earlier row (5e-8 skipped)
    for (const auto &c : cases) {
        Matrix *src = matrixOf(c.order, c.order, c.source), *dst = makeMatrix(c.order, c.order);
        bool ok = false;
        const std::string printed = pk_test::captureStdout([&] { ok = inverseMatrixDst(dst, src); });
        EXPECT_EQ(printed, ok ? "" : "The matrix is not invertible.\n");
        EXPECT_EQ(ok, !c.inverse.empty()) << c.source[0];
        expectMatrix(dst, c.order, c.order, ok ? c.inverse : std::vector<double>{1, 0, 0, 1}, c.tolerance);
        for (Matrix *m : {src, dst}) freeMatrix(m);
    }
}

bool prepared(LeastSquaresMatrices *ls, int32_t n, int32_t p) {  // the eleven matrices shaped, cycle values reset
    const struct { const Matrix *m; int32_t rows, columns; } shapes[] = {
        {ls->jacobian, n, p}, {ls->jacobianTransposed, p, n}, {ls->normalMatrix, p, p}, {ls->covariance, p, p},
        {ls->correlations, p, p}, {ls->parameterColumn1, p, 1}, {ls->parameterColumn2, p, 1},
        {ls->observationColumn1, n, 1}, {ls->observationColumn2, n, 1}, {ls->observationColumn3, n, 1},
        {ls->observationColumn4, n, 1}};
    bool ok = ls->standardErrors != nullptr && ls->observationCount == n && ls->parameterCount == p;
    for (const auto &s : shapes) ok = ok && s.m && s.m->rows == s.rows && s.m->columns == s.columns;
    ok = ok && ls->cycleValue1 == 0.01 && ls->cycleValue2 == 2.0 && ls->cycleFlag == 1;
    ls->cycleValue1 = ls->cycleValue2 = -1.0, ls->cycleFlag = 0;
    return ok;
}

TEST(LeastSquares, PreparationMakesKeepsAndResizes) {
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    EXPECT_FALSE(prepareForRefinementCycle(ls, 0, 3) || prepareForRefinementCycle(ls, 5, -2));
    EXPECT_TRUE(ls->jacobian == nullptr && ls->parameterCount == 0 && ls->cycleFlag == 0);  // nothing changed
    ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3) && prepared(ls, 7, 3));
    Matrix *jacobian = ls->jacobian;  // same counts keep every block; new N the errors; fewer P their leading ones
    std::tie(jacobian->rowPointers[6][2], ls->standardErrors[1]) = std::make_tuple(8.5, 2.5);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3) && prepared(ls, 7, 3) && jacobian->rowPointers[6][2] == 8.5);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 3) && prepared(ls, 25, 3) && ls->standardErrors[1] == 2.5);
    ASSERT_TRUE(prepareForRefinementCycle(ls, 25, 2) && prepared(ls, 25, 2) && ls->standardErrors[1] == 2.5);
    freeLeastSquaresMatrices(ls);
    std::free(ls);
}

// A covariance of diagonal 4, 9, 16 and off-diagonal 3, −2, 6: errors 2, 3, 4, correlations c_ij/(σ_i σ_j).
TEST(LeastSquares, ErrorsAndCorrelationsFromTheCovariance) {
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    ASSERT_TRUE(prepareForRefinementCycle(ls, 5, 3));
    const double covariance[9] = {4, 3, -2, 3, 9, 6, -2, 6, 16};
    std::copy(covariance, covariance + 9, ls->covariance->elements);
    EXPECT_EQ(pk_test::captureStdout([&] { ASSERT_TRUE(calculateParameterCorrelationsAndErrors(ls)); }), "");
    EXPECT_TRUE(ls->standardErrors[0] == 2.0 && ls->standardErrors[1] == 3.0 && ls->standardErrors[2] == 4.0);
    const double expected[9] = {1, 0.5, -0.25, 0.5, 1, 0.5, -0.25, 0.5, 1};
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(ls->correlations->elements[i], expected[i], pk_test::kExact) << i;
    for (const double bad : {0.0, std::nan("")}) {  // the errors before it written, correlations untouched
        std::tie(ls->covariance->rowPointers[1][1], ls->standardErrors[0], ls->correlations->elements[1]) =
            std::make_tuple(bad, 0.0, 7.0);
        bool ok = true;
        const std::string printed = pk_test::captureStdout([&] { ok = calculateParameterCorrelationsAndErrors(ls); });
        EXPECT_EQ(printed, "Negative covariance diagonal encountered!\n");
        EXPECT_TRUE(!ok && ls->standardErrors[0] == 2.0 && ls->correlations->elements[1] == 7.0) << bad;
    }
    freeLeastSquaresMatrices(ls);
    std::free(ls);
}

TEST(Statistics, SumsResidualsAndPercentagesByHand) {
    const double values[3] = {1, 2, 3}, w3[3] = {1, 1, 0.5};
    EXPECT_TRUE(calculateWeightedSumSquares(values, w3, 3) == 9.5 && calculateSumValues(values, 2) == 3.0);  // 1+4+4.5
    // Residuals 1, −2, 3, −4, 5, weights 1, .5, 2, .25, 1: χ² = 50, Rp = 100·15/50; a 3 × 4 matrix takes 4: 25, 20.
    const double observed[12] = {11, 8, 13, 6, 15, 16, 17, 18, 19, 20, 21, 22}, calculated[12] = {10, 10, 10, 10, 10};
    const double weights[12] = {1, 0.5, 2, 0.25, 1, 100, 100, 100, 100, 100, 100, 100};
    for (const auto &c : std::vector<std::array<int32_t, 5>>{{5, 1, 5, 50, 30}, {1, 5, 5, 50, 30}, {3, 4, 4, 25, 20}}) {
        Matrix *r = powderkit::makeMatrix(c[0], c[1]);
        std::fill(r->elements, r->elements + c[0] * c[1], 99.0);
        updateResidualsVector(r, observed, calculated);
        for (int32_t i = 0; i < c[0] * c[1]; ++i) EXPECT_EQ(r->elements[i], i < c[2] ? observed[i] - 10 : 99.0) << i;
        EXPECT_TRUE(calculateChi2(r, weights) == c[3] && calculateProfileResidual(r, 50.0) == c[4]) << c[0];
        freeMatrix(r);
    }
    EXPECT_TRUE(calculateGoodnessOfFit(50.0, 110, 10) == 0.5 && calculateWeightedProfileResidual(1.0, 100.0) == 10.0);
    EXPECT_EQ(calculateExpectedProfileResidual(101, 1, 10000.0), 10.0);  // Rexp = 100 √((N − P)/Σwy²)
    EXPECT_TRUE(std::isinf(calculateGoodnessOfFit(1.0, 4, 4)));  // (Rwp/Rexp)² = χ²/(N − P): N = P divides by 0
}

}  // namespace
