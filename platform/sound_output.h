#pragma once

#include "platform/pcm_clip.h"
#include "platform/steady_time.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace lyravox::platform {

// Where the program's one sound goes. Everything here is called on the user-interface thread and
// returns at once: nothing in it may wait on the sound server, which can be slow, stopped or gone.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;

    // Cuts off whatever sounds and plays `clip` from its first sample, heard a fixed short delay
    // after startTimeNs: the time the start is due (a click: when it was handled; the end of a
    // rest: the rest's deadline), so starts are heard in the rhythm in which they were due, not
    // in the one in which the user-interface thread woke. A null or empty clip stops the sound.
    virtual void play(std::shared_ptr<const PcmClip> clip, SteadyTimeNs startTimeNs) = 0;

    // Gets the output ready without waiting for it, for outputs made to open on request (so a
    // window can show first); a play() before then opens it too.
    virtual void open() {}

    // The output's name as LYRAVOX_SOUND_BACKEND spells it ("pipewire", "pulseaudio", "sdl"), or
    // what it is in tests.
    virtual std::string_view backendName() const = 0;

    // Times the stream ran dry so far: the server had no sound when it needed some, or the
    // output's own thread came too late. Zero for outputs that cannot tell.
    virtual std::uint64_t underrunCount() const { return 0; }

    // Any thread, lock-free: how long one second of sound lasts on steady_clock, as the output
    // follows its server's clock (0.9997 for a sink 300 ppm fast); 1.0 for outputs that cannot
    // tell. A rest of N seconds timed as N times this is heard N seconds long in the sink's own
    // samples.
    virtual double steadySecondsPerSoundSecond() const { return 1.0; }
};

}  // namespace lyravox::platform
