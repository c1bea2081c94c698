#include "plucked_voice.h"

#include "pseudo_random.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

namespace lyravox::synthesis {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMostPartials = 400;
constexpr double kSampleRateForBodyHz = 44100.0;
// Below this Q a mode only shapes the tone; it is too broad to be heard ringing.
constexpr double kRingingQ = 5.0;

double dbToAmplitude(double db) {
    return std::pow(10.0, db / 20.0);
}

// Decay of a dB-per-second rate over one second, as a natural-log rate.
double nepersPerS(double dbPerS) {
    return dbPerS * std::numbers::ln10 / 20.0;
}

// Band-pass biquad with 0 dB at its centre (the cookbook's constant-peak form), so a mode's gain
// says how far it lifts the response there.
struct BandPass {
    double b0, b2, a1, a2;

    BandPass(const BodyMode& mode, double sampleRateHz) {
        const double w0 = kTwoPi * mode.frequencyHz / sampleRateHz;
        const double alpha = std::sin(w0) / (2.0 * mode.q);
        const double a0 = 1.0 + alpha;
        b0 = alpha / a0;
        b2 = -alpha / a0;
        a1 = -2.0 * std::cos(w0) / a0;
        a2 = (1.0 - alpha) / a0;
    }

    std::complex<double> response(double frequencyHz, double sampleRateHz) const {
        const std::complex<double> z1 = std::polar(1.0, -kTwoPi * frequencyHz / sampleRateHz);
        const std::complex<double> z2 = z1 * z1;
        return (b0 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
    }
};

double modeLift(const BodyMode& mode) {
    return dbToAmplitude(mode.gainDb) - 1.0;
}

// The body's response: 1 far from every mode, each mode adding its band-pass.
double bodyResponse(const VoiceParams& voice, double frequencyHz) {
    std::complex<double> h = 1.0;
    for (const BodyMode& mode : voice.body)
        h += modeLift(mode) *
             BandPass(mode, kSampleRateForBodyHz).response(frequencyHz, kSampleRateForBodyHz);
    const double r = voice.bodyLowCutHz / frequencyHz;
    return std::abs(h) / std::sqrt(1.0 + r * r * r * r);
}

// How much of a ringing mode's band a partial at frequencyHz lies in (1 at its centre).
double bodyCoupling(const VoiceParams& voice, double frequencyHz) {
    double coupling = 0.0;
    for (const BodyMode& mode : voice.body) {
        if (mode.q < kRingingQ)
            continue;
        const double detuning =
                mode.q * (frequencyHz / mode.frequencyHz - mode.frequencyHz / frequencyHz);
        coupling += 1.0 / (1.0 + detuning * detuning);
    }
    return coupling;
}

// One decaying sinusoid: a polarisation of a partial, or a body mode.
struct Component {
    double frequencyHz;
    double amplitude;
    double riseS;
    double nepersPerS;
    bool glides;  // follows the string's settling pitch; the body's modes do not
    bool sameStartAsPrevious = false;  // the other polarisation of the same partial
};

std::vector<Component> componentsOf(const VoiceParams& voice) {
    std::vector<Component> components;
    // A stream of its own, so that the phases and the scrape do not depend on how many partials
    // there are.
    PseudoRandom random(voice.seed * 0x9E3779B97F4A7C15ULL + 7);
    const double gain = dbToAmplitude(voice.gainDb);
    double strongest = 0.0;
    for (int k = 1; k <= kMostPartials; ++k) {
        const double frequencyHz = partialFrequencyHz(voice, k);
        if (frequencyHz > voice.highestPartialHz)
            break;
        const double amplitude = gain * dbToAmplitude(partialLevelDb(voice, k));
        strongest = std::max(strongest, amplitude);
        const double scatter = 1.0 + voice.decayScatter * (2.0 * random.unit() - 1.0);
        // The fundamental carries the pitch the ear and a tuner read, so its two polarisations
        // lie closest together.
        const double detuneHz =
                voice.detuneMinHz +
                (k == 1 ? 0.0 : (voice.detuneMaxHz - voice.detuneMinHz) * random.unit());
        const double slowDbPerS =
                voice.slowDecayDbPerS * (1.0 + voice.decayGrowthPerPartial * (k - 1)) * scatter +
                voice.bodyLossDbPerS * bodyCoupling(voice, frequencyHz);
        const double rootK = std::sqrt(static_cast<double>(k));
        components.push_back({frequencyHz, amplitude * (1.0 - voice.fastWeight),
                              voice.riseS / rootK, nepersPerS(slowDbPerS), true});
        components.push_back({frequencyHz + (random.unit() < 0.5 ? -detuneHz : detuneHz),
                              amplitude * voice.fastWeight, voice.fastRiseS / rootK,
                              nepersPerS(std::max(voice.fastDecayDbPerS, slowDbPerS)), true, true});
    }
    for (const BodyMode& mode : voice.body) {
        if (mode.q < kRingingQ)
            continue;
        components.push_back({mode.frequencyHz,
                              strongest * dbToAmplitude(mode.ringDb + voice.bodyDriveDb),
                              voice.pickNoiseDurationS / 2.0,
                              std::numbers::pi * mode.frequencyHz / mode.q, false});
    }
    return components;
}

// The rise's remainder falls towards zero through the subnormal numbers, each product of which
// costs a hundred times a normal one. Below 2⁻⁵⁴ it no longer changes 1 − remainder, the only way
// it enters a sample, so it may as well be zero.
double nextRiseRemainder(double remainder, double step) {
    const double next = remainder * step;
    return next <= 0x1.0p-54 ? 0.0 : next;
}

double riseOf(const Component& c, double tS) {
    return c.riseS > 0.0 ? 1.0 - std::exp(-tS / c.riseS) : 1.0;
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
    return k * voice.fundamentalHz * std::exp2(voice.tuningCents / 1200.0) *
           std::sqrt((1.0 + b * k * k) / (1.0 + b));
}

double partialLevelDb(const VoiceParams& voice, int partial) {
    // A string pulled aside at one point: the partials whose node lies there are not excited.
    const double comb =
            std::abs(std::sin(std::numbers::pi * partial * voice.pluckPositionFraction));
    const double trimDb = partial <= static_cast<int>(voice.partialTrimDb.size())
                                  ? voice.partialTrimDb[static_cast<std::size_t>(partial - 1)]
                                  : 0.0;
    return trimDb + 20.0 * std::log10(std::max(comb, 1e-4)) -
           voice.excitationRolloffDbPerOctave * std::log2(static_cast<double>(partial)) +
           20.0 * std::log10(bodyResponse(voice, partialFrequencyHz(voice, partial)));
}

std::vector<double> envelopeSums(const VoiceParams& voice, std::span<const double> timesS) {
    const std::vector<Component> components = componentsOf(voice);
    std::vector<double> sums;
    sums.reserve(timesS.size());
    for (const double tS : timesS) {
        double sum = 0.0;
        if (tS >= 0.0) {
            for (const Component& c : components)
                sum += c.amplitude * riseOf(c, tS) * std::exp(-c.nepersPerS * tS);
        }
        sums.push_back(sum * dampGain(voice, tS));
    }
    return sums;
}

EnvelopeSumsByRise::EnvelopeSumsByRise(const VoiceParams& voice, std::span<const double> timesS)
    : timesS_(timesS.begin(), timesS.end()) {
    const std::vector<Component> components = componentsOf(voice);
    int partial = 0;
    for (const Component& c : components) {
        const bool slow = c.glides && !c.sameStartAsPrevious;
        isSlow_.push_back(slow);
        if (slow) {
            ++partial;
            slow_.push_back({c.amplitude, std::sqrt(static_cast<double>(partial)), c.nepersPerS});
        }
    }
    dampGains_.reserve(timesS_.size());
    terms_.reserve(timesS_.size() * components.size());
    for (const double tS : timesS_) {
        dampGains_.push_back(dampGain(voice, tS));
        if (tS < 0.0)
            continue;
        for (std::size_t n = 0; n < components.size(); ++n) {
            const Component& c = components[n];
            const double decay = std::exp(-c.nepersPerS * tS);
            terms_.push_back(isSlow_[n] ? decay : c.amplitude * riseOf(c, tS) * decay);
        }
    }
}

std::vector<double> EnvelopeSumsByRise::sums(double riseS) const {
    // The same sums in the same order as envelopeSums(), with only the rise left to compute.
    std::vector<double> sums;
    sums.reserve(timesS_.size());
    const double* term = terms_.data();
    for (std::size_t t = 0; t < timesS_.size(); ++t) {
        const double tS = timesS_[t];
        double sum = 0.0;
        if (tS >= 0.0) {
            auto slow = slow_.begin();
            for (const bool isSlow : isSlow_) {
                if (isSlow) {
                    const double componentRiseS = riseS / slow->rootK;
                    const double rise =
                            componentRiseS > 0.0 ? 1.0 - std::exp(-tS / componentRiseS) : 1.0;
                    sum += slow->amplitude * rise * *term;
                    ++slow;
                } else {
                    sum += *term;
                }
                ++term;
            }
        }
        sums.push_back(sum * dampGains_[t]);
    }
    return sums;
}

struct VoiceRenderCache::Voice {
    // One component's cos(ωt + φ) per sample, as far as any render has needed it.
    struct Wave {
        std::uint64_t phaseBits;
        std::uint64_t lastUse;
        std::vector<double> values;
    };
    // A tuning that scatters phases tries a new phase on every try; keeping the last two per
    // component keeps the aligned one without holding every one tried.
    static constexpr std::size_t kWavesPerComponent = 2;

    bool prepared = false;
    std::vector<double> warpS, plainS, gain;
    std::vector<double> noise;  // the scrape as heard through the body, before its level
    double noiseRms = 0.0;
    std::map<std::pair<std::uint64_t, bool>, std::vector<Wave>> waves;
    std::uint64_t uses = 0;
    // cos(ωt) of components that have no wave to start from.
    std::map<std::pair<std::uint64_t, bool>, std::vector<double>> zeroPhaseWaves;

    // A wave of the component at any phase lasting at least `samples`, or null.
    const Wave* waveLasting(double frequencyHz, bool glides, std::size_t samples) const {
        const auto slots = waves.find({std::bit_cast<std::uint64_t>(frequencyHz), glides});
        if (slots == waves.end())
            return nullptr;
        for (const Wave& w : slots->second) {
            if (w.values.size() >= samples)
                return &w;
        }
        return nullptr;
    }

    const std::vector<double>* knownWave(double frequencyHz, bool glides, double phase) const {
        const auto slots = waves.find({std::bit_cast<std::uint64_t>(frequencyHz), glides});
        if (slots == waves.end())
            return nullptr;
        for (const Wave& w : slots->second) {
            if (w.phaseBits == std::bit_cast<std::uint64_t>(phase))
                return &w.values;
        }
        return nullptr;
    }

    std::vector<double>& wave(double frequencyHz, bool glides, double phase) {
        std::vector<Wave>& slots = waves[{std::bit_cast<std::uint64_t>(frequencyHz), glides}];
        const auto phaseBits = std::bit_cast<std::uint64_t>(phase);
        ++uses;
        for (Wave& w : slots) {
            if (w.phaseBits == phaseBits) {
                w.lastUse = uses;
                return w.values;
            }
        }
        if (slots.size() < kWavesPerComponent) {
            slots.push_back({phaseBits, uses, {}});
            return slots.back().values;
        }
        Wave& oldest =
                *std::min_element(slots.begin(), slots.end(), [](const Wave& a, const Wave& b) {
                    return a.lastUse < b.lastUse;
                });
        oldest = {phaseBits, uses, {}};
        return oldest.values;
    }
};

VoiceRenderCache::VoiceRenderCache() = default;
VoiceRenderCache::~VoiceRenderCache() = default;

VoiceRenderCache::Voice& VoiceRenderCache::voice(const std::vector<std::uint64_t>& key) {
    std::unique_ptr<Voice>& entry = voices_[key];
    if (!entry)
        entry = std::make_unique<Voice>();
    return *entry;
}

namespace {

// One component as it will sound: its envelope's start and steps, how many samples it lasts,
// and its cosine, known (wave) or to be computed from the time base.
struct PlannedComponent {
    double startLevel;
    double levelStep;
    double startRiseRemainder;
    double riseStep;
    std::size_t audible;
    double frequencyHz;
    double phase;
    bool glides;
    const std::vector<double>* timeS;
    const std::vector<double>* wave;

    double cosAt(std::size_t i) const {
        return wave != nullptr && i < wave->size()
                       ? (*wave)[i]
                       : std::cos(kTwoPi * frequencyHz * (*timeS)[i] + phase);
    }
};

// A voice ready to add to a clip: sample i of it lands on clip sample firstSample + i.
struct VoicePlan {
    std::size_t firstSample = 0;
    std::size_t length = 0;  // 0: the voice starts after the clip's end
    std::vector<PlannedComponent> components;
    double noiseScale = 0.0;  // 0: no scrape
    const std::vector<double>* noise = nullptr;
    const std::vector<double>* gain = nullptr;
    VoiceRenderCache::Voice* shared = nullptr;
};

// With fillWaves, every component's cosine is computed into the cache as far as it sounds;
// without, only what the cache already holds is used.
VoicePlan planVoice(std::size_t clipSize, double sampleRateHz, const VoiceParams& voice,
                    VoiceRenderCache* cache, bool fillWaves) {
    VoicePlan plan;
    const std::vector<Component> components = componentsOf(voice);
    PseudoRandom random(voice.seed);

    const auto firstSample =
            static_cast<std::size_t>(std::max(0.0, std::ceil(voice.onsetS * sampleRateHz)));
    if (firstSample >= clipSize)
        return plan;
    const std::size_t length = clipSize - firstSample;
    const double firstTimeS = static_cast<double>(firstSample) / sampleRateHz - voice.onsetS;

    const bool hasNoise = voice.pickNoiseLevel > 0.0 && voice.pickNoiseDurationS > 0.0;
    // Everything but the decays, weights, phases and gains a tuning varies: the time base, the
    // random numbers the scrape draws after the phases, and the scrape's path through the body.
    std::vector<std::uint64_t> key;
    for (const double v :
         {sampleRateHz, static_cast<double>(clipSize), voice.onsetS, voice.glideCents,
          voice.glideTimeS, voice.pickRampS, voice.dampAtS, voice.dampDb, voice.dampDurationS,
          voice.dampedDecayDbPerS, voice.pickNoiseDurationS, hasNoise ? 1.0 : 0.0,
          static_cast<double>(components.size())})
        key.push_back(std::bit_cast<std::uint64_t>(v));
    key.push_back(voice.seed);
    for (const Component& c : components)
        key.push_back(c.sameStartAsPrevious ? 1 : 0);
    for (const BodyMode& mode : voice.body) {
        for (const double v : {mode.frequencyHz, mode.q, mode.gainDb})
            key.push_back(std::bit_cast<std::uint64_t>(v));
    }
    VoiceRenderCache::Voice& shared = cache->voice(key);

    // What every partial shares, per sample: the gliding time base and the gain of the pick's
    // release and of a muting finger.
    if (!shared.prepared) {
        shared.warpS.resize(length);
        shared.plainS.resize(length);
        shared.gain.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            const double tS = firstTimeS + static_cast<double>(i) / sampleRateHz;
            shared.plainS[i] = tS;
            shared.warpS[i] = warpedTimeS(voice, tS);
            const double ramp =
                    tS < voice.pickRampS
                            ? 0.5 - 0.5 * std::cos(std::numbers::pi * tS / voice.pickRampS)
                            : 1.0;
            shared.gain[i] = ramp * dampGain(voice, tS);
        }
    }
    const std::vector<double>& warpS = shared.warpS;
    const std::vector<double>& plainS = shared.plainS;
    const std::vector<double>& gain = shared.gain;

    double strongest = 0.0;
    for (const Component& c : components)
        strongest = std::max(strongest, c.amplitude);
    const double inaudible = strongest * 1e-5;

    plan.firstSample = firstSample;
    plan.length = length;
    plan.gain = &gain;
    plan.shared = &shared;
    const double alignS = voice.peakAlignS - voice.onsetS;
    const double alignWarpS = warpedTimeS(voice, alignS);
    const double octavesSpanned =
            std::max(1.0, std::log2(voice.highestPartialHz / voice.fundamentalHz));
    double randomPhase = 0.0;
    for (const Component& c : components) {
        const std::vector<double>& timeS = c.glides ? warpS : plainS;
        const double height = std::log2(c.frequencyHz / voice.fundamentalHz) / octavesSpanned;
        // Both polarisations of a partial start from the same pluck, in phase.
        if (!c.sameStartAsPrevious)
            randomPhase = kTwoPi * (random.unit() - 0.5);
        const double spread = voice.spreadFromTop
                                      ? std::clamp(height + 2.0 * voice.phaseSpread - 1.0, 0.0, 1.0)
                                      : voice.phaseSpread;
        const double phase = voice.alignAtPeak && c.frequencyHz <= voice.alignedUpToHz
                                     ? -kTwoPi * c.frequencyHz * (c.glides ? alignWarpS : alignS) +
                                               spread * randomPhase
                                     : randomPhase;
        // Envelopes advance by one constant factor per sample instead of an exp() per sample.
        const double startLevel = c.amplitude * std::exp(-c.nepersPerS * firstTimeS);
        const double startRiseRemainder = c.riseS > 0.0 ? std::exp(-firstTimeS / c.riseS) : 0.0;
        const double levelStep = std::exp(-c.nepersPerS / sampleRateHz);
        const double riseStep = c.riseS > 0.0 ? std::exp(-1.0 / (c.riseS * sampleRateHz)) : 0.0;
        // The component sounds while it is still rising or above the inaudible level.
        std::size_t audible = 0;
        for (double level = startLevel, riseRemainder = startRiseRemainder;
             audible < length && (riseRemainder > 0.5 || level > inaudible); ++audible) {
            level *= levelStep;
            riseRemainder = nextRiseRemainder(riseRemainder, riseStep);
        }
        const std::vector<double>* known = nullptr;
        if (fillWaves) {
            std::vector<double>& wave = shared.wave(c.frequencyHz, c.glides, phase);
            for (std::size_t i = wave.size(); i < audible; ++i)
                wave.push_back(std::cos(kTwoPi * c.frequencyHz * timeS[i] + phase));
            known = &wave;
        } else {
            known = shared.knownWave(c.frequencyHz, c.glides, phase);
        }
        plan.components.push_back({startLevel, levelStep, startRiseRemainder, riseStep, audible,
                                   c.frequencyHz, phase, c.glides, &timeS, known});
    }

    // The pick's scrape: a short burst of broadband noise, heard through the body like the string.
    if (hasNoise) {
        const auto burst = std::min(
                length, static_cast<std::size_t>(voice.pickNoiseDurationS * sampleRateHz) + 1);
        if (!shared.prepared) {
            std::vector<double> noise(length, 0.0);
            for (std::size_t i = 0; i < burst; ++i) {
                const double tS = plainS[i];
                if (tS < 0.0 || tS > voice.pickNoiseDurationS)
                    continue;
                const double window = 0.5 - 0.5 * std::cos(kTwoPi * tS / voice.pickNoiseDurationS);
                noise[i] = window * (2.0 * random.unit() - 1.0);
            }
            // A gentle tilt, as the string's own partials fall with frequency.
            const double tilt = std::exp(-kTwoPi * 3000.0 / sampleRateHz);
            double tilted = 0.0;
            std::vector<double> heard(length, 0.0);
            for (std::size_t i = 0; i < length; ++i) {
                tilted = tilt * tilted + (1.0 - tilt) * noise[i];
                heard[i] = tilted;
            }
            std::vector<double> body = heard;
            for (const BodyMode& mode : voice.body) {
                const BandPass bp(mode, sampleRateHz);
                const double lift = modeLift(mode);
                double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
                for (std::size_t i = 0; i < length; ++i) {
                    const double y = bp.b0 * heard[i] + bp.b2 * x2 - bp.a1 * y1 - bp.a2 * y2;
                    x2 = x1;
                    x1 = heard[i];
                    y2 = y1;
                    y1 = y;
                    body[i] += lift * y;
                }
            }
            double noiseRms = 0.0;
            for (std::size_t i = 0; i < burst; ++i)
                noiseRms += body[i] * body[i];
            shared.noiseRms =
                    std::sqrt(noiseRms / static_cast<double>(std::max<std::size_t>(burst, 1)));
            shared.noise = std::move(body);
        }
        if (shared.noiseRms > 0.0) {
            plan.noiseScale = voice.pickNoiseLevel * strongest / shared.noiseRms;
            plan.noise = &shared.noise;
        }
    }
    shared.prepared = true;
    return plan;
}

}  // namespace

void addPluckedVoice(std::span<double> clip, double sampleRateHz, const VoiceParams& voice,
                     VoiceRenderCache* cache) {
    VoiceRenderCache ownCache;
    const VoicePlan plan =
            planVoice(clip.size(), sampleRateHz, voice, cache != nullptr ? cache : &ownCache, true);
    std::vector<double> voiceSamples(plan.length, 0.0);
    for (const PlannedComponent& c : plan.components) {
        const std::vector<double>& wave = *c.wave;
        double level = c.startLevel;
        double riseRemainder = c.startRiseRemainder;
        for (std::size_t i = 0; i < c.audible; ++i) {
            voiceSamples[i] += (1.0 - riseRemainder) * level * wave[i];
            level *= c.levelStep;
            riseRemainder = nextRiseRemainder(riseRemainder, c.riseStep);
        }
    }
    if (plan.noise != nullptr) {
        for (std::size_t i = 0; i < plan.length; ++i)
            voiceSamples[i] += plan.noiseScale * (*plan.noise)[i];
    }
    for (std::size_t i = 0; i < plan.length; ++i)
        clip[plan.firstSample + i] += voiceSamples[i] * (*plan.gain)[i];
}

namespace {

// Samples at `at` (ascending clip indices) of the clip the voices add up to, each summed in the
// order a whole render sums it.
std::vector<double> samplesAt(const std::vector<VoicePlan>& plans,
                              std::span<const std::size_t> at) {
    std::vector<double> clip(at.size(), 0.0);
    for (const VoicePlan& plan : plans) {
        if (plan.length == 0)
            continue;
        // The requested samples this voice reaches, as its own indices.
        const auto reached = static_cast<std::size_t>(
                std::lower_bound(at.begin(), at.end(), plan.firstSample) - at.begin());
        const std::size_t count = at.size() - reached;
        if (count == 0)
            continue;
        std::vector<double> voiceSamples(count, 0.0);
        for (const PlannedComponent& c : plan.components) {
            double level = c.startLevel;
            double riseRemainder = c.startRiseRemainder;
            std::size_t i = 0;
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t j = at[reached + k] - plan.firstSample;
                if (j >= c.audible)
                    break;
                for (; i < j; ++i) {
                    level *= c.levelStep;
                    riseRemainder = nextRiseRemainder(riseRemainder, c.riseStep);
                }
                voiceSamples[k] += (1.0 - riseRemainder) * level * c.cosAt(j);
            }
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t j = at[reached + k] - plan.firstSample;
            if (plan.noise != nullptr)
                voiceSamples[k] += plan.noiseScale * (*plan.noise)[j];
            clip[reached + k] += voiceSamples[k] * (*plan.gain)[j];
        }
    }
    return clip;
}

}  // namespace

ClipProbe probeVoices(std::size_t clipSize, double sampleRateHz,
                      std::span<const VoiceParams> voices, std::size_t tailSamples,
                      VoiceRenderCache& cache) {
    std::vector<VoicePlan> plans;
    for (const VoiceParams& voice : voices)
        plans.push_back(planVoice(clipSize, sampleRateHz, voice, &cache, false));

    // Every sample to within a bound of its error: each term's cosine exact where the cache
    // holds it, else derived from the same component's cosine at another phase. A sample whose
    // estimate and bound together stay below an exactly computed sample's magnitude cannot be
    // the peak. A term's envelope never exceeds its start level, so one figure per voice bounds
    // the error of all its samples.
    std::vector<double> approx(clipSize, 0.0);
    double error = 0.0;
    constexpr double kSumRounding = 1e-12;  // far above a sum of a thousand terms' rounding
    for (const VoicePlan& plan : plans) {
        std::vector<double> voiceApprox(plan.length, 0.0);
        double voiceError = 0.0;
        for (const PlannedComponent& c : plan.components) {
            if (c.audible == 0)
                continue;
            double level = c.startLevel;
            double riseRemainder = c.startRiseRemainder;
            const double largestEnvelope = std::abs(c.startLevel);
            if (c.wave != nullptr && c.wave->size() >= c.audible) {
                const std::vector<double>& wave = *c.wave;
                for (std::size_t i = 0; i < c.audible; ++i) {
                    voiceApprox[i] += (1.0 - riseRemainder) * level * wave[i];
                    level *= c.levelStep;
                    riseRemainder = nextRiseRemainder(riseRemainder, c.riseStep);
                }
                voiceError += largestEnvelope * kSumRounding;
                continue;
            }
            // Another phase φ0 of the same component: cos(ωt + φ) = cos(ωt + φ0)·cos(φ − φ0) −
            // sin(ωt + φ0)·sin(φ − φ0), the sine taken from the cosine and the argument's
            // quadrant. Its √ loses half the digits, which the margin allows for.
            const VoiceRenderCache::Voice::Wave* other =
                    plan.shared->waveLasting(c.frequencyHz, c.glides, c.audible);
            const std::vector<double>& timeS = *c.timeS;
            const std::vector<double>* reference = nullptr;
            double referencePhase = 0.0;
            if (other != nullptr) {
                reference = &other->values;
                referencePhase = std::bit_cast<double>(other->phaseBits);
            } else {
                std::vector<double>& zero = plan.shared->zeroPhaseWaves[{
                        std::bit_cast<std::uint64_t>(c.frequencyHz), c.glides}];
                for (std::size_t i = zero.size(); i < c.audible; ++i)
                    zero.push_back(std::cos(kTwoPi * c.frequencyHz * timeS[i]));
                reference = &zero;
            }
            // The arguments ωt + φ and ωt + φ0 are rounded by at most half their last place.
            const double largestArgument = std::abs(kTwoPi * c.frequencyHz * timeS[c.audible - 1]) +
                                           std::max(std::abs(c.phase), std::abs(referencePhase));
            const double margin = largestArgument * 0x1.0p-48 + 1e-7 + kSumRounding;
            const double shift = c.phase - referencePhase;
            const double cosShift = std::cos(shift);
            const double sinShift = std::sin(shift);
            const double* ref = reference->data();
            for (std::size_t i = 0; i < c.audible; ++i) {
                const double argument = kTwoPi * c.frequencyHz * timeS[i] + referencePhase;
                const double turns = argument / kTwoPi;
                const double inTurn = turns - std::floor(turns);
                const double sine = std::sqrt(std::max(0.0, 1.0 - ref[i] * ref[i]));
                const double sinReference = inTurn < 0.5 ? sine : -sine;
                voiceApprox[i] += (1.0 - riseRemainder) * level *
                                  (ref[i] * cosShift - sinReference * sinShift);
                level *= c.levelStep;
                riseRemainder = nextRiseRemainder(riseRemainder, c.riseStep);
            }
            voiceError += largestEnvelope * margin;
        }
        double largestGain = 0.0;
        double largestNoise = 0.0;
        for (std::size_t i = 0; i < plan.length; ++i) {
            const double g = (*plan.gain)[i];
            largestGain = std::max(largestGain, std::abs(g));
            double v = voiceApprox[i];
            if (plan.noise != nullptr) {
                const double noise = plan.noiseScale * (*plan.noise)[i];
                v += noise;
                largestNoise = std::max(largestNoise, std::abs(noise));
            }
            approx[plan.firstSample + i] += v * g;
        }
        error += (voiceError + largestNoise * kSumRounding) * largestGain * (1.0 + kSumRounding);
    }
    constexpr double kMargin = 1.0 + 1e-9;

    ClipProbe probe;
    tailSamples = std::min(tailSamples, clipSize);
    // First the tail and the samples around the largest approximation, which the peak lies near;
    // then every sample that could reach the largest magnitude found.
    std::vector<std::size_t> at;
    const auto likelyPeak = static_cast<std::size_t>(
            std::max_element(approx.begin(), approx.end(),
                             [](double a, double b) { return std::abs(a) < std::abs(b); }) -
            approx.begin());
    constexpr std::size_t kAround = 16;
    for (std::size_t i = likelyPeak > kAround ? likelyPeak - kAround : 0;
         i < std::min(clipSize - tailSamples, likelyPeak + kAround); ++i)
        at.push_back(i);
    for (std::size_t i = clipSize - tailSamples; i < clipSize; ++i)
        at.push_back(i);
    const std::vector<double> first = samplesAt(plans, at);
    probe.tail.assign(first.end() - static_cast<std::ptrdiff_t>(tailSamples), first.end());
    for (const double v : first)
        probe.peakMagnitude = std::max(probe.peakMagnitude, std::abs(v));

    std::vector<bool> done(clipSize, false);
    for (const std::size_t i : at)
        done[i] = true;
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < clipSize; ++i) {
        if (!done[i] && (std::abs(approx[i]) + error) * kMargin >= probe.peakMagnitude)
            rest.push_back(i);
    }
    for (const double v : samplesAt(plans, rest))
        probe.peakMagnitude = std::max(probe.peakMagnitude, std::abs(v));
    return probe;
}

}  // namespace lyravox::synthesis
