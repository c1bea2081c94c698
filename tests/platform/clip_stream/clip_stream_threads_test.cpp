// ClipStream between two real threads, for ThreadSanitizer: an audio thread renders flat out
// while the UI thread starts clips and reclaims, so every hand-over path runs concurrently.
#include "platform/clip_stream.h"
#include "tests/platform/clip_stream/marked_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lyravox::platform {
namespace {

using test_support::decodeMarked;
using test_support::markedClip;

SteadyTimeNs steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// Follows the stream sample by sample: silence, or a clip's first sample, or the sample after
// the previous one of the same clip. Anything else is a torn, stale or freed clip.
class StreamChecker {
public:
    explicit StreamChecker(std::vector<std::size_t> framesById)
        : framesById_(std::move(framesById)) {}

    void check(std::span<const std::int16_t> buffer) {
        for (const std::int16_t sample : buffer) {
            checkSample(sample);
            ++frame_;
        }
    }

    const std::optional<std::string>& firstFault() const { return firstFault_; }
    std::size_t clipOnsets() const { return clipOnsets_; }

private:
    void checkSample(std::int16_t sample) {
        const auto marked = decodeMarked(sample);
        const bool valid =
                sample == 0 || (marked && marked->id >= 0 &&
                                static_cast<std::size_t>(marked->id) < framesById_.size() &&
                                marked->index < framesById_[static_cast<std::size_t>(marked->id)] &&
                                (marked->index == 0 || (previous_ && previous_->id == marked->id &&
                                                        previous_->index + 1 == marked->index)));
        if (!valid && !firstFault_)
            firstFault_ = "frame " + std::to_string(frame_) + " holds " + std::to_string(sample);
        if (marked && marked->index == 0)
            ++clipOnsets_;
        previous_ = marked;
    }

    std::vector<std::size_t> framesById_;
    std::optional<test_support::MarkedSample> previous_;
    std::optional<std::string> firstFault_;
    std::size_t frame_ = 0;
    std::size_t clipOnsets_ = 0;
};

TEST(ClipStreamThreads, ConcurrentStartsLeaveOnlyWholeClipSamplesAndEveryClipIsFreed) {
    constexpr std::size_t kBufferFrames = 256;
    ClipStream stream(kOutputSampleRateHz, kBufferFrames);
    // Long, short, one-frame and empty clips, and silence, so clips end, are cut off, are
    // replaced while waiting and are dropped unseen, all while the other thread runs.
    const std::vector<std::size_t> framesById = {0, 3000, 700, 64, 1};
    std::vector<std::shared_ptr<const PcmClip>> clips;
    for (std::size_t id = 1; id < framesById.size(); ++id)
        clips.push_back(markedClip(static_cast<int>(id), framesById[id]));
    clips.push_back(std::make_shared<PcmClip>());
    clips.push_back(nullptr);
    std::vector<std::weak_ptr<const PcmClip>> watches(clips.begin(), clips.end());

    std::atomic<bool> stop{false};
    std::atomic<std::size_t> callbacks{0};
    StreamChecker checker(framesById);
    std::thread audio([&] {
        std::vector<std::int16_t> buffer(kBufferFrames);
        while (!stop.load()) {
            stream.renderAudioThread(buffer, steadyNowNs());
            checker.check(buffer);
            callbacks.fetch_add(1);
        }
    });

    for (int i = 0; i < 40000; ++i) {
        std::shared_ptr<const PcmClip> clip = clips[static_cast<std::size_t>(i) % clips.size()];
        // Every third start hands over a copy only the stream holds, so freeing it too early
        // is a use after free that AddressSanitizer reports.
        if (i % 3 == 0 && clip) {
            clip = std::make_shared<const PcmClip>(*clip);
            watches.push_back(clip);
        }
        stream.start(std::move(clip), steadyNowNs());
        if (i % 16 == 0)
            stream.reclaim();
        // Now and then a pause, so that some clips play for a while before the next start.
        if (i % 200 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // A last clip that surely sounds: give the audio thread a few hundred buffers more.
    stream.start(clips.front(), steadyNowNs());
    const std::size_t callbacksBefore = callbacks.load();
    while (callbacks.load() < callbacksBefore + 300)
        std::this_thread::yield();
    stop.store(true);
    audio.join();

    EXPECT_FALSE(checker.firstFault().has_value()) << checker.firstFault().value_or("");
    EXPECT_GT(checker.clipOnsets(), 0u);

    // The audio thread has ended, so this thread may stand in for it: silence lets go of the
    // last clip, its call time an hour back so it is placed in the very next buffer.
    stream.start(nullptr, steadyNowNs() - 3'600'000'000'000);
    std::vector<std::int16_t> buffer(kBufferFrames);
    stream.renderAudioThread(buffer, steadyNowNs());
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::int16_t s) { return s == 0; }));
    stream.reclaim();
    clips.clear();
    EXPECT_TRUE(
            std::all_of(watches.begin(), watches.end(), [](const auto& w) { return w.expired(); }));
}

// The idle stop between two real threads: the audio thread stops its "stream" whenever the
// stream reports idle and goes on only when woken; the UI thread starts clips and wakes it only
// when start() says so. No start may be left waiting on a stopped stream: each one sounds.
TEST(ClipStreamThreads, NoStartIsLeftWaitingOnAStreamStoppedForIdle) {
    constexpr std::size_t kBufferFrames = 256;
    ClipStream stream(kOutputSampleRateHz, kBufferFrames);
    std::atomic<bool> stop{false};
    std::atomic<bool> wake{false};
    std::atomic<int> lastHeardId{-1};
    std::atomic<int> idleStops{0};
    std::thread audio([&] {
        std::vector<std::int16_t> buffer(kBufferFrames);
        bool stopped = false;
        while (!stop.load()) {
            if (stopped) {
                if (!wake.exchange(false)) {
                    std::this_thread::yield();
                    continue;
                }
                stream.leaveIdleStop();
                stopped = false;
            }
            stream.renderAudioThread(buffer, steadyNowNs());
            for (const std::int16_t sample : buffer)
                if (const auto marked = decodeMarked(sample); marked && marked->index == 0)
                    lastHeardId.store(marked->id);
            if (stream.idleAudioThread() && stream.enterIdleStop()) {
                stopped = true;
                idleStops.fetch_add(1);
            }
        }
    });

    // Two clips taking turns, so each start is seen by a change of the last clip heard.
    const std::vector<std::shared_ptr<const PcmClip>> clips = {markedClip(1, 8), markedClip(2, 8)};
    for (int i = 0; i < 300; ++i) {
        const int id = 1 + i % 2;
        if (stream.start(clips[static_cast<std::size_t>(id - 1)], steadyNowNs()))
            wake.store(true);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (lastHeardId.load() != id && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(lastHeardId.load(), id) << "start " << i << " never sounded";
        // Silence of a varying length: sometimes the stream goes idle before the next start,
        // sometimes just as it comes.
        std::this_thread::sleep_for(
                std::chrono::microseconds(i % 10 == 0 ? 300'000 : (i * 137) % 3000));
    }
    stop.store(true);
    audio.join();
    EXPECT_GT(idleStops.load(), 0) << "the stream never went idle: the test proves nothing";
}

}  // namespace
}  // namespace lyravox::platform
