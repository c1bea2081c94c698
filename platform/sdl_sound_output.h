#pragma once

#include "platform/sound_output.h"

#include <cstddef>
#include <memory>

namespace lyravox::platform {

// The sound output on the desktop's sound server (PipeWire, PulseAudio, ALSA or JACK, whichever
// SDL2 finds). One device for the program's life, kept running with silence between clips: a
// PulseAudio stream stalls for a second or two after it opens, and the first click must not wait.
// Without a usable device the program goes on silently after one line on stderr; a device that
// disappears (server restarted, headset unplugged) is reopened at a later play(), at most every
// few seconds. The fallback for whatever the native outputs do not serve (ALSA, JACK, sndio) and
// for SDL's dummy and disk drivers in tests.
class SdlSoundOutput final : public SoundOutput {
public:
    static constexpr std::size_t kDefaultBufferFrames = 256;

    // OnRequest leaves the device closed until open() or the first play(), so a program can show
    // its window first: opening takes a few milliseconds with a sound server and a tenth of a
    // second or more without one, while SDL tries its drivers in turn.
    enum class Opening { AtOnce, OnRequest };

    explicit SdlSoundOutput(std::size_t bufferFrames = kDefaultBufferFrames,
                            Opening opening = Opening::AtOnce);
    ~SdlSoundOutput() override;
    SdlSoundOutput(const SdlSoundOutput&) = delete;
    SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

    void play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) override;

    // Opens the device unless it is open; without one, reports once on stderr and stays silent.
    void open() override;

    std::string_view backendName() const override { return "sdl"; }
    std::uint64_t underrunCount() const override;

    // False while no device is open: clips are silence.
    bool isOpen() const;

private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace lyravox::platform
