#pragma once

// Reads what SDL's disk driver or parec wrote: raw little-endian samples, no header.

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace lyravox::test {

// A missing file reads as no samples, and a last sample still being written (odd trailing bytes)
// is left out, so a recording can be read at any moment. The bytes are copied as they are, which
// reads little-endian samples right only on a little-endian machine.
template <typename Sample>
std::vector<Sample> readRawSamples(const std::filesystem::path& file) {
    static_assert(std::endian::native == std::endian::little);
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<Sample> samples(bytes.size() / sizeof(Sample));
    // Not memcpy: with no samples both pointers may be null, which memcpy must not be given.
    std::copy_n(bytes.data(), samples.size() * sizeof(Sample),
                reinterpret_cast<char*>(samples.data()));
    return samples;
}

}  // namespace lyravox::test
