#include "platform/wave_decoder.h"

#include <SDL.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace lyravox::platform {
namespace {

// Ten minutes of output: far beyond any tuning clip, yet small enough that a header claiming
// an absurd length or sample rate cannot make us allocate gigabytes.
constexpr std::uint64_t kMaxOutputSamples = 10ULL * 60 * kOutputSampleRateHz;

// Rates outside this range are no real recording; refusing them also keeps SDL's resampler
// away from extreme ratios, whose scratch buffer grows with the ratio.
constexpr int kLowestSourceRateHz = 1000;
constexpr int kHighestSourceRateHz = 768000;

constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::size_t kChunkHeaderBytes = 8;

bool tagAt(std::span<const std::uint8_t> image, std::size_t offset, std::string_view tag) {
    return std::memcmp(image.data() + offset, tag.data(), tag.size()) == 0;
}

std::uint32_t readLe32(std::span<const std::uint8_t> image, std::size_t offset) {
    return static_cast<std::uint32_t>(image[offset]) |
           static_cast<std::uint32_t>(image[offset + 1]) << 8 |
           static_cast<std::uint32_t>(image[offset + 2]) << 16 |
           static_cast<std::uint32_t>(image[offset + 3]) << 24;
}

// SDL allocates the data chunk at the size its header declares before reading it and, by
// default, plays a short one as far as it goes. Walking the chunk headers first lets a
// truncated or lying image be refused before SDL sees it; the parsing itself stays SDL's.
bool dataChunkLiesInsideImage(std::span<const std::uint8_t> image) {
    if (image.size() < kRiffHeaderBytes || !tagAt(image, 0, "RIFF") || !tagAt(image, 8, "WAVE"))
        return false;
    std::size_t offset = kRiffHeaderBytes;
    while (image.size() - offset >= kChunkHeaderBytes) {
        const std::size_t bodyOffset = offset + kChunkHeaderBytes;
        const std::size_t bodyBytesLeft = image.size() - bodyOffset;
        const std::uint32_t bodyBytes = readLe32(image, offset + 4);
        if (tagAt(image, offset, "data"))
            return bodyBytes <= bodyBytesLeft;
        if (bodyBytes >= bodyBytesLeft)
            return false;
        // RIFF pads every chunk body to an even length.
        offset = bodyOffset + bodyBytes + (bodyBytes & 1U);
    }
    return false;
}

struct SdlWaveDeleter {
    void operator()(Uint8* buffer) const { SDL_FreeWAV(buffer); }
};
using SdlWaveBuffer = std::unique_ptr<Uint8, SdlWaveDeleter>;

PcmClip copySamples(const Uint8* bytes, std::size_t sampleCount) {
    PcmClip clip;
    clip.samples.resize(sampleCount);
    std::memcpy(clip.samples.data(), bytes, sampleCount * sizeof(std::int16_t));
    return clip;
}

std::optional<PcmClip> convertToOutputFormat(const SDL_AudioSpec& wavSpec, const Uint8* bytes,
                                             std::size_t frameCount, std::size_t bytesPerFrame) {
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, wavSpec.format, wavSpec.channels, wavSpec.freq, AUDIO_S16SYS, 1,
                          kOutputSampleRateHz) < 0)
        return std::nullopt;
    // SDL converts in place and needs len * len_mult bytes of room, with len an int.
    const std::size_t inputBytes = frameCount * bytesPerFrame;
    const auto lengthMultiple = static_cast<std::size_t>(cvt.len_mult);
    if (lengthMultiple == 0 || inputBytes > static_cast<std::size_t>(INT_MAX) / lengthMultiple)
        return std::nullopt;
    auto work = std::make_unique_for_overwrite<Uint8[]>(inputBytes * lengthMultiple);
    std::memcpy(work.get(), bytes, inputBytes);
    cvt.buf = work.get();
    cvt.len = static_cast<int>(inputBytes);
    if (SDL_ConvertAudio(&cvt) < 0 || cvt.len_cvt <= 0)
        return std::nullopt;
    const std::size_t sampleCount = static_cast<std::size_t>(cvt.len_cvt) / sizeof(std::int16_t);
    if (sampleCount == 0 || sampleCount > kMaxOutputSamples)
        return std::nullopt;
    return copySamples(work.get(), sampleCount);
}

std::optional<PcmClip> decodeCheckedImage(std::span<const std::uint8_t> image) {
    SDL_RWops* source = SDL_RWFromConstMem(image.data(), static_cast<int>(image.size()));
    if (source == nullptr)
        return std::nullopt;
    SDL_AudioSpec wavSpec;
    Uint8* rawBuffer = nullptr;
    Uint32 byteCount = 0;
    if (SDL_LoadWAV_RW(source, 1, &wavSpec, &rawBuffer, &byteCount) == nullptr)
        return std::nullopt;
    const SdlWaveBuffer buffer(rawBuffer);

    const std::size_t bytesPerFrame =
            static_cast<std::size_t>(SDL_AUDIO_BITSIZE(wavSpec.format) / 8) * wavSpec.channels;
    if (bytesPerFrame == 0 || wavSpec.freq < kLowestSourceRateHz ||
        wavSpec.freq > kHighestSourceRateHz)
        return std::nullopt;
    const std::size_t frameCount = byteCount / bytesPerFrame;
    const std::uint64_t outputSamples =
            static_cast<std::uint64_t>(frameCount) * kOutputSampleRateHz / wavSpec.freq;
    if (frameCount == 0 || outputSamples > kMaxOutputSamples)
        return std::nullopt;

    if (wavSpec.format == AUDIO_S16SYS && wavSpec.channels == 1 &&
        wavSpec.freq == kOutputSampleRateHz)
        return copySamples(buffer.get(), frameCount);
    return convertToOutputFormat(wavSpec, buffer.get(), frameCount, bytesPerFrame);
}

}  // namespace

std::optional<PcmClip> decodeWaveImage(std::span<const std::uint8_t> image) {
    if (image.size() > static_cast<std::size_t>(INT_MAX) || !dataChunkLiesInsideImage(image))
        return std::nullopt;
    try {
        return decodeCheckedImage(image);
    } catch (const std::bad_alloc&) {
        // A clip too big for memory is as unplayable as a broken one: the caller plays silence.
        return std::nullopt;
    }
}

}  // namespace lyravox::platform
