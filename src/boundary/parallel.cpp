// runShared: one POSIX thread per share beyond the first, or a team's
// waiting threads; each share's exception kept and thrown again on the
// calling thread.
#include "boundary/parallel.hpp"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

// Work shared among threads inside one call, for the callers that ask for
// it (a refinement's options.threads). POSIX threads are used directly: the
// C++ thread object would bring std::terminate into the library, which must
// never end its host.
namespace powderkit::phase {

namespace {

struct Share {
    const std::function<void(std::size_t)> *work = nullptr;
    std::size_t k = 0;
    std::exception_ptr failure;
    pthread_t thread{};
    bool started = false;

    void run() {
        try {
            (*work)(k);
        } catch (...) {
            failure = std::current_exception();
        }
    }
};

extern "C" void *runShare(void *share) {
    static_cast<Share *>(share)->run();
    return nullptr;
}

// How long a waiting thread keeps looking before it sleeps: a refinement
// cycle's serial stretches between shared parts last a fraction of this.
constexpr auto kSpin = std::chrono::microseconds(300);

// A hint to the processor that this is a wait loop (it yields the core's
// shared resources to a sibling thread).
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() or kSpin has passed; true when ready.
template <typename Ready>
bool spinUntil(Ready ready) {
    const auto end = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready()) return true;
            relax();
        }
        if (std::chrono::steady_clock::now() > end) return false;
    }
}

}  // namespace

// The team's hand-over: `round` counts the batches of shares given out,
// `remaining` the helpers' shares of the current batch not yet done.
struct ThreadTeam::State {
    struct Helper {
        State *team = nullptr;
        std::size_t k = 0;
        pthread_t thread{};
    };

    std::mutex mutex;
    std::condition_variable wake, done;
    std::atomic<std::uint64_t> round{0};
    std::atomic<std::size_t> remaining{0};
    bool ending = false;
    bool busy = false;
    const std::function<void(std::size_t)> *work = nullptr;
    std::size_t count = 0;
    std::vector<std::exception_ptr> failures;
    std::vector<Helper> helpers;
    std::size_t started = 0;

    void serve(std::size_t k) {
        std::uint64_t seen = 0;
        for (;;) {
            spinUntil([&] { return round.load(std::memory_order_acquire) != seen; });
            const std::function<void(std::size_t)> *given = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return ending || round.load(std::memory_order_relaxed) != seen; });
                if (ending) return;
                seen = round.load(std::memory_order_relaxed);
                if (k < count) given = work;
            }
            if (given == nullptr) continue;
            try {
                (*given)(k);
            } catch (...) {
                failures[k] = std::current_exception();
            }
            if (remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                std::lock_guard<std::mutex> lock(mutex);
                done.notify_one();
            }
        }
    }

    // Shares 1 … count − 1 to the helpers, share 0 here; false when the
    // team cannot take them (too few helpers, or already at work).
    bool run(std::size_t shares, const std::function<void(std::size_t)> &given) {
        if (busy || shares > started + 1) return false;
        busy = true;
        failures.assign(shares, nullptr);
        remaining.store(shares - 1, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> lock(mutex);
            work = &given;
            count = shares;
            round.fetch_add(1, std::memory_order_release);
        }
        wake.notify_all();
        try {
            given(0);
        } catch (...) {
            failures[0] = std::current_exception();
        }
        if (!spinUntil([&] { return remaining.load(std::memory_order_acquire) == 0; })) {
            std::unique_lock<std::mutex> lock(mutex);
            done.wait(lock, [&] { return remaining.load(std::memory_order_acquire) == 0; });
        }
        busy = false;
        for (const std::exception_ptr &failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        return true;
    }
};

namespace {

thread_local ThreadTeam::State *activeTeam = nullptr;

extern "C" void *serveTeam(void *helper) {
    auto *h = static_cast<ThreadTeam::State::Helper *>(helper);
    h->team->serve(h->k);
    return nullptr;
}

}  // namespace

ThreadTeam::ThreadTeam(int threads) : outer_(activeTeam) {
    const std::size_t wanted = threads > 1 ? static_cast<std::size_t>(threads) - 1 : 0;
    if (wanted == 0 || (outer_ != nullptr && outer_->started >= wanted)) return;
    state_ = std::make_unique<State>();
    state_->helpers.resize(wanted);
    // Helper k serves share k + 1; one that cannot start leaves the team smaller.
    for (std::size_t k = 0; k < wanted; ++k) {
        State::Helper &helper = state_->helpers[k];
        helper.team = state_.get();
        helper.k = k + 1;
        if (pthread_create(&helper.thread, nullptr, serveTeam, &helper) != 0) break;
        ++state_->started;
    }
    activeTeam = state_.get();
}

ThreadTeam::~ThreadTeam() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->ending = true;
    }
    state_->wake.notify_all();
    for (std::size_t k = 0; k < state_->started; ++k) pthread_join(state_->helpers[k].thread, nullptr);
    activeTeam = outer_;
}

void runShared(std::size_t count, const std::function<void(std::size_t)> &work) {
    if (count > 1 && activeTeam != nullptr && activeTeam->run(count, work)) return;
    std::vector<Share> shares(count);
    for (std::size_t k = 0; k < count; ++k) {
        shares[k].work = &work;
        shares[k].k = k;
    }
    for (std::size_t k = 1; k < count; ++k) {
        shares[k].started = pthread_create(&shares[k].thread, nullptr, runShare, &shares[k]) == 0;
    }
    if (count > 0) shares[0].run();
    for (std::size_t k = 1; k < count; ++k) {
        if (shares[k].started) {
            pthread_join(shares[k].thread, nullptr);
        } else {
            shares[k].run();
        }
    }
    for (const Share &share : shares) {
        if (share.failure) std::rethrow_exception(share.failure);
    }
}

}  // namespace powderkit::phase
