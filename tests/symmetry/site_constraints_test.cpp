// Displacement constraints from site symmetry. Expected codes are the
// textbook restrictions on U for each site symmetry (for example, on a
// three-fold axis along c: U11 = U22, U12 = U11/2, U13 = U23 = 0), written in
// the library's code convention, not read back from the table.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/reference_phases.hpp"
#include "support/output_capture.hpp"

namespace {

using Codes = std::array<int32_t, 6>;  // U11 U22 U33 U23 U13 U12
using Rotation = std::array<int32_t, 9>;

const Codes kFree = {-1, -1, -1, -1, -1, -1};
const Rotation kOne = {1, 0, 0, 0, 1, 0, 0, 0, 1}, kBar = {-1, 0, 0, 0, -1, 0, 0, 0, -1};
const Rotation kTwoZ = {-1, 0, 0, 0, -1, 0, 0, 0, 1}, kMirrorZ = {1, 0, 0, 0, 1, 0, 0, 0, -1};
const Rotation kThreeZ = {0, -1, 0, 1, -1, 0, 0, 0, 1}, kThreeZ2 = {-1, 1, 0, -1, 0, 0, 0, 0, 1};
const Rotation kThree111 = {0, 0, 1, 1, 0, 0, 0, 1, 0}, kThree111Squared = {0, 1, 0, 0, 0, 1, 1, 0, 0};
const Rotation kFourZ = {0, -1, 0, 1, 0, 0, 0, 0, 1};

// A crystal with these rotations, the first translated by `shift` along x.
RefinementCrystal *crystalWith(const std::vector<Rotation> &rotations, double shift = 0.0) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (const Rotation &r : rotations) {
        RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
        for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = r[static_cast<std::size_t>(i)];
        addObjectToDynamicArray(crystal->symmetryOperators, op);
    }
    static_cast<RefinementSymmetryOperator *>(crystal->symmetryOperators->items[0])->translation[0] = shift;
    return crystal;
}

TEST(SiteConstraints, CodesOfSiteSymmetries) {
    const struct {
        std::vector<Rotation> rotations;
        double shift, x, y, z;
        Codes expected;
    } cases[] = {
        {{kOne, kBar, kTwoZ}, 0, 0.1, 0.2, 0.3, kFree},                   // general position
        {{kOne, kBar, kTwoZ}, 0, 0.0, 0.0, 0.3, {-1, -1, -1, 0, 0, -1}},  // on the two-fold axis only
        {{kOne, kBar}, 0, 0.5, 0.5, 0.0, kFree},                           // inversion centre
        {{kOne, kThreeZ, kThreeZ2}, 0, 0.0, 0.0, 0.35, {1, 1, -1, 0, 0, 2}},  // U11 = U22 = 2 U12
        {{kOne, kThreeZ, kThreeZ2}, 0, 0.3, 0.1, 0.35, kFree},
        {{kOne, kThree111, kThree111Squared}, 0, 0.2, 0.2, 0.2, {1, 1, 1, 3, 3, 3}},  // Uii equal, Uij equal
        {{kOne, kTwoZ, kMirrorZ, kBar}, 0, 0.0, 0.0, 0.0, {-1, -1, -1, 0, 0, -1}},    // 2/m: only tighter
        {{kOne, kFourZ, kTwoZ}, 0, 0.0, 0.0, 0.1, {1, 1, -1, 0, 0, 0}},  // 4: U11 = U22, off-diagonal 0
        {{kMirrorZ}, 1.0, 0.2, 0.3, 0.0, {-1, -1, -1, 0, 0, -1}},  // x + 1 folds back onto x = 0.2 …
        {{kMirrorZ}, 2.0, 0.2, 0.3, 0.0, kFree},                     // … x + 2 is folded once only
    };
    for (const auto &c : cases) {
        RefinementCrystal *crystal = crystalWith(c.rotations, c.shift);
        const double site[3] = {c.x, c.y, c.z};
        Codes codes{};
        EXPECT_TRUE(TemperatureConstraintsForASite(crystal, site, codes.data()));
        EXPECT_EQ(codes, c.expected) << c.rotations.size() << " operators, site " << c.x << " " << c.y << " " << c.z;
        freeRefinementCrystal(crystal);
    }
}

// Corundum Al on the three-fold axis (site symmetry 3: U11 = U22 = 2·U12,
// U13 = U23 = 0), corundum O on a two-fold axis along a (U12 = U22/2,
// U13 = U23/2), rutile Ti and O on mmm and m.2m positions (U11 = U22,
// U13 = U23 = 0), and a general position of lowsym. For rutile the table's
// row of the x<->y mirror ties U12 to U13 (code 3), and the merge, traced by
// hand in either order of the operators, then zeroes U12 together with U13.
TEST(SiteConstraints, SitesOfReferenceStructures) {
    const struct {
        const char *structure;
        int site;
        Codes expected;
    } cases[] = {
        {"corundum", 0, {1, 1, -1, 0, 0, 2}}, {"corundum", 1, {-1, 1, -1, 3, 6, 2}}, {"rutile", 0, {1, 1, -1, 0, 0, 0}},
        {"rutile", 1, {1, 1, -1, 0, 0, 0}},   {"lowsym", 0, kFree},
    };
    for (const auto &c : cases) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(c.structure);
        Codes codes{};
        EXPECT_TRUE(TemperatureConstraintsForASite(crystal, &static_cast<Site *>(crystal->sites->items[c.site])->x,
                                                   codes.data()));
        EXPECT_EQ(codes, c.expected) << c.structure << " site " << c.site;
        freeRefinementCrystal(crystal);
    }
}

TEST(SiteConstraints, MissingArgumentsAndTheListingOnStandardOutput) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    const double site[3] = {0, 0, 0};
    Codes codes{5, 5, 5, 5, 5, 5};
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, site, codes.data()));  // no operator list
    EXPECT_EQ(codes, kFree);
    codes.fill(5);
    EXPECT_FALSE(TemperatureConstraintsForASite(nullptr, site, codes.data()));
    EXPECT_EQ(codes, kFree);  // the codes are still made free
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, nullptr, codes.data()));
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, site, nullptr));
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    EXPECT_TRUE(TemperatureConstraintsForASite(crystal, site, codes.data()));  // empty list
    EXPECT_EQ(codes, kFree);
    freeRefinementCrystal(crystal);
    FindTemperatureConstraintsForCrystal(nullptr);

    crystal = crystalWith({kOne, kThreeZ, kThreeZ2});
    crystal->sites = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->sites, makeEmptySite());
    addObjectToDynamicArray(crystal->sites, makeEmptySite());
    static_cast<Site *>(crystal->sites->items[0])->x = 0.3;  // off the axis
    std::string err;
    const std::string out = pk_test::captureStdout(
        [&] { err = pk_test::captureStderr([&] { FindTemperatureConstraintsForCrystal(crystal); }); });
    EXPECT_EQ(out, "Site 0, constraints[-1  -1  -1  -1  -1 -1]\n\nSite 1, constraints[1  1  -1  0  0 2]\n\n");
    EXPECT_EQ(err, "");
    freeRefinementCrystal(crystal);
}

}  // namespace
