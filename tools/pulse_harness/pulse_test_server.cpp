#include "tools/pulse_harness/pulse_test_server.h"

#include "tools/pulse_harness/raw_s16_file.h"

#include <algorithm>
#include <csignal>
#include <sys/un.h>

namespace lyravox::test {
namespace {

namespace fs = std::filesystem;

// Where pulse-null-sink.sh puts the server's socket and process id inside its directory.
constexpr const char* kSocketName = "native";
constexpr const char* kPidFile = "pid";

}  // namespace

PulseTestServer::PulseTestServer() : PulseTestServer(Options{}) {}

PulseTestServer::PulseTestServer(Options options)
    : options_(options)
    , process_(LYRAVOX_PULSE_NULL_SINK_SCRIPT, "lyravox-pulse-") {}

PulseTestServer::PulseTestServer(fs::path directory, Options options)
    : options_(options)
    , process_(LYRAVOX_PULSE_NULL_SINK_SCRIPT, std::move(directory)) {}

PulseTestServer::~PulseTestServer() = default;

std::string PulseTestServer::start() {
    if (std::string why = process_.makeDirectory(); !why.empty())
        return why;
    // PulseAudio's own complaint about a socket it cannot bind says nothing of the path's length.
    std::error_code error;
    const std::string socket = (fs::canonical(directory(), error) / kSocketName).string();
    if (socket.size() >= sizeof(sockaddr_un::sun_path))
        return "the socket path " + socket + " is too long for a unix socket";

    std::vector<std::string> arguments;
    for (const int number : {options_.sinkRateHz, options_.suspendAfterIdleSeconds}) {
        if (number > 0)
            arguments.push_back(std::to_string(number));
    }
    return process_.start(arguments, &socket_);
}

bool PulseTestServer::stop(Stop how) {
    return process_.stop(how);
}

bool PulseTestServer::freeze() {
    return process_.signal(kPidFile, SIGSTOP);
}

bool PulseTestServer::thaw() {
    return process_.signal(kPidFile, SIGCONT);
}

std::string PulseTestServer::pactl(const std::string& arguments) const {
    return commandOutput("PULSE_SERVER=" + shellQuoted(address()) + " timeout 5 pactl " +
                         arguments + " 2>/dev/null");
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
    : parec_(serverAddress, "lyravox_null.monitor", "s16le", rateHz, std::move(file)) {}

bool MonitorRecording::waitUntilRecording() const {
    return parec_.waitUntilRecording();
}

std::vector<std::int16_t> MonitorRecording::samplesSoFar() const {
    return readRawS16(parec_.file());
}

MonitorRecording::Stopped MonitorRecording::stop() {
    const bool endedWhenAsked = parec_.stop();
    return {samplesSoFar(), endedWhenAsked};
}

}  // namespace lyravox::test
