#pragma once

// The main window on a test desk: a run time whose rests pass at once (pending events are still
// handled, so clicks made meanwhile run nested as in the real program) and a clip player that
// records which clip each start played. Ending the program is only noted, so one test's "Exit"
// cannot stop the event loops of the tests after it.

#include "platform/run_time.h"
#include "sounds/clip_playback.h"
#include "ui/Form1.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lyravox::ui::test {

class InstantRunTime final : public platform::RunTime {
public:
    std::chrono::nanoseconds now() const override { return now_; }
    void processEvents(std::chrono::nanoseconds deadline) override {
        QCoreApplication::processEvents();
        now_ = std::max(now_, deadline) + std::chrono::nanoseconds(1);
    }
    void endProgram(int exitStatus) override {
        ++endRequests;
        lastExitStatus = exitStatus;
    }

    int endRequests = 0;
    int lastExitStatus = 0;

private:
    std::chrono::nanoseconds now_{0};
};

class RecordingClips final : public sounds::ClipPlayback {
public:
    void loadClip(std::string_view clipName) override { loaded_ = clipName; }
    void startClip(std::chrono::nanoseconds) override {
        started.push_back(loaded_);
        if (onStart) {
            onStart();
        }
    }

    std::vector<std::string> started;
    // Runs after each start, inside the handler that started the clip.
    std::function<void()> onStart;

private:
    std::string loaded_;
};

struct TestMainWindow {
    InstantRunTime runTime;
    RecordingClips clips;
    Form1 window{runTime, clips};
};

}  // namespace lyravox::ui::test
