// Allocation failures in the containers: makers give NULL, growth and shrink
// leave the array exactly as it was, a failed key copy drops the insertion,
// a failed resize keeps the old table (with its message) and every key in it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame/frame.hpp"
#include "support/output_capture.hpp"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

int gObjects[64];

DynamicArray *arrayOf(int32_t capacity, int32_t count) {
    DynamicArray *array = makeDynamicArrayWithCapacity(capacity);
    for (int32_t i = 0; i < count; ++i) addObjectToDynamicArray(array, &gObjects[i]);
    return array;
}

// The array holds gObjects[0 … count − 1] in order.
void expectElements(const DynamicArray *array, int32_t count) {
    ASSERT_EQ(array->count, count);
    ASSERT_GE(array->capacity, count);
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(array->items[i], &gObjects[i]) << i;
}

TEST(ContainerSweep, ArrayMakerGivesNullAndLeavesNothing) {
    const long allocations = sweepAllocations("makeDynamicArrayWithCapacity", [](Trial &t) {
        DynamicArray *array = nullptr;
        t.run([&] { array = makeDynamicArrayWithCapacity(5); });
        if (t.failed()) {
            EXPECT_EQ(array, nullptr);
        } else {
            ASSERT_NE(array, nullptr);
            EXPECT_EQ(array->capacity, 5);
        }
        freeDynamicArray(array);
    });
    EXPECT_EQ(allocations, 2);  // the record and its slots
}

TEST(ContainerSweep, FailedGrowthLeavesTheArrayAsItWasAndUsable) {
    sweepAllocations("addObjectToDynamicArray (growth)", [](Trial &t) {
        DynamicArray *array = arrayOf(4, 4);
        void **itemsBefore = array->items;
        t.run([&] { addObjectToDynamicArray(array, &gObjects[4]); });
        if (t.failed()) {
            expectElements(array, 4);
            EXPECT_EQ(array->capacity, 4);
            EXPECT_EQ(array->items, itemsBefore);
            addObjectToDynamicArray(array, &gObjects[4]);  // usable afterwards
        }
        expectElements(array, 5);
        EXPECT_EQ(array->capacity, 8);
        freeDynamicArray(array);
    });
    // An array shrunk while empty has no storage: its first addition allocates.
    sweepAllocations("addObjectToDynamicArray (after an empty shrink)", [](Trial &t) {
        DynamicArray *array = arrayOf(4, 0);
        shrinkDynamicArray(array);
        t.run([&] { addObjectToDynamicArray(array, &gObjects[0]); });
        if (t.failed()) {
            EXPECT_EQ(array->count, 0);
            addObjectToDynamicArray(array, &gObjects[0]);
        }
        expectElements(array, 1);
        freeDynamicArray(array);
    });
}

TEST(ContainerSweep, FailedShrinkKeepsEveryElement) {
    sweepAllocations("shrinkDynamicArray", [](Trial &t) {
        DynamicArray *array = arrayOf(16, 3);
        t.run([&] { shrinkDynamicArray(array); });
        expectElements(array, 3);
        if (!t.failed()) {
            EXPECT_EQ(array->capacity, 3);
        }
        for (int32_t i = 3; i < 20; ++i) addObjectToDynamicArray(array, &gObjects[i]);
        expectElements(array, 20);
        freeDynamicArray(array);
    });
}

TEST(ContainerSweep, TableMakerGivesNull) {
    const long allocations = sweepAllocations("makeHashTable", [](Trial &t) {
        HashTable *table = nullptr;
        t.run([&] { table = makeHashTable(); });
        if (t.failed()) {
            EXPECT_EQ(table, nullptr);
        } else {
            ASSERT_NE(table, nullptr);
            EXPECT_EQ(table->capacity, 1024);
        }
        freeHashTable(table);
    });
    EXPECT_EQ(allocations, 2);
}

// A table of 1024 slots holding 512 keys: the next insertion resizes.
HashTable *tableAtHalfLoad() {
    HashTable *table = makeHashTable();
    for (int i = 0; i < 512; ++i) {
        setPointerForKey(&table, &gObjects[i % 64], ("k" + std::to_string(i)).c_str());
    }
    return table;
}

TEST(ContainerSweep, FailedInsertionsKeepTheTableAndItsKeys) {
    sweepAllocations("setPointerForKey (with resize)", [](Trial &t) {
        HashTable *table = tableAtHalfLoad();
        HashTable *const before = table;
        std::string output;
        t.run([&] {
            output = pk_test::captureStderr(
                [&] { setPointerForKey(&table, &gObjects[63], "new key"); });
        });
        ASSERT_NE(table, nullptr);
        const bool stored = pointerForKey(table, "new key") == &gObjects[63];
        if (!t.failed()) {
            EXPECT_TRUE(stored);
            EXPECT_EQ(table->capacity, 2048);
            EXPECT_EQ(output, "");
        } else if (!stored) {  // the key copy failed: nothing changed, nothing said
            EXPECT_EQ(table, before);
            EXPECT_EQ(table->count, 512);
            EXPECT_EQ(output, "");
        } else {  // the resize failed: the old table keeps the new entry
            EXPECT_EQ(table, before);
            EXPECT_EQ(table->capacity, 1024);
            EXPECT_EQ(table->count, 513);
            EXPECT_EQ(output, "Error: failed to resize hash table\n");
        }
        for (int i = 0; i < 512; ++i) {
            EXPECT_EQ(pointerForKey(table, ("k" + std::to_string(i)).c_str()), &gObjects[i % 64]);
        }
        // Usable afterwards: the next insertion stores (and resizes if due).
        setPointerForKey(&table, &gObjects[0], "after");
        EXPECT_EQ(pointerForKey(table, "after"), &gObjects[0]);
        EXPECT_EQ(table->capacity, 2048);
        freeHashTable(table);
    });
}

}  // namespace
