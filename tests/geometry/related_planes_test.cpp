// Symmetry-related planes and the metric vector operations beneath them.
// The cubic sets are enumerated independently (all sign changes and
// permutations of the indices); the vector operations are checked against
// an explicit inverse of the metric.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <set>

#include "geometry/geometry.hpp"
#include "support/allocation_failure.hpp"
#include "support/crystal_builder.hpp"

namespace {

using Plane = std::array<int32_t, 3>;

RefinementCrystal *cubicWithOperators(bool properRotationsOnly) {
    RefinementCrystal *source = pk_test::makeReferenceCrystal("LaB6");  // P m -3 m, 48 operators
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = crystal->c = 4.0;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(48);
    for (int32_t i = 0; i < source->symmetryOperators->count; ++i) {
        const auto *op = static_cast<const RefinementSymmetryOperator *>(source->symmetryOperators->items[i]);
        const int32_t(*r)[3] = op->rotation;
        const int32_t det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                            r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                            r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
        if (properRotationsOnly && det != 1) continue;
        RefinementSymmetryOperator *copy = makeRefinementSymmetryOperator();
        std::copy(&r[0][0], &r[0][0] + 9, &copy->rotation[0][0]);
        addObjectToDynamicArray(crystal->symmetryOperators, copy);
    }
    freeRefinementCrystal(source);
    return crystal;
}

std::set<Plane> relatedPlanes(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    const int32_t hkl[3] = {h, k, l};
    int32_t count = -1;
    int32_t *planes = crystal->methods->planesRelatedBySymmetry(crystal, hkl, 1, &count);
    std::set<Plane> result;
    if (planes == nullptr) return result;
    for (int32_t i = 0; i < count; ++i) result.insert({planes[3 * i], planes[3 * i + 1], planes[3 * i + 2]});
    EXPECT_EQ(result.size(), static_cast<std::size_t>(count)) << "repeated planes";
    std::free(planes);
    return result;
}

// Every permutation of (h k l) with every choice of signs.
std::set<Plane> cubicForm(int32_t h, int32_t k, int32_t l) {
    std::set<Plane> form;
    Plane p = {h, k, l};
    std::sort(p.begin(), p.end());
    do {
        for (int signs = 0; signs < 8; ++signs) {
            form.insert({signs & 1 ? -p[0] : p[0], signs & 2 ? -p[1] : p[1], signs & 4 ? -p[2] : p[2]});
        }
    } while (std::next_permutation(p.begin(), p.end()));
    return form;
}

TEST(RelatedPlanes, CubicMultiplicities) {
    RefinementCrystal *full = cubicWithOperators(false);
    ASSERT_EQ(full->symmetryOperators->count, 48);
    EXPECT_EQ(relatedPlanes(full, 1, 0, 0), cubicForm(1, 0, 0));  // 6
    EXPECT_EQ(relatedPlanes(full, 1, 1, 0), cubicForm(1, 1, 0));
    EXPECT_EQ(relatedPlanes(full, 1, 2, 3), cubicForm(1, 2, 3));  // 48
    full->addFriedelMates = 1;  // the inversion is there already: nothing new
    EXPECT_EQ(relatedPlanes(full, 1, 1, 1).size(), 8u);
    freeRefinementCrystal(full);

    RefinementCrystal *rotations = cubicWithOperators(true);
    ASSERT_EQ(rotations->symmetryOperators->count, 24);
    EXPECT_EQ(relatedPlanes(rotations, 1, 0, 0).size(), 6u);  // ±h reached by rotations
    EXPECT_EQ(relatedPlanes(rotations, 1, 2, 3).size(), 24u);
    rotations->addFriedelMates = 1;
    EXPECT_EQ(relatedPlanes(rotations, 1, 2, 3), cubicForm(1, 2, 3));  // 48
    rotations->suppressFriedelMates = 1;
    EXPECT_EQ(relatedPlanes(rotations, 1, 2, 3).size(), 24u);
    freeRefinementCrystal(rotations);
}

TEST(RelatedPlanes, HexagonalFormsNeedTheMetric) {
    // In P6₃mc the six planes of {1 0 0} are (1 0 0), (0 1 0), (−1 1 0) and
    // their partners; (1 0 1) has twelve with the Friedel mates.
    RefinementCrystal *zno = pk_test::makeReferenceCrystal("ZnO");
    const std::set<Plane> expected = {{1, 0, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {1, -1, 0}};
    EXPECT_EQ(relatedPlanes(zno, 1, 0, 0), expected);
    EXPECT_EQ(relatedPlanes(zno, 1, 0, 1).size(), 12u);
    zno->addFriedelMates = 0;  // 6mm alone: l is never reversed
    EXPECT_EQ(relatedPlanes(zno, 1, 0, 1).size(), 6u);
    freeRefinementCrystal(zno);
}

TEST(RelatedPlanes, EmptyListsFailuresAndNonGroups) {
    RefinementCrystal *crystal = cubicWithOperators(false);
    const int32_t hkl[3] = {1, 2, 3};
    int32_t count = -1;
    pk_test::failAllocationNumber(1);
    EXPECT_EQ(planesRelatedBySymmetry(crystal, hkl, 1, &count), nullptr);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(count, -1);  // untouched

    // Integer shears are no group: their images are many and distinct, but the
    // working list holds 48 and the d-spacing test keeps only true planes.
    for (int32_t i = 0; i < crystal->symmetryOperators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(crystal->symmetryOperators->items[i]);
        op->rotation[0][0] = op->rotation[1][1] = op->rotation[2][2] = 1;
        op->rotation[0][1] = i;
        op->rotation[0][2] = op->rotation[1][0] = op->rotation[1][2] = op->rotation[2][0] =
            op->rotation[2][1] = 0;
    }
    for (int i = 0; i < 12; ++i) addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    int32_t *planes = planesRelatedBySymmetry(crystal, hkl, 1, &count);
    ASSERT_NE(planes, nullptr);
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 48);
    std::free(planes);

    freeRefinementCrystal(crystal);
    crystal = cubicWithOperators(false);
    for (int32_t i = 0; i < crystal->symmetryOperators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(crystal->symmetryOperators->items[i]);
        op->methods->freeRefinementSymmetryOperator(op);
    }
    crystal->symmetryOperators->count = 0;
    planes = planesRelatedBySymmetry(crystal, hkl, 1, &count);
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(count, 0);
    std::free(planes);
    freeRefinementCrystal(crystal);
}

TEST(MetricVectors, ConversionIsTheScaledInverseOfTheMetric) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
    crystal->alpha = 83.0;
    crystal->gamma = 104.2;  // fully triclinic
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    const double(*g)[3] = crystal->metricTensor;
    const double(*gs)[3] = crystal->reciprocalMetricTensor;

    // √det M · M⁻¹ · x with the inverse by cofactors.
    const double det = g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) -
                       g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
                       g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
    double inverse[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inverse[i][j] = (g[r0][c0] * g[r1][c1] - g[r0][c1] * g[r1][c0]) / det;
        }
    }
    const powderkit::Vector3 x = {2.0, -3.0, 5.0};
    const powderkit::Vector3 converted = powderkit::convertWithMetric(x, g);
    const powderkit::Vector3 expected = powderkit::matrixTimesVector(inverse, x);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(converted[i], std::sqrt(det) * expected[i], 1e-9);
    // V² = det G, and V·G*·h = √det G · G⁻¹ · h.
    EXPECT_NEAR(crystal->volume * crystal->volume, det, 1e-6);
    const powderkit::Vector3 normal = powderkit::indicesToVector(2, -3, 5, g);
    const powderkit::Vector3 viaReciprocal = powderkit::matrixTimesVector(gs, x);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(normal[i], crystal->volume * viaReciprocal[i], 1e-9);
    // And back through G*: the indices again.
    const powderkit::Vector3 back = powderkit::convertWithMetric(normal, gs);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], x[i], 1e-10);

    // With the identity metric the cross product is v × u.
    const double unit[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const powderkit::Vector3 c = powderkit::metricCrossProduct({1, 0, 0}, {0, 1, 0}, unit);
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[1], 0.0);
    EXPECT_EQ(c[2], -1.0);
    freeRefinementCrystal(crystal);
}

}  // namespace
