#pragma once

// What the tests against a private sound server share: a watchdog that turns a hang into a
// failure, clips that cannot pass for one another or for silence, and a look at a recording.

#include "platform/pcm_clip.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace lyravox::platform {

// Polls `done` until it holds or `limit` has passed: for states the output reaches on its own
// threads.
inline bool waitFor(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A hang must fail the test, not stall ctest until its timeout: past the deadline the process
// reports where it was stuck and exits. The servers stop by themselves when it does.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit) : thread_([this, limit] { watch(limit); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void stage(const char* what) { stage_.store(what); }

private:
    void watch(std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, limit, [this] { return done_; }))
            return;
        std::fprintf(stderr, "hung for %llds while: %s\n", static_cast<long long>(limit.count()),
                     stage_.load());
        std::_Exit(EXIT_FAILURE);
    }

    std::atomic<const char*> stage_{"starting"};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Never zero, so silence in a recording cannot pass for a clip; magnitudes within
// [minMagnitude, minMagnitude + 8000) so that clips built with ranges apart cannot pass for each
// other either. Noise, so a shifted, dropped or repeated sample shows.
inline std::shared_ptr<const PcmClip> noiseClip(std::uint32_t seed, int minMagnitude,
                                                std::size_t frames) {
    auto clip = std::make_shared<PcmClip>();
    clip->samples.reserve(frames);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const int magnitude = minMagnitude + static_cast<int>((state >> 8) % 8000);
        clip->samples.push_back(
                static_cast<std::int16_t>((state >> 31) != 0 ? -magnitude : magnitude));
    }
    return clip;
}

struct Sound {
    std::vector<std::int16_t> samples;   // The recording with its silence left out.
    std::size_t silentFramesInside = 0;  // Between the first and last sound: dropouts.
};

inline Sound soundOf(const std::vector<std::int16_t>& recording) {
    Sound sound;
    std::size_t silentRun = 0;
    for (std::int16_t sample : recording) {
        if (sample == 0) {
            ++silentRun;
            continue;
        }
        if (!sound.samples.empty())
            sound.silentFramesInside += silentRun;
        silentRun = 0;
        sound.samples.push_back(sample);
    }
    return sound;
}

inline std::size_t commonPrefixFrames(std::span<const std::int16_t> a,
                                      std::span<const std::int16_t> b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                                    a.begin());
}

}  // namespace lyravox::platform
