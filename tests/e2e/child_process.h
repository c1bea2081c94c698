#pragma once

// Processes the end-to-end test starts: Xvfb, the program, xdotool. Each child is killed when the
// test process dies, however it dies, so a crash leaves nothing running behind.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lyravox::test {

class ChildProcess {
public:
    // Runs argv[0] (looked up in PATH) with this process's environment plus `extraEnvironment`
    // ("NAME=value"). `keepOpenFd`, if not -1, stays open in the child under the same number.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::vector<std::string>& extraEnvironment = {}, int keepOpenFd = -1);
    // Kills the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The exit status once the child has ended by itself within `limit`; nothing if it still runs
    // or was ended by a signal (then `signalled` is set).
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    bool signalled() const { return signalled_; }
    void terminate();

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    bool signalled_ = false;
};

// Runs a short command to its end and returns what it wrote to standard output, or nothing if it
// failed or took longer than `limit`.
std::optional<std::string> outputOf(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& extraEnvironment,
                                    std::chrono::milliseconds limit = std::chrono::seconds(10));

// Whether `program` is found in PATH.
bool onPath(const std::string& program);

}  // namespace lyravox::test
