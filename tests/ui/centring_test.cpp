// Where the windows stand on a desktop whose window manager frames them (run under
// with-window-manager.sh): the main window's frame, title bar included, centred on the screen;
// the about window's frame centred over the main window's frame, wherever that stands.
#include "tests/ui/test_main_window.h"
#include "ui/Form3.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

using lyravox::ui::test::TestMainWindow;

namespace {

QString describe(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

bool framed(const QWidget& window) {
    return window.windowHandle() != nullptr && window.windowHandle()->frameMargins().top() > 0;
}

// Opens the about window over `window` and returns how far its frame's centre lies from the
// main window's frame's centre once it has its frame (or after five seconds).
QPoint aboutOffset(Form1& window) {
    QPoint offset(10000, 10000);
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        Form3* about = Form3::openInstance();
        if (about == nullptr || !about->isVisible()) {
            return;
        }
        offset = about->frameGeometry().center() - window.frameGeometry().center();
        if ((framed(*about) && offset.manhattanLength() <= 1) || waited.elapsed() > 5000) {
            poll.stop();
            about->close();
        }
    });
    poll.start();
    Form3::showAbout(&window);
    return offset;
}

}  // namespace

class CentringTest : public QObject {
    Q_OBJECT

private slots:
    void mainWindowFrameCentredOnScreen() {
        TestMainWindow desk;
        Form1& window = desk.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY_WITH_TIMEOUT(framed(window), 5000);
        // A title bar: centring the client area instead would leave the frame low of centre.
        const QMargins margins = window.windowHandle()->frameMargins();
        QVERIFY(margins.top() > margins.bottom());

        const QPoint screenCentre = window.screen()->availableGeometry().center();
        QTRY_VERIFY2_WITH_TIMEOUT(
                (window.frameGeometry().center() - screenCentre).manhattanLength() <= 1,
                qPrintable("frame " + describe(window.frameGeometry()) + " on screen " +
                           describe(window.screen()->availableGeometry())),
                5000);
    }

    // Also after the main window was moved: the about window is built anew, over where the main
    // window stands now.
    void aboutWindowCentredOverMainWindowFrame() {
        TestMainWindow desk;
        Form1& window = desk.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY_WITH_TIMEOUT(framed(window), 5000);

        QCOMPARE(aboutOffset(window), QPoint(0, 0));

        window.move(40, 30);
        QTRY_COMPARE_WITH_TIMEOUT(window.frameGeometry().topLeft(), QPoint(40, 30), 5000);
        QCOMPARE(aboutOffset(window), QPoint(0, 0));
    }
};

QTEST_MAIN(CentringTest)
#include "centring_test.moc"
