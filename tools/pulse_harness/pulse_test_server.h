#pragma once

// A private PulseAudio server with a null sink, and a recording of what the sink received, for
// the sound tests and benchmarks: nothing reaches a loudspeaker, the recording holds exactly the
// samples the server was given, and a desktop's own server is never touched. Both drive
// tools/pulse-null-sink.sh and parec, so they need pulseaudio and pulseaudio-utils.

#include "tools/server_harness/parec_recording.h"
#include "tools/server_harness/private_server_process.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lyravox::test {

struct PulseServerOptions {
    int sinkRateHz = 44100;
    // Above zero: the server suspends the sink after this many seconds without a playing stream
    // (and without a recording of its monitor).
    int suspendAfterIdleSeconds = 0;
};

// One server at a fixed socket path; start() again after stop() gives a new server at the same
// path, as when a desktop's sound server restarts. The server also ends when this process does,
// so a test that crashes leaves none behind.
class PulseTestServer {
public:
    using Stop = PrivateServerProcess::Stop;
    using Options = PulseServerOptions;

    // In a fresh directory under /tmp, removed again by the destructor; directory() is empty if
    // none could be made.
    PulseTestServer();
    explicit PulseTestServer(Options options);
    // In `directory`, made if missing and left in place.
    explicit PulseTestServer(std::filesystem::path directory, Options options = {});
    // Stops the server (Term); whoever must know that it stopped calls stop() first.
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    // Empty on success, else why no server runs.
    [[nodiscard]] std::string start();
    // False if the server would not end. True at once when none runs.
    [[nodiscard]] bool stop(Stop how);

    // Freezes (SIGSTOP) or thaws (SIGCONT) the running server, as a hung server would be.
    bool freeze();
    bool thaw();

    // The null sink's state as pactl names it: "RUNNING", "IDLE", "SUSPENDED"; empty if pactl
    // gives none.
    std::string sinkState() const;
    // How many playback streams the server has, and how many of them are corked (paused).
    struct Streams {
        int count = 0;
        int corked = 0;
    };
    Streams playbackStreams() const;

    // For PULSE_SERVER or parec's --server; meaningful once start() has succeeded.
    std::string address() const { return "unix:" + socket_; }
    const std::filesystem::path& directory() const { return process_.directory(); }
    int sinkRateHz() const { return options_.sinkRateHz; }

private:
    std::string pactl(const std::string& arguments) const;

    Options options_;
    PrivateServerProcess process_;
    std::string socket_;
};

// Records the null sink's monitor into a file as raw mono 16-bit frames at the sink's own rate
// (44100 Hz unless the server was given another), so nothing is resampled on the way.
class MonitorRecording {
public:
    struct Stopped {
        std::vector<std::int16_t> samples;
        // False when parec ignored the request to end and had to be killed.
        bool endedWhenAsked = true;
    };

    // Starts parec in the background. If it cannot start, waitUntilRecording() fails and the
    // recording stays empty.
    MonitorRecording(const std::string& serverAddress, std::filesystem::path file,
                     int rateHz = 44100);
    ~MonitorRecording() = default;
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    // parec connects in the background; whatever plays before it has begun is not in the file.
    // False if nothing arrived within five seconds.
    [[nodiscard]] bool waitUntilRecording() const;
    std::vector<std::int16_t> samplesSoFar() const;
    // Ends parec and returns all it recorded; again after that, the same samples.
    Stopped stop();

private:
    ParecRecording parec_;
};

}  // namespace lyravox::test
