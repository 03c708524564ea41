// Matrix product, difference and transpose. The product sums each element in
// index order from 0.0 in the destination element itself,
//   dst(i, j) = a(i, k)·b(k, j) + dst(i, j),  k = 0 … a.columns − 1,
// so its rounding is fixed; the loops run row by row over b (i, k, j) for the
// cache, which adds exactly the same terms to each element in the same order.
#include "linalg/linalg.hpp"

namespace powderkit {

namespace {

void multiplyInto(Matrix *dst, const Matrix *a, const Matrix *b) {
    for (int32_t i = 0; i < dst->rows; ++i) {
        double *target = dst->rowPointers[i];
        for (int32_t j = 0; j < dst->columns; ++j) target[j] = 0.0;
        const double *left = a->rowPointers[i];
        for (int32_t k = 0; k < a->columns; ++k) {
            const double factor = left[k];
            const double *right = b->rowPointers[k];
            for (int32_t j = 0; j < dst->columns; ++j) target[j] = factor * right[j] + target[j];
        }
    }
}

}  // namespace

Matrix *multMatrices(const Matrix *a, const Matrix *b) {
    if (a == nullptr || b == nullptr || a->columns != b->rows) return nullptr;
    Matrix *product = makeMatrix(a->rows, b->columns);
    if (product == nullptr) return nullptr;
    multiplyInto(product, a, b);
    return product;
}

}  // namespace powderkit

extern "C" {

// dst = a·b; nothing happens unless all three exist and the shapes fit.
void multMatricesDst(Matrix *dst, const Matrix *a, const Matrix *b) {
    if (dst == nullptr || a == nullptr || b == nullptr) return;
    if (a->columns != b->rows || dst->rows != a->rows || dst->columns != b->columns) return;
    powderkit::multiplyInto(dst, a, b);
}

// dst(i, j) −= src(i, j) over dst's shape; src must be at least as large.
void subFromMatrix(Matrix *dst, const Matrix *src) {
    if (dst == nullptr || src == nullptr) return;
    for (int32_t i = 0; i < dst->rows; ++i) {
        double *target = dst->rowPointers[i];
        const double *source = src->rowPointers[i];
        for (int32_t j = 0; j < dst->columns; ++j) target[j] = target[j] - source[j];
    }
}

// dst(j, i) = src(i, j); nothing happens unless dst has the swapped shape.
void transposeMatrixDst(Matrix *dst, const Matrix *src) {
    if (dst == nullptr || src == nullptr) return;
    if (dst->rows != src->columns || dst->columns != src->rows || src->rows < 1) return;
    for (int32_t i = 0; i < src->rows; ++i) {
        const double *source = src->rowPointers[i];
        for (int32_t j = 0; j < src->columns; ++j) dst->rowPointers[j][i] = source[j];
    }
}

}  // extern "C"
