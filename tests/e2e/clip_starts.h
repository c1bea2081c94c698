#pragma once

// Finds where the program's clips begin in a recording of its sound output. A start plays a clip
// from its first sample and cuts off whatever sounded, and nothing is mixed or resampled on the
// way to the null sink, so each start shows as the clip's own samples, exactly; the note is then
// named from the pitch heard there, not from which clip matched.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lyravox::test {

inline constexpr double kRecordingRateHz = 44100.0;

struct HeardStart {
    std::size_t frame;     // In the recording.
    std::string clipName;  // The catalogue's name of the clip that matched.
    std::string heardAs;   // A string's note by its pitch ("A2"), or the chord ("E major").
};

// In recording order. A clip started again within 50 ms of its own start counts once: the
// listener hears one clip.
std::vector<HeardStart> findClipStarts(std::span<const std::int16_t> recording);

std::vector<std::string> namesHeard(const std::vector<HeardStart>& starts);

// Seconds between consecutive starts, rounded to whole seconds (the rests are whole seconds).
std::vector<long> wholeSecondsBetween(const std::vector<HeardStart>& starts);

}  // namespace lyravox::test
