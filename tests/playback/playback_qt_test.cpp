// The playback logic on Qt's real event loop (offscreen): rests sleep in the event loop and end
// once the clock has passed their target, clicks during a rest run nested, "Exit" unwinds every
// waiting handler, and the nesting guard sits well inside the stack.
#include "platform/qt_run_time.h"
#include "tests/playback/simulated_desktop.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace lyravox::playback::test {
namespace {

using namespace std::chrono_literals;

// Counts the passes of the event pump, to tell a sleeping wait from a spinning one.
class CountingRunTime final : public platform::RunTime {
public:
    nanoseconds now() const override { return qt.now(); }
    void processEvents(nanoseconds deadline) override {
        ++passes;
        qt.processEvents(deadline);
    }
    void endProgram(int exitStatus) override { qt.endProgram(exitStatus); }

    platform::QtRunTime qt;
    int passes = 0;
};

// Notes where on the stack each start happened.
class StackNotingPlayer final : public sounds::ClipPlayback {
public:
    void loadClip(std::string_view) override {}
    void startClip(std::chrono::nanoseconds) override {
        const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        lowestAddress = lowestAddress == 0 ? here : std::min(lowestAddress, here);
        highestAddress = std::max(highestAddress, here);
        ++starts;
    }
    std::uintptr_t lowestAddress = 0;
    std::uintptr_t highestAddress = 0;
    int starts = 0;
};

class PlaybackOnQt : public ::testing::Test {
protected:
    CountingRunTime runTime;
    SimulatedControls controls{runTime};
    RecordingPlayer player{runTime};
    PlaybackControl logic{controls, runTime, player};

    void SetUp() override { logic.Form_Load(); }
};

TEST_F(PlaybackOnQt, RestEndsOnceTheClockHasPassedItsTargetWithoutSpinning) {
    controls.setCheck1(kChecked);
    QTimer::singleShot(1500ms, qApp, [this] { controls.setCheck1(kUnchecked); });
    logic.Command1_Click();

    const auto& starts = player.starts();
    ASSERT_EQ(starts.size(), 3u);  // At once, restarted at once, a second later.
    // Made once the clock has passed the rest's end, due exactly at it.
    EXPECT_GT(starts[2].handledAt - starts[1].handledAt, 1s);
    EXPECT_EQ(starts[2].when - starts[1].when, 1s);
    // After the rest that was under way when "Loop" was cleared.
    EXPECT_GT(runTime.now() - starts[2].when, 1s);
    // Two rests of a second each: a spinning wait passes millions of times.
    EXPECT_GE(runTime.passes, 2);
    EXPECT_LT(runTime.passes, 100);
}

TEST_F(PlaybackOnQt, ClickDuringARestRunsNestedAndTheRestGoesOn) {
    controls.setCheck1(kChecked);
    QTimer::singleShot(300ms, qApp, [this] { logic.Command7_Click(); });
    logic.Command1_Click();

    const auto& starts = player.starts();
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].clipName, "e");
    EXPECT_EQ(starts[1].clipName, "e");
    EXPECT_EQ(starts[2].clipName, "chord1");
    // The chord cleared "Loop"; the string's rest still ran to its end.
    EXPECT_GT(runTime.now() - starts[1].when, 1s);
    EXPECT_EQ(logic.nestedRests(), 0);
}

TEST_F(PlaybackOnQt, ExitEndsEveryWaitingHandlerAtOnceWithStatusZero) {
    nanoseconds exitTime{};
    controls.setCheck1(kChecked);
    QTimer::singleShot(0ms, qApp, [this] { logic.Command1_Click(); });
    QTimer::singleShot(300ms, qApp, [this] { logic.alle_Click(); });
    QTimer::singleShot(700ms, qApp, [&] {
        exitTime = runTime.now();
        logic.Exit_Click();
    });
    // A second loop left running would keep starting clips until this fires.
    QTimer::singleShot(5s, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);

    ASSERT_GT(exitTime.count(), 0);
    for (const ClipStart& start : player.starts())
        EXPECT_LT(start.when, exitTime) << start.clipName;
    EXPECT_EQ(player.starts().size(), 3u);  // e, e, and play-all's low E.
    EXPECT_EQ(logic.nestedRests(), 0);
    EXPECT_EQ(controls.check1(), kUnchecked);
}

// Nests loops with the real event loop until the guard stops them, and checks the stack they take
// against the stack there is. Prints the measured cost per level.
TEST(PlaybackNesting, GuardStopsWellInsideTheStack) {
    CountingRunTime runTime;
    SimulatedControls controls{runTime};
    StackNotingPlayer player;
    PlaybackControl logic{controls, runTime, player};
    logic.Form_Load();
    controls.setCheck1(kChecked);

    // Each click queues the next before it runs, so the next one arrives inside its rest (a
    // repeating timer would not: Qt never re-enters a timer whose slot is still running).
    int clicks = 0;
    std::function<void()> autoClick = [&] {
        if (++clicks == PlaybackControl::kMaxNestedRests + 20) {
            controls.setCheck1(kUnchecked);
            QTimer::singleShot(0ms, qApp, [] { QCoreApplication::exit(0); });
            return;
        }
        QTimer::singleShot(0ms, qApp, autoClick);
        logic.Command1_Click();
    };
    QTimer::singleShot(0ms, qApp, autoClick);
    // Should the nest never unwind, the test fails instead of hanging.
    QTimer::singleShot(30s, qApp, [&] {
        controls.setCheck1(kUnchecked);
        QCoreApplication::exit(1);
    });
    ASSERT_EQ(QCoreApplication::exec(), 0);

    EXPECT_EQ(player.starts, 2 * PlaybackControl::kMaxNestedRests);
    const double bytesPerLevel = static_cast<double>(player.highestAddress - player.lowestAddress) /
                                 (PlaybackControl::kMaxNestedRests - 1);
    rlimit stack{};
    ASSERT_EQ(::getrlimit(RLIMIT_STACK, &stack), 0);
    const double stackBytes = stack.rlim_cur == RLIM_INFINITY ? 8.0 * 1024 * 1024
                                                              : static_cast<double>(stack.rlim_cur);
    std::printf("nested_rest_stack %.0f bytes/level, guard %d levels = %.0f KiB of %.0f KiB\n",
                bytesPerLevel, PlaybackControl::kMaxNestedRests,
                bytesPerLevel * PlaybackControl::kMaxNestedRests / 1024, stackBytes / 1024);
    EXPECT_LT(bytesPerLevel * PlaybackControl::kMaxNestedRests, stackBytes / 2);
}

}  // namespace
}  // namespace lyravox::playback::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
