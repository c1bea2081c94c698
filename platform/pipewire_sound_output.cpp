#include "platform/pipewire_sound_output.h"

#include "platform/clip_stream.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <pipewire/pipewire.h>
#include <pthread.h>
#include <sched.h>
#include <spa/param/audio/format-utils.h>
#include <span>
#include <string>

namespace lyravox::platform {
namespace {

constexpr int kStreamRateHz = 44100;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// The largest buffer a graph cycle asks of this stream: PipeWire's largest quantum (8192 at
// 48 kHz) in 44100 Hz frames, with room for the resampler's rate adjustments.
constexpr std::size_t kMaxBufferFrames = 8192;
// A daemon that went away is looked for this often, so a restarted one is found well within
// two seconds while a machine without one sees four wake-ups a second at most.
constexpr std::int64_t kReconnectIntervalNs = 250'000'000;
// Under the priority PipeWire's own daemon runs at, so the graph's driver comes first.
constexpr int kDataThreadRealTimePriority = 60;

// Headroom so resampling full-scale clips to 48 kHz never overshoots full scale: 0.970.
constexpr std::int32_t kHeadroomQ15 = 31785;

SteadyTimeNs steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

void libraryInitOnce() {
    // pw_init is reference counted and cheap after the first call; the library stays loaded.
    static const bool initialised = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    static_cast<void>(initialised);
}

timespec timespecOfNs(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}

}  // namespace

struct PipeWireSoundOutput::Connection {
    explicit Connection(Options chosen)
        : options(chosen)
        , clips(kStreamRateHz, chosen.quantumFrames)
        , idleAfterFrames(
                  std::chrono::duration_cast<std::chrono::milliseconds>(chosen.idleAfter).count() *
                  kStreamRateHz / 1000) {}
    ~Connection();

    // Loop thread (or the UI thread before the loop thread runs).
    bool connectCore();
    void disconnectCore();
    void scheduleReconnect(std::int64_t afterNs);
    void applyWantedActivity();

    // Data thread.
    void processAudioThread() noexcept;

    // PipeWire's callbacks.
    static void onProcess(void* data) { static_cast<Connection*>(data)->processAudioThread(); }
    static void onStreamStateChanged(void* data, pw_stream_state, pw_stream_state state,
                                     const char*);
    static void onCoreError(void* data, uint32_t id, int seq, int res, const char* message);
    static void onWake(void* data, uint64_t count);
    static void onReconnectTimer(void* data, uint64_t expirations);

    const Options options;
    ClipStream clips;
    const std::int64_t idleAfterFrames;

    pw_thread_loop* threadLoop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook coreListener{};
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    spa_source* wakeEvent = nullptr;
    spa_source* reconnectTimer = nullptr;
    pw_stream_events streamEvents{};
    pw_core_events coreEvents{};

    // Counted up by the UI thread at every start; the data thread reports the serial it has
    // been silent under for idleAfter, and the loop thread idles the stream only while no newer
    // start has come. `active` is cleared before that check and read by the UI thread after its
    // count, so either the loop thread sees the new start or the UI thread sees the stream idle
    // and wakes it.
    std::atomic<std::uint64_t> startSerial{0};
    std::atomic<std::uint64_t> idleSerial{0};
    std::atomic<bool> active{false};
    // Counted up by the loop thread whenever the stream begins to run, so the data thread does
    // not take the pause before it for missed cycles.
    std::atomic<std::uint64_t> activations{0};
    std::atomic<bool> connected{false};
    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint32_t> lastBufferFrames{0};
    std::atomic<std::int64_t> lastDelayNs{0};

    // Only the data thread touches these.
    struct DataSide {
        std::array<std::int16_t, kMaxBufferFrames> scratch{};
        std::uint64_t seenSerial = 0;
        std::int64_t silentFrames = 0;
        bool idleReported = false;
        bool realTimeTried = false;
        std::uint64_t seenActivation = 0;
        bool haveTicks = false;
        std::uint64_t lastTicks = 0;
        std::uint64_t lastCycleTicks = 0;
    } data;
};

PipeWireSoundOutput::Connection::~Connection() {
    if (threadLoop != nullptr)
        pw_thread_loop_stop(threadLoop);
    disconnectCore();
    if (threadLoop != nullptr) {
        pw_loop* loop = pw_thread_loop_get_loop(threadLoop);
        if (wakeEvent != nullptr)
            pw_loop_destroy_source(loop, wakeEvent);
        if (reconnectTimer != nullptr)
            pw_loop_destroy_source(loop, reconnectTimer);
    }
    if (context != nullptr)
        pw_context_destroy(context);
    if (threadLoop != nullptr)
        pw_thread_loop_destroy(threadLoop);
}

bool PipeWireSoundOutput::Connection::connectCore() {
    core = pw_context_connect(context, nullptr, 0);
    if (core == nullptr)
        return false;
    coreEvents.version = PW_VERSION_CORE_EVENTS;
    coreEvents.error = onCoreError;
    pw_core_add_listener(core, &coreListener, &coreEvents, this);

    const std::string latency =
            std::to_string(options.quantumFrames) + "/" + std::to_string(kStreamRateHz);
    pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
            "Music", PW_KEY_APP_NAME, "Lyravox", PW_KEY_NODE_NAME, "lyravox",
            PW_KEY_NODE_DESCRIPTION, "Lyravox", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    stream = pw_stream_new(core, "Lyravox", props);
    if (stream == nullptr) {
        disconnectCore();
        return false;
    }
    streamEvents.version = PW_VERSION_STREAM_EVENTS;
    streamEvents.state_changed = onStreamStateChanged;
    streamEvents.process = onProcess;
    pw_stream_add_listener(stream, &streamListener, &streamEvents, this);

    std::array<std::uint8_t, 1024> podBuffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer.data(), static_cast<uint32_t>(podBuffer.size()));
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = kStreamRateHz;
    format.channels = 1;
    format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};

    // Started inactive unless something is to be heard, so a daemon with nothing to play can
    // suspend its sink at once.
    active.store(startSerial.load() != idleSerial.load());
    activations.fetch_add(1);
    auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (!active.load())
        flags = static_cast<pw_stream_flags>(flags | PW_STREAM_FLAG_INACTIVE);
    if (pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        disconnectCore();
        return false;
    }
    connected.store(true);
    return true;
}

void PipeWireSoundOutput::Connection::disconnectCore() {
    connected.store(false);
    if (stream != nullptr) {
        spa_hook_remove(&streamListener);
        pw_stream_destroy(stream);
        stream = nullptr;
    }
    if (core != nullptr) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
}

void PipeWireSoundOutput::Connection::scheduleReconnect(std::int64_t afterNs) {
    timespec value = timespecOfNs(afterNs);
    pw_loop_update_timer(pw_thread_loop_get_loop(threadLoop), reconnectTimer, &value, nullptr,
                         false);
}

void PipeWireSoundOutput::Connection::applyWantedActivity() {
    if (stream == nullptr)
        return;
    const std::uint64_t idleUnder = idleSerial.load();
    if (active.load()) {
        if (startSerial.load() != idleUnder)
            return;
        active.store(false);
        if (startSerial.load() != idleUnder) {
            active.store(true);
            return;
        }
        pw_stream_set_active(stream, false);
    } else if (startSerial.load() != idleUnder) {
        active.store(true);
        activations.fetch_add(1);
        pw_stream_set_active(stream, true);
    }
}

void PipeWireSoundOutput::Connection::onStreamStateChanged(void* data, pw_stream_state,
                                                           pw_stream_state state, const char*) {
    auto* self = static_cast<Connection*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        self->scheduleReconnect(1);
}

void PipeWireSoundOutput::Connection::onCoreError(void* data, uint32_t id, int, int res,
                                                  const char*) {
    // The core's own error with EPIPE is the daemon gone; other errors concern single objects.
    if (id == PW_ID_CORE && res == -EPIPE)
        static_cast<Connection*>(data)->scheduleReconnect(1);
}

void PipeWireSoundOutput::Connection::onWake(void* data, uint64_t) {
    static_cast<Connection*>(data)->applyWantedActivity();
}

void PipeWireSoundOutput::Connection::onReconnectTimer(void* data, uint64_t) {
    auto* self = static_cast<Connection*>(data);
    self->disconnectCore();
    if (!self->connectCore())
        self->scheduleReconnect(kReconnectIntervalNs);
}

void PipeWireSoundOutput::Connection::processAudioThread() noexcept {
    DataSide& d = data;
    if (!d.realTimeTried) {
        // Where the system allows it; a desktop user without real-time rights just runs at
        // normal priority, and nobody needs to hear about it.
        d.realTimeTried = true;
        sched_param param{};
        param.sched_priority = kDataThreadRealTimePriority;
        static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param));
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        underruns.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    spa_data& out = buffer->buffer->datas[0];
    if (out.data == nullptr) {
        pw_stream_queue_buffer(stream, buffer);
        return;
    }
    std::size_t frames =
            std::min<std::size_t>(out.maxsize / sizeof(std::int16_t), kMaxBufferFrames);
    if (buffer->requested != 0)
        frames = std::min<std::size_t>(frames, buffer->requested);

    pw_time time{};
    pw_stream_get_time_n(stream, &time, sizeof time);
    // The cycle's own time, from the graph's driver: free of this thread's wake-up jitter.
    const SteadyTimeNs cycleNs = time.now != 0 ? time.now : steadyNowNs();
    // A graph cycle that moved the server's clock on by well over one cycle means cycles went
    // by without this stream's sound, unless the stream has only just begun to run again.
    const std::uint64_t activation = activations.load(std::memory_order_relaxed);
    if (activation != d.seenActivation) {
        d.seenActivation = activation;
        d.haveTicks = false;
        d.lastCycleTicks = 0;
    }
    if (d.haveTicks && time.ticks > d.lastTicks) {
        const std::uint64_t cycleTicks = time.ticks - d.lastTicks;
        if (d.lastCycleTicks != 0 && cycleTicks * 2 > d.lastCycleTicks * 3)
            underruns.fetch_add(1, std::memory_order_relaxed);
        else
            d.lastCycleTicks = cycleTicks;
    }
    d.haveTicks = true;
    d.lastTicks = time.ticks;

    lastBufferFrames.store(static_cast<std::uint32_t>(frames), std::memory_order_relaxed);
    if (time.rate.denom != 0)
        lastDelayNs.store(time.delay * kNsPerSecond * time.rate.num / time.rate.denom,
                          std::memory_order_relaxed);
    const std::span<std::int16_t> rendered = std::span(d.scratch).first(frames);
    clips.renderAudioThread(rendered, cycleNs);

    const std::uint64_t serial = startSerial.load();
    if (serial != d.seenSerial) {
        d.seenSerial = serial;
        d.silentFrames = 0;
        d.idleReported = false;
    }
    auto* samples = static_cast<std::int16_t*>(out.data);
    bool silent = true;
    for (std::size_t i = 0; i < frames; ++i) {
        silent = silent && rendered[i] == 0;
        samples[i] = static_cast<std::int16_t>((std::int32_t{rendered[i]} * kHeadroomQ15) >> 15);
    }
    d.silentFrames = silent ? d.silentFrames + static_cast<std::int64_t>(frames) : 0;
    if (!d.idleReported && d.silentFrames >= idleAfterFrames) {
        d.idleReported = true;
        idleSerial.store(serial);
        pw_loop_signal_event(pw_thread_loop_get_loop(threadLoop), wakeEvent);
    }

    out.chunk->offset = 0;
    out.chunk->stride = sizeof(std::int16_t);
    out.chunk->size = static_cast<uint32_t>(frames * sizeof(std::int16_t));
    pw_stream_queue_buffer(stream, buffer);
}

std::unique_ptr<PipeWireSoundOutput> PipeWireSoundOutput::connect(Options options) {
    libraryInitOnce();
    auto connection = std::make_unique<Connection>(options);
    Connection& c = *connection;
    c.threadLoop = pw_thread_loop_new("lyravox-sound", nullptr);
    if (c.threadLoop == nullptr)
        return nullptr;
    pw_loop* loop = pw_thread_loop_get_loop(c.threadLoop);
    c.context = pw_context_new(loop, nullptr, 0);
    if (c.context == nullptr)
        return nullptr;
    c.wakeEvent = pw_loop_add_event(loop, Connection::onWake, &c);
    c.reconnectTimer = pw_loop_add_timer(loop, Connection::onReconnectTimer, &c);
    if (c.wakeEvent == nullptr || c.reconnectTimer == nullptr)
        return nullptr;
    // Connecting only opens the socket: a daemon that is there but hangs costs nothing here.
    // Everything is set up before the loop thread runs, so no lock is needed.
    if (!c.connectCore())
        return nullptr;
    if (pw_thread_loop_start(c.threadLoop) != 0)
        return nullptr;
    return std::unique_ptr<PipeWireSoundOutput>(new PipeWireSoundOutput(std::move(connection)));
}

PipeWireSoundOutput::PipeWireSoundOutput(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

PipeWireSoundOutput::~PipeWireSoundOutput() = default;

void PipeWireSoundOutput::play(std::shared_ptr<const PcmClip> clip) {
    playAt(std::move(clip), steadyNowNs());
}

void PipeWireSoundOutput::playAt(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) {
    Connection& c = *connection_;
    c.clips.start(std::move(clip), startTimeNs);
    c.startSerial.fetch_add(1);
    // An eventfd write: wakes the loop thread without waiting for it.
    if (!c.active.load())
        pw_loop_signal_event(pw_thread_loop_get_loop(c.threadLoop), c.wakeEvent);
}

bool PipeWireSoundOutput::isStreamActive() const {
    return connection_->active.load();
}

bool PipeWireSoundOutput::isConnected() const {
    return connection_->connected.load();
}

std::uint64_t PipeWireSoundOutput::underrunCount() const {
    return connection_->underruns.load(std::memory_order_relaxed);
}

PipeWireSoundOutput::CycleReport PipeWireSoundOutput::lastCycle() const {
    return {connection_->lastBufferFrames.load(std::memory_order_relaxed),
            connection_->lastDelayNs.load(std::memory_order_relaxed)};
}

std::unique_ptr<SoundOutput> makePipeWireSoundOutput() {
    return PipeWireSoundOutput::connect({});
}

}  // namespace lyravox::platform
