#include "platform/sdl_sound_output.h"

#include "platform/clip_stream.h"
#include "platform/sdl_audio_setup.h"
#include "platform/sound_server_probe.h"

#include <SDL.h>

#include <cstdio>
#include <span>

namespace lyravox::platform {
namespace {

// Opening is tried again at a start no more often than this while a server listens but the
// device will not open: SDL tries its whole driver list, up to a tenth of a second on the
// user-interface thread, and a click must not stall the window.
constexpr SteadyTimeNs kReopenIntervalNs = 5'000'000'000;

// Audio thread: SDL calls this for every buffer; it only renders the stream.
void renderCallback(void* userdata, Uint8* bytes, int byteCount) {
    const SteadyTimeNs nowNs = steadyNowNs();
    auto* stream = static_cast<ClipStream*>(userdata);
    stream->renderAudioThread(std::span<std::int16_t>(reinterpret_cast<std::int16_t*>(bytes),
                                                      static_cast<std::size_t>(byteCount) / 2),
                              nowNs);
}

}  // namespace

struct SdlSoundOutput::Device {
    explicit Device(std::size_t frames)
        : bufferFrames(frames)
        , stream(kOutputSampleRateHz, frames) {}

    bool open();
    void close();
    bool lost() const { return id != 0 && SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED; }
    void reportUnavailable(const char* reason);

    std::size_t bufferFrames;
    ClipStream stream;
    SDL_AudioDeviceID id = 0;
    bool subsystemUp = false;
    bool reported = false;
    bool everTried = false;
    SteadyTimeNs lastAttemptNs = 0;
    bool serverListenedAtLastAttempt = false;

    // A device that went away, or never came, is tried again at a start only when a sound server
    // listens (a look at its socket costs microseconds): at once when it appeared since the last
    // attempt, else at most every few seconds. Without any server a start never pays for SDL's
    // whole driver list; a device of a server-less system that went away stays silent.
    bool worthReopening() const;
};

namespace {

bool soundServerListening() {
    return pulseServerListening() || pipeWireDaemonListening();
}

}  // namespace

bool SdlSoundOutput::Device::open() {
    everTried = true;
    lastAttemptNs = steadyNowNs();
    serverListenedAtLastAttempt = soundServerListening();
    prepareSdlAudio();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        reportUnavailable(SDL_GetError());
        return false;
    }
    subsystemUp = true;

    SDL_AudioSpec wanted{};
    wanted.freq = kOutputSampleRateHz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 1;
    wanted.samples = static_cast<Uint16>(bufferFrames);
    wanted.callback = renderCallback;
    wanted.userdata = &stream;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the device wants, so the callback always
    // renders 44100 Hz mono 16-bit.
    id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (id == 0) {
        reportUnavailable(SDL_GetError());
        close();
        return false;
    }
    SDL_PauseAudioDevice(id, 0);
    reported = false;
    return true;
}

void SdlSoundOutput::Device::close() {
    if (id != 0) {
        SDL_CloseAudioDevice(id);
        id = 0;
    }
    if (subsystemUp) {
        // A sound server that went away leaves SDL's driver holding a dead connection: only a
        // fresh start of the audio subsystem reaches the new one.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemUp = false;
    }
}

bool SdlSoundOutput::Device::worthReopening() const {
    if (!everTried)
        return true;
    if (!soundServerListening())
        return false;
    return !serverListenedAtLastAttempt || steadyNowNs() - lastAttemptNs >= kReopenIntervalNs;
}

void SdlSoundOutput::Device::reportUnavailable(const char* reason) {
    if (reported)
        return;
    reported = true;
    std::fprintf(stderr, "lyravox: sound is unavailable, playing silently: %s\n", reason);
}

SdlSoundOutput::SdlSoundOutput(std::size_t bufferFrames, Opening opening)
    : device_(std::make_unique<Device>(bufferFrames)) {
    if (opening == Opening::AtOnce)
        device_->open();
}

void SdlSoundOutput::open() {
    if (device_->id == 0) {
        device_->close();
        device_->open();
    }
}

SdlSoundOutput::~SdlSoundOutput() {
    device_->close();
}

// The device keeps running with silence while idle: pausing it leaves SDL's thread feeding the
// server silence anyway, and closing it would make the first start after idle wait out a new
// server stream's stall of a second or two. The native outputs stop their streams instead.
void SdlSoundOutput::play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) {
    if (device_->lost()) {
        device_->close();
        // The server it had is gone: the next one is worth a try as soon as it listens.
        device_->serverListenedAtLastAttempt = false;
    }
    if (device_->id == 0 && device_->worthReopening())
        open();
    device_->stream.start(std::move(clip), startTimeNs);
}

std::uint64_t SdlSoundOutput::underrunCount() const {
    return device_->stream.lateRenderCount();
}

bool SdlSoundOutput::isOpen() const {
    return device_->id != 0;
}

}  // namespace lyravox::platform
