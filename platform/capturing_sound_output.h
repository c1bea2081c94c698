#pragma once

#include "platform/sound_output.h"

#include <vector>

namespace lyravox::platform {

// For tests: remembers every clip it was asked to play, in order, and plays nothing.
class CapturingSoundOutput final : public SoundOutput {
public:
    void play(std::shared_ptr<const PcmClip> clip) override { played_.push_back(std::move(clip)); }

    const std::vector<std::shared_ptr<const PcmClip>>& played() const { return played_; }

private:
    std::vector<std::shared_ptr<const PcmClip>> played_;
};

}  // namespace lyravox::platform
