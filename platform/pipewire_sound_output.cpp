#include "platform/pipewire_sound_output.h"

#include "platform/clip_stream.h"
#include "platform/output_headroom.h"
#include "platform/realtime_priority.h"
#include "platform/sound_server_probe.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <pipewire/pipewire.h>
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

// From a start's time to its first sample heard: one graph cycle, so that a start made while a
// cycle renders finds its frame in one not yet rendered, and a margin for a user-interface
// thread that comes a little late (a rest's timer wakes about a millisecond after its deadline).
constexpr std::int64_t kHeardDelayMarginNs = 3'000'000;

constexpr std::int64_t heardDelayNsFor(std::int64_t cyclePeriodNs) {
    return cyclePeriodNs + kHeardDelayMarginNs;
}

// The most of the server's reported delay that placement follows: beyond it a start would find
// its frame rendered already.
constexpr std::int64_t maxPlacedDelayNs(std::int64_t cyclePeriodNs) {
    return heardDelayNsFor(cyclePeriodNs) - cyclePeriodNs - kHeardDelayMarginNs / 2;
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
        , cyclePeriodNs(static_cast<std::int64_t>(chosen.quantumFrames) * kNsPerSecond /
                        kStreamRateHz)
        , clips(kStreamRateHz, ClipStream::HeardTiming{heardDelayNsFor(cyclePeriodNs)}) {}
    ~Connection();

    // Loop thread.
    bool makeContext();
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
    const std::int64_t cyclePeriodNs;
    ClipStream clips;

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

    // The stream's state as the loop thread last set it.
    std::atomic<bool> active{false};
    // Set by the UI thread when a start found the stream stopped for idle, and by the data
    // thread when the ClipStream has gone idle (enterIdleStop() done); the loop thread acts on
    // both, a wake before an idle stop.
    std::atomic<bool> wakeRequested{false};
    std::atomic<bool> idleRequested{false};
    // Set by the loop thread for a stream it has just made, so the data thread starts the
    // ClipStream's timing afresh and cuts what sounded on the old one.
    std::atomic<bool> newServerStream{false};
    // Counted up by the loop thread whenever the stream begins to run, so the data thread does
    // not take the pause before it for missed cycles.
    std::atomic<std::uint64_t> activations{0};
    std::atomic<bool> connected{false};
    std::atomic<std::uint64_t> missedCycles{0};
    std::atomic<std::uint64_t> emptyCycles{0};
    std::atomic<std::uint32_t> lastBufferFrames{0};
    std::atomic<std::int64_t> lastDelayNs{0};

    // Only the data thread touches these.
    struct DataSide {
        std::array<std::int16_t, kMaxBufferFrames> scratch{};
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
    active.store(!clips.idleStopped());
    activations.fetch_add(1);
    newServerStream.store(true);
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
    const bool wake = wakeRequested.exchange(false);
    const bool idle = idleRequested.exchange(false);
    if (wake) {
        // A start came after the idle stop (start() said so): run again, whether or not the
        // stream had stopped yet.
        clips.leaveIdleStop();
        if (stream != nullptr && !active.load()) {
            active.store(true);
            activations.fetch_add(1);
            pw_stream_set_active(stream, true);
        }
        return;
    }
    if (idle && stream != nullptr && active.load() && clips.idleStopped()) {
        active.store(false);
        pw_stream_set_active(stream, false);
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
    if (!self->makeContext() || !self->connectCore())
        self->scheduleReconnect(kReconnectIntervalNs);
}

bool PipeWireSoundOutput::Connection::makeContext() {
    if (context != nullptr)
        return true;
    pw_loop* loop = pw_thread_loop_get_loop(threadLoop);
    // The real-time client configuration loads PipeWire's real-time module, which gives the data
    // thread real-time priority the way the desktop grants it (directly where the limits allow,
    // else through RTKit or the portal) and quietly does without where neither does. Without it
    // a busy machine delays the data thread past its graph cycle hundreds of times a minute.
    context = pw_context_new(loop, pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr),
                             0);
    if (context == nullptr)
        context = pw_context_new(loop, nullptr, 0);
    return context != nullptr;
}

void PipeWireSoundOutput::Connection::processAudioThread() noexcept {
    DataSide& d = data;
    if (!d.realTimeTried) {
        // PipeWire's own real-time module has usually made this thread real-time already; where
        // it could not (no client-rt.conf), a request of our own, quiet where not allowed.
        d.realTimeTried = true;
        askForRealtimePriority();
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        emptyCycles.fetch_add(1, std::memory_order_relaxed);
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
            missedCycles.fetch_add(1, std::memory_order_relaxed);
        else
            d.lastCycleTicks = cycleTicks;
    }
    d.haveTicks = true;
    d.lastTicks = time.ticks;

    // When out[0] is heard: the graph's cycle, the way to the device, and what this stream and
    // its resampler still hold. A device slower than the fixed delay allows (a real card with
    // long periods) is taken as allowed: its rhythm stays, only its latency grows.
    std::int64_t delayNs = 0;
    if (time.rate.denom != 0)
        delayNs = time.delay * kNsPerSecond * time.rate.num / time.rate.denom;
    delayNs += static_cast<std::int64_t>(time.queued / sizeof(std::int16_t) + time.buffered) *
               kNsPerSecond / kStreamRateHz;
    lastBufferFrames.store(static_cast<std::uint32_t>(frames), std::memory_order_relaxed);
    lastDelayNs.store(delayNs, std::memory_order_relaxed);
    const SteadyTimeNs heardNs = cycleNs + std::min(delayNs, maxPlacedDelayNs(cyclePeriodNs));

    if (newServerStream.exchange(false))
        clips.beginNewServerStreamAudioThread();
    const std::span<std::int16_t> rendered = std::span(d.scratch).first(frames);
    clips.renderHeardAudioThread(rendered, heardNs);
    applyOutputHeadroomAudioThread(rendered);
    std::copy(rendered.begin(), rendered.end(), static_cast<std::int16_t*>(out.data));
    if (!clips.idleStopped() && clips.idleAudioThread() && clips.enterIdleStop()) {
        idleRequested.store(true);
        pw_loop_signal_event(pw_thread_loop_get_loop(threadLoop), wakeEvent);
    }

    out.chunk->offset = 0;
    out.chunk->stride = sizeof(std::int16_t);
    out.chunk->size = static_cast<uint32_t>(frames * sizeof(std::int16_t));
    pw_stream_queue_buffer(stream, buffer);
}

std::unique_ptr<PipeWireSoundOutput> PipeWireSoundOutput::connect(Options options) {
    // Only where a daemon's socket answers (one non-blocking connect): PipeWire's library reads
    // its configuration and complains on stderr where PipeWire is not installed, and a machine
    // without a daemon has nothing to gain from it.
    if (!pipeWireDaemonListening())
        return nullptr;
    libraryInitOnce();
    auto connection = std::make_unique<Connection>(options);
    Connection& c = *connection;
    c.threadLoop = pw_thread_loop_new("lyravox-sound", nullptr);
    if (c.threadLoop == nullptr)
        return nullptr;
    pw_loop* loop = pw_thread_loop_get_loop(c.threadLoop);
    c.wakeEvent = pw_loop_add_event(loop, Connection::onWake, &c);
    c.reconnectTimer = pw_loop_add_timer(loop, Connection::onReconnectTimer, &c);
    if (c.wakeEvent == nullptr || c.reconnectTimer == nullptr)
        return nullptr;
    // Nothing to play yet: the stream begins stopped for idle and the first start wakes it.
    static_cast<void>(c.clips.enterIdleStop());
    // The context and the connection are made on the loop's thread, as every reconnection is:
    // making the context loads PipeWire's real-time module, which may ask RTKit or the desktop
    // portal over D-Bus and wait for the answer, and the caller is the user-interface thread.
    c.scheduleReconnect(1);
    if (pw_thread_loop_start(c.threadLoop) != 0)
        return nullptr;
    return std::unique_ptr<PipeWireSoundOutput>(new PipeWireSoundOutput(std::move(connection)));
}

PipeWireSoundOutput::PipeWireSoundOutput(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

PipeWireSoundOutput::~PipeWireSoundOutput() = default;

void PipeWireSoundOutput::play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) {
    Connection& c = *connection_;
    if (c.clips.start(std::move(clip), startTimeNs)) {
        c.wakeRequested.store(true);
        // An eventfd write: wakes the loop thread without waiting for it.
        pw_loop_signal_event(pw_thread_loop_get_loop(c.threadLoop), c.wakeEvent);
    }
}

bool PipeWireSoundOutput::isStreamActive() const {
    return connection_->active.load();
}

bool PipeWireSoundOutput::isConnected() const {
    return connection_->connected.load();
}

std::uint64_t PipeWireSoundOutput::underrunCount() const {
    const Underruns counted = underruns();
    return counted.missedGraphCycles + counted.cyclesWithoutBuffer + counted.lateRenders;
}

double PipeWireSoundOutput::steadySecondsPerSoundSecond() const {
    return connection_->clips.steadySecondsPerSoundSecond();
}

PipeWireSoundOutput::Underruns PipeWireSoundOutput::underruns() const {
    return {connection_->missedCycles.load(std::memory_order_relaxed),
            connection_->emptyCycles.load(std::memory_order_relaxed),
            connection_->clips.lateRenderCount()};
}

PipeWireSoundOutput::CycleReport PipeWireSoundOutput::lastCycle() const {
    return {connection_->lastBufferFrames.load(std::memory_order_relaxed),
            connection_->lastDelayNs.load(std::memory_order_relaxed)};
}

std::unique_ptr<SoundOutput> makePipeWireSoundOutput() {
    return PipeWireSoundOutput::connect({});
}

}  // namespace lyravox::platform
