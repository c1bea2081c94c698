#pragma once

// Measurements that tests make on rendered clips. Everything works on samples in full-scale units
// (1.0 = 0 dBFS) so that a test can check a clip against physical expectations (pitch in cents,
// levels in dBFS, decay in dB/s, onset times in seconds) instead of against stored sample data.
// Functions are pure and allocate freely: they are for tests and tools, never the audio thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lyravox::analysis {

// Levels of silence are reported as this instead of -inf, so comparisons and printing stay sane.
inline constexpr double kSilenceDbfs = -200.0;

std::vector<double> toFullScale(std::span<const std::int16_t> samples);

double centsBetween(double frequencyHz, double referenceHz);

// A4 = MIDI 69 = 440 Hz.
double equalTemperedHz(int midiNote);
int nearestMidiNote(double frequencyHz);
// Sharps only, octave numbers as in scientific pitch notation: 40 -> "E2", 56 -> "G#3".
std::string noteName(int midiNote);

// Repetition rate of the waveform over the whole span, from the normalised autocorrelation.
// Normalisation makes the result insensitive to an exponentially decaying amplitude, and the
// period is refined at a lag spanning many periods so sub-sample errors shrink with clip length.
// Returns NaN when no period between minHz and maxHz is found.
double pitchHzByAutocorrelation(std::span<const double> x, double sampleRateHz, double minHz,
                                double maxHz);

// Frequency of the largest Hann-windowed spectral peak within +-searchCents of nearHz.
double peakFrequencyHz(std::span<const double> x, double sampleRateHz, double nearHz,
                       double searchCents);

// Hann-windowed spectral magnitude at frequencyHz, scaled so a steady sinusoid of amplitude a
// reads a.
double amplitudeAt(std::span<const double> x, double sampleRateHz, double frequencyHz);

// 20 log10 of the largest amplitudeAt within +-searchCents of frequencyHz.
double partialLevelDb(std::span<const double> x, double sampleRateHz, double frequencyHz,
                      double searchCents);

double rmsDbfs(std::span<const double> x);

struct LevelPoint {
    double timeS;  // window centre, from the start of the span
    double levelDbfs;
};

// RMS level of every complete window.
std::vector<LevelPoint> rmsLevels(std::span<const double> x, double sampleRateHz,
                                  double windowS = 0.05, double hopS = 0.01);

// Least-squares slope of rmsLevels over the windows lying entirely after fromS, positive for a
// falling level. NaN when fewer than two windows qualify.
double decayDbPerS(std::span<const double> x, double sampleRateHz, double fromS);

// RMS level of the last 50 ms.
double endLevelDbfs(std::span<const double> x, double sampleRateHz);

std::size_t leadingZeroCount(std::span<const std::int16_t> samples);

// Time of the first sample whose magnitude exceeds fraction of full scale; negative if none.
double firstAboveS(std::span<const double> x, double sampleRateHz, double fraction);

// Time and level of the largest magnitude sample (the first one if it repeats).
double peakTimeS(std::span<const double> x, double sampleRateHz);
double peakDbfs(std::span<const double> x);

// Entry time of each note of an arpeggio whose notes enter one after another and then ring
// together. fundamentalsHz must be listed in entry order: each note is looked for after the
// previous one entered, which keeps a lower note's harmonic (E2's second = E3) from being taken for
// the later note it coincides with. The fundamentals must lie at least ~30 Hz apart from each
// other and from the other notes' strong harmonics, except where such a coincidence comes from an
// earlier note. smoothingS trades time resolution against separation of neighbouring partials.
// A note without a detectable entry gets NaN.
std::vector<double> noteOnsetsS(std::span<const double> x, double sampleRateHz,
                                std::span<const double> fundamentalsHz, double smoothingS = 0.015);

// Frequencies of the count largest local maxima of the Hann-windowed magnitude spectrum between
// minHz and maxHz, strongest first; maxima within 3 Hz of a stronger one are dropped.
std::vector<double> strongestPeaksHz(std::span<const double> x, double sampleRateHz, double minHz,
                                     double maxHz, std::size_t count);

}  // namespace lyravox::analysis
