#include "clip_realism.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace lyravox::analysis {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kRingFromS = 0.2;
constexpr int kPartialsCompared = 8;
constexpr double kPartialSearchCents = 40.0;

double energyDb(double ratio) {
    return 10.0 * std::log10(std::max(ratio, 1e-20));
}

std::size_t firstNonZero(std::span<const double> x) {
    const auto it = std::find_if(x.begin(), x.end(), [](double v) { return v != 0.0; });
    return static_cast<std::size_t>(it - x.begin());
}

std::span<const double> clipBetween(std::span<const double> x, double sampleRateHz, double fromS,
                                    double toS) {
    const auto first = std::min(x.size(), static_cast<std::size_t>(fromS * sampleRateHz));
    const auto last = std::min(x.size(), static_cast<std::size_t>(toS * sampleRateHz));
    return x.subspan(first, std::max(first, last) - first);
}

// Windowed-sinc (Lanczos, 8 lobes) reading between samples, exact enough up to 15 kHz that
// interpolation does not pass for noise.
double sampleAt(std::span<const double> x, double position) {
    constexpr int kLobes = 8;
    const auto whole = static_cast<long>(std::floor(position));
    double sum = 0.0;
    for (long i = whole - kLobes + 1; i <= whole + kLobes; ++i) {
        if (i < 0 || i >= static_cast<long>(x.size()))
            continue;
        const double d = position - static_cast<double>(i);
        const double weight = d == 0.0 ? 1.0
                                       : kLobes * std::sin(std::numbers::pi * d) *
                                                 std::sin(std::numbers::pi * d / kLobes) /
                                                 (std::numbers::pi * std::numbers::pi * d * d);
        sum += x[static_cast<std::size_t>(i)] * weight;
    }
    return sum;
}

// Coefficients c0 + c1 k + c2 k² of the least-squares quadratic through (k, y_k).
std::array<double, 3> quadraticFit(std::span<const double> ks, std::span<const double> ys) {
    double m[3][4] = {};
    for (std::size_t i = 0; i < ks.size(); ++i) {
        const double p[3] = {1.0, ks[i], ks[i] * ks[i]};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += p[r] * p[c];
            m[r][3] += p[r] * ys[i];
        }
    }
    for (int col = 0; col < 3; ++col) {
        for (int r = col + 1; r < 3; ++r) {
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 4; ++c)
                m[r][c] -= f * m[col][c];
        }
    }
    std::array<double, 3> coefficients{};
    for (int r = 2; r >= 0; --r) {
        double v = m[r][3];
        for (int c = r + 1; c < 3; ++c)
            v -= m[r][c] * coefficients[static_cast<std::size_t>(c)];
        coefficients[static_cast<std::size_t>(r)] = v / m[r][r];
    }
    return coefficients;
}

// Energy of x between loHz and hiHz, in the units of Σ x²: the spectrum sampled at half-bin
// steps counts every bin twice, and by Parseval the bins, fs/N apart, hold N times the energy.
double bandEnergy(std::span<const double> x, double sampleRateHz, double loHz, double hiHz) {
    const double binHz = sampleRateHz / static_cast<double>(x.size());
    const double stepHz = binHz / 2.0;
    double band = 0.0;
    for (double hz = loHz; hz < hiHz; hz += stepHz) {
        double re = 0.0, im = 0.0;
        const double stepRad = -kTwoPi * hz / sampleRateHz;
        for (std::size_t n = 0; n < x.size(); ++n) {
            re += x[n] * std::cos(stepRad * static_cast<double>(n));
            im += x[n] * std::sin(stepRad * static_cast<double>(n));
        }
        band += 2.0 * (re * re + im * im) * (stepHz / binHz);
    }
    return band / static_cast<double>(x.size());
}

std::vector<LineFit> partialRingFits(std::span<const double> x, double sampleRateHz,
                                     double fundamentalHz) {
    const std::vector<double> frequenciesHz =
            partialFrequenciesHz(x, sampleRateHz, fundamentalHz, kPartialsCompared);
    std::vector<LineFit> fits;
    for (double hz : frequenciesHz) {
        const auto levels = partialLevels(x, sampleRateHz, hz);
        fits.push_back(fitLevelLine(levels, kRingFromS + 0.02));
    }
    return fits;
}

}  // namespace

std::vector<LevelPoint> partialLevels(std::span<const double> x, double sampleRateHz,
                                      double frequencyHz, double windowS, double hopS) {
    const auto windowSamples = static_cast<std::size_t>(std::lround(windowS * sampleRateHz));
    const auto hopSamples = std::max<std::size_t>(1, std::lround(hopS * sampleRateHz));
    std::vector<double> window(windowSamples);
    double windowSum = 0.0;
    for (std::size_t n = 0; n < windowSamples; ++n) {
        window[n] = 0.5 - 0.5 * std::cos(kTwoPi * (static_cast<double>(n) + 0.5) /
                                         static_cast<double>(windowSamples));
        windowSum += window[n];
    }
    std::vector<double> shiftedRe(x.size()), shiftedIm(x.size());
    const double stepRad = -kTwoPi * frequencyHz / sampleRateHz;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double phase = std::fmod(stepRad * static_cast<double>(n), kTwoPi);
        shiftedRe[n] = x[n] * std::cos(phase);
        shiftedIm[n] = x[n] * std::sin(phase);
    }
    std::vector<LevelPoint> levels;
    for (std::size_t start = 0; start + windowSamples <= x.size(); start += hopSamples) {
        double re = 0.0, im = 0.0;
        for (std::size_t n = 0; n < windowSamples; ++n) {
            re += window[n] * shiftedRe[start + n];
            im += window[n] * shiftedIm[start + n];
        }
        const double amplitude = 2.0 * std::hypot(re, im) / windowSum;
        const double centreS =
                (static_cast<double>(start) + static_cast<double>(windowSamples) / 2.0) /
                sampleRateHz;
        levels.push_back({centreS, 20.0 * std::log10(std::max(amplitude, 1e-10))});
    }
    return levels;
}

LineFit fitLevelLine(std::span<const LevelPoint> levels, double fromS, double toS) {
    double loudest = -1e9;
    for (const LevelPoint& p : levels) {
        if (p.timeS >= fromS && p.timeS <= toS)
            loudest = std::max(loudest, p.levelDbfs);
    }
    std::vector<LevelPoint> used;
    for (const LevelPoint& p : levels) {
        if (p.timeS >= fromS && p.timeS <= toS && p.levelDbfs > loudest - 50.0)
            used.push_back(p);
    }
    if (used.size() < 3)
        return {std::nan(""), std::nan("")};
    double meanT = 0.0, meanL = 0.0;
    for (const LevelPoint& p : used) {
        meanT += p.timeS;
        meanL += p.levelDbfs;
    }
    meanT /= static_cast<double>(used.size());
    meanL /= static_cast<double>(used.size());
    double covariance = 0.0, variance = 0.0;
    for (const LevelPoint& p : used) {
        covariance += (p.timeS - meanT) * (p.levelDbfs - meanL);
        variance += (p.timeS - meanT) * (p.timeS - meanT);
    }
    const double slope = covariance / variance;
    double residual = 0.0;
    for (const LevelPoint& p : used) {
        const double d = p.levelDbfs - (meanL + slope * (p.timeS - meanT));
        residual += d * d;
    }
    return {slope, std::sqrt(residual / static_cast<double>(used.size()))};
}

std::vector<double> partialFrequenciesHz(std::span<const double> x, double sampleRateHz,
                                         double fundamentalHz, int count) {
    const auto ring =
            x.subspan(std::min(x.size(), static_cast<std::size_t>(kRingFromS * sampleRateHz)));
    std::vector<double> frequenciesHz;
    for (int k = 1; k <= count; ++k)
        frequenciesHz.push_back(
                peakFrequencyHz(ring, sampleRateHz, k * fundamentalHz, kPartialSearchCents));
    return frequenciesHz;
}

double decayScatterDbPerS(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    std::vector<double> ks, rates;
    int k = 1;
    for (const LineFit& fit : partialRingFits(x, sampleRateHz, fundamentalHz)) {
        ks.push_back(k++);
        rates.push_back(-fit.slopeDbPerS);
    }
    const auto c = quadraticFit(ks, rates);
    double sum = 0.0;
    for (std::size_t i = 0; i < ks.size(); ++i) {
        const double d = rates[i] - (c[0] + c[1] * ks[i] + c[2] * ks[i] * ks[i]);
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(ks.size()));
}

double meanBeatingDb(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    double sum = 0.0;
    const auto fits = partialRingFits(x, sampleRateHz, fundamentalHz);
    for (const LineFit& fit : fits)
        sum += fit.residualRmsDb;
    return sum / static_cast<double>(fits.size());
}

double attackNoiseShareDb(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    const std::size_t onset = firstNonZero(x);
    const auto length = static_cast<std::size_t>(0.020 * sampleRateHz);
    const double periodSamples = sampleRateHz / fundamentalHz;
    std::vector<double> cumulative(x.size() + 1, 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        cumulative[n + 1] = cumulative[n] + x[n] * x[n];
    const auto periodWhole = static_cast<std::size_t>(std::lround(periodSamples));
    // Energy over the period from n: a rising or falling tone changes its amplitude, not its
    // shape, so the later period is brought to the earlier one's level before comparing.
    auto periodEnergy = [&](std::size_t n) {
        return cumulative[std::min(x.size(), n + periodWhole)] - cumulative[std::min(x.size(), n)];
    };
    double differing = 0.0, both = 0.0;
    for (std::size_t n = onset; n < onset + length && n + 2 * periodWhole < x.size(); ++n) {
        const double laterEnergy = periodEnergy(n + periodWhole);
        const double gain = laterEnergy > 0.0 ? std::sqrt(periodEnergy(n) / laterEnergy) : 0.0;
        const double later = gain * sampleAt(x, static_cast<double>(n) + periodSamples);
        differing += (x[n] - later) * (x[n] - later);
        both += x[n] * x[n] + later * later;
    }
    return energyDb(differing / both);
}

double lowBandShareDb(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    const std::size_t onset = firstNonZero(x);
    const std::size_t length =
            std::min(x.size() - onset, static_cast<std::size_t>(0.3 * sampleRateHz));
    const std::size_t flat = length / 2;
    std::vector<double> tapered(length);
    double total = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double w =
                n < flat ? 1.0
                         : 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(n - flat) /
                                                static_cast<double>(length - flat));
        tapered[n] = w * x[onset + n];
        total += tapered[n] * tapered[n];
    }
    return energyDb(bandEnergy(tapered, sampleRateHz, 30.0, 0.7 * fundamentalHz) / total);
}

double highBandShareDb(std::span<const double> x, double sampleRateHz) {
    const std::size_t start =
            firstNonZero(x) + static_cast<std::size_t>(std::lround(0.010 * sampleRateHz));
    const std::size_t length =
            std::min(x.size() - std::min(x.size(), start),
                     static_cast<std::size_t>(std::lround(0.050 * sampleRateHz)));
    if (length < 2)
        return energyDb(0.0);
    std::vector<double> windowed(length);
    double total = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double w = 0.5 - 0.5 * std::cos(kTwoPi * (static_cast<double>(n) + 0.5) /
                                              static_cast<double>(length));
        windowed[n] = w * x[start + n];
        total += windowed[n] * windowed[n];
    }
    return energyDb(bandEnergy(windowed, sampleRateHz, 10000.0, 14000.0) / total);
}

double partialAt50MsDb(std::span<const double> x, double sampleRateHz, double fundamentalHz,
                       int partial) {
    const auto span = clipBetween(x, sampleRateHz, 0.020, 0.080);
    return partialLevelDb(span, sampleRateHz, partial * fundamentalHz, kPartialSearchCents) -
           partialLevelDb(span, sampleRateHz, fundamentalHz, kPartialSearchCents);
}

double energyRiseMs(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    const auto period = static_cast<std::size_t>(std::lround(sampleRateHz / fundamentalHz));
    const std::size_t length =
            std::min(x.size() - period, static_cast<std::size_t>(0.3 * sampleRateHz));
    std::vector<double> cumulative(x.size() + 1, 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        cumulative[n + 1] = cumulative[n] + x[n] * x[n];
    std::vector<double> envelope(length);
    for (std::size_t n = 0; n < length; ++n)
        envelope[n] = cumulative[n + period] - cumulative[n];
    const double largest = *std::max_element(envelope.begin(), envelope.end());
    auto firstReaching = [&](double fraction) {
        const auto it = std::find_if(envelope.begin(), envelope.end(),
                                     [&](double e) { return e >= fraction * largest; });
        return static_cast<double>(it - envelope.begin());
    };
    return (firstReaching(0.9) - firstReaching(0.1)) / sampleRateHz * 1000.0;
}

double firstSampleDb(std::span<const std::int16_t> samples) {
    int largest = 0;
    for (std::int16_t s : samples)
        largest = std::max(largest, std::abs(static_cast<int>(s)));
    const auto first =
            std::find_if(samples.begin(), samples.end(), [](std::int16_t s) { return s != 0; });
    if (first == samples.end())
        return kSilenceDbfs;
    return 20.0 * std::log10(std::abs(static_cast<double>(*first)) / largest);
}

double envelopeBeatingDb(std::span<const double> x, double sampleRateHz, double fromS, double toS) {
    const auto levels =
            rmsLevels(clipBetween(x, sampleRateHz, fromS, toS), sampleRateHz, 0.02, 0.005);
    return fitLevelLine(levels, 0.0).residualRmsDb;
}

double entryRiseDb(std::span<const double> x, double sampleRateHz, double entryS) {
    return rmsDbfs(clipBetween(x, sampleRateHz, entryS, entryS + 0.02)) -
           rmsDbfs(clipBetween(x, sampleRateHz, entryS - 0.02, entryS));
}

double earlyPitchCents(std::span<const double> x, double sampleRateHz, double referenceHz) {
    const auto early = clipBetween(x, sampleRateHz, 0.0, 0.2).subspan(firstNonZero(x));
    return centsBetween(
            pitchHzByAutocorrelation(early, sampleRateHz, referenceHz * 0.8, referenceHz * 1.25),
            referenceHz);
}

double inharmonicity(std::span<const double> x, double sampleRateHz, double fundamentalHz) {
    const auto frequenciesHz =
            partialFrequenciesHz(x, sampleRateHz, fundamentalHz, kPartialsCompared);
    double numerator = 0.0, denominator = 0.0;
    for (int k = 2; k <= kPartialsCompared; ++k) {
        const double ratio =
                frequenciesHz[static_cast<std::size_t>(k - 1)] / (k * frequenciesHz.front());
        const double r = ratio * ratio;
        numerator += (r - 1.0) * (k * k - r);
        denominator += (k * k - r) * (k * k - r);
    }
    return numerator / denominator;
}

}  // namespace lyravox::analysis
