#include "clip_test_support.h"

#include <gtest/gtest.h>

#include <numeric>
#include <ostream>
#include <string_view>

namespace lyravox::test {
namespace {

std::uint32_t readLe(const std::vector<std::uint8_t>& image, std::size_t offset, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint32_t>(image.at(offset + i)) << (8 * i);
    return value;
}

std::string_view tagAt(const std::vector<std::uint8_t>& image, std::size_t offset) {
    return {reinterpret_cast<const char*>(image.data() + offset), 4};
}

struct LookupCase {
    std::string query;
    std::size_t imageBytes;  // 0: the lookup must fail
    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << '"' << c.query << '"'; }
};

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheWholeNameInAnyCaseAndNothingElse) {
    const LookupCase& c = GetParam();
    if (c.imageBytes == 0) {
        EXPECT_THROW(sounds::loadResource(c.query, "WAVE"), sounds::ResourceNotFound);
        return;
    }
    EXPECT_EQ(sounds::loadResource(c.query, "WAVE").size(), c.imageBytes);
}

INSTANTIATE_TEST_SUITE_P(
        ClipNames, Lookup,
        testing::Values(LookupCase{"e", 84844}, LookupCase{"E", 84844}, LookupCase{"a", 108012},
                        LookupCase{"d", 145452}, LookupCase{"g", 128556}, LookupCase{"h", 123948},
                        LookupCase{"H", 123948}, LookupCase{"e1", 100652}, LookupCase{"E1", 100652},
                        LookupCase{"chord1", 129580}, LookupCase{"Chord1", 129580},
                        LookupCase{"chord2", 173932}, LookupCase{"CHORD2", 173932},
                        // Only whole names match: no prefixes, no blanks, no other letters.
                        LookupCase{"", 0}, LookupCase{"b", 0}, LookupCase{"e ", 0},
                        LookupCase{" e", 0}, LookupCase{"e2", 0}, LookupCase{"chord", 0},
                        LookupCase{"chord10", 0}, LookupCase{"e1x", 0},
                        LookupCase{std::string("e\0", 2), 0}));

TEST(LoadResource, SameClipWhateverTheCaseAndNeverTheHighEForLowE) {
    EXPECT_EQ(sounds::loadResource("e", "WAVE"), sounds::loadResource("E", "WAVE"));
    EXPECT_EQ(sounds::loadResource("e1", "wave"), sounds::loadResource("E1", "WAVE"));
    EXPECT_NE(sounds::loadResource("e", "WAVE"), sounds::loadResource("e1", "WAVE"));
}

TEST(LoadResource, OtherTypesHoldNothing) {
    EXPECT_THROW(sounds::loadResource("e", "WAV"), sounds::ResourceNotFound);
    EXPECT_THROW(sounds::loadResource("e", ""), sounds::ResourceNotFound);
    EXPECT_TRUE(sounds::resourceNames("BITMAP").empty());
}

TEST(LoadResource, FailureNamesWhatWasAskedFor) {
    try {
        sounds::loadResource("chord3", "WAVE");
        FAIL() << "lookup of a missing clip succeeded";
    } catch (const sounds::ResourceNotFound& e) {
        EXPECT_NE(std::string(e.what()).find("\"chord3\""), std::string::npos) << e.what();
    }
}

TEST(LoadResource, EachLookupIsTheCallersOwnCopy) {
    auto first = sounds::loadResource("a", "WAVE");
    const auto pristine = first;
    first.assign(first.size(), 0);
    EXPECT_EQ(sounds::loadResource("a", "WAVE"), pristine);
}

TEST(LoadResource, CarriesEightClipsOf994976BytesInAll) {
    const auto names = sounds::resourceNames("WAVE");
    EXPECT_EQ(names,
              (std::vector<std::string_view>{"A", "CHORD1", "CHORD2", "D", "E", "E1", "G", "H"}));
    const std::size_t total = std::accumulate(
            names.begin(), names.end(), std::size_t{0}, [](std::size_t sum, std::string_view name) {
                return sum + sounds::loadResource(name, "WAVE").size();
            });
    EXPECT_EQ(total, 994976u);
}

struct FormatCase {
    std::string name;
    std::size_t samples;
    friend void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
};

class CanonicalWave : public testing::TestWithParam<FormatCase> {};

TEST_P(CanonicalWave, HeaderDescribesExactlyTheSamplesThatFollow) {
    const auto image = sounds::loadResource(GetParam().name, "WAVE");
    const std::size_t samples = GetParam().samples;
    ASSERT_EQ(image.size(), kHeaderBytes + 2 * samples);
    EXPECT_EQ(tagAt(image, 0), "RIFF");
    EXPECT_EQ(readLe(image, 4, 4), image.size() - 8);
    EXPECT_EQ(tagAt(image, 8), "WAVE");
    EXPECT_EQ(tagAt(image, 12), "fmt ");
    EXPECT_EQ(readLe(image, 16, 4), 16u);
    EXPECT_EQ(readLe(image, 20, 2), 1u);      // PCM
    EXPECT_EQ(readLe(image, 22, 2), 1u);      // mono
    EXPECT_EQ(readLe(image, 24, 4), 44100u);  // samples per second
    EXPECT_EQ(readLe(image, 28, 4), 88200u);  // bytes per second
    EXPECT_EQ(readLe(image, 32, 2), 2u);      // block alignment
    EXPECT_EQ(readLe(image, 34, 2), 16u);     // bits per sample
    EXPECT_EQ(tagAt(image, 36), "data");
    EXPECT_EQ(readLe(image, 40, 4), image.size() - kHeaderBytes);
}

INSTANTIATE_TEST_SUITE_P(Clips, CanonicalWave,
                         testing::Values(FormatCase{"E", 42400}, FormatCase{"A", 53984},
                                         FormatCase{"D", 72704}, FormatCase{"G", 64256},
                                         FormatCase{"H", 61952}, FormatCase{"E1", 50304},
                                         FormatCase{"CHORD1", 64768}, FormatCase{"CHORD2", 86944}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace lyravox::test
