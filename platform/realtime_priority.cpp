#include "platform/realtime_priority.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace lyravox::platform {

// Low among real-time priorities: above every ordinary process, below the sound server's own
// threads, which must run first.
constexpr int kRealtimePriority = 5;

void askForRealtimePriority() noexcept {
#if defined(__linux__)
    // Made real-time already (by the sound library's own module, say): its priority stays.
    const int policy = ::sched_getscheduler(0);
    if (policy == SCHED_FIFO || policy == SCHED_RR)
        return;
    sched_param parameters{};
    parameters.sched_priority = kRealtimePriority;
    // Zero is the calling thread on Linux.
    static_cast<void>(::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameters));
#endif
}

}  // namespace lyravox::platform
