#include "ui/PlayAllStatus.h"

#include <QAccessible>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <array>
#include <memory>

using lyravox::ui::PlayAllStatus;

namespace {

// Eight sound buttons and the status on one window, as the main window has them.
struct Desk {
    QWidget window;
    std::array<QPushButton*, 8> buttons{};
    PlayAllStatus* status = nullptr;

    Desk() {
        window.resize(200, 60);
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            buttons[i] = new QPushButton(QString::number(i + 1), &window);
            buttons[i]->setGeometry(static_cast<int>(i) * 24, 20, 22, 22);
        }
        status = new PlayAllStatus(&window, buttons);
    }

    void setLocked(bool locked) {
        for (QPushButton* button : buttons) {
            button->setEnabled(!locked);
        }
    }
};

}  // namespace

class PlayAllStatusTest : public QObject {
    Q_OBJECT

private slots:
    // What the handler does to the buttons between two turns of the event loop, and what the
    // screen reader is told then: "L" locks all eight, "U" unlocks them, "u" unlocks one only.
    void followsTheLockedButtons_data() {
        QTest::addColumn<QStringList>("turns");
        QTest::addColumn<QStringList>("announced");
        QTest::newRow("play-all runs and ends")
                << QStringList{"L", "U"}
                << QStringList{"Playing all strings", "Finished playing all strings"};
        QTest::newRow("a loop unlocks and locks again at once: still playing")
                << QStringList{"L", "UL", "U"}
                << QStringList{"Playing all strings", "Playing all strings",
                               "Finished playing all strings"};
        QTest::newRow("one button unlocked is no longer play-all")
                << QStringList{"L", "u"}
                << QStringList{"Playing all strings", "Finished playing all strings"};
        QTest::newRow("nothing locked, nothing said") << QStringList{"U"} << QStringList{""};
    }

    void followsTheLockedButtons() {
        QFETCH(QStringList, turns);
        QFETCH(QStringList, announced);
        Desk desk;
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        QVERIFY(!desk.status->isVisible());

        QStringList heard;
        for (const QString& turn : turns) {
            for (const QChar step : turn) {
                if (step == 'L' || step == 'U') {
                    desk.setLocked(step == 'L');
                } else {
                    desk.buttons[3]->setEnabled(true);
                }
            }
            QCoreApplication::processEvents();
            heard << desk.status->announcement();
        }
        QCOMPARE(heard, announced);
        QCOMPARE(desk.status->isVisible(), !announced.last().isEmpty());
    }

    void announcedAsANotification() {
        Desk desk;
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        desk.setLocked(true);
        QTRY_VERIFY(desk.status->isPlaying());
        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(desk.status);
        QCOMPARE(status->role(), QAccessible::Notification);
        QCOMPARE(status->text(QAccessible::Name), QString("Playing all strings"));
        QVERIFY(!status->state().invisible);
        QVERIFY(!status->state().focusable);
    }

    // Shown, it changes no pixel of the window and takes no click.
    void drawsNothingAndTakesNoInput() {
        Desk desk;
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        desk.setLocked(true);
        QTRY_VERIFY(desk.status->isVisible());
        const QImage withStatus = desk.window.grab().toImage();
        desk.status->hide();
        QCOMPARE(desk.window.grab().toImage(), withStatus);
        QVERIFY(desk.status->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(desk.status->focusPolicy(), Qt::NoFocus);
    }
};

QTEST_MAIN(PlayAllStatusTest)
#include "play_all_status_test.moc"
