// Storage of the dense matrix: one zero-filled block of row-major elements and
// an array of row pointers into it, created, resized (by the buffer rule),
// copied and released. All element access outside the block copy goes through
// the row pointers, so that rows can be exchanged by swapping pointers.
#include <cstdlib>
#include <cstring>

#include "linalg/linalg.hpp"

namespace powderkit {

namespace {

// rows·columns as a count of doubles, or −1 when it does not fit in 32 bits.
int64_t elementCount(int32_t rows, int32_t columns) {
    const int64_t count = static_cast<int64_t>(rows) * static_cast<int64_t>(columns);
    return count > INT32_MAX ? -1 : count;
}

void pointRowsIntoElements(Matrix *m) {
    for (int32_t i = 0; i < m->rows; ++i) {
        m->rowPointers[i] = m->elements + static_cast<std::ptrdiff_t>(i) * m->columns;
    }
}

}  // namespace

Matrix *makeMatrix(int32_t rows, int32_t columns) {
    if (rows < 1 || columns < 1) return nullptr;
    const int64_t count = elementCount(rows, columns);
    if (count < 0) return nullptr;
    auto *m = static_cast<Matrix *>(std::calloc(1, sizeof(Matrix)));
    if (m == nullptr) return nullptr;
    m->elements = static_cast<double *>(std::calloc(static_cast<std::size_t>(count), sizeof(double)));
    if (m->elements == nullptr) {
        std::free(m);
        return nullptr;
    }
    m->rowPointers = static_cast<double **>(std::malloc(static_cast<std::size_t>(rows) * sizeof(double *)));
    if (m->rowPointers == nullptr) {
        std::free(m->elements);
        std::free(m);
        return nullptr;
    }
    m->rows = rows;
    m->columns = columns;
    pointRowsIntoElements(m);
    return m;
}

void *resizeBuffer(void *block, std::size_t oldBytes, std::size_t newBytes) {
    if (newBytes == oldBytes) return block;
    if (newBytes > oldBytes) {
        void *fresh = std::malloc(newBytes);
        if (fresh == nullptr) return nullptr;
        std::free(block);
        return fresh;
    }
    return std::realloc(block, newBytes);
}

Matrix *resizeMatrix(Matrix *m, int32_t rows, int32_t columns) {
    if (m == nullptr) return nullptr;
    const int64_t newCount = elementCount(rows, columns);
    if (rows < 1 || columns < 1 || newCount < 0) {
        freeMatrix(m);
        return nullptr;
    }
    const int32_t oldRows = m->rows;
    const int32_t oldColumns = m->columns;
    m->rows = rows;
    m->columns = columns;
    if (rows == oldRows && columns == oldColumns) return m;

    const std::size_t oldCount = static_cast<std::size_t>(elementCount(oldRows, oldColumns));
    void *elements = resizeBuffer(m->elements, oldCount * sizeof(double),
                                  static_cast<std::size_t>(newCount) * sizeof(double));
    if (elements == nullptr) {
        freeMatrix(m);
        return nullptr;
    }
    m->elements = static_cast<double *>(elements);
    void *rowPointers = resizeBuffer(m->rowPointers, static_cast<std::size_t>(oldRows) * sizeof(double *),
                                     static_cast<std::size_t>(rows) * sizeof(double *));
    if (rowPointers == nullptr) {
        freeMatrix(m);
        return nullptr;
    }
    m->rowPointers = static_cast<double **>(rowPointers);
    pointRowsIntoElements(m);
    return m;
}

void copyMatrixContents(Matrix *dst, const Matrix *src) {
    if (dst == nullptr || src == nullptr || src->columns < 1) return;
    for (int32_t i = 0; i < dst->rows; ++i) {
        std::memcpy(dst->rowPointers[i], src->rowPointers[i],
                    static_cast<std::size_t>(src->columns) * sizeof(double));
    }
}

}  // namespace powderkit

extern "C" {

// Releases the elements, then the row pointers, then the record.
void freeMatrix(Matrix *m) {
    if (m == nullptr) return;
    std::free(m->elements);
    std::free(m->rowPointers);
    std::free(m);
}

// A new matrix of src's shape, filled row by row; the caller owns it.
Matrix *copyMatrix(const Matrix *src) {
    if (src == nullptr) return nullptr;
    Matrix *copy = powderkit::makeMatrix(src->rows, src->columns);
    if (copy == nullptr) return nullptr;
    powderkit::copyMatrixContents(copy, src);
    return copy;
}

// One block copy of src.rows·src.columns elements; dst must hold as many.
void fastCopyMatrixDst(Matrix *dst, const Matrix *src) {
    if (dst == nullptr || src == nullptr || src->rows < 1 || src->columns < 1) return;
    std::memcpy(dst->elements, src->elements,
                static_cast<std::size_t>(src->rows) * static_cast<std::size_t>(src->columns) *
                    sizeof(double));
}

}  // extern "C"
