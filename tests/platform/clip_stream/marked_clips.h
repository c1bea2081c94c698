#pragma once

#include "platform/pcm_clip.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace lyravox::platform::test_support {

// Each sample names its clip and its index, so any sample of the stream tells where it came from
// and a torn, stale or shifted copy cannot pass for the real one.
inline constexpr int kMarkedClipIdCount = 8;
inline constexpr std::size_t kMarkedClipMaxFrames = 4000;

inline std::shared_ptr<PcmClip> markedClip(int id, std::size_t frames) {
    auto clip = std::make_shared<PcmClip>();
    clip->samples.resize(frames);
    for (std::size_t i = 0; i < frames; ++i)
        clip->samples[i] = static_cast<std::int16_t>(
                static_cast<std::size_t>(id) * kMarkedClipMaxFrames + i + 1);
    return clip;
}

struct MarkedSample {
    int id;
    std::size_t index;
};

// Silence is no marked sample.
inline std::optional<MarkedSample> decodeMarked(std::int16_t sample) {
    if (sample <= 0)
        return std::nullopt;
    const auto value = static_cast<std::size_t>(sample) - 1;
    return MarkedSample{static_cast<int>(value / kMarkedClipMaxFrames),
                        value % kMarkedClipMaxFrames};
}

}  // namespace lyravox::platform::test_support
