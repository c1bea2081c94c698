#include "platform/capturing_sound_output.h"
#include "sounds/clip_player.h"
#include "sounds/resource_loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace lyravox::sounds {
namespace {

std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& image) {
    std::vector<std::int16_t> samples((image.size() - 44) / 2);
    std::memcpy(samples.data(), image.data() + 44, samples.size() * 2);
    return samples;
}

class ClipPlayerTest : public testing::Test {
protected:
    platform::CapturingSoundOutput output_;
    ClipPlayer player_{output_};
};

TEST_F(ClipPlayerTest, StartsTheLoadedClipFromItsFirstSample) {
    player_.loadClip("a");
    EXPECT_EQ(player_.klang(), loadResource("a", "WAVE"));
    player_.startClip(std::chrono::nanoseconds(0));
    ASSERT_EQ(output_.played().size(), 1u);
    ASSERT_NE(output_.played()[0], nullptr);
    EXPECT_EQ(output_.played()[0]->samples, samplesOf(player_.klang()));
}

TEST_F(ClipPlayerTest, EachStartPlaysTheBufferAnewAtItsOwnTimeAndANewLoadSwitchesClips) {
    using std::chrono::nanoseconds;
    player_.loadClip("e");
    player_.startClip(nanoseconds(5'000'000'000));
    player_.startClip(nanoseconds(6'000'000'000));
    player_.loadClip("a");
    player_.startClip(nanoseconds(7'000'000'001));
    const auto& played = output_.played();
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[0], played[1]) << "a repeated start replays the same loaded clip";
    EXPECT_EQ(played[2]->samples, samplesOf(loadResource("a", "WAVE")));
    EXPECT_EQ(output_.startTimesNs(),
              (std::vector<platform::SteadyTimeNs>{5'000'000'000, 6'000'000'000, 7'000'000'001}));
}

TEST_F(ClipPlayerTest, LoadingTheSameClipAgainReplacesTheBufferWithEqualContent) {
    player_.loadClip("h");
    const auto before = player_.klang();
    player_.startClip(std::chrono::nanoseconds(0));
    player_.loadClip("H");
    player_.startClip(std::chrono::nanoseconds(0));
    EXPECT_EQ(player_.klang(), before);
    ASSERT_EQ(output_.played().size(), 2u);
    EXPECT_NE(output_.played()[0], output_.played()[1]) << "the load did not replace the clip";
    EXPECT_EQ(output_.played()[0]->samples, output_.played()[1]->samples);
}

TEST_F(ClipPlayerTest, StartingBeforeAnyLoadIsAClearError) {
    EXPECT_THROW(player_.startClip(std::chrono::nanoseconds(0)), std::logic_error);
    EXPECT_TRUE(output_.played().empty());
}

TEST_F(ClipPlayerTest, AnUnknownNameLeavesTheBufferAsItWas) {
    player_.loadClip("d");
    EXPECT_THROW(player_.loadClip("x"), ResourceNotFound);
    EXPECT_EQ(player_.klang(), loadResource("d", "WAVE"));
    player_.startClip(std::chrono::nanoseconds(0));
    EXPECT_EQ(output_.played().back()->samples, samplesOf(loadResource("d", "WAVE")));
}

}  // namespace
}  // namespace lyravox::sounds
