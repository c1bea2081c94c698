#pragma once

// Records the private PipeWire's null sink from inside the process, through libpipewire, on the
// graph's own timeline: every captured buffer is placed at the graph position (ticks) it came
// from, so a capture that misses a cycle leaves a gap in place instead of pulling later sound
// earlier, and each frame's time on steady_clock is known from the graph cycle it was heard in.
// Needs a graph at 44100 Hz (PipeWireTestServer(44100)), where nothing is resampled.

#include <cstdint>
#include <memory>
#include <vector>

namespace lyravox::test {

class SinkCapture {
public:
    // Connects to the daemon PIPEWIRE_RUNTIME_DIR names and records up to `capacityFrames`.
    explicit SinkCapture(std::size_t capacityFrames);
    ~SinkCapture();
    SinkCapture(const SinkCapture&) = delete;
    SinkCapture& operator=(const SinkCapture&) = delete;

    // False if nothing arrived within five seconds.
    [[nodiscard]] bool waitUntilRecording() const;
    // Ends the capture; samples() and heardTimeNs() stay readable.
    void stop();

    // The sink's frames from the first captured cycle on, silence where no buffer came.
    std::vector<std::int16_t> samples() const;
    // steady_clock time at which frame `frame` of samples() was heard; -1 if unknown.
    std::int64_t heardTimeNs(std::size_t frame) const;
    // Graph cycles the capture itself missed (their frames read as silence).
    std::uint64_t missedCycles() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace lyravox::test
