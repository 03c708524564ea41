// Test crystals built from point-group generators: the group is closed by
// multiplying rotation matrices until nothing new appears, so the operator
// lists are worked out independently of the library.
#ifndef PK_TEST_CUBIC_FIXTURE_HPP
#define PK_TEST_CUBIC_FIXTURE_HPP

#include <array>
#include <vector>

#include "powderkit.h"

namespace pk_test {

using Rotation = std::array<int, 9>;

inline Rotation multiply(const Rotation &a, const Rotation &b) {
    Rotation c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) c[static_cast<size_t>(3 * i + j)] += a[static_cast<size_t>(3 * i + k)] * b[static_cast<size_t>(3 * k + j)];
    return c;
}

inline std::vector<Rotation> closeGroup(const std::vector<Rotation> &generators) {
    std::vector<Rotation> group{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    for (size_t i = 0; i < group.size(); ++i) {
        for (const Rotation &g : generators) {
            const Rotation product = multiply(group[i], g);
            bool known = false;
            for (const Rotation &r : group) known = known || r == product;
            if (!known) group.push_back(product);
        }
    }
    return group;
}

// A crystal with the given cell and pure rotations (no translations), its
// reciprocal cell and metric tensors computed, and an empty site list.
inline RefinementCrystal *makeCrystal(double a, double b, double c, double alpha, double beta,
                                      double gamma, const std::vector<Rotation> &rotations) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = a;
    crystal->b = b;
    crystal->c = c;
    crystal->alpha = alpha;
    crystal->beta = beta;
    crystal->gamma = gamma;
    crystal->latticeType = 'P';
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(48);
    for (const Rotation &r : rotations) {
        RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
        for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = r[static_cast<size_t>(i)];
        addObjectToDynamicArray(crystal->symmetryOperators, op);
    }
    crystal->sites = makeDynamicArrayWithCapacity(2);
    return crystal;
}

constexpr Rotation kInversion{-1, 0, 0, 0, -1, 0, 0, 0, -1};
constexpr Rotation kFourFoldZ{0, -1, 0, 1, 0, 0, 0, 0, 1};
constexpr Rotation kSixFoldZ{1, -1, 0, 1, 0, 0, 0, 0, 1};
constexpr Rotation kTwoFoldXY{0, 1, 0, 1, 0, 0, 0, 0, -1};
constexpr Rotation kThreeFold111{0, 0, 1, 1, 0, 0, 0, 1, 0};

// m-3m (48 operators), or 432 (24 rotations) without the inversion.
inline RefinementCrystal *makeCubicCrystal(double edge, bool rotationsOnly = false) {
    std::vector<Rotation> generators{kFourFoldZ, kThreeFold111, kTwoFoldXY};
    if (!rotationsOnly) generators.push_back(kInversion);
    return makeCrystal(edge, edge, edge, 90, 90, 90, closeGroup(generators));
}

}  // namespace pk_test

#endif
