#pragma once

#include "platform/sound_output.h"

#include <cstdint>
#include <memory>

namespace lyravox::platform {

// The sound output on PulseAudio's own client library (also served by PipeWire's PulseAudio
// service): one playback stream on libpulse's threaded main loop, placed by the server's own
// timing, so each clip is heard a fixed delay after its start time.
//
// Threads: every libpulse call runs on the main loop's thread, never on the user-interface
// thread, which hands starts over through ClipStream's atomics and wakes the loop through an
// eventfd; it never takes the main loop's lock, so a server that hangs or is stopped cannot hold
// it up. The loop's thread asks for real-time priority and goes on quietly without it.
//
// Life: nothing connects until open() or the first play(). About ten seconds after the last clip
// has ended the stream is corked, so the server can suspend its sink; a start uncorks it. A
// server that goes away (killed, restarted) is looked for again every quarter second off the
// user-interface thread; until it answers, clips are silence. Output keeps a little headroom so
// a server resampling to 48 kHz does not clip.
class PulseSoundOutput final : public SoundOutput {
public:
    // From a start's time to its first sample heard: the server's buffer (kServerBufferMs), one
    // refill period and a margin for a late main loop.
    static constexpr int kServerBufferMs = 25;
    static constexpr int kRefillMs = 5;
    static constexpr SteadyTimeNs kHeardDelayNs = 30'000'000;

    PulseSoundOutput();
    ~PulseSoundOutput() override;
    PulseSoundOutput(const PulseSoundOutput&) = delete;
    PulseSoundOutput& operator=(const PulseSoundOutput&) = delete;

    void play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) override;
    void open() override;
    std::string_view backendName() const override { return "pulseaudio"; }
    // The server's underflows and the loop's own late refills.
    std::uint64_t underrunCount() const override;
    double steadySecondsPerSoundSecond() const override;

    // Any thread, for tests and benchmarks: a stream is connected and playing (not corked).
    bool streamRunning() const;
    // Any thread: the server's underflows alone.
    std::uint64_t serverUnderrunCount() const;
    // Any thread: starts handed over too late to land on their frame (the UI thread woke more
    // than the heard delay's spare time late), heard late instead.
    std::uint64_t lateStartCount() const;
    // Any thread: streams made so far (a new one after each reconnection).
    int streamsMade() const;

private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};

}  // namespace lyravox::platform
