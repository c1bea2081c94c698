#pragma once

// Reads what SDL's disk driver or parec wrote: raw signed 16-bit little-endian samples, no header.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace lyravox::test {

// A missing file reads as no samples, and an odd last byte (a writer caught mid-sample) is left
// out, so a recording still being written can be read at any moment.
std::vector<std::int16_t> readRawS16(const std::filesystem::path& file);

}  // namespace lyravox::test
