#include "tools/pipewire_harness/sink_capture.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <pipewire/pipewire.h>
#include <pthread.h>
#include <sched.h>
#include <spa/param/audio/format-utils.h>
#include <span>
#include <thread>

namespace lyravox::test {
namespace {

constexpr int kRateHz = 44100;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

struct Cycle {
    std::uint64_t firstFrame;
    std::int64_t heardNs;
};

}  // namespace

struct SinkCapture::State {
    explicit State(std::size_t capacity) : frames(capacity, 0), cycles(capacity / 32 + 16) {}

    static void onProcess(void* data);

    std::vector<std::int16_t> frames;
    std::vector<Cycle> cycles;
    std::atomic<std::size_t> cycleCount{0};
    std::atomic<std::size_t> frameEnd{0};
    std::atomic<std::uint64_t> missed{0};
    bool realTimeTried = false;
    bool haveOrigin = false;
    std::uint64_t originTicks = 0;
    std::uint64_t expectedTicks = 0;

    pw_thread_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    pw_stream_events events{};
};

void SinkCapture::State::onProcess(void* data) {
    auto* s = static_cast<State*>(data);
    if (!s->realTimeTried) {
        // A capture that misses cycles on a busy machine would read as dropouts of the sound
        // under test; as root (the tests' machines) this always succeeds.
        s->realTimeTried = true;
        sched_param param{};
        param.sched_priority = 50;
        static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param));
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(s->stream);
    if (buffer == nullptr)
        return;
    const spa_data& in = buffer->buffer->datas[0];
    pw_time time{};
    pw_stream_get_time_n(s->stream, &time, sizeof time);
    if (in.data != nullptr && in.chunk != nullptr) {
        const std::size_t count = in.chunk->size / sizeof(std::int16_t);
        if (!s->haveOrigin) {
            s->haveOrigin = true;
            s->originTicks = time.ticks;
            s->expectedTicks = time.ticks;
        }
        if (time.ticks > s->expectedTicks)
            s->missed.fetch_add(1, std::memory_order_relaxed);
        s->expectedTicks = time.ticks + count;
        const std::uint64_t first = time.ticks - s->originTicks;
        if (first + count <= s->frames.size()) {
            std::memcpy(s->frames.data() + first,
                        static_cast<const std::uint8_t*>(in.data) + in.chunk->offset,
                        count * sizeof(std::int16_t));
            const std::size_t cycle = s->cycleCount.load(std::memory_order_relaxed);
            if (cycle < s->cycles.size()) {
                s->cycles[cycle] = {first, time.now};
                s->cycleCount.store(cycle + 1, std::memory_order_release);
            }
            s->frameEnd.store(first + count, std::memory_order_release);
        }
    }
    pw_stream_queue_buffer(s->stream, buffer);
}

SinkCapture::SinkCapture(std::size_t capacityFrames)
    : state_(std::make_unique<State>(capacityFrames)) {
    pw_init(nullptr, nullptr);
    State& s = *state_;
    s.loop = pw_thread_loop_new("sink-capture", nullptr);
    s.events.version = PW_VERSION_STREAM_EVENTS;
    s.events.process = State::onProcess;
    pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
            "Music", PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, "test_null",
            // The native output's own cycle, so the graph runs at it before the output joins and
            // a 256-frame output still sets a shorter one.
            PW_KEY_NODE_LATENCY, "512/44100", nullptr);
    s.stream = pw_stream_new_simple(pw_thread_loop_get_loop(s.loop), "sink-capture", props,
                                    &s.events, &s);
    std::array<std::uint8_t, 1024> podBuffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer.data(), static_cast<uint32_t>(podBuffer.size()));
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = kRateHz;
    format.channels = 1;
    format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    pw_stream_connect(s.stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                   PW_STREAM_FLAG_MAP_BUFFERS |
                                                   PW_STREAM_FLAG_RT_PROCESS),
                      params, 1);
    pw_thread_loop_start(s.loop);
}

SinkCapture::~SinkCapture() {
    stop();
    State& s = *state_;
    if (s.stream != nullptr)
        pw_stream_destroy(s.stream);
    pw_thread_loop_destroy(s.loop);
}

void SinkCapture::stop() {
    pw_thread_loop_stop(state_->loop);
}

bool SinkCapture::waitUntilRecording() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (state_->cycleCount.load(std::memory_order_acquire) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::int16_t> SinkCapture::samples() const {
    const std::size_t end = state_->frameEnd.load(std::memory_order_acquire);
    return {state_->frames.begin(), state_->frames.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::int64_t SinkCapture::heardTimeNs(std::size_t frame) const {
    const std::size_t count = state_->cycleCount.load(std::memory_order_acquire);
    const auto cycles = std::span(state_->cycles).first(count);
    const auto after =
            std::upper_bound(cycles.begin(), cycles.end(), frame,
                             [](std::size_t f, const Cycle& c) { return f < c.firstFrame; });
    if (after == cycles.begin())
        return -1;
    const Cycle& cycle = *(after - 1);
    return cycle.heardNs +
           static_cast<std::int64_t>(frame - cycle.firstFrame) * kNsPerSecond / kRateHz;
}

std::uint64_t SinkCapture::missedCycles() const {
    return state_->missed.load(std::memory_order_relaxed);
}

}  // namespace lyravox::test
