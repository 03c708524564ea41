// The counting wrappers behind allocation_failure.hpp: malloc, calloc and
// realloc of the C code through the linker's wrappers, and operator new of
// the C++ code (the phase layer), which the wrappers cannot see, replaced
// here; both kinds share one count.
#include "support/allocation_failure.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

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

void *operator new(std::size_t size) {
    if (shouldFail(__builtin_return_address(0))) throw std::bad_alloc();
    if (void *block = __real_malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return shouldFail(__builtin_return_address(0)) ? nullptr : __real_malloc(size == 0 ? 1 : size);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
// Out of line, so that the compiler does not pair a free with an operator new.
static __attribute__((noinline)) void release(void *block) noexcept { std::free(block); }
void operator delete(void *block) noexcept { release(block); }
void operator delete[](void *block) noexcept { release(block); }
void operator delete(void *block, std::size_t) noexcept { release(block); }
void operator delete[](void *block, std::size_t) noexcept { release(block); }
