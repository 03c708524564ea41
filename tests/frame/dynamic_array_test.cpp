// DynamicArray: creation, doubling, shrinking, and failed growth.
#include <gtest/gtest.h>

#include <vector>

#include "powderkit.h"
#include "support/allocation_failure.hpp"

namespace {

TEST(DynamicArray, RefusesCapacitiesBelowOne) {
    EXPECT_EQ(makeDynamicArrayWithCapacity(0), nullptr);
    EXPECT_EQ(makeDynamicArrayWithCapacity(-5), nullptr);
}

TEST(DynamicArray, DoublesWhenFullAndKeepsInsertionOrderThenShrinks) {
    std::vector<int> values(17);
    DynamicArray *array = makeDynamicArrayWithCapacity(16);
    ASSERT_NE(array, nullptr);
    for (int &value : values) addObjectToDynamicArray(array, &value);
    EXPECT_EQ(array->count, 17);
    EXPECT_EQ(array->capacity, 32);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(array->items[i], &values[i]);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 17);
    EXPECT_EQ(array->items[16], &values[16]);
    freeDynamicArray(array);
}

TEST(DynamicArray, IgnoresNullArgumentsAndNullObjects) {
    DynamicArray *array = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(array, nullptr);
    EXPECT_EQ(array->count, 0);
    addObjectToDynamicArray(nullptr, array);
    shrinkDynamicArray(nullptr);
    freeDynamicArray(nullptr);
    freeDynamicArray(array);
}

TEST(DynamicArray, AnArrayShrunkWhileEmptyRegainsRoom) {
    int a = 1, b = 2, c = 3;
    DynamicArray *array = makeDynamicArrayWithCapacity(4);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 0);
    EXPECT_EQ(array->items, nullptr);
    addObjectToDynamicArray(array, &a);
    addObjectToDynamicArray(array, &b);
    addObjectToDynamicArray(array, &c);
    ASSERT_EQ(array->count, 3);
    EXPECT_EQ(array->capacity, 4);
    EXPECT_EQ(array->items[0], &a);
    EXPECT_EQ(array->items[2], &c);
    freeDynamicArray(array);
}

TEST(DynamicArray, FailedGrowthLeavesTheArrayAsItWas) {
    int a = 1, b = 2;
    DynamicArray *array = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(array, &a);
    void **items = array->items;
    pk_test::failAllocationNumber(1);
    addObjectToDynamicArray(array, &b);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(array->count, 1);
    EXPECT_EQ(array->capacity, 1);
    EXPECT_EQ(array->items, items);
    EXPECT_EQ(array->items[0], &a);
    freeDynamicArray(array);
}

TEST(DynamicArray, FailedCreationLeavesNothingBehind) {
    const long runs = pk_test::forEachAllocationFailure([] {
        DynamicArray *array = makeDynamicArrayWithCapacity(8);
        if (pk_test::allocationsCounted() >= 1 && array != nullptr) {
            EXPECT_EQ(array->capacity, 8);
        }
        freeDynamicArray(array);
    });
    EXPECT_EQ(runs, 3);  // two allocations, each failed once, then a clean run
}

}  // namespace
