#pragma once

#include <exception>
#include <string_view>

namespace lyravox::ui {

// What the program does once a handler of a user action has failed.
enum class AfterFailure {
    GoOn,        // Only that handler stopped and nothing is lost: the window goes on.
    EndProgram,  // A fault in the program itself: it ends with kFaultExitStatus.
};

// The status the program ends with after a fault in itself (EX_SOFTWARE in <sysexits.h>).
inline constexpr int kFaultExitStatus = 70;

// The one place where a failed handler ends: writes one line to stderr naming the action, the
// cause and what follows, and tells the caller which. Faults in the program (a clip it does not
// carry, a start with nothing loaded, any other broken precondition or unknown exception) end it;
// a failure of the moment (memory, the sound system) only stops the handler.
AfterFailure reportFailure(std::string_view action, std::exception_ptr failure) noexcept;

// Runs `handler` so that no exception leaves it: every Qt slot of the windows goes through here,
// since an exception that reaches Qt's event loop is undefined behaviour. `endProgram` receives
// kFaultExitStatus when the failure is a fault.
template <typename Handler, typename EndProgram>
void runGuarded(std::string_view action, Handler&& handler, EndProgram&& endProgram) noexcept {
    try {
        handler();
    } catch (...) {
        if (reportFailure(action, std::current_exception()) == AfterFailure::EndProgram) {
            endProgram(kFaultExitStatus);
        }
    }
}

}  // namespace lyravox::ui
