#pragma once

// Architecture: the playback logic (settings, the rest between repeats, the commands behind the
// buttons, play-all, start-up and exit) is plain C++ with no widget header. It sees the world
// through three small interfaces — controls, run time (clock and event pump) and sound output —
// so tests drive it with a simulated clock and scripted clicks instead of a screen and a speaker.

#include <string_view>

namespace lyravox::playback {

// Used in diagnostics so a log line shows which layer produced it.
std::string_view layerName() noexcept;

}  // namespace lyravox::playback
