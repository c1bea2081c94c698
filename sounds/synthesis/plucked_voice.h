#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

namespace lyravox::synthesis {

// One resonance of the guitar's body: the air in it near 100 Hz, the top plate above. The pluck
// drives it, so it rings on its own for a few tens of milliseconds (its Q), and it colours every
// partial near it (its gain).
struct BodyMode {
    double frequencyHz = 100.0;
    double q = 15.0;
    double gainDb = 0.0;     // the body's response at the mode, against 0 dB far from every mode
    double ringDb = -200.0;  // its own ringing after the pluck, against the strongest partial
};

// One plucked string on a guitar body. The pick leaves the string in a shape whose partials fall
// off with their number and vanish where the pluck point is a node of theirs; the body filters
// what reaches the listener. Each partial vibrates in two polarisations: across the top
// (vertical), which the bridge drains quickly, and along it (horizontal), which rings on a little
// off in pitch, so the two beat and the partial's decay bends. Losses grow with frequency, stray
// a little from string to string of partials, and are highest where a partial meets a body mode.
struct VoiceParams {
    double fundamentalHz = 110.0;
    double onsetS = 0.0;  // clip time of the pluck; may lie before the clip's first sample
    double gainDb = 0.0;
    double inharmonicity = 0.0;  // stiffness coefficient B: partial k sits at k·f·√((1+Bk²)/(1+B))
    double tuningCents = 0.0;  // a stiff string's repetition rate lies above its first partial

    double pluckPositionFraction = 0.15;  // pick's distance from the bridge, as a share of length
    double excitationRolloffDbPerOctave = 6.0;
    double highestPartialHz = 14000.0;
    std::vector<BodyMode> body;
    double bodyLowCutHz = 0.0;  // below the air mode the body radiates ever less (12 dB/octave)
    double bodyDriveDb = 0.0;   // added to every mode's ringDb: how hard the pluck moves the body
    // What one string's tone adds to excitation × body on its lowest partials (dB): the body does
    // not answer every string alike, as where and how the string meets the bridge differ.
    std::vector<double> partialTrimDb;

    double slowDecayDbPerS = 20.0;  // horizontal polarisation of partial 1
    double decayGrowthPerPartial = 0.08;
    double decayScatter = 0.0;  // each partial's loss strays from the trend by up to ± this share
    double bodyLossDbPerS = 0.0;    // extra loss of a partial that sits on a body mode
    double fastDecayDbPerS = 90.0;  // vertical polarisation, at least the horizontal's rate
    double fastWeight = 0.3;   // share of each partial's amplitude in the vertical polarisation
    double detuneMinHz = 0.1;  // the vertical polarisation's offset in pitch, seeded per partial
    double detuneMaxHz = 1.5;
    double riseS = 0.005;         // rise time constant of the horizontal polarisation's partial 1
    double fastRiseS = 0.0;       // the same for the vertical one; higher partials speak sooner
    double pickRampS = 0.0;       // the pick lets go of the string over this time
    double pickNoiseLevel = 0.2;  // the pick's scrape on the string, against the strongest partial
    double pickNoiseDurationS = 0.003;
    double glideCents = 3.0;  // the string starts sharp while its tension settles
    double glideTimeS = 0.05;
    double dampAtS = -1.0;  // clip time at which a finger mutes the string; negative: never
    double dampDb = 20.0;
    double dampDurationS = 0.010;
    double dampedDecayDbPerS = 60.0;
    bool alignAtPeak = false;  // every partial at its crest at peakAlignS (a pluck's sharp corner)
    // 0: aligned partials crest together; 1: their phases are scattered. With spreadFromTop the
    // highest partials scatter first and the fundamental last, so that a half-scattered crest
    // stays in place.
    double phaseSpread = 0.0;
    bool spreadFromTop = false;
    // A stiff string's high partials run ahead of the pluck's corner, so by the peak they no
    // longer crest with it.
    double alignedUpToHz = 1e9;
    double peakAlignS = 0.0;
    std::uint64_t seed = 1;
};

// Frequency of partial number `partial` (1-based) of this voice.
double partialFrequencyHz(const VoiceParams& voice, int partial);

// Level (dB) of partial `partial` at the pluck, before the voice's gain: excitation × body.
double partialLevelDb(const VoiceParams& voice, int partial);

// Envelope sum Σ amplitude(t) of the voice's partials and body modes at each of timesS after its
// onset, without the pick's scrape: the value the waveform reaches where all of them crest.
std::vector<double> envelopeSums(const VoiceParams& voice, std::span<const double> timesS);

// Envelope sums of one voice at fixed times for any rise time of its horizontal polarisation:
// the renderer searches that rise time, and all else in the sums stays as it is.
class EnvelopeSumsByRise {
public:
    EnvelopeSumsByRise(const VoiceParams& voice, std::span<const double> timesS);

    // Bit for bit envelopeSums() of the voice with this riseS.
    std::vector<double> sums(double riseS) const;

private:
    struct Slow {
        double amplitude;
        double rootK;
        double nepersPerS;
    };
    std::vector<double> timesS_;
    std::vector<double> dampGains_;
    // Per time, in the voice's component order: a slow polarisation's decay, or a fixed
    // component's whole term.
    std::vector<double> terms_;
    std::vector<Slow> slow_;
    std::vector<bool> isSlow_;
};

// What stays the same when one voice is rendered again with another decay, weight, phase
// spread or gain, as the renderer's tuning does dozens of times: the time base, the pick's
// scrape through the body, and each partial's cosine. Reusing it changes no sample.
class VoiceRenderCache {
public:
    struct Voice;

    VoiceRenderCache();
    ~VoiceRenderCache();
    VoiceRenderCache(const VoiceRenderCache&) = delete;
    VoiceRenderCache& operator=(const VoiceRenderCache&) = delete;

    Voice& voice(const std::vector<std::uint64_t>& key);

private:
    std::map<std::vector<std::uint64_t>, std::unique_ptr<Voice>> voices_;
};

// Adds the voice to `clip` (sample 0 at clip time 0). With a cache, work shared with earlier
// renders of the same voice is taken from it.
void addPluckedVoice(std::span<double> clip, double sampleRateHz, const VoiceParams& voice,
                     VoiceRenderCache* cache = nullptr);

// What a tuning step reads of a clip: its largest sample magnitude and its last samples.
struct ClipProbe {
    double peakMagnitude = 0.0;
    std::vector<double> tail;
};

// The probe of the clip that adding the voices, in order, to clipSize zero samples would make,
// bit for bit, computing only the samples that could hold the peak.
ClipProbe probeVoices(std::size_t clipSize, double sampleRateHz,
                      std::span<const VoiceParams> voices, std::size_t tailSamples,
                      VoiceRenderCache& cache);

}  // namespace lyravox::synthesis
