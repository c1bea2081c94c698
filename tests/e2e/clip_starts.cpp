#include "clip_starts.h"

#include "clip_analysis.h"
#include "platform/output_headroom.h"
#include "platform/wave_decoder.h"
#include "sounds/resource_loader.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace lyravox::test {
namespace {

// 3 ms of a clip's opening, after its leading silence: long enough to be unique, short enough
// that a rare gap in the recording seldom falls inside it.
constexpr std::size_t kHeadFrames = 128;
constexpr std::size_t kSameStartFrames = static_cast<std::size_t>(0.05 * kRecordingRateHz);

struct Clip {
    std::string name;
    std::vector<std::int16_t> samples;
    std::size_t leadingZeros = 0;
};

const std::vector<Clip>& catalogue() {
    static const std::vector<Clip> clips = [] {
        std::vector<Clip> loaded;
        for (std::string_view name : sounds::resourceNames(sounds::kWaveResourceType)) {
            const auto image = sounds::loadResource(name, sounds::kWaveResourceType);
            const auto pcm = platform::decodeWaveImage(image);
            if (!pcm || pcm->samples.size() < kHeadFrames * 4) {
                continue;
            }
            // The program's output leaves a little headroom below full scale; the sink hears
            // each sample so scaled.
            std::vector<std::int16_t> heard = pcm->samples;
            platform::applyOutputHeadroomAudioThread(heard);
            const std::size_t leadingZeros = analysis::leadingZeroCount(heard);
            Clip clip{std::string(name), std::move(heard), leadingZeros};
            std::transform(clip.name.begin(), clip.name.end(), clip.name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            loaded.push_back(std::move(clip));
        }
        return loaded;
    }();
    return clips;
}

struct Candidate {
    std::size_t frame;
    const Clip* clip;
    std::size_t matchedFrames;
};

std::string heardAs(const Clip& clip, std::span<const std::int16_t> sounding) {
    if (clip.name == "chord1") {
        return "E major";
    }
    if (clip.name == "chord2") {
        return "G major";
    }
    const std::vector<double> x = analysis::toFullScale(sounding);
    const double pitchHz = analysis::pitchHzByAutocorrelation(x, kRecordingRateHz, 60.0, 400.0);
    return std::isnan(pitchHz) ? "no pitch"
                               : analysis::noteName(analysis::nearestMidiNote(pitchHz));
}

}  // namespace

std::vector<HeardStart> findClipStarts(std::span<const std::int16_t> recording) {
    std::vector<Candidate> candidates;
    for (const Clip& clip : catalogue()) {
        const auto head = std::span(clip.samples).subspan(clip.leadingZeros, kHeadFrames);
        const std::boyer_moore_horspool_searcher searcher(head.begin(), head.end());
        auto from = recording.begin();
        for (;;) {
            const auto found = std::search(from, recording.end(), searcher);
            if (found == recording.end()) {
                break;
            }
            const auto at = static_cast<std::size_t>(found - recording.begin());
            std::size_t matched = 0;
            while (at + matched < recording.size() &&
                   clip.leadingZeros + matched < clip.samples.size() &&
                   recording[at + matched] == clip.samples[clip.leadingZeros + matched]) {
                ++matched;
            }
            candidates.push_back(
                    {at >= clip.leadingZeros ? at - clip.leadingZeros : 0, &clip, matched});
            from = found + 1;
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.frame < b.frame; });

    // Clips that open alike (a chord opening on a string's pluck) match at the same frame: the
    // one that goes on matching longest is the one that played.
    std::vector<Candidate> starts;
    for (const Candidate& candidate : candidates) {
        if (!starts.empty() && candidate.frame - starts.back().frame < kSameStartFrames) {
            if (candidate.matchedFrames > starts.back().matchedFrames) {
                starts.back().clip = candidate.clip;
                starts.back().matchedFrames = candidate.matchedFrames;
            }
            continue;
        }
        starts.push_back(candidate);
    }

    std::vector<HeardStart> heard;
    const auto halfSecond = static_cast<std::size_t>(kRecordingRateHz / 2);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::size_t end = std::min(recording.size(), starts[i].frame + halfSecond);
        if (i + 1 < starts.size()) {
            end = std::min(end, starts[i + 1].frame);
        }
        const auto sounding = recording.subspan(starts[i].frame, end - starts[i].frame);
        heard.push_back(
                {starts[i].frame, starts[i].clip->name, heardAs(*starts[i].clip, sounding)});
    }
    return heard;
}

std::vector<std::string> namesHeard(const std::vector<HeardStart>& starts) {
    std::vector<std::string> names;
    for (const HeardStart& start : starts) {
        names.push_back(start.heardAs);
    }
    return names;
}

std::vector<long> wholeSecondsBetween(const std::vector<HeardStart>& starts) {
    std::vector<long> seconds;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        seconds.push_back(std::lround(static_cast<double>(starts[i].frame - starts[i - 1].frame) /
                                      kRecordingRateHz));
    }
    return seconds;
}

}  // namespace lyravox::test
