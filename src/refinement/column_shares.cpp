// The Jacobian's columns shared among threads. Each thread beyond the first
// works on its own copy of the refinement, made without the points'
// measured data and background polynomials (no column reads the data; the
// polynomials are read where they are); each thread takes the next column
// from one queue as it becomes free.
#include "refinement/column_shares.hpp"

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <mutex>
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

private:
    std::array<std::vector<double>, PK_BACKGROUND_COEFFICIENTS> chebyshev_;
    std::vector<double> y_, sigma_, weight_;
    std::vector<Unneeded> members_;
};

// The columns not yet begun: the differenced ones taken from the front,
// the longest first, then the linear ones; share 0 takes linear ones from
// the back while the copies are made. Any share takes any column (each is
// the same to the bit wherever it is made), so the threads end together
// whatever the columns' true costs.
class Queue {
public:
    explicit Queue(std::vector<JacobianColumn> columns) : columns_(std::move(columns)), back_(columns_.size()) {
        std::stable_sort(columns_.begin(), columns_.end(), [](const JacobianColumn &a, const JacobianColumn &b) {
            return a.linear != b.linear ? b.linear : a.work > b.work;
        });
    }

    // The next column from the front; false when none is left.
    bool front(JacobianColumn &column) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (front_ == back_) return false;
        column = columns_[front_++];
        return true;
    }

    // The last linear column; false when none is left.
    bool backLinear(JacobianColumn &column) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (front_ == back_ || !columns_[back_ - 1].linear) return false;
        column = columns_[--back_];
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<JacobianColumn> columns_;
    std::size_t front_ = 0, back_;
};

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

// On one pattern each share makes its own copy while share 0 makes linear
// columns (r's points' data held aside meanwhile, the polynomials read
// where they are); a joint refinement's copies are made before any share
// starts, and share 0 makes its linear columns (which read each member's
// polynomials) before it takes from the queue.
void shareColumns(pk_refinement &r, const std::vector<JacobianColumn> &columns,
                  const std::function<void(pk_refinement &, int, const PolynomialOf &, double *)> &linear,
                  const std::function<void(pk_refinement &, int, double *)> &difference, Eigen::MatrixXd &j) {
    std::size_t differenced = 0;
    for (const JacobianColumn &column : columns) differenced += column.linear ? 0 : 1;
    const auto threads = static_cast<std::size_t>(
        std::clamp<int32_t>(r.options.threads, 1, static_cast<int32_t>(std::max<std::size_t>(differenced, 1))));
    // The polynomials stay where they are while r's are held aside and after they are back.
    for (int k = 0; k < r.options.background_count && !isJoint(r); ++k) chebyshevColumn(r, k);
    std::array<const double *, PK_BACKGROUND_COEFFICIENTS> polynomials{};
    for (std::size_t k = 0; k < polynomials.size(); ++k) polynomials[k] = r.chebyshev[k].data();
    const PolynomialOf polynomialOf = [&polynomials](int k) { return polynomials[static_cast<std::size_t>(k)]; };
    const auto make = [&](pk_refinement &model, const JacobianColumn &column) {
        double *out = j.col(column.column).data();
        if (column.linear) {
            linear(model, column.index, polynomialOf, out);
        } else {
            difference(model, column.index, out);
        }
    };
    // A joint refinement's linear columns are share 0's alone; every other column is queued.
    std::vector<JacobianColumn> queued, own;
    for (const JacobianColumn &column : columns) (isJoint(r) && column.linear ? own : queued).push_back(column);
    Queue queue(queued);
    const auto drain = [&](pk_refinement &model) {
        for (JacobianColumn column; queue.front(column);) make(model, column);
    };
    std::vector<pk_refinement> copies(threads - 1);
    if (threads == 1 || isJoint(r)) {
        if (threads > 1) {
            Unneeded unneeded;
            unneeded.swap(r);
            std::fill(copies.begin(), copies.end(), r);
            unneeded.swap(r);
        }
        phase::runShared(threads, [&](std::size_t share) {
            if (share == 0) {
                for (const JacobianColumn &column : own) make(r, column);
            }
            drain(share == 0 ? r : copies[share - 1]);
        });
        return;
    }
    Unneeded unneeded;
    unneeded.swap(r);
    // Copy k: 0 not begun, 1 being made, 2 made, 3 failed. Whichever share claims it first makes it: share 0
    // makes those whose share has not begun when it runs out of linear columns to make meanwhile (a share
    // whose thread could not start runs after share 0, on its thread). True when the copy is there to work on.
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
    const auto copying = [&] {
        for (const std::atomic<int> &s : state) {
            if (s.load(std::memory_order_acquire) < 2) return true;
        }
        return false;
    };
    phase::runShared(threads, [&](std::size_t share) {
        if (share > 0) {
            if (makeCopy(share - 1)) drain(copies[share - 1]);
            return;
        }
        // r's data go back once every copy is made, whatever failed.
        std::exception_ptr failure;
        try {
            for (JacobianColumn column; copying() && queue.backLinear(column);) make(r, column);
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
        drain(r);
    });
}

}  // namespace powderkit::refinement
