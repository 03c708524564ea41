// Looking functions up in the derivative tables by key, for tests: the
// tables hold function pointers as untyped values.
#ifndef PK_TEST_DERIVATIVE_TABLES_HPP
#define PK_TEST_DERIVATIVE_TABLES_HPP

#include <cstring>
#include <memory>

#include "powderkit.h"

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

}  // namespace pk_test

#endif
