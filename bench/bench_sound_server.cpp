// The program's sound output as chosen for a desktop, against a private PulseAudio server with a
// null sink, heard at the sink: how long a click waits for its sound and how steady that is, how
// exact a rhythm of starts is (idle machine, and with a busy process on each core), what the
// output costs while idle and whether the server can suspend its sink, the first start after
// idle, and how soon a restarted server is heard again. Every figure is per output:
// `bench_sound_server [pulseaudio|sdl ...] [--starts N] [--call-times] [--dropouts-only]`
// (default: both, 100 starts); --call-times hands each start over with the time it was made
// instead of the time it was due, as the program did before starts carried their due time. For
// the native output also a dropout loop at the short rest (idle machine and loaded), recorded at
// the sink, with the underruns the output and the server counted; its length is
// LYRAVOX_BENCH_DROPOUT_SECONDS (default 20 s; 600 by hand); --dropouts-only runs only that.
// Prints `name value unit` lines.
#include "bench/machine_load.h"
#include "bench/sink_dropouts.h"
#include "platform/output_headroom.h"
#include "platform/pulse_sound_output.h"
#include "platform/sound_output.h"
#include "platform/sound_output_factory.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <span>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using lyravox::platform::PcmClip;
using lyravox::platform::SoundOutput;
using lyravox::platform::steadyNowNs;
using lyravox::platform::SteadyTimeNs;
using lyravox::test::PulseTestServer;
using namespace std::chrono_literals;

constexpr int kSinkRateHz = 44100;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr SteadyTimeNs kShortRestNs = kNsPerSecond;
constexpr auto kWarmUp = 2500ms;
// The desktops' servers suspend an unused sink after about five seconds.
constexpr int kSuspendAfterIdleSeconds = 5;
constexpr std::size_t kClipFrames = 1764;  // 40 ms
constexpr std::size_t kOpeningFrames = 16;

// Clip i opens with samples no other clip holds, so each start is found in the recording.
std::shared_ptr<const PcmClip> markedClip(int i) {
    auto clip = std::make_shared<PcmClip>();
    std::uint32_t state = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
    for (std::size_t f = 0; f < kClipFrames; ++f) {
        state = state * 1664525u + 1013904223u;
        clip->samples.push_back(static_cast<std::int16_t>(1000 + (state >> 20) % 20000));
    }
    return clip;
}

double quantile(std::vector<double> values, double q) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double spreadOf(const std::vector<double>& values) {
    if (values.empty())
        return NAN;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return *high - *low;
}

// Reads the sink's monitor through libpulse and notes, for each read, when the next frame to be
// read was played at the sink (now minus the record latency), so every frame of the recording
// maps to steady time.
class TimedRecording {
public:
    explicit TimedRecording(const std::string& server) {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, kSinkRateHz, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = 441 * 2;
        int error = 0;
        pa_ = pa_simple_new(server.c_str(), "bench", PA_STREAM_RECORD, "lyravox_null.monitor",
                            "monitor", &spec, nullptr, &attributes, &error);
        if (pa_ == nullptr) {
            std::fprintf(stderr, "bench_sound_server: cannot record: %s\n", pa_strerror(error));
            return;
        }
        thread_ = std::thread([this] { read(); });
    }
    ~TimedRecording() { stop(); }

    bool ok() const { return pa_ != nullptr; }

    void stop() {
        running_.store(false);
        if (thread_.joinable())
            thread_.join();
        if (pa_ != nullptr) {
            pa_simple_free(pa_);
            pa_ = nullptr;
        }
    }

    // Steady time at which `frame` was heard, by a straight line fitted to the reads: the sink
    // need not run at its nominal rate by steady_clock (a null sink here ran 125 ppm fast, 5 ms
    // over a 40 s run, which a nominal-rate map would charge to the output). Reads that came late
    // sit above the line; they are left out and the line fitted again without them.
    SteadyTimeNs heardNs(std::int64_t frame) const {
        return static_cast<SteadyTimeNs>(line().atFirstFrameNs +
                                         static_cast<double>(frame) * line().frameNs);
    }

    // How much faster than nominal the sink plays by steady_clock.
    double sinkRateOffsetPpm() const { return (1e9 / kSinkRateHz / line().frameNs - 1) * 1e6; }

    const std::vector<std::int16_t>& samples() const { return samples_; }

private:
    void read() {
        std::vector<std::int16_t> chunk(441);
        while (running_.load()) {
            int error = 0;
            if (pa_simple_read(pa_, chunk.data(), chunk.size() * 2, &error) < 0)
                return;
            samples_.insert(samples_.end(), chunk.begin(), chunk.end());
            const pa_usec_t latencyUs = pa_simple_get_latency(pa_, &error);
            if (latencyUs != static_cast<pa_usec_t>(-1))
                marks_.emplace_back(static_cast<std::int64_t>(samples_.size()),
                                    steadyNowNs() - static_cast<SteadyTimeNs>(latencyUs) * 1000);
        }
    }

    struct Line {
        double atFirstFrameNs = 0;
        double frameNs = 1e9 / kSinkRateHz;
    };

    // Least squares over the reads within `keepNs` of `previous` (all reads when there is none).
    Line fitOnce(const std::optional<Line>& previous, double keepNs) const {
        double n = 0, sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
        for (const auto& [readFrame, timeNs] : marks_) {
            const auto x = static_cast<double>(readFrame);
            const auto y = static_cast<double>(timeNs);
            if (previous && std::abs(y - previous->atFirstFrameNs - x * previous->frameNs) > keepNs)
                continue;
            n += 1;
            sumX += x;
            sumY += y;
            sumXX += x * x;
            sumXY += x * y;
        }
        const double spread = n * sumXX - sumX * sumX;
        if (n < 2 || spread <= 0)
            return previous.value_or(Line{});
        Line line;
        line.frameNs = (n * sumXY - sumX * sumY) / spread;
        line.atFirstFrameNs = (sumY - line.frameNs * sumX) / n;
        return line;
    }

    // After stop(): fitted once, on first use.
    const Line& line() const {
        if (!line_) {
            line_ = fitOnce(std::nullopt, 0);
            for (const double keepNs : {2e6, 0.5e6})
                line_ = fitOnce(line_, keepNs);
        }
        return *line_;
    }

    mutable std::optional<Line> line_;
    pa_simple* pa_ = nullptr;
    std::atomic<bool> running_{true};
    std::thread thread_;
    std::vector<std::int16_t> samples_;
    std::vector<std::pair<std::int64_t, SteadyTimeNs>> marks_;
};

// The native outputs leave a little headroom; SDL's passes the samples as they are.
bool withHeadroom = false;

std::optional<std::int64_t> onsetOf(const std::vector<std::int16_t>& samples, const PcmClip& clip) {
    std::vector<std::int16_t> opening(clip.samples.begin(), clip.samples.begin() + kOpeningFrames);
    if (withHeadroom)
        lyravox::platform::applyOutputHeadroomAudioThread(opening);
    const auto at = std::search(samples.begin(), samples.end(), opening.begin(), opening.end());
    if (at == samples.end())
        return std::nullopt;
    return at - samples.begin();
}

// CPU seconds and context switches (each a wake-up or a preemption) of a process, all threads.
// Time on a CPU comes from schedstat, in nanoseconds: the clock ticks of /proc/PID/stat cannot
// tell 0.05 % of a core from 0.1 % over ten seconds.
struct ProcessUse {
    double cpuSeconds = 0;
    long long switches = 0;
};

ProcessUse processUse(pid_t pid) {
    ProcessUse use;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long onCpuNs = 0;
        if (schedstat >> onCpuNs)
            use.cpuSeconds += static_cast<double>(onCpuNs) / 1e9;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:") ||
                line.starts_with("nonvoluntary_ctxt_switches:"))
                use.switches += std::stoll(line.substr(line.find(':') + 1));
    }
    return use;
}

pid_t serverPid(const PulseTestServer& server) {
    std::ifstream in(server.directory() / "pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

bool passCallTimes = false;
bool dropoutsOnly = false;

void sleepUntil(SteadyTimeNs timeNs) {
    std::this_thread::sleep_until(
            std::chrono::steady_clock::time_point(std::chrono::nanoseconds(timeNs)));
}

struct Heard {
    std::vector<double> latenciesMs;
    double sinkRateOffsetPpm = NAN;
    std::vector<double> intervalErrorsMs;
    // How late this thread, the user interface's stand-in, woke for each start: a start made
    // later than the output's fixed delay cannot be heard on time.
    std::vector<double> callLateMs;
    int missing = 0;
};

// Starts due `intervalNs` apart (a rhythm), or at irregular moments when intervalNs is zero,
// each made when the thread wakes for it, as the event loop makes them.
Heard playAndHear(SoundOutput& output, const PulseTestServer& server, int count,
                  SteadyTimeNs intervalNs) {
    TimedRecording recording(server.address());
    Heard heard;
    if (!recording.ok())
        return heard;
    std::this_thread::sleep_for(300ms);
    std::vector<std::shared_ptr<const PcmClip>> clips;
    std::vector<SteadyTimeNs> dueNs;
    SteadyTimeNs nextNs = steadyNowNs() + 100'000'000;
    for (int i = 0; i < count; ++i) {
        clips.push_back(markedClip(i));
        sleepUntil(nextNs);
        heard.callLateMs.push_back(static_cast<double>(steadyNowNs() - nextNs) / 1e6);
        const SteadyTimeNs startNs = intervalNs > 0 && !passCallTimes ? nextNs : steadyNowNs();
        output.play(clips.back(), startNs);
        dueNs.push_back(startNs);
        // A rest is timed as the playback logic times it, on the output's clock.
        nextNs += intervalNs > 0 ? std::llround(static_cast<double>(intervalNs) *
                                                output.steadySecondsPerSoundSecond())
                                 : 150'000'000 + (i * 37'000'000) % 100'000'000;
    }
    std::this_thread::sleep_for(400ms);
    recording.stop();
    heard.sinkRateOffsetPpm = recording.sinkRateOffsetPpm();
    std::int64_t previous = -1;  // The previous start's onset, if it was heard.
    for (int i = 0; i < count; ++i) {
        const auto onset = onsetOf(recording.samples(), *clips[static_cast<std::size_t>(i)]);
        if (!onset) {
            ++heard.missing;
            previous = -1;
            continue;
        }
        heard.latenciesMs.push_back(static_cast<double>(recording.heardNs(*onset) -
                                                        dueNs[static_cast<std::size_t>(i)]) /
                                    1e6);
        if (previous >= 0 && intervalNs > 0)
            heard.intervalErrorsMs.push_back(
                    std::abs(static_cast<double>(*onset - previous) * 1e3 / kSinkRateHz -
                             static_cast<double>(intervalNs) / 1e6));
        previous = *onset;
    }
    return heard;
}

// A loop at the short rest for `seconds`, every start's clip sounding until the next start, so
// any dropout is a hole in the recording; with the output's and the server's counts beside it.
void dropouts(SoundOutput& output, const PulseTestServer& server, const std::string& prefix,
              bool loaded, int seconds) {
    const std::string label = prefix + (loaded ? "dropouts_loaded_" : "dropouts_idle_machine_");
    const char* l = label.c_str();
    lyravox::bench::printLoadAverage(label);
    std::optional<lyravox::bench::BusyCores> busy;
    if (loaded)
        busy.emplace();
    auto* pulse = dynamic_cast<lyravox::platform::PulseSoundOutput*>(&output);
    const std::uint64_t underrunsBefore = output.underrunCount();
    const std::uint64_t serverUnderrunsBefore = pulse != nullptr ? pulse->serverUnderrunCount() : 0;
    lyravox::bench::MachineStallProbe stallProbe;
    TimedRecording recording(server.address());
    if (!recording.ok()) {
        std::printf("%scapture_failed 1 flag\n", l);
        return;
    }
    std::this_thread::sleep_for(300ms);
    const auto clips = lyravox::bench::dropoutClips();
    const SteadyTimeNs beganNs = steadyNowNs();
    SteadyTimeNs dueNs = beganNs + 100'000'000;
    for (int i = 0; i < seconds; ++i) {
        sleepUntil(dueNs);
        output.play(clips[static_cast<std::size_t>(i) % clips.size()], dueNs);
        dueNs += kShortRestNs;
    }
    // The last clip to its end.
    std::this_thread::sleep_for(1400ms);
    const double minutes = static_cast<double>(steadyNowNs() - beganNs) / 60e9;
    recording.stop();
    stallProbe.stop();
    busy.reset();
    const lyravox::bench::DropoutCount count =
            lyravox::bench::countDropouts(recording.samples(), withHeadroom);
    lyravox::bench::printDropouts(label, minutes, count, stallProbe, [&](std::size_t frame) {
        return recording.heardNs(static_cast<std::int64_t>(frame));
    });
    std::printf("%soutput_underruns_per_minute %.2f underruns/min\n", l,
                static_cast<double>(output.underrunCount() - underrunsBefore) / minutes);
    if (pulse != nullptr)
        std::printf("%sserver_underruns_per_minute %.2f underruns/min\n", l,
                    static_cast<double>(pulse->serverUnderrunCount() - serverUnderrunsBefore) /
                            minutes);
    std::fflush(stdout);
}

void benchOutput(const std::string& backend, int rhythmStarts, int dropoutSeconds) {
    const std::string p = "sound_" + backend + (passCallTimes ? "_call_times_" : "_");
    PulseTestServer server(
            PulseTestServer::Options{.suspendAfterIdleSeconds = kSuspendAfterIdleSeconds});
    if (const std::string failure = server.start(); !failure.empty()) {
        std::fprintf(stderr, "bench_sound_server: no PulseAudio server: %s\n", failure.c_str());
        std::printf("%sunavailable 1 flag\n", p.c_str());
        return;
    }
    ::setenv("PULSE_SERVER", server.address().c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    ::setenv(lyravox::platform::kSoundBackendVariable, backend.c_str(), 1);
    const pid_t serverProcess = serverPid(server);

    // The output the program would choose here, opened and warmed up; null (said in a line) when it
    // is not the one asked for.
    const auto openOutput = [&]() -> std::unique_ptr<SoundOutput> {
        std::unique_ptr<SoundOutput> output = lyravox::platform::makeSoundOutput();
        if (output->backendName() != backend) {
            std::printf("%sunavailable 1 flag\n", p.c_str());
            return nullptr;
        }
        withHeadroom = backend != "sdl";
        output->open();
        std::this_thread::sleep_for(kWarmUp);
        return output;
    };

    if (dropoutsOnly) {
        std::unique_ptr<SoundOutput> output = openOutput();
        if (!output)
            return;
        dropouts(*output, server, p, false, dropoutSeconds);
        dropouts(*output, server, p, true, dropoutSeconds);
        return;
    }
    lyravox::bench::printLoadAverage(p);

    // The server alone, before any client.
    std::this_thread::sleep_for(static_cast<std::chrono::seconds>(kSuspendAfterIdleSeconds + 1));
    const ProcessUse serverBefore = processUse(serverProcess);
    std::this_thread::sleep_for(10s);
    const ProcessUse serverAfter = processUse(serverProcess);
    std::printf("%sserver_cpu_no_client %.3f %%core\n", p.c_str(),
                (serverAfter.cpuSeconds - serverBefore.cpuSeconds) / 10 * 100);

    std::unique_ptr<SoundOutput> output = openOutput();
    if (!output)
        return;

    const Heard warm = playAndHear(*output, server, 200, 0);
    std::printf("%swarm_latency_median %.2f ms\n", p.c_str(), quantile(warm.latenciesMs, 0.5));
    std::printf("%swarm_latency_p99 %.2f ms\n", p.c_str(), quantile(warm.latenciesMs, 0.99));
    std::printf("%swarm_latency_spread %.2f ms\n", p.c_str(), spreadOf(warm.latenciesMs));
    std::printf("%swarm_missing_starts %d starts\n", p.c_str(), warm.missing);
    std::printf("%ssink_rate_offset %.0f ppm\n", p.c_str(), warm.sinkRateOffsetPpm);

    for (const bool loaded : {false, true}) {
        const std::uint64_t underrunsBefore = output->underrunCount();
        const auto began = std::chrono::steady_clock::now();
        std::optional<lyravox::bench::BusyCores> busy;
        if (loaded)
            busy.emplace();
        const Heard rhythm = playAndHear(*output, server, rhythmStarts, kShortRestNs);
        busy.reset();
        const double minutes =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() /
                60;
        const std::string q = p + (loaded ? "loaded_" : "idle_machine_");
        std::printf("%sinterval_error_p99 %.3f ms\n", q.c_str(),
                    quantile(rhythm.intervalErrorsMs, 0.99));
        std::printf("%sinterval_error_max %.3f ms\n", q.c_str(),
                    quantile(rhythm.intervalErrorsMs, 1.0));
        std::printf("%sintervals_off_by_over_1ms %td intervals\n", q.c_str(),
                    std::count_if(rhythm.intervalErrorsMs.begin(), rhythm.intervalErrorsMs.end(),
                                  [](double e) { return e > 1.0; }));
        std::printf("%scall_late_p99 %.3f ms\n", q.c_str(), quantile(rhythm.callLateMs, 0.99));
        std::printf("%scall_late_max %.3f ms\n", q.c_str(), quantile(rhythm.callLateMs, 1.0));
        std::printf("%smissing_starts %d starts\n", q.c_str(), rhythm.missing);
        std::printf("%sunderruns %.2f per_minute\n", q.c_str(),
                    static_cast<double>(output->underrunCount() - underrunsBefore) / minutes);
        if (auto* pulse = dynamic_cast<lyravox::platform::PulseSoundOutput*>(output.get()))
            std::printf("%sserver_underruns_so_far %llu underruns\n", q.c_str(),
                        static_cast<unsigned long long>(pulse->serverUnderrunCount()));
    }

    if (backend != "sdl") {
        dropouts(*output, server, p, false, dropoutSeconds);
        dropouts(*output, server, p, true, dropoutSeconds);
    }

    // Idle: well past the idle stop and the server's suspend time.
    std::this_thread::sleep_for(static_cast<std::chrono::seconds>(12 + kSuspendAfterIdleSeconds));
    const ProcessUse programBefore = processUse(::getpid());
    const ProcessUse idleServerBefore = processUse(serverProcess);
    constexpr double kIdleSeconds = 10;
    std::this_thread::sleep_for(10s);
    const ProcessUse programAfter = processUse(::getpid());
    const ProcessUse idleServerAfter = processUse(serverProcess);
    std::printf("%sidle_program_cpu %.3f %%core\n", p.c_str(),
                (programAfter.cpuSeconds - programBefore.cpuSeconds) / kIdleSeconds * 100);
    std::printf("%sidle_program_wakeups %.1f per_s\n", p.c_str(),
                static_cast<double>(programAfter.switches - programBefore.switches) / kIdleSeconds);
    std::printf("%sidle_server_cpu %.3f %%core\n", p.c_str(),
                (idleServerAfter.cpuSeconds - idleServerBefore.cpuSeconds) / kIdleSeconds * 100);
    std::printf("%sidle_server_wakeups %.1f per_s\n", p.c_str(),
                static_cast<double>(idleServerAfter.switches - idleServerBefore.switches) /
                        kIdleSeconds);
    std::printf("%ssink_suspended_after_idle %d flag\n", p.c_str(),
                server.sinkState() == "SUSPENDED" ? 1 : 0);

    const Heard afterIdle = playAndHear(*output, server, 1, 0);
    std::printf("%sfirst_start_after_idle_latency %.2f ms\n", p.c_str(),
                afterIdle.latenciesMs.empty() ? NAN : afterIdle.latenciesMs.front());

    // A restart while a loop plays: from the new server's start to the first start heard on it.
    std::atomic<bool> looping{true};
    std::atomic<int> played{0};
    std::vector<std::shared_ptr<const PcmClip>> loopClips;
    for (int i = 0; i < 60; ++i)
        loopClips.push_back(markedClip(1000 + i));
    std::vector<SteadyTimeNs> loopDueNs(loopClips.size());
    std::thread loop([&] {
        SteadyTimeNs dueNs = steadyNowNs();
        for (std::size_t i = 0; i < loopClips.size() && looping.load(); ++i) {
            sleepUntil(dueNs);
            loopDueNs[i] = dueNs;
            output->play(loopClips[i], dueNs);
            played.store(static_cast<int>(i) + 1);
            dueNs += 100'000'000;
        }
    });
    std::this_thread::sleep_for(500ms);
    static_cast<void>(server.stop(PulseTestServer::Stop::Kill));
    const bool restarted = server.start().empty();
    const SteadyTimeNs restartedNs = steadyNowNs();
    std::optional<double> recoveryMs;
    if (restarted) {
        TimedRecording recording(server.address());
        std::this_thread::sleep_for(3s);
        looping.store(false);
        loop.join();
        recording.stop();
        for (std::size_t i = 0; i < loopClips.size(); ++i) {
            if (loopDueNs[i] < restartedNs)
                continue;
            if (onsetOf(recording.samples(), *loopClips[i])) {
                recoveryMs = static_cast<double>(loopDueNs[i] - restartedNs) / 1e6;
                break;
            }
        }
    } else {
        looping.store(false);
        loop.join();
    }
    std::printf("%srecovery_after_restart %.0f ms\n", p.c_str(), recoveryMs.value_or(NAN));
    output.reset();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> backends;
    int rhythmStarts = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--call-times")
            passCallTimes = true;
        else if (arg == "--dropouts-only")
            dropoutsOnly = true;
        else if (arg == "--starts" && i + 1 < argc) {
            const std::string_view text(argv[++i]);
            const auto [end, error] =
                    std::from_chars(text.data(), text.data() + text.size(), rhythmStarts);
            if (error != std::errc() || end != text.data() + text.size() || rhythmStarts < 3) {
                std::fprintf(stderr,
                             "bench_sound_server: --starts needs a whole number of at least 3, "
                             "not \"%s\"\n",
                             argv[i]);
                return 2;
            }
        } else
            backends.push_back(arg);
    }
    const int dropoutSeconds = lyravox::bench::dropoutSeconds("bench_sound_server");
    if (backends.empty())
        backends = {"pulseaudio", "sdl"};
    for (const std::string& backend : backends)
        benchOutput(backend, rhythmStarts, dropoutSeconds);
    return 0;
}
