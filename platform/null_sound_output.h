#pragma once

#include "platform/sound_output.h"

namespace lyravox::platform {

// For running without sound at all: every clip is silence.
class NullSoundOutput final : public SoundOutput {
public:
    void play(std::shared_ptr<const PcmClip>, SteadyTimeNs) override {}
    std::string_view backendName() const override { return "none"; }
};

}  // namespace lyravox::platform
