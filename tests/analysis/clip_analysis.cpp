#include "clip_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>

namespace lyravox::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kFullScale = 32768.0;
constexpr double kEndWindowS = 0.05;

double amplitudeToDb(double amplitude) {
    const double floorAmplitude = std::pow(10.0, kSilenceDbfs / 20.0);
    return 20.0 * std::log10(std::max(amplitude, floorAmplitude));
}

// Vertex offset of the parabola through three equally spaced values, in units of their spacing.
double parabolicOffset(double before, double centre, double after) {
    const double curvature = before - 2.0 * centre + after;
    if (curvature >= 0.0) {
        return 0.0;
    }
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

std::vector<double> hannWindow(std::size_t length) {
    std::vector<double> window(length, 1.0);
    if (length < 2) {
        return window;
    }
    const double denominator = static_cast<double>(length - 1);
    for (std::size_t n = 0; n < length; ++n) {
        window[n] = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(n) / denominator);
    }
    return window;
}

std::vector<double> hannWindowed(std::span<const double> x) {
    std::vector<double> windowed = hannWindow(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        windowed[n] *= x[n];
    }
    return windowed;
}

// Direct DTFT, because the frequencies of interest are arbitrary and a handful per call. The
// phasor is re-derived exactly every few thousand steps so rounding cannot accumulate over long
// clips.
double dtftMagnitude(std::span<const double> windowed, double sampleRateHz, double frequencyHz) {
    // Plain doubles rather than std::complex: this loop dominates the spectral functions and
    // std::complex is slow in unoptimised sanitizer builds.
    const double stepRad = -kTwoPi * frequencyHz / sampleRateHz;
    const double stepCos = std::cos(stepRad);
    const double stepSin = std::sin(stepRad);
    constexpr std::size_t kResyncSamples = 4096;
    double sumRe = 0.0;
    double sumIm = 0.0;
    double phasorRe = 1.0;
    double phasorIm = 0.0;
    for (std::size_t n = 0; n < windowed.size(); ++n) {
        if (n % kResyncSamples == 0) {
            phasorRe = std::cos(stepRad * static_cast<double>(n));
            phasorIm = std::sin(stepRad * static_cast<double>(n));
        }
        sumRe += windowed[n] * phasorRe;
        sumIm += windowed[n] * phasorIm;
        const double nextRe = phasorRe * stepCos - phasorIm * stepSin;
        phasorIm = phasorRe * stepSin + phasorIm * stepCos;
        phasorRe = nextRe;
    }
    return std::hypot(sumRe, sumIm);
}

double normalisedCorrelation(std::span<const double> x, std::size_t lagSamples,
                             std::size_t termCount) {
    double cross = 0.0;
    double leadEnergy = 0.0;
    double lagEnergy = 0.0;
    for (std::size_t n = 0; n < termCount; ++n) {
        const double lead = x[n];
        const double lagged = x[n + lagSamples];
        cross += lead * lagged;
        leadEnergy += lead * lead;
        lagEnergy += lagged * lagged;
    }
    if (leadEnergy <= 0.0 || lagEnergy <= 0.0) {
        return 0.0;
    }
    return cross / std::sqrt(leadEnergy * lagEnergy);
}

// Climbs from startLag to the nearest local maximum of the full-overlap correlation and returns
// its sub-sample position.
double refinedCorrelationPeak(std::span<const double> x, std::size_t startLag) {
    const auto correlationAt = [&](std::size_t lag) {
        return normalisedCorrelation(x, lag, x.size() - lag);
    };
    std::size_t lag = std::max<std::size_t>(startLag, 2);
    double before = correlationAt(lag - 1);
    double centre = correlationAt(lag);
    double after = correlationAt(lag + 1);
    constexpr int kMaxSteps = 16;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (after > centre && lag + 2 < x.size()) {
            ++lag;
            before = centre;
            centre = after;
            after = correlationAt(lag + 1);
        } else if (before > centre && lag > 2) {
            --lag;
            after = centre;
            centre = before;
            before = correlationAt(lag - 1);
        } else {
            break;
        }
    }
    return static_cast<double>(lag) + parabolicOffset(before, centre, after);
}

void fftInPlace(std::vector<std::complex<double>>& data) {
    const std::size_t size = data.size();
    for (std::size_t i = 1, j = 0; i < size; ++i) {
        std::size_t bit = size >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    for (std::size_t length = 2; length <= size; length <<= 1) {
        const std::complex<double> rootStep =
                std::polar(1.0, -kTwoPi / static_cast<double>(length));
        for (std::size_t start = 0; start < size; start += length) {
            std::complex<double> root = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> even = data[start + k];
                const std::complex<double> odd = data[start + k + length / 2] * root;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
                root *= rootStep;
            }
        }
    }
}

}  // namespace

std::vector<double> toFullScale(std::span<const std::int16_t> samples) {
    std::vector<double> result(samples.size());
    std::transform(samples.begin(), samples.end(), result.begin(),
                   [](std::int16_t s) { return static_cast<double>(s) / kFullScale; });
    return result;
}

double centsBetween(double frequencyHz, double referenceHz) {
    return 1200.0 * std::log2(frequencyHz / referenceHz);
}

double equalTemperedHz(int midiNote) {
    return 440.0 * std::exp2(static_cast<double>(midiNote - 69) / 12.0);
}

int nearestMidiNote(double frequencyHz) {
    return static_cast<int>(std::lround(69.0 + centsBetween(frequencyHz, 440.0) / 100.0));
}

std::string noteName(int midiNote) {
    static constexpr std::array<const char*, 12> kPitchClasses = {
            "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const int pitchClass = ((midiNote % 12) + 12) % 12;
    const int octave = (midiNote - pitchClass) / 12 - 1;
    return std::string(kPitchClasses[static_cast<std::size_t>(pitchClass)]) +
           std::to_string(octave);
}

double pitchHzByAutocorrelation(std::span<const double> x, double sampleRateHz, double minHz,
                                double maxHz) {
    const std::size_t size = x.size();
    const auto shortestLag =
            std::max<std::size_t>(2, static_cast<std::size_t>(std::floor(sampleRateHz / maxHz)));
    const std::size_t longestLag =
            std::min(static_cast<std::size_t>(std::ceil(sampleRateHz / minHz)), size / 2);
    if (longestLag < shortestLag + 2) {
        return kNaN;
    }

    // The coarse search only has to find the right integer period, so a few hundred milliseconds
    // of signal are plenty and keep the cost bounded for long clips.
    constexpr std::size_t kCoarseTerms = 16384;
    const std::size_t coarseTerms = std::min(kCoarseTerms, size - (longestLag + 1));
    std::vector<double> coarse(longestLag + 2, 0.0);
    for (std::size_t lag = shortestLag - 1; lag <= longestLag + 1; ++lag) {
        coarse[lag] = normalisedCorrelation(x, lag, coarseTerms);
    }
    double bestPeak = -1.0;
    for (std::size_t lag = shortestLag; lag <= longestLag; ++lag) {
        if (coarse[lag] > coarse[lag - 1] && coarse[lag] >= coarse[lag + 1]) {
            bestPeak = std::max(bestPeak, coarse[lag]);
        }
    }
    if (bestPeak <= 0.0) {
        return kNaN;
    }
    // Multiples of the period correlate almost as well as the period itself, and a body's ringing
    // below the note can lift one of them past it (G3's doubled period read 6 % above its own);
    // the shortest lag within a tenth of the best is the true period. Half a period of a plucked
    // string correlates far worse (0.2 at most), so this never jumps an octave up.
    std::size_t periodLag = 0;
    for (std::size_t lag = shortestLag; lag <= longestLag; ++lag) {
        if (coarse[lag] > coarse[lag - 1] && coarse[lag] >= coarse[lag + 1] &&
            coarse[lag] >= bestPeak - 0.1 * bestPeak) {
            periodLag = lag;
            break;
        }
    }
    double periodSamples =
            static_cast<double>(periodLag) +
            parabolicOffset(coarse[periodLag - 1], coarse[periodLag], coarse[periodLag + 1]);

    // The interpolation error is a fraction of a sample whatever the lag, so measuring at a lag of
    // many periods divides it by their number. Doubling keeps each prediction within a sample or
    // two of the true peak, so the climb never lands on a neighbouring one.
    const double longestRefinementLag = static_cast<double>(size - 1) / 2.0;
    const int periodCount = std::max(1, static_cast<int>(longestRefinementLag / periodSamples));
    for (int count = 1; count < periodCount;) {
        const int nextCount = std::min(2 * count, periodCount);
        const auto predictedLag = static_cast<std::size_t>(std::lround(nextCount * periodSamples));
        periodSamples = refinedCorrelationPeak(x, predictedLag) / nextCount;
        count = nextCount;
    }
    return sampleRateHz / periodSamples;
}

double peakFrequencyHz(std::span<const double> x, double sampleRateHz, double nearHz,
                       double searchCents) {
    if (x.empty()) {
        return kNaN;
    }
    const std::vector<double> windowed = hannWindowed(x);
    const auto magnitudeAt = [&](double frequencyHz) {
        return dtftMagnitude(windowed, sampleRateHz, frequencyHz);
    };
    const double lowHz = nearHz * std::exp2(-searchCents / 1200.0);
    const double highHz = nearHz * std::exp2(searchCents / 1200.0);

    // The Hann main lobe is four bins wide, so with half-bin steps the largest grid value always
    // lies on the largest peak's lobe, within one step of its top.
    const double gridStepHz = 0.5 * sampleRateHz / static_cast<double>(x.size());
    const auto stepCount = std::max<std::size_t>(
            2, static_cast<std::size_t>(std::ceil((highHz - lowHz) / gridStepHz)));
    const double stepHz = (highHz - lowHz) / static_cast<double>(stepCount);
    std::size_t bestIndex = 0;
    double bestMagnitude = -1.0;
    for (std::size_t i = 0; i <= stepCount; ++i) {
        const double magnitude = magnitudeAt(lowHz + stepHz * static_cast<double>(i));
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            bestIndex = i;
        }
    }

    double a = lowHz + stepHz * static_cast<double>(bestIndex == 0 ? 0 : bestIndex - 1);
    double b = lowHz + stepHz * static_cast<double>(std::min(bestIndex + 1, stepCount));
    const double inverseGolden = (std::sqrt(5.0) - 1.0) / 2.0;
    double c = b - inverseGolden * (b - a);
    double d = a + inverseGolden * (b - a);
    double magnitudeC = magnitudeAt(c);
    double magnitudeD = magnitudeAt(d);
    // 0.001 cent: far below the accuracy asked of callers, and only a few more evaluations.
    const double toleranceHz = nearHz * (std::exp2(0.001 / 1200.0) - 1.0);
    while (b - a > toleranceHz) {
        if (magnitudeC > magnitudeD) {
            b = d;
            d = c;
            magnitudeD = magnitudeC;
            c = b - inverseGolden * (b - a);
            magnitudeC = magnitudeAt(c);
        } else {
            a = c;
            c = d;
            magnitudeC = magnitudeD;
            d = a + inverseGolden * (b - a);
            magnitudeD = magnitudeAt(d);
        }
    }
    return 0.5 * (a + b);
}

double amplitudeAt(std::span<const double> x, double sampleRateHz, double frequencyHz) {
    if (x.empty()) {
        return 0.0;
    }
    const std::vector<double> windowed = hannWindowed(x);
    const std::vector<double> window = hannWindow(x.size());
    const double windowSum = std::accumulate(window.begin(), window.end(), 0.0);
    return dtftMagnitude(windowed, sampleRateHz, frequencyHz) / (windowSum / 2.0);
}

double partialLevelDb(std::span<const double> x, double sampleRateHz, double frequencyHz,
                      double searchCents) {
    const double peakHz = peakFrequencyHz(x, sampleRateHz, frequencyHz, searchCents);
    if (std::isnan(peakHz)) {
        return kSilenceDbfs;
    }
    return amplitudeToDb(amplitudeAt(x, sampleRateHz, peakHz));
}

double rmsDbfs(std::span<const double> x) {
    if (x.empty()) {
        return kSilenceDbfs;
    }
    double energy = 0.0;
    for (const double sample : x) {
        energy += sample * sample;
    }
    return amplitudeToDb(std::sqrt(energy / static_cast<double>(x.size())));
}

std::vector<LevelPoint> rmsLevels(std::span<const double> x, double sampleRateHz, double windowS,
                                  double hopS) {
    const auto windowSamples =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(windowS * sampleRateHz)));
    const auto hopSamples =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(hopS * sampleRateHz)));
    std::vector<LevelPoint> levels;
    for (std::size_t start = 0; start + windowSamples <= x.size(); start += hopSamples) {
        const double centreS =
                (static_cast<double>(start) + static_cast<double>(windowSamples) / 2.0) /
                sampleRateHz;
        levels.push_back({centreS, rmsDbfs(x.subspan(start, windowSamples))});
    }
    return levels;
}

double decayDbPerS(std::span<const double> x, double sampleRateHz, double fromS) {
    constexpr double kWindowS = 0.05;
    const std::vector<LevelPoint> levels = rmsLevels(x, sampleRateHz, kWindowS, 0.01);
    // Window starts are whole samples, so allow half a sample of rounding in the comparison.
    const double slackS = 0.5 / sampleRateHz;
    double count = 0.0;
    double sumT = 0.0;
    double sumL = 0.0;
    for (const LevelPoint& point : levels) {
        if (point.timeS - kWindowS / 2.0 >= fromS - slackS) {
            count += 1.0;
            sumT += point.timeS;
            sumL += point.levelDbfs;
        }
    }
    if (count < 2.0) {
        return kNaN;
    }
    const double meanT = sumT / count;
    const double meanL = sumL / count;
    double covariance = 0.0;
    double variance = 0.0;
    for (const LevelPoint& point : levels) {
        if (point.timeS - kWindowS / 2.0 >= fromS - slackS) {
            covariance += (point.timeS - meanT) * (point.levelDbfs - meanL);
            variance += (point.timeS - meanT) * (point.timeS - meanT);
        }
    }
    return -covariance / variance;
}

double endLevelDbfs(std::span<const double> x, double sampleRateHz) {
    const auto tailSamples =
            std::min(x.size(), static_cast<std::size_t>(std::lround(kEndWindowS * sampleRateHz)));
    return rmsDbfs(x.last(tailSamples));
}

std::size_t leadingZeroCount(std::span<const std::int16_t> samples) {
    const auto firstNonZero =
            std::find_if(samples.begin(), samples.end(), [](std::int16_t s) { return s != 0; });
    return static_cast<std::size_t>(firstNonZero - samples.begin());
}

double firstAboveS(std::span<const double> x, double sampleRateHz, double fraction) {
    for (std::size_t n = 0; n < x.size(); ++n) {
        if (std::abs(x[n]) > fraction) {
            return static_cast<double>(n) / sampleRateHz;
        }
    }
    return -1.0;
}

double peakTimeS(std::span<const double> x, double sampleRateHz) {
    const auto loudest = std::max_element(
            x.begin(), x.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
    if (loudest == x.end()) {
        return -1.0;
    }
    return static_cast<double>(loudest - x.begin()) / sampleRateHz;
}

double peakDbfs(std::span<const double> x) {
    double peak = 0.0;
    for (const double sample : x) {
        peak = std::max(peak, std::abs(sample));
    }
    return amplitudeToDb(peak);
}

// Method: each note's fundamental is shifted to 0 Hz (complex demodulation) and summed in 0.5 ms
// blocks; a derivative-of-Gaussian kernel over those blocks then measures how much the complex
// amplitude at that frequency changes around each instant. A note entering is a step in that
// amplitude, so the change peaks at the entry, whatever the phase of a partial already sounding
// there. The kernel is smooth, so partials ~30 Hz or more away leak in below -40 dB; its response
// to a step is symmetric, so the peak sits on the entry (on the middle of a short attack), and a
// parabola through the peak gives sub-block timing. Only rises count (the later half of the
// kernel must hold more than the earlier half), and the kernel must fit before the clip's end so
// that the end of the data is not taken for an event.
std::vector<double> noteOnsetsS(std::span<const double> x, double sampleRateHz,
                                std::span<const double> fundamentalsHz, double smoothingS) {
    const auto blockSamples =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(0.0005 * sampleRateHz)));
    const double blockS = static_cast<double>(blockSamples) / sampleRateHz;
    const std::size_t blockCount = x.size() / blockSamples;
    const auto kernelHalfBlocks = static_cast<std::size_t>(std::ceil(4.0 * smoothingS / blockS));

    std::vector<double> kernel(kernelHalfBlocks + 1, 0.0);
    for (std::size_t j = 1; j <= kernelHalfBlocks; ++j) {
        const double offsetS = static_cast<double>(j) * blockS;
        kernel[j] = offsetS * std::exp(-offsetS * offsetS / (2.0 * smoothingS * smoothingS));
    }

    std::vector<double> onsetsS;
    double earliestS = 0.0;
    std::vector<std::complex<double>> blocks(blockCount);
    std::vector<double> rise(blockCount, 0.0);
    for (const double fundamentalHz : fundamentalsHz) {
        const double stepRad = -kTwoPi * fundamentalHz / sampleRateHz;
        const std::complex<double> step = std::polar(1.0, stepRad);
        for (std::size_t b = 0; b < blockCount; ++b) {
            const std::size_t first = b * blockSamples;
            std::complex<double> phasor = std::polar(1.0, stepRad * static_cast<double>(first));
            std::complex<double> sum = 0.0;
            for (std::size_t n = first; n < first + blockSamples; ++n) {
                sum += x[n] * phasor;
                phasor *= step;
            }
            blocks[b] = sum;
        }

        std::fill(rise.begin(), rise.end(), 0.0);
        const std::size_t lastCentre =
                blockCount > kernelHalfBlocks ? blockCount - kernelHalfBlocks : 0;
        for (std::size_t b = 0; b < lastCentre; ++b) {
            std::complex<double> later = 0.0;
            std::complex<double> earlier = 0.0;
            for (std::size_t j = 1; j <= kernelHalfBlocks; ++j) {
                later += kernel[j] * blocks[b + j];
                if (j <= b) {
                    earlier += kernel[j] * blocks[b - j];
                }
            }
            if (std::abs(later) > std::abs(earlier)) {
                rise[b] = std::abs(later - earlier);
            }
        }

        const auto firstCandidate = static_cast<std::size_t>(
                std::max(1.0, std::ceil((earliestS - 0.5 * blockS) / blockS)));
        std::size_t bestBlock = 0;
        double bestRise = 0.0;
        for (std::size_t b = firstCandidate; b + 1 < lastCentre; ++b) {
            if (rise[b] > rise[b - 1] && rise[b] >= rise[b + 1] && rise[b] > bestRise) {
                bestRise = rise[b];
                bestBlock = b;
            }
        }
        if (bestRise <= 0.0) {
            onsetsS.push_back(kNaN);
            continue;
        }
        const double offsetBlocks =
                parabolicOffset(rise[bestBlock - 1], rise[bestBlock], rise[bestBlock + 1]);
        const double onsetS = (static_cast<double>(bestBlock) + 0.5 + offsetBlocks) * blockS;
        onsetsS.push_back(onsetS);
        earliestS = onsetS + smoothingS;
    }
    return onsetsS;
}

std::vector<double> strongestPeaksHz(std::span<const double> x, double sampleRateHz, double minHz,
                                     double maxHz, std::size_t count) {
    constexpr double kGridStepHz = 0.25;
    constexpr double kMergeHz = 3.0;
    const auto neededSize = std::max<std::size_t>(
            x.size(), static_cast<std::size_t>(std::ceil(sampleRateHz / kGridStepHz)));
    std::size_t fftSize = 1;
    while (fftSize < neededSize) {
        fftSize <<= 1;
    }
    const std::vector<double> windowed = hannWindowed(x);
    std::vector<std::complex<double>> spectrum(fftSize, 0.0);
    std::copy(windowed.begin(), windowed.end(), spectrum.begin());
    fftInPlace(spectrum);

    const double binHz = sampleRateHz / static_cast<double>(fftSize);
    const auto firstBin =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(minHz / binHz)));
    const auto lastBin =
            std::min(fftSize / 2 - 1, static_cast<std::size_t>(std::floor(maxHz / binHz)));

    struct Peak {
        double frequencyHz;
        double magnitude;
    };
    std::vector<Peak> peaks;
    for (std::size_t k = firstBin; k <= lastBin; ++k) {
        const double magnitude = std::abs(spectrum[k]);
        if (magnitude > std::abs(spectrum[k - 1]) && magnitude >= std::abs(spectrum[k + 1])) {
            // The Hann main lobe is close to a Gaussian, whose logarithm a parabola fits exactly.
            const auto logMagnitude = [&](std::size_t bin) {
                return std::log(std::max(std::abs(spectrum[bin]), 1e-300));
            };
            const double offset =
                    parabolicOffset(logMagnitude(k - 1), logMagnitude(k), logMagnitude(k + 1));
            peaks.push_back({(static_cast<double>(k) + offset) * binHz, magnitude});
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& a, const Peak& b) { return a.magnitude > b.magnitude; });

    std::vector<double> strongest;
    for (const Peak& peak : peaks) {
        if (strongest.size() == count) {
            break;
        }
        const bool nearStronger =
                std::any_of(strongest.begin(), strongest.end(), [&](double acceptedHz) {
                    return std::abs(acceptedHz - peak.frequencyHz) < kMergeHz;
                });
        if (!nearStronger) {
            strongest.push_back(peak.frequencyHz);
        }
    }
    return strongest;
}

}  // namespace lyravox::analysis
