#pragma once

#include "platform/pcm_clip.h"

#include <memory>

namespace lyravox::platform {

// Where the program's one sound goes. Everything here is called on the user-interface thread.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;

    // Cuts off whatever sounds and plays `clip` from its first sample, a fixed short delay after
    // this call, so that starts keep the rhythm in which they were called. Returns at once.
    // A null or empty clip stops the sound.
    virtual void play(std::shared_ptr<const PcmClip> clip) = 0;
};

}  // namespace lyravox::platform
