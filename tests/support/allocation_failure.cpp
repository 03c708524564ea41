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
const void *gFailedSite = nullptr;

bool shouldFail(const void *site) {
    if (gTarget == 0) return false;
    gCounted += 1;
    if (gCounted != gTarget) return false;
    gFailedSite = site;
    return true;
}
}  // namespace

namespace pk_test {

void failAllocationNumber(long n) {
    gCounted = 0;
    gFailedSite = nullptr;
    gTarget = n;
}

void disarmAllocationFailure() { gTarget = 0; }

long allocationsCounted() { return gCounted; }

const void *lastFailedAllocationSite() { return gFailedSite; }

}  // namespace pk_test

extern "C" {

// Not inlined, so that the return address is that of the caller's call.
__attribute__((noinline)) void *__wrap_malloc(std::size_t size) {
    return shouldFail(__builtin_return_address(0)) ? nullptr : __real_malloc(size);
}

__attribute__((noinline)) void *__wrap_calloc(std::size_t count, std::size_t size) {
    return shouldFail(__builtin_return_address(0)) ? nullptr : __real_calloc(count, size);
}

__attribute__((noinline)) void *__wrap_realloc(void *block, std::size_t size) {
    return shouldFail(__builtin_return_address(0)) ? nullptr : __real_realloc(block, size);
}

}  // extern "C"
