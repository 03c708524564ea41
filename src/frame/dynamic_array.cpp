// DynamicArray: a growable array of untyped pointers. It owns its storage,
// never its elements. Full arrays double their storage; a failed growth
// leaves the array exactly as it was.
#include <cstdint>
#include <cstdlib>

#include "frame/frame.hpp"

extern "C" {

DynamicArray *makeDynamicArrayWithCapacity(int32_t capacity) {
    if (capacity < 1) return nullptr;
    DynamicArray *array = static_cast<DynamicArray *>(std::calloc(1, sizeof(DynamicArray)));
    if (array == nullptr) return nullptr;
    array->items = static_cast<void **>(std::malloc(static_cast<std::size_t>(capacity) * sizeof(void *)));
    if (array->items == nullptr) {
        std::free(array);
        return nullptr;
    }
    array->capacity = capacity;
    return array;
}

void addObjectToDynamicArray(DynamicArray *array, void *object) {
    if (array == nullptr || object == nullptr) return;
    if (array->count >= array->capacity) {
        // Doubling; an array shrunk while empty (capacity 0) regains one slot.
        if (array->capacity > INT32_MAX / 2) return;
        const int32_t grown = array->capacity > 0 ? array->capacity * 2 : 1;
        void **items = static_cast<void **>(
            std::realloc(array->items, static_cast<std::size_t>(grown) * sizeof(void *)));
        if (items == nullptr) return;
        array->items = items;
        array->capacity = grown;
    }
    array->items[array->count] = object;
    array->count += 1;
}

void shrinkDynamicArray(DynamicArray *array) {
    if (array == nullptr || array->count == array->capacity) return;
    if (array->count <= 0) {
        std::free(array->items);
        array->items = nullptr;
        array->capacity = 0;
        array->count = 0;
        return;
    }
    void **items = static_cast<void **>(
        std::realloc(array->items, static_cast<std::size_t>(array->count) * sizeof(void *)));
    if (items == nullptr) return;  // the larger block is still valid
    array->items = items;
    array->capacity = array->count;
}

void freeDynamicArray(DynamicArray *array) {
    if (array == nullptr) return;
    std::free(array->items);
    std::free(array);
}

}  // extern "C"
