#include "tools/pipewire_harness/pipewire_test_server.h"

#include "tools/server_harness/raw_samples.h"

#include <csignal>
#include <cstdlib>
#include <sstream>

namespace lyravox::test {
namespace {

constexpr const char* kSinkName = "test_null";

bool onPath(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

PipeWireTestServer::PipeWireTestServer(int graphRateHz)
    : process_(LYRAVOX_PIPEWIRE_NULL_SINK_SCRIPT, "lyravox-pipewire-")
    , graphRateHz_(graphRateHz) {}

bool PipeWireTestServer::packagesInstalled() {
    for (const char* tool :
         {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "parec"}) {
        if (!onPath(tool))
            return false;
    }
    return true;
}

std::string PipeWireTestServer::start() {
    return process_.start({std::to_string(graphRateHz_)});
}

bool PipeWireTestServer::stop(Stop how) {
    return process_.stop(how);
}

pid_t PipeWireTestServer::pipewirePid() const {
    return process_.pidFrom("pid.pipewire");
}

pid_t PipeWireTestServer::pipewirePulsePid() const {
    return process_.pidFrom("pid.pipewire-pulse");
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
    std::istringstream lines(commandOutput("PULSE_SERVER=" + shellQuoted(pulseAddress()) +
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

SinkRecording::SinkRecording(const PipeWireTestServer& server, std::filesystem::path file,
                             Format format)
    : parec_(server.pulseAddress(), std::string(kSinkName) + ".monitor",
             format == Format::S16At44100 ? "s16le" : "float32le",
             format == Format::S16At44100 ? 44100 : server.graphRateHz(), std::move(file)) {}

bool SinkRecording::waitUntilRecording() const {
    return parec_.waitUntilRecording();
}

std::vector<std::int16_t> SinkRecording::samplesSoFar() const {
    return readRawSamples<std::int16_t>(parec_.file());
}

std::vector<float> SinkRecording::floatSamples() const {
    return readRawSamples<float>(parec_.file());
}

bool SinkRecording::stop() {
    return parec_.stop();
}

}  // namespace lyravox::test
