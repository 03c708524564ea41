// HashTable: open addressing with linear probing from text keys to untyped
// pointers. The slot of a key is the djb2 hash (h = 33·h + byte, from 5381,
// in wrapping unsigned 32-bit arithmetic) modulo the capacity. The table keeps
// its own copies of the keys and doubles when more than half full.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame/frame.hpp"

namespace powderkit {
namespace {

uint32_t hashKey(const char *key) {
    uint32_t h = 5381u;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(key); *c != 0; ++c) {
        h = h * 33u + *c;
    }
    return h;
}

int32_t slotForKey(const HashTable *table, const char *key) {
    return static_cast<int32_t>(hashKey(key) % static_cast<uint32_t>(table->capacity));
}

// Linear probing from the key's slot to the first empty slot; the table must
// have one (count < capacity).
int32_t emptySlotForKey(const HashTable *table, const char *key) {
    int32_t slot = slotForKey(table, key);
    while (table->entries[slot].key != nullptr) slot = (slot + 1) % table->capacity;
    return slot;
}

// Doubles the table. On failure the message is printed and the old table
// stays. The keys move to the new table as they are: a fresh copy of each
// would hold the same bytes, and moving them cannot fail half way.
void resizeTable(HashTable **tableRef) {
    HashTable *old = *tableRef;
    HashTable *grown = old->capacity <= INT32_MAX / 2
                           ? makeHashTableWithCapacity(old->capacity * 2)
                           : nullptr;
    if (grown == nullptr) {
        printToStream(stderr, "Error: failed to resize hash table\n");
        return;
    }
    for (int32_t i = 0; i < old->capacity; ++i) {
        HashTableEntry &entry = old->entries[i];
        if (entry.key == nullptr) continue;
        const int32_t slot = emptySlotForKey(grown, entry.key);
        grown->entries[slot] = entry;
        grown->count += 1;
    }
    std::free(old->entries);
    std::free(old);
    *tableRef = grown;
}

}  // namespace

HashTable *makeHashTableWithCapacity(int32_t capacity) {
    if (capacity < 1) return nullptr;
    HashTable *table = static_cast<HashTable *>(std::calloc(1, sizeof(HashTable)));
    if (table == nullptr) return nullptr;
    table->entries = static_cast<HashTableEntry *>(
        std::calloc(static_cast<std::size_t>(capacity), sizeof(HashTableEntry)));
    if (table->entries == nullptr) {
        std::free(table);
        return nullptr;
    }
    table->capacity = capacity;
    return table;
}

}  // namespace powderkit

extern "C" {

HashTable *makeHashTable(void) { return powderkit::makeHashTableWithCapacity(1024); }

void setPointerForKey(HashTable **tableRef, void *value, const char *key) {
    if (tableRef == nullptr || *tableRef == nullptr || key == nullptr) return;
    HashTable *table = *tableRef;
    if (table->count >= table->capacity) {
        powderkit::printToStream(stderr, "Error: hash table is full!\n");
        return;
    }
    char *copy = powderkit::copyText(key);
    if (copy == nullptr) return;
    const int32_t slot = powderkit::emptySlotForKey(table, key);
    table->entries[slot].key = copy;
    table->entries[slot].value = value;
    table->count += 1;
    if (static_cast<double>(table->count) > static_cast<double>(table->capacity) * 0.5) {
        powderkit::resizeTable(tableRef);
    }
}

void *pointerForKey(const HashTable *table, const char *key) {
    if (table == nullptr || key == nullptr || table->count == 0) return nullptr;
    int32_t slot = powderkit::slotForKey(table, key);
    // At most one pass over the slots, so a table without an empty slot (left
    // by failed resizes) still ends the search.
    for (int32_t probes = 0; probes < table->capacity; ++probes) {
        const HashTableEntry &entry = table->entries[slot];
        if (entry.key == nullptr) return nullptr;
        if (std::strcmp(entry.key, key) == 0) return entry.value;
        slot = (slot + 1) % table->capacity;
    }
    return nullptr;
}

void freeHashTable(HashTable *table) {
    if (table == nullptr) return;
    for (int32_t i = 0; i < table->capacity; ++i) std::free(table->entries[i].key);
    std::free(table->entries);
    std::free(table);
}

}  // extern "C"
