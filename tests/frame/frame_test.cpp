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
    char buffer[4];  // cut to capacity − 1, the full length returned
    EXPECT_TRUE(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%d!", 12345) == 6 && std::string(buffer) == "123");
    EXPECT_TRUE(powderkit::multiplyInt32(65536, 65536) == 0 && powderkit::addInt32(INT32_MAX, 1) == INT32_MIN);
    const double inputs[] = {-2.9, 1e300, -1e300, NAN}, truncated[] = {-2, 2147483647, -2147483648.0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(powderkit::truncateToInt32(inputs[i]), truncated[i]) << inputs[i];
}

TEST(DynamicArray, DoublesShrinksAndRegrows) {
    std::vector<int> values(17);
    DynamicArray *array = makeDynamicArrayWithCapacity(1);
    shrinkDynamicArray(array);  // empty: the storage is released
    EXPECT_TRUE(array->capacity == 0 && array->items == nullptr);
    addObjectToDynamicArray(array, nullptr);  // a NULL element is refused
    addObjectToDynamicArray(array, &values[0]);
    EXPECT_TRUE(array->count == 1 && array->capacity == 1);
    for (int i = 1; i < 17; ++i) addObjectToDynamicArray(array, &values[i]);
    EXPECT_TRUE(array->count == 17 && array->capacity == 32);
    shrinkDynamicArray(array);
    EXPECT_TRUE(array->capacity == 17 && array->items[0] == &values[0] && array->items[16] == &values[16]);
    freeDynamicArray(array);
    shrinkDynamicArray(nullptr);  // NULL containers and keys are ignored; zero capacities are refused
    addObjectToDynamicArray(nullptr, &values[0]);
    freeDynamicArray(nullptr);
    freeHashTable(nullptr);
    setPointerForKey(nullptr, &values[0], "k");
    EXPECT_TRUE(!makeDynamicArrayWithCapacity(0) && !powderkit::makeHashTableWithCapacity(0));
    EXPECT_EQ(pointerForKey(nullptr, "k"), nullptr);
}

std::string keyAt(const HashTable *table, int32_t i) { return table->entries[i].key ? table->entries[i].key : ""; }

// djb2 by hand puts "k0" and "k1087" in slot 64 of 1024, the second probes on to 65; the 513th entry doubles it.
TEST(HashTable, HashSlotsProbingAndTheResizePastHalfLoad) {
    std::vector<std::string> names = {"k0", "k1087"};
    for (int i = 2; i < 513; ++i) names.push_back("p" + std::to_string(i));
    HashTable *table = makeHashTable();
    for (int i = 0; i < 512; ++i) setPointerForKey(&table, &names[i], names[i].c_str());
    EXPECT_TRUE(table->capacity == 1024 && keyAt(table, 64) == "k0" && keyAt(table, 65) == "k1087");
    setPointerForKey(&table, &names[512], names[512].c_str());
    EXPECT_TRUE(table->capacity == 2048 && table->count == 513);
    for (int i = 0; i < 513; ++i) ASSERT_EQ(pointerForKey(table, names[i].c_str()), &names[i]) << i;
    freeHashTable(table);
}

// "a" and "c" share slot 0 of 2: "c" is found on the second probe of a table left full by a failed resize.
TEST(HashTable, AFullTableRefusesKeysAndEndsItsSearches) {
    HashTable *table = powderkit::makeHashTableWithCapacity(2);
    int a = 1, c = 3;
    setPointerForKey(&table, &a, "a");
    pk_test::failAllocationNumber(2);  // 1: the key copy, 2: the grown table
    const std::string err = pk_test::captureStderr([&] { setPointerForKey(&table, &c, "c"); });
    pk_test::disarmAllocationFailure();
    EXPECT_TRUE(err == "Error: failed to resize hash table\n" && table->capacity == 2 && keyAt(table, 1) == "c");
    EXPECT_TRUE(pointerForKey(table, "a") == &a && pointerForKey(table, "c") == &c && !pointerForKey(table, "e"));
    EXPECT_EQ(pk_test::captureStderr([&] { setPointerForKey(&table, &a, "b"); }), "Error: hash table is full!\n");
    freeHashTable(table);
}

}  // namespace
