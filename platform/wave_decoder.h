#pragma once

#include "platform/pcm_clip.h"

#include <cstdint>
#include <optional>
#include <span>

namespace lyravox::platform {

// Reads a RIFF WAVE image held in memory into a clip for the sound output, converting to mono
// 16-bit at kOutputSampleRateHz where it differs. Anything that is not a playable WAVE image
// yields nothing: the caller plays silence.
std::optional<PcmClip> decodeWaveImage(std::span<const std::uint8_t> image);

}  // namespace lyravox::platform
