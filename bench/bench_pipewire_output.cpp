// The sound outputs on a desktop's PipeWire (a private one, with wireplumber, its pulse layer and
// a null sink at 44100 Hz): how long a click waits for its sound and how steady that is, how
// exactly a loop's starts are heard a rest apart (idle machine and one busy process per core),
// what an idle program costs the machine and whether the sink suspends, how the first start
// after idle sounds, and how soon a restarted daemon is heard again. Every heard time comes from
// the graph's own clock, captured at the sink. Outputs: SDL through the pulse layer, SDL's own
// PipeWire driver, and the native PipeWire output. For the native output also a dropout loop at
// the short rest (idle machine and loaded), recorded at the sink, with the underruns the output
// counted and those the daemon's profiler saw. Prints `name value unit` lines.
//
//   bench_pipewire_output [--dropouts-only | --latency-only] [OUTPUT ...]
//       OUTPUT: only these (sdl_pulse, sdl_pipewire, pipewire, pipewire_q256)
//       --dropouts-only: only the dropout loop; --latency-only: only click to heard
//   LYRAVOX_BENCH_DROPOUT_SECONDS: the dropout loop's length (default 20 s; 600 by hand)
#include "bench/machine_load.h"
#include "bench/pipewire_graph_profiler.h"
#include "bench/sink_dropouts.h"
#include "platform/pcm_clip.h"
#include "platform/pipewire_sound_output.h"
#include "platform/sdl_audio_setup.h"
#include "platform/sdl_sound_output.h"
#include "tools/pipewire_harness/pipewire_test_server.h"
#include "tools/pipewire_harness/sink_capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using lyravox::platform::PcmClip;
using lyravox::platform::PipeWireSoundOutput;
using lyravox::platform::SdlSoundOutput;
using lyravox::platform::SoundOutput;
using lyravox::test::PipeWireTestServer;
using lyravox::test::SinkCapture;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRateHz = 44100;
constexpr int kWarmStarts = 200;
constexpr int kRestStarts = 100;
constexpr auto kRest = 1s;
// The first sample of every clip is a marker no other clip and no clip body holds, so the start
// each heard clip belongs to is known; two apart, so they stay apart with an output's headroom,
// and few enough that the markers with headroom (3 % lower) stay below those without.
constexpr int kFirstMarker = 20'000;
constexpr int kMarkerStep = 2;
constexpr int kMaxMarkers = 300;
static_assert(kWarmStarts <= kMaxMarkers && kRestStarts <= kMaxMarkers);
constexpr std::int16_t kClipBodySample = 1000;
constexpr std::size_t kClipFrames = 441;
constexpr auto kIdleSettle = 16s;  // Past the output's 10 s and wireplumber's 5 s.
constexpr auto kIdleMeasure = 10s;
constexpr auto kRecoveryLimit = 5s;

std::int64_t nsOf(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

std::vector<std::shared_ptr<const PcmClip>> markedClips(int count) {
    std::vector<std::shared_ptr<const PcmClip>> clips;
    for (int i = 0; i < count; ++i) {
        auto clip = std::make_shared<PcmClip>();
        clip->samples.assign(kClipFrames, kClipBodySample);
        clip->samples[0] = static_cast<std::int16_t>(kFirstMarker + kMarkerStep * i);
        clips.push_back(std::move(clip));
    }
    return clips;
}

std::shared_ptr<const PcmClip> unmarkedClip() {
    auto clip = std::make_shared<PcmClip>();
    clip->samples.assign(kClipFrames, kClipBodySample);
    return clip;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// One output under test, made afresh for each measurement as the program would make it.
struct OutputKind {
    std::string label;
    std::function<std::unique_ptr<SoundOutput>()> make;
};

std::vector<OutputKind> outputKinds() {
    const auto sdl = [](const char* driver) {
        return [driver]() -> std::unique_ptr<SoundOutput> {
            ::setenv("SDL_AUDIODRIVER", driver, 1);
            auto output = std::make_unique<SdlSoundOutput>();
            if (!output->isOpen())
                return nullptr;
            return output;
        };
    };
    return {
            {"sdl_pulse", sdl("pulseaudio")},
            {"sdl_pipewire", sdl("pipewire")},
            {"pipewire", [] { return lyravox::platform::makePipeWireSoundOutput(); }},
            // With half the output's graph cycle: quicker, but more dropouts on a busy machine.
            {"pipewire_q256",
             []() -> std::unique_ptr<SoundOutput> {
                 PipeWireSoundOutput::Options options;
                 options.quantumFrames = 256;
                 return PipeWireSoundOutput::connect(options);
             }},
    };
}

// The start a heard sample marks, played as it is or with the outputs' headroom; -1 for none.
int startMarkedBy(std::int16_t sample, int starts) {
    static const std::vector<int> byValue = [] {
        std::vector<int> table(32768, -1);
        for (int i = 0; i < kMaxMarkers; ++i) {
            const int marker = kFirstMarker + kMarkerStep * i;
            table[static_cast<std::size_t>(marker)] = i;
            table[static_cast<std::size_t>((marker * 31785) >> 15)] = i;
        }
        return table;
    }();
    const int start = sample > 0 ? byValue[static_cast<std::size_t>(sample)] : -1;
    return start < starts ? start : -1;
}

// Where in the capture each marked start was first heard, as a frame of the sink; -1 if never.
std::vector<std::int64_t> heardFrames(const SinkCapture& capture, int starts) {
    const std::vector<std::int16_t> samples = capture.samples();
    std::vector<std::int64_t> heard(static_cast<std::size_t>(starts), -1);
    for (std::size_t frame = 0; frame < samples.size(); ++frame) {
        const int start = startMarkedBy(samples[frame], starts);
        if (start >= 0 && heard[static_cast<std::size_t>(start)] < 0)
            heard[static_cast<std::size_t>(start)] = static_cast<std::int64_t>(frame);
    }
    return heard;
}

// The same as steady time, from the graph cycle each frame was captured in.
std::vector<std::int64_t> heardTimesNs(const SinkCapture& capture, int starts) {
    std::vector<std::int64_t> heard = heardFrames(capture, starts);
    for (std::int64_t& frame : heard) {
        if (frame >= 0)
            frame = capture.heardTimeNs(static_cast<std::size_t>(frame));
    }
    return heard;
}

// Clips heard with a hole (a dropout) or cut short: anything but the clip's body after its
// marker.
int clipsWithHoles(const SinkCapture& capture) {
    const std::vector<std::int16_t> samples = capture.samples();
    int broken = 0;
    for (std::size_t frame = 0; frame + 1 < samples.size(); ++frame) {
        if (startMarkedBy(samples[frame], kMaxMarkers) < 0)
            continue;
        const std::size_t end = std::min(samples.size(), frame + kClipFrames);
        const std::int16_t body = samples[frame + 1];
        broken += std::any_of(samples.begin() + static_cast<std::ptrdiff_t>(frame) + 1,
                              samples.begin() + static_cast<std::ptrdiff_t>(end),
                              [body](std::int16_t s) { return s != body; });
        frame = end - 1;
    }
    return broken;
}

void warmLatency(const OutputKind& kind, SoundOutput& output) {
    SinkCapture capture(90 * kRateHz);
    if (!capture.waitUntilRecording())
        return;
    // Wakes a stream that idles, and waits out the stall of a pulse stream that has just opened.
    output.play(unmarkedClip(), lyravox::platform::steadyNowNs());
    std::this_thread::sleep_for(2500ms);
    const auto clips = markedClips(kWarmStarts);
    std::vector<std::int64_t> madeNs;
    std::mt19937 random(20'240'601);
    std::uniform_int_distribution<int> intervalUs(60'000, 140'000);
    for (int i = 0; i < kWarmStarts; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(intervalUs(random)));
        const auto now = Clock::now();
        output.play(clips[static_cast<std::size_t>(i)], nsOf(now));
        madeNs.push_back(nsOf(now));
    }
    std::this_thread::sleep_for(300ms);
    capture.stop();
    const std::vector<std::int64_t> heard = heardTimesNs(capture, kWarmStarts);
    std::vector<double> latenciesMs;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] >= 0)
            latenciesMs.push_back(static_cast<double>(heard[i] - madeNs[i]) / 1e6);
    }
    const char* l = kind.label.c_str();
    std::printf("%s_warm_missed_starts %zu starts\n", l, heard.size() - latenciesMs.size());
    if (latenciesMs.empty())
        return;
    std::printf("%s_warm_latency_median %.2f ms\n", l, quantile(latenciesMs, 0.5));
    std::printf("%s_warm_latency_p99 %.2f ms\n", l, quantile(latenciesMs, 0.99));
    std::printf("%s_warm_latency_spread %.2f ms\n", l,
                quantile(latenciesMs, 1.0) - quantile(latenciesMs, 0.0));
    std::fflush(stdout);
}

void restRhythm(const OutputKind& kind, SoundOutput& output, bool loaded) {
    const std::string label = kind.label + (loaded ? "_loaded" : "");
    std::optional<lyravox::bench::BusyCores> busy;
    if (loaded)
        busy.emplace();
    SinkCapture capture(static_cast<std::size_t>(kRestStarts + 5) * kRateHz);
    if (!capture.waitUntilRecording())
        return;
    const auto clips = markedClips(kRestStarts);
    const auto underrunsBefore = output.underrunCount();
    const auto began = Clock::now();
    // As the rest loop does: the start that ends a rest is due at the rest's deadline, and the
    // next deadline counts from it.
    auto due = Clock::now() + 100ms;
    std::vector<double> callLateMs;
    for (int i = 0; i < kRestStarts; ++i) {
        std::this_thread::sleep_until(due);
        callLateMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        output.play(clips[static_cast<std::size_t>(i)], nsOf(due));
        due += kRest;
    }
    std::this_thread::sleep_for(300ms);
    const double minutes = std::chrono::duration<double>(Clock::now() - began).count() / 60;
    capture.stop();
    busy.reset();
    // In the sink's own frames: the null sink plays exactly 44100 of them a second of the
    // system's clock, so no reading of a clock comes in between.
    const std::vector<std::int64_t> heard = heardFrames(capture, kRestStarts);
    std::vector<double> errorsMs;
    for (std::size_t i = 1; i < heard.size(); ++i) {
        if (heard[i] >= 0 && heard[i - 1] >= 0)
            errorsMs.push_back(
                    std::abs(static_cast<double>(heard[i] - heard[i - 1]) * 1e3 / kRateHz -
                             std::chrono::duration<double, std::milli>(kRest).count()));
    }
    const char* l = label.c_str();
    if (errorsMs.empty()) {
        std::printf("%s_rest_heard_starts 0 starts\n", l);
        return;
    }
    std::printf("%s_rest_interval_error_median %.3f ms\n", l, quantile(errorsMs, 0.5));
    std::printf("%s_rest_interval_error_p99 %.3f ms\n", l, quantile(errorsMs, 0.99));
    std::printf("%s_rest_interval_error_max %.3f ms\n", l, quantile(errorsMs, 1.0));
    std::printf("%s_rest_intervals_off_by_over_1ms %td intervals\n", l,
                std::count_if(errorsMs.begin(), errorsMs.end(), [](double e) { return e > 1.0; }));
    // A start made later than the output's fixed delay cannot be heard on time: how late this
    // thread, the user interface's stand-in, woke for its starts.
    std::printf("%s_rest_call_late_p99 %.3f ms\n", l, quantile(callLateMs, 0.99));
    std::printf("%s_rest_call_late_max %.3f ms\n", l, quantile(callLateMs, 1.0));
    std::printf("%s_rest_clips_with_holes %d clips\n", l, clipsWithHoles(capture));
    std::printf("%s_rest_capture_missed_cycles %llu cycles\n", l,
                static_cast<unsigned long long>(capture.missedCycles()));
    std::printf("%s_underruns_per_minute %.2f underruns/min\n", l,
                static_cast<double>(output.underrunCount() - underrunsBefore) / minutes);
    std::fflush(stdout);
}

struct ProcessUse {
    double cpuSeconds = 0;
    std::uint64_t contextSwitches = 0;
};

// Summed over the process's threads: time on a CPU in nanoseconds (schedstat, finer than the
// clock ticks of /proc/PID/stat, which could not tell 0.05 % from 0.1 %) and context switches.
ProcessUse processUse(pid_t pid) {
    ProcessUse use;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long onCpuNs = 0;
        if (schedstat >> onCpuNs)
            use.cpuSeconds += static_cast<double>(onCpuNs) / 1e9;
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("voluntary_ctxt_switches:") ||
                line.starts_with("nonvoluntary_ctxt_switches:"))
                use.contextSwitches += std::stoull(line.substr(line.find(':') + 1));
        }
    }
    return use;
}

// CPU share and wake-ups a second of the program and the server over kIdleMeasure.
void idleCost(const std::string& label, const PipeWireTestServer& server) {
    const pid_t pids[] = {::getpid(), server.pipewirePid(), server.pipewirePulsePid()};
    const char* names[] = {"program", "pipewire", "pipewire_pulse"};
    ProcessUse before[3];
    for (int i = 0; i < 3; ++i)
        before[i] = processUse(pids[i]);
    std::this_thread::sleep_for(kIdleMeasure);
    const double seconds = std::chrono::duration<double>(kIdleMeasure).count();
    for (int i = 0; i < 3; ++i) {
        const ProcessUse after = processUse(pids[i]);
        std::printf("%s_idle_cpu_%s %.4f %%\n", label.c_str(), names[i],
                    (after.cpuSeconds - before[i].cpuSeconds) * 100 / seconds);
        std::printf("%s_idle_wakeups_%s %.1f /s\n", label.c_str(), names[i],
                    static_cast<double>(after.contextSwitches - before[i].contextSwitches) /
                            seconds);
    }
    std::fflush(stdout);
}

void idleAndWake(const OutputKind& kind, SoundOutput& output, const PipeWireTestServer& server) {
    std::this_thread::sleep_for(kIdleSettle);
    idleCost(kind.label, server);
    const std::string state = server.sinkState();
    std::printf("%s_idle_sink_suspended %d flag\n", kind.label.c_str(), state == "SUSPENDED");
    // The capture wakes the sink, so what is measured is the output's own wake-up: a real card
    // adds its own.
    SinkCapture capture(5 * kRateHz);
    if (!capture.waitUntilRecording())
        return;
    const auto clip = markedClips(1)[0];
    const auto now = Clock::now();
    output.play(clip, nsOf(now));
    std::this_thread::sleep_for(500ms);
    capture.stop();
    const std::vector<std::int64_t> heard = heardTimesNs(capture, 1);
    if (heard[0] < 0) {
        std::printf("%s_first_start_after_idle_heard 0 flag\n", kind.label.c_str());
        return;
    }
    std::printf("%s_first_start_after_idle_latency %.2f ms\n", kind.label.c_str(),
                static_cast<double>(heard[0] - nsOf(now)) / 1e6);
    std::printf("%s_first_start_after_idle_whole %d flag\n", kind.label.c_str(),
                clipsWithHoles(capture) == 0);
    std::fflush(stdout);
}

// A loop every 250 ms while the daemon is killed and started again: how long from the new
// daemon being ready to the loop heard on it.
void recovery(const OutputKind& kind, SoundOutput& output, PipeWireTestServer& server) {
    const auto clips = markedClips(100);
    std::size_t next = 0;
    auto due = Clock::now();
    const auto playUntil = [&](Clock::time_point end) {
        while (due < end && next < clips.size()) {
            std::this_thread::sleep_until(due);
            output.play(clips[next++], nsOf(due));
            due += 250ms;
        }
    };
    playUntil(Clock::now() + 1s);
    if (!server.stop(PipeWireTestServer::Stop::Kill) || !server.start().empty()) {
        std::printf("%s_recovery_server_restart_failed 1 flag\n", kind.label.c_str());
        return;
    }
    const auto ready = Clock::now();
    const std::size_t firstAfter = next;
    SinkCapture capture(10 * kRateHz);
    static_cast<void>(capture.waitUntilRecording());
    playUntil(ready + kRecoveryLimit);
    capture.stop();
    const std::vector<std::int64_t> heard = heardTimesNs(capture, static_cast<int>(next));
    std::int64_t firstHeard = -1;
    for (std::size_t i = firstAfter; i < next && firstHeard < 0; ++i)
        firstHeard = heard[i];
    if (firstHeard < 0)
        std::printf("%s_recovery_never_within_5s 1 flag\n", kind.label.c_str());
    else
        std::printf("%s_recovery_time %.0f ms\n", kind.label.c_str(),
                    static_cast<double>(firstHeard - nsOf(ready)) / 1e6);
    std::fflush(stdout);
}

// A loop at the short rest for `seconds`, every start's clip sounding until the next start, so
// any dropout is a hole in the recording; with the output's and the daemon's counts beside it.
void dropouts(const OutputKind& kind, SoundOutput& output, bool loaded, int seconds) {
    const std::string label = kind.label + (loaded ? "_dropouts_loaded" : "_dropouts_idle_machine");
    lyravox::bench::printLoadAverage(label + "_");
    std::optional<lyravox::bench::BusyCores> busy;
    if (loaded)
        busy.emplace();
    const lyravox::bench::GraphProfiler profiler("lyravox");
    lyravox::bench::MachineStallProbe stallProbe;
    SinkCapture capture(static_cast<std::size_t>(seconds + 4) * kRateHz);
    if (!capture.waitUntilRecording()) {
        std::printf("%s_capture_failed 1 flag\n", label.c_str());
        return;
    }
    const auto clips = lyravox::bench::dropoutClips();
    const auto underrunsBefore = output.underrunCount();
    PipeWireSoundOutput::Underruns underrunsBy;
    if (auto* native = dynamic_cast<PipeWireSoundOutput*>(&output))
        underrunsBy = native->underruns();
    const auto profiledBefore = profiler.counts();
    const auto began = Clock::now();
    auto due = began + 100ms;
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_until(due);
        output.play(clips[static_cast<std::size_t>(i) % clips.size()], nsOf(due));
        due += kRest;
    }
    // The last clip to its end.
    std::this_thread::sleep_for(1400ms);
    const double minutes = std::chrono::duration<double>(Clock::now() - began).count() / 60;
    const auto profiled = profiler.counts();
    capture.stop();
    stallProbe.stop();
    busy.reset();
    const lyravox::bench::DropoutCount count =
            lyravox::bench::countDropouts(capture.samples(), true);
    lyravox::bench::printDropouts(label + "_", minutes, count, stallProbe,
                                  [&](std::size_t frame) { return capture.heardTimeNs(frame); });
    const char* l = label.c_str();
    std::printf("%s_capture_missed_cycles %llu cycles\n", l,
                static_cast<unsigned long long>(capture.missedCycles()));
    std::printf("%s_output_underruns_per_minute %.2f underruns/min\n", l,
                static_cast<double>(output.underrunCount() - underrunsBefore) / minutes);
    if (auto* native = dynamic_cast<PipeWireSoundOutput*>(&output)) {
        const PipeWireSoundOutput::Underruns u = native->underruns();
        std::printf("%s_output_underruns_missed_graph_cycles %llu cycles\n", l,
                    static_cast<unsigned long long>(u.missedGraphCycles -
                                                    underrunsBy.missedGraphCycles));
        std::printf("%s_output_underruns_without_buffer %llu cycles\n", l,
                    static_cast<unsigned long long>(u.cyclesWithoutBuffer -
                                                    underrunsBy.cyclesWithoutBuffer));
        std::printf("%s_output_underruns_late_renders %llu renders\n", l,
                    static_cast<unsigned long long>(u.lateRenders - underrunsBy.lateRenders));
    }
    if (!profiler.attached()) {
        std::printf("%s_server_profiler_missing 1 flag\n", l);
    } else {
        std::printf("%s_server_late_cycles_per_minute %.2f cycles/min\n", l,
                    static_cast<double>(profiled.nodeLateCycles - profiledBefore.nodeLateCycles) /
                            minutes);
        std::printf("%s_server_xruns_per_minute %.2f xruns/min\n", l,
                    static_cast<double>(profiled.driverXruns - profiledBefore.driverXruns) /
                            minutes);
        std::printf(
                "%s_server_profiled_cycles %llu cycles\n", l,
                static_cast<unsigned long long>(profiled.nodeCycles - profiledBefore.nodeCycles));
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    lyravox::platform::prepareSdlAudio();
    if (!PipeWireTestServer::packagesInstalled()) {
        std::fprintf(stderr, "bench_pipewire_output: PipeWire's packages are missing\n");
        std::printf("pipewire_unavailable 1 flag\n");
        return 0;
    }
    PipeWireTestServer server(kRateHz);
    if (const std::string failure = server.start(); !failure.empty()) {
        std::fprintf(stderr, "bench_pipewire_output: %s\n", failure.c_str());
        std::printf("pipewire_unavailable 1 flag\n");
        return 0;
    }
    server.useFromThisProcess();
    const int dropoutSeconds = lyravox::bench::dropoutSeconds("bench_pipewire_output");
    std::vector<std::string_view> chosen(argv + 1, argv + argc);
    const auto dropoutsOnlyAt = std::find(chosen.begin(), chosen.end(), "--dropouts-only");
    const bool dropoutsOnly = dropoutsOnlyAt != chosen.end();
    if (dropoutsOnly)
        chosen.erase(dropoutsOnlyAt);
    const auto latencyOnlyAt = std::find(chosen.begin(), chosen.end(), "--latency-only");
    const bool latencyOnly = latencyOnlyAt != chosen.end();
    if (latencyOnly)
        chosen.erase(latencyOnlyAt);
    if (!dropoutsOnly && !latencyOnly) {
        std::this_thread::sleep_for(kIdleSettle);
        idleCost("no_client", server);
    }

    for (const OutputKind& kind : outputKinds()) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), kind.label) == chosen.end())
            continue;
        std::unique_ptr<SoundOutput> output = kind.make();
        if (!output) {
            std::printf("%s_unavailable 1 flag\n", kind.label.c_str());
            continue;
        }
        const bool native = dynamic_cast<PipeWireSoundOutput*>(output.get()) != nullptr;
        if (latencyOnly) {
            lyravox::bench::printLoadAverage(kind.label + "_");
            warmLatency(kind, *output);
            continue;
        }
        if (!dropoutsOnly) {
            lyravox::bench::printLoadAverage(kind.label + "_");
            warmLatency(kind, *output);
            restRhythm(kind, *output, false);
            restRhythm(kind, *output, true);
        }
        if (native) {
            dropouts(kind, *output, false, dropoutSeconds);
            dropouts(kind, *output, true, dropoutSeconds);
        }
        if (!dropoutsOnly) {
            idleAndWake(kind, *output, server);
            recovery(kind, *output, server);
        }
        output.reset();
    }
    static_cast<void>(server.stop(PipeWireTestServer::Stop::Term));
    return 0;
}
