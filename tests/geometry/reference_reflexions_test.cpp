// Every reference structure, built and enumerated as a host does, yields
// exactly the independently computed reflexions with d ≥ 0.8 Å: the same
// sets of equivalent planes, with the same d-spacings and multiplicities.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/crystal_builder.hpp"
#include "support/reflexion_builder.hpp"
#include "support/test_data.hpp"

namespace {

using Triple = std::tuple<int32_t, int32_t, int32_t>;

const Reflexion *reflexionAt(const RefinementCrystal *crystal, int32_t i) {
    return static_cast<const Reflexion *>(crystal->reflexions->items[i]);
}

TEST(ReferenceReflexions, EveryStructureGivesTheTabulatedSetsOfPlanes) {
    const std::vector<std::string> names = pk_test::referenceStructureNames();
    ASSERT_EQ(names.size(), 8u);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        const auto rows = pk_test::readTable("reflexions/" + name + ".tsv");  // h k l d multiplicity …
        const int32_t count = pk_test::buildReflexionList(crystal, 0.8);
        ASSERT_EQ(count, static_cast<int32_t>(rows.size()));
        // Each plane of each built set (and its Friedel partner) names the set.
        std::map<Triple, int32_t> setOfPlane;
        for (int32_t i = 0; i < count; ++i) {
            const Reflexion *r = reflexionAt(crystal, i);
            EXPECT_GE(reflexionAt(crystal, i > 0 ? i - 1 : 0)->dSpacing, r->dSpacing);  // largest d first
            int32_t planeCount = 0;
            int32_t *planes = planesRelatedBySymmetry(crystal, &r->h, 1, &planeCount);
            for (int32_t p = 0; p < planeCount; ++p) {
                const int32_t *q = planes + 3 * p;
                setOfPlane[Triple(q[0], q[1], q[2])] = setOfPlane[Triple(-q[0], -q[1], -q[2])] = i;
            }
            std::free(planes);
        }
        std::vector<bool> matched(static_cast<std::size_t>(count), false);
        for (const auto &row : rows) {
            SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2]);
            const auto found = setOfPlane.find(Triple(std::stoi(row[0]), std::stoi(row[1]), std::stoi(row[2])));
            ASSERT_NE(found, setOfPlane.end());
            EXPECT_FALSE(matched[static_cast<std::size_t>(found->second)]);
            matched[static_cast<std::size_t>(found->second)] = true;
            // The table prints d with 8 decimals: half a unit of the last place.
            EXPECT_NEAR(reflexionAt(crystal, found->second)->dSpacing, std::stod(row[3]), 5.1e-9);
            EXPECT_EQ(reflexionAt(crystal, found->second)->multiplicity, std::stoi(row[4]));
        }
        freeRefinementCrystal(crystal);
    }
}

}  // namespace
