#pragma once

// A private headless PipeWire (pipewire, wireplumber and pipewire-pulse on a private session bus)
// with one null sink, test_null, and a recording of what the sink received, for the sound tests
// and benchmarks: nothing reaches a loudspeaker and a desktop's own server is never touched. They
// drive tools/pipewire-null-sink.sh, pactl and parec, so they need pipewire, pipewire-pulse,
// wireplumber, dbus and pulseaudio-utils.

#include "tools/server_harness/parec_recording.h"
#include "tools/server_harness/private_server_process.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lyravox::test {

// One server at fixed sockets; start() again after stop() gives a new server at the same
// sockets, as when a desktop's sound server restarts. The server also ends when this process
// does, so a test that crashes leaves none behind.
class PipeWireTestServer {
public:
    using Stop = PrivateServerProcess::Stop;

    // The graph's rate: 48000 is PipeWire's default, 44100 the program's own, where nothing is
    // resampled. In a fresh directory under /tmp, removed again by the destructor.
    explicit PipeWireTestServer(int graphRateHz = 48000);
    // Stops the server (Term); whoever must know that it stopped calls stop() first.
    ~PipeWireTestServer() = default;
    PipeWireTestServer(const PipeWireTestServer&) = delete;
    PipeWireTestServer& operator=(const PipeWireTestServer&) = delete;

    // True when the packages the server needs are installed; a test without them skips.
    static bool packagesInstalled();

    // Empty on success, else why no server runs.
    [[nodiscard]] std::string start();
    // False if the server would not end. True at once when none runs.
    [[nodiscard]] bool stop(Stop how);
    // SIGSTOP / SIGCONT to the PipeWire daemon and its pulse layer: a server that hangs.
    void freeze();
    void thaw();

    // Points this process's PipeWire and PulseAudio clients (and the children it starts) at this
    // server: PIPEWIRE_RUNTIME_DIR and PULSE_SERVER.
    void useFromThisProcess() const;

    // "RUNNING", "IDLE" or "SUSPENDED" as the pulse layer reports the null sink; empty when it
    // cannot be asked.
    std::string sinkState() const;

    // The daemon's and its pulse layer's process ids (0 while none runs), for CPU figures.
    pid_t pipewirePid() const;
    pid_t pipewirePulsePid() const;

    // For PULSE_SERVER or parec's --server; meaningful once start() has succeeded.
    std::string pulseAddress() const;
    // For PIPEWIRE_RUNTIME_DIR.
    std::filesystem::path runtimeDirectory() const { return directory() / "runtime"; }
    const std::filesystem::path& directory() const { return process_.directory(); }
    int graphRateHz() const { return graphRateHz_; }

private:
    PrivateServerProcess process_;
    int graphRateHz_;
};

// Records the null sink's monitor into a file as raw mono frames, 16-bit at 44100 Hz (what the
// program sends, unchanged on a 44100 Hz graph) or 32-bit float at the graph's rate (what a sound
// card would be given, overshoots above full scale included).
class SinkRecording {
public:
    enum class Format { S16At44100, FloatAtGraphRate };

    // Starts parec in the background. If it cannot start, waitUntilRecording() fails and the
    // recording stays empty.
    SinkRecording(const PipeWireTestServer& server, std::filesystem::path file,
                  Format format = Format::S16At44100);
    ~SinkRecording() = default;
    SinkRecording(const SinkRecording&) = delete;
    SinkRecording& operator=(const SinkRecording&) = delete;

    // parec connects in the background; whatever plays before it has begun is not in the file.
    // False if nothing arrived within five seconds.
    [[nodiscard]] bool waitUntilRecording() const;
    std::vector<std::int16_t> samplesSoFar() const;
    // Ends parec (false if it had to be killed); the file stays readable afterwards.
    bool stop();
    std::vector<float> floatSamples() const;

private:
    ParecRecording parec_;
};

}  // namespace lyravox::test
