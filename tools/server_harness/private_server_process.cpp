#include "tools/server_harness/private_server_process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace lyravox::test {
namespace {

namespace fs = std::filesystem;

std::string withoutTrailingNewlines(std::string text) {
    text.erase(text.find_last_not_of('\n') + 1);
    return text;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    return withoutTrailingNewlines({std::istreambuf_iterator<char>(in), {}});
}

fs::path freshTmpDirectory(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "XXXXXX";
    return ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
}

}  // namespace

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string commandOutput(const std::string& command) {
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return {};
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0)
        text.append(buffer, got);
    ::pclose(out);
    return text;
}

PrivateServerProcess::PrivateServerProcess(std::string script, const char* tmpPrefix)
    : script_(std::move(script))
    , directory_(freshTmpDirectory(tmpPrefix))
    , ownsDirectory_(true) {}

PrivateServerProcess::PrivateServerProcess(std::string script, fs::path directory)
    : script_(std::move(script))
    , directory_(std::move(directory)) {}

PrivateServerProcess::~PrivateServerProcess() {
    static_cast<void>(stop(Stop::Term));
    if (ownsDirectory_ && !directory_.empty()) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }
}

std::string PrivateServerProcess::script(const std::string& arguments) const {
    return "bash " + shellQuoted(script_) + " " + arguments;
}

std::string PrivateServerProcess::makeDirectory() const {
    if (directory_.empty())
        return "no directory could be made under /tmp";
    std::error_code error;
    fs::create_directories(directory_, error);
    if (error)
        return "cannot make " + directory_.string() + ": " + error.message();
    return {};
}

std::string PrivateServerProcess::start(const std::vector<std::string>& arguments,
                                        std::string* printed) {
    if (std::string why = makeDirectory(); !why.empty())
        return why;
    const fs::path errors = directory_ / "start-errors.txt";
    std::string command = "start " + shellQuoted(directory_.string()) + " ";
    command += std::to_string(::getpid());
    // Appended in two steps: GCC 12 at -O3 takes `" " + temporary` for an overlapping copy.
    for (const std::string& argument : arguments) {
        command += ' ';
        command += shellQuoted(argument);
    }
    command += " 2>" + shellQuoted(errors.string());
    FILE* out = ::popen(script(command).c_str(), "r");
    if (out == nullptr)
        return "cannot run " + script_;
    char line[4096] = {};
    const bool gotLine = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    if (!gotLine || status != 0) {
        const std::string why = readText(errors);
        return why.empty()
                       ? fs::path(script_).filename().string() + " start failed and said nothing"
                       : why;
    }
    if (printed != nullptr)
        *printed = withoutTrailingNewlines(line);
    running_ = true;
    return {};
}

bool PrivateServerProcess::stop(Stop how) {
    if (!running_)
        return true;
    running_ = false;
    const char* signal = how == Stop::Kill ? "KILL" : "TERM";
    return std::system(script("stop " + shellQuoted(directory_.string()) + " " + signal).c_str()) ==
           0;
}

pid_t PrivateServerProcess::pidFrom(const std::string& pidFile) const {
    if (!running_)
        return 0;
    const std::string text = readText(directory_ / pidFile);
    return text.empty() ? 0 : static_cast<pid_t>(std::atol(text.c_str()));
}

bool PrivateServerProcess::signal(const std::string& pidFile, int signal) const {
    const pid_t pid = pidFrom(pidFile);
    return pid > 0 && ::kill(pid, signal) == 0;
}

}  // namespace lyravox::test
