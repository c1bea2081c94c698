#pragma once

#include "platform/sound_output.h"

#include <vector>

namespace lyravox::platform {

// For tests: remembers every clip it was asked to play, with its start time, in order, and plays
// nothing.
class CapturingSoundOutput final : public SoundOutput {
public:
    void play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) override {
        played_.push_back(std::move(clip));
        startTimesNs_.push_back(startTimeNs);
    }
    std::string_view backendName() const override { return "capture"; }

    const std::vector<std::shared_ptr<const PcmClip>>& played() const { return played_; }
    const std::vector<SteadyTimeNs>& startTimesNs() const { return startTimesNs_; }

private:
    std::vector<std::shared_ptr<const PcmClip>> played_;
    std::vector<SteadyTimeNs> startTimesNs_;
};

}  // namespace lyravox::platform
