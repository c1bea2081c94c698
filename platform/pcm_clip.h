#pragma once

#include <cstdint>
#include <vector>

namespace lyravox::platform {

inline constexpr int kOutputSampleRateHz = 44100;

// A clip ready for the sound output: mono signed 16-bit samples at kOutputSampleRateHz.
// Immutable once handed to an output; the output shares it until it has finished with it.
struct PcmClip {
    std::vector<std::int16_t> samples;
};

}  // namespace lyravox::platform
