#pragma once

// How busy the machine is while the sound benchmarks run: they share it, so every group of
// figures says its load, and the "loaded" half makes it busy on purpose.

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lyravox::bench {

// Prints `<prefix>loadavg_1min`: the one-minute load average as the figures after it began.
inline void printLoadAverage(const std::string& prefix) {
    std::ifstream in("/proc/loadavg");
    double oneMinute = 0;
    if (in >> oneMinute)
        std::printf("%sloadavg_1min %.2f load\n", prefix.c_str(), oneMinute);
}

// A process spinning on each core for as long as the object lives.

class BusyCores {
public:
    BusyCores() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                // Ends with the benchmark, however the benchmark ends.
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                volatile std::uint64_t spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~BusyCores() {
        for (pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

private:
    std::vector<pid_t> pids_;
};

}  // namespace lyravox::bench
