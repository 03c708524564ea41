// Grouping the sites of a crystal by the symbol of their first occupant.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "powderkit.h"

namespace {

Site *siteOf(std::initializer_list<const char *> symbols) {
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(2);
    for (const char *symbol : symbols) {
        addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(symbol, 1.0, nullptr));
    }
    return site;
}

RefinementCrystal *crystalOf(std::initializer_list<Site *> sites) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (Site *site : sites) addObjectToDynamicArray(crystal->sites, site);
    return crystal;
}

void freeGroups(HashTable *table) {
    for (int32_t i = 0; table != nullptr && i < table->capacity; ++i) {
        if (table->entries[i].key != nullptr) freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
    }
    freeHashTable(table);
}

// Grouping through the crystal's table, with what it printed.
HashTable *grouped(RefinementCrystal *crystal, std::string *err) {
    HashTable *table = nullptr;
    *err = pk_test::captureStderr([&] { table = crystal->methods->groupSitesByElement(crystal); });
    return table;
}

TEST(GroupSites, SitesGoUnderTheirFirstOccupantInCrystalOrder) {
    Site *o1 = siteOf({"O"}), *si = siteOf({"Si"}), *o2 = siteOf({"O", "F"}), *mixed = siteOf({"Fe3+", "Mg"});
    RefinementCrystal *crystal = crystalOf({o1, si, o2, mixed});
    std::string err;
    HashTable *table = grouped(crystal, &err);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(err, "");
    EXPECT_EQ(table->count, 3);
    auto *oxygen = static_cast<DynamicArray *>(pointerForKey(table, "O"));
    ASSERT_EQ(oxygen->count, 2);
    EXPECT_TRUE(oxygen->items[0] == o1 && oxygen->items[1] == o2);
    auto *silicon = static_cast<DynamicArray *>(pointerForKey(table, "Si"));
    EXPECT_TRUE(silicon->count == 1 && silicon->items[0] == si);
    EXPECT_NE(pointerForKey(table, "Fe3+"), nullptr);
    EXPECT_EQ(pointerForKey(table, "Fe"), nullptr);
    EXPECT_EQ(pointerForKey(table, "Mg"), nullptr);
    freeGroups(table);
    freeRefinementCrystal(crystal);
}

TEST(GroupSites, EmptySitesAreReportedAndSkipped) {
    EXPECT_EQ(groupSitesByElement(nullptr), nullptr);
    RefinementCrystal *noSites = makeEmptyRefinementCrystal();
    EXPECT_EQ(groupSitesByElement(noSites), nullptr);
    RefinementCrystal *onlyEmpty = crystalOf({siteOf({})});
    RefinementCrystal *someEmpty = crystalOf({siteOf({}), siteOf({"C"}), makeEmptySite()});
    std::string err;
    EXPECT_EQ(grouped(onlyEmpty, &err), nullptr);
    EXPECT_EQ(err, "Error: empty site detected!\n");
    HashTable *table = grouped(someEmpty, &err);
    EXPECT_EQ(err, "Error: empty site detected!\n");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, 1);
    freeGroups(table);
    for (RefinementCrystal *c : {onlyEmpty, someEmpty, noSites}) freeRefinementCrystal(c);
}

TEST(GroupSites, AllocationFailuresReturnNullAndLeakNothing) {
    RefinementCrystal *crystal = crystalOf({siteOf({"O"}), siteOf({"Si"}), siteOf({"O"})});
    const auto check = [](HashTable *table, bool failed) {
        EXPECT_EQ(table == nullptr, failed);
        EXPECT_TRUE(failed || table->count == 2);
        freeGroups(table);
    };
    EXPECT_GT(pk_test::forEachFailedAllocation([&] { return groupSitesByElement(crystal); }, check), 4);
    freeRefinementCrystal(crystal);
}

}  // namespace
