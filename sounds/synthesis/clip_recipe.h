#pragma once

#include "plucked_voice.h"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace lyravox::synthesis {

// Everything that decides one clip: its voices and the measured shape it must have.
// The renderer tunes the decay and the weight of the fast decay stage until the clip has this
// shape, so a voice's own decay and weight are starting points and relative values.
struct ClipRecipe {
    std::string_view resourceName;
    std::size_t sampleCount = 0;
    std::size_t leadingZeroCount = 0;  // exact zero samples before the first pluck
    double peakTimeS = 0.0;
    double peakDbfs = 0.0;
    bool negativePeak = false;   // the largest sample lies below zero
    double endLevelDbfs = 0.0;   // RMS level of the last 50 ms
    double decayDbPerS = 0.0;    // least-squares slope of the 50 ms RMS level …
    double decayFitFromS = 0.2;  // … from this time to the end
    // How the renderer raises or lowers the peak against the ring, to reach the end level.
    enum class PeakControl {
        FastStage,  // the weight of every voice's fast decay stage, then the crest's sharpness
        AlignedVoiceGain  // the loudness of the voice that forms the peak
    };
    PeakControl peakControl = PeakControl::FastStage;
    // The rise time of the last voice that crests at the peak is chosen to put the peak in place.
    bool riseSetsPeakTime = true;
    std::vector<VoiceParams> voices;
};

constexpr double kSampleRateHz = 44100.0;

// The eight clips, in the order of their resource names' first use: strings low to high, then
// chords.
std::span<const ClipRecipe> clipRecipes();

}  // namespace lyravox::synthesis
