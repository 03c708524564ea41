// DynamicArray: doubling, shrinking (also while empty), and failed growth or creation.
#include <gtest/gtest.h>

#include <vector>

#include "powderkit.h"
#include "support/allocation_failure.hpp"

namespace {

TEST(DynamicArray, DoublesWhenFullKeepsOrderAndShrinks) {
    EXPECT_EQ(makeDynamicArrayWithCapacity(0), nullptr);
    EXPECT_EQ(makeDynamicArrayWithCapacity(-5), nullptr);
    std::vector<int> values(17);
    DynamicArray *array = makeDynamicArrayWithCapacity(16);
    for (int &value : values) addObjectToDynamicArray(array, &value);
    addObjectToDynamicArray(array, nullptr);  // a null object is not added
    EXPECT_EQ(array->count, 17);
    EXPECT_EQ(array->capacity, 32);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 17);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(array->items[i], &values[i]);
    addObjectToDynamicArray(nullptr, array);
    shrinkDynamicArray(nullptr);
    freeDynamicArray(nullptr);
    freeDynamicArray(array);
}

TEST(DynamicArray, AnArrayShrunkWhileEmptyRegainsRoom) {
    int values[3] = {1, 2, 3};
    DynamicArray *array = makeDynamicArrayWithCapacity(4);
    shrinkDynamicArray(array);
    EXPECT_EQ(array->capacity, 0);
    EXPECT_EQ(array->items, nullptr);
    for (int &value : values) addObjectToDynamicArray(array, &value);
    ASSERT_EQ(array->count, 3);
    EXPECT_EQ(array->items[0], &values[0]);
    EXPECT_EQ(array->items[2], &values[2]);
    freeDynamicArray(array);
}

TEST(DynamicArray, FailedAllocationsLeaveTheArrayAsItWasOrNothing) {
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
    // Record and storage: each failed once, then a clean run.
    EXPECT_EQ(pk_test::forEachAllocationFailure([] { freeDynamicArray(makeDynamicArrayWithCapacity(8)); }), 3);
}

}  // namespace
