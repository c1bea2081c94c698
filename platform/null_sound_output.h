#pragma once

#include "platform/sound_output.h"

namespace lyravox::platform {

// For running without sound at all: every clip is silence.
class NullSoundOutput final : public SoundOutput {
public:
    void play(std::shared_ptr<const PcmClip>) override {}
};

}  // namespace lyravox::platform
