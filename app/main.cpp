#include "platform/qt_run_time.h"
#include "platform/sdl_sound_output.h"
#include "sounds/clip_player.h"
#include "ui/AfterFirstPaint.h"
#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lyravox");
    QApplication::setApplicationVersion(QStringLiteral(LYRAVOX_DISPLAY_VERSION));

    // Opened right after the window first appears, so the window is not kept waiting, yet long
    // before a person can click: a new sound-server stream stalls for a second or two, and the
    // first click must not wait for that. A click before then opens it at once.
    lyravox::platform::SdlSoundOutput soundOutput(
            lyravox::platform::SdlSoundOutput::kDefaultBufferFrames,
            lyravox::platform::SdlSoundOutput::Opening::OnRequest);
    lyravox::sounds::ClipPlayer player(soundOutput);
    lyravox::platform::QtRunTime runTime;

    Form1 mainWindow(runTime, player);
    new lyravox::ui::AfterFirstPaint(&mainWindow, [&soundOutput] { soundOutput.open(); });
    mainWindow.show();
    // Last, so that keys go to the main window whatever else the start-up showed.
    mainWindow.activateWindow();
    return QApplication::exec();
}
