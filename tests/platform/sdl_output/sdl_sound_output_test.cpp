// The sound output through a real SDL device: the disk driver writes exactly what the callback
// rendered, so the test can read the stream as it left the program.
#include "platform/sdl_sound_output.h"
#include "tools/pulse_harness/raw_s16_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace lyravox::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::shared_ptr<const PcmClip> rampClip(std::int16_t first, std::size_t length) {
    auto clip = std::make_shared<PcmClip>();
    for (std::size_t i = 0; i < length; ++i)
        clip->samples.push_back(
                static_cast<std::int16_t>(first + static_cast<std::int16_t>(i % 1000)));
    return clip;
}

using test::readRawS16;

// Index of the first sample at or after `from` that is not zero.
std::size_t firstSound(const std::vector<std::int16_t>& s, std::size_t from) {
    return static_cast<std::size_t>(std::find_if(s.begin() + static_cast<std::ptrdiff_t>(from),
                                                 s.end(), [](std::int16_t v) { return v != 0; }) -
                                    s.begin());
}

TEST(SdlSoundOutput, DiskDeviceReceivesTheClipsInOrderCutWhereTheNextStarts) {
    const fs::path file =
            fs::temp_directory_path() / ("lyravox-disk-" + std::to_string(::getpid()) + ".raw");
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    // Sample values that never occur in silence and tell the two clips apart.
    const auto first = rampClip(1000, 44100);  // 1 s
    const auto second = rampClip(5000, 4410);  // 0.1 s
    {
        // 441-frame buffers: the disk driver sleeps whole milliseconds per buffer, so this size
        // keeps it close to real time.
        SdlSoundOutput output(441);
        ASSERT_TRUE(output.isOpen());
        std::this_thread::sleep_for(30ms);
        output.play(first, steadyNowNs());
        std::this_thread::sleep_for(150ms);
        output.play(second, steadyNowNs());
        std::this_thread::sleep_for(300ms);
    }
    const std::vector<std::int16_t> stream = readRawS16(file);
    fs::remove(file);

    const std::size_t firstAt = firstSound(stream, 0);
    ASSERT_LT(firstAt, stream.size());
    // The first clip from its first sample, unchanged, until the second begins.
    std::size_t i = firstAt;
    while (i < stream.size() && i - firstAt < first->samples.size() &&
           stream[i] == first->samples[i - firstAt])
        ++i;
    const std::size_t firstPlayed = i - firstAt;
    EXPECT_GT(firstPlayed, 0u);
    EXPECT_LT(firstPlayed, first->samples.size()) << "the second start did not cut the first clip";
    // Then the second clip, whole, then silence.
    ASSERT_LE(i + second->samples.size(), stream.size());
    EXPECT_TRUE(std::equal(second->samples.begin(), second->samples.end(),
                           stream.begin() + static_cast<std::ptrdiff_t>(i)));
    EXPECT_EQ(firstSound(stream, i + second->samples.size()), stream.size());
}

TEST(SdlSoundOutput, WithoutADeviceTheProgramGoesOnSilentlyAfterOneLine) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStderr();
    {
        SdlSoundOutput output;
        EXPECT_FALSE(output.isOpen());
        output.play(rampClip(1000, 100), steadyNowNs());
        output.play(nullptr, steadyNowNs());
    }
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("sound is unavailable"), std::string::npos) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
}

// A program that shows its window first opens the device afterwards; a click that comes before
// that opens it there and then, so no start is lost.
TEST(SdlSoundOutput, OpenedOnRequestByOpenOrByTheFirstPlay) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    {
        SdlSoundOutput output(SdlSoundOutput::kDefaultBufferFrames,
                              SdlSoundOutput::Opening::OnRequest);
        EXPECT_FALSE(output.isOpen());
        output.open();
        EXPECT_TRUE(output.isOpen());
        output.open();  // Open already: nothing happens.
        EXPECT_TRUE(output.isOpen());
    }
    SdlSoundOutput output(SdlSoundOutput::kDefaultBufferFrames, SdlSoundOutput::Opening::OnRequest);
    output.play(rampClip(1000, 100), steadyNowNs());
    EXPECT_TRUE(output.isOpen());
}

}  // namespace
}  // namespace lyravox::platform
