// Displacement constraints from site symmetry. Expected codes are the
// textbook restrictions on U for each site symmetry (for example, on a
// three-fold axis along c: U11 = U22, U12 = U11/2, U13 = U23 = 0), written in
// the library's code convention, not read back from the table.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/crystal_builder.hpp"
#include "support/output_capture.hpp"
#include "powderkit.h"

namespace {

using Codes = std::array<int32_t, 6>;  // U11 U22 U33 U23 U13 U12

struct Op {
    std::array<int32_t, 9> r;
    std::array<double, 3> t;
};

RefinementCrystal *crystalWith(const std::vector<Op> &ops) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (const Op &op : ops) {
        RefinementSymmetryOperator *record = makeRefinementSymmetryOperator();
        for (int i = 0; i < 9; ++i) record->rotation[i / 3][i % 3] = op.r[static_cast<size_t>(i)];
        for (int i = 0; i < 3; ++i) record->translation[i] = op.t[static_cast<size_t>(i)];
        addObjectToDynamicArray(crystal->symmetryOperators, record);
    }
    return crystal;
}

Codes constraintsAt(RefinementCrystal *crystal, double x, double y, double z) {
    const double site[3] = {x, y, z};
    Codes codes{};
    EXPECT_TRUE(TemperatureConstraintsForASite(crystal, site, codes.data()));
    return codes;
}

const Op kIdentity{{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}};
const Op kInversion{{-1, 0, 0, 0, -1, 0, 0, 0, -1}, {0, 0, 0}};
const Op kTwoFoldZ{{-1, 0, 0, 0, -1, 0, 0, 0, 1}, {0, 0, 0}};
const Op kThreeFoldZ{{0, -1, 0, 1, -1, 0, 0, 0, 1}, {0, 0, 0}};
const Op kThreeFoldZSquared{{-1, 1, 0, -1, 0, 0, 0, 0, 1}, {0, 0, 0}};
const Op kThreeFold111{{0, 0, 1, 1, 0, 0, 0, 1, 0}, {0, 0, 0}};
const Op kThreeFold111Squared{{0, 1, 0, 0, 0, 1, 1, 0, 0}, {0, 0, 0}};
const Op kMirrorZ{{1, 0, 0, 0, 1, 0, 0, 0, -1}, {0, 0, 0}};

TEST(SiteConstraints, GeneralPositionAndInversionCentreLeaveUFree) {
    RefinementCrystal *crystal = crystalWith({kIdentity, kInversion, kTwoFoldZ});
    EXPECT_EQ(constraintsAt(crystal, 0.1, 0.2, 0.3), (Codes{-1, -1, -1, -1, -1, -1}));
    // The origin is fixed by -1 (no restriction) and by the two-fold axis.
    EXPECT_EQ(constraintsAt(crystal, 0.0, 0.0, 0.3), (Codes{-1, -1, -1, 0, 0, -1}));
    RefinementCrystal *centric = crystalWith({kIdentity, kInversion});
    EXPECT_EQ(constraintsAt(centric, 0.5, 0.5, 0.0), (Codes{-1, -1, -1, -1, -1, -1}));
    freeRefinementCrystal(crystal);
    freeRefinementCrystal(centric);
}

TEST(SiteConstraints, AxesAlongZAndAlongTheCubeDiagonal) {
    RefinementCrystal *trigonal = crystalWith({kIdentity, kThreeFoldZ, kThreeFoldZSquared});
    // U11 = U22, U12 = U11/2, U13 = U23 = 0, U33 free.
    EXPECT_EQ(constraintsAt(trigonal, 0.0, 0.0, 0.35), (Codes{1, 1, -1, 0, 0, 2}));
    EXPECT_EQ(constraintsAt(trigonal, 0.3, 0.1, 0.35), (Codes{-1, -1, -1, -1, -1, -1}));

    RefinementCrystal *cubic = crystalWith({kIdentity, kThreeFold111, kThreeFold111Squared});
    // U11 = U22 = U33 and U23 = U13 = U12.
    EXPECT_EQ(constraintsAt(cubic, 0.2, 0.2, 0.2), (Codes{1, 1, 1, 3, 3, 3}));
    freeRefinementCrystal(trigonal);
    freeRefinementCrystal(cubic);
}

TEST(SiteConstraints, CombinedOperationsOnlyEverTightenTheCodes) {
    // Site symmetry 2/m with the axis along z: U13 = U23 = 0 from both.
    RefinementCrystal *crystal = crystalWith({kIdentity, kTwoFoldZ, kMirrorZ, kInversion});
    EXPECT_EQ(constraintsAt(crystal, 0.0, 0.0, 0.0), (Codes{-1, -1, -1, 0, 0, -1}));
    // A four-fold axis along z with the two-fold: U11 = U22, all off-diagonal 0.
    const Op fourFold{{0, -1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 0}};
    RefinementCrystal *tetragonal = crystalWith({kIdentity, fourFold, kTwoFoldZ});
    EXPECT_EQ(constraintsAt(tetragonal, 0.0, 0.0, 0.1), (Codes{1, 1, -1, 0, 0, 0}));
    freeRefinementCrystal(crystal);
    freeRefinementCrystal(tetragonal);
}

TEST(SiteConstraints, TransformedCoordinatesAreFoldedOnce) {
    // x' = x + 1 folds back onto x = 0.2; x' = x + 2 gives 1.2 and does not.
    RefinementCrystal *once = crystalWith({Op{kMirrorZ.r, {1.0, 0.0, 0.0}}});
    EXPECT_EQ(constraintsAt(once, 0.2, 0.3, 0.0), (Codes{-1, -1, -1, 0, 0, -1}));
    RefinementCrystal *twice = crystalWith({Op{kMirrorZ.r, {2.0, 0.0, 0.0}}});
    EXPECT_EQ(constraintsAt(twice, 0.2, 0.3, 0.0), (Codes{-1, -1, -1, -1, -1, -1}));
    freeRefinementCrystal(once);
    freeRefinementCrystal(twice);
}

TEST(SiteConstraints, MissingArgumentsGiveFalseWithFreeCodes) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    const double site[3] = {0, 0, 0};
    Codes codes{5, 5, 5, 5, 5, 5};
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, site, codes.data()));  // no operator list
    EXPECT_EQ(codes, (Codes{-1, -1, -1, -1, -1, -1}));
    codes.fill(5);
    EXPECT_FALSE(TemperatureConstraintsForASite(nullptr, site, codes.data()));
    EXPECT_EQ(codes[0], -1);
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, nullptr, codes.data()));
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, site, nullptr));
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    EXPECT_TRUE(TemperatureConstraintsForASite(crystal, site, codes.data()));  // empty list
    EXPECT_EQ(codes, (Codes{-1, -1, -1, -1, -1, -1}));
    freeRefinementCrystal(crystal);
}

TEST(SiteConstraints, CrystalListingGoesToStandardOutput) {
    RefinementCrystal *crystal = crystalWith({kIdentity, kThreeFoldZ, kThreeFoldZSquared});
    crystal->sites = makeDynamicArrayWithCapacity(2);
    Site *general = makeEmptySite();
    general->x = 0.3;
    general->y = 0.1;
    general->z = 0.2;
    Site *onAxis = makeEmptySite();
    onAxis->z = 0.25;
    addObjectToDynamicArray(crystal->sites, general);
    addObjectToDynamicArray(crystal->sites, onAxis);
    std::string err;
    const std::string out = pk_test::captureStdout([&] {
        err = pk_test::captureStderr([&] { FindTemperatureConstraintsForCrystal(crystal); });
    });
    EXPECT_EQ(out,
              "Site 0, constraints[-1  -1  -1  -1  -1 -1]\n\n"
              "Site 1, constraints[1  1  -1  0  0 2]\n\n");
    EXPECT_EQ(err, "");
    FindTemperatureConstraintsForCrystal(nullptr);
    freeRefinementCrystal(crystal);
}

}  // namespace

namespace {

// Sites of reference structures: corundum Al on the three-fold axis (site
// symmetry 3: U11 = U22 = 2·U12, U13 = U23 = 0), corundum O on a two-fold axis
// along a (U12 = U22/2, U13 = U23/2), rutile Ti and O on mmm and m.2m
// positions (U11 = U22, U13 = U23 = 0), and a general position of lowsym.
// For rutile the table's row of the x<->y mirror ties U12 to U13 (code 3),
// and the merge, traced by hand in either order of the operators, then
// zeroes U12 together with U13: the codes come out 1 1 -1 0 0 0.
TEST(SiteConstraints, SitesOfReferenceStructures) {
    struct Case {
        const char *structure;
        int site;
        Codes expected;
    };
    const Case cases[] = {
        {"corundum", 0, {1, 1, -1, 0, 0, 2}},
        {"corundum", 1, {-1, 1, -1, 3, 6, 2}},
        {"rutile", 0, {1, 1, -1, 0, 0, 0}},
        {"rutile", 1, {1, 1, -1, 0, 0, 0}},
        {"lowsym", 0, {-1, -1, -1, -1, -1, -1}},
    };
    for (const Case &c : cases) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(c.structure);
        ASSERT_NE(crystal, nullptr);
        const Site *site = static_cast<const Site *>(crystal->sites->items[c.site]);
        Codes codes{};
        EXPECT_TRUE(TemperatureConstraintsForASite(crystal, &site->x, codes.data()));
        EXPECT_EQ(codes, c.expected) << c.structure << " site " << c.site;
        freeRefinementCrystal(crystal);
    }
}

}  // namespace
