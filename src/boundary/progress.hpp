// The progress of long work: the thread's handler (pk_set_progress_handler),
// called at most about every quarter second so that a tight loop can ask
// often and pay for a clock reading only now and then.
#ifndef POWDERKIT_PHASE_PROGRESS_HPP
#define POWDERKIT_PHASE_PROGRESS_HPP

#include <chrono>
#include <cstdint>

namespace powderkit::phase {

class Progress {
public:
    // `stage` names the step for the handler; it must outlive the object.
    explicit Progress(const char *stage) noexcept;

    // Reports `fraction` (0 … 1) of the step when a quarter second has passed
    // since the last report; fails with PK_ERROR_STOPPED, naming the step,
    // when the handler asks to stop. Cheap: the clock is read once in 1,024
    // calls, and never without a handler.
    void at(double fraction) {
        if (!active_ || ++calls_ % 1024 != 0) return;
        report(fraction);
    }

private:
    void report(double fraction);

    const char *stage_;
    bool active_;
    std::uint32_t calls_ = 0;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace powderkit::phase

#endif
