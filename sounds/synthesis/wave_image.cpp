#include "wave_image.h"

#include <string_view>

namespace lyravox::synthesis {
namespace {

void put(std::vector<std::uint8_t>& out, std::string_view tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}

void putLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> makeWaveImage(std::span<const std::int16_t> samples) {
    constexpr std::uint32_t kSampleRateHz = 44100;
    constexpr std::uint32_t kBytesPerSample = 2;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * kBytesPerSample);

    std::vector<std::uint8_t> image;
    image.reserve(44 + dataBytes);
    put(image, "RIFF");
    putLittleEndian(image, 36 + dataBytes, 4);
    put(image, "WAVE");
    put(image, "fmt ");
    putLittleEndian(image, 16, 4);
    putLittleEndian(image, 1, 2);  // PCM
    putLittleEndian(image, 1, 2);  // mono
    putLittleEndian(image, kSampleRateHz, 4);
    putLittleEndian(image, kSampleRateHz * kBytesPerSample, 4);
    putLittleEndian(image, kBytesPerSample, 2);
    putLittleEndian(image, 16, 2);
    put(image, "data");
    putLittleEndian(image, dataBytes, 4);
    for (std::int16_t s : samples)
        putLittleEndian(image, static_cast<std::uint16_t>(s), 2);
    return image;
}

}  // namespace lyravox::synthesis
