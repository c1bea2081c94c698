#pragma once

namespace lyravox::platform {

// Whether a PulseAudio server (or PipeWire's PulseAudio service) is listening where libpulse
// would look for it: PULSE_SERVER, else the per-user runtime folder, else the system-wide socket.
// One non-blocking connect, a few microseconds, never waits on the server (a stopped server still
// accepts connections); a server given by network address is taken as there.
bool pulseServerListening();

// Whether a PipeWire daemon is listening on its socket (PIPEWIRE_REMOTE, else pipewire-0 in the
// runtime folder), by the same kind of connect.
bool pipeWireDaemonListening();

}  // namespace lyravox::platform
