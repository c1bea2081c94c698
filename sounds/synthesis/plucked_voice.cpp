#include "plucked_voice.h"

#include "pseudo_random.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lyravox::synthesis {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Partials above this add nothing a listener hears from a guitar pickup or a room.
constexpr double kHighestPartialHz = 7000.0;
constexpr int kMostPartials = 100;

double dbToAmplitude(double db) {
    return std::pow(10.0, db / 20.0);
}

// Decay of a dB-per-second rate over one second, as a natural-log rate.
double nepersPerS(double dbPerS) {
    return dbPerS * std::numbers::ln10 / 20.0;
}

struct Partial {
    double frequencyHz;
    double amplitude;
    double riseS;
    double slowNepersPerS;
    double fastNepersPerS;
};

std::vector<Partial> partialsOf(const VoiceParams& voice) {
    std::vector<Partial> partials;
    const double gain = dbToAmplitude(voice.gainDb);
    for (int k = 1; k <= kMostPartials; ++k) {
        const double frequencyHz = partialFrequencyHz(voice, k);
        if (frequencyHz > kHighestPartialHz)
            break;
        const auto listed = static_cast<int>(voice.partialLevelsDb.size());
        const double levelDb = k <= listed
                                       ? voice.partialLevelsDb[k - 1]
                                       : voice.partialLevelsDb.back() -
                                                 voice.rolloffDbPerOctave *
                                                         std::log2(static_cast<double>(k) / listed);
        const double slowDbPerS =
                voice.slowDecayDbPerS * (1.0 + voice.decayGrowthPerPartial * (k - 1));
        partials.push_back({frequencyHz, gain * dbToAmplitude(levelDb),
                            voice.riseS / std::sqrt(static_cast<double>(k)), nepersPerS(slowDbPerS),
                            nepersPerS(std::max(voice.fastDecayDbPerS, slowDbPerS))});
    }
    return partials;
}

double partialEnvelope(const VoiceParams& voice, const Partial& p, double tS) {
    if (tS < 0.0)
        return 0.0;
    const double rise = 1.0 - std::exp(-tS / p.riseS);
    return p.amplitude * rise *
           ((1.0 - voice.fastWeight) * std::exp(-p.slowNepersPerS * tS) +
            voice.fastWeight * std::exp(-p.fastNepersPerS * tS));
}

// Time as the string's phase sees it: slightly ahead while the pitch glides down to rest.
double warpedTimeS(const VoiceParams& voice, double tS) {
    const double glide = std::exp2(voice.glideCents / 1200.0) - 1.0;
    return tS + glide * voice.glideTimeS * (1.0 - std::exp(-tS / voice.glideTimeS));
}

// Gain of the muting finger at time tS after the onset: a raised-cosine drop, then a faster
// ring-out.
double dampGain(const VoiceParams& voice, double tS) {
    if (voice.dampAtS < 0.0)
        return 1.0;
    const double sinceS = tS + voice.onsetS - voice.dampAtS;
    if (sinceS <= 0.0)
        return 1.0;
    const double floor = dbToAmplitude(-voice.dampDb);
    if (sinceS < voice.dampDurationS) {
        const double x = 0.5 - 0.5 * std::cos(std::numbers::pi * sinceS / voice.dampDurationS);
        return 1.0 + (floor - 1.0) * x;
    }
    return floor * std::exp(-nepersPerS(voice.dampedDecayDbPerS) * (sinceS - voice.dampDurationS));
}

}  // namespace

double partialFrequencyHz(const VoiceParams& voice, int partial) {
    const double k = partial;
    const double b = voice.inharmonicity;
    return k * voice.fundamentalHz * std::sqrt((1.0 + b * k * k) / (1.0 + b));
}

double envelopeSum(const VoiceParams& voice, double tS) {
    double sum = 0.0;
    for (const Partial& p : partialsOf(voice))
        sum += partialEnvelope(voice, p, tS);
    return sum * dampGain(voice, tS);
}

void addPluckedVoice(std::span<double> clip, double sampleRateHz, const VoiceParams& voice) {
    const std::vector<Partial> partials = partialsOf(voice);
    PseudoRandom random(voice.seed);

    const auto firstSample =
            static_cast<std::size_t>(std::max(0.0, std::ceil(voice.onsetS * sampleRateHz)));
    if (firstSample >= clip.size())
        return;
    const std::size_t length = clip.size() - firstSample;
    const double firstTimeS = static_cast<double>(firstSample) / sampleRateHz - voice.onsetS;

    // What every partial shares, per sample: the gliding time base and the gain of the pick's
    // release and of a muting finger.
    std::vector<double> warpS(length), gain(length);
    for (std::size_t i = 0; i < length; ++i) {
        const double tS = firstTimeS + static_cast<double>(i) / sampleRateHz;
        warpS[i] = warpedTimeS(voice, tS);
        const double ramp = tS < voice.pickRampS
                                    ? 0.5 - 0.5 * std::cos(std::numbers::pi * tS / voice.pickRampS)
                                    : 1.0;
        gain[i] = ramp * dampGain(voice, tS);
    }

    double strongest = 0.0;
    for (const Partial& p : partials)
        strongest = std::max(strongest, p.amplitude);
    const double inaudible = strongest * 1e-5;

    std::vector<double> voiceSamples(length, 0.0);
    const double alignWarpS = warpedTimeS(voice, voice.peakAlignS - voice.onsetS);
    for (const Partial& p : partials) {
        const double scatter = kTwoPi * (random.unit() - 0.5);
        const double phase = voice.alignAtPeak ? -kTwoPi * p.frequencyHz * alignWarpS +
                                                         voice.phaseSpread * scatter
                                               : scatter;
        // Envelopes advance by one constant factor per sample instead of an exp() per sample.
        double slow =
                p.amplitude * (1.0 - voice.fastWeight) * std::exp(-p.slowNepersPerS * firstTimeS);
        double fast = p.amplitude * voice.fastWeight * std::exp(-p.fastNepersPerS * firstTimeS);
        double riseRemainder = std::exp(-firstTimeS / p.riseS);
        const double slowStep = std::exp(-p.slowNepersPerS / sampleRateHz);
        const double fastStep = std::exp(-p.fastNepersPerS / sampleRateHz);
        const double riseStep = std::exp(-1.0 / (p.riseS * sampleRateHz));
        for (std::size_t i = 0; i < length && (riseRemainder > 0.5 || slow + fast > inaudible);
             ++i) {
            voiceSamples[i] += (1.0 - riseRemainder) * (slow + fast) *
                               std::cos(kTwoPi * p.frequencyHz * warpS[i] + phase);
            slow *= slowStep;
            fast *= fastStep;
            riseRemainder *= riseStep;
        }
    }

    // The pick's click: low-passed noise dying within milliseconds, a dull knock rather than hiss.
    const double noiseAmplitude = voice.pickNoiseLevel * strongest;
    const double noiseSmoothing = std::exp(-kTwoPi * 2500.0 / sampleRateHz);
    const double noiseStep = std::exp(-1.0 / (voice.pickNoiseDecayS * sampleRateHz));
    double noiseEnvelope = noiseAmplitude * std::exp(-firstTimeS / voice.pickNoiseDecayS);
    double noiseState = 0.0;
    for (std::size_t i = 0; i < length && noiseEnvelope > inaudible; ++i) {
        noiseState =
                noiseSmoothing * noiseState + (1.0 - noiseSmoothing) * (2.0 * random.unit() - 1.0);
        voiceSamples[i] += 4.0 * noiseEnvelope * noiseState;
        noiseEnvelope *= noiseStep;
    }

    for (std::size_t i = 0; i < length; ++i)
        clip[firstSample + i] += voiceSamples[i] * gain[i];
}

}  // namespace lyravox::synthesis
