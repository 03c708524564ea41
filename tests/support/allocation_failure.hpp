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

}  // namespace pk_test

#endif
