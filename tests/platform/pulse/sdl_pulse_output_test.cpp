// The sound output against a real PulseAudio server, private to the test and with a null sink:
// the sink's monitor records what the server received, so the samples can be compared with the
// clips, and the server can be killed and restarted without touching anyone's desktop.
#include "platform/sdl_sound_output.h"
#include "tests/platform/sound_test_support.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace lyravox::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A new PulseAudio stream stalls for up to about two seconds shortly after it opens; clips played
// before that has passed arrive late or with gaps.
constexpr auto kStreamWarmUp = 2500ms;

using test::MonitorRecording;
using test::PulseTestServer;

class SdlPulseOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(server_.directory().empty()) << "no directory for the server under /tmp";
        const std::string failure = server_.start();
        if (!failure.empty())
            GTEST_SKIP() << "no PulseAudio server can run on this machine: " << failure;
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        ::setenv("PULSE_SERVER", server_.address().c_str(), 1);
    }

    void TearDown() override {
        EXPECT_TRUE(server_.stop(PulseTestServer::Stop::Term)) << "the server did not stop";
    }

    std::unique_ptr<MonitorRecording> record(const char* name) {
        auto recording =
                std::make_unique<MonitorRecording>(server_.address(), server_.directory() / name);
        return recording->waitUntilRecording() ? std::move(recording) : nullptr;
    }

    // A parec that has to be killed fails the test, but what it recorded is still compared.
    static std::vector<std::int16_t> stopRecording(MonitorRecording& recording) {
        MonitorRecording::Stopped stopped = recording.stop();
        EXPECT_TRUE(stopped.endedWhenAsked) << "parec does not stop";
        return std::move(stopped.samples);
    }

    PulseTestServer server_;
};

TEST_F(SdlPulseOutput, ServerReceivesTheFirstClipUnchangedUntilTheSecondBegins) {
    Watchdog watchdog(30s);
    const auto first = noiseClip(1, 500, 44100);   // 1 s
    const auto second = noiseClip(2, 9000, 4410);  // 0.1 s
    auto recording = record("clips.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";
    {
        watchdog.stage("opening the device");
        SdlSoundOutput output;
        ASSERT_TRUE(output.isOpen());
        std::this_thread::sleep_for(kStreamWarmUp);
        watchdog.stage("playing");
        output.play(first, steadyNowNs());
        std::this_thread::sleep_for(150ms);
        output.play(second, steadyNowNs());
        std::this_thread::sleep_for(400ms);
        watchdog.stage("closing the device");
    }
    watchdog.stage("stopping the recording");
    const Sound sound = soundOf(stopRecording(*recording));

    // The volume stays at 100 %, where PulseAudio passes samples through untouched, so the
    // comparison is exact.
    const std::size_t firstPlayed = commonPrefixFrames(first->samples, sound.samples);
    ASSERT_GT(firstPlayed, 0u) << "the first clip did not arrive from its first sample; "
                               << sound.samples.size() << " non-silent samples recorded";
    EXPECT_LT(firstPlayed, first->samples.size()) << "the second start did not cut the first clip";
    const std::span<const std::int16_t> after = std::span(sound.samples).subspan(firstPlayed);
    EXPECT_EQ(commonPrefixFrames(second->samples, after), second->samples.size())
            << "the second clip did not follow the first one unchanged";
    EXPECT_EQ(after.size(), second->samples.size()) << "sound after the second clip";
    if (sound.silentFramesInside != 0)
        std::cout << "note: " << sound.silentFramesInside
                  << " silent frames inside the clips (underruns on a busy machine)\n";
}

struct ServerLossCase {
    const char* name;
    PulseTestServer::Stop stop;
    // A click while no server runs: its reopening fails, the next click must try again.
    bool playWhileServerIsDown;
};

void PrintTo(const ServerLossCase& c, std::ostream* out) {
    *out << c.name;
}

class SdlPulseServerLoss : public SdlPulseOutput,
                           public ::testing::WithParamInterface<ServerLossCase> {};

TEST_P(SdlPulseServerLoss, PlayReopensOnTheRestartedServer) {
    const ServerLossCase& c = GetParam();
    Watchdog watchdog(40s);
    const auto beforeLoss = noiseClip(3, 500, 4410);
    const auto afterLoss = noiseClip(4, 9000, 44100);  // 1 s

    watchdog.stage("opening the device on the first server");
    SdlSoundOutput output;
    ASSERT_TRUE(output.isOpen());
    output.play(beforeLoss, steadyNowNs());
    std::this_thread::sleep_for(300ms);

    watchdog.stage("stopping the first server");
    EXPECT_TRUE(server_.stop(c.stop)) << "the first server did not stop";
    if (c.playWhileServerIsDown) {
        // The audio thread notices a lost connection at its next buffer.
        std::this_thread::sleep_for(100ms);
        watchdog.stage("playing while no server runs");
        output.play(beforeLoss, steadyNowNs());
    }
    watchdog.stage("starting the second server");
    const std::string failure = server_.start();
    ASSERT_EQ(failure, "") << "the second server did not start";
    auto recording = record("after-loss.raw");
    ASSERT_NE(recording, nullptr) << "parec (pulseaudio-utils) does not record";

    watchdog.stage("playing on the second server (reopening the device)");
    output.play(afterLoss, steadyNowNs());
    ASSERT_TRUE(output.isOpen());

    // The new stream stalls for a while after opening; the whole clip must still arrive.
    watchdog.stage("waiting for the clip on the second server");
    const auto deadline = Clock::now() + 8s;
    while (Clock::now() < deadline &&
           soundOf(recording->samplesSoFar()).samples.size() < afterLoss->samples.size())
        std::this_thread::sleep_for(100ms);
    const Sound sound = soundOf(stopRecording(*recording));
    EXPECT_EQ(sound.samples.size(), afterLoss->samples.size())
            << "the second server did not receive the clip whole";
    EXPECT_EQ(commonPrefixFrames(afterLoss->samples, sound.samples), sound.samples.size())
            << "what the second server received is not the clip from its first sample";
    watchdog.stage("closing the device");
}

const ServerLossCase kServerLossCases[] = {
        {"ServerCrashes", PulseTestServer::Stop::Kill, false},
        {"ServerShutsDown", PulseTestServer::Stop::Term, false},
        {"ClickWhileServerIsDown", PulseTestServer::Stop::Kill, true},
};

INSTANTIATE_TEST_SUITE_P(Pulse, SdlPulseServerLoss, ::testing::ValuesIn(kServerLossCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lyravox::platform
