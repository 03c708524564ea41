// The frame: process values, bounded formatting, int32 helpers, the dynamic array and the hash table.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/frame.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

TEST(Frame, ProcessValuesFormattingAndInt32Helpers) {
    EXPECT_TRUE(powderkit::machineEpsilon == std::ldexp(1.0, -53) && powderkit::zeroTolerance() == std::ldexp(1, -44));
    char buffer[100];
    EXPECT_EQ(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%s!", std::string(150, 'x').c_str()), 151);
    EXPECT_EQ(std::string(buffer), std::string(99, 'x'));  // cut to capacity − 1
    EXPECT_TRUE(powderkit::multiplyInt32(65536, 65536) == 0 && powderkit::addInt32(INT32_MAX, 1) == INT32_MIN);
    const double inputs[] = {-2.9, 1e300, -1e300, NAN}, truncated[] = {-2, 2147483647, -2147483648.0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(powderkit::truncateToInt32(inputs[i]), truncated[i]) << inputs[i];
}

TEST(DynamicArray, DoublesShrinksAndRegrows) {
    std::vector<int> values(17);
    DynamicArray *array = makeDynamicArrayWithCapacity(16);
    for (int &value : values) addObjectToDynamicArray(array, &value);
    EXPECT_TRUE(array->count == 17 && array->capacity == 32);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 17);
    freeDynamicArray(array);
    array = makeDynamicArrayWithCapacity(1);
    shrinkDynamicArray(array);
    EXPECT_TRUE(array->capacity == 0 && array->items == nullptr);
    addObjectToDynamicArray(array, &values[0]);
    EXPECT_TRUE(array->count == 1 && array->capacity == 1 && array->items[0] == &values[0]);
    freeDynamicArray(array);
}

uint32_t djb2(const std::string &key, uint32_t h = 5381) {  // h = 33 h + c from 5381, modulo 2^32
    return key.empty() ? h : djb2(key.substr(1), h * 33 + uint8_t(key[0]));
}

// Slots by djb2; a second key of one slot in 1024 probes on; the 513th entry doubles the table.
TEST(HashTable, HashSlotsProbingAndTheResizePastHalfLoad) {
    const int32_t slot = int32_t(djb2("k0") % 1024);
    std::vector<std::string> names = {"k0"};
    for (int i = 1; names.size() < 2; ++i)
        if (int32_t(djb2("k" + std::to_string(i)) % 1024) == slot) names.push_back("k" + std::to_string(i));
    for (int i = 2; i < 513; ++i) names.push_back("p" + std::to_string(i));
    HashTable *table = makeHashTable();
    const auto keyAt = [&table](int32_t i) { return std::string(table->entries[i].key ? table->entries[i].key : ""); };
    for (int i = 0; i < 513; ++i) {
        EXPECT_TRUE(table->capacity == 1024 && (i != 2 || (keyAt(slot) == "k0" && keyAt(slot + 1) == names[1]))) << i;
        setPointerForKey(&table, &names[i], names[i].c_str());
    }
    EXPECT_TRUE(table->capacity == 2048 && table->count == 513);
    for (int i = 0; i < 513; ++i) ASSERT_EQ(pointerForKey(table, names[i].c_str()), &names[i]) << i;
    freeHashTable(table);
}

// "a" and "c" share slot 0 of 2: "c" is found on the second probe of a table left full by a failed resize.
TEST(HashTable, AFullTableRefusesKeysAndEndsItsSearches) {
    HashTable *table = powderkit::makeHashTableWithCapacity(2);
    const auto keyAt = [&table](int32_t i) { return std::string(table->entries[i].key ? table->entries[i].key : ""); };
    int a = 1, c = 3;
    setPointerForKey(&table, &a, "a");
    const std::string err = pk_test::captureStderr([&] {
        pk_test::failAllocationNumber(2);  // 1: the key copy, 2: the grown table
        setPointerForKey(&table, &c, "c");
        pk_test::disarmAllocationFailure();
    });
    EXPECT_TRUE(err == "Error: failed to resize hash table\n" && table->capacity == 2 && keyAt(1) == "c");
    EXPECT_TRUE(pointerForKey(table, "a") == &a && pointerForKey(table, "c") == &c && !pointerForKey(table, "e"));
    EXPECT_EQ(pk_test::captureStderr([&] { setPointerForKey(&table, &a, "b"); }), "Error: hash table is full!\n");
    freeHashTable(table);
}

}  // namespace
