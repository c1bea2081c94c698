// Every image here is built byte by byte in the test, so each case shows exactly which field of
// the header it is about.
#include "platform/wave_decoder.h"
#include "sounds/resource_loader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lyravox::platform {
namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kFloatTag = 3;

void appendTag(Bytes& bytes, std::string_view tag) {
    bytes.insert(bytes.end(), tag.begin(), tag.end());
}

void appendLe(Bytes& bytes, std::uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

struct WaveLayout {
    std::string riffTag = "RIFF";
    std::string formTag = "WAVE";
    std::uint16_t formatTag = kPcmTag;
    std::uint16_t channels = 1;
    std::uint32_t rateHz = 44100;
    std::uint16_t bitsPerSample = 16;
    Bytes chunksBeforeData;
    Bytes data;
    std::optional<std::uint32_t> declaredDataBytes;
};

Bytes buildImage(const WaveLayout& layout) {
    const auto bytesPerFrame =
            static_cast<std::uint16_t>(layout.channels * layout.bitsPerSample / 8);
    const auto dataBytes = static_cast<std::uint32_t>(layout.data.size());
    Bytes image;
    appendTag(image, layout.riffTag);
    appendLe(image, static_cast<std::uint32_t>(36 + layout.chunksBeforeData.size() + dataBytes), 4);
    appendTag(image, layout.formTag);
    appendTag(image, "fmt ");
    appendLe(image, 16, 4);
    appendLe(image, layout.formatTag, 2);
    appendLe(image, layout.channels, 2);
    appendLe(image, layout.rateHz, 4);
    appendLe(image, layout.rateHz * bytesPerFrame, 4);
    appendLe(image, bytesPerFrame, 2);
    appendLe(image, layout.bitsPerSample, 2);
    image.insert(image.end(), layout.chunksBeforeData.begin(), layout.chunksBeforeData.end());
    appendTag(image, "data");
    appendLe(image, layout.declaredDataBytes.value_or(dataBytes), 4);
    image.insert(image.end(), layout.data.begin(), layout.data.end());
    return image;
}

Bytes pcm16(const std::vector<std::int16_t>& samples) {
    Bytes bytes;
    for (std::int16_t sample : samples)
        appendLe(bytes, static_cast<std::uint16_t>(sample), 2);
    return bytes;
}

Bytes repeatedFrame(const Bytes& frame, std::size_t frameCount) {
    Bytes bytes;
    for (std::size_t i = 0; i < frameCount; ++i)
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

Bytes float32Frame(float value) {
    Bytes bytes;
    appendLe(bytes, std::bit_cast<std::uint32_t>(value), 4);
    return bytes;
}

WaveLayout canonical(std::vector<std::int16_t> samples) {
    WaveLayout layout;
    layout.data = pcm16(samples);
    return layout;
}

TEST(WaveDecoder, CanonicalImageComesOutBitExact) {
    const std::vector<std::int16_t> samples{0, 1, -1, 32767, -32768, 12345, -12345, 256, -256};
    const Bytes image = buildImage(canonical(samples));
    ASSERT_EQ(image.size(), 44 + 2 * samples.size());

    const std::optional<PcmClip> clip = decodeWaveImage(image);
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(clip->samples, samples);
}

TEST(WaveDecoder, ChunksBeforeTheDataAreSkippedWithTheirPadding) {
    WaveLayout layout = canonical({7, -7, 32767});
    // An odd-sized chunk is followed by a pad byte that belongs to no chunk.
    appendTag(layout.chunksBeforeData, "LIST");
    appendLe(layout.chunksBeforeData, 3, 4);
    layout.chunksBeforeData.insert(layout.chunksBeforeData.end(), {'a', 'b', 'c', 0});

    const std::optional<PcmClip> clip = decodeWaveImage(buildImage(layout));
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(clip->samples, (std::vector<std::int16_t>{7, -7, 32767}));
}

struct ConversionCase {
    std::string name;
    WaveLayout layout;
    std::size_t expectedSamples;
    std::size_t sampleCountTolerance;
    int expectedLevel;  // of a constant input, away from the resampler's edges
    int levelTolerance;
    friend void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }
};

ConversionCase stereoToMono() {
    WaveLayout layout;
    layout.channels = 2;
    layout.data = repeatedFrame(pcm16({1000, 3000}), 400);
    return {"StereoIsMixedToMono", layout, 400, 0, 2000, 2};
}

ConversionCase eightBit(std::uint8_t value, int expectedLevel) {
    WaveLayout layout;
    layout.bitsPerSample = 8;
    layout.data = Bytes(300, value);
    return {"EightBit" + std::to_string(value), layout, 300, 0, expectedLevel, 256};
}

ConversionCase halfRate() {
    WaveLayout layout;
    layout.rateHz = 22050;
    layout.data = pcm16(std::vector<std::int16_t>(1000, 8000));
    return {"HalfRateDoublesTheLength", layout, 2000, 20, 8000, 80};
}

ConversionCase floatStereoAtAnotherRate() {
    WaveLayout layout;
    layout.formatTag = kFloatTag;
    layout.bitsPerSample = 32;
    layout.channels = 2;
    layout.rateHz = 48000;
    Bytes frame = float32Frame(0.5F);
    const Bytes right = float32Frame(0.25F);
    frame.insert(frame.end(), right.begin(), right.end());
    layout.data = repeatedFrame(frame, 4800);
    return {"FloatStereo48kHz", layout, 4410, 20, 12288, 150};
}

class WaveConversion : public testing::TestWithParam<ConversionCase> {};

TEST_P(WaveConversion, BecomesMonoSixteenBitAtTheOutputRate) {
    const ConversionCase& c = GetParam();
    const std::optional<PcmClip> clip = decodeWaveImage(buildImage(c.layout));
    ASSERT_TRUE(clip.has_value());
    const std::vector<std::int16_t>& samples = clip->samples;
    EXPECT_NEAR(static_cast<double>(samples.size()), static_cast<double>(c.expectedSamples),
                static_cast<double>(c.sampleCountTolerance));
    ASSERT_GE(samples.size(), 10U);
    EXPECT_NEAR(samples[samples.size() / 2], c.expectedLevel, c.levelTolerance);
}

INSTANTIATE_TEST_SUITE_P(OtherWaveFormats, WaveConversion,
                         testing::Values(stereoToMono(), eightBit(0x80, 0), eightBit(0xFF, 32512),
                                         eightBit(0x00, -32768), halfRate(),
                                         floatStereoAtAnotherRate()),
                         [](const testing::TestParamInfo<ConversionCase>& info) {
                             return info.param.name;
                         });

struct RejectedCase {
    std::string name;
    Bytes image;
    friend void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }
};

Bytes goodImage() {
    return buildImage(canonical({100, -100, 200, -200}));
}

RejectedCase withLayout(std::string name, void (*change)(WaveLayout&)) {
    WaveLayout layout = canonical({100, -100, 200, -200});
    change(layout);
    return {std::move(name), buildImage(layout)};
}

RejectedCase truncatedTo(std::string name, std::size_t byteCount) {
    Bytes image = goodImage();
    image.resize(byteCount);
    return {std::move(name), image};
}

RejectedCase randomBytes(std::string name, std::string_view prefix) {
    std::mt19937 generator(20240601);
    Bytes image(prefix.begin(), prefix.end());
    for (int i = 0; i < 600; ++i)
        image.push_back(static_cast<std::uint8_t>(generator()));
    return {std::move(name), image};
}

std::vector<RejectedCase> rejectedCases() {
    return {
            {"Empty", {}},
            truncatedTo("TruncatedRiffHeader", 10),
            truncatedTo("TruncatedFormatChunk", 30),
            truncatedTo("NoDataChunkHeader", 40),
            truncatedTo("DataShorterThanDeclared", 47),
            withLayout("Rifx", [](WaveLayout& l) { l.riffTag = "RIFX"; }),
            withLayout("Wavx", [](WaveLayout& l) { l.formTag = "WAVX"; }),
            withLayout("DataSizeBeyondImage", [](WaveLayout& l) { l.declaredDataBytes = 1000; }),
            withLayout("DataSizeFourGigabytes",
                       [](WaveLayout& l) { l.declaredDataBytes = 0xFFFFFFFF; }),
            withLayout("ZeroSamples", [](WaveLayout& l) { l.data.clear(); }),
            withLayout("LessThanOneFrame", [](WaveLayout& l) { l.data.resize(1); }),
            withLayout("FormatTagZero", [](WaveLayout& l) { l.formatTag = 0; }),
            withLayout("FormatTagUnknown", [](WaveLayout& l) { l.formatTag = 0x1234; }),
            withLayout("ZeroChannels", [](WaveLayout& l) { l.channels = 0; }),
            withLayout("ZeroRate", [](WaveLayout& l) { l.rateHz = 0; }),
            withLayout("ImplausiblyLowRate", [](WaveLayout& l) { l.rateHz = 3; }),
            withLayout("ImplausiblyHighRate", [](WaveLayout& l) { l.rateHz = 0x7FFFFFFF; }),
            withLayout("ZeroBitsPerSample", [](WaveLayout& l) { l.bitsPerSample = 0; }),
            withLayout("SkippedChunkRunsPastTheEnd",
                       [](WaveLayout& l) {
                           appendTag(l.chunksBeforeData, "LIST");
                           appendLe(l.chunksBeforeData, 0xFFFFFFF0, 4);
                       }),
            // A real rate, but ten minutes at the output rate would be exceeded.
            withLayout("OverTenMinutesOnceResampled",
                       [](WaveLayout& l) {
                           l.bitsPerSample = 8;
                           l.rateHz = 1000;
                           l.data = Bytes(600'001, 0x80);
                       }),
            randomBytes("RandomBytes", ""),
            randomBytes("RandomBytesAfterRiffWave", "RIFF\x10\x00\x00\x00WAVE"sv),
    };
}

class RejectedImage : public testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedImage, YieldsNothing) {
    EXPECT_FALSE(decodeWaveImage(GetParam().image).has_value());
}

INSTANTIATE_TEST_SUITE_P(NotPlayable, RejectedImage, testing::ValuesIn(rejectedCases()),
                         [](const testing::TestParamInfo<RejectedCase>& info) {
                             return info.param.name;
                         });

TEST(WaveDecoder, AcceptsTheImageTheRejectedCasesAreMadeFrom) {
    EXPECT_TRUE(decodeWaveImage(goodImage()).has_value());
}

class EmbeddedClip : public testing::TestWithParam<std::string_view> {};

TEST_P(EmbeddedClip, DecodesToItsOwnDataBytes) {
    const Bytes image = sounds::loadResource(GetParam(), sounds::kWaveResourceType);
    ASSERT_GT(image.size(), 44U);
    ASSERT_EQ(std::memcmp(image.data() + 36, "data", 4), 0);

    const std::optional<PcmClip> clip = decodeWaveImage(image);
    ASSERT_TRUE(clip.has_value());
    ASSERT_EQ(clip->samples.size() * 2, image.size() - 44);
    for (std::size_t i = 0; i < clip->samples.size(); ++i) {
        const auto expected = static_cast<std::int16_t>(image[44 + 2 * i] | image[45 + 2 * i] << 8);
        ASSERT_EQ(clip->samples[i], expected) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ProgramClips, EmbeddedClip,
                         testing::ValuesIn(sounds::resourceNames(sounds::kWaveResourceType)),
                         [](const testing::TestParamInfo<std::string_view>& info) {
                             return std::string(info.param);
                         });

}  // namespace
}  // namespace lyravox::platform
