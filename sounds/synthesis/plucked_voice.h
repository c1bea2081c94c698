#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lyravox::synthesis {

// One plucked string, described by the quantities a player would hear: pitch, tone colour
// (the level of each partial), how fast it rises and rings away, and the pick's click.
// Partials decay in two stages, as real strings do: a fast stage (the vertical vibration
// that the bridge soaks up quickly) and a slow one that carries the ring.
struct VoiceParams {
    double fundamentalHz = 110.0;
    double onsetS = 0.0;  // clip time of the pluck; may lie before the clip's first sample
    double gainDb = 0.0;
    double inharmonicity = 0.0;  // stiffness coefficient B: partial k sits at k·f·√((1+Bk²)/(1+B))
    std::vector<double> partialLevelsDb;  // partials 1, 2, 3 … at the pluck
    double rolloffDbPerOctave = 12.0;     // for the partials past the listed ones
    double slowDecayDbPerS = 20.0;        // partial 1; higher partials ring away faster
    double decayGrowthPerPartial = 0.08;
    double fastDecayDbPerS = 90.0;
    double fastWeight = 0.3;      // share of each partial's amplitude in the fast stage
    double riseS = 0.005;         // rise time constant of partial 1; higher partials speak sooner
    double pickRampS = 0.0;       // the pick lets go of the string over this time
    double pickNoiseLevel = 0.2;  // relative to the strongest partial
    double pickNoiseDecayS = 0.004;
    double glideCents = 3.0;  // the string starts sharp while its tension settles
    double glideTimeS = 0.05;
    double dampAtS = -1.0;  // clip time at which a finger mutes the string; negative: never
    double dampDb = 20.0;
    double dampDurationS = 0.010;
    double dampedDecayDbPerS = 60.0;
    bool alignAtPeak = false;  // every partial at its crest at peakAlignS (a pluck's sharp corner)
    double phaseSpread = 0.0;  // 0: aligned partials crest together; 1: their phases are scattered
    double peakAlignS = 0.0;
    std::uint64_t seed = 1;
};

// Frequency of partial number `partial` (1-based) of this voice.
double partialFrequencyHz(const VoiceParams& voice, int partial);

// Envelope sum Σ amplitude_k(t) of the voice at time tS after its onset, without the pick click:
// the value the waveform reaches where all partials are at their crest.
double envelopeSum(const VoiceParams& voice, double tS);

// Adds the voice to `clip` (sample 0 at clip time 0).
void addPluckedVoice(std::span<double> clip, double sampleRateHz, const VoiceParams& voice);

}  // namespace lyravox::synthesis
