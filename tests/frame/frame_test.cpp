// The frame: process values, bounded formatting, int32 helpers, the dynamic array and
// the hash table (slots by an independent djb2, probing, resize past half load, full table).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/frame.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

TEST(Frame, ProcessValuesFormattingAndInt32Helpers) {
    EXPECT_EQ(powderkit::machineEpsilon, std::ldexp(1.0, -53));
    EXPECT_EQ(powderkit::zeroTolerance(), std::ldexp(1.0, -44));
    char buffer[100];
    EXPECT_EQ(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%s!", std::string(150, 'x').c_str()), 151);
    EXPECT_EQ(std::string(buffer), std::string(99, 'x'));  // cut to capacity − 1
    EXPECT_EQ(powderkit::multiplyInt32(65536, 65536), 0);  // 2^32 wraps
    EXPECT_EQ(powderkit::addInt32(2147483647, 1), -2147483647 - 1);
    const double inputs[] = {-2.9, 1e300, -1e300, std::nan("")}, truncated[] = {-2, 2147483647, -2147483648.0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(powderkit::truncateToInt32(inputs[i]), truncated[i]) << inputs[i];
}

TEST(DynamicArray, DoublesShrinksRegrowsAndSurvivesFailedGrowth) {
    std::vector<int> values(17);
    DynamicArray *array = makeDynamicArrayWithCapacity(16);
    for (int &value : values) addObjectToDynamicArray(array, &value);
    EXPECT_TRUE(array->count == 17 && array->capacity == 32);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 17);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(array->items[i], &values[i]);
    freeDynamicArray(array);
    shrinkDynamicArray(array = makeDynamicArrayWithCapacity(1));  // while empty: no storage, and room regained on the next add
    EXPECT_TRUE(array->capacity == 0 && array->items == nullptr);
    addObjectToDynamicArray(array, &values[0]);
    pk_test::failAllocationNumber(1);
    addObjectToDynamicArray(array, &values[1]);  // the growth fails: the array stays as it was
    pk_test::disarmAllocationFailure();
    EXPECT_TRUE(array->count == 1 && array->capacity == 1 && array->items[0] == &values[0]);
    freeDynamicArray(array);
    EXPECT_EQ(pk_test::forEachAllocationFailure([] { freeDynamicArray(makeDynamicArrayWithCapacity(8)); }), 3);
    addObjectToDynamicArray(nullptr, &values[0]), shrinkDynamicArray(nullptr), freeDynamicArray(nullptr), freeHashTable(nullptr);
}

uint32_t djb2(const std::string &key, uint64_t h = 5381) {  // h = 33 h + c from 5381, modulo 2^32
    return key.empty() ? uint32_t(h) : djb2(key.substr(1), (h * 33 + uint8_t(key[0])) % 4294967296ull);
}

int32_t slotOf(const HashTable *table, const std::string &key) {
    for (int32_t i = 0; i < table->capacity; ++i) if (table->entries[i].key && key == table->entries[i].key) return i;
    return -1;
}

TEST(HashTable, HashSlotsProbingAndTheResizePastHalfLoad) {
    std::vector<std::string> names;  // two keys of one slot in 1024, then others
    for (int i = 0; names.size() < 2; ++i)
        if (djb2("k" + std::to_string(i)) % 1024 == djb2("k0") % 1024) names.push_back("k" + std::to_string(i));
    for (int i = 2; i < 513; ++i) names.push_back("p" + std::to_string(i));
    HashTable *table = makeHashTable();
    std::vector<int> values(513);
    for (int i = 0; i < 513; ++i) {
        EXPECT_EQ(table->capacity, 1024);  // until the 513th entry
        setPointerForKey(&table, &values[i], names[i].c_str());
        if (i == 1) { EXPECT_EQ(slotOf(table, names[0]) * 1024 + slotOf(table, names[1]), int32_t(djb2(names[0]) % 1024) * 1025 + 1); }
    }
    EXPECT_TRUE(table->capacity == 2048 && table->count == 513);
    for (int i = 0; i < 513; ++i) ASSERT_EQ(pointerForKey(table, names[i].c_str()), &values[i]) << i;
    EXPECT_EQ(pointerForKey(table, "K0"), nullptr);
    freeHashTable(table);
}

// "a" and "c" share slot 0 of 2, so "c" is found on the second probe of a table left full by a failed resize.
TEST(HashTable, AFullTableRefusesKeysAndEndsItsSearches) {
    HashTable *table = powderkit::makeHashTableWithCapacity(2);
    int a = 1, c = 3;
    setPointerForKey(&table, &a, "a");
    HashTable *before = table;
    const std::string err = pk_test::captureStderr([&] {
        pk_test::failAllocationNumber(2);  // 1: the key copy, 2: the grown table
        setPointerForKey(&table, &c, "c");
        pk_test::disarmAllocationFailure();
    });
    EXPECT_EQ(err, "Error: failed to resize hash table\n");
    EXPECT_TRUE(table == before && slotOf(table, "c") == 1);
    EXPECT_TRUE(pointerForKey(table, "a") == &a && pointerForKey(table, "c") == &c && !pointerForKey(table, "e"));
    EXPECT_EQ(pk_test::captureStderr([&] { setPointerForKey(&table, &a, "b"); }), "Error: hash table is full!\n");
    freeHashTable(table);
}

}  // namespace
