// Inverse of a square matrix by Gauss–Jordan elimination with partial
// pivoting on the augmented matrix [src | I]. Rows are exchanged by swapping
// row pointers. The absolute bound 1e-7 is both the singularity test of a
// pivot and the cut below which an above-diagonal multiplier of the backward
// pass is left alone (its row is then not reduced by it).
#include <cmath>

#include "frame/frame.hpp"
#include "linalg/linalg.hpp"

namespace powderkit {

namespace {

// Reduces W = [A | I] to [I | A⁻¹]; false (with the message) on a small pivot.
bool eliminate(Matrix *w, int32_t order) {
    const int32_t width = w->columns;
    for (int32_t k = 0; k < w->rows && k < width; ++k) {
        int32_t best = k;
        double bestValue = std::fabs(w->rowPointers[k][k]);
        for (int32_t r = k + 1; r < w->rows; ++r) {
            const double candidate = std::fabs(w->rowPointers[r][k]);
            if (candidate > bestValue) {
                best = r;
                bestValue = candidate;
            }
        }
        if (bestValue < kInversePivotThreshold) {
            printToStandardOutput("The matrix is not invertible.\n");
            return false;
        }
        if (best != k) {
            double *swap = w->rowPointers[k];
            w->rowPointers[k] = w->rowPointers[best];
            w->rowPointers[best] = swap;
        }
        double *pivotRow = w->rowPointers[k];
        const double pivot = pivotRow[k];
        for (int32_t r = k + 1; r < w->rows; ++r) {
            double *row = w->rowPointers[r];
            const double factor = row[k] / pivot;
            row[k] = 0.0;
            for (int32_t c = k + 1; c < width; ++c) row[c] = row[c] - factor * pivotRow[c];
        }
        pivotRow[k] = 1.0;
        for (int32_t c = k + 1; c < width; ++c) pivotRow[c] = pivotRow[c] / pivot;
    }
    for (int32_t j = 1; j < order; ++j) {
        const double *pivotRow = w->rowPointers[j];
        for (int32_t r = 0; r < j; ++r) {
            double *row = w->rowPointers[r];
            const double factor = row[j];
            if (std::fabs(factor) < kInversePivotThreshold) continue;
            row[j] = 0.0;
            for (int32_t c = j + 1; c < width; ++c) row[c] = row[c] - factor * pivotRow[c];
        }
    }
    return true;
}

}  // namespace

}  // namespace powderkit

extern "C" {

// dst = src⁻¹. False without a message when src is missing or not square (or
// dst is missing or not of src's shape: dst is then untouched); false with
// "The matrix is not invertible." on standard output when a pivot falls below
// 1e-7, dst then holding the identity, as it does when memory runs out.
bool inverseMatrixDst(Matrix *dst, const Matrix *src) {
    using namespace powderkit;
    if (src == nullptr || src->rows != src->columns) return false;
    if (dst == nullptr || dst->rows != src->rows || dst->columns != src->columns) return false;
    const int32_t n = dst->rows;
    for (int32_t i = 0; i < n; ++i) {
        double *row = dst->rowPointers[i];
        for (int32_t j = 0; j < dst->columns; ++j) row[j] = 0.0;
        row[i] = 1.0;
    }
    Matrix *w = makeMatrix(src->rows, addInt32(src->columns, dst->columns));
    if (w == nullptr) return false;
    for (int32_t i = 0; i < w->rows; ++i) {
        double *row = w->rowPointers[i];
        for (int32_t j = 0; j < src->columns; ++j) row[j] = src->rowPointers[i][j];
        for (int32_t j = 0; j < dst->columns; ++j) row[src->columns + j] = dst->rowPointers[i][j];
    }
    const bool inverted = eliminate(w, src->columns);
    if (inverted) {
        for (int32_t i = 0; i < n; ++i) {
            for (int32_t j = 0; j < n; ++j) dst->rowPointers[i][j] = w->rowPointers[i][n + j];
        }
    }
    freeMatrix(w);
    return inverted;
}

}  // extern "C"
