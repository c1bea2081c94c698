#include "platform/clip_stream.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <limits>
#include <span>

namespace lyravox::platform {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// Four always suffice: the audio thread holds at most three at any moment (the sounding clip,
// the waiting start and, between taking a new start and letting go of the waiting one, that new
// one), and start() takes back the one it published earlier before it looks for a free slot.
constexpr std::uint32_t kSlotCount = 4;
constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

// A callback later than the stream's clock by this many buffer periods means the stream was
// interrupted (underrun, stalled device): its frames are heard later from now on, so the clock
// starts afresh instead of waiting for the old arrivals to leave the window.
constexpr std::int64_t kInterruptedStreamPeriods = 4;

// Callbacks whose arrival times are compared: long enough that some callback in it came on time
// however jittery the rest, short enough (about 0.7 s at 256 frames) that a sound card running a
// little slower than steady_clock only lags by microseconds.
constexpr std::size_t kArrivalWindowCallbacks = 128;

// Keeps the frame arithmetic far from overflow for absurd call times; a start an hour away is
// as good as never.
constexpr std::int64_t kMaxLeadNs = 3600 * kNsPerSecond;

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

constexpr std::uint32_t slotBit(std::uint32_t slot) {
    return std::uint32_t{1} << slot;
}

std::int64_t divideRoundingToNearest(std::int64_t numerator, std::int64_t denominator) {
    const std::int64_t half = denominator / 2;
    return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

}  // namespace

struct ClipStream::State {
    // Written by the UI thread only while its bit in heldSlots is clear; read by the audio thread
    // only while it is set.
    struct Slot {
        std::shared_ptr<const PcmClip> clip;  // Touched by the UI thread only.
        const std::int16_t* samples = nullptr;
        std::size_t frames = 0;
        SteadyTimeNs callTimeNs = 0;
    };

    // Only the audio thread touches these.
    struct AudioSide {
        std::uint32_t soundingSlot = kNoSlot;
        std::size_t soundingPositionFrames = 0;
        std::uint32_t waitingSlot = kNoSlot;
        std::int64_t waitingStartFrame = 0;
        std::int64_t renderedFrames = 0;
        bool clockLocked = false;
        // Steady time of stream frame renderedFrames had the card run at exactly sampleRateHz
        // since the clock was locked: nominalFrameTimeNs + nominalRemainder / sampleRateHz ns.
        SteadyTimeNs nominalFrameTimeNs = 0;
        std::int64_t nominalRemainder = 0;
        // Callbacks are never early for the hardware, only late, so the earliest arrival
        // against the nominal times marks the stream's clock and the others are jitter.
        std::array<std::int64_t, kArrivalWindowCallbacks> arrivalOffsetsNs{};
        std::size_t arrivalCount = 0;
        std::size_t nextArrivalIndex = 0;
        std::int64_t clockOffsetNs = 0;
    };

    State(int rateHz, std::size_t bufferFrames)
        : sampleRateHz(std::max(rateHz, 1))
        , bufferPeriodNs(static_cast<std::int64_t>(std::max<std::size_t>(bufferFrames, 1)) *
                         kNsPerSecond / sampleRateHz)
        // One buffer period puts the start into a buffer whose callback has not yet begun when
        // the start is made; the half period absorbs the clock sitting slightly above the
        // earliest possible arrivals and the time the call takes to publish.
        , latencyNs(bufferPeriodNs * 3 / 2) {}

    void letGoAudioThread(std::uint32_t slot) noexcept {
        if (slot != kNoSlot)
            heldSlots.fetch_and(~slotBit(slot));
    }

    void trackCallbackTimeAudioThread(SteadyTimeNs nowNs) noexcept {
        AudioSide& a = audio;
        const std::int64_t offsetNs = nowNs - a.nominalFrameTimeNs;
        if (!a.clockLocked ||
            offsetNs - a.clockOffsetNs > kInterruptedStreamPeriods * bufferPeriodNs) {
            a.clockLocked = true;
            a.nominalFrameTimeNs = nowNs;
            a.nominalRemainder = 0;
            a.arrivalCount = 0;
            a.nextArrivalIndex = 0;
            recordArrivalAudioThread(0);
        } else {
            recordArrivalAudioThread(offsetNs);
        }
    }

    void recordArrivalAudioThread(std::int64_t offsetNs) noexcept {
        AudioSide& a = audio;
        a.arrivalOffsetsNs[a.nextArrivalIndex] = offsetNs;
        a.nextArrivalIndex = (a.nextArrivalIndex + 1) % kArrivalWindowCallbacks;
        a.arrivalCount = std::min(a.arrivalCount + 1, kArrivalWindowCallbacks);
        const auto window = std::span(a.arrivalOffsetsNs).first(a.arrivalCount);
        a.clockOffsetNs = *std::min_element(window.begin(), window.end());
    }

    // The stream's clock maps frame renderedFrames to nominal time plus the earliest offset.
    std::int64_t streamFrameAtAudioThread(SteadyTimeNs timeNs) const noexcept {
        const std::int64_t aheadNs = std::clamp(
                timeNs - audio.nominalFrameTimeNs - audio.clockOffsetNs, -kMaxLeadNs, kMaxLeadNs);
        return audio.renderedFrames +
               divideRoundingToNearest(aheadNs * sampleRateHz - audio.nominalRemainder,
                                       kNsPerSecond);
    }

    void takePublishedStartAudioThread() noexcept {
        const std::uint32_t taken = publishedSlot.exchange(kNoSlot);
        if (taken == kNoSlot)
            return;
        letGoAudioThread(audio.waitingSlot);
        audio.waitingSlot = taken;
        audio.waitingStartFrame = streamFrameAtAudioThread(slots[taken].callTimeNs + latencyNs);
    }

    void renderSoundingAudioThread(std::span<std::int16_t> out) noexcept {
        AudioSide& a = audio;
        std::size_t copiedFrames = 0;
        if (a.soundingSlot != kNoSlot) {
            const Slot& slot = slots[a.soundingSlot];
            copiedFrames = std::min(out.size(), slot.frames - a.soundingPositionFrames);
            std::copy_n(slot.samples + a.soundingPositionFrames, copiedFrames, out.begin());
            a.soundingPositionFrames += copiedFrames;
            if (a.soundingPositionFrames == slot.frames) {
                letGoAudioThread(a.soundingSlot);
                a.soundingSlot = kNoSlot;
            }
        }
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(copiedFrames), out.end(),
                  std::int16_t{0});
    }

    void advanceStreamAudioThread(std::size_t frames) noexcept {
        AudioSide& a = audio;
        a.renderedFrames += static_cast<std::int64_t>(frames);
        const std::int64_t scaledNs =
                static_cast<std::int64_t>(frames) * kNsPerSecond + a.nominalRemainder;
        a.nominalFrameTimeNs += scaledNs / sampleRateHz;
        a.nominalRemainder = scaledNs % sampleRateHz;
    }

    void reclaim() {
        const std::uint32_t held = heldSlots.load();
        for (std::uint32_t i = 0; i < kSlotCount; ++i) {
            if ((held & slotBit(i)) == 0 && slots[i].clip) {
                slots[i].clip.reset();
                slots[i].samples = nullptr;
                slots[i].frames = 0;
            }
        }
    }

    const std::int64_t sampleRateHz;
    const std::int64_t bufferPeriodNs;
    const SteadyTimeNs latencyNs;

    std::array<Slot, kSlotCount> slots{};
    // Set by the UI thread when it publishes a slot, cleared by whichever thread lets go of it.
    // Both atomics keep the default sequentially consistent order, so the slot count argument
    // above holds as one interleaving of the two threads.
    std::atomic<std::uint32_t> heldSlots{0};
    std::atomic<std::uint32_t> publishedSlot{kNoSlot};

    AudioSide audio;
};

ClipStream::ClipStream(int sampleRateHz, std::size_t bufferFrames)
    : state_(std::make_unique<State>(sampleRateHz, bufferFrames)) {}

ClipStream::~ClipStream() = default;

void ClipStream::start(std::shared_ptr<const PcmClip> clip, SteadyTimeNs callTimeNs) {
    State& s = *state_;
    // A start the audio thread never picked up is superseded anyway; taking it back keeps a slot
    // free however long the audio thread stays away.
    const std::uint32_t unseen = s.publishedSlot.exchange(kNoSlot);
    if (unseen != kNoSlot)
        s.heldSlots.fetch_and(~slotBit(unseen));
    s.reclaim();

    const auto freeSlot = static_cast<std::uint32_t>(std::countr_one(s.heldSlots.load()));
    assert(freeSlot < kSlotCount);
    // Unreachable by the slot count; losing a start beats overwriting a slot being read.
    if (freeSlot >= kSlotCount)
        return;
    State::Slot& slot = s.slots[freeSlot];
    slot.samples = clip ? clip->samples.data() : nullptr;
    slot.frames = clip ? clip->samples.size() : 0;
    slot.callTimeNs = callTimeNs;
    slot.clip = std::move(clip);
    s.heldSlots.fetch_or(slotBit(freeSlot));
    s.publishedSlot.store(freeSlot);
}

void ClipStream::renderAudioThread(std::span<std::int16_t> out, SteadyTimeNs nowNs) noexcept {
    State& s = *state_;
    State::AudioSide& a = s.audio;
    s.trackCallbackTimeAudioThread(nowNs);
    s.takePublishedStartAudioThread();

    std::size_t switchFrame = out.size();
    if (a.waitingSlot != kNoSlot) {
        const std::int64_t offsetFrames = a.waitingStartFrame - a.renderedFrames;
        if (offsetFrames < static_cast<std::int64_t>(out.size()))
            switchFrame = static_cast<std::size_t>(std::max<std::int64_t>(offsetFrames, 0));
    }
    s.renderSoundingAudioThread(out.first(switchFrame));
    if (switchFrame < out.size()) {
        s.letGoAudioThread(a.soundingSlot);
        a.soundingSlot = a.waitingSlot;
        a.soundingPositionFrames = 0;
        a.waitingSlot = kNoSlot;
        s.renderSoundingAudioThread(out.subspan(switchFrame));
    }
    s.advanceStreamAudioThread(out.size());
}

void ClipStream::reclaim() {
    state_->reclaim();
}

SteadyTimeNs ClipStream::fixedLatencyNs() const {
    return state_->latencyNs;
}

}  // namespace lyravox::platform
