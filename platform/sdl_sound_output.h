#pragma once

#include "platform/sound_output.h"

#include <cstddef>
#include <memory>

namespace lyravox::platform {

// The sound output on the desktop's sound server (PipeWire, PulseAudio, ALSA or JACK, whichever
// SDL2 finds). One device for the program's life, kept running with silence between clips: a
// PulseAudio stream stalls for a second or two after it opens, and the first click must not wait.
// Without a usable device the program goes on silently after one line on stderr; a device that
// disappears (server restarted, headset unplugged) is reopened at the next play().
class SdlSoundOutput final : public SoundOutput {
public:
    static constexpr std::size_t kDefaultBufferFrames = 256;

    explicit SdlSoundOutput(std::size_t bufferFrames = kDefaultBufferFrames);
    ~SdlSoundOutput() override;
    SdlSoundOutput(const SdlSoundOutput&) = delete;
    SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

    void play(std::shared_ptr<const PcmClip> clip) override;

    // False while no device is open: clips are silence.
    bool isOpen() const;

private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace lyravox::platform
