#pragma once

#include <QImage>

#include <cstdint>
#include <span>

namespace lyravox::tools {

// A picture of a clip's sound: time to the right (one column every 2 ms), frequency upwards on
// a logarithmic scale from 40 Hz to 16 kHz, level as colour from black (−100 dB re the loudest
// point) through red and yellow to white, with faint lines at each octave of A (55, 110 … 14080
// Hz).
QImage spectrogram(std::span<const std::int16_t> samples, double sampleRateHz);

}  // namespace lyravox::tools
