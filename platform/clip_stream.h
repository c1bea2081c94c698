#pragma once

#include "platform/pcm_clip.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace lyravox::platform {

// Nanoseconds of std::chrono::steady_clock.
using SteadyTimeNs = std::int64_t;

// The heart of the sound output, free of any audio library so tests can drive it directly:
// the user-interface thread hands clips over, the audio thread renders the stream.
class ClipStream {
public:
    ClipStream(int sampleRateHz, std::size_t bufferFrames);
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    // UI thread. Cuts off what sounds and begins `clip` (null or empty: silence) at the stream
    // position heard fixedLatencyNs() after callTimeNs. Never blocks; frees clips the audio
    // thread has let go of.
    void start(std::shared_ptr<const PcmClip> clip, SteadyTimeNs callTimeNs);

    // Audio thread. Fills `out` with the next frames of the stream; `nowNs` is when this call
    // began. Takes no lock, allocates and frees nothing, never blocks.
    void renderAudioThread(std::span<std::int16_t> out, SteadyTimeNs nowNs) noexcept;

    // UI thread. Frees the clips the audio thread has let go of.
    void reclaim();

    // The fixed delay from a start call to its first sample in the stream.
    SteadyTimeNs fixedLatencyNs() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lyravox::platform
