#include "playback/playback.h"

namespace lyravox::playback {

std::string_view layerName() noexcept {
    return "playback";
}

}  // namespace lyravox::playback
