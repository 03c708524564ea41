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

RefinementSiteOccupant *occupant(Site *site, int i) {
    return static_cast<RefinementSiteOccupant *>(site->occupants->items[i]);
}

TEST(SiteStructure, OccupantsAndSitesCompareByTheFirstSitesOccupants) {
    // Equal only with byte-equal symbols and exactly equal occupancies.
    Site *four = siteWith({{"Fe", 0.5}, {"Fe", 0.5000001}, {"Fe", 0.5}, {"Fe3+", 0.5}});
    const bool equal[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(occupant(four, 0)->methods->siteOccupantsAreEqual(occupant(four, 0), occupant(four, i)), equal[i]);
    }
    // Every occupant of the first site must find a partner in the second.
    Site *iron = siteWith({{"Fe", 0.5}, {"Fe", 0.5}});
    Site *mixed = siteWith({{"Fe", 0.5}, {"Ni", 0.5}});
    Site *single = siteWith({{"Fe", 0.5}});
    Site *emptyA = siteWith({});
    Site *emptyB = siteWith({});
    Site *bare = makeEmptySite();
    EXPECT_TRUE(iron->methods->siteHasSameOccupants(iron, mixed));
    EXPECT_FALSE(powderkit::siteHasSameOccupants(mixed, iron));
    EXPECT_FALSE(powderkit::siteHasSameOccupants(iron, single));  // lengths differ
    EXPECT_TRUE(powderkit::siteHasSameOccupants(emptyA, emptyB));
    EXPECT_FALSE(powderkit::siteHasSameOccupants(bare, emptyA));
    EXPECT_FALSE(powderkit::siteHasSameOccupants(nullptr, emptyA));
    for (Site *s : {four, iron, mixed, single, emptyA, emptyB, bare}) powderkit::freeSite(s);
}

TEST(SiteStructure, SimilarityIndicesMarkRunsOfEqualNeighbours) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (const char *symbol : {"A", "A", "A", "B", "A"}) {
        addObjectToDynamicArray(crystal->sites, siteWith({{symbol, 1.0}}));
    }
    crystal->methods->calculateSimilarityIndices(crystal);
    const int32_t expected[] = {0, 0, 0, 3, 4};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(static_cast<Site *>(crystal->sites->items[i])->similarityIndex, expected[i]);
    calculateSimilarityIndices(nullptr);
    freeRefinementCrystal(crystal);
}

TEST(SiteStructure, ConstraintTextIsFormattedAndMustFit) {
    Site *site = makeEmptySite();
    site->label = "O1";
    site->constraintX = -1;
    site->constraintY = 12;
    const std::string text = "Atomic coordinate constraints for site O1  : [x = -1, y = 12, z =  0]";
    const int32_t fits = static_cast<int32_t>(text.size()) + 1;
    char buffer[100];
    ASSERT_TRUE(site->methods->describeSiteConstraints(site, buffer, fits));
    EXPECT_EQ(buffer, text);
    EXPECT_FALSE(powderkit::describeSiteConstraints(site, buffer, fits - 1));  // the NUL must fit too
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
