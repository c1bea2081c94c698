// What a looping string costs and how steady its rhythm is, on the real event loop and a real
// sound server: the rest between starts must sleep (a spinning wait costs a whole core) and the
// starts must be heard a rest apart. The loop runs for 30 s at the short rest on a private
// PulseAudio null sink; the sink's monitor shows where each start was heard. SDL's dummy driver
// runs fast, so it could not judge a rhythm. Prints `name value unit` lines.
#include "platform/qt_run_time.h"
#include "platform/sound_output.h"
#include "platform/sound_output_factory.h"
#include "platform/wave_decoder.h"
#include "playback/playback_control.h"
#include "sounds/clip_player.h"
#include "sounds/resource_loader.h"
#include "tests/playback/simulated_desktop.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kLoopLength = 30s;
constexpr auto kIdleLength = 30s;
// A new PulseAudio stream stalls for up to about two seconds shortly after it opens.
constexpr auto kStreamWarmUp = 2500ms;
constexpr double kRestSeconds = 1.0;
// Enough of the clip's opening that no other place in the recording matches it.
constexpr std::size_t kOpeningFrames = 64;

// The player as the logic sees it, noting when each start was made, to tell the event loop's
// part in an uneven rhythm from the sound path's.
class TimedPlayer final : public lyravox::sounds::ClipPlayback {
public:
    explicit TimedPlayer(lyravox::sounds::ClipPlayback& inner) : inner_(inner) {}
    void loadClip(std::string_view clipName) override { inner_.loadClip(clipName); }
    void startClip(std::chrono::nanoseconds startTime) override {
        startTimes.push_back(std::chrono::steady_clock::now());
        inner_.startClip(startTime);
    }
    std::vector<std::chrono::steady_clock::time_point> startTimes;

private:
    lyravox::sounds::ClipPlayback& inner_;
};

struct ErrorFigures {
    double meanMs = 0;
    double maxMs = 0;
};

ErrorFigures errorsAgainstRest(const std::vector<double>& intervalsMs) {
    ErrorFigures figures;
    for (double interval : intervalsMs) {
        const double error = interval - kRestSeconds * 1e3;
        figures.meanMs += error / static_cast<double>(intervalsMs.size());
        figures.maxMs = std::max(figures.maxMs, std::abs(error));
    }
    return figures;
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The calling (user-interface) thread alone: what the rest wait itself costs, apart from the
// audio thread, whose share moves with the sound server's scheduling from one run to the next.
double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct CpuShare {
    double processPercent = 0;
    double uiThreadPercent = 0;
};

// Runs the event loop for `length` (nothing else happens unless `begin` starts it) and returns
// the CPU time over it as a share of one core, in percent.
CpuShare cpuOver(std::chrono::milliseconds length, const std::function<void()>& begin = {}) {
    const auto wallStart = std::chrono::steady_clock::now();
    const double processStart = processCpuSeconds();
    const double threadStart = threadCpuSeconds();
    if (begin)
        QTimer::singleShot(0ms, qApp, begin);
    QTimer::singleShot(length, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    const double wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return {(processCpuSeconds() - processStart) / wallSeconds * 100,
            (threadCpuSeconds() - threadStart) / wallSeconds * 100};
}

// Frames at which the clip's opening appears in the recording. A restart microseconds after a
// start lands on the same frame, so repeats closer than half a rest are one start.
std::vector<std::size_t> startsIn(std::span<const std::int16_t> recording,
                                  std::span<const std::int16_t> opening) {
    std::vector<std::size_t> starts;
    const auto minGap = static_cast<std::size_t>(kRestSeconds / 2 * 44100);
    auto from = recording.begin();
    for (;;) {
        from = std::search(from, recording.end(), opening.begin(), opening.end());
        if (from == recording.end())
            return starts;
        const auto frame = static_cast<std::size_t>(from - recording.begin());
        if (starts.empty() || frame - starts.back() >= minGap)
            starts.push_back(frame);
        ++from;
    }
}

}  // namespace

int main(int argc, char** argv) {
    lyravox::test::PulseTestServer server;
    if (const std::string failure = server.start(); !failure.empty()) {
        std::fprintf(stderr, "bench_rest_loop: no PulseAudio server: %s\n", failure.c_str());
        std::printf("rest_loop_unavailable 1 flag\n");
        return 0;
    }
    ::setenv("PULSE_SERVER", server.address().c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);

    QCoreApplication app(argc, argv);
    // The output the program would choose here (LYRAVOX_SOUND_BACKEND forces another).
    const std::unique_ptr<lyravox::platform::SoundOutput> output =
            lyravox::platform::makeSoundOutput();
    output->open();
    std::printf("rest_loop_output_%.*s 1 flag\n", static_cast<int>(output->backendName().size()),
                output->backendName().data());
    lyravox::sounds::ClipPlayer clipPlayer(*output);
    TimedPlayer player(clipPlayer);
    lyravox::platform::QtRunTime runTime;
    lyravox::playback::test::SimulatedControls controls{runTime};
    lyravox::playback::PlaybackControl logic(controls, runTime, player);
    logic.Form_Load();

    // The recording runs through the idle figure too: a monitor being read makes the server ask
    // for sound in smaller pieces, which wakes the audio thread more often.
    lyravox::test::MonitorRecording recording(server.address(), server.directory() / "loop.raw");
    if (!recording.waitUntilRecording()) {
        std::printf("rest_loop_unavailable 1 flag\n");
        return 0;
    }
    cpuOver(std::chrono::duration_cast<std::chrono::milliseconds>(kStreamWarmUp));
    const CpuShare idle = cpuOver(kIdleLength);

    controls.setCheck1(lyravox::playback::kChecked);
    const CpuShare loop = cpuOver(kLoopLength, [&] {
        QTimer::singleShot(kLoopLength - 500ms, qApp,
                           [&] { controls.setCheck1(lyravox::playback::kUnchecked); });
        logic.Command1_Click();
    });
    const std::vector<std::int16_t> samples = recording.stop().samples;

    const auto clip =
            lyravox::platform::decodeWaveImage(lyravox::sounds::loadResource("e", "WAVE"));
    const std::vector<std::size_t> starts =
            startsIn(samples, std::span(clip->samples).first(kOpeningFrames));
    std::vector<double> heardIntervalsMs;
    for (std::size_t i = 1; i < starts.size(); ++i)
        heardIntervalsMs.push_back(static_cast<double>(starts[i] - starts[i - 1]) * 1e3 / 44100);
    // The restart right after the first start is heard as one start with it.
    std::vector<double> madeIntervalsMs;
    for (std::size_t i = 2; i < player.startTimes.size(); ++i)
        madeIntervalsMs.push_back(std::chrono::duration<double, std::milli>(
                                          player.startTimes[i] - player.startTimes[i - 1])
                                          .count());

    std::printf("cpu_idle_device_open %.3f %%core\n", idle.processPercent);
    std::printf("cpu_string_loop %.3f %%core\n", loop.processPercent);
    std::printf("cpu_loop_minus_idle %.3f %%core\n", loop.processPercent - idle.processPercent);
    std::printf("cpu_ui_thread_idle %.4f %%core\n", idle.uiThreadPercent);
    std::printf("cpu_ui_thread_loop %.4f %%core\n", loop.uiThreadPercent);
    std::printf("rest_loop_starts_heard %zu starts\n", starts.size());
    if (!madeIntervalsMs.empty()) {
        const ErrorFigures made = errorsAgainstRest(madeIntervalsMs);
        std::printf("rest_loop_call_interval_error_mean %.3f ms\n", made.meanMs);
        std::printf("rest_loop_call_interval_error_max %.3f ms\n", made.maxMs);
    }
    if (!heardIntervalsMs.empty()) {
        const ErrorFigures heard = errorsAgainstRest(heardIntervalsMs);
        std::printf("rest_loop_interval_error_mean %.3f ms\n", heard.meanMs);
        std::printf("rest_loop_interval_error_max %.3f ms\n", heard.maxMs);
    }
    return 0;
}
