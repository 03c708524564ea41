// Finding the operator that carries a site onto one of its positions.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/output_capture.hpp"
#include "powderkit.h"

namespace {

struct Operator {
    std::array<int32_t, 9> rotation;
    std::array<double, 3> translation;
};
using Vector = std::array<double, 3>;

const Operator kOne{{1, 0, 0, 0, 1, 0, 0, 0, 1}, {}}, kBar{{-1, 0, 0, 0, -1, 0, 0, 0, -1}, {}};
const Operator kScrew{{-1, 0, 0, 0, -1, 0, 0, 0, 1}, {0, 0, 0.5}}, kMirror{{1, 0, 0, 0, 1, 0, 0, 0, -1}, {0, 0, 0.5}};

// The list position of the operator that carries the site (labelled O2) onto
// the atom, −1 for none; `ops` null means no operator list at all.
int32_t relate(const std::vector<Operator> *ops, Vector site, Vector atom, double originShiftX = 0.0) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->originShift[0] = originShiftX;
    if (ops != nullptr) crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (std::size_t n = 0; ops != nullptr && n < ops->size(); ++n) {
        RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
        for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = (*ops)[n].rotation[static_cast<std::size_t>(i)];
        for (int i = 0; i < 3; ++i) op->translation[i] = (*ops)[n].translation[static_cast<std::size_t>(i)];
        addObjectToDynamicArray(crystal->symmetryOperators, op);
    }
    Site *s = makeEmptySite();
    s->label = "O2";
    s->x = site[0];
    s->y = site[1];
    s->z = site[2];
    RefinementAtom a{atom[0], atom[1], atom[2], nullptr, nullptr};
    const void *found = crystal->methods->symmetryOperatorRelatingAtomToSite(crystal, &a, s);
    int32_t index = found == nullptr ? -1 : -2;
    for (int32_t i = 0; ops != nullptr && i < crystal->symmetryOperators->count; ++i) {
        if (crystal->symmetryOperators->items[i] == found) index = i;
    }
    s->methods->freeSite(s);
    freeRefinementCrystal(crystal);
    return index;
}

TEST(AtomSiteOperator, TheFirstOperatorCarryingTheSiteOntoTheAtom) {
    const std::vector<Operator> one = {kOne}, three = {kOne, kScrew, kMirror}, inversion = {kOne, kBar};
    EXPECT_EQ(relate(&one, {0, 0, 0}, {0.9, 0.9, 0.9}), 0);  // a single operator is returned untested
    // 1.0 folds to 0 and matches the identity image, although the mirror maps the site there too.
    EXPECT_EQ(relate(&three, {0.0, 0.5, 0.5}, {1.0, 0.5, 0.5}), 0);
    EXPECT_EQ(relate(&three, {0.1, 0.2, 0.3}, {-0.1, 0.8, 0.8}), 1);  // (−x, −y, z + ½) folded
    EXPECT_EQ(relate(&three, {0.1, 0.2, 0.3}, {0.1, 0.2, 0.2}), 2);   // (x, y, −z + ½)
    EXPECT_EQ(relate(&inversion, {0.2, 0, 0}, {0.55, 0, 0}, 0.125), 1);  // through x = −0.125: 0.2 → −0.45
}

TEST(AtomSiteOperator, NoMatchPrintsTheAtomAsStored) {
    const std::vector<Operator> inversion = {kOne, kBar}, none = {};
    int32_t found = 0;
    const std::string err = pk_test::captureStderr(
        [&] { found = relate(&inversion, {0.2, 0.3, 0.4}, {1.200105, 0.3, 0.4}); });  // 1.05e-4 ≥ 1e-4 off
    EXPECT_EQ(found, -1);
    EXPECT_EQ(err, "unable to find symmetry operator for atom O2 at {1.2001, 0.3000, 0.4000}\n");
    EXPECT_EQ(relate(&none, {0.2, 0.3, 0.4}, {0.2, 0.3, 0.4}), -1);  // an empty list
    EXPECT_EQ(relate(nullptr, {0.2, 0.3, 0.4}, {0.2, 0.3, 0.4}), -1);  // no list
}

}  // namespace
