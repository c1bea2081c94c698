#include "platform/platform.h"

namespace lyravox::platform {

std::string_view layerName() noexcept {
    return "platform";
}

}  // namespace lyravox::platform
