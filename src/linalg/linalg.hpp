// Internal interface of the dense matrices and the least-squares record:
// creation and resizing (not exported: hosts obtain matrices from the
// least-squares record or copyMatrix), the row-by-row copy, the product into a
// new matrix, the vector length of a matrix, and the record's method table.
#ifndef POWDERKIT_LINALG_HPP
#define POWDERKIT_LINALG_HPP

#include <cstddef>
#include <cstdint>

#include "powderkit.h"

namespace powderkit {

// Pivots of the inverse below this magnitude mean "singular"; above-diagonal
// multipliers below it are skipped in the backward pass. Absolute, not
// relative to the size of the elements.
constexpr double kInversePivotThreshold = 1e-7;

// New rows × columns matrix of zeros, or nullptr when rows < 1, columns < 1,
// rows·columns overflows 32 bits or memory runs out (nothing is left behind).
Matrix *makeMatrix(int32_t rows, int32_t columns);

// Gives m the shape rows × columns. Equal shape: m unchanged, contents kept.
// Otherwise the blocks follow resizeBuffer, so grown elements are unspecified
// and elements no longer sit at their old (i, j) once `columns` changed.
// Returns m, or nullptr with m RELEASED when a count is below 1 or memory runs
// out; nullptr without releasing anything when m is nullptr. Always replace
// the caller's pointer by the result.
Matrix *resizeMatrix(Matrix *m, int32_t rows, int32_t columns);

// The buffer rule: a larger size takes a fresh block (old contents not
// carried over) and releases the old one only once that succeeded; a smaller
// size shrinks in place keeping the leading bytes; an equal size returns the
// block itself. nullptr on failure, the old block then still being the
// caller's.
void *resizeBuffer(void *block, std::size_t oldBytes, std::size_t newBytes);

// For each row i < dst.rows, copies src.columns doubles of src row i into dst
// row i (src needs at least dst.rows rows).
void copyMatrixContents(Matrix *dst, const Matrix *src);

// New a.rows × b.columns matrix holding a·b, or nullptr when a or b is
// nullptr, a.columns ≠ b.rows or memory runs out.
Matrix *multMatrices(const Matrix *a, const Matrix *b);

// The length of a matrix read as a vector: `rows` when it has exactly one
// column, `columns` otherwise. The vector is the first entries of `elements`.
inline int32_t vectorLength(const Matrix *m) { return m->columns == 1 ? m->rows : m->columns; }

extern const LeastSquaresMatricesMethods kLeastSquaresMatricesMethods;

}  // namespace powderkit

#endif
