#pragma once

// The tuning sounds: eight reference clips carried inside the program as complete RIFF WAVE
// images (16-bit mono PCM, 44100 Hz), looked up by name like resources of type "WAVE".
// The player that sounds them builds on this; nothing here touches the sound output.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lyravox::sounds {

inline constexpr std::string_view kWaveResourceType = "WAVE";

// A lookup of a name (or type) the program does not carry: the caller must handle it.
class ResourceNotFound : public std::runtime_error {
public:
    ResourceNotFound(std::string_view name, std::string_view type);
};

// A new copy of the named resource's bytes, owned by the caller. Names and types match whole and
// without regard to the case of ASCII letters: "e" finds "E" but never "E1".
std::vector<std::uint8_t> loadResource(std::string_view name, std::string_view type);

// The stored names of the resources of this type, as the program carries them.
std::vector<std::string_view> resourceNames(std::string_view type);

}  // namespace lyravox::sounds
