#pragma once

#include <chrono>

namespace lyravox::platform {

// What the playback logic needs of the toolkit's run time: a clock, an event pump and a way to end
// the program. The Qt implementation drives the real event loop; tests use a simulated one whose
// clock only moves when the logic waits, so scripted clicks land exactly where the real loop would
// deliver them.
class RunTime {
public:
    virtual ~RunTime() = default;

    // Monotonic, nanoseconds since an arbitrary origin: never jumps at midnight or when the system
    // clock is set, and keeps its resolution however long the program runs.
    virtual std::chrono::nanoseconds now() const = 0;

    // Handles every pending event (clicks run their handlers here, nested in the caller). When
    // none is pending and `deadline` lies ahead, sleeps until an event arrives or the clock
    // reaches `deadline`, whichever comes first; never waits past the deadline for want of events.
    virtual void processEvents(std::chrono::nanoseconds deadline) = 0;

    // Asks the event loop to end, the program then returning `exitStatus`. Returns at once;
    // handlers waiting in processEvents() must check for the program's end themselves and return.
    virtual void endProgram(int exitStatus) = 0;
};

}  // namespace lyravox::platform
