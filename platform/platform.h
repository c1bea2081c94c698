#pragma once

// Architecture: everything that touches the operating system's services lives here, behind small
// interfaces that the rest of the program depends on instead of the libraries themselves:
//   - a run time (RunTime; QtRunTime on Qt's event loop): a monotonic nanosecond clock, an event
//     pump that sleeps until an event or a deadline, and the program's end, so waits can be
//     simulated in tests and playback can wait without freezing the windows or spinning;
//   - a sound output (SoundOutput), one per sound server around the shared real-time ClipStream:
//     PipeWire's and PulseAudio's own libraries, SDL2 for the rest, chosen in one place
//     (makeSoundOutput); a do-nothing and a capturing variant beside them, so tests and CI run
//     without sound hardware; decodeWaveImage turns a WAVE image into the clip it plays.
// SDL2, libpulse, libpipewire and Qt event-loop headers stay in this folder's .cpp files; headers
// forward-declare.
