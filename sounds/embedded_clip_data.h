#pragma once

#include <cstddef>
#include <string_view>

// The clip images rendered at build time (see tools/clipgen), linked into the program as
// constant data: nothing is read from disk and nothing is synthesised at start-up.
namespace lyravox::sounds::embedded {

struct ClipImage {
    std::string_view resourceName;
    const unsigned char* bytes;
    std::size_t size;
};

extern const ClipImage kE;
extern const ClipImage kA;
extern const ClipImage kD;
extern const ClipImage kG;
extern const ClipImage kH;  // the B string: H is the German letter name of the note B
extern const ClipImage kE1;
extern const ClipImage kCHORD1;
extern const ClipImage kCHORD2;

}  // namespace lyravox::sounds::embedded
