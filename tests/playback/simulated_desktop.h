#pragma once

// A simulated desktop for the playback logic: a virtual clock that moves only while the logic
// waits, a script of user actions performed when the logic processes events (so nested handlers
// run exactly where the real event loop would run them), the main window's controls, and a clip
// player that records every start. Runs in microseconds and is deterministic.

#include "platform/run_time.h"
#include "playback/controls.h"
#include "playback/playback_control.h"
#include "sounds/clip_playback.h"

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace lyravox::playback::test {

using std::chrono::nanoseconds;

// Seconds as the virtual clock's nanoseconds, for readable scripts.
constexpr nanoseconds at(double seconds) {
    return nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
}

class SimulatedRunTime final : public platform::RunTime {
public:
    // One pass of the event pump with nothing to do takes this long, as a real one takes some
    // microseconds (here one nanosecond, so expected times stay round); without it a wait whose
    // deadline is now would never see the clock move.
    static constexpr nanoseconds kIdlePass{1};

    explicit SimulatedRunTime(nanoseconds origin = {}) : now_(origin) {}

    // A real event loop wakes a little after the deadline it slept for; this many nanoseconds
    // here (zero by default).
    void setWakeLateness(nanoseconds lateness) { wakeLateness_ = lateness; }

    nanoseconds now() const override { return now_; }
    void processEvents(nanoseconds deadline) override;
    void endProgram(int) override { ended_ = true; }

    // Queues a user action for the virtual time `when` (actions at equal times keep their order).
    void schedule(nanoseconds when, std::function<void()> action);
    // The event loop: performs every queued action at its time, at the top level unless a
    // waiting handler has already performed it nested. Stops when the program has ended.
    void run();

    bool ended() const { return ended_; }
    // The most event pumps that ran one inside another: the deepest nesting of waiting handlers.
    int deepestNesting() const { return deepestNesting_; }

private:
    struct Action {
        nanoseconds when;
        std::function<void()> perform;
    };
    // Performs the queued actions due now, one by one; an action that waits moves the clock, so
    // more may be due after it.
    void performDueActions();

    nanoseconds now_;
    nanoseconds wakeLateness_{0};
    std::vector<Action> queue_;  // Sorted by time.
    bool ended_ = false;
    int nesting_ = 0;
    int deepestNesting_ = 0;
};

class SimulatedControls final : public Controls {
public:
    struct Enabling {
        nanoseconds when;
        int commandNumber;
        bool enabled;
    };

    explicit SimulatedControls(const platform::RunTime& clock) : clock_(clock) {}

    bool isSelected(OptionButton option) const override { return selected_[index(option)]; }
    void select(OptionButton option) override;
    int check1() const override { return check1_; }
    void setCheck1(int value) override { check1_ = value; }
    void setCommandEnabled(int commandNumber, bool enabled) override;

    bool commandEnabled(int commandNumber) const { return enabled_.at(commandNumber - 1); }
    const std::vector<Enabling>& enablings() const { return enablings_; }

private:
    static std::size_t index(OptionButton option) { return static_cast<std::size_t>(option) - 1; }

    const platform::RunTime& clock_;
    std::array<bool, 7> selected_{};
    int check1_ = kUnchecked;
    std::array<bool, 8> enabled_ = {true, true, true, true, true, true, true, true};
    std::vector<Enabling> enablings_;
};

struct ClipStart {
    nanoseconds when;  // When the start was due, as the logic passed it.
    std::string clipName;
    nanoseconds handledAt;  // The clock when the logic made the start.
};

class RecordingPlayer final : public sounds::ClipPlayback {
public:
    explicit RecordingPlayer(const platform::RunTime& clock) : clock_(clock) {}

    void loadClip(std::string_view clipName) override { klang_ = std::string(clipName); }
    void startClip(nanoseconds startTime) override;
    double steadySecondsPerSoundSecond() const override { return steadyPerSoundSecond_; }

    const std::vector<ClipStart>& starts() const { return starts_; }
    // A sound card whose clock runs off the run time's.
    void setSteadySecondsPerSoundSecond(double ratio) { steadyPerSoundSecond_ = ratio; }

private:
    const platform::RunTime& clock_;
    double steadyPerSoundSecond_ = 1.0;
    std::string klang_;
    std::vector<ClipStart> starts_;
};

// What a user can do to the main window.
enum class Button {
    Command1 = 1,
    Command2,
    Command3,
    Command4,
    Command5,
    Command6,
    Command7,
    Command8,
    alle
};

// The whole main window on the simulated desktop, started as the program starts it.
class SimulatedWindow {
public:
    explicit SimulatedWindow(nanoseconds clockOrigin = {});

    // Script steps, performed at virtual time `when` (relative to the clock's origin).
    void clickAt(double seconds, Button button);
    void selectAt(double seconds, OptionButton option);
    void setLoopAt(double seconds, bool checked);
    void exitAt(double seconds);

    void run() { runTime.run(); }
    // Start times in seconds from the clock's origin, with their clips.
    std::vector<std::pair<double, std::string>> startsInSeconds() const;

    SimulatedRunTime runTime;
    SimulatedControls controls{runTime};
    RecordingPlayer player{runTime};
    PlaybackControl logic{controls, runTime, player};

private:
    // A click on a disabled button does nothing, as on the screen.
    void click(Button button);
    nanoseconds origin_;
};

}  // namespace lyravox::playback::test
