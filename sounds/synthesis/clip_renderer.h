#pragma once

#include "clip_recipe.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace lyravox::synthesis {

// What the renderer reached, measured on the finished 16-bit samples.
struct ClipShape {
    double peakTimeS = 0.0;
    double peakDbfs = 0.0;
    double decayDbPerS = 0.0;
    double endLevelDbfs = 0.0;
    double decayScale = 1.0;  // the tuning it settled on
    double peakiness = 0.0;
};

struct RenderedClip {
    std::vector<std::int16_t> samples;
    ClipShape shape;
};

// A recipe the renderer cannot meet (a peak in the wrong place, a zero run of the wrong
// length): the build stops rather than embed a clip that is not what it claims to be.
class RecipeNotMet : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Renders the recipe, tuning the decay and the fast stage's weight until the clip's decay rate
// and end level are the recipe's; then normalises the peak and quantises to 16 bits.
RenderedClip renderClip(const ClipRecipe& recipe);

}  // namespace lyravox::synthesis
