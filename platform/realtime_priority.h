#pragma once

namespace lyravox::platform {

// Asks for a low real-time priority for the calling thread (an audio thread that must not be
// kept waiting by busy processes), with the setting undone in any child process. Where that is
// not allowed (no privilege, no rtkit grant) the thread goes on at its usual priority, quietly:
// sound still plays, only less firmly under load. A thread that is real-time already keeps its
// priority.
void askForRealtimePriority() noexcept;

}  // namespace lyravox::platform
