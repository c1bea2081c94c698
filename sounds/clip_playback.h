#pragma once

#include <string_view>

namespace lyravox::sounds {

// Loading a named clip into the clip buffer and starting it: all the playback logic asks of the
// sounds. ClipPlayer is the real one; tests record what would have been heard.
class ClipPlayback {
public:
    virtual ~ClipPlayback() = default;

    // Replaces the clip buffer with the named clip (names as the catalogue gives them, any case).
    virtual void loadClip(std::string_view clipName) = 0;

    // Plays what the buffer holds from its first sample, cutting off whatever sounds; returns at
    // once.
    virtual void startClip() = 0;
};

}  // namespace lyravox::sounds
