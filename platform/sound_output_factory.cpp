#include "platform/sound_output_factory.h"

#include "platform/pipewire_sound_output.h"
#include "platform/pulse_sound_output.h"
#include "platform/sdl_sound_output.h"
#include "platform/sound_server_probe.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace lyravox::platform {
namespace {

constexpr std::array<std::pair<std::string_view, SoundBackend>, 3> kBackendNames = {{
        {"pipewire", SoundBackend::PipeWire},
        {"pulseaudio", SoundBackend::PulseAudio},
        {"sdl", SoundBackend::Sdl},
}};

std::optional<SoundBackend> forcedBackend() {
    const char* value = std::getenv(kSoundBackendVariable);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    try {
        return soundBackendNamed(value);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "lyravox: %s=%s: %s; choosing the sound output as usual\n",
                     kSoundBackendVariable, value, error.what());
        return std::nullopt;
    }
}

std::unique_ptr<SoundOutput> makeSdlOutput() {
    return std::make_unique<SdlSoundOutput>(SdlSoundOutput::kDefaultBufferFrames,
                                            SdlSoundOutput::Opening::OnRequest);
}

std::unique_ptr<SoundOutput> chooseInOrder() {
    if (std::unique_ptr<SoundOutput> pipeWire = makePipeWireSoundOutput())
        return pipeWire;
    if (pulseServerListening())
        return std::make_unique<PulseSoundOutput>();
    return makeSdlOutput();
}

}  // namespace

SoundBackend soundBackendNamed(std::string_view name) {
    for (const auto& [known, backend] : kBackendNames)
        if (name == known)
            return backend;
    std::string known;
    for (const auto& entry : kBackendNames)
        known += (known.empty() ? "" : ", ") + std::string(entry.first);
    throw std::invalid_argument("no sound output is called \"" + std::string(name) +
                                "\" (known: " + known + ")");
}

std::unique_ptr<SoundOutput> makeSoundOutput() {
    const std::optional<SoundBackend> forced = forcedBackend();
    if (!forced)
        return chooseInOrder();
    switch (*forced) {
        case SoundBackend::PipeWire:
            if (std::unique_ptr<SoundOutput> pipeWire = makePipeWireSoundOutput())
                return pipeWire;
            std::fprintf(stderr,
                         "lyravox: %s=pipewire, but no PipeWire daemon answers; choosing the "
                         "sound output as usual\n",
                         kSoundBackendVariable);
            return chooseInOrder();
        case SoundBackend::PulseAudio:
            return std::make_unique<PulseSoundOutput>();
        case SoundBackend::Sdl:
            return makeSdlOutput();
    }
    return chooseInOrder();
}

}  // namespace lyravox::platform
