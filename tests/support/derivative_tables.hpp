// The derivative tables by key, for tests: the function stored under a key
// (the tables hold function pointers as untyped values), and the two checks
// every table takes: its exact key set, and the order its keys go in.
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

struct HashTableDeleter {
    void operator()(HashTable *table) const { freeHashTable(table); }
};
using TablePointer = std::unique_ptr<HashTable, HashTableDeleter>;

// The function stored under `key`, or nullptr.
template <typename Function>
Function functionForKey(const HashTable *table, const std::string &key) {
    void *value = pointerForKey(table, key.c_str());
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ");
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

// The table holds exactly `keys`, each with a function. Built with
// allocation n failing: the table and its slots are the first two
// allocations (no table), then one key copy each in insertion order, so
// failing copy i leaves exactly the i-th key out.
template <typename Builder>
void expectKeysInOrder(Builder build, const std::vector<std::string> &keys) {
    const auto count = static_cast<int32_t>(keys.size());
    for (long n = 0; n <= count + 2; ++n) {
        if (n > 0) failAllocationNumber(n);
        TablePointer table(build());
        disarmAllocationFailure();
        if (n == 1 || n == 2) {
            EXPECT_EQ(table, nullptr) << n;
            continue;
        }
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->capacity, 1024);
        EXPECT_EQ(table->count, n == 0 ? count : count - 1);
        for (int32_t i = 0; i < count; ++i) {
            const bool missing = i == n - 3;
            EXPECT_EQ(pointerForKey(table.get(), keys[i].c_str()) == nullptr, missing) << keys[i];
        }
    }
}

}  // namespace pk_test

#endif
