#include "platform/sdl_sound_output.h"

#include "platform/clip_stream.h"
#include "platform/sdl_audio_setup.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <span>

namespace lyravox::platform {
namespace {

SteadyTimeNs steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

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
};

bool SdlSoundOutput::Device::open() {
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

void SdlSoundOutput::play(std::shared_ptr<const PcmClip> clip) {
    const SteadyTimeNs callNs = steadyNowNs();
    // A device that went away, or never came, is tried again at every start, so the first click
    // after the sound server returns is heard; a failing open costs a few milliseconds.
    if (device_->lost())
        device_->close();
    open();
    device_->stream.start(std::move(clip), callNs);
}

bool SdlSoundOutput::isOpen() const {
    return device_->id != 0;
}

}  // namespace lyravox::platform
