#include "platform/pipewire_sound_output.h"

namespace lyravox::platform {

// Until the native PipeWire output lands, PipeWire is served through its PulseAudio service.
std::unique_ptr<SoundOutput> makePipeWireSoundOutput() {
    return nullptr;
}

}  // namespace lyravox::platform
