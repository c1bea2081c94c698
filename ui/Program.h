#pragma once

#include "platform/qt_run_time.h"
#include "platform/sound_output.h"
#include "platform/sound_output_factory.h"
#include "sounds/clip_player.h"
#include "ui/Form1.h"

#include <memory>

namespace lyravox::ui {

// The whole program once a QApplication exists: the sound output, the clip player, the run time
// and the main window, wired together. The program's main and the start-up benchmark both start
// exactly this.
class Program {
public:
    Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the main window and makes it the active one.
    void show();

    Form1& mainWindow() { return mainWindow_; }

private:
    // Chosen for the desktop's sound server; opens on request.
    std::unique_ptr<platform::SoundOutput> soundOutput_ = platform::makeSoundOutput();
    sounds::ClipPlayer player_{*soundOutput_};
    platform::QtRunTime runTime_;
    Form1 mainWindow_{runTime_, player_};
};

}  // namespace lyravox::ui
