// Allocation failures in the derivative tables: a builder whose table cannot
// be made gives NULL; one whose key copies or resize fail gives a table that
// lacks those keys, every entry it does hold being the right function.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "powderkit.h"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

void sweepTable(const char *name, const std::function<HashTable *()> &build) {
    HashTable *reference = build();
    ASSERT_NE(reference, nullptr);
    ASSERT_GT(reference->count, 0);
    sweepAllocations(name, [&](Trial &t) {
        HashTable *table = nullptr;
        t.run([&] { table = build(); });
        if (table == nullptr) {
            EXPECT_TRUE(t.failed());
            return;
        }
        int32_t found = 0;
        for (int32_t i = 0; i < reference->capacity; ++i) {
            const char *key = reference->entries[i].key;
            if (key == nullptr) continue;
            void *value = pointerForKey(table, key);
            if (value == nullptr) continue;
            EXPECT_EQ(value, reference->entries[i].value) << key;
            found += 1;
        }
        EXPECT_EQ(found, table->count);
        if (!t.failed()) {
            EXPECT_EQ(found, reference->count);
        }
        freeHashTable(table);
    });
    freeHashTable(reference);
}

TEST(DerivativeTableSweep, TablesAreNullOrHoldOnlyRightEntries) {
    sweepTable("BackgroundDerivativesHashTable", BackgroundDerivativesHashTable);
    sweepTable("ReflexionDerivativesHashTable", ReflexionDerivativesHashTable);
    for (int32_t type = 0; type < 5; ++type) {
        const std::string name = "ProfileDerivativesHashTable (type " + std::to_string(type) + ")";
        sweepTable(name.c_str(), [type] { return ProfileDerivativesHashTable(type); });
    }
}

}  // namespace
