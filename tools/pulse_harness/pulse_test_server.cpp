#include "tools/pulse_harness/pulse_test_server.h"

#include "tools/pulse_harness/raw_s16_file.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lyravox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Where pulse-null-sink.sh puts the server's socket inside its directory.
constexpr const char* kSocketName = "native";

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string withoutTrailingNewlines(std::string text) {
    text.erase(text.find_last_not_of('\n') + 1);
    return text;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    return withoutTrailingNewlines({std::istreambuf_iterator<char>(in), {}});
}

std::string script(const std::string& arguments) {
    return "bash " + quoted(LYRAVOX_PULSE_NULL_SINK_SCRIPT) + " " + arguments;
}

// Not TMPDIR, which may lie deep: the socket path must fit a sockaddr_un.
fs::path freshTmpDirectory() {
    char pattern[] = "/tmp/lyravox-pulse-XXXXXX";
    return ::mkdtemp(pattern) != nullptr ? fs::path(pattern) : fs::path();
}

}  // namespace

PulseTestServer::PulseTestServer() : PulseTestServer(Options{}) {}

PulseTestServer::PulseTestServer(Options options)
    : options_(options)
    , directory_(freshTmpDirectory())
    , ownsDirectory_(true) {}

PulseTestServer::PulseTestServer(fs::path directory, Options options)
    : options_(options)
    , directory_(std::move(directory)) {}

PulseTestServer::~PulseTestServer() {
    static_cast<void>(stop(Stop::Term));
    if (ownsDirectory_ && !directory_.empty()) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }
}

std::string PulseTestServer::start() {
    if (directory_.empty())
        return "no directory could be made under /tmp";
    std::error_code error;
    fs::create_directories(directory_, error);
    if (error)
        return "cannot make " + directory_.string() + ": " + error.message();
    // PulseAudio's own complaint about a socket it cannot bind says nothing of the path's length.
    const std::string socket = (fs::canonical(directory_, error) / kSocketName).string();
    if (socket.size() >= sizeof(sockaddr_un::sun_path))
        return "the socket path " + socket + " is too long for a unix socket";

    const fs::path errors = directory_ / "start-errors.txt";
    std::string arguments = "start " + quoted(directory_.string());
    // Appended one piece at a time: GCC 12 warns falsely (-Wrestrict) about " " + to_string().
    for (const int number :
         {static_cast<int>(::getpid()), options_.sinkRateHz, options_.suspendAfterIdleSeconds}) {
        if (number <= 0)
            continue;
        arguments += ' ';
        arguments += std::to_string(number);
    }
    arguments += " 2>" + quoted(errors.string());
    const std::string command = script(arguments);
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return "cannot run " LYRAVOX_PULSE_NULL_SINK_SCRIPT;
    char line[4096] = {};
    const bool gotLine = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    if (!gotLine || status != 0) {
        const std::string why = readText(errors);
        return why.empty() ? "pulse-null-sink.sh start failed and said nothing" : why;
    }
    socket_ = withoutTrailingNewlines(line);
    running_ = true;
    return {};
}

bool PulseTestServer::stop(Stop how) {
    if (!running_)
        return true;
    running_ = false;
    const char* signal = how == Stop::Kill ? "KILL" : "TERM";
    return std::system(script("stop " + quoted(directory_.string()) + " " + signal).c_str()) == 0;
}

bool PulseTestServer::signalServer(int signal) {
    if (!running_)
        return false;
    const std::string pid = readText(directory_ / "pid");
    return !pid.empty() && ::kill(static_cast<pid_t>(std::stol(pid)), signal) == 0;
}

bool PulseTestServer::freeze() {
    return signalServer(SIGSTOP);
}

bool PulseTestServer::thaw() {
    return signalServer(SIGCONT);
}

std::string PulseTestServer::pactl(const std::string& arguments) const {
    const std::string command =
            "PULSE_SERVER=" + quoted(address()) + " timeout 5 pactl " + arguments + " 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return {};
    std::string text;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        text += buffer;
    ::pclose(out);
    return text;
}

std::string PulseTestServer::sinkState() const {
    // Lines of "index name driver spec state".
    const std::string listing = pactl("list sinks short");
    std::size_t begin = 0;
    while (begin < listing.size()) {
        const std::size_t end = std::min(listing.find('\n', begin), listing.size());
        const std::string line = listing.substr(begin, end - begin);
        if (line.find("lyravox_null") != std::string::npos) {
            const std::size_t tab = line.find_last_of('\t');
            return tab == std::string::npos ? std::string() : line.substr(tab + 1);
        }
        begin = end + 1;
    }
    return {};
}

PulseTestServer::Streams PulseTestServer::playbackStreams() const {
    const std::string listing = pactl("list sink-inputs");
    Streams streams;
    for (std::size_t at = listing.find("Sink Input #"); at != std::string::npos;
         at = listing.find("Sink Input #", at + 1))
        ++streams.count;
    for (std::size_t at = listing.find("Corked: yes"); at != std::string::npos;
         at = listing.find("Corked: yes", at + 1))
        ++streams.corked;
    return streams;
}

MonitorRecording::MonitorRecording(const std::string& serverAddress, fs::path file, int rateHz)
    : file_(std::move(file)) {
    std::vector<std::string> args = {"parec",
                                     "--server=" + serverAddress,
                                     "--device=lyravox_null.monitor",
                                     "--raw",
                                     "--format=s16le",
                                     "--rate=" + std::to_string(rateHz),
                                     "--channels=1",
                                     "--latency-msec=10"};
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

bool MonitorRecording::waitUntilRecording() const {
    const auto deadline = Clock::now() + 5s;
    while (pid_ != 0 && Clock::now() < deadline) {
        std::error_code ignored;
        if (fs::file_size(file_, ignored) > 0 && !ignored)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::vector<std::int16_t> MonitorRecording::samplesSoFar() const {
    return readRawS16(file_);
}

MonitorRecording::Stopped MonitorRecording::stop() {
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
    return {samplesSoFar(), endedWhenAsked};
}

}  // namespace lyravox::test
