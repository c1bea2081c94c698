#pragma once

#include "platform/pcm_clip.h"
#include "sounds/clip_playback.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace lyravox::platform {
class SoundOutput;
}

namespace lyravox::sounds {

// The only way the program makes sound: load a named clip into the clip buffer, then start
// whatever the buffer holds, as often as wanted. Used on the user-interface thread only.
class ClipPlayer final : public ClipPlayback {
public:
    explicit ClipPlayer(platform::SoundOutput& output);

    // Replaces the clip buffer with a fresh copy of the named clip's image, even when the same clip
    // was loaded before. Throws ResourceNotFound for a name the program does not carry, leaving the
    // buffer as it was.
    void loadClip(std::string_view clipName) override;

    // Plays what the buffer holds from its first sample, cutting off whatever sounds, and returns
    // at once, heard a fixed short delay after startTime (steady-clock time). An image that cannot
    // be played is silence. Throws std::logic_error when nothing has been loaded yet: there is no
    // first byte to play.
    void startClip(std::chrono::nanoseconds startTime) override;

    double steadySecondsPerSoundSecond() const override;

    // The clip buffer: the complete image of the clip loaded last ("klang", German for sound).
    const std::vector<std::uint8_t>& klang() const { return klang_; }

private:
    platform::SoundOutput& output_;
    std::vector<std::uint8_t> klang_;
    // Decoded once per load, so a start hands the output a ready clip and stays cheap.
    std::shared_ptr<const platform::PcmClip> decoded_;
};

}  // namespace lyravox::sounds
