// Saves one X window's contents as a PNG: window_shot WINDOW_ID FILE. For tools/screenshot.sh,
// which runs the program on a private X server; needs no image tools beyond Qt.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_shot WINDOW_ID FILE\n");
        return 2;
    }
    bool isNumber = false;
    const WId window = QString::fromLocal8Bit(argv[1]).toULongLong(&isNumber, 0);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!isNumber || screen == nullptr) {
        std::fprintf(stderr, "window_shot: no window %s or no screen\n", argv[1]);
        return 1;
    }
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "window_shot: cannot grab window %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
