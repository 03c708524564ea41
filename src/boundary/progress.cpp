// The thread's progress handler and the throttled reports of long work.
#include "boundary/progress.hpp"

#include <string>

#include "boundary/boundary.hpp"

namespace powderkit::phase {

namespace {

struct Handler {
    pk_progress_handler function = nullptr;
    void *context = nullptr;
};

thread_local Handler handler;

constexpr auto kInterval = std::chrono::milliseconds(250);

}  // namespace

Progress::Progress(const char *stage) noexcept
    : stage_(stage), active_(handler.function != nullptr) {
    // The clock only where it will be read: the pattern's evaluations, run by
    // the hundred in a refinement, make one of these each.
    if (active_) last_ = std::chrono::steady_clock::now();
}

void Progress::report(double fraction) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < kInterval) return;
    last_ = now;
    const double clamped = fraction < 0.0 ? 0.0 : (fraction > 1.0 ? 1.0 : fraction);
    if (handler.function(handler.context, clamped, stage_) != 0) {
        fail(PK_ERROR_STOPPED, std::string("stopped by the progress handler while ") + stage_);
    }
}

}  // namespace powderkit::phase

extern "C" {

void pk_set_progress_handler(pk_progress_handler function, void *context) {
    powderkit::phase::handler.function = function;
    powderkit::phase::handler.context = function != nullptr ? context : nullptr;
}

}  // extern "C"
