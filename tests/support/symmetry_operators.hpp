// Symmetry-operator records made by hand for tests: R row-major and t.
#ifndef PK_TEST_SYMMETRY_OPERATORS_HPP
#define PK_TEST_SYMMETRY_OPERATORS_HPP

#include <array>
#include <cstdint>

#include "powderkit.h"

namespace pk_test {

using Rotation = std::array<int32_t, 9>;

constexpr Rotation kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr Rotation kInversion = {-1, 0, 0, 0, -1, 0, 0, 0, -1};

// A new operator record x' = R·x + t (release with its free slot).
inline RefinementSymmetryOperator *makeOperator(const Rotation &r, const std::array<double, 3> &t = {}) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    for (std::size_t i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = r[i];
    for (std::size_t i = 0; i < 3; ++i) op->translation[i] = t[i];
    return op;
}

}  // namespace pk_test

#endif
