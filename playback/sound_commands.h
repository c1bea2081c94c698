#pragma once

#include "playback/playback_control.h"

#include <array>
#include <cstddef>

namespace lyravox::playback {

// One sound button and the handler its activation runs.
struct SoundCommand {
    int commandNumber;  // the button `Command1` … `Command8`
    void (PlaybackControl::*click)();
};

// The eight sound buttons in button order, string buttons low E to high E, then the chords. The
// main window wires its buttons from this table and the simulated desktop clicks through it, so
// the two cannot disagree.
inline constexpr std::array<SoundCommand, 8> kSoundCommands = {{
        {1, &PlaybackControl::Command1_Click},
        {2, &PlaybackControl::Command2_Click},
        {3, &PlaybackControl::Command3_Click},
        {4, &PlaybackControl::Command4_Click},
        {5, &PlaybackControl::Command5_Click},
        {6, &PlaybackControl::Command6_Click},
        {7, &PlaybackControl::Command7_Click},
        {8, &PlaybackControl::Command8_Click},
}};

static_assert(
        [] {
            for (std::size_t i = 0; i < kSoundCommands.size(); ++i) {
                if (kSoundCommands[i].commandNumber != static_cast<int>(i) + 1)
                    return false;
            }
            return true;
        }(),
        "kSoundCommands lists Command1 … Command8 in order, each once");

}  // namespace lyravox::playback
