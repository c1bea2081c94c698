#include "clip_recipe.h"

#include <cmath>

namespace lyravox::synthesis {
namespace {

// Equal temperament with A4 (note 69) at 440 Hz: a tuning reference must be exactly in tune.
double equalTemperedHz(int midiNote) {
    return 440.0 * std::exp2((midiNote - 69) / 12.0);
}

double zeroRunOnsetS(std::size_t leadingZeroCount) {
    // Half a sample before the first non-zero sample, so that sample already carries the pluck.
    return (static_cast<double>(leadingZeroCount) - 0.5) / kSampleRateHz;
}

struct StringRow {
    std::string_view resourceName;
    int midiNote;
    std::size_t sampleCount;
    std::size_t leadingZeroCount;
    double onsetS;  // used where the clip starts inside the attack (no zero run)
    double pickRampS;
    double peakTimeS;
    double peakDbfs;
    bool negativePeak;
    double endLevelDbfs;
    double decayDbPerS;
    double inharmonicity;
    std::vector<double> partialLevelsDb;
    double fastDecayDbPerS;
    double glideCents;
    std::uint64_t seed;
};

ClipRecipe stringClip(const StringRow& row) {
    VoiceParams voice;
    voice.fundamentalHz = equalTemperedHz(row.midiNote);
    voice.onsetS = row.leadingZeroCount > 0 ? zeroRunOnsetS(row.leadingZeroCount) : row.onsetS;
    voice.pickRampS = row.pickRampS;
    voice.inharmonicity = row.inharmonicity;
    voice.partialLevelsDb = row.partialLevelsDb;
    voice.slowDecayDbPerS = row.decayDbPerS;
    voice.fastDecayDbPerS = row.fastDecayDbPerS;
    voice.glideCents = row.glideCents;
    // The pitch settles over the first tenth of a second or so: sharp to the ear at the pluck,
    // in tune by 0.2 s.
    voice.glideTimeS = row.glideCents > 10.0 ? 0.065 : 0.08;
    voice.alignAtPeak = true;
    voice.peakAlignS = row.peakTimeS;
    voice.seed = row.seed;

    ClipRecipe recipe;
    recipe.resourceName = row.resourceName;
    recipe.sampleCount = row.sampleCount;
    recipe.leadingZeroCount = row.leadingZeroCount;
    recipe.peakTimeS = row.peakTimeS;
    recipe.peakDbfs = row.peakDbfs;
    recipe.negativePeak = row.negativePeak;
    recipe.endLevelDbfs = row.endLevelDbfs;
    recipe.decayDbPerS = row.decayDbPerS;
    recipe.decayFitFromS = 0.2;
    recipe.voices = {voice};
    return recipe;
}

struct ChordNote {
    int midiNote;
    double onsetS;
    double gainDb;
    double slowDecayDbPerS;
    std::vector<double> partialLevelsDb;
    bool alignAtPeak;
    double dampAtS = -1.0;
};

ClipRecipe chordClip(std::string_view resourceName, std::size_t sampleCount,
                     std::size_t leadingZeroCount, double peakTimeS, double endLevelDbfs,
                     double decayDbPerS, double firstPickRampS, const std::vector<ChordNote>& notes,
                     std::uint64_t seed) {
    ClipRecipe recipe;
    recipe.resourceName = resourceName;
    recipe.sampleCount = sampleCount;
    recipe.leadingZeroCount = leadingZeroCount;
    recipe.peakTimeS = peakTimeS;
    recipe.peakDbfs = 0.0;
    recipe.negativePeak = true;
    recipe.endLevelDbfs = endLevelDbfs;
    recipe.decayDbPerS = decayDbPerS;
    recipe.decayFitFromS = 0.7;
    recipe.peakControl = ClipRecipe::PeakControl::AlignedVoiceGain;
    for (const ChordNote& note : notes) {
        VoiceParams voice;
        voice.fundamentalHz = equalTemperedHz(note.midiNote);
        voice.onsetS = note.onsetS;
        voice.gainDb = note.gainDb;
        voice.inharmonicity = 3e-5;
        voice.partialLevelsDb = note.partialLevelsDb;
        voice.slowDecayDbPerS = note.slowDecayDbPerS;
        voice.fastDecayDbPerS = 70.0;
        voice.fastWeight = 0.0;
        voice.riseS = 0.004;
        voice.alignAtPeak = note.alignAtPeak;
        voice.peakAlignS = peakTimeS;
        voice.dampAtS = note.dampAtS;
        voice.seed = seed++;
        recipe.voices.push_back(voice);
    }
    // The first note starts with the first non-zero sample.
    recipe.voices.front().onsetS = zeroRunOnsetS(leadingZeroCount);
    recipe.voices.front().pickRampS = firstPickRampS;
    return recipe;
}

std::vector<ClipRecipe> makeRecipes() {
    // Partial levels follow the tone of each string as it leaves the pickup: the low E's third
    // partial, the G's second and fourth, the B's and high E's third lead. The low E's clip starts
    // inside the attack, so its pluck lies a few samples before the clip.
    const double lowEPeakDbfs = 20.0 * std::log10(32767.0 / 32768.0);
    // clang-format off
    const std::vector<StringRow> strings = {
        // name note samples zeros onset(s) ramp(s) peak(s) peak(dBFS) negative end(dBFS) decay(dB/s)
        //   inharmonicity  partial levels 1-8 (dB)  fast decay(dB/s)  glide(cents)  seed
        {"E",  40, 42400,   0, -0.00035, 0.0003, 0.063, lowEPeakDbfs, true, -32.7, 20.7,
            1.0e-5, {-8, -4, 0, -5, -7, -10, -12, -14}, 80.0, 6.0, 23},
        {"A",  45, 53984, 130, 0.0, 0.0008, 0.055, -0.43, false, -39.3, 25.8,
            1.2e-5, {0, -3, -6, -8, -10, -13, -15, -18}, 80.0, 40.0, 12},
        {"D",  50, 72704, 583, 0.0, 0.0003, 0.029, -0.02, false, -45.0, 22.0,
            1.5e-5, {0, -1.5, -6, -9, -11, -13, -16, -19}, 80.0, 6.0, 13},
        {"G",  55, 64256, 456, 0.0, 0.0006, 0.037, -0.13, false, -47.8, 22.0,
            1.8e-5, {-6, 0, -5, -0.5, -9, -12, -14, -17}, 80.0, 6.0, 14},
        {"H",  59, 61952, 263, 0.0, 0.0004, 0.023, -0.07, false, -49.1, 29.7,
            2.0e-5, {-6, -3, 0, -6, -8, -11, -14, -17}, 80.0, 6.0, 15},
        {"E1", 64, 50304, 646, 0.0, 0.0003, 0.027,  0.0,  true,  -45.7, 32.8,
            2.0e-5, {-5, -2, 0, -7, -10, -13, -16, -20}, 80.0, 6.0, 16},
    };
    // clang-format on

    std::vector<ClipRecipe> recipes;
    for (const StringRow& row : strings)
        recipes.push_back(stringClip(row));

    // E major picked from the low E upwards; the fretting fingers on E3 and G#3 lift at 1.39 s.
    recipes.push_back(chordClip(
            "CHORD1", 64768, 202, 0.668, -38.8, 33.9, 0.0016,
            {
                    {40, 0.0, -4.0, 20.0, {-12, -6, -6, -4, -10, -12, -14, -16}, false},
                    {47, 0.12, -6.5, 20.0, {-10, -4, -5.6, -6, -10, -8, -12, -8}, false},
                    {52, 0.25, -5.0, 17.6, {-2.8, -10, -16, -8, -10, -14, -16, -24}, true, 1.39},
                    {56, 0.38, -6.5, 18.8, {-10, 0, -12, -4, -14, -16, -18, -20}, true, 1.39},
                    {59, 0.51, -5.5, 27.0, {-5, -14, -1.9, -8, -14, -15, -17, -19}, true},
                    // E4 swells into the chord's peak; it is picked a little early so that its slow
                    // rise is heard to enter at 0.63 s.
                    {64, 0.622, 3.5, 24.8, {-13, -12, -9, -22, -20, -22, -24, -26}, true},
            },
            101));
    // G major picked from the low G upwards.
    recipes.push_back(
            chordClip("CHORD2", 86944, 41, 0.402, -45.4, 26.6, 0.0012,
                      {
                              {43, 0.0, 1.0, 26.0, {-10, -4, -6, -6, -8, -12, -14, -16}, true},
                              {47, 0.13, 0.0, 26.0, {-5, -4, -9, -8, -10, -12, -14, -16}, true},
                              {50, 0.25, -1.5, 30.0, {-4, -3, -10, -12, -14, -16, -18, -20}, true},
                              {55, 0.38, -2.0, 26.0, {-6, -3, -10, -4, -14, -16, -18, -20}, true},
                              {59, 0.51, -2.0, 26.0, {-2, -4, 0, -1, -14, -15, -17, -19}, false},
                              {67, 0.63, 0.0, 24.0, {0, -5, -20, -18, -18, -20, -22, -24}, false},
                      },
                      201));
    return recipes;
}

}  // namespace

std::span<const ClipRecipe> clipRecipes() {
    static const std::vector<ClipRecipe> recipes = makeRecipes();
    return recipes;
}

}  // namespace lyravox::synthesis
