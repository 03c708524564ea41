// Hash table fuzz target. The input is a program of operations on a table
// made with a small capacity: insert a key, look a key up, or make one of the
// allocations of the next insertion fail. After every operation the table is
// compared with a plain model (a multimap of key to values): its count, its
// capacity, the keys in its slots, and every lookup. Failed insertions and
// failed resizes must leave one of the outcomes a host can expect, and the
// table must stay usable (lookups end even when no slot is empty).
//
// Layout: byte initial capacity (1 + byte % 64), then operations
//   byte op % 8: 0–3 insert, 4–6 look up, 7 fail allocation number
//   1 + (next byte % 3) of the next insertion;
//   a key is one length byte (% 12) and that many bytes (NUL ends a key early).
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "frame/frame.hpp"
#include "fuzz_input.hpp"
#include "support/allocation_failure.hpp"

namespace {

std::string readKey(pk_fuzz::Input &in) {
    const int length = in.byte() % 12;
    std::string key;
    for (int i = 0; i < length; ++i) {
        const char c = static_cast<char>(in.byte());
        if (c == '\0') break;
        key.push_back(c);
    }
    return key;
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "hash table disagrees with its model: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what) {
    if (!condition) fail(what);
}

struct Model {
    std::map<std::string, std::set<uintptr_t>> values;
    int32_t count = 0;
    int32_t capacity = 0;
};

// Every slot key is a key of the model, and the slots in use match the count.
void compareSlots(const HashTable *table, const Model &model) {
    check(table->count == model.count, "count");
    check(table->capacity == model.capacity, "capacity");
    int32_t used = 0;
    for (int32_t i = 0; i < table->capacity; ++i) {
        const HashTableEntry &entry = table->entries[i];
        if (entry.key == nullptr) continue;
        used += 1;
        auto found = model.values.find(entry.key);
        check(found != model.values.end(), "a slot holds a key never inserted");
        check(found->second.count(reinterpret_cast<uintptr_t>(entry.value)) == 1,
              "a slot holds a value never inserted under its key");
    }
    check(used == table->count, "slots in use differ from count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    Model model;
    model.capacity = 1 + in.byte() % 64;
    HashTable *table = powderkit::makeHashTableWithCapacity(model.capacity);
    check(table != nullptr, "table of small capacity not made");
    uintptr_t nextValue = 1;
    long failNext = 0;
    int operations = 0;
    while (!in.exhausted() && operations++ < 2000) {
        const int op = in.byte() % 8;
        if (op == 7) {
            failNext = 1 + in.byte() % 3;
            continue;
        }
        const std::string key = readKey(in);
        if (op >= 4) {
            void *found = pointerForKey(table, key.c_str());
            auto entry = model.values.find(key);
            if (entry == model.values.end()) {
                check(found == nullptr, "lookup of an absent key found something");
            } else {
                check(entry->second.count(reinterpret_cast<uintptr_t>(found)) == 1,
                      "lookup returned a value not stored under the key");
            }
            continue;
        }
        const uintptr_t value = nextValue++;
        const int32_t countBefore = table->count;
        const int32_t capacityBefore = table->capacity;
        const bool full = countBefore >= capacityBefore;
        const bool wantsResize =
            static_cast<double>(countBefore + 1) > static_cast<double>(capacityBefore) * 0.5;
        if (failNext > 0) pk_test::failAllocationNumber(failNext);
        setPointerForKey(&table, reinterpret_cast<void *>(value), key.c_str());
        const bool allocationFailed = failNext > 0 && pk_test::allocationsCounted() >= failNext;
        pk_test::disarmAllocationFailure();
        failNext = 0;
        check(table != nullptr, "the table pointer was lost");

        const bool inserted = table->count == countBefore + 1;
        const bool grown = table->capacity == capacityBefore * 2;
        if (full) {
            check(!inserted && !grown, "a full table took an entry");
        } else if (!allocationFailed) {
            check(inserted, "an insertion without failure was dropped");
            check(grown == wantsResize, "resize at the wrong load");
        } else {
            // The key copy failed (nothing changes), or the resize failed
            // (entry stored, capacity kept), or a later allocation failed.
            check(inserted || table->capacity == capacityBefore,
                  "a dropped insertion changed the capacity");
            check(!grown || wantsResize, "resize at the wrong load");
        }
        if (!inserted) check(table->count == countBefore, "count changed without an entry");
        if (inserted) {
            model.values[key].insert(value);
            model.count += 1;
        }
        model.capacity = table->capacity;
        check(pointerForKey(table, key.c_str()) != nullptr || !inserted,
              "an inserted key is not found");
        compareSlots(table, model);
    }
    // Every key of the model is still found after all the resizes.
    for (const auto &entry : model.values) {
        void *found = pointerForKey(table, entry.first.c_str());
        check(entry.second.count(reinterpret_cast<uintptr_t>(found)) == 1,
              "a key is lost at the end");
    }
    freeHashTable(table);
    return 0;
}
