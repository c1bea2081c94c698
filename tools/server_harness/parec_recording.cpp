#include "tools/server_harness/parec_recording.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace lyravox::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ParecRecording::ParecRecording(const std::string& serverAddress, const std::string& device,
                               const std::string& format, int rateHz, fs::path file)
    : file_(std::move(file)) {
    std::vector<std::string> args = {
            "parec",        "--server=" + serverAddress, "--device=" + device,
            "--raw",        "--format=" + format,        "--rate=" + std::to_string(rateHz),
            "--channels=1", "--latency-msec=10"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, file_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::posix_spawnp(&pid_, "parec", &actions, nullptr, argv.data(), environ) != 0)
        pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
}

bool ParecRecording::waitUntilRecording() const {
    const auto deadline = Clock::now() + 5s;
    while (pid_ != 0 && Clock::now() < deadline) {
        std::error_code ignored;
        if (fs::file_size(file_, ignored) > 0 && !ignored)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

bool ParecRecording::stop() {
    bool endedWhenAsked = true;
    if (pid_ != 0) {
        // SIGINT lets parec write out what it holds; SIGKILL only if it will not end.
        ::kill(pid_, SIGINT);
        const auto deadline = Clock::now() + 5s;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                endedWhenAsked = false;
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = 0;
    }
    return endedWhenAsked;
}

}  // namespace lyravox::test
