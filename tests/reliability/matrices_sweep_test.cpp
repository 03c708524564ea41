// Allocation failures in the matrices and the least-squares record: copy and
// product give NULL with their inputs intact, resize releases the matrix it
// was given, the inverse gives false with the identity in dst, and a failed
// preparation gives false and leaves a record that can still be released.
#include <gtest/gtest.h>

#include <cstdlib>

#include "linalg/linalg.hpp"
#include "support/output_capture.hpp"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

// The 3 × 3 matrix [[4 1 0] [1 3 1] [0 1 2]], whose inverse by hand (det 18,
// adjugate over it) is [[5 −2 1] [−2 8 −4] [1 −4 11]] / 18.
Matrix *spdMatrix() {
    Matrix *m = powderkit::makeMatrix(3, 3);
    const double values[9] = {4, 1, 0, 1, 3, 1, 0, 1, 2};
    for (int i = 0; i < 9; ++i) m->elements[i] = values[i];
    return m;
}

void expectSpd(const Matrix *m) {
    const double values[9] = {4, 1, 0, 1, 3, 1, 0, 1, 2};
    ASSERT_EQ(m->rows, 3);
    ASSERT_EQ(m->columns, 3);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) EXPECT_EQ(m->rowPointers[i][j], values[3 * i + j]);
    }
}

TEST(MatrixSweep, CopyAndProductGiveNullWithTheirInputsIntact) {
    sweepAllocations("copyMatrix", [](Trial &t) {
        Matrix *src = spdMatrix();
        Matrix *copy = nullptr;
        t.run([&] { copy = copyMatrix(src); });
        EXPECT_EQ(copy == nullptr, t.failed());
        expectSpd(src);
        if (copy != nullptr) expectSpd(copy);
        freeMatrix(copy);
        freeMatrix(src);
    });
    sweepAllocations("multMatrices", [](Trial &t) {
        Matrix *a = spdMatrix();
        Matrix *product = nullptr;
        t.run([&] { product = powderkit::multMatrices(a, a); });
        EXPECT_EQ(product == nullptr, t.failed());
        expectSpd(a);
        if (product != nullptr) {
            EXPECT_EQ(product->rowPointers[1][1], 1.0 + 9.0 + 1.0);
        }
        freeMatrix(product);
        freeMatrix(a);
    });
}

TEST(MatrixSweep, ResizeReleasesTheMatrixWhenItFails) {
    // Growing takes fresh blocks; shrinking reallocates in place.
    for (int32_t rows : {5, 2}) {
        sweepAllocations(rows > 3 ? "resizeMatrix (grow)" : "resizeMatrix (shrink)", [&](Trial &t) {
            Matrix *m = spdMatrix();
            Matrix *resized = nullptr;
            t.run([&] { resized = powderkit::resizeMatrix(m, rows, 3); });
            EXPECT_EQ(resized == nullptr, t.failed());
            if (resized != nullptr) {  // the same record, every row reachable
                EXPECT_EQ(resized, m);
                EXPECT_EQ(resized->rows, rows);
                for (int32_t i = 0; i < rows; ++i) {
                    EXPECT_EQ(resized->rowPointers[i], resized->elements + 3 * i);
                }
            }
            freeMatrix(resized);  // on failure m is already released
        });
    }
}

TEST(MatrixSweep, InverseGivesFalseAndTheIdentityWhenMemoryRunsOut) {
    sweepAllocations("inverseMatrixDst", [](Trial &t) {
        Matrix *src = spdMatrix();
        Matrix *dst = powderkit::makeMatrix(3, 3);
        bool inverted = false;
        t.run([&] { inverted = inverseMatrixDst(dst, src); });
        EXPECT_EQ(inverted, !t.failed());
        expectSpd(src);
        const double inverse[9] = {5, -2, 1, -2, 8, -4, 1, -4, 11};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double expected = inverted ? inverse[3 * i + j] / 18.0 : (i == j ? 1.0 : 0.0);
                EXPECT_NEAR(dst->rowPointers[i][j], expected, 1e-14) << i << j;
            }
        }
        freeMatrix(dst);
        freeMatrix(src);
    });
}

void expectShape(const Matrix *m, int32_t rows, int32_t columns) {
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, rows);
    EXPECT_EQ(m->columns, columns);
}

TEST(MatrixSweep, FailedPreparationGivesFalseAndARecordThatCanBeReleased) {
    sweepAllocations("prepareForRefinementCycle (first)", [](Trial &t) {
        LeastSquaresMatrices *ls = makeRefinementMatrices();
        bool prepared = false;
        t.run([&] { prepared = prepareForRefinementCycle(ls, 7, 3); });
        EXPECT_EQ(prepared, !t.failed());
        if (prepared) {
            expectShape(ls->jacobian, 7, 3);
            expectShape(ls->covariance, 3, 3);
        }
        freeLeastSquaresMatrices(ls);
        std::free(ls);
    });
    sweepAllocations("prepareForRefinementCycle (again, grown)", [](Trial &t) {
        LeastSquaresMatrices *ls = makeRefinementMatrices();
        ASSERT_TRUE(prepareForRefinementCycle(ls, 7, 3));
        bool prepared = false;
        t.run([&] { prepared = prepareForRefinementCycle(ls, 11, 4); });
        EXPECT_EQ(prepared, !t.failed());
        if (prepared) {
            expectShape(ls->jacobian, 11, 4);
            expectShape(ls->observationColumn4, 11, 1);
            ASSERT_NE(ls->standardErrors, nullptr);
        }
        freeLeastSquaresMatrices(ls);
        std::free(ls);
    });
}

}  // namespace
