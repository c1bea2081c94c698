#pragma once

#include <cstddef>
#include <string_view>

// The clip images rendered at build time (see tools/clipgen), linked into the program as
// constant data: nothing is read from disk and nothing is synthesised at start-up. Which clips
// there are is the catalogue's: sounds/clip_catalogue.h, generated from the clip list in
// sounds/CMakeLists.txt ("H" is the B string: H is the German letter name of the note B).
namespace lyravox::sounds::embedded {

struct ClipImage {
    std::string_view resourceName;
    const unsigned char* bytes;
    std::size_t size;
};

}  // namespace lyravox::sounds::embedded
