// HashTable: the djb2 slots, probing, duplicate keys, resizing past half load,
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

std::string key(char prefix, int i) { return prefix + std::to_string(i); }

TEST(HashTable, KeysSitAtTheirHashSlotAsOwnCopies) {
    HashTable *table = makeHashTable();
    int a = 1, b = 2;
    EXPECT_EQ(pointerForKey(table, "x"), nullptr);  // no entries yet
    char name[] = "sigma1";
    setPointerForKey(&table, &a, name);
    name[0] = 'S';
    setPointerForKey(&table, &a, "");
    setPointerForKey(&table, &b, "sigma1");  // stored a second time; the first is found
    for (const char *k : {"sigma1", ""}) EXPECT_EQ(slotOf(table, k), int32_t(djb2(k) % 1024)) << k;
    EXPECT_EQ(table->count, 3);
    EXPECT_EQ(pointerForKey(table, "sigma1"), &a);
    EXPECT_EQ(pointerForKey(table, ""), &a);
    EXPECT_EQ(pointerForKey(table, "Sigma1"), nullptr);
    HashTable *none = nullptr;
    setPointerForKey(nullptr, &a, "x");
    setPointerForKey(&none, &a, "x");
    setPointerForKey(&table, &a, nullptr);
    EXPECT_EQ(table->count, 3);
    EXPECT_EQ(pointerForKey(nullptr, "x"), nullptr);
    EXPECT_EQ(pointerForKey(table, nullptr), nullptr);
    freeHashTable(table);
    freeHashTable(nullptr);
}

TEST(HashTable, CollidingKeysProbeOnAndSurviveTheResizePastHalfLoad) {
    std::vector<std::string> names;  // two keys of one slot in 1024, by the independent hash
    for (int i = 0; names.size() < 2; ++i) {
        if (djb2(key('k', i)) % 1024 == djb2("k0") % 1024) names.push_back(key('k', i));
    }
    for (int i = 2; i < 513; ++i) names.push_back(key('p', i));
    HashTable *table = makeHashTable();
    std::vector<int> values(513);
    for (int i = 0; i < 513; ++i) {
        EXPECT_EQ(table->capacity, 1024);  // until the 513th entry
        setPointerForKey(&table, &values[i], names[i].c_str());
        if (i == 1) {
            EXPECT_EQ(slotOf(table, names[1]), (slotOf(table, names[0]) + 1) % 1024);
        }
    }
    EXPECT_EQ(table->capacity, 2048);
    EXPECT_EQ(table->count, 513);
    for (int i = 0; i < 513; ++i) ASSERT_EQ(pointerForKey(table, names[i].c_str()), &values[i]) << i;
    freeHashTable(table);
}

TEST(HashTable, FailedResizeKeepsTheOldTableUntilItIsFull) {
    HashTable *table = powderkit::makeHashTableWithCapacity(2);
    int a = 1, b = 2, c = 3;
    setPointerForKey(&table, &a, "a");
    HashTable *before = table;
    const std::string err = pk_test::captureStderr([&] {
        pk_test::failAllocationNumber(2);  // 1: the key copy, 2: the new table
        setPointerForKey(&table, &b, "b");
        pk_test::disarmAllocationFailure();
    });
    EXPECT_EQ(err, "Error: failed to resize hash table\n");
    EXPECT_EQ(table, before);
    EXPECT_EQ(pointerForKey(table, "a"), &a);
    EXPECT_EQ(pointerForKey(table, "b"), &b);
    // Full now: a further key is refused, and an absent key's lookup ends.
    EXPECT_EQ(pk_test::captureStderr([&] { setPointerForKey(&table, &c, "c"); }), "Error: hash table is full!\n");
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(pointerForKey(table, "c"), nullptr);
    freeHashTable(table);

    pk_test::forEachAllocationFailure([] {
        HashTable *small = powderkit::makeHashTableWithCapacity(2);
        int value = 0;
        setPointerForKey(&small, &value, "key");
        setPointerForKey(&small, &value, "other");
        freeHashTable(small);
    });
}

}  // namespace
