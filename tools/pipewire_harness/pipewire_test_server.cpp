#include "tools/pipewire_harness/pipewire_test_server.h"

#include <bit>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lyravox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSinkName = "test_null";

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
    return "bash " + quoted(LYRAVOX_PIPEWIRE_NULL_SINK_SCRIPT) + " " + arguments;
}

// Not TMPDIR, which may lie deep: the socket paths must fit a sockaddr_un.
fs::path freshTmpDirectory() {
    char pattern[] = "/tmp/lyravox-pipewire-XXXXXX";
    return ::mkdtemp(pattern) != nullptr ? fs::path(pattern) : fs::path();
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

bool onPath(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// parec writes little-endian samples, as this machine reads them; a sample still being written
// (odd trailing bytes) is left out.
template <typename Sample>
std::vector<Sample> rawSamplesOf(const fs::path& file) {
    static_assert(std::endian::native == std::endian::little);
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<Sample> samples(bytes.size() / sizeof(Sample));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(Sample));
    return samples;
}

}  // namespace

PipeWireTestServer::PipeWireTestServer(int graphRateHz)
    : directory_(freshTmpDirectory())
    , graphRateHz_(graphRateHz) {}

PipeWireTestServer::~PipeWireTestServer() {
    static_cast<void>(stop(Stop::Term));
    if (!directory_.empty()) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }
}

bool PipeWireTestServer::packagesInstalled() {
    for (const char* tool :
         {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "parec"}) {
        if (!onPath(tool))
            return false;
    }
    return true;
}

std::string PipeWireTestServer::start() {
    if (directory_.empty())
        return "no directory could be made under /tmp";
    const fs::path errors = directory_ / "start-errors.txt";
    const std::string command =
            script("start " + quoted(directory_.string()) + " " + std::to_string(::getpid()) + " " +
                   std::to_string(graphRateHz_) + " 2>" + quoted(errors.string()));
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return "cannot run " LYRAVOX_PIPEWIRE_NULL_SINK_SCRIPT;
    char line[4096] = {};
    const bool gotLine = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    if (!gotLine || status != 0) {
        const std::string why = readText(errors);
        return why.empty() ? "pipewire-null-sink.sh start failed and said nothing" : why;
    }
    running_ = true;
    return {};
}

bool PipeWireTestServer::stop(Stop how) {
    if (!running_)
        return true;
    running_ = false;
    const char* signal = how == Stop::Kill ? "KILL" : "TERM";
    return std::system(script("stop " + quoted(directory_.string()) + " " + signal).c_str()) == 0;
}

pid_t PipeWireTestServer::pidOf(const char* process) const {
    if (!running_)
        return 0;
    const std::string text = readText(directory_ / ("pid." + std::string(process)));
    return text.empty() ? 0 : static_cast<pid_t>(std::atol(text.c_str()));
}

pid_t PipeWireTestServer::pipewirePid() const {
    return pidOf("pipewire");
}

pid_t PipeWireTestServer::pipewirePulsePid() const {
    return pidOf("pipewire-pulse");
}

void PipeWireTestServer::freeze() {
    for (pid_t pid : {pipewirePid(), pipewirePulsePid()}) {
        if (pid > 0)
            ::kill(pid, SIGSTOP);
    }
}

void PipeWireTestServer::thaw() {
    for (pid_t pid : {pipewirePid(), pipewirePulsePid()}) {
        if (pid > 0)
            ::kill(pid, SIGCONT);
    }
}

std::string PipeWireTestServer::pulseAddress() const {
    return "unix:" + (runtimeDirectory() / "pulse" / "native").string();
}

void PipeWireTestServer::useFromThisProcess() const {
    ::setenv("PIPEWIRE_RUNTIME_DIR", runtimeDirectory().c_str(), 1);
    ::setenv("PULSE_SERVER", pulseAddress().c_str(), 1);
    ::unsetenv("PIPEWIRE_REMOTE");
}

std::string PipeWireTestServer::sinkState() const {
    // "ID NAME DRIVER FORMAT STATE", tab-separated, one sink a line.
    std::istringstream lines(commandOutput("PULSE_SERVER=" + quoted(pulseAddress()) +
                                           " pactl list sinks short 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, name, driver, format, state;
        std::getline(fields, id, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, driver, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, state, '\t');
        if (name == kSinkName)
            return state;
    }
    return {};
}

SinkRecording::SinkRecording(const PipeWireTestServer& server, fs::path file, Format format)
    : file_(std::move(file)) {
    const bool s16 = format == Format::S16At44100;
    std::vector<std::string> args = {"parec",
                                     "--server=" + server.pulseAddress(),
                                     "--device=" + std::string(kSinkName) + ".monitor",
                                     "--raw",
                                     s16 ? "--format=s16le" : "--format=float32le",
                                     "--rate=" + std::to_string(s16 ? 44100 : server.graphRateHz()),
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

bool SinkRecording::waitUntilRecording() const {
    const auto deadline = Clock::now() + 5s;
    while (pid_ != 0 && Clock::now() < deadline) {
        std::error_code ignored;
        if (fs::file_size(file_, ignored) > 0 && !ignored)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::vector<std::int16_t> SinkRecording::samplesSoFar() const {
    return rawSamplesOf<std::int16_t>(file_);
}

std::vector<float> SinkRecording::floatSamples() const {
    return rawSamplesOf<float>(file_);
}

bool SinkRecording::stop() {
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
