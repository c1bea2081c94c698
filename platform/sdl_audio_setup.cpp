#include "platform/sdl_audio_setup.h"

#include <SDL.h>

#if defined(LYRAVOX_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif

#include <cstdlib>

namespace lyravox::platform {
namespace {

#if defined(LYRAVOX_HAVE_ALSA)
// Without a sound server SDL falls back to ALSA, whose library prints several lines of its own per
// attempt; the one line this output prints says all a user needs.
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
#endif

// SDL asks a PulseAudio server (or PipeWire's PulseAudio service) to hold a single callback's
// worth of sound, 5.8 ms; on a busy machine the server then runs dry several times a second and
// every dry spell moves all later sound, which breaks a steady rhythm of starts. Twenty
// milliseconds of server buffer ran without a gap here; callbacks stay 256 frames, so a start is
// still placed within a fraction of a millisecond. A user's own setting wins.
void askForSteadyServerBuffer() {
#if defined(__unix__)
    ::setenv("PULSE_LATENCY_MSEC", "20", 0);
#endif
}

void quietenAlsa() {
#if defined(LYRAVOX_HAVE_ALSA)
    snd_lib_error_set_handler(ignoreAlsaMessage);
#endif
}

}  // namespace

void prepareSdlAudio() {
    // Without this SDL turns SIGINT and SIGTERM into quit events and the program stops obeying
    // them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Lyravox");
    quietenAlsa();
    askForSteadyServerBuffer();
}

}  // namespace lyravox::platform
