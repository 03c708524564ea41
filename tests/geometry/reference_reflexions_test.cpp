// Every reference structure, built and enumerated as a host does, yields
// exactly the independently computed reflexions with d ≥ 0.8 Å: the same
// sets of equivalent planes, with the same d-spacings and multiplicities.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/crystal_builder.hpp"
#include "support/reflexion_builder.hpp"
#include "support/test_data.hpp"

namespace {

// The tables print d with 8 decimals: half a unit of the last place.
constexpr double kTableDTolerance = 5.1e-9;

struct ReferenceReflexion {
    int32_t h, k, l, multiplicity;
    double d;
};

std::vector<ReferenceReflexion> referenceReflexions(const std::string &name) {
    std::vector<ReferenceReflexion> result;
    for (const auto &row : pk_test::readTable("reflexions/" + name + ".tsv")) {
        result.push_back({std::atoi(row[0].c_str()), std::atoi(row[1].c_str()),
                          std::atoi(row[2].c_str()), std::atoi(row[4].c_str()),
                          std::strtod(row[3].c_str(), nullptr)});
    }
    return result;
}

using Triple = std::tuple<int32_t, int32_t, int32_t>;

TEST(ReferenceReflexions, EveryStructureGivesTheTabulatedSetsOfPlanes) {
    const std::vector<std::string> names = pk_test::referenceStructureNames();
    ASSERT_EQ(names.size(), 8u);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        ASSERT_NE(crystal, nullptr);
        const std::vector<ReferenceReflexion> expected = referenceReflexions(name);
        ASSERT_FALSE(expected.empty());
        const int32_t count = pk_test::buildReflexionList(crystal, 0.8);
        ASSERT_EQ(count, static_cast<int32_t>(expected.size()));

        // Each plane of each built set (and its Friedel partner) names the set.
        std::map<Triple, int32_t> setOfPlane;
        for (int32_t i = 0; i < count; ++i) {
            const auto *r = static_cast<const Reflexion *>(crystal->reflexions->items[i]);
            if (i > 0) {
                EXPECT_GE(static_cast<const Reflexion *>(crystal->reflexions->items[i - 1])->dSpacing,
                          r->dSpacing);
            }
            int32_t planeCount = 0;
            int32_t *planes = planesRelatedBySymmetry(crystal, &r->h, 1, &planeCount);
            ASSERT_NE(planes, nullptr);
            for (int32_t p = 0; p < planeCount; ++p) {
                const int32_t *q = planes + 3 * p;
                setOfPlane[Triple(q[0], q[1], q[2])] = i;
                setOfPlane[Triple(-q[0], -q[1], -q[2])] = i;
            }
            std::free(planes);
        }

        std::vector<bool> matched(static_cast<std::size_t>(count), false);
        for (const ReferenceReflexion &e : expected) {
            const auto found = setOfPlane.find(Triple(e.h, e.k, e.l));
            ASSERT_NE(found, setOfPlane.end()) << e.h << " " << e.k << " " << e.l;
            const auto *r = static_cast<const Reflexion *>(crystal->reflexions->items[found->second]);
            EXPECT_FALSE(matched[static_cast<std::size_t>(found->second)]) << e.h << " " << e.k << " " << e.l;
            matched[static_cast<std::size_t>(found->second)] = true;
            EXPECT_NEAR(r->dSpacing, e.d, kTableDTolerance) << e.h << " " << e.k << " " << e.l;
            EXPECT_EQ(r->multiplicity, e.multiplicity) << e.h << " " << e.k << " " << e.l;
        }
        freeRefinementCrystal(crystal);
    }
}

// Σ multiplicities over the built list = the number of allowed planes with
// d ≥ dMin found by brute force in a box far wider than needed.
int64_t planesInABigBox(RefinementCrystal *crystal, double dMin) {
    int64_t count = 0;
    for (int32_t h = -16; h <= 16; ++h)
        for (int32_t k = -16; k <= 16; ++k)
            for (int32_t l = -16; l <= 16; ++l) {
                if (h == 0 && k == 0 && l == 0) continue;
                if (dSpacingForHKL(crystal, h, k, l) >= dMin &&
                    !pk_test::isSystematicallyAbsent(crystal, h, k, l)) {
                    ++count;
                }
            }
    return count;
}

TEST(ReferenceReflexions, NoSetOfPlanesIsLostAtTheEdgeOfTheBox) {
    // For lowsym at 0.7785 Å, s·a ≥ 8 > s / a*: the planes (±8 0 ∓2) lie
    // outside the box that maxNumRefs alone would give.
    const std::pair<const char *, double> cases[] = {{"lowsym", 0.7785}, {"lowsym", 0.8}, {"corundum", 0.8},
                                                     {"ZnO", 0.8}, {"Si", 0.8}};
    for (const auto &[name, dMin] : cases) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        const int32_t count = pk_test::buildReflexionList(crystal, dMin);
        int64_t planes = 0;
        for (int32_t i = 0; i < count; ++i) {
            planes += static_cast<const Reflexion *>(crystal->reflexions->items[i])->multiplicity;
        }
        EXPECT_EQ(planes, planesInABigBox(crystal, dMin)) << dMin;
        freeRefinementCrystal(crystal);
    }
}

TEST(ReferenceReflexions, ScrewAndGlideAbsencesNeedTheExactOperatorRule) {
    // Si (Fd-3m): 2 0 0 is absent by the d glide, 2 2 2 is allowed by the
    // space group (only the structure extinguishes it); rutile 0 0 1 is absent
    // by the 4₂ screw and the n glide, 1 0 1 allowed.
    RefinementCrystal *si = pk_test::makeReferenceCrystal("Si");
    EXPECT_TRUE(pk_test::isSystematicallyAbsent(si, 2, 0, 0));
    EXPECT_TRUE(pk_test::isSystematicallyAbsent(si, 4, 2, 0));
    EXPECT_FALSE(pk_test::isSystematicallyAbsent(si, 2, 2, 2));
    EXPECT_FALSE(pk_test::isSystematicallyAbsent(si, 2, 2, 0));
    freeRefinementCrystal(si);
    RefinementCrystal *rutile = pk_test::makeReferenceCrystal("rutile");
    EXPECT_TRUE(pk_test::isSystematicallyAbsent(rutile, 0, 0, 1));
    EXPECT_TRUE(pk_test::isSystematicallyAbsent(rutile, 1, 0, 0));
    EXPECT_FALSE(pk_test::isSystematicallyAbsent(rutile, 1, 0, 1));
    freeRefinementCrystal(rutile);
}

}  // namespace
