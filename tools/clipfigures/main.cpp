// Prints the figures that tell how much the clips sound like a plucked guitar, one line per
// figure (`name value unit`), for the embedded clips or for the WAVE files NAME.wav in a folder
// (clips written by cliplisten from another build, or recordings to compare them with).
// The definitions are in tests/analysis/clip_realism.h.
#include "clip_realism.h"
#include "platform/wave_decoder.h"
#include "sounds/resource_loader.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace lyravox::analysis;

constexpr double kSampleRateHz = 44100.0;

struct StringClip {
    const char* name;
    int midiNote;
};

constexpr StringClip kStrings[] = {{"E", 40}, {"A", 45}, {"D", 50},
                                   {"G", 55}, {"H", 59}, {"E1", 64}};

struct ChordClip {
    const char* name;
    std::vector<double> entriesS;
};

std::optional<std::vector<std::int16_t>>
samplesOf(const std::string& name, const std::optional<std::filesystem::path>& dir) {
    std::vector<std::uint8_t> image;
    if (dir) {
        std::ifstream in(*dir / (name + ".wav"), std::ios::binary);
        if (!in)
            return std::nullopt;
        image.assign(std::istreambuf_iterator<char>(in), {});
    } else {
        image = lyravox::sounds::loadResource(name, lyravox::sounds::kWaveResourceType);
    }
    auto pcm = lyravox::platform::decodeWaveImage(image);
    if (!pcm)
        return std::nullopt;
    return pcm->samples;
}

void print(const std::string& clip, const char* figure, double value, const char* unit) {
    std::printf("%s_%s %.2f %s\n", clip.c_str(), figure, value, unit);
}

void printString(const StringClip& s, const std::vector<std::int16_t>& samples) {
    const std::vector<double> x = toFullScale(samples);
    const double f0 = equalTemperedHz(s.midiNote);
    const std::string n = s.name;
    print(n, "decay_scatter", decayScatterDbPerS(x, kSampleRateHz, f0), "dB/s");
    print(n, "mean_beating", meanBeatingDb(x, kSampleRateHz, f0), "dB");
    print(n, "attack_noise_share", attackNoiseShareDb(x, kSampleRateHz, f0), "dB");
    print(n, "below_0.7f0_share", lowBandShareDb(x, kSampleRateHz, f0), "dB");
    print(n, "10_to_14kHz_share", highBandShareDb(x, kSampleRateHz), "dB");
    print(n, "partial5_at_50ms", partialAt50MsDb(x, kSampleRateHz, f0, 5), "dB");
    print(n, "partial7_at_50ms", partialAt50MsDb(x, kSampleRateHz, f0, 7), "dB");
    print(n, "energy_rise", energyRiseMs(x, kSampleRateHz, f0), "ms");
    print(n, "first_sample", firstSampleDb(samples), "dB");
    print(n, "early_pitch", earlyPitchCents(x, kSampleRateHz, f0), "cents");
    const auto ring =
            std::span<const double>(x).subspan(static_cast<std::size_t>(0.2 * kSampleRateHz));
    print(n, "pitch",
          centsBetween(pitchHzByAutocorrelation(ring, kSampleRateHz, f0 * 0.8, f0 * 1.25), f0),
          "cents");
    print(n, "inharmonicity", inharmonicity(x, kSampleRateHz, f0) * 1e5, "1e-5");
}

void printChord(const ChordClip& c, const std::vector<std::int16_t>& samples) {
    const std::vector<double> x = toFullScale(samples);
    const std::string n = c.name;
    print(n, "envelope_beating", envelopeBeatingDb(x, kSampleRateHz, 0.7, 1.35), "dB");
    print(n, "10_to_14kHz_share", highBandShareDb(x, kSampleRateHz), "dB");
    print(n, "first_sample", firstSampleDb(samples), "dB");
    // The first entry follows silence; its rise is the clip's start.
    for (std::size_t i = 1; i < c.entriesS.size(); ++i) {
        const std::string figure = "entry" + std::to_string(i + 1) + "_rise";
        print(n, figure.c_str(), entryRiseDb(x, kSampleRateHz, c.entriesS[i]), "dB");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: clipfigures [DIR]\n";
        return 2;
    }
    std::optional<std::filesystem::path> dir;
    if (argc == 2)
        dir = argv[1];
    int missing = 0;
    auto load = [&](const std::string& name) {
        auto samples = samplesOf(name, dir);
        if (!samples) {
            std::cerr << "clipfigures: no playable clip " << name << "\n";
            ++missing;
        }
        return samples;
    };
    for (const StringClip& s : kStrings) {
        if (auto samples = load(s.name))
            printString(s, *samples);
    }
    const ChordClip chords[] = {{"CHORD1", {0.01, 0.12, 0.25, 0.38, 0.51, 0.63}},
                                {"CHORD2", {0.00, 0.13, 0.25, 0.38, 0.51, 0.63}}};
    for (const ChordClip& c : chords) {
        if (auto samples = load(c.name)) {
            printChord(c, *samples);
            if (std::string(c.name) == "CHORD1") {
                const auto x = toFullScale(*samples);
                auto part = [&](double a, double b) {
                    return std::span<const double>(x).subspan(
                            static_cast<std::size_t>(a * kSampleRateHz),
                            static_cast<std::size_t>((b - a) * kSampleRateHz));
                };
                print(c.name, "step_at_1.39s",
                      rmsDbfs(part(1.37, 1.39)) - rmsDbfs(part(1.40, 1.42)), "dB");
            }
        }
    }
    return missing == 0 ? 0 : 1;
}
