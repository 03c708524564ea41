// generateUnitCell on the reference structures gives each site the number of
// positions of its Wyckoff position. (Where the positions lie is checked by
// the structure factors of the same structures.)
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/reference_phases.hpp"

namespace {

TEST(ReferenceUnitCell, PositionsPerSiteAreTheWyckoffMultiplicities) {
    const std::map<std::string, std::vector<int32_t>> expected = {
        {"Si", {8}},       {"NaCl", {4, 4}},  {"CeO2", {4, 8}},  {"LaB6", {1, 6}},
        {"corundum", {12, 18}}, {"rutile", {2, 4}}, {"ZnO", {2, 2}}, {"lowsym", {4, 4, 4, 4}}};
    for (const auto &[name, counts] : expected) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
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

}  // namespace
