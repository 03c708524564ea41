// Internal interface of the derivatives shared with the folders above: the
// building of a derivative table by parameter name. A table maps each key to
// a function pointer stored as an untyped value (the host turns it back into
// its function type); its entries are inserted in the order they are listed.
#ifndef POWDERKIT_DERIVATIVES_HPP
#define POWDERKIT_DERIVATIVES_HPP

#include <cstring>

#include "powderkit.h"

namespace powderkit {

// A function pointer as the untyped value of a table entry.
template <typename Function>
void *entryValue(Function function) {
    void *value = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ in size");
    std::memcpy(&value, &function, sizeof(value));
    return value;
}

template <typename Function>
struct Entry {
    const char *key;
    Function function;
};

// A new table (1024 slots) holding the entries of `parts` (arrays of
// entries), part after part, each in its order. Neither the creation nor the
// insertions are checked: a table that cannot be made comes back NULL, and a
// key whose copy cannot be made is missing.
template <typename... Parts>
HashTable *tableOf(const Parts &...parts) {
    HashTable *table = makeHashTable();
    const auto insert = [&table](const auto &entries) {
        for (const auto &entry : entries) {
            setPointerForKey(&table, entryValue(entry.function), entry.key);
        }
    };
    (insert(parts), ...);
    return table;
}

}  // namespace powderkit

#endif
