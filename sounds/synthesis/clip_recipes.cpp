#include "clip_recipe.h"

#include <algorithm>
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

// What sets one string's sound apart, beyond its pitch and the clip table's shape.
struct StringTone {
    double inharmonicity = 2.0e-5;
    double tuningCents = 0.0;
    double pluckPositionFraction = 0.15;
    // How fast the pluck's partials fall with their number: the rounder the bend the pick leaves
    // in the string, the faster. A thick wound string bends roundest.
    double excitationRolloffDbPerOctave = 6.0;
    std::vector<double> partialTrimDb = {};
    double bodyDriveDb = 0.0;
    double pickNoiseLevel = 0.3;
    double pickNoiseDurationS = 0.003;
    double fastWeight = 0.15;
    double fastDecayDbPerS = 50.0;
    double decayGrowthPerPartial = 0.08;
    double decayScatter = 0.4;
    double riseS = 0.002;  // negative: chosen so that the envelope crests at the peak time
    double alignedUpToHz = 1e9;
    double glideCents = 6.0;
    std::uint64_t seed = 1;
};

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
    StringTone tone;
};

// One guitar for every string: the air mode and the top plate's two lowest modes.
std::vector<BodyMode> guitarBody() {
    return {
            {104.0, 18.0, 6.0, -6.0},
            {200.0, 15.0, 4.0, -12.0},
            {400.0, 20.0, 4.0, -18.0},
    };
}

ClipRecipe stringClip(const StringRow& row) {
    const StringTone& tone = row.tone;
    VoiceParams voice;
    voice.fundamentalHz = equalTemperedHz(row.midiNote);
    voice.onsetS = row.leadingZeroCount > 0 ? zeroRunOnsetS(row.leadingZeroCount) : row.onsetS;
    voice.pickRampS = row.pickRampS;
    voice.inharmonicity = tone.inharmonicity;
    voice.tuningCents = tone.tuningCents;
    voice.pluckPositionFraction = tone.pluckPositionFraction;
    voice.excitationRolloffDbPerOctave = tone.excitationRolloffDbPerOctave;
    voice.partialTrimDb = tone.partialTrimDb;
    voice.body = guitarBody();
    voice.bodyLowCutHz = 100.0;
    voice.bodyDriveDb = tone.bodyDriveDb;
    voice.pickNoiseLevel = tone.pickNoiseLevel;
    voice.pickNoiseDurationS = tone.pickNoiseDurationS;
    voice.slowDecayDbPerS = row.decayDbPerS;
    voice.decayGrowthPerPartial = tone.decayGrowthPerPartial;
    voice.decayScatter = tone.decayScatter;
    voice.bodyLossDbPerS = 8.0;
    voice.fastDecayDbPerS = tone.fastDecayDbPerS;
    voice.fastWeight = tone.fastWeight;
    voice.riseS = std::max(tone.riseS, 0.0005);
    voice.fastRiseS = 0.0005;
    voice.alignedUpToHz = tone.alignedUpToHz;
    voice.spreadFromTop = true;
    voice.glideCents = tone.glideCents;
    // The pitch settles over the first tenth of a second or so: sharp to the ear at the pluck,
    // in tune by 0.2 s.
    voice.glideTimeS = tone.glideCents > 10.0 ? 0.065 : 0.08;
    voice.alignAtPeak = true;
    voice.peakAlignS = row.peakTimeS;
    voice.seed = tone.seed;

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
    recipe.riseSetsPeakTime = tone.riseS < 0.0;
    recipe.voices = {voice};
    return recipe;
}

struct ChordNote {
    int midiNote;
    double onsetS;
    double gainDb;
    double slowDecayDbPerS;
    double pluckPositionFraction;
    double excitationRolloffDbPerOctave;
    bool alignAtPeak;
    double dampAtS = -1.0;
    std::vector<double> partialTrimDb = {};  // an open string's, as its own clip has it
};

// Every note of a chord is a string of the same guitar, plucked as stringClip plucks one. A chord
// moves the body less than one string: with a lone string's thump, the air and plate modes ring
// into the low notes' bands and blur their entries.
ClipRecipe chordClip(std::string_view resourceName, std::size_t sampleCount,
                     std::size_t leadingZeroCount, double peakTimeS, double endLevelDbfs,
                     double decayDbPerS, double firstPickRampS, double pickNoiseLevel,
                     double fastWeight, double fastDecayDbPerS, double bodyDriveDb,
                     const std::vector<ChordNote>& notes, std::uint64_t seed) {
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
        voice.pluckPositionFraction = note.pluckPositionFraction;
        voice.excitationRolloffDbPerOctave = note.excitationRolloffDbPerOctave;
        voice.partialTrimDb = note.partialTrimDb;
        voice.body = guitarBody();
        voice.bodyLowCutHz = 100.0;
        voice.bodyLossDbPerS = 8.0;
        voice.bodyDriveDb = bodyDriveDb;
        voice.decayScatter = 0.4;
        voice.slowDecayDbPerS = note.slowDecayDbPerS;
        voice.fastDecayDbPerS = fastDecayDbPerS;
        voice.fastWeight = fastWeight;
        voice.pickNoiseLevel = pickNoiseLevel;
        voice.riseS = 0.004;
        voice.fastRiseS = 0.0005;
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
    // The pick's place and bend on each string, the body and each string's own losses set which
    // partial leads: the A's and D's first, the G's second, the high E's third (picked a seventh
    // of its length from the bridge, its fundamental and second are weak and its seventh all but
    // missing). The low E's and B's third leads only with a lift of its own that the model does
    // not yet account for. The low E's clip starts inside the attack, so its pluck lies a few
    // samples before the clip.
    const double lowEPeakDbfs = 20.0 * std::log10(32767.0 / 32768.0);
    // The open low E's and B's own lift of their third partial, alone and in a chord.
    const std::vector<double> thirdPartialLiftDb = {0, 0, 8};
    // clang-format off
    const std::vector<StringRow> strings = {
        // name note samples zeros onset(s) ramp(s) peak(s) peak(dBFS) negative end(dBFS) decay(dB/s)
        {"E",  40, 42400,   0, -0.0001, 0.0003, 0.063, lowEPeakDbfs, true, -32.7, 20.7,
            {.inharmonicity = 5.0e-5, .tuningCents = -0.38, .pluckPositionFraction = 0.19,
             .partialTrimDb = thirdPartialLiftDb, .glideCents = 5.0, .seed = 23}},
        {"A",  45, 53984, 130, 0.0, 0.0008, 0.055, -0.43, false, -39.3, 25.8,
            {.inharmonicity = 1.2e-5, .tuningCents = -0.08, .pluckPositionFraction = 0.195,
             .excitationRolloffDbPerOctave = 7.0, .riseS = -1.0, .glideCents = 40.0, .seed = 12}},
        {"D",  50, 72704, 583, 0.0, 0.0003, 0.029, -0.02, false, -45.0, 22.0,
            {.inharmonicity = 1.5e-5, .pluckPositionFraction = 0.19,
             .excitationRolloffDbPerOctave = 8.0, .fastWeight = 0.12, .fastDecayDbPerS = 35.0,
             .seed = 13}},
        {"G",  55, 64256, 456, 0.0, 0.0006, 0.037, -0.13, false, -47.8, 22.0,
            {.inharmonicity = 1.8e-5, .pluckPositionFraction = 0.185,
             .excitationRolloffDbPerOctave = 5.0, .seed = 50}},
        {"H",  59, 61952, 263, 0.0, 0.0004, 0.023, -0.07, false, -49.1, 29.7,
            {.inharmonicity = 4.5e-5, .tuningCents = -0.3, .pluckPositionFraction = 0.13,
             .partialTrimDb = thirdPartialLiftDb, .bodyDriveDb = -4.0,
             .pickNoiseLevel = 0.15, .fastWeight = 0.08, .fastDecayDbPerS = 35.0,
             .decayGrowthPerPartial = 0.02, .riseS = -1.0, .alignedUpToHz = 2500.0, .seed = 15}},
        // The thin plain high E hits the bridge hard for its size: the body's thump is much of
        // what the ear takes for its pluck.
        {"E1", 64, 50304, 646, 0.0, 0.0003, 0.027,  0.0,  true,  -45.7, 32.8,
            {.inharmonicity = 3.0e-5, .pluckPositionFraction = 0.14, .bodyDriveDb = 4.5,
             .pickNoiseLevel = 0.5, .pickNoiseDurationS = 0.005, .fastWeight = 0.06,
             .fastDecayDbPerS = 35.0, .decayGrowthPerPartial = 0.02, .decayScatter = 0.2,
             .seed = 16}},
    };
    // clang-format on

    std::vector<ClipRecipe> recipes;
    for (const StringRow& row : strings)
        recipes.push_back(stringClip(row));

    // E major picked from the low E upwards; the fretting fingers on E3 and G#3 lift at 1.39 s.
    // The low E and the B2 are struck hard and die fast, so the ring belongs to the upper notes.
    // E3 and G#3 are picked softer than they ring: E3's round bend leaves it few of the high
    // partials that lose most, so by 1.39 s the two carry over half the chord and lifting
    // them takes about 5 dB off it, while their entries stay below the crest at the peak. The
    // pick meets the low E a sixth of its length from the bridge (no sixth partial, B4) and the
    // open B near a sixth (its third, F#5, strongest); the open low E and B keep the lift of their
    // third partial that their own clips have. E3 bends round (its third, B4, weak); G#3 is
    // picked near the bridge, so its second and fourth (G#4, G#5) outgrow its fundamental.
    // Each note: MIDI note, onset (s), gain (dB), decay (dB/s), pick place, rolloff (dB/octave),
    // cresting at the peak, damped at (s), partial trim (dB).
    recipes.push_back(
            chordClip("CHORD1", 64768, 202, 0.668, -38.8, 33.9, 0.0016, 0.6, 0.12, 55.0, -8.0,
                      {
                              {40, 0.0, 0.5, 32.0, 0.167, 7.0, false, -1.0, thirdPartialLiftDb},
                              {47, 0.12, 3.0, 40.0, 0.2, 9.0, false},
                              {52, 0.25, 1.0, 15.0, 0.15, 13.0, true, 1.39},
                              {56, 0.38, -2.0, 17.0, 0.125, 4.5, true, 1.39},
                              {59, 0.51, -8.5, 20.0, 0.167, 4.0, true, -1.0, thirdPartialLiftDb},
                              {64, 0.622, 3.5, 24.8, 0.18, 8.0, true},
                      },
                      101));
    // G major picked from the low G upwards, every string plucked on the guitar's body. The low G
    // and the D are struck hard and die fast, so that the G3, B3 and G4, whose partials lead the
    // ring, carry it; the pick meets the low G a sixth of its length from the bridge, which leaves
    // out its sixth partial (D5).
    // Each note: MIDI note, onset (s), gain (dB), decay (dB/s), pick place, rolloff (dB/octave),
    // cresting at the peak.
    recipes.push_back(chordClip("CHORD2", 86944, 41, 0.402, -45.4, 26.6, 0.0012, 0.5, 0.3, 50.0,
                                -8.0,
                                {
                                        {43, 0.0, 4.0, 42.0, 0.167, 8.0, true},
                                        {47, 0.13, 0.0, 26.0, 0.18, 10.0, true},
                                        {50, 0.25, 1.5, 40.0, 0.15, 10.0, true},
                                        {55, 0.38, 0.3, 30.0, 0.15, 7.0, true},
                                        {59, 0.51, -2.0, 26.0, 0.145, 5.0, false},
                                        {67, 0.63, -1.0, 24.0, 0.18, 10.0, false},
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
