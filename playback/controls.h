#pragma once

// Architecture: the playback logic (settings, the rest between repeats, the commands behind the
// buttons, play-all, start-up and exit) is plain C++ with no widget header. It sees the world
// through three small interfaces: the main window's controls (here), the run time
// (platform/run_time.h: clock, event pump, end of program) and the clip player
// (sounds/clip_playback.h), so tests drive it with a simulated clock and scripted clicks.

namespace lyravox::playback {

// The option buttons of the main window: Option1 … Option4 ("1 x", "3 x", "5 x", "8 x") form
// one group, Option5 … Option7 ("short", "middle", "long") the other.
enum class OptionButton { Option1 = 1, Option2, Option3, Option4, Option5, Option6, Option7 };

// The "Loop" check box's states.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;

// The controls of the main window that the logic reads and sets, read at the moment the logic
// needs them. Setting a control never runs a handler.
class Controls {
public:
    virtual ~Controls() = default;

    virtual bool isSelected(OptionButton option) const = 0;
    // Selects `option` and clears the others of its group.
    virtual void select(OptionButton option) = 0;

    // The "Loop" check box `Check1`: kUnchecked, kChecked (or 2, greyed, which users cannot set).
    virtual int check1() const = 0;
    virtual void setCheck1(int value) = 0;

    // Enables or disables the sound button `Command1` … `Command8` (commandNumber 1 … 8); a
    // disabled button ignores clicks.
    virtual void setCommandEnabled(int commandNumber, bool enabled) = 0;
};

}  // namespace lyravox::playback
