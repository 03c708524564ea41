// Test-only allocation failure. The unit-test executables are linked with
// -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc, so every allocation of the
// library code linked into them passes through a counting wrapper that can
// fail the Nth call. The shipped shared library is untouched.
#ifndef PK_TEST_ALLOCATION_FAILURE_HPP
#define PK_TEST_ALLOCATION_FAILURE_HPP

namespace pk_test {

// From now on count allocations; the nth (1-based) returns NULL.
void failAllocationNumber(long n);

// Stops counting; allocations succeed again.
void disarmAllocationFailure();

// Allocations counted since the last failAllocationNumber.
long allocationsCounted();

// The return address of the allocation call that was made to fail last (the
// code location of the malloc, calloc or realloc call in the library), or
// nullptr when none has failed since the last failAllocationNumber.
const void *lastFailedAllocationSite();

// Runs `body` once with allocation 1 failing, once with allocation 2 failing,
// and so on, until a run makes fewer allocations than the one set to fail
// (that run saw no failure). Returns the number of runs. `body` must release
// whatever it obtained on every path; the sanitizer pass checks for leaks.
template <typename Body>
long forEachAllocationFailure(Body body) {
    for (long n = 1;; ++n) {
        failAllocationNumber(n);
        body();
        const long counted = allocationsCounted();
        disarmAllocationFailure();
        if (counted < n) return n;
    }
}

// Runs `attempt()` with its 1st, 2nd, … allocation failing until a run sees
// no failure, and hands each result to `check(result, failed)`, which judges
// and releases it (`failed` is false only for the last run). Returns the
// number of runs.
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

}  // namespace pk_test

#endif
