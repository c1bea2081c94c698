#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lyravox");
    QApplication::setApplicationVersion("1.00");

    Form1 mainWindow;
    mainWindow.show();
    return QApplication::exec();
}
