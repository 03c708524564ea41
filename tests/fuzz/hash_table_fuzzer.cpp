// The hash table against a model (each key's set of values): every lookup finds a value put in under
// its key, an insertion is refused only when full. Layout: byte capacity (1 + b % 64), then ops b % 8:
// 0–3 insert, 4–6 look up, each with a key (length byte % 12, bytes, NUL ends it); 7: one byte, unused.
#include <map>
#include <set>

#include "frame/frame.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    HashTable *table = powderkit::makeHashTableWithCapacity(1 + in.byte() % 64);
    std::map<std::string, std::set<void *>> model;
    for (uintptr_t value = 1; !in.exhausted() && value < 2000; ++value) {
        const int op = in.byte() % 8;
        std::string key;
        for (int n = in.byte() % 12 * (op != 7); n > 0 && (key += char(in.byte())).back() != '\0'; --n) {}
        key = key.c_str();  // a NUL ends it
        const auto known = model.find(key);
        void *found = pointerForKey(table, key.c_str());
        check(known == model.end() ? found == nullptr : known->second.count(found) == 1, "a lookup disagrees");
        if (op >= 4) continue;
        const int32_t count = table->count, capacity = table->capacity;
        setPointerForKey(&table, reinterpret_cast<void *>(value), key.c_str());
        const bool inserted = table->count == count + 1;
        check(inserted == (count < capacity) && table->capacity >= capacity, "an insertion dropped or refused");
        if (inserted) model[key].insert(reinterpret_cast<void *>(value));
    }
    for (const auto &[key, values] : model) check(values.count(pointerForKey(table, key.c_str())) == 1, "a key lost");
    freeHashTable(table);
    return 0;
}
