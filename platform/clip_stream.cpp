#include "platform/clip_stream.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
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

// A heard-time report this far off the followed line is either a real move (the server ran dry
// and said nothing) or a stray report: PulseAudio's interpolated latency is off by milliseconds
// for one callback now and then, and for a few in a row on a busy machine, when timing replies
// come late. The line jumps only when kHeardJumpConfirmReports reports in a row agree on the
// move to within kHeardJumpConfirmNs, about 20 ms of sound at the usual refill size. A backend
// that knows of a move (the server reported an underrun) says so, and the line follows the next
// few reports at once.
constexpr double kHeardJumpNs = 2'000'000;
constexpr double kHeardJumpConfirmNs = 1'000'000;
constexpr int kHeardJumpConfirmReports = 4;
constexpr int kHeardReportsFollowedAfterAMove = 3;
// Smaller errors are followed, each counted at most this much, so reports that are off but under
// the jump threshold move the line by microseconds only.
constexpr double kHeardMaxFollowedErrorNs = 250'000;
// Each report pulls the followed line by this share of its error: small enough that report
// jitter of a millisecond moves clips by tens of microseconds, large enough that a server clock
// 300 ppm off steady_clock is followed within a second or two.
constexpr double kHeardLineGain = 1.0 / 64;
// ... and this share goes into the frame length, so that a steady rate offset leaves no lag
// behind (a critically damped second-order loop).
constexpr double kHeardRateGain = kHeardLineGain * kHeardLineGain / 4;
// Reports whose errors last until the server's next timing refresh (HeardTiming's
// reportRefreshNs) are followed this slowly, about 8 s at PulseAudio's 5-7.5 ms refills, so an
// error held through one refresh moves clips by a fraction of it, and errors up to
// kRefreshedMaxFollowedErrorNs count whole, so that a rate 300 ppm off is still learnt within a
// minute. When the line is found anew it is the mean of the reports so far until that mean
// moves less than this gain would. A larger error moves the line only when the backend says the
// sound moved, or after kRefreshesBeforeAnUnreportedJump refreshes of agreeing reports.
constexpr double kRefreshedLineGain = 1.0 / 1024;
// The rate follows as a line twice as quick would (an over-damped loop: the line's wander
// barely moves it, and a rate that the fit learnt slightly wrong is mended within a minute).
constexpr double kRefreshedRateGain = (2 * kRefreshedLineGain) * (2 * kRefreshedLineGain) / 4;
constexpr double kRefreshedMaxFollowedErrorNs = 3'000'000;
constexpr SteadyTimeNs kRefreshesBeforeAnUnreportedJump = 10;
// How far a start placed from the last one may be moved toward where the line puts it, and how
// far apart the two may be before the line's frame is taken (the rate was wrong).
constexpr double kChainStepNs = 100'000;
// Starts are placed from the last one only once the line has followed this many reports since it
// was found.
constexpr std::int64_t kChainSettleReports = 128;
constexpr double kChainResyncNs = 10'000'000;
// The least-squares fit that first learns the rate runs this many times the line's own span
// (about 25 s of reports): with errors held for seconds, a shorter fit learns a rate hundreds of
// ppm off.
constexpr double kRateFitLineSpans = 4;
constexpr double kRateFitMinRefreshes = 4;
// Sound cards run within a few hundred ppm of their nominal rate: a fit beyond this is the
// reports' errors.
constexpr double kMaxFittedRateOffset = 500e-6;
// Sound cards and servers run within a few hundred ppm of their nominal rate; a followed rate
// beyond this is a fault in the reports, not the card.
constexpr double kMaxRateOffset = 2000e-6;

// Keeps the frame arithmetic far from overflow for absurd call times; a start an hour away is
// as good as never.
constexpr std::int64_t kMaxLeadNs = 3600 * kNsPerSecond;

// A start that fell due while the server was gone and is already this late when a new server
// stream begins belongs to a rhythm that has moved on: heard now, it would be cut short by the
// next start of a loop, a stumble. It is dropped; later starts sound as scheduled.
constexpr SteadyTimeNs kOverdueOnNewStreamNs = 50'000'000;

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic<double>::is_always_lock_free);

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

    struct RateFit {
        bool done = false;
        // Reports fitted since the server stream began, over every restart of the fit.
        std::int64_t fittedReports = 0;
        // The frame length the fit started from: the rate the fits before it learnt.
        double baseFrameNs = 0;
        std::int64_t count = 0;
        std::int64_t fromFrame = 0;
        double fromNs = 0;
        double sumX = 0;
        double sumY = 0;
        double sumXX = 0;
        double sumXY = 0;
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
        // Heard time: when frame renderedFrames is heard, and how long a frame lasts, as
        // followed from the backend's reports.
        bool heardLocked = false;
        // Set from a new server stream's beginning until its first buffer is rendered.
        bool newServerStream = false;
        double heardLineNs = 0;
        double heardFrameNs = 0;
        std::int64_t framesSinceReport = 0;
        int jumpReports = 0;              // Large-error reports in a row that agree.
        std::int64_t jumpFirstFrame = 0;  // Where the first of them was rendered.
        int reportsToFollow = 0;
        std::int64_t reportsSinceLock = 0;
        // Refreshed reports: the least-squares fit that first learns the rate.
        RateFit rateFit;
        // Refreshed reports: the last start placed on this line, by its heard time and frame.
        bool chainValid = false;
        SteadyTimeNs chainHeardNs = 0;
        std::int64_t chainFrame = 0;
        double pendingJumpErrorNs = 0;
        // Heard time: when the waiting start's first sample is due to be heard.
        SteadyTimeNs waitingHeardNs = 0;
        // The stream frame after the last one that sounded or had a start waiting.
        std::int64_t lastActiveFrame = 0;
    };

    // Arrival time.
    State(int rateHz, std::size_t bufferFrames)
        : sampleRateHz(std::max(rateHz, 1))
        , bufferPeriodNs(static_cast<std::int64_t>(std::max<std::size_t>(bufferFrames, 1)) *
                         kNsPerSecond / sampleRateHz)
        // One buffer period puts the start into a buffer whose callback has not yet begun when
        // the start is made; the half period absorbs the clock sitting slightly above the
        // earliest possible arrivals and the time the call takes to publish.
        , latencyNs(bufferPeriodNs * 3 / 2)
        , heardTiming(false)
        , refreshedReports(false)
        , reportRefreshNs(0)
        , heardJumpNs(kHeardJumpNs)
        , heardJumpLastsNs(0)
        , heardLineMaxErrorNs(kHeardMaxFollowedErrorNs)
        , heardRateMaxErrorNs(kHeardMaxFollowedErrorNs)
        , heardLineGain(kHeardLineGain)
        , heardRateGain(kHeardRateGain) {}

    // Heard time.
    State(int rateHz, HeardTiming timing)
        : sampleRateHz(std::max(rateHz, 1))
        , bufferPeriodNs(0)
        , latencyNs(timing.heardDelayNs)
        , heardTiming(true)
        , refreshedReports(timing.reportRefreshNs > 0)
        , reportRefreshNs(std::max<SteadyTimeNs>(timing.reportRefreshNs, 0))
        , heardJumpNs(refreshedReports ? kRefreshedMaxFollowedErrorNs : kHeardJumpNs)
        , heardJumpLastsNs(
                  refreshedReports ? kRefreshesBeforeAnUnreportedJump * timing.reportRefreshNs : 0)
        , heardLineMaxErrorNs(kHeardMaxFollowedErrorNs)
        , heardRateMaxErrorNs(refreshedReports ? kRefreshedMaxFollowedErrorNs
                                               : kHeardMaxFollowedErrorNs)
        , heardLineGain(refreshedReports ? kRefreshedLineGain : kHeardLineGain)
        , heardRateGain(refreshedReports ? kRefreshedRateGain : kHeardRateGain) {}

    std::int64_t idleFrames() const { return kIdleStopSeconds * sampleRateHz; }

    void letGoAudioThread(std::uint32_t slot) noexcept {
        if (slot != kNoSlot)
            heldSlots.fetch_and(~slotBit(slot));
    }

    void trackCallbackTimeAudioThread(SteadyTimeNs nowNs) noexcept {
        AudioSide& a = audio;
        const std::int64_t offsetNs = nowNs - a.nominalFrameTimeNs;
        const bool interrupted =
                a.clockLocked &&
                offsetNs - a.clockOffsetNs > kInterruptedStreamPeriods * bufferPeriodNs;
        if (interrupted)
            lateRenders.fetch_add(1, std::memory_order_relaxed);
        if (!a.clockLocked || interrupted) {
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

    void trackHeardTimeAudioThread(SteadyTimeNs firstFrameHeardNs) noexcept {
        AudioSide& a = audio;
        const auto reportNs = static_cast<double>(firstFrameHeardNs);
        const double errorNs = reportNs - a.heardLineNs;
        const bool resumed = resumedAfterIdle.exchange(false);
        const std::int64_t framesSinceReport = a.framesSinceReport;
        a.framesSinceReport = 0;
        const bool moved = heardLineMoved.exchange(false);
        if (moved)
            a.reportsToFollow = kHeardReportsFollowedAfterAMove;
        if (!a.heardLocked || resumed || a.reportsToFollow > 0) {
            if (!a.heardLocked) {
                a.heardFrameNs =
                        static_cast<double>(kNsPerSecond) / static_cast<double>(sampleRateHz);
                a.rateFit = RateFit{};
            }
            a.heardLocked = true;
            a.heardLineNs = reportNs;
            a.chainValid = false;
            // A move (an underrun) restarts the fit from the rate learnt so far.
            if (!a.rateFit.done) {
                const std::int64_t fittedReports = a.rateFit.fittedReports;
                a.rateFit = RateFit{};
                a.rateFit.fittedReports = fittedReports;
                a.rateFit.baseFrameNs = a.heardFrameNs;
                a.rateFit.fromFrame = a.renderedFrames;
                a.rateFit.fromNs = reportNs;
            }
            a.jumpReports = 0;
            a.reportsToFollow = std::max(a.reportsToFollow - 1, 0);
            a.reportsSinceLock = 0;
            return;
        }
        ++a.reportsSinceLock;
        if (std::abs(errorNs) > heardJumpNs) {
            const bool agrees = a.jumpReports > 0 &&
                                std::abs(errorNs - a.pendingJumpErrorNs) < kHeardJumpConfirmNs;
            a.jumpReports = agrees ? a.jumpReports + 1 : 1;
            if (!agrees) {
                a.pendingJumpErrorNs = errorNs;
                a.jumpFirstFrame = a.renderedFrames;
            }
            const bool lasted = (a.renderedFrames - a.jumpFirstFrame) * kNsPerSecond >=
                                heardJumpLastsNs * sampleRateHz;
            if (a.jumpReports >= kHeardJumpConfirmReports && lasted) {
                // Sound heard later than the line said: the stream ran dry.
                if (errorNs > 0)
                    lateRenders.fetch_add(1, std::memory_order_relaxed);
                // The rate learnt so far stays.
                a.heardLineNs = reportNs;
                a.chainValid = false;
                a.jumpReports = 0;
                a.reportsSinceLock = 0;
                return;
            }
            // Ignored, unless refreshed: leaving out the reports on one side of a line that
            // lags would keep it lagging.
            if (!refreshedReports)
                return;
        } else {
            a.jumpReports = 0;
        }
        const double meanGain = 1.0 / static_cast<double>(a.reportsSinceLock + 1);
        const bool finding = refreshedReports && meanGain > heardLineGain;
        if (refreshedReports && !a.rateFit.done &&
            static_cast<double>(a.rateFit.fittedReports) * heardLineGain < kRateFitLineSpans) {
            fitRateAudioThread(errorNs);
            return;
        }
        a.rateFit.done = a.rateFit.done || refreshedReports;
        const double lineMaxErrorNs = finding ? heardRateMaxErrorNs : heardLineMaxErrorNs;
        a.heardLineNs += std::clamp(errorNs, -lineMaxErrorNs, lineMaxErrorNs) *
                         (finding ? meanGain : heardLineGain);
        const double nominalFrameNs =
                static_cast<double>(kNsPerSecond) / static_cast<double>(sampleRateHz);
        const double rateErrorNs = std::clamp(errorNs, -heardRateMaxErrorNs, heardRateMaxErrorNs);
        // Refreshed reports wander by hundreds of ppm over a minute (through PipeWire's pulse
        // layer the loop ran off to the 2000 ppm bound): held within what a card can be off.
        const double maxRateOffset = refreshedReports ? kMaxFittedRateOffset : kMaxRateOffset;
        if (framesSinceReport > 0)
            a.heardFrameNs = std::clamp(
                    a.heardFrameNs +
                            rateErrorNs * heardRateGain / static_cast<double>(framesSinceReport),
                    nominalFrameNs * (1 - maxRateOffset), nominalFrameNs * (1 + maxRateOffset));
    }

    // Refreshed reports: a start is placed by the followed rate from the last start placed,
    // moved toward where the line puts it by at most kChainStepNs, so the line's wander (a
    // millisecond or so on a busy server) reaches the rhythm only a little at a time.
    std::int64_t startFrameAudioThread(SteadyTimeNs heardNs) const noexcept {
        const AudioSide& a = audio;
        const std::int64_t lined = heardFrameAtAudioThread(heardNs);
        if (!refreshedReports || !a.chainValid)
            return lined;
        const double sinceNs =
                std::clamp(static_cast<double>(heardNs - a.chainHeardNs),
                           -static_cast<double>(kMaxLeadNs), static_cast<double>(kMaxLeadNs));
        const std::int64_t chained = a.chainFrame + std::llround(sinceNs / a.heardFrameNs);
        const auto apartFrames = static_cast<double>(lined - chained);
        if (std::abs(apartFrames) * a.heardFrameNs > kChainResyncNs)
            return lined;
        const double stepFrames = kChainStepNs / a.heardFrameNs;
        return chained + std::llround(std::clamp(apartFrames, -stepFrames, stepFrames));
    }

    void placedStartAudioThread(std::int64_t frame) noexcept {
        // Not from a line just found again (after an underrun its first reports are off by
        // milliseconds): the starts after would carry that.
        if (audio.reportsSinceLock < kChainSettleReports) {
            audio.chainValid = false;
            return;
        }
        audio.chainValid = true;
        audio.chainHeardNs = audio.waitingHeardNs;
        audio.chainFrame = frame;
    }

    // Refreshed reports, until the rate is first learnt on a server stream: line and rate are
    // the least-squares fit of the reports so far, clamped where the rate is absurd.
    void fitRateAudioThread(double errorNs) noexcept {
        AudioSide& a = audio;
        RateFit& f = a.rateFit;
        const double nominalFrameNs =
                static_cast<double>(kNsPerSecond) / static_cast<double>(sampleRateHz);
        const auto x = static_cast<double>(a.renderedFrames - f.fromFrame);
        // A report far off counts as only so far off, as for the line itself.
        const double y = a.heardLineNs - f.fromNs - x * f.baseFrameNs +
                         std::clamp(errorNs, -heardRateMaxErrorNs, heardRateMaxErrorNs);
        ++f.count;
        ++f.fittedReports;
        f.sumX += x;
        f.sumY += y;
        f.sumXX += x * x;
        f.sumXY += x * y;
        const auto n = static_cast<double>(f.count);
        const double spread = n * f.sumXX - f.sumX * f.sumX;
        // Over a few refreshes the slope is mostly the refreshes' errors: the nominal rate is
        // nearer until the fit is longer, and the fit's slope is then taken in gradually, so
        // that the line does not leap when it is.
        const double refreshes = x * nominalFrameNs / static_cast<double>(reportRefreshNs);
        const double weight =
                std::clamp((refreshes - kRateFitMinRefreshes) / kRateFitMinRefreshes, 0.0, 1.0);
        double slope = 0;
        if (weight > 0 && spread > 0)
            slope = weight * ((n * f.sumXY - f.sumX * f.sumY) / spread);
        const double offset = (f.sumY - slope * f.sumX) / n;
        a.heardFrameNs =
                std::clamp(f.baseFrameNs + slope, nominalFrameNs * (1 - kMaxFittedRateOffset),
                           nominalFrameNs * (1 + kMaxFittedRateOffset));
        a.heardLineNs = f.fromNs + offset + x * a.heardFrameNs;
    }

    std::int64_t heardFrameAtAudioThread(SteadyTimeNs heardNs) const noexcept {
        const double aheadNs =
                std::clamp(static_cast<double>(heardNs) - audio.heardLineNs,
                           -static_cast<double>(kMaxLeadNs), static_cast<double>(kMaxLeadNs));
        return audio.renderedFrames + std::llround(aheadNs / audio.heardFrameNs);
    }

    void takePublishedStartAudioThread() noexcept {
        const std::uint32_t taken = publishedSlot.exchange(kNoSlot);
        if (taken == kNoSlot)
            return;
        letGoAudioThread(audio.waitingSlot);
        audio.waitingSlot = taken;
        audio.waitingHeardNs = slots[taken].callTimeNs + latencyNs;
        if (!heardTiming)
            audio.waitingStartFrame = streamFrameAtAudioThread(audio.waitingHeardNs);
    }

    void renderAudioThread(std::span<std::int16_t> out) noexcept;

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
        if (heardTiming) {
            a.heardLineNs += static_cast<double>(frames) * a.heardFrameNs;
            a.framesSinceReport += static_cast<std::int64_t>(frames);
        }
        if (a.soundingSlot != kNoSlot || a.waitingSlot != kNoSlot)
            a.lastActiveFrame = a.renderedFrames;
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
    const bool heardTiming;
    // How the heard line follows the reports (see the constants above).
    const bool refreshedReports;
    const SteadyTimeNs reportRefreshNs;
    const double heardJumpNs;
    const SteadyTimeNs heardJumpLastsNs;
    const double heardLineMaxErrorNs;
    const double heardRateMaxErrorNs;
    const double heardLineGain;
    const double heardRateGain;

    std::array<Slot, kSlotCount> slots{};
    // Set by the UI thread when it publishes a slot, cleared by whichever thread lets go of it.
    // Both atomics keep the default sequentially consistent order, so the slot count argument
    // above holds as one interleaving of the two threads.
    std::atomic<std::uint32_t> heldSlots{0};
    std::atomic<std::uint32_t> publishedSlot{kNoSlot};
    // Set by the stream's thread while its stream is stopped for idle; read by start(). With
    // publishedSlot it makes a Dekker pair (both sequentially consistent): a start either is seen
    // by enterIdleStop() or sees the flag and wakes the stream.
    std::atomic<bool> stoppedForIdle{false};
    std::atomic<bool> resumedAfterIdle{false};
    std::atomic<bool> heardLineMoved{false};
    std::atomic<std::uint64_t> lateRenders{0};
    std::atomic<std::uint64_t> lateStarts{0};
    // The followed frame length over the nominal one, for the UI thread to time rests by.
    std::atomic<double> soundSecondRatio{1.0};

    AudioSide audio;
};

void ClipStream::State::renderAudioThread(std::span<std::int16_t> out) noexcept {
    AudioSide& a = audio;
    takePublishedStartAudioThread();

    std::size_t switchFrame = out.size();
    if (a.waitingSlot != kNoSlot) {
        const std::int64_t startFrame =
                heardTiming ? startFrameAudioThread(a.waitingHeardNs) : a.waitingStartFrame;
        const std::int64_t offsetFrames = startFrame - a.renderedFrames;
        if (a.newServerStream &&
            -offsetFrames * kNsPerSecond > kOverdueOnNewStreamNs * sampleRateHz) {
            letGoAudioThread(a.waitingSlot);
            a.waitingSlot = kNoSlot;
        } else if (offsetFrames < static_cast<std::int64_t>(out.size())) {
            switchFrame = static_cast<std::size_t>(std::max<std::int64_t>(offsetFrames, 0));
            if (offsetFrames < 0)
                lateStarts.fetch_add(1, std::memory_order_relaxed);
            else if (heardTiming)
                placedStartAudioThread(startFrame);
        }
    }
    renderSoundingAudioThread(out.first(switchFrame));
    if (switchFrame < out.size()) {
        letGoAudioThread(a.soundingSlot);
        a.soundingSlot = a.waitingSlot;
        a.soundingPositionFrames = 0;
        a.waitingSlot = kNoSlot;
        renderSoundingAudioThread(out.subspan(switchFrame));
    }
    a.newServerStream = false;
    advanceStreamAudioThread(out.size());
}

ClipStream::ClipStream(int sampleRateHz, std::size_t bufferFrames)
    : state_(std::make_unique<State>(sampleRateHz, bufferFrames)) {}

ClipStream::ClipStream(int sampleRateHz, HeardTiming timing)
    : state_(std::make_unique<State>(sampleRateHz, timing)) {}

ClipStream::~ClipStream() = default;

bool ClipStream::start(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) {
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
        return false;
    State::Slot& slot = s.slots[freeSlot];
    slot.samples = clip ? clip->samples.data() : nullptr;
    slot.frames = clip ? clip->samples.size() : 0;
    slot.callTimeNs = startTimeNs;
    slot.clip = std::move(clip);
    s.heldSlots.fetch_or(slotBit(freeSlot));
    s.publishedSlot.store(freeSlot);
    return s.stoppedForIdle.load();
}

void ClipStream::renderAudioThread(std::span<std::int16_t> out, SteadyTimeNs nowNs) noexcept {
    State& s = *state_;
    assert(!s.heardTiming);
    s.trackCallbackTimeAudioThread(nowNs);
    s.renderAudioThread(out);
}

void ClipStream::renderHeardAudioThread(std::span<std::int16_t> out,
                                        SteadyTimeNs firstFrameHeardNs) noexcept {
    State& s = *state_;
    assert(s.heardTiming);
    s.trackHeardTimeAudioThread(firstFrameHeardNs);
    s.soundSecondRatio.store(s.audio.heardFrameNs * static_cast<double>(s.sampleRateHz) /
                                     static_cast<double>(kNsPerSecond),
                             std::memory_order_relaxed);
    s.renderAudioThread(out);
}

void ClipStream::renderOnLineAudioThread(std::span<std::int16_t> out) noexcept {
    State& s = *state_;
    assert(s.heardTiming && s.audio.heardLocked);
    s.renderAudioThread(out);
}

void ClipStream::heardLineMovedAudioThread() noexcept {
    state_->heardLineMoved.store(true);
}

void ClipStream::beginNewServerStreamAudioThread() noexcept {
    State& s = *state_;
    s.letGoAudioThread(s.audio.soundingSlot);
    s.audio.soundingSlot = kNoSlot;
    s.audio.soundingPositionFrames = 0;
    s.audio.clockLocked = false;
    s.audio.heardLocked = false;
    s.audio.newServerStream = true;
}

bool ClipStream::idleAudioThread() const noexcept {
    const State& s = *state_;
    const State::AudioSide& a = s.audio;
    return a.soundingSlot == kNoSlot && a.waitingSlot == kNoSlot &&
           s.publishedSlot.load() == kNoSlot &&
           a.renderedFrames - a.lastActiveFrame >= s.idleFrames();
}

bool ClipStream::enterIdleStop() noexcept {
    State& s = *state_;
    s.stoppedForIdle.store(true);
    if (s.publishedSlot.load() != kNoSlot) {
        s.stoppedForIdle.store(false);
        return false;
    }
    return true;
}

void ClipStream::leaveIdleStop() noexcept {
    State& s = *state_;
    if (s.stoppedForIdle.exchange(false))
        s.resumedAfterIdle.store(true);
}

bool ClipStream::idleStopped() const noexcept {
    return state_->stoppedForIdle.load();
}

std::uint64_t ClipStream::lateRenderCount() const noexcept {
    return state_->lateRenders.load(std::memory_order_relaxed);
}

double ClipStream::steadySecondsPerSoundSecond() const noexcept {
    return state_->soundSecondRatio.load(std::memory_order_relaxed);
}

std::uint64_t ClipStream::lateStartCount() const noexcept {
    return state_->lateStarts.load(std::memory_order_relaxed);
}

void ClipStream::reclaim() {
    state_->reclaim();
}

SteadyTimeNs ClipStream::fixedLatencyNs() const {
    return state_->latencyNs;
}

}  // namespace lyravox::platform
