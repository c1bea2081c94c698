#include "ui/Program.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lyravox");
    QApplication::setApplicationVersion(QStringLiteral(LYRAVOX_DISPLAY_VERSION));

    lyravox::ui::Program program;
    program.show();
    return QApplication::exec();
}
