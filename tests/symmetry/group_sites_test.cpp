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
    if (table == nullptr) return;
    for (int32_t i = 0; i < table->capacity; ++i) {
        if (table->entries[i].key != nullptr) {
            freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
        }
    }
    freeHashTable(table);
}

TEST(GroupSites, SitesGoUnderTheirFirstOccupantInCrystalOrder) {
    Site *o1 = siteOf({"O"});
    Site *si = siteOf({"Si"});
    Site *o2 = siteOf({"O", "F"});
    Site *mixed = siteOf({"Fe3+", "Mg"});
    RefinementCrystal *crystal = crystalOf({o1, si, o2, mixed});
    HashTable *table = groupSitesByElement(crystal);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, 3);
    auto *oxygen = static_cast<DynamicArray *>(pointerForKey(table, "O"));
    ASSERT_NE(oxygen, nullptr);
    ASSERT_EQ(oxygen->count, 2);
    EXPECT_EQ(oxygen->items[0], o1);
    EXPECT_EQ(oxygen->items[1], o2);
    auto *silicon = static_cast<DynamicArray *>(pointerForKey(table, "Si"));
    ASSERT_EQ(silicon->count, 1);
    EXPECT_EQ(silicon->items[0], si);
    EXPECT_NE(pointerForKey(table, "Fe3+"), nullptr);
    EXPECT_EQ(pointerForKey(table, "Fe"), nullptr);
    EXPECT_EQ(pointerForKey(table, "Mg"), nullptr);
    freeGroups(table);
    freeRefinementCrystal(crystal);
}

TEST(GroupSites, EmptySitesAreReportedAndSkipped) {
    RefinementCrystal *onlyEmpty = crystalOf({siteOf({})});
    HashTable *none = nullptr;
    const std::string err = pk_test::captureStderr([&] { none = groupSitesByElement(onlyEmpty); });
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(err, "Error: empty site detected!\n");

    RefinementCrystal *someEmpty = crystalOf({siteOf({}), siteOf({"C"}), makeEmptySite()});
    HashTable *table = nullptr;
    const std::string again = pk_test::captureStderr([&] { table = groupSitesByElement(someEmpty); });
    EXPECT_EQ(again, "Error: empty site detected!\n");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, 1);
    freeGroups(table);

    EXPECT_EQ(groupSitesByElement(nullptr), nullptr);
    RefinementCrystal *noSites = makeEmptyRefinementCrystal();
    EXPECT_EQ(groupSitesByElement(noSites), nullptr);
    for (RefinementCrystal *c : {onlyEmpty, someEmpty, noSites}) freeRefinementCrystal(c);
}

TEST(GroupSites, AllocationFailuresReturnNullAndLeakNothing) {
    RefinementCrystal *crystal = crystalOf({siteOf({"O"}), siteOf({"Si"}), siteOf({"O"})});
    long n = 1;
    for (;; ++n) {
        pk_test::failAllocationNumber(n);
        HashTable *table = groupSitesByElement(crystal);
        const bool failureInjected = pk_test::allocationsCounted() >= n;
        pk_test::disarmAllocationFailure();
        if (!failureInjected) {
            ASSERT_NE(table, nullptr);
            EXPECT_EQ(table->count, 2);
            freeGroups(table);
            break;
        }
        EXPECT_EQ(table, nullptr) << "allocation " << n;
        freeGroups(table);
    }
    const long runs = n;
    EXPECT_GT(runs, 4);
    freeRefinementCrystal(crystal);
}

}  // namespace
