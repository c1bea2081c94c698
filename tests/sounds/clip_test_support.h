#pragma once

#include "clip_analysis.h"
#include "sounds/resource_loader.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lyravox::test {

inline constexpr double kSampleRateHz = 44100.0;
inline constexpr std::size_t kHeaderBytes = 44;

// A clip as the program carries it: its image, its 16-bit samples and the same in full-scale units.
struct LoadedClip {
    std::vector<std::uint8_t> image;
    std::vector<std::int16_t> samples;
    std::vector<double> signal;
};

inline LoadedClip loadClip(const std::string& name) {
    LoadedClip clip;
    clip.image = sounds::loadResource(name, sounds::kWaveResourceType);
    const std::size_t count = (clip.image.size() - kHeaderBytes) / 2;
    clip.samples.resize(count);
    std::memcpy(clip.samples.data(), clip.image.data() + kHeaderBytes, count * 2);
    clip.signal = analysis::toFullScale(clip.samples);
    return clip;
}

}  // namespace lyravox::test
