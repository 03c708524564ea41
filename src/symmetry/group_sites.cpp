// The sites of a crystal grouped by the element symbol of their first
// occupant: a hash table from symbol to a DynamicArray of Site pointers, in
// crystal order. The sites stay the crystal's.
#include "frame/frame.hpp"

extern "C" HashTable *groupSitesByElement(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->sites == nullptr || crystal->sites->count == 0) {
        return nullptr;
    }
    HashTable *table = powderkit::makeHashTableWithCapacity(1024);
    if (table == nullptr) return nullptr;
    bool emptySiteMet = false;
    int32_t groups = 0;
    bool failed = false;
    for (int32_t i = 0; i < crystal->sites->count && !failed; ++i) {
        Site *site = static_cast<Site *>(crystal->sites->items[i]);
        if (site == nullptr || site->occupants == nullptr || site->occupants->count == 0) {
            emptySiteMet = true;
            continue;
        }
        const auto *first = static_cast<const RefinementSiteOccupant *>(site->occupants->items[0]);
        const char *key = first != nullptr ? first->symbol : nullptr;
        if (key == nullptr) {
            emptySiteMet = true;
            continue;
        }
        auto *group = static_cast<DynamicArray *>(pointerForKey(table, key));
        if (group != nullptr) {
            const int32_t count = group->count;
            addObjectToDynamicArray(group, site);
            failed = group->count == count;  // the group could not grow
            continue;
        }
        group = makeDynamicArrayWithCapacity(16);
        if (group == nullptr) {
            failed = true;
            break;
        }
        addObjectToDynamicArray(group, site);
        const int32_t before = table->count;
        setPointerForKey(&table, group, key);
        if (table->count == before) {  // the key copy could not be made
            freeDynamicArray(group);
            failed = true;
            break;
        }
        groups += 1;
    }
    if (emptySiteMet) powderkit::printToStream(stderr, "Error: empty site detected!\n");
    if (groups > 0 && !failed) return table;
    // Nothing grouped, or memory ran out: release the groups and the table.
    for (int32_t i = 0; i < table->capacity; ++i) {
        if (table->entries[i].key != nullptr) {
            freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
        }
    }
    freeHashTable(table);
    return nullptr;
}
