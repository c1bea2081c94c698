#pragma once

#include <chrono>
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
    // once. The clip is heard a fixed short delay after startTime, on the run time's clock: the
    // time the start is due (a click: when it was handled; the end of a rest: the rest's
    // deadline), so a rhythm of starts is heard as it was meant, however late the caller woke.
    virtual void startClip(std::chrono::nanoseconds startTime) = 0;

    // How long one second of sound lasts on the run time's clock, by the sound output's own
    // clock (1.0 where it cannot tell): the logic times a rest by it, so that the rest is heard
    // exact in the sound card's samples. Returns at once.
    virtual double steadySecondsPerSoundSecond() const { return 1.0; }
};

}  // namespace lyravox::sounds
