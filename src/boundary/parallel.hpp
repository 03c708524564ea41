#ifndef POWDERKIT_PHASE_PARALLEL_HPP
#define POWDERKIT_PHASE_PARALLEL_HPP

#include <cstddef>
#include <functional>
#include <memory>

namespace powderkit::phase {

// Runs work(0) … work(count − 1), work(0) on the calling thread and each
// other on a thread of its own, and returns when all have ended. A thread
// that cannot be started leaves its work to the calling thread, after
// work(0). The first exception any of them threw (in order of k) is thrown
// again here, after all have ended. While a ThreadTeam of enough threads
// lives on the calling thread (and is not already at work), its waiting
// threads take the shares instead of new ones.
void runShared(std::size_t count, const std::function<void(std::size_t)> &work);

// Threads − 1 helper threads kept waiting for runShared's shares for as long
// as the team lives, on the thread that made it: starting and ending a
// thread costs tens of microseconds, waking a waiting one a few, and a
// refinement cycle shares its work some ten times. A team inside a team of
// at least as many threads adds nothing. Ending the team ends its threads.
class ThreadTeam {
public:
    explicit ThreadTeam(int threads);
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam &) = delete;
    ThreadTeam &operator=(const ThreadTeam &) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
    State *outer_ = nullptr;
};

}  // namespace powderkit::phase

#endif
