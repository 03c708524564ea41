// Test-only allocation failure: the test executables wrap malloc, calloc and
// realloc (-Wl,--wrap) and replace operator new, so that every allocation of the
// library code linked into them is counted and the nth can be made to fail.
#ifndef PK_TEST_ALLOCATION_FAILURE_HPP
#define PK_TEST_ALLOCATION_FAILURE_HPP

namespace pk_test {

// From now on count allocations; the nth (1-based) fails (NULL, or std::bad_alloc).
void failAllocationNumber(long n);
// Stops counting; allocations succeed again.
void disarmAllocationFailure();
// Allocations counted since the last failAllocationNumber.
long allocationsCounted();
// Where the allocation made to fail last was called from (nullptr: none since).
const void *lastFailedAllocationSite();

// Runs `attempt()` with its 1st, 2nd, … allocation failing until a run sees no
// failure, and hands each result to `check(result, failed)`, which judges and
// releases it (`failed` is false only for the last run). Returns the runs made.
template <typename Attempt, typename Check>
long forEachFailedAllocation(Attempt attempt, Check check) {
    for (long n = 1;; ++n) {
        failAllocationNumber(n);
        auto result = attempt();
        const bool failed = allocationsCounted() >= n;
        disarmAllocationFailure();
        check(result, failed);
        if (!failed) return n;
    }
}

// The same for a `body()` that makes its call, judges and releases.
template <typename Body>
long forEachAllocationFailure(Body body) {
    return forEachFailedAllocation([&] { return body(), 0; }, [](int, bool) {});
}

}  // namespace pk_test

#endif
