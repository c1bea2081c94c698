// The native PipeWire output's threads at work against a real private daemon, one life of an
// output from start to end: a loop, the idle stop, the wake, a daemon killed and restarted under
// the loop, and the output destroyed while it plays. Built with ThreadSanitizer (label tsan) it
// shows any data race between the user-interface thread, PipeWire's loop thread and its data
// thread; in the other builds it checks that every phase is heard.
#include "platform/clip_stream.h"
#include "platform/pipewire_sound_output.h"
#include "tests/platform/sound_test_support.h"
#include "tools/pipewire_harness/pipewire_test_server.h"
#include "tools/pipewire_harness/sink_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace lyravox::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PipeWireTestServer;
using test::SinkCapture;

constexpr int kRateHz = 44100;

std::shared_ptr<const PcmClip> steadyClip(std::int16_t level, std::size_t frames) {
    auto clip = std::make_shared<PcmClip>();
    clip->samples.assign(frames, level);
    return clip;
}

// Starts `count` clips a rest apart from this thread, each due at its rest's deadline, as the
// rest loop makes them.
void playLoop(SoundOutput& output, const std::shared_ptr<const PcmClip>& clip, int count,
              std::chrono::milliseconds rest) {
    auto due = Clock::now() + 20ms;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(due);
        output.play(clip,
                    std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch())
                            .count());
        due += rest;
    }
}

// Starts the capture heard: stretches of sound after at least kQuietFrames of silence, so that
// a dropout inside a clip (this machine may have one) does not count as a start of its own.
std::size_t startsHeard(const SinkCapture& capture) {
    constexpr std::size_t kQuietFrames = kRateHz * 60 / 1000;
    const std::vector<std::int16_t> samples = capture.samples();
    std::size_t starts = 0;
    std::size_t quiet = kQuietFrames;
    for (std::int16_t sample : samples) {
        if (sample == 0) {
            ++quiet;
            continue;
        }
        starts += quiet >= kQuietFrames;
        quiet = 0;
    }
    return starts;
}

TEST(PipeWireOutputThreads, ALoopIdleStopWakeAndDaemonRestartAreHeard) {
    if (!PipeWireTestServer::packagesInstalled())
        GTEST_SKIP() << "pipewire, wireplumber, pipewire-pulse or pulseaudio-utils missing "
                        "(tools/setup-deps.sh --test installs them)";
    PipeWireTestServer server(kRateHz);
    ASSERT_EQ(server.start(), "") << "the private PipeWire did not start";
    server.useFromThisProcess();
    // 50 ms clips 150 ms apart: each start is a stretch of its own.
    const auto clip = steadyClip(3000, 2205);
    constexpr auto kRest = 150ms;
    constexpr int kStarts = 8;

    auto output = PipeWireSoundOutput::connect({});
    ASSERT_NE(output, nullptr);
    // The output makes its PipeWire context on its own thread; libpipewire looks up the user with
    // the non-reentrant getpwuid() whenever a context or loop is made, so the capture's is made
    // once the output's is there.
    ASSERT_TRUE(waitFor(2s, [&] { return output->isConnected(); })) << "the output never connected";
    {
        SinkCapture capture(5 * kRateHz);
        ASSERT_TRUE(capture.waitUntilRecording()) << "the sink cannot be captured";
        playLoop(*output, clip, kStarts, kRest);
        std::this_thread::sleep_for(300ms);
        capture.stop();
        EXPECT_EQ(startsHeard(capture), static_cast<std::size_t>(kStarts)) << "the first loop";
    }

    const auto idleWithin = std::chrono::seconds(ClipStream::kIdleStopSeconds + 5);
    EXPECT_TRUE(waitFor(idleWithin, [&] { return !output->isStreamActive(); }))
            << "the stream still runs long after the last clip";
    {
        SinkCapture capture(3 * kRateHz);
        ASSERT_TRUE(capture.waitUntilRecording()) << "the sink cannot be captured";
        output->play(clip, steadyNowNs());
        EXPECT_TRUE(waitFor(2s, [&] { return startsHeard(capture) == 1; }))
                << "the start after the idle stop was not heard";
        EXPECT_TRUE(output->isStreamActive());
        capture.stop();
    }

    ASSERT_TRUE(server.stop(PipeWireTestServer::Stop::Kill));
    playLoop(*output, clip, 3, kRest);
    EXPECT_TRUE(waitFor(2s, [&] { return !output->isConnected(); }))
            << "the output did not notice the daemon's end";
    ASSERT_EQ(server.start(), "") << "the second daemon did not start";
    EXPECT_TRUE(waitFor(3s, [&] { return output->isConnected(); }))
            << "the output did not connect to the second daemon";
    {
        SinkCapture capture(5 * kRateHz);
        ASSERT_TRUE(capture.waitUntilRecording()) << "the second daemon's sink cannot be captured";
        playLoop(*output, clip, kStarts, kRest);
        std::this_thread::sleep_for(300ms);
        capture.stop();
        EXPECT_GE(startsHeard(capture), static_cast<std::size_t>(kStarts - 1))
                << "the loop on the second daemon";
    }

    // Destroyed while a clip sounds: the data thread must be done with it first.
    output->play(steadyClip(3000, kRateHz), steadyNowNs());
    std::this_thread::sleep_for(100ms);
    output.reset();
    EXPECT_TRUE(server.stop(PipeWireTestServer::Stop::Term));
}

}  // namespace
}  // namespace lyravox::platform
