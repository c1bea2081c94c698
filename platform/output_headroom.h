#pragma once

#include <cstdint>
#include <span>

namespace lyravox::platform {

// A sound server resampling full-scale 44100 Hz clips to 48000 Hz overshoots by about 0.1 % and
// would clip at an integer sink; about 0.26 dB of headroom keeps every sample inside. The clips
// themselves stay full scale. Q15: 31785 / 32768 = 0.970.
inline constexpr std::int32_t kOutputHeadroomQ15 = 31785;

constexpr std::int16_t withOutputHeadroom(std::int16_t sample) noexcept {
    return static_cast<std::int16_t>((std::int32_t{sample} * kOutputHeadroomQ15) >> 15);
}

// Audio thread: scales a rendered buffer in place; no allocation, no lock.
inline void applyOutputHeadroomAudioThread(std::span<std::int16_t> frames) noexcept {
    for (std::int16_t& sample : frames)
        sample = withOutputHeadroom(sample);
}

}  // namespace lyravox::platform
