// HashTable: the djb2 slots, probing, duplicate keys, resizing at half load,
// the two messages, and lookups that end in a table without empty slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frame/frame.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

// The slot of a key worked out independently: h = 33 h + c from 5381, 32-bit.
uint32_t djb2(const std::string &key) {
    uint64_t h = 5381;
    for (unsigned char c : key) h = (h * 33 + c) % 4294967296ull;
    return static_cast<uint32_t>(h);
}

int32_t slotOf(const HashTable *table, const std::string &key) {
    for (int32_t i = 0; i < table->capacity; ++i) {
        if (table->entries[i].key != nullptr && key == table->entries[i].key) return i;
    }
    return -1;
}

TEST(HashTable, StoresKeysAtTheirHashSlotAsOwnCopies) {
    HashTable *table = makeHashTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->capacity, 1024);
    char key[] = "sigma1";
    int value = 0;
    setPointerForKey(&table, &value, key);
    EXPECT_EQ(slotOf(table, "sigma1"), static_cast<int32_t>(djb2("sigma1") % 1024));
    key[0] = 'S';
    EXPECT_EQ(pointerForKey(table, "sigma1"), &value);
    EXPECT_EQ(pointerForKey(table, "Sigma1"), nullptr);
    freeHashTable(table);
}

TEST(HashTable, EmptyKeyHashesTo5381) {
    HashTable *table = makeHashTable();
    int value = 0;
    setPointerForKey(&table, &value, "");
    EXPECT_EQ(slotOf(table, ""), static_cast<int32_t>(5381 % 1024));
    EXPECT_EQ(pointerForKey(table, ""), &value);
    freeHashTable(table);
}

TEST(HashTable, CollidingKeysAreBothFoundBeforeAndAfterAResize) {
    // Find two keys with the same slot in 16 slots, by the independent hash.
    std::vector<std::string> keys;
    for (int i = 0; keys.size() < 2 && i < 1000; ++i) {
        std::string candidate = "k" + std::to_string(i);
        if (djb2(candidate) % 16 == djb2("k0") % 16) keys.push_back(candidate);
    }
    ASSERT_EQ(keys.size(), 2u);
    HashTable *table = powderkit::makeHashTableWithCapacity(16);
    int first = 1, second = 2;
    setPointerForKey(&table, &first, keys[0].c_str());
    setPointerForKey(&table, &second, keys[1].c_str());
    EXPECT_EQ(slotOf(table, keys[1]), (slotOf(table, keys[0]) + 1) % 16);
    EXPECT_EQ(pointerForKey(table, keys[0].c_str()), &first);
    EXPECT_EQ(pointerForKey(table, keys[1].c_str()), &second);
    std::vector<int> fill(8);
    for (int i = 0; i < 8; ++i) setPointerForKey(&table, &fill[i], ("f" + std::to_string(i)).c_str());
    EXPECT_EQ(table->capacity, 32);
    EXPECT_EQ(table->count, 10);
    EXPECT_EQ(pointerForKey(table, keys[0].c_str()), &first);
    EXPECT_EQ(pointerForKey(table, keys[1].c_str()), &second);
    freeHashTable(table);
}

TEST(HashTable, ResizesWhenMoreThanHalfFull) {
    HashTable *table = makeHashTable();
    std::vector<int> values(513);
    for (int i = 0; i < 512; ++i) setPointerForKey(&table, &values[i], ("p" + std::to_string(i)).c_str());
    EXPECT_EQ(table->capacity, 1024);  // 512 is not more than half
    setPointerForKey(&table, &values[512], "p512");
    EXPECT_EQ(table->capacity, 2048);
    EXPECT_EQ(table->count, 513);
    for (int i = 0; i < 513; ++i) {
        ASSERT_EQ(pointerForKey(table, ("p" + std::to_string(i)).c_str()), &values[i]) << i;
    }
    freeHashTable(table);
}

TEST(HashTable, DuplicateKeysAreStoredTwiceAndTheFirstIsFound) {
    HashTable *table = makeHashTable();
    int first = 1, second = 2;
    setPointerForKey(&table, &first, "B0");
    setPointerForKey(&table, &second, "B0");
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(pointerForKey(table, "B0"), &first);
    freeHashTable(table);
}

TEST(HashTable, NullArgumentsAndEmptyTablesGiveNothing) {
    HashTable *table = makeHashTable();
    EXPECT_EQ(pointerForKey(table, "x"), nullptr);
    EXPECT_EQ(pointerForKey(nullptr, "x"), nullptr);
    EXPECT_EQ(pointerForKey(table, nullptr), nullptr);
    int value = 0;
    setPointerForKey(nullptr, &value, "x");
    HashTable *none = nullptr;
    setPointerForKey(&none, &value, "x");
    setPointerForKey(&table, &value, nullptr);
    EXPECT_EQ(table->count, 0);
    freeHashTable(table);
    freeHashTable(nullptr);
}

TEST(HashTable, FailedResizeKeepsTheOldTableWithItsMessage) {
    HashTable *table = powderkit::makeHashTableWithCapacity(2);
    int a = 1, b = 2;
    setPointerForKey(&table, &a, "a");
    HashTable *before = table;
    const std::string err = pk_test::captureStderr([&] {
        pk_test::failAllocationNumber(2);  // 1: the key copy, 2: the new table
        setPointerForKey(&table, &b, "b");
        pk_test::disarmAllocationFailure();
    });
    EXPECT_EQ(err, "Error: failed to resize hash table\n");
    EXPECT_EQ(table, before);
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(pointerForKey(table, "a"), &a);
    EXPECT_EQ(pointerForKey(table, "b"), &b);

    // Full now: a further key is refused, and an absent key's lookup ends.
    int c = 3;
    const std::string full = pk_test::captureStderr([&] { setPointerForKey(&table, &c, "c"); });
    EXPECT_EQ(full, "Error: hash table is full!\n");
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(pointerForKey(table, "c"), nullptr);
    freeHashTable(table);
}

TEST(HashTable, FailedCreationLeavesNothingBehind) {
    pk_test::forEachAllocationFailure([] { freeHashTable(makeHashTable()); });
    pk_test::forEachAllocationFailure([] {
        HashTable *table = powderkit::makeHashTableWithCapacity(2);
        int value = 0;
        setPointerForKey(&table, &value, "key");
        setPointerForKey(&table, &value, "other");
        freeHashTable(table);
    });
}

}  // namespace
