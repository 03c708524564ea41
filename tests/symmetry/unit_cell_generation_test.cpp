// Operator arithmetic, folding into the cell and unit-cell generation on
// small hand-made operator lists whose images are worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "model/model.hpp"
#include "support/allocation_failure.hpp"
#include "symmetry/symmetry.hpp"

namespace {

using powderkit::positionsCoincide;
using powderkit::reducedFractionalCoordinate;

RefinementSymmetryOperator *makeOperator(std::initializer_list<int32_t> rotation, double t0,
                                         double t1, double t2) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    int32_t *r = &op->rotation[0][0];
    for (int32_t value : rotation) *r++ = value;
    op->translation[0] = t0;
    op->translation[1] = t1;
    op->translation[2] = t2;
    return op;
}

RefinementSymmetryOperator *identity() { return makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0); }
RefinementSymmetryOperator *inversion() { return makeOperator({-1, 0, 0, 0, -1, 0, 0, 0, -1}, 0, 0, 0); }

// A crystal with one site at (x, y, z) and the given operators.
RefinementCrystal *crystalWith(double x, double y, double z,
                               std::initializer_list<RefinementSymmetryOperator *> operators) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (RefinementSymmetryOperator *op : operators) addObjectToDynamicArray(crystal->symmetryOperators, op);
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

TEST(SymmetryOperator, RotationTranslationAndDisplacedOrigin) {
    // A fourfold screw along z: (x, y, z) → (−y, x, z + 1/4).
    RefinementSymmetryOperator *op = makeOperator({0, -1, 0, 1, 0, 0, 0, 0, 1}, 0.0, 0.0, 0.25);
    double v[3] = {0.1, 0.2, 0.3};
    double out[3];
    op->methods->rotateVector(out, op, v);
    EXPECT_DOUBLE_EQ(out[0], -0.2);
    EXPECT_DOUBLE_EQ(out[1], 0.1);
    EXPECT_DOUBLE_EQ(out[2], 0.3);
    EXPECT_EQ(op->methods->transformVector(v, op, v), v);  // in place
    EXPECT_DOUBLE_EQ(v[0], -0.2);
    EXPECT_DOUBLE_EQ(v[1], 0.1);
    EXPECT_DOUBLE_EQ(v[2], 0.55);

    // R·(v + o) + t − o with o = (0.1, 0, 0): (−0.2, 0.2, 0.55) − (0.1, 0, 0).
    double w[3] = {0.1, 0.2, 0.3};
    double origin[3] = {0.1, 0.0, 0.0};
    EXPECT_EQ(op->methods->transformVectorWithDisplacedOrigin, &transformVectorWithDisplacedOrigin);
    transformVectorWithDisplacedOrigin(origin, op, w, origin);  // the output may be the origin
    EXPECT_DOUBLE_EQ(origin[0], -0.3);
    EXPECT_DOUBLE_EQ(origin[1], 0.2);
    EXPECT_DOUBLE_EQ(origin[2], 0.55);
    op->methods->freeRefinementSymmetryOperator(op);
}

TEST(SymmetryOperator, DisplacedOriginKeepsTranslationsAndMovesTheInversionCentre) {
    RefinementSymmetryOperator *shift = makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.5, 0.5, 0.0);
    RefinementSymmetryOperator *invert = inversion();
    const double v[3] = {0.1, 0.2, 0.3};
    const double o[3] = {0.05, -0.1, 0.125};
    double out[3];
    transformVectorWithDisplacedOrigin(out, shift, v, o);
    EXPECT_NEAR(out[0], 0.6, 1e-15);
    EXPECT_NEAR(out[1], 0.7, 1e-15);
    EXPECT_NEAR(out[2], 0.3, 1e-15);
    // −v − 2o = (−0.2, 0.0, −0.55), folded: (0.8, 0, 0.45).
    transformVectorWithDisplacedOrigin(out, invert, v, o);
    EXPECT_NEAR(reducedFractionalCoordinate(out[0]), 0.8, 1e-15);
    EXPECT_EQ(reducedFractionalCoordinate(out[1]), 0.0);
    EXPECT_NEAR(reducedFractionalCoordinate(out[2]), 0.45, 1e-15);
    powderkit::freeRefinementSymmetryOperator(shift);
    powderkit::freeRefinementSymmetryOperator(invert);
}

TEST(FractionalCoordinates, FoldingIntoTheCell) {
    EXPECT_EQ(reducedFractionalCoordinate(0.3), 0.3);
    EXPECT_EQ(reducedFractionalCoordinate(-0.25), 0.75);
    EXPECT_NEAR(reducedFractionalCoordinate(2.25), 0.25, 1e-15);
    EXPECT_NEAR(reducedFractionalCoordinate(-3.75), 0.25, 1e-15);
    // Both faces and their 1e-5 neighbourhoods fold to 0.
    EXPECT_EQ(reducedFractionalCoordinate(1.0), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(-1.0), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(0.999995), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(0.000005), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(-0.000005), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(3.0), 0.0);
    EXPECT_EQ(reducedFractionalCoordinate(0.00002), 0.00002);
    // Out of the 32-bit range: still defined, and inside [0, 1).
    const double huge = reducedFractionalCoordinate(1e12 + 0.5);
    EXPECT_TRUE(huge >= 0.0 && huge < 1.0);

    const double p[3] = {0.2, 0.3, 0.4};
    const double near[3] = {0.2001, 0.3001, 0.4001};
    const double apart[3] = {0.20012, 0.3, 0.4};
    EXPECT_TRUE(positionsCoincide(p, near, 0.00011));
    EXPECT_FALSE(positionsCoincide(p, apart, 0.00011));
    const double face[3] = {0.0, 0.3, 0.4};
    const double otherFace[3] = {0.99999, 0.3, 0.4};
    EXPECT_FALSE(positionsCoincide(face, otherFace, 0.00011));  // no lattice translation

    Site *site = makeEmptySite();
    site->x = 1.0;
    site->y = 0.25;
    site->z = -1.0;
    site->methods->wrapSiteCoordinates(site);
    EXPECT_EQ(site->x, 0.0);
    EXPECT_EQ(site->y, 0.25);
    EXPECT_EQ(site->z, 0.0);
    powderkit::freeSite(site);
}

TEST(UnitCellGeneration, CoincidingImagesAreKeptOnce) {
    // (½ ½ ½) is its own inverse image: −½ folds to ½.
    RefinementCrystal *crystal = crystalWith(0.5, 0.5, 0.5, {identity(), inversion()});
    crystal->methods->generateUnitCell(crystal);
    ASSERT_EQ(firstSite(crystal)->atoms->count, 1);
    EXPECT_EQ(firstSite(crystal)->atoms->capacity, 1);  // shrunk to its count
    freeRefinementCrystal(crystal);

    // The site is folded before the operators act: (1, ¼, −1) is (0, ¼, 0),
    // whose inverse (0, ¾, 0) is a second position.
    crystal = crystalWith(1.0, 0.25, -1.0, {identity(), inversion()});
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->x, 0.0);
    EXPECT_EQ(firstSite(crystal)->z, 0.0);
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_EQ(position(crystal, 1)->y, 0.75);
    freeRefinementCrystal(crystal);

    // An image at 0.999995 folds to 0 and coincides with the site at 0.
    crystal = crystalWith(0.0, 0.3, 0.3, {identity(), makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.999995, 0, 0)});
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->atoms->count, 1);
    freeRefinementCrystal(crystal);

    // Images 1e-4 apart coincide, 1.2e-4 apart they do not.
    crystal = crystalWith(0.2, 0.3, 0.4, {identity(), makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.0001, 0.0001, 0.0001),
                                          makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.00012, 0.00012, 0.00012)});
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->atoms->count, 2);
    freeRefinementCrystal(crystal);
}

TEST(UnitCellGeneration, FirstOperatorOfAPositionIsRecorded) {
    // A twofold axis along z through the origin leaves (0, 0, z) in place, so the
    // inversion's image is made first by the inversion, then again by the mirror.
    RefinementSymmetryOperator *one = identity();
    RefinementSymmetryOperator *two = makeOperator({-1, 0, 0, 0, -1, 0, 0, 0, 1}, 0, 0, 0);
    RefinementSymmetryOperator *bar = inversion();
    RefinementSymmetryOperator *mirror = makeOperator({1, 0, 0, 0, 1, 0, 0, 0, -1}, 0, 0, 0);
    RefinementCrystal *crystal = crystalWith(0.0, 0.0, 0.2, {one, two, bar, mirror});
    generateUnitCell(crystal);
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_EQ(position(crystal, 0)->symmetryOperator, one);
    EXPECT_EQ(position(crystal, 0)->z, 0.2);
    EXPECT_EQ(position(crystal, 1)->symmetryOperator, bar);
    EXPECT_NEAR(position(crystal, 1)->z, 0.8, 1e-15);

    // With a displaced origin o = (0, 0, 0.1) the inversion maps z to −z − 0.2.
    crystal->originShift[2] = 0.1;
    generateUnitCell(crystal);  // replaces the previous list
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_NEAR(position(crystal, 1)->z, 0.6, 1e-15);
    freeRefinementCrystal(crystal);
}

TEST(UnitCellGeneration, MissingOrEmptyLists) {
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
}

TEST(UnitCellGeneration, FailedAllocationsLeaveValidLists) {
    RefinementCrystal *crystal = crystalWith(0.1, 0.2, 0.3, {identity(), inversion()});
    for (int i = 0; i < 20; ++i) {
        addObjectToDynamicArray(crystal->symmetryOperators,
                                makeOperator({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.04 * (i + 1), 0, 0));
    }
    const long runs = pk_test::forEachAllocationFailure([&] {
        generateUnitCell(crystal);
        const DynamicArray *atoms = firstSite(crystal)->atoms;
        if (atoms == nullptr) return;
        EXPECT_LE(atoms->count, 22);
        for (int32_t i = 0; i < atoms->count; ++i) ASSERT_NE(atoms->items[i], nullptr);
    });
    EXPECT_GT(runs, 20);
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->atoms->count, 22);
    freeRefinementCrystal(crystal);
}

}  // namespace
