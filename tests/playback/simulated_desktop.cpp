#include "tests/playback/simulated_desktop.h"

#include "playback/sound_commands.h"

#include <algorithm>
#include <stdexcept>

namespace lyravox::playback::test {

void SimulatedRunTime::schedule(nanoseconds when, std::function<void()> action) {
    const auto after = std::upper_bound(queue_.begin(), queue_.end(), when,
                                        [](nanoseconds t, const Action& a) { return t < a.when; });
    queue_.insert(after, Action{when, std::move(action)});
}

void SimulatedRunTime::performDueActions() {
    while (!ended_ && !queue_.empty() && queue_.front().when <= now_) {
        const std::function<void()> perform = std::move(queue_.front().perform);
        queue_.erase(queue_.begin());
        perform();
    }
}

void SimulatedRunTime::processEvents(nanoseconds deadline) {
    ++nesting_;
    deepestNesting_ = std::max(deepestNesting_, nesting_);
    struct Leave {
        int& nesting;
        ~Leave() { --nesting; }
    } leave{nesting_};
    if (ended_) {
        now_ += kIdlePass;
        return;
    }
    if (!queue_.empty() && queue_.front().when <= now_) {
        performDueActions();
        return;
    }
    if (deadline <= now_) {
        now_ += kIdlePass;
        return;
    }
    // Sleeps until the next action or the deadline, whichever comes first.
    const nanoseconds wake = deadline + wakeLateness_;
    now_ = queue_.empty() ? wake : std::min(wake, queue_.front().when);
    performDueActions();
}

void SimulatedRunTime::run() {
    while (!ended_ && !queue_.empty()) {
        now_ = std::max(now_, queue_.front().when);
        performDueActions();
    }
}

void SimulatedControls::select(OptionButton option) {
    const bool countGroup = option <= OptionButton::Option4;
    for (int i = 1; i <= 7; ++i) {
        const auto other = static_cast<OptionButton>(i);
        if ((other <= OptionButton::Option4) == countGroup)
            selected_[index(other)] = false;
    }
    selected_[index(option)] = true;
}

void SimulatedControls::setCommandEnabled(int commandNumber, bool enabled) {
    enabled_.at(commandNumber - 1) = enabled;
    enablings_.push_back({clock_.now(), commandNumber, enabled});
}

void RecordingPlayer::startClip(nanoseconds startTime) {
    if (klang_.empty())
        throw std::logic_error("start with an empty clip buffer");
    starts_.push_back({startTime, klang_, clock_.now()});
}

SimulatedWindow::SimulatedWindow(nanoseconds clockOrigin)
    : runTime(clockOrigin)
    , origin_(clockOrigin) {
    logic.Form_Load();
}

void SimulatedWindow::click(Button button) {
    if (button != Button::alle && !controls.commandEnabled(static_cast<int>(button)))
        return;
    if (button == Button::alle) {
        logic.alle_Click();
        return;
    }
    (logic.*kSoundCommands.at(static_cast<std::size_t>(button) - 1).click)();
}

void SimulatedWindow::clickAt(double seconds, Button button) {
    runTime.schedule(origin_ + at(seconds), [this, button] { click(button); });
}

void SimulatedWindow::selectAt(double seconds, OptionButton option) {
    runTime.schedule(origin_ + at(seconds), [this, option] { controls.select(option); });
}

void SimulatedWindow::setLoopAt(double seconds, bool checked) {
    runTime.schedule(origin_ + at(seconds),
                     [this, checked] { controls.setCheck1(checked ? kChecked : kUnchecked); });
}

void SimulatedWindow::exitAt(double seconds) {
    runTime.schedule(origin_ + at(seconds), [this] { logic.Exit_Click(); });
}

std::vector<std::pair<double, std::string>> SimulatedWindow::startsInSeconds() const {
    std::vector<std::pair<double, std::string>> out;
    for (const ClipStart& start : player.starts())
        out.emplace_back(static_cast<double>((start.when - origin_).count()) / 1e9, start.clipName);
    return out;
}

}  // namespace lyravox::playback::test
