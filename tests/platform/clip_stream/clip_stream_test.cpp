// The test plays the audio thread itself, with made-up callback times, so where each clip lands
// in the stream can be checked to the frame without a sound device or the real clock.
#include "platform/clip_stream.h"
#include "tests/platform/clip_stream/marked_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace lyravox::platform {
namespace {

using test_support::decodeMarked;
using test_support::markedClip;

constexpr int kRateHz = kOutputSampleRateHz;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr SteadyTimeNs kMsNs = 1'000'000;
constexpr SteadyTimeNs kUsNs = 1'000;
// Steady time of stream frame 0: arbitrary and far from zero, so nothing relies on either.
constexpr SteadyTimeNs kOriginNs = 7'300 * kNsPerSecond;

SteadyTimeNs bufferPeriodNs(std::size_t frames) {
    return static_cast<SteadyTimeNs>(frames) * kNsPerSecond / kRateHz;
}

// The sound card as the audio thread sees it: when each callback arrives and which steady time
// each frame belongs to.
struct CardModel {
    std::vector<std::size_t> callbackFrames{256};
    // Above 1 the card runs slower than sampleRateHz by steady_clock.
    double frameDurationRatio = 1.0;
    std::function<SteadyTimeNs(std::int64_t callbackIndex)> latenessNs = [](std::int64_t) {
        return SteadyTimeNs{0};
    };
};

class SimulatedAudioThread {
public:
    SimulatedAudioThread(ClipStream& stream, CardModel card)
        : stream_(stream)
        , card_(std::move(card)) {}

    // Renders every callback that arrives at or before timeNs.
    void runUntil(SteadyTimeNs timeNs) {
        while (nextArrivalNs() <= timeNs)
            renderOneCallback();
    }

    // From `frame` on, every frame is heard `shiftNs` later, as after an underrun.
    void shiftLineFrom(std::int64_t frame, SteadyTimeNs shiftNs) {
        shiftFromFrame_ = frame;
        shiftNs_ = shiftNs;
    }

    std::int64_t renderedFrames() const { return static_cast<std::int64_t>(rendered_.size()); }
    const std::vector<std::int16_t>& rendered() const { return rendered_; }

    SteadyTimeNs lineTimeNs(std::int64_t frame) const {
        const double nominalNs = static_cast<double>(frame) * static_cast<double>(kNsPerSecond) /
                                 kRateHz * card_.frameDurationRatio;
        return kOriginNs + static_cast<SteadyTimeNs>(std::floor(nominalNs)) +
               (frame >= shiftFromFrame_ ? shiftNs_ : 0);
    }

    // The (fractional) frame that the card plays at `timeNs`.
    double frameAtLineTime(SteadyTimeNs timeNs) const {
        const auto framesAfter = [&](SteadyTimeNs shiftNs) {
            return static_cast<double>(timeNs - kOriginNs - shiftNs) * kRateHz /
                   static_cast<double>(kNsPerSecond) / card_.frameDurationRatio;
        };
        const double unshifted = framesAfter(0);
        if (unshifted < static_cast<double>(shiftFromFrame_))
            return unshifted;
        return std::max(framesAfter(shiftNs_), static_cast<double>(shiftFromFrame_));
    }

private:
    SteadyTimeNs nextArrivalNs() const {
        return std::max(lastArrivalNs_,
                        lineTimeNs(renderedFrames()) + card_.latenessNs(callbackIndex_));
    }

    void renderOneCallback() {
        const SteadyTimeNs arrivalNs = nextArrivalNs();
        std::vector<std::int16_t> buffer(
                card_.callbackFrames[static_cast<std::size_t>(callbackIndex_) %
                                     card_.callbackFrames.size()],
                std::int16_t{-1});
        stream_.renderAudioThread(buffer, arrivalNs);
        rendered_.insert(rendered_.end(), buffer.begin(), buffer.end());
        lastArrivalNs_ = arrivalNs;
        ++callbackIndex_;
    }

    ClipStream& stream_;
    CardModel card_;
    std::vector<std::int16_t> rendered_;
    std::int64_t callbackIndex_ = 0;
    SteadyTimeNs lastArrivalNs_ = 0;
    std::int64_t shiftFromFrame_ = std::numeric_limits<std::int64_t>::max();
    SteadyTimeNs shiftNs_ = 0;
};

// Exact frame of a punctual card at sampleRateHz, rounded to nearest.
std::int64_t punctualFrameAt(SteadyTimeNs timeNs) {
    const std::int64_t scaled = (timeNs - kOriginNs) * kRateHz;
    return (scaled + kNsPerSecond / 2) / kNsPerSecond;
}

struct Placement {
    std::int64_t frame;
    std::shared_ptr<const PcmClip> clip;
};

// What the stream must hold: each clip from its first sample at its frame, cut off where the
// next one begins, silence after a clip ends.
std::vector<std::int16_t> expectedStream(const std::vector<Placement>& placements,
                                         std::size_t frames) {
    std::vector<std::int16_t> stream(frames, 0);
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const auto begin = static_cast<std::size_t>(placements[i].frame);
        const std::size_t end = i + 1 < placements.size()
                                        ? static_cast<std::size_t>(placements[i + 1].frame)
                                        : frames;
        if (!placements[i].clip)
            continue;
        const auto& samples = placements[i].clip->samples;
        for (std::size_t f = begin; f < std::min({end, frames, begin + samples.size()}); ++f)
            stream[f] = samples[f - begin];
    }
    return stream;
}

std::string describeSample(std::int16_t sample) {
    const auto marked = decodeMarked(sample);
    if (!marked)
        return sample == 0 ? "silence" : "garbage " + std::to_string(sample);
    return "clip " + std::to_string(marked->id) + " sample " + std::to_string(marked->index);
}

::testing::AssertionResult sameStream(const std::vector<std::int16_t>& actual,
                                      const std::vector<std::int16_t>& expected) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure()
               << "stream has " << actual.size() << " frames, " << expected.size() << " expected";
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (a == actual.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "first difference at frame " << (a - actual.begin()) << ": " << describeSample(*a)
           << " where " << describeSample(*e) << " belongs";
}

// Frame at which clip `id` begins, searching from `fromFrame`; -1 if it never does.
std::int64_t onsetOf(const std::vector<std::int16_t>& stream, int id, std::int64_t fromFrame) {
    const std::int16_t first = markedClip(id, 1)->samples[0];
    const auto it = std::find(stream.begin() + fromFrame, stream.end(), first);
    return it == stream.end() ? -1 : it - stream.begin();
}

enum class ClipId { A, B, Short, Empty, Null };

std::shared_ptr<const PcmClip> clipFor(ClipId id) {
    static const std::shared_ptr<const PcmClip> a = markedClip(1, 3000);
    static const std::shared_ptr<const PcmClip> b = markedClip(2, 2000);
    static const std::shared_ptr<const PcmClip> shortClip = markedClip(3, 100);
    static const std::shared_ptr<const PcmClip> empty = std::make_shared<PcmClip>();
    switch (id) {
        case ClipId::A:
            return a;
        case ClipId::B:
            return b;
        case ClipId::Short:
            return shortClip;
        case ClipId::Empty:
            return empty;
        case ClipId::Null:
            break;
    }
    return nullptr;
}

struct StartCall {
    SteadyTimeNs afterOriginNs;
    ClipId clip;
};

struct PlacementCase {
    const char* name;
    std::size_t bufferFrames;
    std::vector<std::size_t> callbackFrames;
    std::vector<StartCall> starts;
};

// Failure messages name the row instead of dumping its bytes.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& row, std::ostream* os) {
    *os << row.name;
}

class ClipStreamPlacement : public ::testing::TestWithParam<PlacementCase> {};

// A punctual card: every clip must appear bit-exact from its first sample at exactly the frame
// heard fixedLatencyNs() after its call, cut off exactly where the next begins.
TEST_P(ClipStreamPlacement, StreamHoldsEachClipFromItsPlacedFrame) {
    const PlacementCase& row = GetParam();
    ClipStream stream(kRateHz, row.bufferFrames);
    SimulatedAudioThread audio(stream, CardModel{.callbackFrames = row.callbackFrames});

    std::vector<Placement> expected;
    SteadyTimeNs lastCallNs = kOriginNs;
    for (const StartCall& call : row.starts) {
        lastCallNs = kOriginNs + call.afterOriginNs;
        audio.runUntil(lastCallNs);
        stream.start(clipFor(call.clip), lastCallNs);
        expected.push_back(
                {punctualFrameAt(lastCallNs + stream.fixedLatencyNs()), clipFor(call.clip)});
    }
    audio.runUntil(lastCallNs + 200 * kMsNs);

    EXPECT_TRUE(sameStream(audio.rendered(), expectedStream(expected, audio.rendered().size())));
}

const SteadyTimeNs kCallbackAt512Ns = 512 * kNsPerSecond / kRateHz;

INSTANTIATE_TEST_SUITE_P(
        Cases, ClipStreamPlacement,
        ::testing::Values(
                PlacementCase{"CallEarlyInABufferPeriod", 256, {256}, {{1 * kMsNs, ClipId::A}}},
                PlacementCase{"CallJustBeforeACallback", 256, {256}, {{5700 * kUsNs, ClipId::A}}},
                PlacementCase{
                        "CallAtACallbackInstant", 256, {256}, {{kCallbackAt512Ns, ClipId::A}}},
                PlacementCase{"NewerClipCutsOffTheSoundingOne",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::A}, {30 * kMsNs, ClipId::B}}},
                PlacementCase{"SameClipAgainBeginsAnew",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::A}, {30 * kMsNs, ClipId::A}}},
                PlacementCase{"NullClipSilences",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::A}, {30 * kMsNs, ClipId::Null}}},
                PlacementCase{"EmptyClipSilences",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::A}, {30 * kMsNs, ClipId::Empty}}},
                PlacementCase{"ClipEndsInSilenceThenTheNextBegins",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::Short}, {40 * kMsNs, ClipId::B}}},
                PlacementCase{"ClipAfterSilence",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::Null}, {20 * kMsNs, ClipId::A}}},
                PlacementCase{"StartsJustOverTheLatencyApartAllSound",
                              256,
                              {256},
                              {{1 * kMsNs, ClipId::A},
                               {10 * kMsNs, ClipId::B},
                               {19 * kMsNs, ClipId::A},
                               {28 * kMsNs, ClipId::B}}},
                PlacementCase{"HalfSizeCallbacks",
                              256,
                              {128},
                              {{1 * kMsNs, ClipId::A}, {33300 * kUsNs, ClipId::B}}},
                PlacementCase{
                        "IrregularCallbackSizes",
                        256,
                        {256, 100, 300, 17},
                        {{2 * kMsNs, ClipId::A}, {25 * kMsNs, ClipId::B}, {47 * kMsNs, ClipId::A}}},
                PlacementCase{"Buffers441",
                              441,
                              {441},
                              {{3 * kMsNs, ClipId::A}, {50 * kMsNs, ClipId::B}}},
                PlacementCase{
                        "Buffers64", 64, {64}, {{300 * kUsNs, ClipId::A}, {7 * kMsNs, ClipId::B}}}),
        [](const ::testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

// Every phase of the call within a buffer period: too short a latency would make some of them
// land in a buffer already rendered and start late.
TEST(ClipStream, EveryCallPhaseWithinABufferPeriodIsPlacedExactly) {
    for (const std::size_t bufferFrames : {64u, 256u, 441u, 1024u}) {
        for (SteadyTimeNs phaseNs = 0; phaseNs < bufferPeriodNs(bufferFrames);
             phaseNs += 97 * kUsNs) {
            ClipStream stream(kRateHz, bufferFrames);
            SimulatedAudioThread audio(stream, CardModel{.callbackFrames = {bufferFrames}});
            const SteadyTimeNs callNs = kOriginNs + 10 * bufferPeriodNs(bufferFrames) + phaseNs;
            audio.runUntil(callNs);
            stream.start(clipFor(ClipId::A), callNs);
            audio.runUntil(callNs + 100 * kMsNs);
            EXPECT_EQ(onsetOf(audio.rendered(), 1, 0),
                      punctualFrameAt(callNs + stream.fixedLatencyNs()))
                    << bufferFrames << "-frame buffers, call " << phaseNs << " ns into a period";
        }
    }
}

TEST(ClipStream, LatencyIsMoreThanABufferPeriodAndUnderTenMillisecondsAt256Frames) {
    const ClipStream stream(kRateHz, 256);
    EXPECT_GT(stream.fixedLatencyNs(), bufferPeriodNs(256));
    EXPECT_LT(stream.fixedLatencyNs(), 10 * kMsNs);
}

struct RhythmCase {
    const char* name;
    CardModel card;
    // From this frame on every frame is heard this much later (an underrun); none if negative.
    std::int64_t underrunAtFrame = -1;
    SteadyTimeNs underrunNs = 0;
};

std::function<SteadyTimeNs(std::int64_t)> uniformLateness(SteadyTimeNs maxNs, unsigned seed) {
    auto draws = std::make_shared<std::vector<SteadyTimeNs>>();
    std::mt19937 random(seed);
    std::uniform_int_distribution<SteadyTimeNs> lateness(0, maxNs);
    for (int i = 0; i < 4000; ++i)
        draws->push_back(lateness(random));
    return [draws](std::int64_t index) {
        return (*draws)[static_cast<std::size_t>(index) % draws->size()];
    };
}

class ClipStreamRhythm : public ::testing::TestWithParam<RhythmCase> {};

// Starts keep the intervals at which they were called, and land within half a millisecond of the
// frame the card plays fixedLatencyNs() after the call, however the callbacks wobble. The calls
// avoid 1.1 – 1.4 s, where the rows put their stalls and underruns.
TEST_P(ClipStreamRhythm, StartsLandWithinHalfAMillisecondOfTheirCallTimes) {
    const RhythmCase& row = GetParam();
    const std::size_t bufferFrames = row.card.callbackFrames.front();
    ClipStream stream(kRateHz, bufferFrames);
    SimulatedAudioThread audio(stream, row.card);
    if (row.underrunAtFrame >= 0)
        audio.shiftLineFrom(row.underrunAtFrame, row.underrunNs);

    const std::vector<SteadyTimeNs> callsMs100us = {3000,  5500,  9333,  10304, 14000, 15807,
                                                    20807, 21420, 25520, 28020, 35790, 36401};
    std::vector<SteadyTimeNs> callTimesNs;
    for (std::size_t i = 0; i < callsMs100us.size(); ++i) {
        const SteadyTimeNs callNs = kOriginNs + callsMs100us[i] * 100 * kUsNs;
        audio.runUntil(callNs);
        stream.start(markedClip(static_cast<int>(i % test_support::kMarkedClipIdCount), 500),
                     callNs);
        callTimesNs.push_back(callNs);
    }
    audio.runUntil(callTimesNs.back() + 100 * kMsNs);

    const double halfMsFrames = 0.5e-3 * kRateHz;
    std::int64_t searchFrom = 0;
    double previousOnsetFrames = 0;
    for (std::size_t i = 0; i < callTimesNs.size(); ++i) {
        const std::int64_t onset =
                onsetOf(audio.rendered(), static_cast<int>(i % test_support::kMarkedClipIdCount),
                        searchFrom);
        ASSERT_GE(onset, 0) << "start " << i << " never sounded";
        const double ideal = audio.frameAtLineTime(callTimesNs[i] + stream.fixedLatencyNs());
        EXPECT_NEAR(static_cast<double>(onset), ideal, halfMsFrames) << "start " << i;
        if (i > 0) {
            const double callIntervalFrames = audio.frameAtLineTime(callTimesNs[i]) -
                                              audio.frameAtLineTime(callTimesNs[i - 1]);
            EXPECT_NEAR(static_cast<double>(onset) - previousOnsetFrames, callIntervalFrames,
                        halfMsFrames)
                    << "interval before start " << i;
        }
        previousOnsetFrames = static_cast<double>(onset);
        searchFrom = onset + 1;
    }
}

const SteadyTimeNs kPeriod256Ns = bufferPeriodNs(256);

std::function<SteadyTimeNs(std::int64_t)> stallAt(std::int64_t callbackIndex, SteadyTimeNs ns) {
    return [=](std::int64_t index) { return index == callbackIndex ? ns : SteadyTimeNs{0}; };
}

INSTANTIATE_TEST_SUITE_P(
        Cards, ClipStreamRhythm,
        ::testing::Values(
                RhythmCase{"Punctual", {}},
                RhythmCase{"UpTo1msLate", {.latenessNs = uniformLateness(1 * kMsNs, 1)}},
                RhythmCase{"UpToHalfAPeriodLate",
                           {.latenessNs = uniformLateness(kPeriod256Ns / 2, 2)}},
                // The device takes two buffers at once every other period.
                RhythmCase{"ArrivingInPairs",
                           {.latenessNs =
                                    [](std::int64_t index) {
                                        return index % 2 == 0 ? kPeriod256Ns : SteadyTimeNs{0};
                                    }}},
                RhythmCase{"HalfSizeCallbacksUpTo1msLate",
                           {.callbackFrames = {128}, .latenessNs = uniformLateness(1 * kMsNs, 3)}},
                RhythmCase{"Buffers441UpTo2msLate",
                           {.callbackFrames = {441}, .latenessNs = uniformLateness(2 * kMsNs, 4)}},
                RhythmCase{"Card200ppmSlowUpTo1msLate",
                           {.frameDurationRatio = 1.0002,
                            .latenessNs = uniformLateness(1 * kMsNs, 5)}},
                RhythmCase{"Card200ppmFastUpTo1msLate",
                           {.frameDurationRatio = 0.9998,
                            .latenessNs = uniformLateness(1 * kMsNs, 6)}},
                // Callback 210 is due at 1.219 s; those after it catch up back to back.
                RhythmCase{"StallOf15msCaughtUp", {.latenessNs = stallAt(210, 15 * kMsNs)}},
                RhythmCase{"StallOf40msCaughtUp", {.latenessNs = stallAt(210, 40 * kMsNs)}},
                RhythmCase{"UnderrunOf40ms", {}, 210 * 256, 40 * kMsNs}),
        [](const ::testing::TestParamInfo<RhythmCase>& info) { return info.param.name; });

struct LateOrEarlyCase {
    const char* name;
    SteadyTimeNs callAfterNowNs;
    SteadyTimeNs underrunNs;
    bool expectFirstFrameOfNextBuffer;
};

class ClipStreamLateOrEarly : public ::testing::TestWithParam<LateOrEarlyCase> {};

// A start whose frame is already rendered begins at once; one far ahead waits for its frame
// while the sounding clip plays on.
TEST_P(ClipStreamLateOrEarly, StartBeginsAtOnceOrWaitsForItsFrame) {
    const LateOrEarlyCase& row = GetParam();
    ClipStream stream(kRateHz, 256);
    SimulatedAudioThread audio(stream, CardModel{});
    const auto sounding = markedClip(1, test_support::kMarkedClipMaxFrames - 1);
    audio.runUntil(kOriginNs + 10 * kMsNs);
    stream.start(sounding, kOriginNs + 10 * kMsNs);
    audio.runUntil(kOriginNs + 20 * kMsNs);

    const SteadyTimeNs nowNs = kOriginNs + 20 * kMsNs;
    const std::int64_t nextBufferFrame = audio.renderedFrames();
    if (row.underrunNs > 0)
        audio.shiftLineFrom(nextBufferFrame, row.underrunNs);
    const auto late = markedClip(2, 300);
    stream.start(late, nowNs + row.callAfterNowNs);
    audio.runUntil(nowNs + std::max<SteadyTimeNs>(row.callAfterNowNs, 0) + row.underrunNs +
                   100 * kMsNs);

    const std::int64_t expectedFrame =
            row.expectFirstFrameOfNextBuffer
                    ? nextBufferFrame
                    : punctualFrameAt(nowNs + row.callAfterNowNs + stream.fixedLatencyNs());
    const std::vector<Placement> placements = {
            {punctualFrameAt(kOriginNs + 10 * kMsNs + stream.fixedLatencyNs()), sounding},
            {expectedFrame, late}};
    EXPECT_TRUE(sameStream(audio.rendered(), expectedStream(placements, audio.rendered().size())));
}

INSTANTIATE_TEST_SUITE_P(
        Cases, ClipStreamLateOrEarly,
        ::testing::Values(LateOrEarlyCase{"CallTimeOneSecondAgo", -kNsPerSecond, 0, true},
                          LateOrEarlyCase{"AudioThreadStalledByAnUnderrun", 0, 50 * kMsNs, true},
                          LateOrEarlyCase{"CallTimeFiftyMillisecondsAhead", 50 * kMsNs, 0, false},
                          LateOrEarlyCase{"CallTimeOneSecondAhead", kNsPerSecond, 0, false}),
        [](const ::testing::TestParamInfo<LateOrEarlyCase>& info) { return info.param.name; });

// A start not yet placed is replaced by a newer one, whether the audio thread has already
// picked it up or not: the replaced clip never sounds and the sounding one plays on until the
// newer clip's frame.
TEST(ClipStream, NewerStartReplacesOneStillWaiting) {
    for (const bool audioPicksUpTheFirst : {false, true}) {
        SCOPED_TRACE(audioPicksUpTheFirst ? "picked up" : "not picked up");
        ClipStream stream(kRateHz, 256);
        SimulatedAudioThread audio(stream, CardModel{});
        const auto sounding = markedClip(1, 3000);
        const SteadyTimeNs soundingCallNs = kOriginNs + 10 * kMsNs;
        audio.runUntil(soundingCallNs);
        stream.start(sounding, soundingCallNs);

        // One millisecond before the callback that renders frames 1024 onwards.
        const SteadyTimeNs firstCallNs = kOriginNs + 1024 * kNsPerSecond / kRateHz - 1 * kMsNs;
        audio.runUntil(firstCallNs);
        auto replaced = markedClip(2, 3000);
        const std::weak_ptr<const PcmClip> replacedWatch = replaced;
        stream.start(std::move(replaced), firstCallNs);
        const SteadyTimeNs secondCallNs = firstCallNs + 2 * kMsNs;
        if (audioPicksUpTheFirst) {
            audio.runUntil(secondCallNs);
            ASSERT_EQ(audio.renderedFrames(), 1024 + 256);
        }
        const auto newer = markedClip(3, 300);
        stream.start(newer, secondCallNs);
        audio.runUntil(secondCallNs + 100 * kMsNs);
        stream.reclaim();

        EXPECT_TRUE(replacedWatch.expired());
        const std::vector<Placement> placements = {
                {punctualFrameAt(soundingCallNs + stream.fixedLatencyNs()), sounding},
                {punctualFrameAt(secondCallNs + stream.fixedLatencyNs()), newer}};
        EXPECT_TRUE(
                sameStream(audio.rendered(), expectedStream(placements, audio.rendered().size())));
    }
}

// The audio thread away for thousands of starts: start() neither blocks nor keeps the clips the
// audio thread never saw, and does not touch the two the audio thread holds.
TEST(ClipStream, ThousandsOfStartsWhileTheAudioThreadIsAwayKeepOnlyTheNewest) {
    ClipStream stream(kRateHz, 256);
    SimulatedAudioThread audio(stream, CardModel{});
    auto sounding = markedClip(1, 3000);
    auto waiting = markedClip(2, 3000);
    const std::weak_ptr<const PcmClip> soundingWatch = sounding;
    const std::weak_ptr<const PcmClip> waitingWatch = waiting;
    audio.runUntil(kOriginNs + 10 * kMsNs);
    stream.start(std::move(sounding), kOriginNs + 10 * kMsNs);
    // Shortly before a callback, so that callback picks the start up but its frame lies beyond.
    const SteadyTimeNs waitingCallNs = kOriginNs + 2048 * kNsPerSecond / kRateHz - 1 * kMsNs;
    audio.runUntil(waitingCallNs);
    stream.start(std::move(waiting), waitingCallNs);
    const SteadyTimeNs awayNs = waitingCallNs + 2 * kMsNs;
    audio.runUntil(awayNs);

    std::vector<std::weak_ptr<const PcmClip>> unseen;
    std::shared_ptr<const PcmClip> newest;
    for (int i = 0; i < 5000; ++i) {
        newest = markedClip(3 + i % 4, 200);
        unseen.push_back(newest);
        stream.start(newest, awayNs);
    }
    unseen.pop_back();
    EXPECT_TRUE(
            std::all_of(unseen.begin(), unseen.end(), [](const auto& w) { return w.expired(); }));
    EXPECT_FALSE(soundingWatch.expired());
    EXPECT_FALSE(waitingWatch.expired());

    audio.runUntil(awayNs + 100 * kMsNs);
    const std::vector<Placement> placements = {
            {punctualFrameAt(kOriginNs + 10 * kMsNs + stream.fixedLatencyNs()),
             soundingWatch.lock()},
            {punctualFrameAt(awayNs + stream.fixedLatencyNs()), newest}};
    stream.reclaim();
    EXPECT_TRUE(waitingWatch.expired());
    EXPECT_TRUE(sameStream(audio.rendered(), expectedStream(placements, audio.rendered().size())));
}

enum class LetGo { PlayedToItsEnd, CutOffByAnotherClip, CutOffBySilence, ReplacedWhileWaiting };

struct LetGoCase {
    const char* name;
    LetGo way;
};

class ClipStreamReclaim : public ::testing::TestWithParam<LetGoCase> {};

// A clip stays alive, even with nobody else holding it, until the audio thread lets go of it;
// then reclaim() or the next start() frees it.
TEST_P(ClipStreamReclaim, ClipIsFreedOnlyAfterTheAudioThreadLetGo) {
    for (const bool freeByStart : {false, true}) {
        SCOPED_TRACE(freeByStart ? "freed by start()" : "freed by reclaim()");
        ClipStream stream(kRateHz, 256);
        SimulatedAudioThread audio(stream, CardModel{});
        auto clip = markedClip(1, 2000);
        const std::weak_ptr<const PcmClip> watch = clip;
        SteadyTimeNs nowNs = kOriginNs + 10 * kMsNs;
        audio.runUntil(nowNs);
        stream.start(std::move(clip), nowNs);
        const bool waiting = GetParam().way == LetGo::ReplacedWhileWaiting;
        // One callback: it picks the start up, and either it is still waiting or it sounds.
        nowNs += waiting ? 2 * kMsNs : 15 * kMsNs;
        audio.runUntil(nowNs);
        stream.reclaim();
        ASSERT_FALSE(watch.expired());

        SteadyTimeNs letGoDoneNs = nowNs + 20 * kMsNs;
        switch (GetParam().way) {
            case LetGo::PlayedToItsEnd:
                letGoDoneNs = nowNs + 60 * kMsNs;
                break;
            case LetGo::CutOffByAnotherClip:
                stream.start(markedClip(2, 100), nowNs);
                break;
            case LetGo::CutOffBySilence:
            case LetGo::ReplacedWhileWaiting:
                stream.start(nullptr, nowNs);
                break;
        }
        stream.reclaim();
        EXPECT_FALSE(watch.expired()) << "freed while the audio thread still held it";
        audio.runUntil(letGoDoneNs);
        EXPECT_FALSE(watch.expired()) << "freed on the audio thread";
        if (freeByStart)
            stream.start(nullptr, letGoDoneNs);
        else
            stream.reclaim();
        EXPECT_TRUE(watch.expired());
    }
}

INSTANTIATE_TEST_SUITE_P(
        Ways, ClipStreamReclaim,
        ::testing::Values(LetGoCase{"PlayedToItsEnd", LetGo::PlayedToItsEnd},
                          LetGoCase{"CutOffByAnotherClip", LetGo::CutOffByAnotherClip},
                          LetGoCase{"CutOffBySilence", LetGo::CutOffBySilence},
                          LetGoCase{"ReplacedWhileWaiting", LetGo::ReplacedWhileWaiting}),
        [](const ::testing::TestParamInfo<LetGoCase>& info) { return info.param.name; });

}  // namespace
}  // namespace lyravox::platform
