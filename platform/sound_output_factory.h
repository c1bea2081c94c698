#pragma once

#include "platform/sound_output.h"

#include <memory>
#include <string_view>

namespace lyravox::platform {

// Forces one sound output, for tests and diagnosis: "pipewire", "pulseaudio" or "sdl".
inline constexpr const char* kSoundBackendVariable = "LYRAVOX_SOUND_BACKEND";

enum class SoundBackend { PipeWire, PulseAudio, Sdl };

// The one place that chooses the sound output, once, at start-up, in this order: PipeWire's own
// library when a PipeWire daemon answers; PulseAudio's own library when a PulseAudio server (or
// PipeWire's PulseAudio service) listens; SDL2 for everything else. kSoundBackendVariable forces
// one; a name it does not know is reported on stderr, with the names it knows, and the usual
// order applies. The output opens on request (SoundOutput::open() or the first play()), so a
// window can show first; choosing never waits on a server.
std::unique_ptr<SoundOutput> makeSoundOutput();

// Exposed for tests. Throws std::invalid_argument naming the known names for one it does not
// know.
SoundBackend soundBackendNamed(std::string_view name);

}  // namespace lyravox::platform
