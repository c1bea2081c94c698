// How long a click waits for its sound, and how steady that wait is: a listener tuning by ear
// compares starts made in a rhythm, so a start must land a fixed time after its call, and the
// call itself must not hold up the user interface. Measured on a real SDL device driven the way
// the sound output drives it, for the dummy driver and for a private PulseAudio null sink.
// Prints `name value unit` lines.
#include "platform/clip_stream.h"
#include "platform/pcm_clip.h"
#include "platform/sdl_audio_setup.h"
#include "platform/sdl_sound_output.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using lyravox::platform::ClipStream;
using lyravox::platform::kOutputSampleRateHz;
using lyravox::platform::PcmClip;
using lyravox::platform::SteadyTimeNs;
using lyravox::test::MonitorRecording;
using lyravox::test::PulseTestServer;
using namespace std::chrono_literals;

constexpr std::size_t kBufferFrames = 256;
constexpr int kDefaultStartCount = 1000;
int startCount = kDefaultStartCount;  // The first argument, for quicker runs while tuning.
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// Every clip opens with a sample no other clip and no clip body contains, so the audio thread can
// tell which start a frame belongs to.
constexpr int kFirstMarker = 20'000;
constexpr std::int16_t kClipBodySample = 1000;
constexpr std::size_t kClipFrames = 441;
static_assert(kFirstMarker + kDefaultStartCount <= 32'767 && kClipBodySample < kFirstMarker);
// A new PulseAudio stream stalls for up to about two seconds shortly after it opens.
constexpr auto kPulseWarmUp = 2500ms;
constexpr std::uint32_t kIntervalSeed = 20'240'601;

SteadyTimeNs steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

struct FirstSample {
    int startIndex;
    SteadyTimeNs streamTimeNs;
};

// Single producer (audio thread), single consumer (UI thread); the producer never waits: when
// the consumer falls behind, observations are counted as lost instead.
class FirstSampleRing {
public:
    void pushAudioThread(FirstSample sample) noexcept {
        const std::size_t written = written_.load(std::memory_order_relaxed);
        if (written - read_.load(std::memory_order_acquire) == slots_.size()) {
            lost_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        slots_[written % slots_.size()] = sample;
        written_.store(written + 1, std::memory_order_release);
    }

    std::optional<FirstSample> pop() {
        const std::size_t read = read_.load(std::memory_order_relaxed);
        if (read == written_.load(std::memory_order_acquire))
            return std::nullopt;
        const FirstSample sample = slots_[read % slots_.size()];
        read_.store(read + 1, std::memory_order_release);
        return sample;
    }

    int lost() const { return lost_.load(); }

private:
    std::array<FirstSample, 256> slots_{};
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
    std::atomic<int> lost_{0};
};

struct Arrival {
    SteadyTimeNs timeNs;
    std::int64_t framesBefore;
};

struct Probe {
    ClipStream stream{kOutputSampleRateHz, kBufferFrames};
    FirstSampleRing ring;
    // Every callback's arrival, to tell how far the device's clock slipped against steady_clock
    // (underruns, a fast or slow driver); room for several minutes, allocated up front.
    std::vector<Arrival> arrivals = std::vector<Arrival>(1 << 16);
    std::atomic<std::size_t> arrivalCount{0};
    std::int64_t renderedFrames = 0;  // Audio thread only.
};

// Audio thread: renders exactly as the sound output's callback does, then notes where a clip
// begins. The time of a frame is taken as the callback's start plus the frame's offset in the
// buffer, the same reading of the clock the stream itself is given.
void probeCallback(void* userdata, Uint8* bytes, int byteCount) {
    const SteadyTimeNs nowNs = steadyNowNs();
    auto* probe = static_cast<Probe*>(userdata);
    const std::span<std::int16_t> out(reinterpret_cast<std::int16_t*>(bytes),
                                      static_cast<std::size_t>(byteCount) / 2);
    probe->stream.renderAudioThread(out, nowNs);
    const std::size_t arrival = probe->arrivalCount.load(std::memory_order_relaxed);
    if (arrival < probe->arrivals.size()) {
        probe->arrivals[arrival] = {nowNs, probe->renderedFrames};
        probe->arrivalCount.store(arrival + 1, std::memory_order_release);
    }
    probe->renderedFrames += static_cast<std::int64_t>(out.size());
    for (std::size_t frame = 0; frame < out.size(); ++frame) {
        if (out[frame] >= kFirstMarker) {
            const auto offsetNs =
                    static_cast<SteadyTimeNs>(frame) * kNsPerSecond / kOutputSampleRateHz;
            probe->ring.pushAudioThread({out[frame] - kFirstMarker, nowNs + offsetNs});
        }
    }
}

std::vector<std::shared_ptr<const PcmClip>> markedClips() {
    std::vector<std::shared_ptr<const PcmClip>> clips;
    for (int i = 0; i < startCount; ++i) {
        auto clip = std::make_shared<PcmClip>();
        clip->samples.assign(kClipFrames, kClipBodySample);
        clip->samples[0] = static_cast<std::int16_t>(kFirstMarker + i);
        clips.push_back(std::move(clip));
    }
    return clips;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double maxOf(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

double minOf(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

// Positive: the device fell behind steady_clock (each underrun delays every later frame), so a
// start placed by an older reading of its clock is heard late.
void printSlip(const std::string& label, std::span<const Arrival> arrivals) {
    if (arrivals.size() < 2)
        return;
    const Arrival& first = arrivals.front();
    const Arrival& last = arrivals.back();
    const double elapsedS = static_cast<double>(last.timeNs - first.timeNs) / 1e9;
    const double playedS =
            static_cast<double>(last.framesBefore - first.framesBefore) / kOutputSampleRateHz;
    std::printf("stream_%s_slip_rate %.1f ms/s\n", label.c_str(),
                (elapsedS - playedS) * 1e3 / elapsedS);
}

// The UI thread's side of one run: starts at seeded random intervals, then matches each start
// with the stream time of its first sample. Returns the call times (none without a device).
std::vector<SteadyTimeNs> measureStarts(const char* driver, std::chrono::milliseconds warmUp,
                                        std::vector<double>& startCallsUs) {
    const std::string label = std::string_view(driver) == "pulseaudio" ? "pulse" : driver;
    ::setenv("SDL_AUDIODRIVER", driver, 1);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "bench_sound_latency: %s: %s\n", driver, SDL_GetError());
        std::printf("latency_%s_unavailable 1 flag\n", label.c_str());
        return {};
    }
    auto probe = std::make_unique<Probe>();
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputSampleRateHz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 1;
    wanted.samples = static_cast<Uint16>(kBufferFrames);
    wanted.callback = probeCallback;
    wanted.userdata = probe.get();
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        std::fprintf(stderr, "bench_sound_latency: %s: %s\n", driver, SDL_GetError());
        std::printf("latency_%s_unavailable 1 flag\n", label.c_str());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return {};
    }
    SDL_PauseAudioDevice(device, 0);
    std::this_thread::sleep_for(warmUp);
    const std::size_t firstMeasuredArrival = probe->arrivalCount.load(std::memory_order_acquire);

    const auto clips = markedClips();
    std::vector<SteadyTimeNs> callTimesNs(startCount);
    std::vector<SteadyTimeNs> firstSampleNs(startCount, -1);
    const auto drain = [&] {
        while (const auto sample = probe->ring.pop()) {
            if (firstSampleNs[static_cast<std::size_t>(sample->startIndex)] < 0)
                firstSampleNs[static_cast<std::size_t>(sample->startIndex)] = sample->streamTimeNs;
        }
    };
    std::mt19937 random(kIntervalSeed);
    std::uniform_int_distribution<int> intervalUs(20'000, 120'000);
    for (int i = 0; i < startCount; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(intervalUs(random)));
        drain();
        const SteadyTimeNs callNs = steadyNowNs();
        probe->stream.start(clips[static_cast<std::size_t>(i)], callNs);
        const SteadyTimeNs returnedNs = steadyNowNs();
        callTimesNs[static_cast<std::size_t>(i)] = callNs;
        startCallsUs.push_back(static_cast<double>(returnedNs - callNs) / 1e3);
    }
    std::this_thread::sleep_for(300ms);
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    drain();

    printSlip(label, std::span(probe->arrivals)
                             .first(probe->arrivalCount.load(std::memory_order_acquire))
                             .subspan(firstMeasuredArrival));

    std::vector<double> latenciesMs;
    for (std::size_t i = 0; i < callTimesNs.size(); ++i) {
        if (firstSampleNs[i] >= 0)
            latenciesMs.push_back(static_cast<double>(firstSampleNs[i] - callTimesNs[i]) / 1e6);
    }
    const int missed = startCount - static_cast<int>(latenciesMs.size());
    std::printf("latency_%s_missed_starts %d starts\n", label.c_str(), missed);
    if (probe->ring.lost() != 0)
        std::printf("latency_%s_lost_observations %d starts\n", label.c_str(), probe->ring.lost());
    if (latenciesMs.empty())
        return callTimesNs;
    std::printf("latency_%s_median %.2f ms\n", label.c_str(), quantile(latenciesMs, 0.5));
    std::printf("latency_%s_p99 %.2f ms\n", label.c_str(), quantile(latenciesMs, 0.99));
    std::printf("latency_%s_max %.2f ms\n", label.c_str(), maxOf(latenciesMs));
    std::printf("latency_%s_spread %.2f ms\n", label.c_str(),
                maxOf(latenciesMs) - minOf(latenciesMs));
    std::fflush(stdout);
    return callTimesNs;
}

// The program's own output, as a click reaches it: the cost includes its check for a lost
// device.
void measurePlayCalls() {
    constexpr int kPlayCount = 300;
    std::vector<double> callsUs;
    {
        lyravox::platform::SdlSoundOutput output(kBufferFrames);
        if (!output.isOpen())
            return;
        std::this_thread::sleep_for(kPulseWarmUp);
        const auto clips = markedClips();
        for (int i = 0; i < kPlayCount; ++i) {
            std::this_thread::sleep_for(10ms);
            const SteadyTimeNs callNs = steadyNowNs();
            output.play(clips[static_cast<std::size_t>(i) % clips.size()], callNs);
            callsUs.push_back(static_cast<double>(steadyNowNs() - callNs) / 1e3);
        }
    }
    std::printf("play_call_median %.2f us\n", quantile(callsUs, 0.5));
    std::printf("play_call_p99 %.2f us\n", quantile(callsUs, 0.99));
    std::printf("play_call_max %.2f us\n", maxOf(callsUs));
}

// The null sink renders on the system's monotonic clock, frame after frame, silence included, so
// frame k of its monitor is heard at a fixed origin plus k / 44100 s: where each start's first
// sample lies in the recording says when it was heard, free of the callbacks' jitter. The origin
// is unknown, so these figures are relative to the earliest-heard start.
void printHeardFigures(std::span<const std::int16_t> monitor,
                       std::span<const SteadyTimeNs> callTimesNs) {
    std::vector<std::int64_t> heardFrame(callTimesNs.size(), -1);
    for (std::size_t frame = 0; frame < monitor.size(); ++frame) {
        const int start = monitor[frame] - kFirstMarker;
        if (start >= 0 && static_cast<std::size_t>(start) < heardFrame.size() &&
            heardFrame[static_cast<std::size_t>(start)] < 0)
            heardFrame[static_cast<std::size_t>(start)] = static_cast<std::int64_t>(frame);
    }
    std::vector<double> latenciesMs;
    for (std::size_t i = 0; i < callTimesNs.size(); ++i) {
        if (heardFrame[i] >= 0)
            latenciesMs.push_back(static_cast<double>(heardFrame[i]) * 1e3 / kOutputSampleRateHz -
                                  static_cast<double>(callTimesNs[i]) / 1e6);
    }
    std::printf("heard_pulse_missing_starts %zu starts\n", callTimesNs.size() - latenciesMs.size());
    if (latenciesMs.empty())
        return;
    const double earliestMs = minOf(latenciesMs);
    std::printf("heard_pulse_later_than_earliest_median %.2f ms\n",
                quantile(latenciesMs, 0.5) - earliestMs);
    std::printf("heard_pulse_later_than_earliest_p99 %.2f ms\n",
                quantile(latenciesMs, 0.99) - earliestMs);
    std::printf("heard_pulse_spread %.2f ms\n", maxOf(latenciesMs) - earliestMs);

    // What a listener compares: each start's distance from the one before, heard against made.
    std::vector<double> intervalErrorsMs;
    for (std::size_t i = 1; i < callTimesNs.size(); ++i) {
        if (heardFrame[i] >= 0 && heardFrame[i - 1] >= 0) {
            const double heardMs = static_cast<double>(heardFrame[i] - heardFrame[i - 1]) * 1e3 /
                                   kOutputSampleRateHz;
            const double madeMs = static_cast<double>(callTimesNs[i] - callTimesNs[i - 1]) / 1e6;
            intervalErrorsMs.push_back(std::abs(heardMs - madeMs));
        }
    }
    if (intervalErrorsMs.empty())
        return;
    std::printf("heard_pulse_interval_error_median %.3f ms\n", quantile(intervalErrorsMs, 0.5));
    std::printf("heard_pulse_interval_error_p99 %.3f ms\n", quantile(intervalErrorsMs, 0.99));
    std::printf("heard_pulse_interval_error_max %.3f ms\n", maxOf(intervalErrorsMs));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string_view text(argv[1]);
        int count = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        if (error != std::errc() || end != text.data() + text.size() || count < 1 ||
            count > kDefaultStartCount) {
            std::fprintf(stderr,
                         "bench_sound_latency: the start count must be a whole number from 1 to "
                         "%d, not \"%s\"\nusage: bench_sound_latency [STARTS]\n",
                         kDefaultStartCount, argv[1]);
            return 2;
        }
        startCount = count;
    }
    // As the sound output does: signals stay with the benchmark, the same server buffer.
    lyravox::platform::prepareSdlAudio();
    std::printf(
            "clip_stream_fixed_latency %.2f ms\n",
            static_cast<double>(ClipStream(kOutputSampleRateHz, kBufferFrames).fixedLatencyNs()) /
                    1e6);
    std::vector<double> startCallsUs;
    measureStarts("dummy", 300ms, startCallsUs);
    {
        // A private server, so the benchmark neither needs nor disturbs a desktop's sound server.
        PulseTestServer server;
        const std::string failure = server.start();
        if (!failure.empty()) {
            std::fprintf(stderr, "bench_sound_latency: pulseaudio: %s\n", failure.c_str());
            std::printf("latency_pulse_unavailable 1 flag\n");
        } else {
            ::setenv("PULSE_SERVER", server.address().c_str(), 1);
            MonitorRecording recording(server.address(), server.directory() / "monitor.raw");
            const std::vector<SteadyTimeNs> callTimesNs =
                    measureStarts("pulseaudio", kPulseWarmUp, startCallsUs);
            const MonitorRecording::Stopped monitor = recording.stop();
            if (!monitor.endedWhenAsked)
                std::fprintf(stderr, "bench_sound_latency: parec had to be killed\n");
            if (!callTimesNs.empty())
                printHeardFigures(monitor.samples, callTimesNs);
            measurePlayCalls();
        }
        if (!server.stop(PulseTestServer::Stop::Term))
            std::fprintf(stderr, "bench_sound_latency: the PulseAudio server did not stop\n");
    }
    if (!startCallsUs.empty()) {
        std::printf("start_call_median %.2f us\n", quantile(startCallsUs, 0.5));
        std::printf("start_call_p99 %.2f us\n", quantile(startCallsUs, 0.99));
        std::printf("start_call_max %.2f us\n", maxOf(startCallsUs));
    }
    return 0;
}
