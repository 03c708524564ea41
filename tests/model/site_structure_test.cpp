// Site comparisons, similarity runs and the constraint description.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "model/model.hpp"

namespace {

Site *siteWith(const std::vector<std::pair<const char *, double>> &occupants) {
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(2);
    for (const auto &[symbol, occupancy] : occupants) {
        addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(symbol, occupancy, nullptr));
    }
    return site;
}

TEST(SiteStructure, OccupantsAreEqualOnlyWithTheSameSymbolAndOccupancy) {
    RefinementSiteOccupant *a = makeRefinementSiteOccupant("Fe", 0.5, nullptr);
    RefinementSiteOccupant *b = makeRefinementSiteOccupant("Fe", 0.5000001, nullptr);
    RefinementSiteOccupant *c = makeRefinementSiteOccupant("Fe", 0.5, nullptr);
    RefinementSiteOccupant *d = makeRefinementSiteOccupant("Fe3+", 0.5, nullptr);
    EXPECT_FALSE(a->methods->siteOccupantsAreEqual(a, b));
    EXPECT_TRUE(a->methods->siteOccupantsAreEqual(a, c));
    EXPECT_FALSE(a->methods->siteOccupantsAreEqual(a, d));
    for (auto *o : {a, b, c, d}) powderkit::freeRefinementSiteOccupant(o);
}

TEST(SiteStructure, SameOccupantsIsAskedOfTheFirstSitesOccupants) {
    Site *iron = siteWith({{"Fe", 0.5}, {"Fe", 0.5}});
    Site *mixed = siteWith({{"Fe", 0.5}, {"Ni", 0.5}});
    EXPECT_TRUE(iron->methods->siteHasSameOccupants(iron, mixed));
    EXPECT_FALSE(mixed->methods->siteHasSameOccupants(mixed, iron));

    Site *single = siteWith({{"Fe", 0.5}});
    EXPECT_FALSE(powderkit::siteHasSameOccupants(iron, single));  // lengths differ
    Site *emptyA = siteWith({});
    Site *emptyB = siteWith({});
    EXPECT_TRUE(powderkit::siteHasSameOccupants(emptyA, emptyB));
    Site *bare = makeEmptySite();
    EXPECT_FALSE(powderkit::siteHasSameOccupants(bare, emptyA));
    EXPECT_FALSE(powderkit::siteHasSameOccupants(nullptr, emptyA));
    for (Site *s : {iron, mixed, single, emptyA, emptyB, bare}) powderkit::freeSite(s);
}

TEST(SiteStructure, SimilarityIndicesMarkRunsOfEqualNeighbours) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (const char *symbol : {"A", "A", "B", "A"}) {
        addObjectToDynamicArray(crystal->sites, siteWith({{symbol, 1.0}}));
    }
    calculateSimilarityIndices(crystal);
    std::vector<int32_t> indices;
    for (int i = 0; i < 4; ++i) indices.push_back(static_cast<Site *>(crystal->sites->items[i])->similarityIndex);
    EXPECT_EQ(indices, (std::vector<int32_t>{0, 0, 2, 3}));
    calculateSimilarityIndices(nullptr);
    freeRefinementCrystal(crystal);
}

TEST(SiteStructure, ConstraintTextIsFormattedAndMustFit) {
    Site *site = makeEmptySite();
    site->label = "O1";
    site->constraintX = -1;
    site->constraintY = 12;
    site->constraintZ = 0;
    char buffer[100];
    ASSERT_TRUE(site->methods->describeSiteConstraints(site, buffer, 100));
    EXPECT_STREQ(buffer, "Atomic coordinate constraints for site O1  : [x = -1, y = 12, z =  0]");

    char small[10];
    std::memset(small, 'z', sizeof small);
    EXPECT_FALSE(powderkit::describeSiteConstraints(site, small, 10));
    EXPECT_EQ(std::string(small), "Atomic co");

    EXPECT_FALSE(powderkit::describeSiteConstraints(site, buffer, 0));
    EXPECT_FALSE(powderkit::describeSiteConstraints(site, nullptr, 100));
    site->label = nullptr;
    EXPECT_FALSE(powderkit::describeSiteConstraints(site, buffer, 100));
    powderkit::freeSite(site);
}

}  // namespace
