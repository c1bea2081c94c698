#pragma once

#include "platform/pcm_clip.h"
#include "platform/steady_time.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace lyravox::platform {

// The heart of every sound output, free of any audio library so tests can drive it directly:
// the user-interface thread hands clips over, the audio thread renders the stream.
//
// Threads: start() and reclaim() belong to one UI thread, the render entries and the idle-stop
// calls to the stream's own thread (the audio callback's, or the server loop's while the stream
// is stopped); no mutex is shared between them. A start is handed over through a small fixed
// set of slots and one atomic exchange, and the clip's bytes stay alive until the audio thread
// has let go of them (played to the end, cut off, or superseded before it began); they are freed
// on the UI thread, in start() or reclaim(). The audio thread must have stopped calling in
// (stream closed) before the stream is destroyed.
//
// Timing, two ways:
// - Arrival time (renderAudioThread, for outputs that cannot ask the server): the audio thread
//   maps steady time to stream frames from its own call times, keeping the earliest-arriving
//   line rather than each arrival, so callback jitter does not move the clips. A start lands on
//   the frame rendered fixedLatencyNs() after its time.
// - Heard time (renderHeardAudioThread, for outputs whose server says when each frame is heard):
//   the backend reports, per buffer, the steady time its first frame will be heard. The stream
//   follows those reports with a slow loop, so their jitter does not move clips while a rate a
//   few hundred ppm off steady_clock is followed; a report far off the line (a refill, an
//   underrun, a stream resumed after idle) moves the line at once. A start is heard
//   fixedLatencyNs() after its time.
// Either way a start lands mid-buffer if need be, so starts keep the rhythm in which they were
// due; one whose frame has already been rendered (the audio thread or the UI thread ran late)
// begins at the next buffer's first frame, whole.
//
// Idle: once nothing has sounded for kIdleStopSeconds the stream reports idle; the backend then
// stops its stream from its own thread (enterIdleStop()) so that the server can suspend its sink,
// and a start wakes it (start() says when the backend must).
class ClipStream {
public:
    // Not sooner: someone tuning plays the same string again within seconds, and a suspended
    // sound card takes time to wake.
    static constexpr int kIdleStopSeconds = 10;

    struct HeardTiming {
        // From a start's time to its first sample heard; more than the server's buffer plus one
        // refill period, so that a start made at once still finds its frame unrendered.
        SteadyTimeNs heardDelayNs;
        // Above zero: the server refreshes its timing only about this often, and each refresh
        // may be off by milliseconds, alike in every report until the next one (PulseAudio's
        // timing info on a busy server). The line then averages the reports over several
        // refreshes, and a large error moves it at once only when the backend says the sound
        // moved (heardLineMovedAudioThread()) or when it has lasted through several refreshes.
        // Zero: each report errs on its own, and a move is taken once a few reports agree.
        SteadyTimeNs reportRefreshNs = 0;
    };

    // Arrival-time placement for buffers of about bufferFrames.
    ClipStream(int sampleRateHz, std::size_t bufferFrames);
    // Heard-time placement.
    ClipStream(int sampleRateHz, HeardTiming timing);
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    // UI thread. Cuts off what sounds and begins `clip` (null or empty: silence) at the stream
    // position heard fixedLatencyNs() after startTimeNs. Never blocks; frees clips the audio
    // thread has let go of. True when the stream is stopped for idle and the backend must wake
    // its thread (without waiting on it) so that the start is played.
    bool start(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs);

    // Audio thread, called once per buffer. Fills `out` (mono signed 16-bit frames at
    // sampleRateHz, any count) with the next frames of the stream; `nowNs` is the steady time at
    // which the callback began. Takes no lock, allocates and frees nothing, logs nothing, never
    // blocks or waits for the UI thread.
    void renderAudioThread(std::span<std::int16_t> out, SteadyTimeNs nowNs) noexcept;

    // Audio thread, as renderAudioThread, for heard-time streams: `firstFrameHeardNs` is when the
    // server will play out[0], by its own clock mapped to steady time.
    void renderHeardAudioThread(std::span<std::int16_t> out,
                                SteadyTimeNs firstFrameHeardNs) noexcept;

    // Audio thread, as renderHeardAudioThread, when the backend has no report for this buffer
    // (its server's timing is being refreshed): the line goes on as followed. Only after a
    // first report.
    void renderOnLineAudioThread(std::span<std::int16_t> out) noexcept;

    // Audio or server-loop thread, heard-time streams: the server said its stream ran dry or
    // was moved, so the next few reports are taken as they come instead of being smoothed.
    void heardLineMovedAudioThread() noexcept;

    // Audio thread, before the first render into a new server stream (after a reconnection):
    // what sounded on the old one is cut, since it would resume mid-wave, a click; the timing
    // starts afresh; a start still waiting is kept unless it is already overdue by more than
    // 50 ms at the new stream's first buffer (it fell due while the server was gone).
    void beginNewServerStreamAudioThread() noexcept;

    // Audio thread, after a render: nothing has sounded for kIdleStopSeconds and no start waits.
    bool idleAudioThread() const noexcept;

    // Stream's own thread, before it stops the stream for idle. False when a start came in the
    // meantime: then the stream must go on. Every start after a true return makes start()
    // return true, until leaveIdleStop().
    bool enterIdleStop() noexcept;
    // Stream's own thread, as it runs the stream again after a wake.
    void leaveIdleStop() noexcept;
    // Any thread.
    bool idleStopped() const noexcept;

    // Any thread: renders that came so late that the line had to move (the stream ran dry).
    std::uint64_t lateRenderCount() const noexcept;

    // Any thread, lock-free: how long one second of sound lasts on steady_clock by the followed
    // heard-time rate (1.0 for arrival time, and until the reports have shown a rate).
    double steadySecondsPerSoundSecond() const noexcept;

    // Any thread: starts that came in after their frame had been rendered, so they began late,
    // at the next buffer.
    std::uint64_t lateStartCount() const noexcept;

    // UI thread. Frees the clips the audio thread has let go of.
    void reclaim();

    // The fixed delay from a start's time to its first sample.
    SteadyTimeNs fixedLatencyNs() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lyravox::platform
