// Operator arithmetic, folding into the cell and unit-cell generation on
// small hand-made operator lists whose images are worked out by hand.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "model/model.hpp"
#include "support/allocation_failure.hpp"
#include "symmetry/symmetry.hpp"

namespace {

using powderkit::reducedFractionalCoordinate;
using Rotation = std::array<int32_t, 9>;

constexpr Rotation kOne = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr Rotation kBar = {-1, 0, 0, 0, -1, 0, 0, 0, -1};

RefinementSymmetryOperator *makeOperator(const Rotation &r, double t0 = 0, double t1 = 0, double t2 = 0) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = r[static_cast<std::size_t>(i)];
    op->translation[0] = t0;
    op->translation[1] = t1;
    op->translation[2] = t2;
    return op;
}

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

void expectVector(const double *v, double x, double y, double z) {
    EXPECT_DOUBLE_EQ(v[0], x);
    EXPECT_DOUBLE_EQ(v[1], y);
    EXPECT_DOUBLE_EQ(v[2], z);
}

TEST(SymmetryOperator, RotationTranslationAndDisplacedOrigin) {
    // A fourfold screw along z: (x, y, z) → (−y, x, z + 1/4).
    RefinementSymmetryOperator *op = makeOperator({0, -1, 0, 1, 0, 0, 0, 0, 1}, 0.0, 0.0, 0.25);
    double v[3] = {0.1, 0.2, 0.3}, out[3];
    op->methods->rotateVector(out, op, v);
    expectVector(out, -0.2, 0.1, 0.3);
    EXPECT_EQ(op->methods->transformVector(v, op, v), v);  // in place
    expectVector(v, -0.2, 0.1, 0.55);
    // R·(v + o) + t − o with o = (0.1, 0, 0), written over the origin: (−0.2, 0.2, 0.55) − o.
    double w[3] = {0.1, 0.2, 0.3}, origin[3] = {0.1, 0.0, 0.0};
    op->methods->transformVectorWithDisplacedOrigin(origin, op, w, origin);
    expectVector(origin, -0.3, 0.2, 0.55);
    // With a displaced origin a pure translation still gives v + t; the inversion gives −v − 2o.
    RefinementSymmetryOperator *shift = makeOperator(kOne, 0.5, 0.5, 0.0), *invert = makeOperator(kBar);
    const double o[3] = {0.05, -0.1, 0.125};
    transformVectorWithDisplacedOrigin(out, shift, w, o);
    expectVector(out, 0.6, 0.7, 0.3);
    transformVectorWithDisplacedOrigin(out, invert, w, o);
    for (double &u : out) u = reducedFractionalCoordinate(u);
    expectVector(out, 0.8, 0.0, 0.45);  // (−0.2, 0.0, −0.55) folded
    for (auto *each : {op, shift, invert}) each->methods->freeRefinementSymmetryOperator(each);
}

TEST(FractionalCoordinates, FoldingIntoTheCellAndCoincidence) {
    const double in[] = {0.3, -0.25, 2.25, -3.75, 1.0, -1.0, 0.999995, 0.000005, -0.000005, 3.0, 0.00002};
    const double out[] = {0.3, 0.75, 0.25, 0.25, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.00002};  // faces ± 1e-5 give 0
    Site *site = makeEmptySite();
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(reducedFractionalCoordinate(in[i]), out[i]) << in[i];
        site->y = in[i];
        site->methods->wrapSiteCoordinates(site);
        EXPECT_EQ(site->y, out[i]) << in[i];
    }
    powderkit::freeSite(site);
    const double huge = reducedFractionalCoordinate(1e12 + 0.5);  // past the 32-bit range: still in [0, 1)
    EXPECT_TRUE(huge >= 0.0 && huge < 1.0) << huge;

    const double p[3] = {0.2, 0.3, 0.4}, near[3] = {0.2001, 0.3001, 0.4001}, apart[3] = {0.20012, 0.3, 0.4};
    const double face[3] = {0.0, 0.3, 0.4}, otherFace[3] = {0.99999, 0.3, 0.4};
    EXPECT_TRUE(powderkit::positionsCoincide(p, near, 0.00011));
    EXPECT_FALSE(powderkit::positionsCoincide(p, apart, 0.00011));
    EXPECT_FALSE(powderkit::positionsCoincide(face, otherFace, 0.00011));  // no lattice translation
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
