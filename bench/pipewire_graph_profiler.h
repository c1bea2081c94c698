#pragma once

// The PipeWire daemon's own view of its graph, from its profiler (what pw-top shows): how many
// cycles the driver ran late (its xrun count) and in how many cycles one named node had not
// finished by the end of the cycle, so a benchmark can set the server's count of dropouts beside
// the output's own. Connects to the daemon PIPEWIRE_RUNTIME_DIR names.

#include <cstdint>
#include <memory>
#include <string>

namespace lyravox::bench {

class GraphProfiler {
public:
    explicit GraphProfiler(std::string nodeName);
    ~GraphProfiler();
    GraphProfiler(const GraphProfiler&) = delete;
    GraphProfiler& operator=(const GraphProfiler&) = delete;

    struct Counts {
        // Profiled cycles in which the node took part.
        std::uint64_t nodeCycles = 0;
        // Of those, the ones it had not finished when the cycle ended.
        std::uint64_t nodeLateCycles = 0;
        // The driver's xruns since this profiler connected.
        std::uint64_t driverXruns = 0;
    };
    // False when no profiler answered (the daemon runs without its profiler module).
    bool attached() const;
    Counts counts() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace lyravox::bench
