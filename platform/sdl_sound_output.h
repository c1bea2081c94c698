#pragma once

#include "platform/sound_output.h"

#include <memory>

namespace lyravox::platform {

// The sound output on the desktop's sound server, through SDL2's audio subsystem.
class SdlSoundOutput final : public SoundOutput {
public:
    SdlSoundOutput();
    ~SdlSoundOutput() override;
    SdlSoundOutput(const SdlSoundOutput&) = delete;
    SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

    void play(std::shared_ptr<const PcmClip> clip) override;

    // False when no device could be opened: the program goes on silently.
    bool isOpen() const;

private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace lyravox::platform
