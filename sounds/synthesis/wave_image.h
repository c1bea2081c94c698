#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lyravox::synthesis {

// The canonical 44-byte RIFF WAVE image of 16-bit mono PCM at 44100 Hz, nothing after the data.
std::vector<std::uint8_t> makeWaveImage(std::span<const std::int16_t> samples);

}  // namespace lyravox::synthesis
