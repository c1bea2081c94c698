#include "clip_renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace lyravox::synthesis {
namespace {

constexpr std::size_t kWindowSamples = 2205;  // 50 ms
constexpr std::size_t kHopSamples = 441;      // 10 ms

constexpr double kAlignedGainRangeDb = 10.0;
constexpr double kPeakTimeToleranceS = 0.005;

struct Knobs {
    double decayScale = 1.0;
    // Raises the peak against the ring. Below zero, how far the crest-forming partials' phases
    // scatter; above zero, with PeakControl::FastStage the weight of the fast decay stage, with
    // PeakControl::AlignedVoiceGain the last crest-forming voice's gain, in kAlignedGainRangeDb.
    double peakiness = 0.0;
};

double levelDb(double rms) {
    return 20.0 * std::log10(std::max(rms, 1e-12));
}

double rmsOf(std::span<const double> x) {
    double sum = 0.0;
    for (double v : x)
        sum += v * v;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

std::size_t peakIndex(std::span<const double> x) {
    const auto it = std::max_element(x.begin(), x.end(),
                                     [](double a, double b) { return std::abs(a) < std::abs(b); });
    return static_cast<std::size_t>(it - x.begin());
}

// Least-squares slope of the 50 ms RMS level over the windows lying wholly after fromS,
// as a positive rate for a falling level.
double decayRateDbPerS(std::span<const double> x, double fromS) {
    const auto first = static_cast<std::size_t>(std::ceil(fromS * kSampleRateHz));
    double sumT = 0.0, sumL = 0.0, sumTT = 0.0, sumTL = 0.0;
    double count = 0.0;
    for (std::size_t start = first; start + kWindowSamples <= x.size(); start += kHopSamples) {
        const double tS = (static_cast<double>(start) + kWindowSamples / 2.0) / kSampleRateHz;
        const double l = levelDb(rmsOf(x.subspan(start, kWindowSamples)));
        sumT += tS;
        sumL += l;
        sumTT += tS * tS;
        sumTL += tS * l;
        count += 1.0;
    }
    return -(count * sumTL - sumT * sumL) / (count * sumTT - sumT * sumT);
}

double endLevelRelativeDb(std::span<const double> x) {
    const double peak = std::abs(x[peakIndex(x)]);
    return levelDb(rmsOf(x.last(kWindowSamples))) - levelDb(peak);
}

// Time after the onset at which the voice's envelope sum is largest, for each rise time of its
// horizontal polarisation.
class EnvelopePeakSearch {
public:
    EnvelopePeakSearch(const VoiceParams& voice, double searchToS)
        : timesS_(timesTo(searchToS))
        , sums_(voice, timesS_) {}

    double peakS(double riseS) const {
        const std::vector<double> sums = sums_.sums(riseS);
        const auto largest = std::max_element(sums.begin(), sums.end());
        return timesS_[static_cast<std::size_t>(largest - sums.begin())];
    }

private:
    static std::vector<double> timesTo(double searchToS) {
        std::vector<double> timesS;
        for (int step = 0; step * 0.0001 <= searchToS; ++step)
            timesS.push_back(step * 0.0001);
        return timesS;
    }

    std::vector<double> timesS_;
    EnvelopeSumsByRise sums_;
};

// Root of a monotone f on [lo, hi] by regula falsi (Illinois); clamps where f has no sign change.
double solveMonotone(const std::function<double(double)>& f, double lo, double hi,
                     double tolerance) {
    double fLo = f(lo), fHi = f(hi);
    if (fLo * fHi > 0.0)
        return std::abs(fLo) < std::abs(fHi) ? lo : hi;
    int side = 0;
    double x = lo;
    for (int i = 0; i < 40; ++i) {
        x = (lo * fHi - hi * fLo) / (fHi - fLo);
        const double fx = f(x);
        if (std::abs(fx) < tolerance)
            break;
        if (fx * fHi > 0.0) {
            hi = x;
            fHi = fx;
            if (side == -1)
                fLo /= 2.0;
            side = -1;
        } else {
            lo = x;
            fLo = fx;
            if (side == 1)
                fHi /= 2.0;
            side = 1;
        }
    }
    return x;
}

std::uint64_t bitsOf(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

// Renders one recipe for the tuning's many knob settings. The tuning asks again for settings it
// has tried (the weight it settled on, the knobs it ends with), and most of each render is the
// same from one setting to the next; both are kept rather than computed again.
class Synthesizer {
public:
    explicit Synthesizer(const ClipRecipe& recipe) : recipe_(recipe) {}

    const std::vector<double>& clip(const Knobs& knobs) {
        std::vector<double>& clip = clips_[{bitsOf(knobs.decayScale), bitsOf(knobs.peakiness)}];
        if (clip.empty()) {
            clip.assign(recipe_.sampleCount, 0.0);
            for (const VoiceParams& voice : tunedVoices(knobs))
                addPluckedVoice(clip, kSampleRateHz, voice, &voiceCache_);
        }
        return clip;
    }

    // endLevelRelativeDb() of clip(knobs), without rendering all of it when it is not at hand.
    double endLevelRelativeDb(const Knobs& knobs) {
        const std::pair<std::uint64_t, std::uint64_t> key = {bitsOf(knobs.decayScale),
                                                             bitsOf(knobs.peakiness)};
        const auto known = clips_.find(key);
        if (known != clips_.end())
            return synthesis::endLevelRelativeDb(known->second);
        const auto probed = endLevels_.find(key);
        if (probed != endLevels_.end())
            return probed->second;
        const ClipProbe probe = probeVoices(recipe_.sampleCount, kSampleRateHz, tunedVoices(knobs),
                                            kWindowSamples, voiceCache_);
        const double endLevel = levelDb(rmsOf(probe.tail)) - levelDb(probe.peakMagnitude);
        endLevels_.emplace(key, endLevel);
        return endLevel;
    }

private:
    std::vector<VoiceParams> tunedVoices(const Knobs& knobs);

    const ClipRecipe& recipe_;
    VoiceRenderCache voiceCache_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<double>> clips_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, double> endLevels_;
    // The crest voice's rise time by what its envelope depends on of what the knobs set.
    std::map<std::array<std::uint64_t, 3>, double> riseS_;
};

std::vector<VoiceParams> Synthesizer::tunedVoices(const Knobs& knobs) {
    const ClipRecipe& recipe = recipe_;
    std::vector<VoiceParams> voices = recipe.voices;
    VoiceParams* crestVoice = nullptr;
    for (VoiceParams& voice : voices) {
        if (voice.alignAtPeak && voice.onsetS < recipe.peakTimeS &&
            (crestVoice == nullptr || voice.onsetS > crestVoice->onsetS))
            crestVoice = &voice;
    }
    for (VoiceParams& voice : voices) {
        voice.slowDecayDbPerS *= knobs.decayScale;
        if (recipe.peakControl == ClipRecipe::PeakControl::FastStage) {
            // The voice's own weight is the least its vertical polarisation carries, so that
            // it always beats against the horizontal one.
            voice.fastWeight += (0.97 - voice.fastWeight) * std::max(knobs.peakiness, 0.0);
            if (voice.alignAtPeak)
                voice.phaseSpread = std::max(-knobs.peakiness, 0.0);
        } else if (voice.alignAtPeak) {
            voice.phaseSpread = std::max(-knobs.peakiness, 0.0);
            if (&voice == crestVoice)
                voice.gainDb += kAlignedGainRangeDb * std::max(knobs.peakiness, 0.0);
        }
    }
    // The last voice to enter before the peak of those whose partials crest together then must
    // also be at its loudest then; the earlier ones keep their own rise.
    if (crestVoice != nullptr && recipe.riseSetsPeakTime) {
        VoiceParams& voice = *crestVoice;
        const double targetS = recipe.peakTimeS - voice.onsetS;
        const double searchToS = 2.0 * targetS + 0.05;
        // The envelope does not depend on the phase spread.
        const std::array<std::uint64_t, 3> key = {bitsOf(voice.slowDecayDbPerS),
                                                  bitsOf(voice.fastWeight), bitsOf(voice.gainDb)};
        const auto known = riseS_.find(key);
        if (known != riseS_.end()) {
            voice.riseS = known->second;
        } else {
            const EnvelopePeakSearch search(voice, searchToS);
            const double logRise = solveMonotone(
                    [&](double logRiseS) { return search.peakS(std::exp(logRiseS)) - targetS; },
                    std::log(0.0002), std::log(0.2), 0.00005);
            voice.riseS = std::exp(logRise);
            riseS_.emplace(key, voice.riseS);
        }
    }
    return voices;
}

Knobs tune(const ClipRecipe& recipe, Synthesizer& synthesizer) {
    const double targetEndDb = recipe.endLevelDbfs - recipe.peakDbfs;
    Knobs knobs;
    auto weightFor = [&](double decayScale) {
        return solveMonotone(
                [&](double weight) {
                    return synthesizer.endLevelRelativeDb(Knobs{decayScale, weight}) - targetEndDb;
                },
                -1.0, recipe.peakControl == ClipRecipe::PeakControl::FastStage ? 0.97 : 1.0, 0.02);
    };
    knobs.decayScale = solveMonotone(
            [&](double decayScale) {
                const double weight = weightFor(decayScale);
                return decayRateDbPerS(synthesizer.clip(Knobs{decayScale, weight}),
                                       recipe.decayFitFromS) -
                       recipe.decayDbPerS;
            },
            0.3, 2.5, 0.05);
    knobs.peakiness = weightFor(knobs.decayScale);
    return knobs;
}

std::vector<std::int16_t> quantise(const ClipRecipe& recipe, std::vector<double> clip) {
    const std::size_t peakAt = peakIndex(clip);
    const double peakSample = std::round(32768.0 * std::pow(10.0, recipe.peakDbfs / 20.0));
    double scale = peakSample / std::abs(clip[peakAt]);
    if ((clip[peakAt] < 0.0) != recipe.negativePeak)
        scale = -scale;
    std::vector<std::int16_t> samples(clip.size());
    for (std::size_t n = 0; n < clip.size(); ++n) {
        const double v = std::clamp(std::round(clip[n] * scale), -32768.0, 32767.0);
        samples[n] = static_cast<std::int16_t>(v);
    }
    // Rounding must not lengthen the zero run or silence the final step: a sample the sound
    // reaches, however faintly, is at least one step from zero.
    for (std::size_t n : {recipe.leadingZeroCount, clip.size() - 1}) {
        if (samples[n] == 0 && clip[n] != 0.0)
            samples[n] = static_cast<std::int16_t>(clip[n] * scale > 0.0 ? 1 : -1);
    }
    return samples;
}

void require(bool condition, const ClipRecipe& recipe, const std::string& what) {
    if (!condition)
        throw RecipeNotMet(std::string(recipe.resourceName) + ": " + what);
}

}  // namespace

RenderedClip renderClip(const ClipRecipe& recipe) {
    Synthesizer synthesizer(recipe);
    const Knobs knobs = tune(recipe, synthesizer);
    RenderedClip rendered;
    rendered.samples = quantise(recipe, synthesizer.clip(knobs));

    std::vector<double> measured(rendered.samples.size());
    std::transform(rendered.samples.begin(), rendered.samples.end(), measured.begin(),
                   [](std::int16_t s) { return s / 32768.0; });
    const std::size_t peakAt = peakIndex(measured);
    rendered.shape = {static_cast<double>(peakAt) / kSampleRateHz,
                      levelDb(std::abs(measured[peakAt])),
                      decayRateDbPerS(measured, recipe.decayFitFromS),
                      levelDb(rmsOf(std::span<const double>(measured).last(kWindowSamples))),
                      knobs.decayScale,
                      knobs.peakiness};

    const auto& s = rendered.samples;
    const auto zeros = static_cast<std::size_t>(
            std::find_if(s.begin(), s.end(), [](std::int16_t v) { return v != 0; }) - s.begin());
    require(zeros == recipe.leadingZeroCount, recipe,
            "zero run of " + std::to_string(zeros) + " samples");
    require(s.back() != 0, recipe, "last sample is zero");
    require(std::abs(rendered.shape.peakTimeS - recipe.peakTimeS) <= kPeakTimeToleranceS, recipe,
            "peak at " + std::to_string(rendered.shape.peakTimeS) + " s");
    return rendered;
}

}  // namespace lyravox::synthesis
