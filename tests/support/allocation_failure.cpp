// The counting wrappers behind allocation_failure.hpp.
#include "support/allocation_failure.hpp"

#include <cstddef>

extern "C" {
void *__real_malloc(std::size_t size);
void *__real_calloc(std::size_t count, std::size_t size);
void *__real_realloc(void *block, std::size_t size);
void *__wrap_malloc(std::size_t size);
void *__wrap_calloc(std::size_t count, std::size_t size);
void *__wrap_realloc(void *block, std::size_t size);
}

namespace {
long gTarget = 0;   // 0: disarmed
long gCounted = 0;

bool shouldFail() {
    if (gTarget == 0) return false;
    gCounted += 1;
    return gCounted == gTarget;
}
}  // namespace

namespace pk_test {

void failAllocationNumber(long n) {
    gCounted = 0;
    gTarget = n;
}

void disarmAllocationFailure() { gTarget = 0; }

long allocationsCounted() { return gCounted; }

}  // namespace pk_test

extern "C" {

void *__wrap_malloc(std::size_t size) { return shouldFail() ? nullptr : __real_malloc(size); }

void *__wrap_calloc(std::size_t count, std::size_t size) {
    return shouldFail() ? nullptr : __real_calloc(count, size);
}

void *__wrap_realloc(void *block, std::size_t size) {
    return shouldFail() ? nullptr : __real_realloc(block, size);
}

}  // extern "C"
