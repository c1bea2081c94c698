#include "tools/pulse_harness/raw_s16_file.h"

#include "tools/server_harness/raw_samples.h"

namespace lyravox::test {

std::vector<std::int16_t> readRawS16(const std::filesystem::path& file) {
    return readRawSamples<std::int16_t>(file);
}

}  // namespace lyravox::test
