#include "playback/playback_control.h"

#include "platform/run_time.h"
#include "sounds/clip_playback.h"

#include <array>
#include <cmath>

namespace lyravox::playback {
namespace {

// Play-all's order, low to high.
constexpr std::array<std::string_view, 6> kStringClips = {"e", "a", "d", "g", "h", "e1"};

// A rest that ended this much later than its deadline (a modal window held it, the machine
// stalled) has lost the rhythm anyway: the next start is then due when the rest was noticed to
// have ended, rather than in a catch-up burst of starts.
constexpr std::chrono::nanoseconds kMaxStartLateness = std::chrono::milliseconds(100);

// The rests are given as 1, 1.8 and 2.8 seconds but kept in whole seconds, rounded to the nearest
// with ties to even: 1, 2 and 3.
std::int16_t toWholeSeconds(double seconds) {
    return static_cast<std::int16_t>(std::lrint(seconds));
}

}  // namespace

PlaybackControl::PlaybackControl(Controls& controls, platform::RunTime& runTime,
                                 sounds::ClipPlayback& player)
    : controls_(controls)
    , runTime_(runTime)
    , player_(player) {}

void PlaybackControl::Form_Load() {
    controls_.select(OptionButton::Option1);
    controls_.select(OptionButton::Option5);
    state_.pause = 1;
    state_.durchlauf = 1;
    state_.wieoft = 1;
    controls_.setCheck1(kUnchecked);
}

void PlaybackControl::immerwieder() {
    if (controls_.isSelected(OptionButton::Option5))
        state_.pause = toWholeSeconds(1);
    if (controls_.isSelected(OptionButton::Option6))
        state_.pause = toWholeSeconds(1.8);
    if (controls_.isSelected(OptionButton::Option7))
        state_.pause = toWholeSeconds(2.8);
}

void PlaybackControl::allewieoft() {
    if (controls_.isSelected(OptionButton::Option1))
        state_.wieoft = 1;
    if (controls_.isSelected(OptionButton::Option2))
        state_.wieoft = 3;
    if (controls_.isSelected(OptionButton::Option3))
        state_.wieoft = 5;
    if (controls_.isSelected(OptionButton::Option4))
        state_.wieoft = 8;
}

void PlaybackControl::beginRest(std::chrono::nanoseconds startTime) {
    state_.startzeit = startTime;
}

std::optional<std::chrono::nanoseconds> PlaybackControl::waitRest() {
    ++nestedRests_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{nestedRests_};
    for (;;) {
        // Both are read anew on every pass: a nested handler may have started a clip (startzeit)
        // or read other rest options (pause), and then this rest ends where that one does.
        // The rest is timed on the sound card's clock, a few hundred ppm off the run time's,
        // so that it is heard whole seconds long in the card's own samples.
        const auto target = [this] {
            const double restNs =
                    static_cast<double>(state_.pause) * 1e9 * player_.steadySecondsPerSoundSecond();
            return state_.startzeit + std::chrono::nanoseconds(std::llround(restNs));
        };
        runTime_.processEvents(target());
        if (closing_)
            return std::nullopt;
        const std::chrono::nanoseconds jetzt = runTime_.now();  // "now"
        const std::chrono::nanoseconds deadline = target();
        if (deadline < jetzt)
            return jetzt - deadline > kMaxStartLateness ? jetzt : deadline;
    }
}

void PlaybackControl::playString(std::string_view clipName) {
    if (closing_ || !mayNestAnotherRest())
        return;
    std::chrono::nanoseconds startTime = runTime_.now();
    player_.loadClip(clipName);
    player_.startClip(startTime);
    for (;;) {
        if (controls_.check1() != kChecked)
            return;
        immerwieder();
        // Restarts at once when "Loop" was set at the click: the user hears one clip.
        player_.startClip(startTime);
        beginRest(startTime);
        const std::optional<std::chrono::nanoseconds> restEnd = waitRest();
        if (!restEnd)
            return;
        startTime = *restEnd;
        if (controls_.check1() == kUnchecked)
            return;
    }
}

void PlaybackControl::playChord(std::string_view clipName) {
    if (closing_)
        return;
    // Also ends every string loop waiting further out, after its current rest.
    controls_.setCheck1(kUnchecked);
    player_.loadClip(clipName);
    player_.startClip(runTime_.now());
}

void PlaybackControl::setSoundButtonsEnabled(bool enabled) {
    for (int command = 1; command <= 8; ++command)
        controls_.setCommandEnabled(command, enabled);
}

bool PlaybackControl::playAllPass(std::chrono::nanoseconds& startTime) {
    for (const std::string_view clipName : kStringClips) {
        player_.loadClip(clipName);
        allewieoft();
        // The count is fixed when the string begins; durchlauf is window-level, so a nested run
        // leaves its own count behind for this one to go on from.
        const std::int16_t bis = state_.wieoft;  // "up to"
        state_.durchlauf = 1;
        while (state_.durchlauf <= bis) {
            immerwieder();
            player_.startClip(startTime);
            beginRest(startTime);
            const std::optional<std::chrono::nanoseconds> restEnd = waitRest();
            if (!restEnd)
                return false;
            startTime = *restEnd;
            state_.durchlauf = static_cast<std::int16_t>(state_.durchlauf + 1);
        }
    }
    return true;
}

void PlaybackControl::alle_Click() {
    if (closing_ || !mayNestAnotherRest())
        return;
    // The first start is due at the click, every later one at the end of the rest before it.
    std::chrono::nanoseconds startTime = runTime_.now();
    setSoundButtonsEnabled(false);
    if (!playAllPass(startTime))
        return;
    // Enabling and disabling again with no events in between: with "Loop" set the buttons stay
    // locked from the first pass to the end of the last.
    setSoundButtonsEnabled(true);
    for (;;) {
        if (controls_.check1() != kChecked)
            break;
        setSoundButtonsEnabled(false);
        if (!playAllPass(startTime))
            return;
        if (controls_.check1() == kUnchecked)
            break;
    }
    setSoundButtonsEnabled(true);
}

void PlaybackControl::Exit_Click() {
    if (closing_)
        return;
    controls_.setCheck1(kUnchecked);
    controls_.select(OptionButton::Option1);
    endProgram(0);
}

void PlaybackControl::endProgram(int exitStatus) {
    if (closing_)
        return;
    closing_ = true;
    runTime_.endProgram(exitStatus);
}

}  // namespace lyravox::playback
