// Looking functions up in the derivative tables by key, for tests (the tables
// hold function pointers as untyped values), and the checks every table
// takes: its exact key set, and the order its keys are inserted in.
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

// The function stored under `key`, or nullptr.
template <typename Function>
Function functionForKey(const HashTable *table, const char *key) {
    void *value = pointerForKey(table, key);
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ");
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

struct HashTableDeleter {
    void operator()(HashTable *table) const { freeHashTable(table); }
};
using TablePointer = std::unique_ptr<HashTable, HashTableDeleter>;

// Every key present with a function, nothing else in the table.
inline void expectExactly(const HashTable *table, const std::vector<std::string> &keys) {
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->capacity, 1024);
    EXPECT_EQ(table->count, static_cast<int32_t>(keys.size()));
    for (const std::string &key : keys) EXPECT_NE(pointerForKey(table, key.c_str()), nullptr) << key;
}

// Builds a table with allocation n failing. The table and its slots are the
// first two allocations, then one copy per key in insertion order: failing
// copy i leaves exactly the i-th key out.
template <typename Builder>
void expectInsertionOrder(Builder build, const std::vector<std::string> &keys) {
    for (long n = 1; n <= static_cast<long>(keys.size()) + 2; ++n) {
        pk_test::failAllocationNumber(n);
        HashTable *table = build();
        pk_test::disarmAllocationFailure();
        if (n <= 2) {
            EXPECT_EQ(table, nullptr) << n;
            continue;
        }
        TablePointer owner(table);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->count, static_cast<int32_t>(keys.size()) - 1);
        for (size_t i = 0; i < keys.size(); ++i) {
            const bool missing = static_cast<long>(i) == n - 3;
            EXPECT_EQ(pointerForKey(table, keys[i].c_str()) == nullptr, missing) << keys[i];
        }
    }
}

}  // namespace pk_test

#endif
