#include "platform/pulse_sound_output.h"

#include "platform/clip_stream.h"
#include "platform/output_headroom.h"
#include "platform/realtime_priority.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop-api.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>
#include <span>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lyravox::platform {
namespace {

constexpr pa_usec_t kRetryIntervalUs = 500'000;
// libpulse refreshes a stream's timing info this often once the stream has settled (its automatic
// updates back off to 1.5 s); in between, the latency is interpolated on the local clock.
constexpr SteadyTimeNs kTimingRefreshNs = 1'500'000'000;
constexpr pa_sample_spec kSampleSpec = {PA_SAMPLE_S16LE, kOutputSampleRateHz, 1};

pa_usec_t msToUs(int ms) {
    return static_cast<pa_usec_t>(ms) * 1000;
}

// When the next frame written will be heard, from the server's last timing report as it came:
// at its timestamp the frame at the read index was sink_usec from being heard, and every frame
// written since lies further on at the nominal rate. libpulse's own interpolated latency passes
// the same reports through a smoother whose estimate drifts by up to a millisecond for seconds
// at a time, which the heard line would follow; these reports err only by the moment of each
// reply, held until the next. Empty while the stream does not play (prebuffering, corked) or
// an index is not yet known.
std::optional<SteadyTimeNs> reportedHeardNsOfNextWrite(pa_stream* target, SteadyTimeNs nowNs) {
    const pa_timing_info* timing = pa_stream_get_timing_info(target);
    if (timing == nullptr || timing->playing == 0 || timing->read_index_corrupt != 0 ||
        timing->write_index_corrupt != 0)
        return std::nullopt;
    // The timestamp is on the wall clock; its age maps it onto steady time.
    timeval now{};
    pa_gettimeofday(&now);
    if (pa_timeval_cmp(&timing->timestamp, &now) > 0)
        return std::nullopt;
    const auto ageNs = static_cast<SteadyTimeNs>(pa_timeval_diff(&now, &timing->timestamp)) * 1000;
    if (ageNs > 10 * kTimingRefreshNs)
        return std::nullopt;
    const std::int64_t aheadFrames = (timing->write_index - timing->read_index) /
                                     static_cast<std::int64_t>(sizeof(std::int16_t));
    return nowNs - ageNs + static_cast<SteadyTimeNs>(timing->sink_usec) * 1000 +
           aheadFrames * 1'000'000'000 / kOutputSampleRateHz;
}

}  // namespace

struct PulseSoundOutput::Loop {
    Loop() = default;
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // User-interface thread.
    void startThread();
    void wake() const;
    void stopThread();

    // The main loop's thread, from here on.
    static void onWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* self);
    static void onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onContextState(pa_context*, void* self);
    static void onStreamState(pa_stream*, void* self);
    static void onWritable(pa_stream*, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream*, void* self);
    static void onSoundMoved(pa_stream*, void* self);

    void handleWake();
    void connect();
    void makeStream();
    void renderInto(pa_stream* target, std::size_t bytes);
    void stopForIdle();
    void resumeFromIdle();
    void dropConnection();
    void connectionFailed(const char* what, int error);
    void tearDown();

    ClipStream stream{kOutputSampleRateHz,
                      ClipStream::HeardTiming{kHeardDelayNs, kTimingRefreshNs}};

    // Made by the user-interface thread before the loop's thread runs, freed after it ended.
    pa_threaded_mainloop* mainloop = nullptr;
    pa_mainloop_api* api = nullptr;
    int wakeFd = -1;
    pa_io_event* wakeEvent = nullptr;
    bool threadStarted = false;

    // The loop's thread only.
    pa_context* context = nullptr;
    pa_stream* playback = nullptr;
    pa_time_event* retryEvent = nullptr;
    bool corked = false;
    // This stream has had a timing report (not after a flush); until then its latency is guessed.
    bool reportedOnThisStream = false;
    bool everReady = false;
    bool reported = false;
    bool priorityAsked = false;

    std::atomic<bool> quitRequested{false};
    std::atomic<bool> running{false};
    std::atomic<int> streamsMade{0};
    std::atomic<std::uint64_t> serverUnderruns{0};
};

void PulseSoundOutput::Loop::startThread() {
    mainloop = pa_threaded_mainloop_new();
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mainloop == nullptr || wakeFd < 0) {
        std::fprintf(stderr, "lyravox: sound is unavailable, playing silently: cannot start "
                             "the PulseAudio main loop\n");
        return;
    }
    api = pa_threaded_mainloop_get_api(mainloop);
    // Before the thread runs, nothing else touches the loop: no lock needed.
    wakeEvent = api->io_new(api, wakeFd, PA_IO_EVENT_INPUT, &Loop::onWake, this);
    pa_threaded_mainloop_set_name(mainloop, "lyravox-pulse");
    if (pa_threaded_mainloop_start(mainloop) < 0) {
        std::fprintf(stderr, "lyravox: sound is unavailable, playing silently: cannot start "
                             "the PulseAudio main loop's thread\n");
        return;
    }
    threadStarted = true;
    wake();
}

void PulseSoundOutput::Loop::wake() const {
    if (wakeFd < 0)
        return;
    const std::uint64_t one = 1;
    // Non-blocking; a full counter already means a wake is pending.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void PulseSoundOutput::Loop::stopThread() {
    if (threadStarted) {
        // The loop's thread tears its connection down and leaves its loop; stop() then only
        // joins it.
        quitRequested.store(true);
        wake();
        pa_threaded_mainloop_stop(mainloop);
    }
    if (mainloop != nullptr)
        pa_threaded_mainloop_free(mainloop);
    if (wakeFd >= 0)
        ::close(wakeFd);
}

void PulseSoundOutput::Loop::onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t,
                                    void* self) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(fd, &count, sizeof count);
    static_cast<Loop*>(self)->handleWake();
}

void PulseSoundOutput::Loop::handleWake() {
    if (quitRequested.load()) {
        tearDown();
        return;
    }
    if (!priorityAsked) {
        priorityAsked = true;
        askForRealtimePriority();
    }
    if (context == nullptr && retryEvent == nullptr)
        connect();
    if (playback != nullptr && corked && stream.idleStopped())
        resumeFromIdle();
}

void PulseSoundOutput::Loop::onRetry(pa_mainloop_api* api, pa_time_event* event,
                                     const struct timeval*, void* self) {
    auto* loop = static_cast<Loop*>(self);
    api->time_free(event);
    loop->retryEvent = nullptr;
    loop->connect();
}

void PulseSoundOutput::Loop::connect() {
    context = pa_context_new(api, "Lyravox");
    if (context == nullptr) {
        connectionFailed("cannot make a PulseAudio context", PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(context, &Loop::onContextState, this);
    // No autospawn: a desktop without a sound server gets silence, not a server of ours.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        connectionFailed("no PulseAudio server answers", pa_context_errno(context));
}

void PulseSoundOutput::Loop::onContextState(pa_context* context, void* self) {
    auto* loop = static_cast<Loop*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            loop->makeStream();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            loop->connectionFailed(loop->everReady ? "lost the PulseAudio server"
                                                   : "no PulseAudio server answers",
                                   pa_context_errno(context));
            break;
        default:
            break;
    }
}

void PulseSoundOutput::Loop::makeStream() {
    playback = pa_stream_new(context, "Lyravox", &kSampleSpec, nullptr);
    if (playback == nullptr) {
        connectionFailed("cannot make a PulseAudio stream", pa_context_errno(context));
        return;
    }
    pa_stream_set_state_callback(playback, &Loop::onStreamState, this);
    pa_stream_set_write_callback(playback, &Loop::onWritable, this);
    pa_stream_set_underflow_callback(playback, &Loop::onUnderflow, this);
    pa_stream_set_moved_callback(playback, &Loop::onSoundMoved, this);
    pa_stream_set_suspended_callback(playback, &Loop::onSoundMoved, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength =
            static_cast<std::uint32_t>(pa_usec_to_bytes(msToUs(kServerBufferMs), &kSampleSpec));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq =
            static_cast<std::uint32_t>(pa_usec_to_bytes(msToUs(kRefillMs), &kSampleSpec));
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    // What sounded on a stream now gone would resume mid-wave on the new one: a click.
    stream.beginNewServerStreamAudioThread();
    stream.leaveIdleStop();
    corked = false;
    reportedOnThisStream = false;
    if (pa_stream_connect_playback(playback, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        connectionFailed("cannot connect a PulseAudio stream", pa_context_errno(context));
        return;
    }
    streamsMade.fetch_add(1);
}

void PulseSoundOutput::Loop::onStreamState(pa_stream* target, void* self) {
    auto* loop = static_cast<Loop*>(self);
    switch (pa_stream_get_state(target)) {
        case PA_STREAM_READY:
            loop->everReady = true;
            loop->reported = false;
            loop->running.store(!loop->corked);
            break;
        case PA_STREAM_FAILED:
            loop->connectionFailed("the PulseAudio stream failed",
                                   pa_context_errno(pa_stream_get_context(target)));
            break;
        default:
            break;
    }
}

void PulseSoundOutput::Loop::onWritable(pa_stream* target, std::size_t bytes, void* self) {
    static_cast<Loop*>(self)->renderInto(target, bytes);
}

// The server asks for `bytes` more: render them, placed by when the server will play them.
void PulseSoundOutput::Loop::renderInto(pa_stream* target, std::size_t bytes) {
    const SteadyTimeNs nowNs = steadyNowNs();
    std::optional<SteadyTimeNs> reportedNs = reportedHeardNsOfNextWrite(target, nowNs);
    pa_usec_t latencyUs = 0;
    int negative = 0;
    if (!reportedNs && pa_stream_get_latency(target, &latencyUs, &negative) >= 0) {
        const auto latencyNs = static_cast<SteadyTimeNs>(latencyUs) * 1000;
        reportedNs = nowNs + (negative != 0 ? -latencyNs : latencyNs);
    }
    const bool latencyKnown = reportedNs.has_value();
    // Before the first timing report the buffer's own length is the best guess.
    SteadyTimeNs heardNs =
            reportedNs.value_or(nowNs + static_cast<SteadyTimeNs>(msToUs(kServerBufferMs)) * 1000);
    // The guesses were the buffer's length; the server's first report says where the sound is.
    // Later, while the timing is being refreshed, the followed line goes on without a report
    // rather than taking a guess for one.
    const bool firstReport = latencyKnown && !reportedOnThisStream;
    const bool guessed = !latencyKnown && !reportedOnThisStream;
    reportedOnThisStream = reportedOnThisStream || latencyKnown;
    if (firstReport)
        stream.heardLineMovedAudioThread();
    while (bytes >= sizeof(std::int16_t)) {
        void* data = nullptr;
        std::size_t chunkBytes = bytes;
        if (pa_stream_begin_write(target, &data, &chunkBytes) < 0 || data == nullptr)
            return;
        chunkBytes -= chunkBytes % sizeof(std::int16_t);
        const std::size_t frames = chunkBytes / sizeof(std::int16_t);
        const std::span<std::int16_t> out(static_cast<std::int16_t*>(data), frames);
        if (latencyKnown || guessed)
            stream.renderHeardAudioThread(out, heardNs);
        else
            stream.renderOnLineAudioThread(out);
        applyOutputHeadroomAudioThread(out);
        if (pa_stream_write(target, data, chunkBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        heardNs += static_cast<SteadyTimeNs>(frames) * 1'000'000'000 / kOutputSampleRateHz;
        bytes -= chunkBytes;
    }
    if (stream.idleAudioThread())
        stopForIdle();
}

void PulseSoundOutput::Loop::onUnderflow(pa_stream*, void* self) {
    auto* loop = static_cast<Loop*>(self);
    loop->serverUnderruns.fetch_add(1, std::memory_order_relaxed);
    loop->stream.heardLineMovedAudioThread();
}

// Moved to another sink, or its sink suspended or resumed: the sound's timing starts afresh there.
void PulseSoundOutput::Loop::onSoundMoved(pa_stream*, void* self) {
    static_cast<Loop*>(self)->stream.heardLineMovedAudioThread();
}

void PulseSoundOutput::Loop::stopForIdle() {
    if (corked || !stream.enterIdleStop())
        return;
    if (pa_operation* op = pa_stream_cork(playback, 1, nullptr, nullptr))
        pa_operation_unref(op);
    corked = true;
    running.store(false);
}

// The silence left in the server's buffer would come before the clip: dropped, so the first
// start after idle is heard as soon as the stream runs again.
void PulseSoundOutput::Loop::resumeFromIdle() {
    stream.leaveIdleStop();
    reportedOnThisStream = false;
    if (pa_operation* op = pa_stream_flush(playback, nullptr, nullptr))
        pa_operation_unref(op);
    if (pa_operation* op = pa_stream_cork(playback, 0, nullptr, nullptr))
        pa_operation_unref(op);
    corked = false;
    running.store(true);
}

void PulseSoundOutput::Loop::dropConnection() {
    running.store(false);
    if (playback != nullptr) {
        pa_stream_set_state_callback(playback, nullptr, nullptr);
        pa_stream_set_write_callback(playback, nullptr, nullptr);
        pa_stream_set_underflow_callback(playback, nullptr, nullptr);
        pa_stream_set_moved_callback(playback, nullptr, nullptr);
        pa_stream_set_suspended_callback(playback, nullptr, nullptr);
        pa_stream_disconnect(playback);
        pa_stream_unref(playback);
        playback = nullptr;
    }
    if (context != nullptr) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
}

// One line per spell without a server, then a quiet look for it every half second.
void PulseSoundOutput::Loop::connectionFailed(const char* what, int error) {
    if (!reported) {
        reported = true;
        std::fprintf(stderr, "lyravox: %s (%s); playing silently until it answers\n", what,
                     pa_strerror(error));
    }
    dropConnection();
    if (retryEvent == nullptr && !quitRequested.load()) {
        // Wall-clock time, as the main loop's API takes it; a clock set meanwhile only moves one
        // retry.
        struct timeval when {};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, kRetryIntervalUs);
        retryEvent = api->time_new(api, &when, &Loop::onRetry, this);
    }
}

void PulseSoundOutput::Loop::tearDown() {
    dropConnection();
    if (retryEvent != nullptr) {
        api->time_free(retryEvent);
        retryEvent = nullptr;
    }
    if (wakeEvent != nullptr) {
        api->io_free(wakeEvent);
        wakeEvent = nullptr;
    }
    api->quit(api, 0);
}

PulseSoundOutput::PulseSoundOutput() : loop_(std::make_unique<Loop>()) {}

PulseSoundOutput::~PulseSoundOutput() {
    loop_->stopThread();
}

void PulseSoundOutput::open() {
    if (loop_->mainloop == nullptr)
        loop_->startThread();
}

void PulseSoundOutput::play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) {
    open();
    if (loop_->stream.start(std::move(clip), startTimeNs))
        loop_->wake();
}

std::uint64_t PulseSoundOutput::underrunCount() const {
    return loop_->serverUnderruns.load(std::memory_order_relaxed) + loop_->stream.lateRenderCount();
}

double PulseSoundOutput::steadySecondsPerSoundSecond() const {
    return loop_->stream.steadySecondsPerSoundSecond();
}

std::uint64_t PulseSoundOutput::serverUnderrunCount() const {
    return loop_->serverUnderruns.load(std::memory_order_relaxed);
}

bool PulseSoundOutput::streamRunning() const {
    return loop_->running.load();
}

std::uint64_t PulseSoundOutput::lateStartCount() const {
    return loop_->stream.lateStartCount();
}

int PulseSoundOutput::streamsMade() const {
    return loop_->streamsMade.load();
}

}  // namespace lyravox::platform
