// Work shared among threads inside one call, for the callers that ask for
// it (a refinement's options.threads). POSIX threads are used directly: the
// C++ thread object would bring std::terminate into the library, which must
// never end its host.
#ifndef POWDERKIT_PHASE_PARALLEL_HPP
#define POWDERKIT_PHASE_PARALLEL_HPP

#include <cstddef>
#include <functional>

namespace powderkit::phase {

// Runs work(0) … work(count − 1), work(0) on the calling thread and each
// other on a thread of its own, and returns when all have ended. A thread
// that cannot be started leaves its work to the calling thread, after
// work(0). The first exception any of them threw (in order of k) is thrown
// again here, after all have ended.
void runShared(std::size_t count, const std::function<void(std::size_t)> &work);

}  // namespace powderkit::phase

#endif
