// Symmetry-related planes. The cubic form is enumerated independently (all
// sign changes and permutations of the indices); the hexagonal one by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

#include "support/allocation_failure.hpp"
#include "support/reference_phases.hpp"

namespace {

using Plane = std::array<int32_t, 3>;

std::set<Plane> relatedPlanes(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    const int32_t hkl[3] = {h, k, l};
    int32_t count = -1;
    int32_t *planes = crystal->methods->planesRelatedBySymmetry(crystal, hkl, 1, &count);
    std::set<Plane> result;
    for (int32_t i = 0; i < count; ++i) result.insert({planes[3 * i], planes[3 * i + 1], planes[3 * i + 2]});
    EXPECT_EQ(result.size(), static_cast<std::size_t>(count)) << "repeated planes";
    std::free(planes);
    return result;
}

TEST(RelatedPlanes, CubicAndHexagonalFormsWithAndWithoutFriedelMates) {
    // m-3m (LaB6): every permutation of (1 2 3) with every choice of signs.
    std::set<Plane> form;
    Plane p = {1, 2, 3};
    do {
        for (int s = 0; s < 8; ++s) form.insert({s & 1 ? -p[0] : p[0], s & 2 ? -p[1] : p[1], s & 4 ? -p[2] : p[2]});
    } while (std::next_permutation(p.begin(), p.end()));
    RefinementCrystal *cubic = pk_test::makeReferenceCrystal("LaB6");
    EXPECT_EQ(relatedPlanes(cubic, 1, 2, 3), form);
    cubic->addFriedelMates = 1;  // the inversion is there already: nothing new
    EXPECT_EQ(relatedPlanes(cubic, 1, 1, 1).size(), 8u);
    freeRefinementCrystal(cubic);

    // P6₃mc (ZnO, no inversion): {1 0 0} is (1 0 0), (0 1 0), (−1 1 0) and
    // their partners, found only through the metric; (1 0 1) has six planes,
    // twelve with the Friedel mates, which suppressFriedelMates overrides.
    RefinementCrystal *zno = pk_test::makeReferenceCrystal("ZnO");
    const std::set<Plane> hexagonal = {{1, 0, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {1, -1, 0}};
    EXPECT_EQ(relatedPlanes(zno, 1, 0, 0), hexagonal);
    const uint8_t flags[][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};  // add, suppress
    const std::size_t counts[] = {6, 12, 6, 6};
    for (int i = 0; i < 4; ++i) {
        zno->addFriedelMates = flags[i][0];
        zno->suppressFriedelMates = flags[i][1];
        EXPECT_EQ(relatedPlanes(zno, 1, 0, 1).size(), counts[i]) << i;
    }
    freeRefinementCrystal(zno);
}

TEST(RelatedPlanes, FailedAllocationEmptyListsAndNonGroups) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("LaB6");
    const int32_t hkl[3] = {1, 2, 3};
    int32_t count = -1;
    pk_test::failAllocationNumber(1);
    EXPECT_EQ(planesRelatedBySymmetry(crystal, hkl, 1, &count), nullptr);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(count, -1);  // untouched
    // With no operators at all: an empty array.
    DynamicArray *none = makeDynamicArrayWithCapacity(1);
    std::swap(none, crystal->symmetryOperators);
    int32_t *planes = planesRelatedBySymmetry(crystal, hkl, 1, &count);
    EXPECT_TRUE(planes != nullptr && count == 0) << count;
    std::free(planes);
    std::swap(none, crystal->symmetryOperators);
    freeDynamicArray(none);
    // Integer shears are no group: their images are many and distinct, but the
    // working list holds 48 and the d-spacing test keeps only true planes.
    for (int32_t i = 0; i < crystal->symmetryOperators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(crystal->symmetryOperators->items[i]);
        const int32_t shear[3][3] = {{1, i, 0}, {0, 1, 0}, {0, 0, 1}};
        std::copy(&shear[0][0], &shear[0][0] + 9, &op->rotation[0][0]);
    }
    for (int i = 0; i < 12; ++i) addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    planes = planesRelatedBySymmetry(crystal, hkl, 1, &count);
    EXPECT_TRUE(planes != nullptr && count >= 1 && count <= 48) << count;
    std::free(planes);
    freeRefinementCrystal(crystal);
}

}  // namespace
