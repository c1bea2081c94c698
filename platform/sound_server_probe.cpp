#include "platform/sound_server_probe.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace lyravox::platform {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool unixSocketListening(const std::string& path) {
#if defined(__unix__)
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // A full backlog (EAGAIN) still means somebody listens.
    const bool listening = result == 0 || errno == EAGAIN;
    ::close(fd);
    return listening;
#else
    static_cast<void>(path);
    return false;
#endif
}

// PULSE_SERVER holds a list of addresses separated by spaces; unix ones are "unix:PATH" or a
// bare absolute path.
std::vector<std::string> pulseServerPaths(const std::string& servers, bool& networkServer) {
    std::vector<std::string> paths;
    std::size_t begin = 0;
    while (begin < servers.size()) {
        const std::size_t end = std::min(servers.find(' ', begin), servers.size());
        std::string_view entry(servers.data() + begin, end - begin);
        // "{machine-id}" prefixes restrict an entry to one machine; the path follows.
        if (entry.starts_with('{') && entry.find('}') != std::string_view::npos)
            entry.remove_prefix(entry.find('}') + 1);
        if (entry.starts_with("unix:"))
            paths.emplace_back(entry.substr(5));
        else if (entry.starts_with('/'))
            paths.emplace_back(entry);
        else if (!entry.empty())
            networkServer = true;
        begin = end + 1;
    }
    return paths;
}

}  // namespace

bool pulseServerListening() {
    const std::string servers = environment("PULSE_SERVER");
    if (!servers.empty()) {
        bool networkServer = false;
        for (const std::string& path : pulseServerPaths(servers, networkServer))
            if (unixSocketListening(path))
                return true;
        return networkServer;
    }
    const std::string pulseRuntime = environment("PULSE_RUNTIME_PATH");
    if (!pulseRuntime.empty() && unixSocketListening(pulseRuntime + "/native"))
        return true;
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty() && unixSocketListening(runtime + "/pulse/native"))
        return true;
    return unixSocketListening("/var/run/pulse/native");
}

bool pipeWireDaemonListening() {
    std::string remote = environment("PIPEWIRE_REMOTE");
    if (remote.empty())
        remote = "pipewire-0";
    if (remote.starts_with('/'))
        return unixSocketListening(remote);
    std::string runtime = environment("PIPEWIRE_RUNTIME_DIR");
    if (runtime.empty())
        runtime = environment("XDG_RUNTIME_DIR");
    return !runtime.empty() && unixSocketListening(runtime + "/" + remote);
}

}  // namespace lyravox::platform
