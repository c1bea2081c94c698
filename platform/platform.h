#pragma once

// Architecture: everything that touches the operating system's services lives here, behind small
// interfaces that the rest of the program depends on instead of the libraries themselves:
//   - a run time (RunTime; QtRunTime on Qt's event loop): a monotonic nanosecond clock, an event
//     pump that sleeps until an event or a deadline, and the program's end, so waits can be
//     simulated in tests and playback can wait without freezing the windows or spinning;
//   - a sound output (SoundOutput; SdlSoundOutput on SDL2 around the real-time ClipStream), with a
//     do-nothing and a capturing variant beside it, so tests and CI run without sound hardware;
//     decodeWaveImage turns a WAVE image into the clip it plays.
// SDL2 and Qt event-loop headers stay in this folder's .cpp files; headers forward-declare.
