#pragma once

// A sound server that one of the tools/*-null-sink.sh scripts runs in a private directory, for
// the sound tests and benchmarks: the script's start and stop, the directory's making and
// removal, and the process ids the script leaves there. The server also ends when this process
// does, so a test that crashes leaves none behind.

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lyravox::test {

// For commands given to the shell: `text` as one word, whatever it holds.
std::string shellQuoted(const std::string& text);
// What `command` printed on stdout; empty if it could not be run.
std::string commandOutput(const std::string& command);

class PrivateServerProcess {
public:
    // Term ends the server the way a shutdown would, Kill the way a crash would.
    enum class Stop { Term, Kill };

    // In a fresh directory /tmp/<tmpPrefix>XXXXXX, removed again by the destructor; directory()
    // is empty if none could be made. Not TMPDIR, which may lie deep: socket paths inside the
    // directory must fit a sockaddr_un.
    PrivateServerProcess(std::string script, const char* tmpPrefix);
    // In `directory`, made if missing and left in place.
    PrivateServerProcess(std::string script, std::filesystem::path directory);
    // Stops the server (Term).
    ~PrivateServerProcess();
    PrivateServerProcess(const PrivateServerProcess&) = delete;
    PrivateServerProcess& operator=(const PrivateServerProcess&) = delete;

    // Makes the directory if it is missing: empty on success, else why not.
    [[nodiscard]] std::string makeDirectory() const;
    // Runs `script start DIR OWNER_PID arguments...` with this process as the owner: empty on
    // success, else why no server runs (the script's own words where it gave any). `printed`, if
    // given, receives the line the script printed.
    [[nodiscard]] std::string start(const std::vector<std::string>& arguments,
                                    std::string* printed = nullptr);
    // False if the server would not end. True at once when none runs.
    [[nodiscard]] bool stop(Stop how);

    // The process id the script wrote into `pidFile` in the directory; 0 while no server runs.
    pid_t pidFrom(const std::string& pidFile) const;
    // False when no such process runs or it cannot be signalled.
    bool signal(const std::string& pidFile, int signal) const;

    const std::filesystem::path& directory() const { return directory_; }

private:
    std::string script(const std::string& arguments) const;

    std::string script_;
    std::filesystem::path directory_;
    bool ownsDirectory_ = false;
    bool running_ = false;
};

}  // namespace lyravox::test
