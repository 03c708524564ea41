// The allocation-failure sweep: a call is run again and again, with its 1st,
// 2nd, … allocation failing, until a run makes fewer allocations than the one
// set to fail (that run saw no failure). Each sweep is recorded under a name,
// and the suite prints at its end how many calls were swept, how many
// failures were injected and at how many distinct allocation call sites of
// the library they struck.
#ifndef PK_RELIABILITY_SWEEP_HPP
#define PK_RELIABILITY_SWEEP_HPP

#include <gtest/gtest.h>

#include <vector>

#include "support/allocation_failure.hpp"

namespace pk_reliability {

// One run of a sweep: allocation number n of the call fails.
class Trial {
public:
    explicit Trial(long n) : n_(n) {}

    // Runs `call` (a lambda that makes the library call and keeps its result)
    // with allocation n failing. Setup before it and checks after it are not
    // counted.
    template <typename Call>
    void run(Call call) {
        pk_test::failAllocationNumber(n_);
        call();
        counted_ = pk_test::allocationsCounted();
        site_ = pk_test::lastFailedAllocationSite();
        pk_test::disarmAllocationFailure();
        ran_ = true;
    }

    // True when the run reached allocation n, which failed.
    bool failed() const { return counted_ >= n_; }
    long number() const { return n_; }
    long counted() const { return counted_; }
    bool ran() const { return ran_; }
    const void *site() const { return site_; }

private:
    long n_;
    long counted_ = 0;
    const void *site_ = nullptr;
    bool ran_ = false;
};

// Records one finished sweep (called by sweepAllocations).
void recordSweep(const char *name, long allocationsPerCall,
                 const std::vector<const void *> &sites);

// Runs body(trial) for n = 1, 2, … until the call no longer reaches
// allocation n. `body` builds its inputs, calls trial.run once, checks the
// outcome with trial.failed() and releases everything. Returns the number of
// allocations the call makes when nothing fails.
template <typename Body>
long sweepAllocations(const char *name, Body body, long limit = 20000) {
    std::vector<const void *> sites;
    long n = 1;
    for (;; ++n) {
        Trial trial(n);
        body(trial);
        if (!trial.ran()) {
            ADD_FAILURE() << name << ": the body never made the call";
            break;
        }
        if (!trial.failed()) break;
        sites.push_back(trial.site());
        if (n >= limit) {
            ADD_FAILURE() << name << ": still allocating after " << limit << " runs";
            break;
        }
    }
    recordSweep(name, n - 1, sites);
    return n - 1;
}

}  // namespace pk_reliability

#endif
