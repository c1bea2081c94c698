#include "child_process.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lyravox::test {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment,
            int keepOpenFd, int stdoutFd) {
    // The given settings replace inherited ones (ctest sets QT_QPA_PLATFORM=offscreen, for one):
    // with a name twice, getenv would find the inherited value first.
    const auto overridden = [&extraEnvironment](std::string_view entry) {
        const std::string_view name = entry.substr(0, entry.find('='));
        return std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                           [name](const std::string& extra) {
                               return extra.size() > name.size() && extra.starts_with(name) &&
                                      extra[name.size()] == '=';
                           });
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!overridden(*entry)) {
            environment.emplace_back(*entry);
        }
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& entry : environment) {
        env.push_back(const_cast<char*>(entry.c_str()));
    }
    env.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    // Only async-signal-safe calls from here on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    if (stdoutFd != -1) {
        ::dup2(stdoutFd, STDOUT_FILENO);
    }
    if (keepOpenFd != -1) {
        ::fcntl(keepOpenFd, F_SETFD, 0);
    }
    ::execvpe(args[0], args.data(), env.data());
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnvironment, int keepOpenFd)
    : pid_(spawn(argv, extraEnvironment, keepOpenFd, -1)) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0 || reaped_) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            signalled_ = true;
            return std::nullopt;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ChildProcess::terminate() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(std::chrono::seconds(5)) && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            reaped_ = true;
        }
    }
}

std::optional<std::string> outputOf(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& extraEnvironment,
                                    std::chrono::milliseconds limit) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t pid = spawn(argv, extraEnvironment, -1, pipeFds[1]);
    ::close(pipeFds[1]);
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    std::string output;
    const auto deadline = Clock::now() + limit;
    int status = 0;
    bool ended = false;
    while (!ended && Clock::now() < deadline) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
            output.append(buffer, static_cast<std::size_t>(got));
        }
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (::access((std::filesystem::path(folder) / program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace lyravox::test
