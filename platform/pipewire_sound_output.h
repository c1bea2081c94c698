#pragma once

#include "platform/sound_output.h"

#include <cstdint>
#include <memory>

namespace lyravox::platform {

// The sound output on a PipeWire daemon, through libpipewire's own stream (no pulse layer in
// between): mono 16-bit at 44100 Hz, resampled by the graph to whatever it runs at, with the
// shared output headroom so a 48 kHz graph never clips.
//
// Threads: the user-interface thread only hands clips to the ClipStream and pokes an eventfd;
// it never takes the thread loop's lock and never calls anything that waits on the server, so a
// frozen or vanished daemon cannot stall the window. PipeWire's loop thread owns the connection:
// it wakes and idles the stream and, when the daemon goes away, connects again every few hundred
// milliseconds until one answers. The data thread (real-time where the system allows it) renders.
//
// Idle: ClipStream::kIdleStopSeconds after the last clip has ended the stream goes inactive, so
// nothing runs and the session manager can suspend the sink; the next start wakes it and is heard
// whole.
class PipeWireSoundOutput final : public SoundOutput {
public:
    struct Options {
        // Frames per graph cycle the stream asks for (11.6 ms; a click is heard two cycles and a
        // margin later, 26.2 ms). 256 frames would give 14.6 ms, but on a busy two-core machine,
        // even with a real-time data thread, they dropped out several times as often as 512
        // (a graph cycle missed whenever the daemon's own thread woke a few milliseconds late);
        // a dropout is heard, eleven milliseconds more before a click's sound are not.
        std::uint32_t quantumFrames = 512;
    };

    ~PipeWireSoundOutput() override;
    PipeWireSoundOutput(const PipeWireSoundOutput&) = delete;
    PipeWireSoundOutput& operator=(const PipeWireSoundOutput&) = delete;

    // Null when no PipeWire daemon's socket accepts a connection; never waits for one to reply
    // (the context and the connection are made on the output's own thread, which also finds a
    // daemon again after it went away).
    static std::unique_ptr<PipeWireSoundOutput> connect(Options options);

    void play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) override;
    std::string_view backendName() const override { return "pipewire"; }

    // What the loop thread last saw, for tests and diagnosis; any thread.
    bool isStreamActive() const;
    bool isConnected() const;
    // Graph cycles the stream missed (the server's clock moved on more than one cycle) plus the
    // cycles in which the stream had no buffer to fill.
    std::uint64_t underrunCount() const override;
    // The graph's clock against steady_clock, as the heard line has learnt it (a real card's
    // clock drives the graph); any thread.
    double steadySecondsPerSoundSecond() const override;
    // The same by cause.
    struct Underruns {
        std::uint64_t missedGraphCycles = 0;
        std::uint64_t cyclesWithoutBuffer = 0;
        // Renders the ClipStream found so late that its heard line had to move.
        std::uint64_t lateRenders = 0;
    };
    Underruns underruns() const;
    // The graph's last cycle as the data thread saw it.
    struct CycleReport {
        std::uint32_t bufferFrames = 0;
        std::int64_t serverDelayNs = 0;
    };
    CycleReport lastCycle() const;

    struct Connection;

private:
    explicit PipeWireSoundOutput(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

// Null when no PipeWire daemon answers, so the caller can choose another output.
std::unique_ptr<SoundOutput> makePipeWireSoundOutput();

}  // namespace lyravox::platform
