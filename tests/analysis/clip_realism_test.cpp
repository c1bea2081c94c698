#include "clip_realism.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace lyravox::analysis {
namespace {

constexpr double kSampleRateHz = 44100.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Component {
    double frequencyHz;
    double amplitude;
    double decayDbPerS = 0.0;
};

std::vector<double> tone(const std::vector<Component>& components, double durationS) {
    std::vector<double> x(static_cast<std::size_t>(durationS * kSampleRateHz), 0.0);
    double phase = 0.3;
    for (const Component& c : components) {
        phase += 1.1;
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double tS = static_cast<double>(n) / kSampleRateHz;
            x[n] += c.amplitude * std::pow(10.0, -c.decayDbPerS * tS / 20.0) *
                    std::cos(kTwoPi * c.frequencyHz * tS + phase);
        }
    }
    return x;
}

// Partials k = 1 … 8 of f0 at 1/k, decaying at rate(k).
std::vector<Component> harmonics(double f0, double (*rateDbPerS)(int)) {
    std::vector<Component> components;
    for (int k = 1; k <= 8; ++k)
        components.push_back({k * f0, 0.3 / k, rateDbPerS(k)});
    return components;
}

std::vector<double> noise(std::size_t count, double amplitude) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> x(count);
    for (double& v : x)
        v = uniform(random);
    return x;
}

TEST(DecayScatter, IsZeroOnASmoothTrendAndGrowsWithScatter) {
    const auto smooth = tone(harmonics(196.0, [](int k) { return 20.0 + 1.5 * k * k; }), 1.2);
    EXPECT_LT(decayScatterDbPerS(smooth, kSampleRateHz, 196.0), 0.3);
    const auto scattered = tone(
            harmonics(196.0, [](int k) { return 20.0 + 1.5 * k * k + (k % 2 ? 6.0 : -6.0); }), 1.2);
    EXPECT_NEAR(decayScatterDbPerS(scattered, kSampleRateHz, 196.0), 5.0, 1.5);
}

TEST(MeanBeating, ReadsTheDepthOfTwoComponentsBeating) {
    const auto plain = tone(harmonics(196.0, [](int) { return 25.0; }), 1.2);
    EXPECT_LT(meanBeatingDb(plain, kSampleRateHz, 196.0), 0.05);
    // A second component a tenth as strong, 1 Hz away: the level swings ±0.87 dB, 0.6 dB RMS.
    std::vector<Component> beating = harmonics(196.0, [](int) { return 25.0; });
    for (int k = 1; k <= 8; ++k)
        beating.push_back({k * 196.0 + 1.0, 0.03 / k, 25.0});
    EXPECT_NEAR(meanBeatingDb(tone(beating, 1.2), kSampleRateHz, 196.0), 0.62, 0.12);
}

TEST(AttackNoiseShare, TellsAPeriodicToneFromNoise) {
    const auto periodic = tone(harmonics(110.0, [](int k) { return 20.0 + 2.0 * k; }), 0.2);
    EXPECT_LT(attackNoiseShareDb(periodic, kSampleRateHz, 110.0), -30.0);
    EXPECT_NEAR(attackNoiseShareDb(noise(8820, 0.5), kSampleRateHz, 110.0), 0.0, 1.0);
    // Equal energy of tone and noise: half of the sum does not repeat.
    auto mixed = tone({{110.0, 0.5}}, 0.2);
    const auto hiss = noise(mixed.size(), 0.5 * std::sqrt(1.5));
    for (std::size_t n = 0; n < mixed.size(); ++n)
        mixed[n] += hiss[n];
    EXPECT_NEAR(attackNoiseShareDb(mixed, kSampleRateHz, 110.0), -3.0, 1.0);
}

TEST(LowBandShare, CountsOnlyWhatLiesBelowTheNote) {
    // The note fades in over 20 ms: a hard start would itself spread energy below the note.
    auto note = tone({{329.6, 0.5, 30.0}, {659.3, 0.2, 40.0}}, 0.4);
    for (std::size_t n = 0; n < 882; ++n)
        note[n] *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(n) / 882.0);
    EXPECT_LT(lowBandShareDb(note, kSampleRateHz, 329.6), -45.0);
    auto abrupt = tone({{329.6, 0.5, 30.0}, {659.3, 0.2, 40.0}}, 0.4);
    EXPECT_GT(lowBandShareDb(abrupt, kSampleRateHz, 329.6), -35.0);
    // A 100 Hz ring carrying a tenth of the energy.
    auto withBody = tone({{329.6, 0.5}, {100.0, 0.5 / 3.0}}, 0.4);
    EXPECT_NEAR(lowBandShareDb(withBody, kSampleRateHz, 329.6), -10.0, 0.5);
}

TEST(HighBandShare, CountsOnlyWhatLiesBetween10And14Kilohertz) {
    // Partials up to 9.9 kHz leave the band all but empty; one at 12 kHz with a hundredth of the
    // energy reads -20 dB.
    std::vector<Component> below;
    for (int k = 1; k <= 30; ++k)
        below.push_back({k * 329.6, 0.3 / k});
    EXPECT_LT(highBandShareDb(tone(below, 0.1), kSampleRateHz), -60.0);
    EXPECT_NEAR(highBandShareDb(tone({{329.6, 0.5}, {12000.0, 0.05}}, 0.1), kSampleRateHz), -20.04,
                0.2);
}

TEST(PartialAt50Ms, ReadsAPartialAgainstTheFundamental) {
    const auto x = tone({{110.0, 0.4}, {550.0, 0.1}, {770.0, 0.02}}, 0.2);
    EXPECT_NEAR(partialAt50MsDb(x, kSampleRateHz, 110.0, 5), -12.04, 0.3);
    EXPECT_NEAR(partialAt50MsDb(x, kSampleRateHz, 110.0, 7), -26.0, 0.5);
}

TEST(EnergyRise, FollowsTheAmplitudesRise) {
    // Amplitude 1 − e^(−t/τ): the energy passes 10 % at 0.38 τ and 90 % at 2.97 τ.
    for (double riseS : {0.002, 0.010}) {
        std::vector<double> x = tone({{330.0, 0.5}}, 0.3);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] *= 1.0 - std::exp(-static_cast<double>(n) / kSampleRateHz / riseS);
        EXPECT_NEAR(energyRiseMs(x, kSampleRateHz, 330.0), 2.59 * riseS * 1000.0,
                    0.15 * riseS * 1000.0 + 0.2)
                << riseS;
    }
}

TEST(FirstSample, IsMeasuredAgainstThePeak) {
    const std::vector<std::int16_t> samples = {0, 0, 10, -100, 31623, 5};
    EXPECT_NEAR(firstSampleDb(samples), -70.0, 0.01);
}

TEST(EnvelopeBeating, ReadsAnAmplitudeModulation) {
    auto x = tone({{200.0, 0.3, 20.0}}, 1.5);
    EXPECT_LT(envelopeBeatingDb(x, kSampleRateHz, 0.7, 1.35), 0.02);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] *= 1.0 + 0.1 * std::cos(kTwoPi * 2.0 * static_cast<double>(n) / kSampleRateHz);
    EXPECT_NEAR(envelopeBeatingDb(x, kSampleRateHz, 0.7, 1.35), 0.61, 0.1);
}

TEST(EntryRise, ReadsALevelStep) {
    auto x = tone({{200.0, 0.2}}, 0.5);
    for (std::size_t n = static_cast<std::size_t>(0.25 * kSampleRateHz); n < x.size(); ++n)
        x[n] *= 2.0;
    EXPECT_NEAR(entryRiseDb(x, kSampleRateHz, 0.25), 6.02, 0.1);
}

TEST(EarlyPitch, ReadsTheFirstTwoTenthsOfASecond) {
    const double sharpHz = 110.0 * std::exp2(5.0 / 1200.0);
    auto x = tone({{sharpHz, 0.3}, {2.0 * sharpHz, 0.2}}, 0.2);
    const auto rest = tone({{110.0, 0.3}, {220.0, 0.2}}, 0.5);
    x.insert(x.end(), rest.begin(), rest.end());
    EXPECT_NEAR(earlyPitchCents(x, kSampleRateHz, 110.0), 5.0, 0.3);
}

TEST(Inharmonicity, RecoversAStiffStringsCoefficient) {
    for (double b : {0.0, 4e-5}) {
        std::vector<Component> partials;
        for (int k = 1; k <= 8; ++k)
            partials.push_back(
                    {k * 82.41 * std::sqrt((1.0 + b * k * k) / (1.0 + b)), 0.2 / k, 20.0});
        EXPECT_NEAR(inharmonicity(tone(partials, 1.0), kSampleRateHz, 82.41), b, 0.3e-5) << b;
    }
}

}  // namespace
}  // namespace lyravox::analysis
