#pragma once

// The dropout loop the sound-server benchmarks share: clips longer than the short rest, so that
// starts a rest apart keep the sink sounding without a gap and every missing frame shows, each
// opened by a marker sample no clip body holds. A hole is a run of frames inside a clip (after
// its marker, before the next clip's marker or its own end) that differs from the clip's body.

#include "platform/output_headroom.h"
#include "platform/pcm_clip.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <time.h>
#include <vector>

namespace lyravox::bench {

constexpr int kDropoutRateHz = 44100;
// 1.2 s: the next start, a second later, cuts each clip short.
constexpr std::size_t kDropoutClipFrames = kDropoutRateHz * 6 / 5;
constexpr std::int16_t kDropoutBodySample = 1000;
constexpr int kDropoutFirstMarker = 30'000;
constexpr int kDropoutMarkerCount = 8;
// Default length of the loop, short so that `make bench` stays quick; the 10-minute figure is
// run by hand with LYRAVOX_BENCH_DROPOUT_SECONDS=600.
constexpr int kDefaultDropoutSeconds = 20;

// The loop's length: LYRAVOX_BENCH_DROPOUT_SECONDS, else the default; a value that is not a
// whole number of seconds from 1 to 7200 is refused by name.
inline int dropoutSeconds(const char* program) {
    const char* text = std::getenv("LYRAVOX_BENCH_DROPOUT_SECONDS");
    if (text == nullptr || *text == '\0')
        return kDefaultDropoutSeconds;
    const std::string_view value(text);
    int seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size() || seconds < 1 ||
        seconds > 7200) {
        std::fprintf(stderr,
                     "%s: LYRAVOX_BENCH_DROPOUT_SECONDS must be a whole number of seconds from 1 "
                     "to 7200, not \"%s\"\n",
                     program, text);
        std::exit(2);
    }
    return seconds;
}

inline std::vector<std::shared_ptr<const platform::PcmClip>> dropoutClips() {
    std::vector<std::shared_ptr<const platform::PcmClip>> clips;
    for (int i = 0; i < kDropoutMarkerCount; ++i) {
        auto clip = std::make_shared<platform::PcmClip>();
        clip->samples.assign(kDropoutClipFrames, kDropoutBodySample);
        clip->samples[0] = static_cast<std::int16_t>(kDropoutFirstMarker + i);
        clips.push_back(std::move(clip));
    }
    return clips;
}

struct DropoutCount {
    int clipsHeard = 0;
    int clipsWithHoles = 0;
    int holes = 0;
    std::int64_t missingFrames = 0;
    // Where each hole begins, in frames of the recording.
    std::vector<std::size_t> holeFrames;
};

// `withHeadroom`: the output scales its samples (the native outputs do), so the body and
// markers are looked for as scaled.
inline DropoutCount countDropouts(std::span<const std::int16_t> heard, bool withHeadroom) {
    const auto sent = [withHeadroom](int value) {
        std::int16_t sample = static_cast<std::int16_t>(value);
        if (withHeadroom)
            platform::applyOutputHeadroomAudioThread(std::span(&sample, 1));
        return sample;
    };
    const std::int16_t body = sent(kDropoutBodySample);
    std::vector<bool> isMarker(32768, false);
    for (int i = 0; i < kDropoutMarkerCount; ++i)
        isMarker[static_cast<std::size_t>(sent(kDropoutFirstMarker + i))] = true;
    const auto markerAt = [&](std::size_t frame) {
        return heard[frame] > 0 && isMarker[static_cast<std::size_t>(heard[frame])];
    };

    DropoutCount count;
    std::size_t frame = 0;
    while (frame < heard.size() && !markerAt(frame))
        ++frame;
    while (frame < heard.size()) {
        const std::size_t end = std::min(heard.size(), frame + kDropoutClipFrames);
        ++count.clipsHeard;
        int holes = 0;
        bool inHole = false;
        std::size_t next = frame + 1;
        for (; next < end && !markerAt(next); ++next) {
            const bool missing = heard[next] != body;
            if (missing && !inHole)
                count.holeFrames.push_back(next);
            count.missingFrames += missing;
            holes += missing && !inHole;
            inHole = missing;
        }
        // A clip whose end was not recorded, or that the next marker cut, is judged on what
        // was heard of it; the silence after the last clip is not a hole.
        count.holes += holes;
        count.clipsWithHoles += holes > 0;
        frame = next;
        while (frame < heard.size() && !markerAt(frame))
            ++frame;
    }
    return count;
}

// How far the machine itself stalls: on each core a thread at the highest real-time priority
// (where allowed), held to that core, wakes every millisecond and notes each wake-up that came
// late by more than kStallNs. A stall that keeps even such a thread from running for tens of
// milliseconds (a host that throttles or deschedules a virtual core) stops whatever sound
// thread runs there as well, and no buffer or priority of the output's own covers it: a hole
// heard during one is the machine's, not the output's. One probe per core, because a host may
// hold up one virtual core while the other runs on.
class MachineStallProbe {
public:
    static constexpr std::int64_t kStallNs = 3'000'000;
    // A hole whose heard time lies this near a stall is counted as the stall's: the graph cycle
    // a hole is timed by begins just before the stall that empties it.
    static constexpr std::int64_t kNearNs = 30'000'000;

    struct Stall {
        std::int64_t beganNs;
        std::int64_t lengthNs;
    };

    MachineStallProbe() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        perCore_.resize(cores);
        for (unsigned core = 0; core < cores; ++core) {
            perCore_[core].reserve(100'000);
            threads_.emplace_back([this, core] { run(core); });
        }
    }
    ~MachineStallProbe() { stop(); }
    MachineStallProbe(const MachineStallProbe&) = delete;
    MachineStallProbe& operator=(const MachineStallProbe&) = delete;

    void stop() {
        running_.store(false);
        for (std::thread& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
        if (stalls_.empty()) {
            for (const std::vector<Stall>& core : perCore_)
                stalls_.insert(stalls_.end(), core.begin(), core.end());
        }
    }
    // After stop(): every core's stalls.
    const std::vector<Stall>& stalls() const { return stalls_; }
    std::int64_t longestNs() const {
        std::int64_t longest = 0;
        for (const Stall& stall : stalls_)
            longest = std::max(longest, stall.lengthNs);
        return longest;
    }
    bool near(std::int64_t timeNs) const {
        return std::any_of(stalls_.begin(), stalls_.end(), [timeNs](const Stall& stall) {
            return timeNs >= stall.beganNs - kNearNs &&
                   timeNs <= stall.beganNs + stall.lengthNs + kNearNs;
        });
    }

private:
    static std::int64_t nowNs() {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    void run(unsigned core) {
        cpu_set_t cpus;
        CPU_ZERO(&cpus);
        CPU_SET(core, &cpus);
        static_cast<void>(::pthread_setaffinity_np(::pthread_self(), sizeof(cpus), &cpus));
        sched_param parameters{};
        parameters.sched_priority = ::sched_get_priority_max(SCHED_FIFO);
        static_cast<void>(::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &parameters));
        std::vector<Stall>& stalls = perCore_[core];
        std::int64_t dueNs = nowNs() + 1'000'000;
        while (running_.load(std::memory_order_relaxed)) {
            const timespec due{static_cast<time_t>(dueNs / 1'000'000'000),
                               static_cast<long>(dueNs % 1'000'000'000)};
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
            const std::int64_t wokeNs = nowNs();
            if (wokeNs - dueNs > kStallNs && stalls.size() < stalls.capacity())
                stalls.push_back({dueNs, wokeNs - dueNs});
            dueNs = std::max(dueNs + 1'000'000, wokeNs + 500'000);
        }
    }

    std::atomic<bool> running_{true};
    std::vector<std::vector<Stall>> perCore_;  // each written by its own probe thread only
    std::vector<Stall> stalls_;
    std::vector<std::thread> threads_;
};

// Prints the loop's holes beside the machine's stalls, as `<prefix>holes` and so on: each hole is
// held against the stalls at its heard time, heardNsOfFrame(frame of the recording) on the
// steady clock. After stalls.stop().
template <typename HeardNsOfFrame>
void printDropouts(const std::string& prefix, double minutes, const DropoutCount& count,
                   const MachineStallProbe& stalls, HeardNsOfFrame heardNsOfFrame) {
    const auto holesInStalls =
            std::count_if(count.holeFrames.begin(), count.holeFrames.end(),
                          [&](std::size_t frame) { return stalls.near(heardNsOfFrame(frame)); });
    const char* l = prefix.c_str();
    std::printf("%sminutes %.2f min\n", l, minutes);
    std::printf("%sclips_heard %d clips\n", l, count.clipsHeard);
    std::printf("%sclips_with_holes %d clips\n", l, count.clipsWithHoles);
    std::printf("%sholes %d holes\n", l, count.holes);
    std::printf("%smissing_frames %lld frames\n", l, static_cast<long long>(count.missingFrames));
    std::printf("%sholes_outside_machine_stalls %td holes\n", l,
                static_cast<std::ptrdiff_t>(count.holeFrames.size()) - holesInStalls);
    std::printf("%smachine_stalls_over_3ms %zu stalls\n", l, stalls.stalls().size());
    std::printf("%smachine_stall_max %.1f ms\n", l, static_cast<double>(stalls.longestNs()) / 1e6);
}

}  // namespace lyravox::bench
