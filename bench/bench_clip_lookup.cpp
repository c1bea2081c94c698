// How long a command waits for its clip: every start of a string or chord looks one up, so the
// copy must stay far below what a listener could notice. Prints `name value unit` lines.
#include "sounds/resource_loader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double medianLookupUs(std::string_view name) {
    constexpr int kRounds = 2000;
    std::vector<double> timesUs;
    timesUs.reserve(kRounds);
    std::size_t checksum = 0;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto image = lyravox::sounds::loadResource(name, lyravox::sounds::kWaveResourceType);
        const auto end = std::chrono::steady_clock::now();
        checksum += image[static_cast<std::size_t>(i) % image.size()];
        timesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::nth_element(timesUs.begin(), timesUs.begin() + kRounds / 2, timesUs.end());
    if (checksum == 0)
        std::puts("unexpected all-zero clip");
    return timesUs[kRounds / 2];
}

}  // namespace

int main() {
    std::size_t totalBytes = 0;
    for (std::string_view name :
         lyravox::sounds::resourceNames(lyravox::sounds::kWaveResourceType)) {
        totalBytes +=
                lyravox::sounds::loadResource(name, lyravox::sounds::kWaveResourceType).size();
        std::printf("clip_lookup_%s_median %.1f us\n", std::string(name).c_str(),
                    medianLookupUs(name));
    }
    std::printf("embedded_clip_bytes %zu bytes\n", totalBytes);
    return 0;
}
