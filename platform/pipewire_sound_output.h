#pragma once

#include "platform/sound_output.h"

#include <memory>

namespace lyravox::platform {

// The sound output on PipeWire's own client library, or null when no PipeWire daemon answers.
std::unique_ptr<SoundOutput> makePipeWireSoundOutput();

}  // namespace lyravox::platform
