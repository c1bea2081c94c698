// The playback logic against the simulated desktop: every clip start (virtual time, clip) and
// every lock of the sound buttons, for scripted clicks, option changes and "Loop" changes made
// while handlers wait, nested handlers included.
#include "tests/playback/simulated_desktop.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace lyravox::playback::test {
namespace {

using Starts = std::vector<std::pair<double, std::string>>;
using enum Button;
using enum OptionButton;

struct Step {
    enum class Kind { Click, Select, Loop, Exit } kind;
    double seconds;
    Button button = Command1;
    OptionButton option = Option1;
    bool checked = false;
};

Step click(double seconds, Button button) {
    return {Step::Kind::Click, seconds, button};
}
Step choose(double seconds, OptionButton option) {
    return {Step::Kind::Select, seconds, Command1, option};
}
Step loop(double seconds, bool checked) {
    return {Step::Kind::Loop, seconds, Command1, Option1, checked};
}
Step exitAt(double seconds) {
    return {Step::Kind::Exit, seconds};
}

// One string repeated: `count` starts `restSeconds` apart from `fromSeconds`.
Starts repeated(const std::string& clip, double fromSeconds, int count, double restSeconds) {
    Starts out;
    for (int i = 0; i < count; ++i)
        out.emplace_back(fromSeconds + i * restSeconds, clip);
    return out;
}

// A play-all pass: each string `count` times, every start `restSeconds` after the one before.
Starts pass(double fromSeconds, int count, double restSeconds) {
    Starts out;
    double t = fromSeconds;
    for (const char* clip : {"e", "a", "d", "g", "h", "e1"}) {
        for (const auto& start : repeated(clip, t, count, restSeconds))
            out.push_back(start);
        t += count * restSeconds;
    }
    return out;
}

Starts join(std::initializer_list<Starts> parts) {
    Starts out;
    for (const Starts& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Scenario {
    std::string name;
    std::vector<Step> script;
    Starts starts;
    double endSeconds;  // When the last handler returned (or the program ended).
    bool exits = false;
    double clockOriginSeconds = 0;
};

std::ostream& operator<<(std::ostream& out, const Scenario& scenario) {
    return out << scenario.name;
}

const Scenario kScenarios[] = {
        {"one_click_plays_one_clip", {click(0, Command1)}, {{0, "e"}}, 0},
        {"b_string_button_plays_clip_h", {click(0, Command5)}, {{0, "h"}}, 0},
        {"chord_button_plays_its_chord_once", {click(0, Command8)}, {{0, "chord2"}}, 0},
        // The restart right after the first start is heard as one clip; one more rest passes
        // after "Loop" is cleared, with no start.
        {"loop_short_rest_one_second",
         {loop(0, true), click(0, Command2), loop(3.5, false)},
         join({{{0, "a"}}, repeated("a", 0, 4, 1)}),
         4},
        {"loop_middle_rest_two_seconds",
         {choose(0, Option6), loop(0, true), click(0, Command3), loop(5, false)},
         join({{{0, "d"}}, repeated("d", 0, 3, 2)}),
         6},
        {"loop_long_rest_three_seconds",
         {choose(0, Option7), loop(0, true), click(0, Command4), loop(7, false)},
         join({{{0, "g"}}, repeated("g", 0, 3, 3)}),
         9},
        {"rest_change_reaches_the_next_start",
         {loop(0, true), click(0, Command6), choose(1.5, Option7), loop(4.5, false)},
         {{0, "e1"}, {0, "e1"}, {1, "e1"}, {2, "e1"}},
         5},
        {"chord_during_a_loop_clears_loop_and_ends_it_after_the_rest",
         {loop(0, true), click(0, Command1), click(2.5, Command7)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {2, "e"}, {2.5, "chord1"}},
         3},
        {"second_string_during_a_loop_nests_its_own_loop",
         {loop(0, true), click(0, Command1), click(1.5, Command2), loop(4.2, false)},
         join({repeated("e", 0, 2, 0),
               {{1, "e"}},
               repeated("a", 1.5, 2, 0),
               {{2.5, "a"}, {3.5, "a"}}}),
         4.5},
        {"same_button_again_nests_a_second_loop",
         {loop(0, true), click(0, Command1), click(1.5, Command1), loop(3.2, false)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {1.5, "e"}, {1.5, "e"}, {2.5, "e"}},
         3.5},
        // The outer loop restarts whatever the clip buffer holds: the A string played in between.
        {"outer_loop_restarts_the_clip_loaded_last",
         {loop(0, true), click(0, Command1), loop(1.5, false), click(1.5, Command2),
          loop(1.6, true), loop(3.5, false)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {1.5, "a"}, {2, "a"}, {3, "a"}},
         4},
        {"play_all_defaults_six_strings_a_second_apart", {click(0, alle)}, pass(0, 1, 1), 6},
        {"play_all_three_times_middle_lasts_36_seconds",
         {choose(0, Option2), choose(0, Option6), click(0, alle)},
         pass(0, 3, 2),
         36},
        {"play_all_five_times_short", {choose(0, Option3), click(0, alle)}, pass(0, 5, 1), 30},
        {"play_all_eight_times_long_lasts_144_seconds",
         {choose(0, Option4), choose(0, Option7), click(0, alle)},
         pass(0, 8, 3),
         144},
        // D keeps its count; the strings after it take the new one.
        {"count_change_reaches_the_next_string",
         {click(0, alle), choose(2.5, Option4)},
         join({{{0, "e"}, {1, "a"}, {2, "d"}},
               repeated("g", 3, 8, 1),
               repeated("h", 11, 8, 1),
               repeated("e1", 19, 8, 1)}),
         27},
        // The rest in progress keeps its length; the next start reads the new one.
        {"rest_change_during_play_all_from_the_next_start",
         {click(0, alle), choose(2.5, Option7)},
         {{0, "e"}, {1, "a"}, {2, "d"}, {3, "g"}, {6, "h"}, {9, "e1"}},
         12},
        // Cleared during the second pass: that pass still plays to its end.
        {"loop_repeats_play_all_passes_until_cleared",
         {click(0, alle), loop(1, true), loop(8, false)},
         join({pass(0, 1, 1), pass(6, 1, 1)}),
         12},
        // The nested run plays its own pass at "1 x" and leaves its counter (2) and its clip
        // (high E) behind: the outer run, at "8 x" on the low E, plays the high E for its
        // repetitions 3 to 8, then goes on with A at the new count.
        {"play_all_during_play_all_outer_run_goes_on_from_nested_state",
         {choose(0, Option4), click(0, alle), choose(1.5, Option1), click(1.5, alle)},
         join({{{0, "e"}, {1, "e"}},
               pass(1.5, 1, 1),
               repeated("e1", 7.5, 6, 1),
               {{13.5, "a"}, {14.5, "d"}, {15.5, "g"}, {16.5, "h"}, {17.5, "e1"}}}),
         18.5},
        {"exit_during_a_string_loop_ends_at_once",
         {loop(0, true), click(0, Command1), exitAt(2.5)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {2, "e"}},
         2.5,
         true},
        {"exit_during_play_all_ends_at_once",
         {click(0, alle), exitAt(2.5)},
         {{0, "e"}, {1, "a"}, {2, "d"}},
         2.5,
         true},
        {"exit_from_play_all_nested_in_a_loop_unwinds_both",
         {loop(0, true), click(0, Command1), click(0.5, alle), exitAt(3.2)},
         {{0, "e"}, {0, "e"}, {0.5, "e"}, {1.5, "a"}, {2.5, "d"}},
         3.2,
         true},
        // A rest spanning midnight, and a clock read after ten days of running: every start is
        // exactly a second after the one before.
        {"loop_across_midnight",
         {loop(0, true), click(0, Command1), loop(2.5, false)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {2, "e"}},
         3,
         false,
         86'399.6},
        {"loop_after_ten_days_running",
         {loop(0, true), click(0, Command1), loop(2.5, false)},
         {{0, "e"}, {0, "e"}, {1, "e"}, {2, "e"}},
         3,
         false,
         10 * 86'400.0 + 0.123'456'789},
};

class PlaybackScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(PlaybackScenario, StartsEachClipWhenExpected) {
    const Scenario& scenario = GetParam();
    SimulatedWindow window(at(scenario.clockOriginSeconds));
    for (const Step& step : scenario.script) {
        switch (step.kind) {
            case Step::Kind::Click:
                window.clickAt(step.seconds, step.button);
                break;
            case Step::Kind::Select:
                window.selectAt(step.seconds, step.option);
                break;
            case Step::Kind::Loop:
                window.setLoopAt(step.seconds, step.checked);
                break;
            case Step::Kind::Exit:
                window.exitAt(step.seconds);
                break;
        }
    }
    window.run();

    // A microsecond: the clock keeps nanoseconds, so rests stay exact however long the clock has
    // run.
    constexpr double kToleranceSeconds = 1e-6;
    const Starts starts = window.startsInSeconds();
    ASSERT_EQ(starts.size(), scenario.starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i].second, scenario.starts[i].second) << "start " << i;
        EXPECT_NEAR(starts[i].first, scenario.starts[i].first, kToleranceSeconds) << "start " << i;
    }
    const double endSeconds =
            static_cast<double>((window.runTime.now() - at(scenario.clockOriginSeconds)).count()) /
            1e9;
    EXPECT_NEAR(endSeconds, scenario.endSeconds, kToleranceSeconds);
    EXPECT_EQ(window.runTime.ended(), scenario.exits);
    EXPECT_EQ(window.logic.nestedRests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scripts, PlaybackScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return info.param.name; });

TEST(PlaybackControl, FormLoadSetsTheStartState) {
    SimulatedWindow window;
    const SimulatedControls& controls = window.controls;
    EXPECT_TRUE(controls.isSelected(Option1));
    EXPECT_TRUE(controls.isSelected(Option5));
    for (OptionButton other : {Option2, Option3, Option4, Option6, Option7})
        EXPECT_FALSE(controls.isSelected(other));
    EXPECT_EQ(controls.check1(), kUnchecked);
    const WindowState& state = window.logic.state();
    EXPECT_EQ(state.pause, 1);
    EXPECT_EQ(state.wieoft, 1);
    EXPECT_EQ(state.durchlauf, 1);
    EXPECT_EQ(state.startzeit.count(), 0);
    EXPECT_TRUE(window.player.starts().empty());
}

TEST(PlaybackControl, RestOptionsAreKeptAsWholeSeconds) {
    for (const auto& [option, seconds] : {std::pair{Option5, 1}, {Option6, 2}, {Option7, 3}}) {
        SimulatedWindow window;
        window.selectAt(0, option);
        window.setLoopAt(0, true);
        window.clickAt(0, Command1);
        window.setLoopAt(0.5, false);
        window.run();
        EXPECT_EQ(window.logic.state().pause, seconds);
    }
}

// The event loop wakes a little after each rest's deadline. A start that ends a rest is due at
// the deadline, and the next rest counts from there, so the rhythm does not drift by the wake-up
// time; a rest that ended far too late (the machine stalled) starts the rhythm afresh from when
// it was noticed instead of making up for it in a burst. Rests are timed on the sound card's
// clock, so with a card 300 ppm fast each lasts 0.9997 s of the run time's, and a long loop
// gathers no error in the card's samples.
struct LateWakeCase {
    std::string name;
    double latenessSeconds;
    Button button;
    double loopClearedSeconds;  // Negative: "Loop" stays clear.
    std::vector<double> dueSeconds;
    double steadySecondsPerSoundSecond = 1.0;
};

std::ostream& operator<<(std::ostream& out, const LateWakeCase& c) {
    return out << c.name;
}

class PlaybackLateWake : public ::testing::TestWithParam<LateWakeCase> {};

TEST_P(PlaybackLateWake, StartsAreDueWhereTheRhythmSaysAndMadeWhenTheLoopWoke) {
    const LateWakeCase& c = GetParam();
    SimulatedWindow window;
    window.runTime.setWakeLateness(at(c.latenessSeconds));
    window.player.setSteadySecondsPerSoundSecond(c.steadySecondsPerSoundSecond);
    if (c.loopClearedSeconds >= 0) {
        window.setLoopAt(0, true);
        window.setLoopAt(c.loopClearedSeconds, false);
    }
    window.clickAt(0, c.button);
    window.run();

    const auto& starts = window.player.starts();
    ASSERT_EQ(starts.size(), c.dueSeconds.size());
    constexpr double kToleranceSeconds = 1e-6;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const double due = static_cast<double>(starts[i].when.count()) / 1e9;
        const double made = static_cast<double>(starts[i].handledAt.count()) / 1e9;
        EXPECT_NEAR(due, c.dueSeconds[i], kToleranceSeconds) << "start " << i;
        // Never due after it was made, and never more than one wake-up before.
        EXPECT_GE(made - due, -kToleranceSeconds) << "start " << i;
        EXPECT_LE(made - due, c.latenessSeconds + kToleranceSeconds) << "start " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
        Rhythm, PlaybackLateWake,
        ::testing::Values(
                LateWakeCase{"string_loop_keeps_whole_seconds",
                             0.0015,
                             Command1,
                             4.5,
                             {0, 0, 1, 2, 3, 4}},
                LateWakeCase{"play_all_keeps_whole_seconds", 0.0015, alle, -1, {0, 1, 2, 3, 4, 5}},
                LateWakeCase{"play_all_looped_keeps_whole_seconds_across_passes",
                             0.0015,
                             alle,
                             6.5,
                             {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
                LateWakeCase{"stalled_rests_start_the_rhythm_afresh",
                             0.3,
                             Command1,
                             3,
                             {0, 0, 1.3, 2.6}},
                LateWakeCase{"rests_on_a_sound_card_300ppm_fast",
                             0.0015,
                             Command1,
                             4.5,
                             {0, 0, 0.9997, 1.9994, 2.9991, 3.9988},
                             1 - 300e-6},
                LateWakeCase{"rests_on_a_sound_card_300ppm_slow_over_ten_minutes", 0.0015, alle,
                             599.5,
                             [] {
                                 std::vector<double> due;
                                 for (int i = 0; i < 600; ++i)
                                     due.push_back(i * (1 + 300e-6));
                                 return due;
                             }(),
                             1 + 300e-6}),
        [](const auto& info) { return info.param.name; });

// The eight sound buttons are locked in order from the first pass to the end of the last; with
// "Loop" set they are unlocked and locked again between passes with no event in between, so no
// click gets through. "Play All Strings" itself stays clickable.
TEST(PlaybackControl, PlayAllLocksTheSoundButtons) {
    SimulatedWindow window;
    window.clickAt(0, alle);
    window.setLoopAt(1, true);
    window.clickAt(2.5, Command1);
    window.clickAt(3.5, Command7);
    window.setLoopAt(8, false);
    window.run();

    std::vector<SimulatedControls::Enabling> expected;
    for (const auto& [seconds, enabled] :
         {std::pair{0.0, false}, {6.0, true}, {6.0, false}, {12.0, true}}) {
        for (int command = 1; command <= 8; ++command)
            expected.push_back({at(seconds), command, enabled});
    }
    const auto& enablings = window.controls.enablings();
    ASSERT_EQ(enablings.size(), expected.size());
    for (std::size_t i = 0; i < enablings.size(); ++i) {
        EXPECT_EQ(enablings[i].commandNumber, expected[i].commandNumber) << i;
        EXPECT_EQ(enablings[i].enabled, expected[i].enabled) << i;
        EXPECT_NEAR(static_cast<double>((enablings[i].when - expected[i].when).count()), 0, 1e3)
                << i;
    }
    EXPECT_EQ(window.player.starts().size(), 12u);  // Two passes, neither click heard.
}

// A nested run unlocks the buttons at its end while the outer run still plays.
TEST(PlaybackControl, NestedPlayAllUnlocksEarly) {
    SimulatedWindow window;
    window.clickAt(0, alle);
    window.clickAt(1.5, alle);
    window.run();
    const auto& enablings = window.controls.enablings();
    // Each run locks once and, with "Loop" clear, unlocks twice (after the pass and at its end).
    ASSERT_EQ(enablings.size(), 48u);
    EXPECT_TRUE(enablings[16].enabled);
    EXPECT_NEAR(static_cast<double>(enablings[16].when.count()) / 1e9, 7.5, 1e-6);
    EXPECT_TRUE(window.controls.commandEnabled(1));
}

TEST(PlaybackControl, ExitClearsLoopSelectsOneTimeAndIgnoresLaterClicks) {
    SimulatedWindow window;
    window.selectAt(0, Option3);
    window.setLoopAt(0, true);
    window.clickAt(0, Command1);
    window.exitAt(1.5);
    window.run();
    EXPECT_EQ(window.controls.check1(), kUnchecked);
    EXPECT_TRUE(window.controls.isSelected(Option1));
    EXPECT_TRUE(window.logic.closing());
    // A click still queued when the program ended does nothing.
    const std::size_t startsAtExit = window.player.starts().size();
    window.logic.Command2_Click();
    window.logic.alle_Click();
    EXPECT_EQ(window.player.starts().size(), startsAtExit);
}

// An auto-clicker on a string button with "Loop" set nests a loop per click; beyond the guard the
// clicks are ignored instead of running the stack out, and everything unwinds once "Loop" is
// cleared.
TEST(PlaybackControl, NestingStopsAtTheGuard) {
    constexpr int kClicks = PlaybackControl::kMaxNestedRests + 50;
    SimulatedWindow window;
    window.setLoopAt(0, true);
    for (int i = 0; i < kClicks; ++i)
        window.clickAt(i * 0.0005, Command1);
    window.setLoopAt(0.9, false);
    window.run();
    EXPECT_EQ(window.runTime.deepestNesting(), PlaybackControl::kMaxNestedRests);
    EXPECT_EQ(window.player.starts().size(),
              2u * static_cast<std::size_t>(PlaybackControl::kMaxNestedRests));
    EXPECT_EQ(window.logic.nestedRests(), 0);
}

}  // namespace
}  // namespace lyravox::playback::test
