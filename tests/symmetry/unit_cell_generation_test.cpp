// Unit-cell generation on small hand-made operator lists whose images are
// worked out by hand.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "model/model.hpp"
#include "support/symmetry_operators.hpp"
#include "support/allocation_failure.hpp"

namespace {

using pk_test::makeOperator;
constexpr pk_test::Rotation kOne = pk_test::kIdentity;
constexpr pk_test::Rotation kBar = pk_test::kInversion;

// A crystal with one site at (x, y, z) and the given operators.
RefinementCrystal *crystalWith(double x, double y, double z, const std::vector<RefinementSymmetryOperator *> &ops) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (RefinementSymmetryOperator *op : ops) addObjectToDynamicArray(crystal->symmetryOperators, op);
    crystal->sites = makeDynamicArrayWithCapacity(1);
    Site *site = makeEmptySite();
    site->x = x;
    site->y = y;
    site->z = z;
    addObjectToDynamicArray(crystal->sites, site);
    return crystal;
}

Site *firstSite(RefinementCrystal *crystal) { return static_cast<Site *>(crystal->sites->items[0]); }

RefinementAtom *position(RefinementCrystal *crystal, int32_t i) {
    return static_cast<RefinementAtom *>(firstSite(crystal)->atoms->items[i]);
}

// The number of positions that generateUnitCell gives a site at (x, y, z)
// under the identity and `more`; the list is shrunk to its count.
int32_t positionCount(double x, double y, double z, std::vector<RefinementSymmetryOperator *> more) {
    more.insert(more.begin(), makeOperator(kOne));
    RefinementCrystal *crystal = crystalWith(x, y, z, more);
    crystal->methods->generateUnitCell(crystal);
    const int32_t count = firstSite(crystal)->atoms->count;
    EXPECT_EQ(firstSite(crystal)->atoms->capacity, count);
    freeRefinementCrystal(crystal);
    return count;
}

TEST(UnitCellGeneration, CoincidingImagesAreKeptOnce) {
    EXPECT_EQ(positionCount(0.5, 0.5, 0.5, {makeOperator(kBar)}), 1);  // −½ folds to ½
    EXPECT_EQ(positionCount(0.0, 0.3, 0.3, {makeOperator(kOne, 0.999995)}), 1);  // 0.999995 folds to 0
    // Images 1e-4 apart coincide, 1.2e-4 apart they do not.
    const double apart[] = {1e-4, 1.2e-4};
    EXPECT_EQ(positionCount(0.2, 0.3, 0.4, {makeOperator(kOne, apart[0], apart[0], apart[0]),
                                            makeOperator(kOne, apart[1], apart[1], apart[1])}),
              2);
}

TEST(UnitCellGeneration, FirstOperatorOfAPositionIsRecorded) {
    // A twofold axis along z through the origin leaves (0, 0, z) in place, so the
    // inversion's image is made first by the inversion, then again by the mirror.
    std::vector<RefinementSymmetryOperator *> ops = {makeOperator(kOne), makeOperator({-1, 0, 0, 0, -1, 0, 0, 0, 1}),
                                                     makeOperator(kBar), makeOperator({1, 0, 0, 0, 1, 0, 0, 0, -1})};
    RefinementCrystal *crystal = crystalWith(0.0, 0.0, 0.2, ops);
    generateUnitCell(crystal);
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_EQ(position(crystal, 0)->symmetryOperator, ops[0]);
    EXPECT_EQ(position(crystal, 0)->z, 0.2);
    EXPECT_EQ(position(crystal, 1)->symmetryOperator, ops[2]);
    EXPECT_NEAR(position(crystal, 1)->z, 0.8, 1e-15);
    // With a displaced origin o = (0, 0, 0.1) the inversion maps z to −z − 0.2.
    crystal->originShift[2] = 0.1;
    generateUnitCell(crystal);  // replaces the previous list
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_NEAR(position(crystal, 1)->z, 0.6, 1e-15);
    freeRefinementCrystal(crystal);
}

TEST(UnitCellGeneration, MissingListsAndFailedAllocations) {
    generateUnitCell(nullptr);
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    generateUnitCell(crystal);  // no lists at all
    crystal->sites = makeDynamicArrayWithCapacity(1);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    generateUnitCell(crystal);  // no sites
    Site *site = makeEmptySite();
    site->x = 1.5;
    addObjectToDynamicArray(crystal->sites, site);
    generateUnitCell(crystal);  // no operators: an empty list, the site still folded
    ASSERT_NE(site->atoms, nullptr);
    EXPECT_EQ(site->atoms->count, 0);
    EXPECT_EQ(site->x, 0.5);
    freeRefinementCrystal(crystal);

    std::vector<RefinementSymmetryOperator *> ops = {makeOperator(kOne), makeOperator(kBar)};
    for (int i = 1; i <= 20; ++i) ops.push_back(makeOperator(kOne, 0.04 * i));
    crystal = crystalWith(0.1, 0.2, 0.3, ops);
    const long runs = pk_test::forEachAllocationFailure([&] {
        generateUnitCell(crystal);
        const DynamicArray *atoms = firstSite(crystal)->atoms;
        for (int32_t i = 0; atoms != nullptr && i < atoms->count; ++i) ASSERT_NE(atoms->items[i], nullptr);
        EXPECT_LE(atoms == nullptr ? 0 : atoms->count, 22);
    });
    EXPECT_GT(runs, 20);
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->atoms->count, 22);
    freeRefinementCrystal(crystal);
}

}  // namespace
