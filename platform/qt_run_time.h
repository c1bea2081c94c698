#pragma once

#include "platform/run_time.h"

#include <memory>

namespace lyravox::platform {

// The run time on Qt's event loop. A wait sleeps in the event loop until an event arrives or the
// deadline passes, so a rest costs no processor time, and wakes within a fraction of a
// millisecond of the deadline (Linux: a timerfd; elsewhere Qt's precise timer, about a
// millisecond late). Needs a QCoreApplication (or QApplication) and belongs to its thread.
class QtRunTime final : public RunTime {
public:
    QtRunTime();
    ~QtRunTime() override;
    QtRunTime(const QtRunTime&) = delete;
    QtRunTime& operator=(const QtRunTime&) = delete;

    std::chrono::nanoseconds now() const override;
    void processEvents(std::chrono::nanoseconds deadline) override;
    // QCoreApplication::exit(exitStatus): the outermost event loop returns once the handlers have.
    void endProgram(int exitStatus) override;

private:
    class DeadlineAlarm;
    std::unique_ptr<DeadlineAlarm> alarm_;
};

}  // namespace lyravox::platform
