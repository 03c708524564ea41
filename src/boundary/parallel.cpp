// runShared: one POSIX thread per share beyond the first, each share's
// exception kept and thrown again on the calling thread.
#include "boundary/parallel.hpp"

#include <pthread.h>

#include <exception>
#include <vector>

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

}  // namespace

void runShared(std::size_t count, const std::function<void(std::size_t)> &work) {
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
