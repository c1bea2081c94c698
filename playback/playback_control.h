#pragma once

#include "playback/controls.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lyravox::platform {
class RunTime;
}

namespace lyravox::sounds {
class ClipPlayback;
}

namespace lyravox::playback {

// The main window's playback state, shared by every handler, nested ones included.
struct WindowState {
    std::int16_t pause = 1;      // Rest between clip starts, whole seconds.
    std::int16_t wieoft = 1;     // "How often": plays per string in play-all.
    std::int16_t durchlauf = 1;  // "Run through": repetition counter of play-all's current string.
    // "Start time": when the current clip's start was due (a click: when it was handled; after a
    // rest: the rest's deadline), in monotonic nanoseconds so a rest stays exact however long the
    // program runs and the rhythm does not drift by the time the event loop takes to wake.
    std::chrono::nanoseconds startzeit{0};
};

// The logic behind the main window: its handlers, named after the controls that run them.
//
// Re-entrancy: between clip starts a handler waits out the rest inside the run time's event pump,
// so any handler, itself included, can run nested inside it and finishes before the waiting one
// goes on. All state is window-level (WindowState, the player's clip buffer), so nested handlers
// change what the waiting ones see. After Exit_Click every waiting handler returns at once.
class PlaybackControl {
public:
    // Rests waited one inside another beyond which a further string or play-all click is ignored:
    // each level holds a few kilobytes of stack, and an auto-clicker could otherwise nest until the
    // stack runs out. A person clicking never comes near it.
    static constexpr int kMaxNestedRests = 1000;

    PlaybackControl(Controls& controls, platform::RunTime& runTime, sounds::ClipPlayback& player);

    // Start state, before the window is first shown.
    void Form_Load();

    // String buttons: low E, A, D, G, B, high E.
    void Command1_Click() { playString("e"); }
    void Command2_Click() { playString("a"); }
    void Command3_Click() { playString("d"); }
    void Command4_Click() { playString("g"); }
    void Command5_Click() { playString("h"); }
    void Command6_Click() { playString("e1"); }
    // Chord buttons: E major, G major.
    void Command7_Click() { playChord("chord1"); }
    void Command8_Click() { playChord("chord2"); }

    // "Play All Strings".
    void alle_Click();

    // "Exit", and the window's close box: ends the program at once, waiting handlers included.
    void Exit_Click();

    // Ends the program at once with `exitStatus`, waiting handlers included, leaving the controls
    // as they are: the way out after a fault.
    void endProgram(int exitStatus);

    const WindowState& state() const { return state_; }
    bool closing() const { return closing_; }
    // Rests being waited right now, one inside another.
    int nestedRests() const { return nestedRests_; }

private:
    void playString(std::string_view clipName);
    void playChord(std::string_view clipName);
    // Plays the six strings once through, the first start due at startTime; leaves there when
    // the next start is due. False when the program ended meanwhile.
    bool playAllPass(std::chrono::nanoseconds& startTime);
    void setSoundButtonsEnabled(bool enabled);

    // "Again and again": reads the rest options into pause.
    void immerwieder();
    // "How often each": reads the count options into wieoft.
    void allewieoft();

    void beginRest(std::chrono::nanoseconds startTime);
    // Returns once the clock has passed the rest's end, with the time the next start is due: the
    // rest's deadline, or now when the rest ended far too late to keep the rhythm. Nothing when
    // the program ended meanwhile.
    std::optional<std::chrono::nanoseconds> waitRest();
    bool mayNestAnotherRest() const { return nestedRests_ < kMaxNestedRests; }

    Controls& controls_;
    platform::RunTime& runTime_;
    sounds::ClipPlayback& player_;
    WindowState state_;
    bool closing_ = false;
    int nestedRests_ = 0;
};

}  // namespace lyravox::playback
