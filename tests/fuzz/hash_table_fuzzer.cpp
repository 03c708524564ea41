// The hash table against a model (each key's set of values) under insertions, lookups and failed
// allocations. Layout: byte capacity (1 + b % 64), then ops b % 8: 0–3 insert, 4–6 look up, each with
// a key (length byte % 12, bytes, NUL ends it); 7: allocation 1 + (byte % 3) of the next insertion fails.
#include <map>
#include <set>
#include <string>

#include "frame/frame.hpp"
#include "fuzz_input.hpp"
#include "support/allocation_failure.hpp"

using pk_fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    HashTable *table = powderkit::makeHashTableWithCapacity(1 + in.byte() % 64);
    std::map<std::string, std::set<void *>> model;
    long failing = 0;
    for (uintptr_t value = 1; !in.exhausted() && value < 2000; ++value) {
        const int op = in.byte() % 8;
        failing = op == 7 ? 1 + in.byte() % 3 : failing;
        std::string key;
        for (int n = op == 7 ? 0 : in.byte() % 12; n > 0 && (key += char(in.byte())).back() != '\0'; --n) {}
        key = key.c_str();  // a NUL ends it
        const auto known = model.find(key);
        void *found = pointerForKey(table, key.c_str());
        check(known == model.end() ? found == nullptr : known->second.count(found) == 1, "a lookup disagrees");
        if (op >= 4) continue;
        const int32_t count = table->count, capacity = table->capacity;
        if (failing > 0) pk_test::failAllocationNumber(failing);
        setPointerForKey(&table, reinterpret_cast<void *>(value), key.c_str());
        const bool failed = failing > 0 && pk_test::allocationsCounted() >= failing;
        pk_test::disarmAllocationFailure();
        const bool inserted = table->count == count + 1, full = count >= capacity;
        const bool grown = table->capacity == 2 * capacity, due = count + 1 > capacity * 0.5;
        check(full ? !inserted && !grown : inserted || (failed && table->count == count), "an insertion dropped");
        check(table->capacity == capacity || (grown && due && inserted), "a resize at the wrong load");
        check(full || failed || grown == due, "no resize at half load");
        if (inserted) model[key].insert(reinterpret_cast<void *>(value));
        failing = 0;
    }
    for (const auto &[key, values] : model) check(values.count(pointerForKey(table, key.c_str())) == 1, "a key lost");
    freeHashTable(table);
    return 0;
}
