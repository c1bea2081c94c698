#include "platform/sdl_sound_output.h"
#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lyravox");
    QApplication::setApplicationVersion("1.00");

    // Opened before the window so the sound server has settled by the first click.
    lyravox::platform::SdlSoundOutput soundOutput;

    Form1 mainWindow;
    mainWindow.show();
    return QApplication::exec();
}
