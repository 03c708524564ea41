// generateUnitCell on the reference structures gives each site the number of
// positions of its Wyckoff position, and the face-centred positions of NaCl
// are exactly the four of the F lattice.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "support/crystal_builder.hpp"

namespace {

TEST(ReferenceUnitCell, PositionsPerSiteAreTheWyckoffMultiplicities) {
    const std::map<std::string, std::vector<int32_t>> expected = {
        {"Si", {8}},       {"NaCl", {4, 4}},  {"CeO2", {4, 8}},  {"LaB6", {1, 6}},
        {"corundum", {12, 18}}, {"rutile", {2, 4}}, {"ZnO", {2, 2}}, {"lowsym", {4, 4, 4, 4}}};
    for (const auto &[name, counts] : expected) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        ASSERT_NE(crystal, nullptr);
        ASSERT_EQ(crystal->sites->count, static_cast<int32_t>(counts.size()));
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const auto *site = static_cast<const Site *>(crystal->sites->items[i]);
            EXPECT_EQ(site->atoms->count, counts[i]) << site->label;
            // The identity comes first, so the first position is the site itself.
            const auto *first = static_cast<const RefinementAtom *>(site->atoms->items[0]);
            EXPECT_EQ(first->x, site->x);
            EXPECT_EQ(first->symmetryOperator, crystal->symmetryOperators->items[0]);
        }
        freeRefinementCrystal(crystal);
    }
}

TEST(ReferenceUnitCell, FaceCentredPositionsOfSodium) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("NaCl");
    const auto *sodium = static_cast<const Site *>(crystal->sites->items[0]);
    std::vector<std::array<double, 3>> positions;
    for (int32_t i = 0; i < sodium->atoms->count; ++i) {
        const auto *atom = static_cast<const RefinementAtom *>(sodium->atoms->items[i]);
        positions.push_back({atom->x, atom->y, atom->z});
    }
    std::sort(positions.begin(), positions.end());
    const std::vector<std::array<double, 3>> expected = {
        {0.0, 0.0, 0.0}, {0.0, 0.5, 0.5}, {0.5, 0.0, 0.5}, {0.5, 0.5, 0.0}};
    EXPECT_EQ(positions, expected);
    freeRefinementCrystal(crystal);
}

TEST(ReferenceUnitCell, BuilderFillsTheCrystalAHostNeeds) {
    RefinementCrystal *zno = pk_test::makeReferenceCrystal("ZnO");
    EXPECT_EQ(zno->latticeType, 'P');
    EXPECT_EQ(zno->addFriedelMates, 1);  // P6₃mc has no inversion centre
    EXPECT_EQ(zno->symmetryOperators->count, 12);
    const auto *op = static_cast<const RefinementSymmetryOperator *>(zno->symmetryOperators->items[1]);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(zno->symmetryTranslations[1][i], op->translation[i]);
        ASSERT_NE(op->coordinateExpressions[i], nullptr);
    }
    const auto *zinc = static_cast<const Site *>(zno->sites->items[0]);
    EXPECT_STREQ(zinc->label, "Zn1");
    EXPECT_EQ(zinc->isIncluded, 1);
    EXPECT_EQ(zinc->displacement->uIso, 0.006);
    const auto *occupant = static_cast<const RefinementSiteOccupant *>(zinc->occupants->items[0]);
    EXPECT_STREQ(occupant->symbol, "Zn");
    EXPECT_EQ(occupant->occupancy, 1.0);
    EXPECT_EQ(static_cast<const Site *>(zno->sites->items[1])->similarityIndex, 1);
    freeRefinementCrystal(zno);

    int made = 0;
    RefinementCrystal *corundum = pk_test::makeReferenceCrystal("corundum", [&](const std::string &) {
        ++made;
        return makeRefinementAtomicScatteringFactor();
    });
    EXPECT_EQ(corundum->latticeType, 'R');
    EXPECT_EQ(corundum->addFriedelMates, 0);
    EXPECT_EQ(made, 2);
    const auto *aluminium = static_cast<const Site *>(corundum->sites->items[0]);
    EXPECT_NE(static_cast<const RefinementSiteOccupant *>(aluminium->occupants->items[0])->scatteringFactor,
              nullptr);
    // The coordinate expressions are the table's, e.g. the second operator of R-3c.
    const auto *second = static_cast<const RefinementSymmetryOperator *>(corundum->symmetryOperators->items[1]);
    EXPECT_EQ(second->coordinateExpressions[0][0], '-');
    freeRefinementCrystal(corundum);
    EXPECT_EQ(pk_test::makeReferenceCrystal("no such structure"), nullptr);
}

}  // namespace
