// The derivative tables by key: the function stored under a key (held as an
// untyped value), and the check of a table's exact keys in their order.
#ifndef PK_TEST_DERIVATIVE_TABLES_HPP
#define PK_TEST_DERIVATIVE_TABLES_HPP

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "powderkit.h"
#include "support/allocation_failure.hpp"

namespace pk_test {

using TablePointer = std::unique_ptr<HashTable, decltype(&freeHashTable)>;
inline TablePointer owned(HashTable *table) { return TablePointer(table, freeHashTable); }

// The function stored under `key`, or nullptr.
template <typename Function>
Function functionForKey(const HashTable *table, const std::string &key) {
    void *value = pointerForKey(table, key.c_str());
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ");
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

// Exactly `keys`, each with a function. Built with allocation n failing: the
// table and its slots come first (no table), then one copy per key in order,
// so failing copy i leaves exactly the i-th key out.
template <typename Builder>
void expectKeysInOrder(Builder build, const std::vector<std::string> &keys) {
    const auto count = static_cast<int32_t>(keys.size());
    for (long n = 0; n <= count + 2; ++n) {
        if (n > 0) failAllocationNumber(n);
        TablePointer table = owned(build());
        disarmAllocationFailure();
        ASSERT_EQ(table == nullptr, n == 1 || n == 2) << n;
        if (table == nullptr) continue;
        EXPECT_TRUE(table->capacity == 1024 && table->count == count - (n > 0)) << n;
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(pointerForKey(table.get(), keys[i].c_str()) == nullptr, i == n - 3) << keys[i];
        }
    }
}

}  // namespace pk_test

#endif
