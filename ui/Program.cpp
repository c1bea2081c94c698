#include "ui/Program.h"

#include "ui/AfterFirstPaint.h"

namespace lyravox::ui {

// The sound device opens right after the window first appears, so the window is not kept
// waiting, yet long before a person can click: a new sound-server stream stalls for a second or
// two, and the first click must not wait for that. A click before then opens it at once.
Program::Program() {
    new AfterFirstPaint(&mainWindow_, [this] { soundOutput_->open(); });
}

void Program::show() {
    mainWindow_.show();
    // Last, so that keys go to the main window whatever else the start-up showed.
    mainWindow_.activateWindow();
}

}  // namespace lyravox::ui
