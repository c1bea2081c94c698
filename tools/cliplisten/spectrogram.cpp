#include "spectrogram.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace lyravox::tools {
namespace {

constexpr std::size_t kFftSize = 4096;  // 93 ms: resolves the low E's partials 82 Hz apart
constexpr double kHopS = 0.002;
constexpr int kRows = 480;
constexpr double kLowestHz = 40.0;
constexpr double kHighestHz = 16000.0;
constexpr double kRangeDb = 100.0;

void fft(std::vector<std::complex<double>>& data) {
    const std::size_t size = data.size();
    for (std::size_t i = 1, j = 0; i < size; ++i) {
        std::size_t bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (std::size_t length = 2; length <= size; length <<= 1) {
        const auto step = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(length));
        for (std::size_t start = 0; start < size; start += length) {
            std::complex<double> root = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const auto even = data[start + k];
                const auto odd = data[start + k + length / 2] * root;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
                root *= step;
            }
        }
    }
}

QColor heat(double fraction) {
    const double f = std::clamp(fraction, 0.0, 1.0);
    const auto channel = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255.0); };
    return QColor(channel(3.0 * f), channel(3.0 * f - 1.0), channel(3.0 * f - 2.0));
}

}  // namespace

QImage spectrogram(std::span<const std::int16_t> samples, double sampleRateHz) {
    const auto hop = static_cast<std::size_t>(kHopS * sampleRateHz);
    const int columns = static_cast<int>(samples.size() / hop) + 1;
    std::vector<double> window(kFftSize);
    for (std::size_t n = 0; n < kFftSize; ++n)
        window[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                         static_cast<double>(kFftSize));

    std::vector<std::vector<double>> levelsDb(static_cast<std::size_t>(columns));
    double loudest = -1e9;
    std::vector<std::complex<double>> frame(kFftSize);
    for (int c = 0; c < columns; ++c) {
        // Each column's window is centred on its time.
        const long centre = static_cast<long>(c) * static_cast<long>(hop);
        for (std::size_t n = 0; n < kFftSize; ++n) {
            const long i = centre - static_cast<long>(kFftSize / 2) + static_cast<long>(n);
            const double v = i >= 0 && i < static_cast<long>(samples.size())
                                     ? samples[static_cast<std::size_t>(i)] / 32768.0
                                     : 0.0;
            frame[n] = v * window[n];
        }
        fft(frame);
        auto& column = levelsDb[static_cast<std::size_t>(c)];
        column.resize(kRows);
        for (int r = 0; r < kRows; ++r) {
            // Each row takes the strongest bin it spans, so a partial is never lost between rows.
            const double lowHz =
                    kLowestHz * std::pow(kHighestHz / kLowestHz, static_cast<double>(r) / kRows);
            const double highHz = kLowestHz * std::pow(kHighestHz / kLowestHz,
                                                       static_cast<double>(r + 1) / kRows);
            const double binHz = sampleRateHz / static_cast<double>(kFftSize);
            auto first = static_cast<std::size_t>(lowHz / binHz);
            const auto last = std::max(first, static_cast<std::size_t>(highHz / binHz));
            double strongest = 0.0;
            for (std::size_t b = first; b <= last && b < kFftSize / 2; ++b)
                strongest = std::max(strongest, std::abs(frame[b]));
            column[static_cast<std::size_t>(r)] = 20.0 * std::log10(std::max(strongest, 1e-12));
            loudest = std::max(loudest, column[static_cast<std::size_t>(r)]);
        }
    }

    QImage image(columns, kRows, QImage::Format_RGB32);
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < kRows; ++r) {
            const double db = levelsDb[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)];
            image.setPixelColor(c, kRows - 1 - r, heat(1.0 + (db - loudest) / kRangeDb));
        }
    }
    for (double hz = 55.0; hz < kHighestHz; hz *= 2.0) {
        const int row = kRows - 1 -
                        static_cast<int>(std::log(hz / kLowestHz) /
                                         std::log(kHighestHz / kLowestHz) * kRows);
        for (int c = 0; c < columns; c += 4)
            image.setPixelColor(c, row, QColor(80, 80, 160));
    }
    return image;
}

}  // namespace lyravox::tools
