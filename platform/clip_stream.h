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
//
// Threads: start() and reclaim() belong to one UI thread, renderAudioThread() to one audio
// thread; no mutex is shared between them. A start is handed over through a small fixed set of
// slots and one atomic exchange, and the clip's bytes stay alive until the audio thread has let
// go of them (played to the end, cut off, or superseded before it began); they are freed on the
// UI thread, in start() or reclaim(). The audio thread must have stopped calling in (device
// closed) before the stream is destroyed.
//
// Timing: the audio thread maps steady time to stream frames from its own call times, keeping
// the earliest-arriving line rather than each arrival, so callback jitter does not move the
// clips. A start lands on the frame heard fixedLatencyNs() after its call time, mid-buffer if
// need be, so starts keep the rhythm in which they were made; one whose frame has already been
// rendered (the audio thread ran late) begins at the next buffer's first frame.
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

    // Audio thread, called once per device buffer. Fills `out` (mono signed 16-bit frames at
    // sampleRateHz, any count, usually bufferFrames) with the next frames of the stream; `nowNs`
    // is the steady_clock time at which the callback began. Takes no lock, allocates and frees
    // nothing, logs nothing, never blocks or waits for the UI thread.
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
