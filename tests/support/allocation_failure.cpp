// The linker's wrappers of malloc, calloc and realloc and the replaced operator new
// share one count; not inlined, so that the return address is the caller's.
#include "support/allocation_failure.hpp"

#include <cstdlib>
#include <new>

extern "C" {
void *__real_malloc(std::size_t size);
void *__real_calloc(std::size_t count, std::size_t size);
void *__real_realloc(void *block, std::size_t size);
}

static long gTarget = 0, gCounted = 0;  // gTarget 0: disarmed
static const void *gFailedSite = nullptr;
static bool shouldFail(const void *site) {
    if (gTarget == 0 || ++gCounted != gTarget) return false;
    gFailedSite = site;
    return true;
}

void pk_test::failAllocationNumber(long n) { gCounted = 0, gFailedSite = nullptr, gTarget = n; }
void pk_test::disarmAllocationFailure() { gTarget = 0; }
long pk_test::allocationsCounted() { return gCounted; }
const void *pk_test::lastFailedAllocationSite() { return gFailedSite; }

#define PK_CALLER __builtin_return_address(0)
extern "C" __attribute__((noinline)) void *__wrap_malloc(std::size_t size) {
    return shouldFail(PK_CALLER) ? nullptr : __real_malloc(size);
}
extern "C" __attribute__((noinline)) void *__wrap_calloc(std::size_t count, std::size_t size) {
    return shouldFail(PK_CALLER) ? nullptr : __real_calloc(count, size);
}
extern "C" __attribute__((noinline)) void *__wrap_realloc(void *block, std::size_t size) {
    return shouldFail(PK_CALLER) ? nullptr : __real_realloc(block, size);
}
__attribute__((noinline)) void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return shouldFail(PK_CALLER) ? nullptr : __real_malloc(size == 0 ? 1 : size);
}
__attribute__((noinline)) void *operator new(std::size_t size) {
    void *block = shouldFail(PK_CALLER) ? nullptr : __real_malloc(size == 0 ? 1 : size);
    return block != nullptr ? block : throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
// Out of line, so that the compiler does not pair a free with an operator new.
static __attribute__((noinline)) void release(void *block) noexcept { std::free(block); }
void operator delete(void *block) noexcept { release(block); }
void operator delete[](void *block) noexcept { release(block); }
void operator delete(void *block, std::size_t) noexcept { release(block); }
void operator delete[](void *block, std::size_t) noexcept { release(block); }
