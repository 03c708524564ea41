// The Jacobian's differenced columns shared among threads. Each thread
// beyond the first works on its own copy of the refinement, made without
// the points' measured data and background polynomials (a differenced column
// reads neither); the columns go out longest first, each to the thread
// with the least work so far.
#include "refinement/column_shares.hpp"

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <utility>

#include "boundary/parallel.hpp"
#include "pattern/pattern_model.hpp"

namespace powderkit::refinement {

namespace {

// What a thread's copy of the refinement does without, each of the points'
// length, held aside while the copies are made (a member's with it): the
// Chebyshev columns (a differenced column never moves the background, so a
// copy's evaluation keeps the background curve it was copied with), the
// measured counts, their σ and weights (the columns are of the calculated
// pattern alone).
class Unneeded {
public:
    void swap(pk_refinement &r) {
        chebyshev_.swap(r.chebyshev);
        y_.swap(r.y);
        sigma_.swap(r.sigma);
        weight_.swap(r.weight);
        members_.resize(r.members.size());
        for (std::size_t h = 0; h < r.members.size(); ++h) members_[h].swap(r.members[h]);
    }

    // Polynomial k's column while it is held aside.
    const std::vector<double> &chebyshev(int k) const { return chebyshev_[static_cast<std::size_t>(k)]; }

private:
    std::array<std::vector<double>, PK_BACKGROUND_COEFFICIENTS> chebyshev_;
    std::vector<double> y_, sigma_, weight_;
    std::vector<Unneeded> members_;
};

// Which share makes each differenced column: the longest first, each to
// the share with the least work so far, share 0 starting with `first` (the
// linear columns it makes before its differenced ones).
std::vector<std::vector<Differenced>> planShares(std::vector<Differenced> columns, std::size_t threads,
                                                 std::int64_t first) {
    std::stable_sort(columns.begin(), columns.end(),
                     [](const Differenced &a, const Differenced &b) { return a.work > b.work; });
    std::vector<std::vector<Differenced>> plan(threads);
    std::vector<std::int64_t> load(threads, 0);
    load[0] = first;
    for (const Differenced &column : columns) {
        const auto least = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        plan[least].push_back(column);
        load[least] += column.work;
    }
    return plan;
}

}  // namespace

std::vector<std::int64_t> windowPoints(const pk_refinement &r) {
    std::vector<std::int64_t> points(r.phases.size(), 0);
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        std::vector<std::int64_t> total(1, 0);
        // A shift of 31 puts every window's points into the one block.
        phase::addWindowWork(r.phases[p].peaks, r.x.data(), static_cast<int32_t>(r.x.size()), 31, total);
        points[p] = total[0];
    }
    return points;
}

// On one pattern each share makes its own copy while share 0 makes the
// linear columns (r's points' data held aside meanwhile, the polynomials
// read from there); a joint refinement's copies are made before any share
// starts.
void shareColumns(pk_refinement &r, const std::vector<Differenced> &differenced,
                  const std::function<void(const PolynomialOf &)> &linear, std::int64_t linearWork,
                  const std::function<void(pk_refinement &, int, double *)> &difference, Eigen::MatrixXd &j) {
    const auto threads = static_cast<std::size_t>(
        std::clamp<int32_t>(r.options.threads, 1, static_cast<int32_t>(std::max<std::size_t>(differenced.size(), 1))));
    const std::vector<std::vector<Differenced>> plan = planShares(differenced, threads, linearWork);
    const auto columnsOf = [&](pk_refinement &model, std::size_t share) {
        for (const Differenced &column : plan[share]) difference(model, column.index, j.col(column.column).data());
    };
    const PolynomialOf own = [&r](int k) -> const std::vector<double> & { return chebyshevColumn(r, k); };
    std::vector<pk_refinement> copies(threads - 1);
    if (threads == 1 || isJoint(r)) {
        if (threads > 1) {
            Unneeded unneeded;
            unneeded.swap(r);
            std::fill(copies.begin(), copies.end(), r);
            unneeded.swap(r);
        }
        phase::runShared(threads, [&](std::size_t share) {
            if (share == 0) linear(own);
            columnsOf(share == 0 ? r : copies[share - 1], share);
        });
        return;
    }
    for (int k = 0; k < r.options.background_count; ++k) chebyshevColumn(r, k);
    Unneeded unneeded;
    unneeded.swap(r);
    // Copy k: 0 not begun, 1 being made, 2 made, 3 failed. Whichever share claims it first makes it: share 0
    // makes those whose share has not begun when its linear columns are done (a share whose thread could not
    // start runs after share 0, on its thread). True when the copy is there to work on.
    std::vector<std::atomic<int>> state(threads - 1);
    for (std::atomic<int> &s : state) s.store(0, std::memory_order_relaxed);
    const auto makeCopy = [&](std::size_t k) {
        int expected = 0;
        if (state[k].compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            try {
                copies[k] = r;
            } catch (...) {
                state[k].store(3, std::memory_order_release);
                throw;
            }
            state[k].store(2, std::memory_order_release);
            return true;
        }
        int now = 0;
        while ((now = state[k].load(std::memory_order_acquire)) == 1) sched_yield();
        return now == 2;
    };
    phase::runShared(threads, [&](std::size_t share) {
        if (share > 0) {
            if (makeCopy(share - 1)) columnsOf(copies[share - 1], share);
            return;
        }
        // r's data go back once every copy is made, whatever failed.
        std::exception_ptr failure;
        try {
            linear([&unneeded](int k) -> const std::vector<double> & { return unneeded.chebyshev(k); });
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::size_t k = 0; k < copies.size(); ++k) {
            try {
                makeCopy(k);
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }
        unneeded.swap(r);
        if (failure) std::rethrow_exception(failure);
        columnsOf(r, 0);
    });
}

}  // namespace powderkit::refinement
