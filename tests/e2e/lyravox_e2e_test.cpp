// The real program as a person uses it: on a private X server (Xvfb), clicks and keys sent through
// the X server by xdotool, the sound taken where it leaves the program, at a private PulseAudio
// server's null sink. Clip starts are found in that recording and named by the pitch heard.
//
// The rests are whole seconds, so times are checked in whole seconds of the recording; the
// test's own pauses only place the clicks well inside a rest.
#include "child_process.h"
#include "clip_starts.h"
#include "tools/pulse_harness/pulse_test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lyravox::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A new PulseAudio stream stalls for up to about two seconds shortly after it opens.
constexpr auto kStreamWarmUp = 2500ms;
// A clip start that happens just before a click may reach the recording just after it.
constexpr double kRecordingLagS = 0.3;

// Centres of the controls in the window, menu bar included (19 px above the client area).
struct Point {
    int x, y;
};
constexpr Point kCommand1{33, 289};
constexpr Point kCommand2{91, 289};
constexpr Point kCommand3{149, 289};
constexpr Point kCommand7{92, 213};
constexpr Point kCommand8{92, 241};
constexpr Point kAlle{90, 145};
constexpr Point kCheck1{236, 59};

// Xvfb chooses a free display itself and reports its number when it is ready. It must not reset
// when the last client leaves, or the next program started finds no server for a moment.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return;
        }
        server_ = std::make_unique<ChildProcess>(
                std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(pipeFds[1]),
                                         "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-ac",
                                         "-noreset"},
                std::vector<std::string>{}, pipeFds[1]);
        ::close(pipeFds[1]);
        // The number and its newline come in two writes, and closing our end before the second
        // one would make Xvfb give up.
        std::string number;
        pollfd ready{pipeFds[0], POLLIN, 0};
        char byte = 0;
        while (number.find('\n') == std::string::npos && ::poll(&ready, 1, 15000) == 1 &&
               ::read(pipeFds[0], &byte, 1) == 1) {
            number += byte;
        }
        if (number.ends_with('\n')) {
            name_ = ":" + number.substr(0, number.size() - 1);
        }
        ::close(pipeFds[0]);
    }

    // Ended politely, so it removes its lock file and socket for the next one.
    ~VirtualDisplay() {
        if (server_) {
            server_->terminate();
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Empty when no server is running.
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"Xvfb", "xdotool", "pulseaudio", "parec"}) {
            if (!onPath(tool)) {
                skipReason_ = std::string(tool) + " is not installed (make deps-test)";
                return;
            }
        }
        display_ = std::make_unique<VirtualDisplay>();
        sound_ = std::make_unique<PulseTestServer>();
        if (display_->name().empty()) {
            skipReason_ = "Xvfb did not start";
        } else if (const std::string failure = sound_->start(); !failure.empty()) {
            skipReason_ = "no PulseAudio test server: " + failure;
        }
    }

    static void TearDownTestSuite() {
        sound_.reset();
        display_.reset();
    }

    void SetUp() override {
        if (!skipReason_.empty()) {
            GTEST_SKIP() << skipReason_;
        }
        recording_ = std::make_unique<MonitorRecording>(sound_->address(),
                                                        sound_->directory() / "monitor.raw");
        ASSERT_TRUE(recording_->waitUntilRecording());
        program_ = std::make_unique<ChildProcess>(
                std::vector<std::string>{LYRAVOX_PROGRAM},
                std::vector<std::string>{"DISPLAY=" + display_->name(), "QT_QPA_PLATFORM=xcb",
                                         "LYRAVOX_SOUND_BACKEND=pulseaudio",
                                         "SDL_AUDIODRIVER=pulseaudio",
                                         "PULSE_SERVER=" + sound_->address(),
                                         // strict_string_checks flags a read inside libxkbcommon
                                         // when Qt connects to the X server: not ours to mend.
                                         "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1",
                                         "LSAN_OPTIONS=suppressions=" LYRAVOX_LSAN_SUPPRESSIONS});
        ASSERT_TRUE(program_->started());
        window_ = findWindow();
        ASSERT_FALSE(window_.empty()) << "the main window did not appear";
        std::this_thread::sleep_for(kStreamWarmUp);
    }

    void TearDown() override {
        if (program_) {
            program_->terminate();
        }
        program_.reset();
        recording_.reset();
    }

    std::vector<std::string> x() const { return {"DISPLAY=" + display_->name()}; }

    std::string findWindow() {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (program_->waitForExit(0ms) || program_->signalled()) {
                return {};
            }
            const auto found =
                    outputOf({"xdotool", "search", "--onlyvisible", "--name", "^Lyravox$"}, x());
            if (found && !found->empty()) {
                return found->substr(0, found->find('\n'));
            }
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }

    void click(Point at) const {
        ASSERT_TRUE(outputOf({"xdotool", "mousemove", "--window", window_, std::to_string(at.x),
                              std::to_string(at.y), "click", "1"},
                             x()));
    }

    // "&File", "E&xit" from the keyboard.
    void chooseExit() const {
        ASSERT_TRUE(outputOf({"xdotool", "windowfocus", "--sync", window_}, x()));
        ASSERT_TRUE(outputOf({"xdotool", "key", "alt+f"}, x()));
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(outputOf({"xdotool", "key", "x"}, x()));
    }

    // Where the recording stands now, in seconds.
    double recordedS() const {
        return static_cast<double>(recording_->samplesSoFar().size()) / kRecordingRateHz;
    }

    // Ends the program by "Exit" unless it has ended already, checks that it ended by itself and
    // cleanly, and returns the clip starts heard.
    std::vector<HeardStart> endAndListen() {
        if (!exited_) {
            chooseExit();
            exitStatus_ = program_->waitForExit(20s);
        }
        EXPECT_EQ(exitStatus_, std::optional<int>(0)) << "signalled: " << program_->signalled();
        std::this_thread::sleep_for(200ms);
        const MonitorRecording::Stopped stopped = recording_->stop();
        return findClipStarts(stopped.samples);
    }

    static std::size_t startsAfter(const std::vector<HeardStart>& starts, double seconds) {
        std::size_t count = 0;
        for (const HeardStart& start : starts) {
            count += static_cast<double>(start.frame) / kRecordingRateHz > seconds ? 1 : 0;
        }
        return count;
    }

    static inline std::unique_ptr<VirtualDisplay> display_;
    static inline std::unique_ptr<PulseTestServer> sound_;
    static inline std::string skipReason_;
    std::unique_ptr<MonitorRecording> recording_;
    std::unique_ptr<ChildProcess> program_;
    std::string window_;
    bool exited_ = false;
    std::optional<int> exitStatus_;
};

using Names = std::vector<std::string>;

// From the start state ("1 x", "short"): each string once, a second apart; the string and chord
// buttons clicked meanwhile are disabled and play nothing.
TEST_F(EndToEnd, PlayAllStringsWithTheDefaults) {
    click(kAlle);
    std::this_thread::sleep_for(2500ms);
    click(kCommand1);
    click(kCommand8);
    std::this_thread::sleep_for(4500ms);

    const auto starts = endAndListen();
    EXPECT_EQ(namesHeard(starts), Names({"E2", "A2", "D3", "G3", "B3", "E4"}));
    EXPECT_EQ(wholeSecondsBetween(starts), std::vector<long>(starts.size() - 1, 1));
}

// "Loop" and "A": the A string every second until "Loop" is cleared; the rest under way then ends
// in silence.
TEST_F(EndToEnd, LoopRepeatsAStringUntilCleared) {
    click(kCheck1);
    click(kCommand2);
    std::this_thread::sleep_for(3200ms);
    click(kCheck1);
    const double clearedAtS = recordedS();
    std::this_thread::sleep_for(2500ms);

    const auto starts = endAndListen();
    ASSERT_GE(starts.size(), 3u);
    EXPECT_EQ(namesHeard(starts), Names(starts.size(), "A2"));
    EXPECT_EQ(wholeSecondsBetween(starts), std::vector<long>(starts.size() - 1, 1));
    EXPECT_EQ(startsAfter(starts, clearedAtS + kRecordingLagS), 0u);
}

// A chord during a string loop sounds at once and clears "Loop", so the loop ends after its rest.
TEST_F(EndToEnd, ChordDuringALoopEndsTheLoop) {
    click(kCheck1);
    click(kCommand2);
    std::this_thread::sleep_for(2500ms);
    click(kCommand7);
    std::this_thread::sleep_for(2500ms);

    const auto starts = endAndListen();
    EXPECT_EQ(namesHeard(starts), Names({"A2", "A2", "A2", "E major"}));
}

// "Exit" while a string loops: the program ends without finishing the rest, and nothing more
// sounds.
TEST_F(EndToEnd, ExitDuringALoopEndsTheProgram) {
    click(kCheck1);
    click(kCommand3);
    std::this_thread::sleep_for(2500ms);
    chooseExit();
    const double exitAtS = recordedS();
    exitStatus_ = program_->waitForExit(20s);
    exited_ = true;

    const auto starts = endAndListen();
    ASSERT_GE(starts.size(), 2u);
    EXPECT_EQ(namesHeard(starts), Names(starts.size(), "D3"));
    EXPECT_EQ(startsAfter(starts, exitAtS + kRecordingLagS), 0u);
}

}  // namespace
}  // namespace lyravox::test
