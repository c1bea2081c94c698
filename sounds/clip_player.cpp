#include "sounds/clip_player.h"

#include "platform/sound_output.h"
#include "platform/wave_decoder.h"
#include "sounds/resource_loader.h"

#include <stdexcept>

namespace lyravox::sounds {

ClipPlayer::ClipPlayer(platform::SoundOutput& output) : output_(output) {}

void ClipPlayer::loadClip(std::string_view clipName) {
    std::vector<std::uint8_t> image = loadResource(clipName, kWaveResourceType);
    std::optional<platform::PcmClip> clip = platform::decodeWaveImage(image);
    // The old image and its decoded clip go now; a clip still sounding is kept alive by the
    // output until it has let go of it.
    klang_ = std::move(image);
    decoded_ = clip ? std::make_shared<const platform::PcmClip>(std::move(*clip)) : nullptr;
}

void ClipPlayer::startClip(std::chrono::nanoseconds startTime) {
    if (klang_.empty())
        throw std::logic_error("startClip: no clip has been loaded into the clip buffer");
    output_.play(decoded_, startTime.count());
}

double ClipPlayer::steadySecondsPerSoundSecond() const {
    return output_.steadySecondsPerSoundSecond();
}

}  // namespace lyravox::sounds
