#pragma once

#include <chrono>
#include <cstdint>

namespace lyravox::platform {

// Nanoseconds of std::chrono::steady_clock (CLOCK_MONOTONIC on Linux): the clock of start times,
// shared by the run time, the sound outputs and the audio threads.
using SteadyTimeNs = std::int64_t;

inline SteadyTimeNs steadyNowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

}  // namespace lyravox::platform
