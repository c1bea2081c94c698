#pragma once

// Figures that tell a plucked string from a synthesiser: how unevenly its partials ring away and
// beat, how much noise the pluck carries, how much the body adds below the note, how fast the
// sound speaks. Each is defined where it is declared, so that a tool and a test measuring the
// same clip read the same number. Like clip_analysis, for tests and tools only.

#include "clip_analysis.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lyravox::analysis {

// Level of one partial over time: the signal shifted down by frequencyHz and smoothed by a Hann
// window of windowS (40 ms resolves partials 50 Hz apart and follows beats up to ~10 Hz),
// every hopS.
std::vector<LevelPoint> partialLevels(std::span<const double> x, double sampleRateHz,
                                      double frequencyHz, double windowS = 0.04,
                                      double hopS = 0.005);

struct LineFit {
    double slopeDbPerS;    // negative for a falling level
    double residualRmsDb;  // how far the level strays from the straight line
};

// Least-squares line through the points from fromS on that lie within 50 dB of the loudest of
// them (below that a partial is lost in the 16-bit floor and its track is noise, not sound).
LineFit fitLevelLine(std::span<const LevelPoint> levels, double fromS, double toS = 1e9);

// Frequencies of partials 1 … count, each the spectral peak within 40 cents of k × f0 in the ring
// from 0.2 s: a stiff string's partials sit sharp of the harmonic series.
std::vector<double> partialFrequenciesHz(std::span<const double> x, double sampleRateHz,
                                         double fundamentalHz, int count = 8);

// Per-partial decay scatter (dB/s): each of partials 1–8 gets the slope of its level line from
// 0.2 s to the end; a quadratic in the partial number (the smooth trend a frequency-dependent
// loss gives) is fitted through the eight rates; the figure is the RMS of their residuals.
double decayScatterDbPerS(std::span<const double> x, double sampleRateHz, double fundamentalHz);

// Mean beating (dB RMS): for partials 1–8, the RMS deviation of the level from its straight
// line from 0.2 s to the end (beats between the two polarisations, and a bent decay), averaged.
double meanBeatingDb(std::span<const double> x, double sampleRateHz, double fundamentalHz);

// Attack noise share (dB): over the 20 ms from the first non-zero sample, the energy of what
// does not repeat after one period, x(t) − g·x(t + T), against the energy of both x(t) and
// g·x(t + T); g brings the later period to the earlier one's level (their energies over one
// period), so a tone that rises or decays still repeats. A periodic tone reads far below
// −30 dB, white noise about 0 dB; upper partials of a stiff string that drift from the
// harmonic series count as noise, as the ear takes them for part of the pluck.
double attackNoiseShareDb(std::span<const double> x, double sampleRateHz, double fundamentalHz);

// Energy below 0.7 f0 (dB): over the 300 ms from the first non-zero sample, the spectral energy
// from 30 Hz to 0.7 × f0 against all of it above 30 Hz. A plain string has nothing there; a
// body's air and plate modes ringing after the pluck do, and so does a hard start (a click).
// The span ends in a half-Hann taper so the partials' leakage stays far below the figure; its
// start is the sound's own.
double lowBandShareDb(std::span<const double> x, double sampleRateHz, double fundamentalHz);

// Energy from 10 to 14 kHz (dB): over the 50 ms that start 10 ms after the first non-zero sample
// (the pick's scrape has passed, the upper partials ring), the spectral energy from 10 to 14 kHz
// against all of it, Hann-windowed. A string whose partials stop below 10 kHz reads near the
// 16-bit floor, far below -60 dB.
double highBandShareDb(std::span<const double> x, double sampleRateHz);

// Level of partial k against the fundamental (dB), both read over 20–80 ms of clip time.
double partialAt50MsDb(std::span<const double> x, double sampleRateHz, double fundamentalHz,
                       int partial);

// Energy rise (ms): the energy envelope is the signal squared and averaged over one period of
// the fundamental; the figure is the time from its first reaching 10 % to its first reaching
// 90 % of its largest value in the first 300 ms.
double energyRiseMs(std::span<const double> x, double sampleRateHz, double fundamentalHz);

// Level of the first non-zero sample against the clip's peak (dB).
double firstSampleDb(std::span<const std::int16_t> samples);

// Envelope beating (dB RMS): the RMS deviation of the 20 ms RMS level (every 5 ms) from its
// straight line between fromS and toS.
double envelopeBeatingDb(std::span<const double> x, double sampleRateHz, double fromS, double toS);

// Entry rise (dB): the RMS level of the 20 ms after entryS against that of the 20 ms before it.
double entryRiseDb(std::span<const double> x, double sampleRateHz, double entryS);

// Early pitch (cents against referenceHz): the repetition rate over the first 0.2 s of sound.
double earlyPitchCents(std::span<const double> x, double sampleRateHz, double referenceHz);

// Stiffness coefficient B of f_k = k·f0·√(1 + B k²), fitted by least squares to partials 1–8
// (relative to partial 1).
double inharmonicity(std::span<const double> x, double sampleRateHz, double fundamentalHz);

}  // namespace lyravox::analysis
