// Finding the operator that carries a site onto one of its positions.
#include <gtest/gtest.h>

#include <string>

#include "support/output_capture.hpp"
#include "powderkit.h"

namespace {

RefinementSymmetryOperator *addOperator(RefinementCrystal *crystal, std::initializer_list<int32_t> r,
                                        double tx, double ty, double tz) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    int i = 0;
    for (int32_t value : r) {
        op->rotation[i / 3][i % 3] = value;
        ++i;
    }
    op->translation[0] = tx;
    op->translation[1] = ty;
    op->translation[2] = tz;
    addObjectToDynamicArray(crystal->symmetryOperators, op);
    return op;
}

struct Fixture {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    Site *site = makeEmptySite();
    Fixture() {
        crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
        site->label = "O2";
    }
    ~Fixture() {
        freeRefinementCrystal(crystal);
        site->methods->freeSite(site);
    }
};

TEST(AtomSiteOperator, SingleOperatorIsReturnedWithoutATest) {
    Fixture f;
    RefinementSymmetryOperator *identity = addOperator(f.crystal, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0);
    RefinementAtom atom{0.9, 0.9, 0.9, nullptr, nullptr};
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(f.crystal, &atom, f.site), identity);
}

TEST(AtomSiteOperator, FoldedPositionsAndTheFirstOfEqualImages) {
    Fixture f;
    RefinementSymmetryOperator *identity = addOperator(f.crystal, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0);
    RefinementSymmetryOperator *screw = addOperator(f.crystal, {-1, 0, 0, 0, -1, 0, 0, 0, 1}, 0, 0, 0.5);
    RefinementSymmetryOperator *mirror = addOperator(f.crystal, {1, 0, 0, 0, 1, 0, 0, 0, -1}, 0, 0, 0.5);
    f.site->x = 0.0;
    f.site->y = 0.5;
    f.site->z = 0.5;
    // 1.0 folds to 0 and matches the identity image (0, 0.5, 0.5), although
    // the mirror maps the site onto the same position.
    RefinementAtom onFace{1.0, 0.5, 0.5, nullptr, nullptr};
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(f.crystal, &onFace, f.site), identity);
    f.site->x = 0.1;
    f.site->y = 0.2;
    f.site->z = 0.3;
    RefinementAtom image{-0.1, 0.8, 0.8, nullptr, nullptr};  // (−x, −y, z + ½) folded
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(f.crystal, &image, f.site), screw);
    RefinementAtom mirrored{0.1, 0.2, 0.2, nullptr, nullptr};  // (x, y, −z + ½)
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(f.crystal, &mirrored, f.site), mirror);
}

TEST(AtomSiteOperator, DisplacedOriginEntersTheImages) {
    Fixture f;
    addOperator(f.crystal, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0);
    RefinementSymmetryOperator *inversion = addOperator(f.crystal, {-1, 0, 0, 0, -1, 0, 0, 0, -1}, 0, 0, 0);
    f.crystal->originShift[0] = 0.125;
    f.site->x = 0.2;
    // Inversion through x = −0.125: 0.2 → −0.45 → 0.55.
    RefinementAtom atom{0.55, 0.0, 0.0, nullptr, nullptr};
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(f.crystal, &atom, f.site), inversion);
}

TEST(AtomSiteOperator, NoMatchPrintsTheAtomAsStored) {
    Fixture f;
    addOperator(f.crystal, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0);
    addOperator(f.crystal, {-1, 0, 0, 0, -1, 0, 0, 0, -1}, 0, 0, 0);
    f.site->x = 0.2;
    f.site->y = 0.3;
    f.site->z = 0.4;
    RefinementAtom atom{1.2002, 0.3, 0.4, nullptr, nullptr};  // 0.0002 off the site
    RefinementSymmetryOperator *found = nullptr;
    const std::string err = pk_test::captureStderr(
        [&] { found = symmetryOperatorRelatingAtomToSite(f.crystal, &atom, f.site); });
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(err, "unable to find symmetry operator for atom O2 at {1.2002, 0.3000, 0.4000}\n");

    RefinementCrystal *empty = makeEmptyRefinementCrystal();
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(empty, &atom, f.site), nullptr);
    empty->symmetryOperators = makeDynamicArrayWithCapacity(1);
    EXPECT_EQ(symmetryOperatorRelatingAtomToSite(empty, &atom, f.site), nullptr);
    freeRefinementCrystal(empty);
}

}  // namespace
