#include "tools/pulse_harness/raw_s16_file.h"

#include <algorithm>
#include <bit>
#include <fstream>
#include <iterator>

namespace lyravox::test {

// The bytes are copied as they are, which reads little-endian samples right only on a
// little-endian machine.
static_assert(std::endian::native == std::endian::little);

std::vector<std::int16_t> readRawS16(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::copy_n(bytes.data(), samples.size() * 2, reinterpret_cast<char*>(samples.data()));
    return samples;
}

}  // namespace lyravox::test
