#include "clip_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace lyravox::analysis {
namespace {

constexpr double kSampleRateHz = 44100.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Partial k (1-based) has amplitude amplitudes[k-1]; phases are random so no test relies on a
// lucky alignment of partials.
std::vector<double> decayingHarmonicTone(double fundamentalHz,
                                         const std::vector<double>& amplitudes,
                                         double decayDbPerSecond, double durationS,
                                         unsigned phaseSeed) {
    std::mt19937 random(phaseSeed);
    std::uniform_real_distribution<double> phaseRad(0.0, kTwoPi);
    std::vector<double> phasesRad;
    for (std::size_t k = 0; k < amplitudes.size(); ++k) {
        phasesRad.push_back(phaseRad(random));
    }
    const auto sampleCount = static_cast<std::size_t>(durationS * kSampleRateHz);
    std::vector<double> samples(sampleCount, 0.0);
    for (std::size_t n = 0; n < sampleCount; ++n) {
        const double timeS = static_cast<double>(n) / kSampleRateHz;
        const double envelope = std::pow(10.0, -decayDbPerSecond * timeS / 20.0);
        double sum = 0.0;
        for (std::size_t k = 0; k < amplitudes.size(); ++k) {
            const double partialHz = fundamentalHz * static_cast<double>(k + 1);
            sum += amplitudes[k] * std::sin(kTwoPi * partialHz * timeS + phasesRad[k]);
        }
        samples[n] = envelope * sum;
    }
    return samples;
}

std::vector<double> sine(double frequencyHz, double amplitude, double durationS) {
    return decayingHarmonicTone(frequencyHz, {amplitude}, 0.0, durationS, 7);
}

std::vector<double> inverseHarmonicAmplitudes(std::size_t count, double scale) {
    std::vector<double> amplitudes;
    for (std::size_t k = 1; k <= count; ++k) {
        amplitudes.push_back(scale / static_cast<double>(k));
    }
    return amplitudes;
}

// The third partial dominates, so a pitch finder locked onto the strongest component would read
// an octave and a fifth high.
const std::vector<double> kThirdStrongest = {0.25, 0.4, 0.9, 0.3, 0.2, 0.12, 0.08, 0.05};

enum class Spectrum { Pure, ThirdStrongest, Bright };

std::vector<double> partialAmplitudes(Spectrum spectrum, double fundamentalHz) {
    switch (spectrum) {
        case Spectrum::Pure:
            return {0.8};
        case Spectrum::ThirdStrongest:
            return kThirdStrongest;
        case Spectrum::Bright:
            // Partials up to 15 kHz make the correlation peak too sharp for a parabola through
            // neighbouring lags to place it within a tenth of a cent.
            return inverseHarmonicAmplitudes(static_cast<std::size_t>(15000.0 / fundamentalHz),
                                             0.3);
    }
    return {};
}

struct PitchCase {
    std::string name;
    double fundamentalHz;
    Spectrum spectrum;
    double decayDbPerSecond;
    double durationS;
};

void PrintTo(const PitchCase& c, std::ostream* out) {
    *out << c.name;
}

class PitchAccuracy : public testing::TestWithParam<PitchCase> {};

TEST_P(PitchAccuracy, AutocorrelationAndSpectralPeakWithinATenthOfACent) {
    const PitchCase& c = GetParam();
    const std::vector<double> tone =
            decayingHarmonicTone(c.fundamentalHz, partialAmplitudes(c.spectrum, c.fundamentalHz),
                                 c.decayDbPerSecond, c.durationS, 11);

    const double pitchHz = pitchHzByAutocorrelation(tone, kSampleRateHz, 60.0, 1000.0);
    EXPECT_NEAR(centsBetween(pitchHz, c.fundamentalHz), 0.0, 0.1) << pitchHz;

    const double fundamentalPeakHz = peakFrequencyHz(tone, kSampleRateHz, c.fundamentalHz, 40.0);
    EXPECT_NEAR(centsBetween(fundamentalPeakHz, c.fundamentalHz), 0.0, 0.1) << fundamentalPeakHz;

    if (c.spectrum == Spectrum::ThirdStrongest) {
        // Start the search off-centre so the refinement, not the starting guess, finds the peak.
        const double thirdHz = 3.0 * c.fundamentalHz;
        const double thirdPeakHz = peakFrequencyHz(tone, kSampleRateHz, thirdHz * 1.004, 40.0);
        EXPECT_NEAR(centsBetween(thirdPeakHz, thirdHz), 0.0, 0.1) << thirdPeakHz;
    }
}

INSTANTIATE_TEST_SUITE_P(
        Tones, PitchAccuracy,
        testing::Values(PitchCase{"E2Pure", 82.4069, Spectrum::Pure, 0.0, 1.0},
                        PitchCase{"A2Pure", 110.0, Spectrum::Pure, 0.0, 1.0},
                        PitchCase{"G3PureDecaying", 196.0, Spectrum::Pure, 30.0, 1.5},
                        PitchCase{"E4PureShort", 329.6276, Spectrum::Pure, 0.0, 0.3},
                        PitchCase{"EulerPureDecaying", 90.0 * std::numbers::e, Spectrum::Pure, 20.0,
                                  1.0},
                        PitchCase{"E2Rich", 82.4069, Spectrum::ThirdStrongest, 0.0, 1.0},
                        PitchCase{"E2RichDecaying", 82.4069, Spectrum::ThirdStrongest, 35.0, 2.0},
                        PitchCase{"A2RichDecaying", 110.0, Spectrum::ThirdStrongest, 20.0, 1.5},
                        PitchCase{"G3RichDecaying", 196.0, Spectrum::ThirdStrongest, 30.0, 1.0},
                        PitchCase{"E4RichDecaying", 329.6276, Spectrum::ThirdStrongest, 25.0, 1.5},
                        PitchCase{"Sqrt2RichDecaying", 100.0 * std::numbers::sqrt2,
                                  Spectrum::ThirdStrongest, 30.0, 1.2},
                        PitchCase{"PiRichDecaying", 50.0 * std::numbers::pi,
                                  Spectrum::ThirdStrongest, 35.0, 0.7},
                        PitchCase{"E4BrightDecaying", 329.6276, Spectrum::Bright, 30.0, 1.0},
                        PitchCase{"Sqrt2BrightDecaying", 100.0 * std::numbers::sqrt2,
                                  Spectrum::Bright, 30.0, 0.8}),
        [](const testing::TestParamInfo<PitchCase>& info) { return info.param.name; });

TEST(PitchAccuracy, TooShortForThePeriodRangeGivesNaN) {
    const std::vector<double> tone = sine(82.4069, 0.5, 0.01);
    EXPECT_TRUE(std::isnan(pitchHzByAutocorrelation(tone, kSampleRateHz, 60.0, 1000.0)));
}

TEST(SpectralLevel, SteadySineReadsItsAmplitude) {
    const std::vector<double> tone = sine(220.0, 0.5, 1.0);
    EXPECT_NEAR(amplitudeAt(tone, kSampleRateHz, 220.0), 0.5, 0.5e-3);
    EXPECT_NEAR(partialLevelDb(tone, kSampleRateHz, 221.0, 30.0), 20.0 * std::log10(0.5), 0.01);
    EXPECT_LT(amplitudeAt(tone, kSampleRateHz, 260.0), 1e-4);
}

struct DecayCase {
    double frequencyHz;
    double decayDbPerSecond;
    double fromS;
};

void PrintTo(const DecayCase& c, std::ostream* out) {
    *out << c.frequencyHz << " Hz at " << c.decayDbPerSecond << " dB/s from " << c.fromS << " s";
}

class DecayRate : public testing::TestWithParam<DecayCase> {};

TEST_P(DecayRate, MatchesTheEnvelopeWithinOnePercent) {
    const DecayCase& c = GetParam();
    const std::vector<double> tone = decayingHarmonicTone(
            c.frequencyHz, inverseHarmonicAmplitudes(4, 0.5), c.decayDbPerSecond, 1.5, 3);
    EXPECT_NEAR(decayDbPerS(tone, kSampleRateHz, c.fromS), c.decayDbPerSecond,
                0.01 * c.decayDbPerSecond);
}

INSTANTIATE_TEST_SUITE_P(Envelopes, DecayRate,
                         testing::Values(DecayCase{82.4069, 20.0, 0.0}, DecayCase{196.0, 27.5, 0.3},
                                         DecayCase{329.6276, 35.0, 1.0}));

TEST(DecayRate, IgnoresWindowsBeforeFromS) {
    // Loud for the first half second, then a quiet steady tone: only the steady part counts.
    std::vector<double> tone = sine(196.0, 0.1, 1.5);
    for (std::size_t n = 0; n < static_cast<std::size_t>(0.5 * kSampleRateHz); ++n) {
        tone[n] *= 5.0;
    }
    EXPECT_NEAR(decayDbPerS(tone, kSampleRateHz, 0.5), 0.0, 0.05);
    EXPECT_TRUE(std::isnan(decayDbPerS(tone, kSampleRateHz, 1.49)));
}

TEST(Levels, EndLevelMeasuresOnlyTheLastFiftyMilliseconds) {
    // 441 Hz repeats every 100 samples, so the RMS of any whole number of periods is exact.
    std::vector<double> tone = sine(441.0, 0.5, 1.0);
    const std::size_t tailStart = tone.size() - 2205;
    for (std::size_t n = 0; n < tailStart; ++n) {
        tone[n] *= 1.8;
    }
    EXPECT_NEAR(endLevelDbfs(tone, kSampleRateHz), 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.02);
    tone[tailStart - 1] = 0.9;
    EXPECT_NEAR(endLevelDbfs(tone, kSampleRateHz), 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.02);
}

TEST(Levels, RmsWindowsAreCentredAndComplete) {
    const std::vector<double> tone = sine(441.0, 1.0, 0.1);
    const std::vector<LevelPoint> levels = rmsLevels(tone, kSampleRateHz, 0.05, 0.01);
    ASSERT_EQ(levels.size(), 6U);
    EXPECT_NEAR(levels.front().timeS, 0.025, 1e-9);
    EXPECT_NEAR(levels.back().timeS, 0.075, 1e-9);
    EXPECT_NEAR(levels.back().levelDbfs, -3.0103, 0.01);
}

TEST(Levels, SilenceReportsTheFloorInsteadOfInfinity) {
    const std::vector<double> silence(1000, 0.0);
    EXPECT_EQ(rmsDbfs(silence), kSilenceDbfs);
    EXPECT_EQ(peakDbfs(silence), kSilenceDbfs);
    EXPECT_EQ(rmsDbfs({}), kSilenceDbfs);
}

TEST(SampleMarkers, FindZerosThresholdAndPeakOnACraftedClip) {
    std::vector<std::int16_t> samples(600, 0);
    samples[100] = -1;      // ends the leading zeros although it is inaudible
    samples[120] = 327;     // just under 1 % of full scale
    samples[150] = -328;    // just over it
    samples[300] = -20000;  // the peak, negative
    samples[400] = 20000;   // equal magnitude later must not win
    const std::vector<double> x = toFullScale(samples);

    EXPECT_EQ(leadingZeroCount(samples), 100U);
    EXPECT_DOUBLE_EQ(firstAboveS(x, kSampleRateHz, 0.01), 150.0 / kSampleRateHz);
    EXPECT_DOUBLE_EQ(peakTimeS(x, kSampleRateHz), 300.0 / kSampleRateHz);
    EXPECT_NEAR(peakDbfs(x), 20.0 * std::log10(20000.0 / 32768.0), 1e-9);
    EXPECT_LT(firstAboveS(x, kSampleRateHz, 0.7), 0.0);

    const std::vector<std::int16_t> extremes = {-32768, 0, 16384};
    EXPECT_EQ(toFullScale(extremes), (std::vector<double>{-1.0, 0.0, 0.5}));
    const std::vector<std::int16_t> allZero(50, 0);
    EXPECT_EQ(leadingZeroCount(allZero), 50U);
}

struct ChordCase {
    std::string name;
    double attackS;
    double decayDbPerSecond;
    unsigned phaseSeed;
    // Low guitar strings often sound their second partial louder than the first, which puts the
    // loudest entry in E3's band at E2's pluck.
    bool secondPartialStrongest;
};

void PrintTo(const ChordCase& c, std::ostream* out) {
    *out << c.name;
}

class ArpeggioOnsets : public testing::TestWithParam<ChordCase> {};

// E major arpeggio: E2's second and third harmonics land on E3 and B3, B2's second on B3, so
// a detector that only watches the energy at each fundamental sees those bands rise too early.
TEST_P(ArpeggioOnsets, EachNoteIsFoundWithinFiveMilliseconds) {
    const ChordCase& c = GetParam();
    const std::vector<int> midiNotes = {40, 47, 52, 56, 59, 64};
    const std::vector<double> entriesS = {0.01, 0.12, 0.25, 0.38, 0.51, 0.63};
    std::vector<double> fundamentalsHz;
    std::vector<double> chord(static_cast<std::size_t>(1.6 * kSampleRateHz), 0.0);
    for (std::size_t i = 0; i < midiNotes.size(); ++i) {
        const double fundamentalHz = equalTemperedHz(midiNotes[i]);
        fundamentalsHz.push_back(fundamentalHz);
        std::vector<double> amplitudes = inverseHarmonicAmplitudes(8, 0.12);
        if (c.secondPartialStrongest) {
            amplitudes[0] = 0.05;
        }
        const std::vector<double> note =
                decayingHarmonicTone(fundamentalHz, amplitudes, c.decayDbPerSecond, 1.6,
                                     c.phaseSeed + static_cast<unsigned>(i));
        const auto entry = static_cast<std::size_t>(entriesS[i] * kSampleRateHz);
        const double attackSamples = c.attackS * kSampleRateHz;
        for (std::size_t n = entry; n < chord.size(); ++n) {
            const double ramp = std::min(1.0, static_cast<double>(n - entry) / attackSamples);
            chord[n] += ramp * note[n - entry];
        }
    }

    const std::vector<double> onsetsS = noteOnsetsS(chord, kSampleRateHz, fundamentalsHz);
    ASSERT_EQ(onsetsS.size(), entriesS.size());
    for (std::size_t i = 0; i < entriesS.size(); ++i) {
        EXPECT_NEAR(onsetsS[i], entriesS[i], 0.005) << noteName(midiNotes[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Chords, ArpeggioOnsets,
                         testing::Values(ChordCase{"SharpAttackSlowDecay", 0.002, 20.0, 1, false},
                                         ChordCase{"SoftAttackFastDecay", 0.005, 35.0, 2, false},
                                         ChordCase{"InstantAttack", 0.0, 30.0, 3, false},
                                         ChordCase{"WeakFundamentals", 0.003, 30.0, 4, true}),
                         [](const testing::TestParamInfo<ChordCase>& info) {
                             return info.param.name;
                         });

TEST(StrongestPeaks, PlantedPeaksComeBackStrongestFirst) {
    const double durationS = 1.0;
    std::vector<double> mix(static_cast<std::size_t>(durationS * kSampleRateHz), 0.0);
    const std::vector<std::pair<double, double>> planted = {
            {196.0, 0.5}, {110.0, 0.35}, {246.94, 0.2}, {147.2, 0.1}, {700.0, 0.04}};
    for (const auto& [frequencyHz, amplitude] : planted) {
        const std::vector<double> tone = sine(frequencyHz, amplitude, durationS);
        for (std::size_t n = 0; n < mix.size(); ++n) {
            mix[n] += tone[n];
        }
    }
    // A near neighbour of the strongest peak is one peak, not two.
    const std::vector<double> beating = sine(197.5, 0.3, durationS);
    for (std::size_t n = 0; n < mix.size(); ++n) {
        mix[n] += beating[n];
    }

    const std::vector<double> peaksHz = strongestPeaksHz(mix, kSampleRateHz, 60.0, 1000.0, 4);
    ASSERT_EQ(peaksHz.size(), 4U);
    EXPECT_NEAR(peaksHz[0], 196.0, 1.0);
    EXPECT_NEAR(peaksHz[1], 110.0, 0.1);
    EXPECT_NEAR(peaksHz[2], 246.94, 0.1);
    EXPECT_NEAR(peaksHz[3], 147.2, 0.1);

    const std::vector<double> outsideRange = strongestPeaksHz(mix, kSampleRateHz, 500.0, 1000.0, 1);
    ASSERT_EQ(outsideRange.size(), 1U);
    EXPECT_NEAR(outsideRange[0], 700.0, 0.1);
}

struct NoteCase {
    int midiNote;
    const char* name;
    double frequencyHz;
};

void PrintTo(const NoteCase& c, std::ostream* out) {
    *out << c.name;
}

class NoteNames : public testing::TestWithParam<NoteCase> {};

TEST_P(NoteNames, NameFrequencyAndNearestNoteAgree) {
    const NoteCase& c = GetParam();
    EXPECT_EQ(noteName(c.midiNote), c.name);
    EXPECT_NEAR(equalTemperedHz(c.midiNote), c.frequencyHz, 1e-3);
    EXPECT_EQ(nearestMidiNote(c.frequencyHz), c.midiNote);
    // Just under half a semitone either way still rounds to the same note.
    EXPECT_EQ(nearestMidiNote(c.frequencyHz * std::exp2(0.49 / 12.0)), c.midiNote);
    EXPECT_EQ(nearestMidiNote(c.frequencyHz * std::exp2(-0.49 / 12.0)), c.midiNote);
}

INSTANTIATE_TEST_SUITE_P(Notes, NoteNames,
                         testing::Values(NoteCase{40, "E2", 82.4069}, NoteCase{47, "B2", 123.4708},
                                         NoteCase{56, "G#3", 207.6523},
                                         NoteCase{60, "C4", 261.6256}, NoteCase{69, "A4", 440.0},
                                         NoteCase{71, "B4", 493.8833}, NoteCase{83, "B5", 987.7666},
                                         NoteCase{12, "C0", 16.3516}));

TEST(Cents, OctaveAndSemitone) {
    EXPECT_DOUBLE_EQ(centsBetween(880.0, 440.0), 1200.0);
    EXPECT_NEAR(centsBetween(equalTemperedHz(70), 440.0), 100.0, 1e-9);
    EXPECT_NEAR(centsBetween(220.0, 440.0), -1200.0, 1e-9);
}

}  // namespace
}  // namespace lyravox::analysis
