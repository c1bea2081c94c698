#pragma once

namespace lyravox::platform {

// Settings that must be in place before SDL's audio subsystem starts, shared by the sound output
// and by the benchmark that watches the same kind of device.
void prepareSdlAudio();

}  // namespace lyravox::platform
