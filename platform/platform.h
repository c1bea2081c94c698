#pragma once

// Architecture: everything that touches the operating system's services lives here, behind small
// interfaces that the rest of the program depends on instead of the libraries themselves:
//   - a clock (monotonic, microseconds or finer for the program's whole life), so waits can be
//     simulated in tests;
//   - an event pump (Qt's event loop), so playback can wait without freezing the windows;
//   - a sound output (SoundOutput; SdlSoundOutput on SDL2 around the real-time ClipStream), with a
//     do-nothing and a capturing variant beside it, so tests and CI run without sound hardware;
//     decodeWaveImage turns a WAVE image into the clip it plays.
// SDL2 and Qt event-loop headers stay in this folder's .cpp files; headers forward-declare.

#include <string_view>

namespace lyravox::platform {

// Used in diagnostics so a log line shows which layer produced it.
std::string_view layerName() noexcept;

}  // namespace lyravox::platform
