#include "platform/qt_run_time.h"
#include "platform/sdl_sound_output.h"
#include "sounds/clip_player.h"
#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lyravox");
    QApplication::setApplicationVersion(QStringLiteral(LYRAVOX_DISPLAY_VERSION));

    // Opened before the window so the sound server has settled by the first click.
    lyravox::platform::SdlSoundOutput soundOutput;
    lyravox::sounds::ClipPlayer player(soundOutput);
    lyravox::platform::QtRunTime runTime;

    Form1 mainWindow(runTime, player);
    mainWindow.show();
    // Last, so that keys go to the main window whatever else the start-up showed.
    mainWindow.activateWindow();
    return QApplication::exec();
}
