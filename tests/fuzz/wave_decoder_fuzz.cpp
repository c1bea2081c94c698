// libFuzzer entry point: any byte string must either decode to a playable clip or yield nothing,
// without touching memory outside the image (AddressSanitizer) or undefined behaviour (UBSan).
#include "platform/wave_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace {

// Mirrors the decoder's ten-minute cap at the output rate.
constexpr std::size_t kMaxOutputSamples = 10U * 60U * lyravox::platform::kOutputSampleRateHz;

void appendTag(std::vector<std::uint8_t>& bytes, std::string_view tag) {
    bytes.insert(bytes.end(), tag.begin(), tag.end());
}

void appendLe32(std::vector<std::uint8_t>& bytes, std::size_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendChunk(std::vector<std::uint8_t>& bytes, std::string_view tag,
                 std::span<const std::uint8_t> body) {
    appendTag(bytes, tag);
    appendLe32(bytes, body.size());
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        bytes.push_back(0);
}

// SDL's parser is not instrumented, so coverage cannot steer mutations through its handling of
// format fields; wrapping the input in correct RIFF framing sends every input there as well.
// The first byte chooses how much of the rest is the fmt chunk body.
std::vector<std::uint8_t> framedImage(std::span<const std::uint8_t> input) {
    if (input.empty())
        return {};
    const std::size_t fmtBytes = std::min<std::size_t>(14 + input[0] % 64, input.size() - 1);
    const std::span<const std::uint8_t> fmtBody = input.subspan(1, fmtBytes);
    const std::span<const std::uint8_t> dataBody = input.subspan(1 + fmtBytes);
    std::vector<std::uint8_t> chunks;
    appendChunk(chunks, "fmt ", fmtBody);
    appendChunk(chunks, "data", dataBody);
    std::vector<std::uint8_t> image;
    appendTag(image, "RIFF");
    appendLe32(image, 4 + chunks.size());
    appendTag(image, "WAVE");
    image.insert(image.end(), chunks.begin(), chunks.end());
    return image;
}

// Extra counters count as coverage for libFuzzer. Marking which kind of format (tag, sample
// width, channels, rate against the output rate) was fed and whether it played keeps an input
// that reaches a new decoder or converter inside SDL in the corpus.
__attribute__((used, section("__libfuzzer_extra_counters")))
std::uint8_t formatCounters[8][6][3][3][2];

std::size_t tagIndex(std::uint16_t formatTag) {
    constexpr std::uint16_t kTags[] = {0x0001, 0x0002, 0x0003, 0x0006, 0x0007, 0x0011, 0xFFFE};
    return static_cast<std::size_t>(std::find(std::begin(kTags), std::end(kTags), formatTag) -
                                    std::begin(kTags));
}

std::size_t widthIndex(std::uint16_t bitsPerSample) {
    constexpr std::uint16_t kWidths[] = {4, 8, 16, 24, 32};
    return static_cast<std::size_t>(
            std::find(std::begin(kWidths), std::end(kWidths), bitsPerSample) - std::begin(kWidths));
}

void noteFormat(std::span<const std::uint8_t> fmtBody, bool played) {
    if (fmtBody.size() < 16)
        return;
    const auto le16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(fmtBody[at] | fmtBody[at + 1] << 8);
    };
    const std::uint32_t rateHz = le16(4) | static_cast<std::uint32_t>(le16(6)) << 16;
    const std::size_t rateIndex = rateHz == lyravox::platform::kOutputSampleRateHz  ? 0
                                  : rateHz < lyravox::platform::kOutputSampleRateHz ? 1
                                                                                    : 2;
    ++formatCounters[tagIndex(le16(0))][widthIndex(le16(14))][std::min<std::size_t>(le16(2), 2)]
                    [rateIndex][played ? 1 : 0];
}

bool decodeAndCheck(std::span<const std::uint8_t> image) {
    const std::optional<lyravox::platform::PcmClip> clip =
            lyravox::platform::decodeWaveImage(image);
    if (clip && (clip->samples.empty() || clip->samples.size() > kMaxOutputSamples))
        std::abort();
    return clip.has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    decodeAndCheck(input);
    const bool played = decodeAndCheck(framedImage(input));
    if (!input.empty())
        noteFormat(input.subspan(1), played);
    return 0;
}
