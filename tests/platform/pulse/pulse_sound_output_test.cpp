// The native PulseAudio output against a private PulseAudio server with a null sink, recorded at
// the sink's monitor: what arrives, where in the sink's samples, what happens when idle, when the
// server dies or freezes, and at a 48 kHz sink.
#include "platform/output_headroom.h"
#include "platform/pulse_sound_output.h"
#include "platform/wave_decoder.h"
#include "sounds/resource_loader.h"
#include "tests/platform/sound_test_support.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lyravox::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MonitorRecording;
using test::PulseTestServer;

constexpr double kFramesPerNs = kOutputSampleRateHz / 1e9;
// A new PulseAudio stream may stall shortly after it opens.
constexpr auto kStreamWarmUp = 2500ms;
// The sink's clock runs a few hundred ppm off steady_clock; a start is placed on steady time.
constexpr double kClockSkewAllowance = 400e-6;

// What the sink receives of a clip: the output's headroom applied, nothing else.
std::vector<std::int16_t> asHeard(const PcmClip& clip) {
    std::vector<std::int16_t> heard(clip.samples);
    applyOutputHeadroomAudioThread(heard);
    return heard;
}

// Frames where `opening` (a clip's first samples as heard) begins in the recording.
std::vector<std::int64_t> onsetsOf(const std::vector<std::int16_t>& recording,
                                   std::span<const std::int16_t> opening) {
    std::vector<std::int64_t> onsets;
    auto from = recording.begin();
    for (;;) {
        const auto at = std::search(from, recording.end(), opening.begin(), opening.end());
        if (at == recording.end())
            return onsets;
        onsets.push_back(at - recording.begin());
        from = at + 1;
    }
}

void sleepUntil(SteadyTimeNs timeNs) {
    std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(timeNs)));
}

class PulseOutput : public ::testing::Test {
protected:
    void startServer(PulseTestServer::Options options = {}) {
        server_.emplace(options);
        ASSERT_FALSE(server_->directory().empty()) << "no directory for the server under /tmp";
        const std::string failure = server_->start();
        if (!failure.empty())
            GTEST_SKIP() << "no PulseAudio server can run on this machine: " << failure;
        ::setenv("PULSE_SERVER", server_->address().c_str(), 1);
    }

    void TearDown() override {
        output_.reset();
        if (server_) {
            EXPECT_TRUE(server_->stop(PulseTestServer::Stop::Term)) << "the server did not stop";
        }
    }

    PulseSoundOutput& openOutput() {
        output_ = std::make_unique<PulseSoundOutput>();
        output_->open();
        return *output_;
    }

    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!condition()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    std::unique_ptr<MonitorRecording> record(const char* name) {
        auto recording = std::make_unique<MonitorRecording>(
                server_->address(), server_->directory() / name, server_->sinkRateHz());
        return recording->waitUntilRecording() ? std::move(recording) : nullptr;
    }

    static std::vector<std::int16_t> stopRecording(MonitorRecording& recording) {
        MonitorRecording::Stopped stopped = recording.stop();
        EXPECT_TRUE(stopped.endedWhenAsked) << "parec does not stop";
        return std::move(stopped.samples);
    }

    std::optional<PulseTestServer> server_;
    std::unique_ptr<PulseSoundOutput> output_;
};

// The first clip arrives sample for sample until the second begins, the second whole; the
// second is placed by its start time, not by when play() was called.
TEST_F(PulseOutput, ClipsArriveSampleAccurateAndPlacedByTheirStartTimes) {
    startServer();
    Watchdog watchdog(30s);
    PulseSoundOutput& output = openOutput();
    auto recording = record("clips.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    std::this_thread::sleep_for(kStreamWarmUp);

    const auto first = noiseClip(1, 500, 44100);
    const auto second = noiseClip(2, 9000, 4410);
    const std::uint64_t underrunsBefore = output.underrunCount();
    const SteadyTimeNs firstNs = steadyNowNs();
    output.play(first, firstNs);
    const SteadyTimeNs secondNs = firstNs + 400'000'000;
    // Called late, as a user-interface thread that woke late would call it.
    sleepUntil(secondNs + 4'000'000);
    output.play(second, secondNs);
    std::this_thread::sleep_for(600ms);
    const std::vector<std::int16_t> recorded = stopRecording(*recording);

    const auto firstHeard = asHeard(*first);
    const auto secondHeard = asHeard(*second);
    const auto firstOnsets = onsetsOf(recorded, std::span(firstHeard).first(32));
    const auto secondOnsets = onsetsOf(recorded, std::span(secondHeard).first(32));
    ASSERT_EQ(firstOnsets.size(), 1u);
    ASSERT_EQ(secondOnsets.size(), 1u);
    const std::int64_t cutFrames = secondOnsets[0] - firstOnsets[0];
    ASSERT_GT(cutFrames, 0);
    ASSERT_LE(static_cast<std::size_t>(secondOnsets[0]) + secondHeard.size(), recorded.size());
    EXPECT_TRUE(
            std::equal(secondHeard.begin(), secondHeard.end(), recorded.begin() + secondOnsets[0]))
            << "the second clip did not arrive whole";
    // A server that ran dry (a busy machine) leaves a gap and moves later sound: then only
    // wholeness is judged.
    if (output.underrunCount() != underrunsBefore)
        return;
    EXPECT_NEAR(static_cast<double>(cutFrames), 400'000'000 * kFramesPerNs,
                0.0005 * kOutputSampleRateHz + 400'000'000 * kFramesPerNs * kClockSkewAllowance);
    const auto at = recorded.begin() + firstOnsets[0];
    EXPECT_TRUE(std::equal(firstHeard.begin(), firstHeard.begin() + cutFrames, at))
            << "the first clip did not arrive unchanged";
    EXPECT_TRUE(std::all_of(recorded.begin() + secondOnsets[0] + std::ssize(secondHeard),
                            recorded.end(), [](std::int16_t s) { return s == 0; }))
            << "something followed the last clip";
}

// A loop's starts are due half a second apart and made up to a few milliseconds late, as a
// waking event loop makes them: the sink hears them half a second apart. An interval in which the
// server ran dry, or a start was made too late for its frame (a busy machine),
// moves later sound and is left out, with the interval after it, as the output counts them; the
// others must be exact.
TEST_F(PulseOutput, LoopStartsLandOnTheirScheduledFrames) {
    startServer();
    Watchdog watchdog(30s);
    PulseSoundOutput& output = openOutput();
    auto recording = record("loop.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    std::this_thread::sleep_for(kStreamWarmUp);

    constexpr int kStarts = 12;
    constexpr SteadyTimeNs kIntervalNs = 500'000'000;
    std::vector<std::shared_ptr<const PcmClip>> clips;
    // Underruns and starts that came too late to land on their frame, so far.
    std::vector<std::uint64_t> mishapsAtStart;
    const auto mishaps = [&output] { return output.underrunCount() + output.lateStartCount(); };
    const SteadyTimeNs firstNs = steadyNowNs() + 50'000'000;
    for (int k = 0; k < kStarts; ++k) {
        clips.push_back(noiseClip(100 + static_cast<std::uint32_t>(k), 2000, 4410));
        const SteadyTimeNs dueNs = firstNs + k * kIntervalNs;
        sleepUntil(dueNs + (k * 700'000) % 3'000'000);
        mishapsAtStart.push_back(mishaps());
        output.play(clips.back(), dueNs);
    }
    std::this_thread::sleep_for(300ms);
    mishapsAtStart.push_back(mishaps());
    const std::vector<std::int16_t> recorded = stopRecording(*recording);

    std::vector<std::int64_t> onsets;
    for (const auto& clip : clips) {
        const std::vector<std::int16_t> heard = asHeard(*clip);
        const auto found = onsetsOf(recorded, std::span(heard).first(32));
        const auto k = static_cast<std::size_t>(&clip - clips.data());
        const bool mishap = mishapsAtStart[k] != mishapsAtStart[k + 1];
        if (found.size() != 1) {
            // A dry spell inside its opening: its intervals are left out anyway.
            EXPECT_TRUE(mishap && found.empty()) << "start " << k << " was not heard once";
            onsets.push_back(-1);
            continue;
        }
        onsets.push_back(found[0]);
        // Whole, from its first sample.
        if (!mishap) {
            ASSERT_LE(static_cast<std::size_t>(found[0]) + heard.size(), recorded.size());
            EXPECT_TRUE(std::equal(heard.begin(), heard.end(), recorded.begin() + found[0]))
                    << "start " << k << " is not whole";
        }
    }
    int clean = 0;
    for (std::size_t k = 1; k < onsets.size(); ++k) {
        // From the start before the interval's: a start made shortly after the server ran dry
        // is placed while the output finds the sound's timing again.
        if (mishapsAtStart[k < 2 ? 0 : k - 2] != mishapsAtStart[k + 1] || onsets[k] < 0 ||
            onsets[k - 1] < 0)
            continue;
        ++clean;
        const double expectedFrames = static_cast<double>(kIntervalNs) * kFramesPerNs;
        EXPECT_NEAR(static_cast<double>(onsets[k] - onsets[k - 1]), expectedFrames,
                    0.0005 * kOutputSampleRateHz + expectedFrames * kClockSkewAllowance)
                << "interval " << k;
    }
    EXPECT_GE(clean, 1) << "the server ran dry or a start came late in every interval";
}

// About ten seconds after the last clip the stream is corked and the server suspends its sink;
// the first start after that is heard whole, from its first sample.
TEST_F(PulseOutput, IdleCorksTheStreamTheSinkSuspendsAndTheFirstStartAfterIsWhole) {
    startServer({.suspendAfterIdleSeconds = 1});
    Watchdog watchdog(60s);
    PulseSoundOutput& output = openOutput();
    ASSERT_TRUE(waitFor([&] { return output.streamRunning(); }, 5s));
    const auto clip = noiseClip(4, 3000, 4410);
    output.play(clip, steadyNowNs());

    std::this_thread::sleep_for(6s);
    EXPECT_TRUE(output.streamRunning()) << "stopped well before ten seconds of silence";
    EXPECT_EQ(server_->playbackStreams().corked, 0);
    ASSERT_TRUE(waitFor([&] { return !output.streamRunning(); }, 8s)) << "never stopped when idle";
    EXPECT_EQ(server_->playbackStreams().count, 1);
    EXPECT_EQ(server_->playbackStreams().corked, 1);
    EXPECT_TRUE(waitFor([&] { return server_->sinkState() == "SUSPENDED"; }, 5s))
            << "the sink is " << server_->sinkState();

    auto recording = record("after-idle.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    output.play(clip, steadyNowNs());
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(output.streamRunning());
    const Sound sound = soundOf(stopRecording(*recording));
    const auto heard = asHeard(*clip);
    EXPECT_EQ(sound.samples, heard) << "the first start after idle did not arrive whole";
    EXPECT_EQ(sound.silentFramesInside, 0u);
}

struct RestartCase {
    const char* name;
    PulseTestServer::Stop stop;
};

class PulseOutputRestart : public PulseOutput, public ::testing::WithParamInterface<RestartCase> {};

// A loop goes on through a server restart: the new server is found within two seconds and
// hears whole clips only, each from its first sample, so no tick.
TEST_P(PulseOutputRestart, ALoopIsHeardAgainWholeWithinTwoSeconds) {
    startServer();
    Watchdog watchdog(40s);
    PulseSoundOutput& output = openOutput();
    ASSERT_TRUE(waitFor([&] { return output.streamRunning(); }, 5s));
    const auto clip = noiseClip(5, 1500, 6615);  // 150 ms
    std::atomic<bool> looping{true};
    std::thread loop([&] {
        SteadyTimeNs dueNs = steadyNowNs();
        while (looping.load()) {
            output.play(clip, dueNs);
            dueNs += 300'000'000;
            sleepUntil(dueNs);
        }
    });
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(server_->stop(GetParam().stop));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(server_->start(), "") << "the server did not start again";
    const auto restartedAt = Clock::now();
    auto recording = record("restarted.raw");
    const bool found =
            waitFor([&] { return output.streamsMade() == 2 && output.streamRunning(); }, 2s);
    const auto foundAfter = Clock::now() - restartedAt;
    std::this_thread::sleep_for(2s);
    looping.store(false);
    loop.join();
    ASSERT_TRUE(found) << "not found again within 2 s";
    std::printf("found again after %lld ms\n",
                static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(foundAfter).count()));
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    const std::vector<std::int16_t> recorded = stopRecording(*recording);

    // Every stretch of sound is the clip from its first sample, whole.
    // The first sound after a silence longer than a dry spell (parec may begin in the middle of
    // a clip) is the clip from its first sample, whole: the stream on the new server does not
    // resume the clip that the old one cut off. The loop goes on.
    const auto heard = asHeard(*clip);
    const std::vector<std::int16_t> longSilence(2205, 0);  // 50 ms
    const auto silence =
            std::search(recorded.begin(), recorded.end(), longSilence.begin(), longSilence.end());
    const auto firstSound =
            std::find_if(silence, recorded.end(), [](std::int16_t s) { return s != 0; });
    ASSERT_LE(heard.size(), static_cast<std::size_t>(recorded.end() - firstSound))
            << "nothing whole was heard on the new server";
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), firstSound))
            << "the first sound on the new server is not the clip from its first sample";
    EXPECT_GE(onsetsOf(recorded, heard).size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Stops, PulseOutputRestart,
                         ::testing::Values(RestartCase{"Crash", PulseTestServer::Stop::Kill},
                                           RestartCase{"Shutdown", PulseTestServer::Stop::Term}),
                         [](const auto& info) { return std::string(info.param.name); });

// A frozen server never holds up a start; once it thaws the next clip is heard.
TEST_F(PulseOutput, AFrozenServerNeverHoldsUpAStart) {
    startServer();
    Watchdog watchdog(30s);
    PulseSoundOutput& output = openOutput();
    ASSERT_TRUE(waitFor([&] { return output.streamRunning(); }, 5s));
    const auto clip = noiseClip(6, 2500, 2205);
    ASSERT_TRUE(server_->freeze());
    watchdog.stage("playing while the server is frozen");
    for (int i = 0; i < 20; ++i) {
        output.play(clip, steadyNowNs());
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(server_->thaw());
    watchdog.stage("playing after the thaw");
    std::this_thread::sleep_for(500ms);
    auto recording = record("thawed.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    output.play(clip, steadyNowNs());
    std::this_thread::sleep_for(500ms);
    const auto heard = asHeard(*clip);
    EXPECT_EQ(onsetsOf(stopRecording(*recording), heard).size(), 1u);
}

// At a 48 kHz sink the server resamples; the output's headroom keeps the full-scale clips from
// clipping there.
TEST_F(PulseOutput, NoSampleClipsAtA48kHzSink) {
    startServer({.sinkRateHz = 48000});
    Watchdog watchdog(30s);
    PulseSoundOutput& output = openOutput();
    auto recording = record("48k.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    std::this_thread::sleep_for(kStreamWarmUp);
    // As int: the loudest sample may be -32768, whose magnitude no int16_t holds.
    int loudestSource = 0;
    for (const char* name : {"chord1", "e1"}) {
        const auto image = sounds::loadResource(name, sounds::kWaveResourceType);
        auto clip = std::make_shared<const PcmClip>(decodeWaveImage(image).value());
        for (std::int16_t s : clip->samples)
            loudestSource = std::max(loudestSource, std::abs(static_cast<int>(s)));
        output.play(clip, steadyNowNs());
        std::this_thread::sleep_for(1500ms);
    }
    const Sound sound = soundOf(stopRecording(*recording));
    ASSERT_GT(sound.samples.size(), 48000u) << "too little arrived";
    EXPECT_GE(loudestSource, 32700) << "the clips are not full scale: the test proves nothing";
    const auto fullScale = std::count_if(sound.samples.begin(), sound.samples.end(),
                                         [](std::int16_t s) { return s >= 32767 || s <= -32768; });
    EXPECT_EQ(fullScale, 0) << "samples clipped at the sink";
}

// With no server at all: one line on stderr, silence, and starts go on returning.
TEST(PulseOutputWithoutServer, OneLineOnStderrAndSilence) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/lyravox/native", 1);
    Watchdog watchdog(20s);
    ::testing::internal::CaptureStderr();
    {
        PulseSoundOutput output;
        for (int i = 0; i < 10; ++i) {
            output.play(noiseClip(7, 1000, 441), steadyNowNs());
            std::this_thread::sleep_for(200ms);
        }
        EXPECT_FALSE(output.streamRunning());
    }
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find("lyravox:"), std::string::npos) << printed;
}

}  // namespace
}  // namespace lyravox::platform
