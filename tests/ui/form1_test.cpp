#include "tests/ui/test_main_window.h"
#include "ui/BannerPicture.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using lyravox::ui::test::TestMainWindow;

namespace {

using Clips = std::vector<std::string>;

// The window shown and active, as the program starts it.
std::unique_ptr<TestMainWindow> shownMainWindow() {
    auto desk = std::make_unique<TestMainWindow>();
    desk->window.show();
    desk->window.activateWindow();
    if (!QTest::qWaitForWindowActive(&desk->window)) {
        return nullptr;
    }
    return desk;
}

QWidget* control(const Form1& window, const QString& name) {
    return window.findChild<QWidget*>(name);
}

// Through the window system, as a person clicks: unlike a click sent to the widget itself, this
// one is refused while a modal window is open.
void clickThroughWindow(Form1& window, QWidget* target) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      target->mapTo(&window, target->rect().center()));
}

void pressThroughWindow(Form1& window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(window.windowHandle(), key, modifiers);
}

QStringList selectedOptions(const Form1& window) {
    QStringList selected;
    for (const QRadioButton* option : window.widgets().options) {
        if (option->isChecked()) {
            selected << option->objectName();
        }
    }
    return selected;
}

// Runs `open`, which is to open the about window modally, and `examine` inside the about window's
// own loop once it is open and has the input; the about window is closed afterwards whatever
// happened, so a fault cannot hang the test. False when no about window appeared.
bool whileAboutIsOpen(const std::function<void()>& open,
                      const std::function<void(Form3*)>& examine) {
    bool opened = false;
    // Polled, because `open` may run event loops of its own (a menu) before the window appears.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        Form3* about = Form3::openInstance();
        if (about == nullptr || QApplication::activeModalWidget() != about) {
            return;
        }
        poll.stop();
        opened = true;
        examine(about);
        about->close();
    });
    poll.start();
    open();
    poll.stop();
    QCoreApplication::processEvents();
    return opened && Form3::openInstance() == nullptr;
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        if (Form2* help = Form2::openInstance()) {
            help->close();
        }
        QTRY_VERIFY(Form2::openInstance() == nullptr);
    }

    void window() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;

        QCOMPARE(window.objectName(), QString("Form1"));
        QCOMPARE(window.windowTitle(), QString("Lyravox"));
        QCOMPARE(window.centralWidget()->size(), QSize(358, 298));
        QCOMPARE(window.centralWidget()->y(), window.menuBar()->height());
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));

        const QPoint screenCentre = window.screen()->availableGeometry().center();
        QVERIFY((window.geometry().center() - screenCentre).manhattanLength() <= 1);

        const QString path = QDir::current().absoluteFilePath("form1.png");
        QVERIFY(window.grab().save(path));
        qInfo("screenshot: %s", qUtf8Printable(path));
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QRect>("geometry");

        // Twips ÷ 15, halves rounded up.
        const auto row = [](const char* name, const char* kind, const char* container,
                            const char* caption, const char* toolTip, QRect geometry) {
            QTest::newRow(name) << name << kind << container << caption << toolTip << geometry;
        };
        row("Picture1", "lyravox::ui::BannerPicture", "clientArea", "", "", {192, 172, 149, 69});
        row("Command6", "QPushButton", "clientArea", "E", "Push to play the E string",
            {307, 252, 37, 37});
        row("Command5", "QPushButton", "clientArea", "B", "Push to play the B string",
            {248, 252, 37, 37});
        row("Command4", "QPushButton", "clientArea", "G", "Push to play the G string",
            {192, 252, 37, 37});
        row("Command3", "QPushButton", "clientArea", "D", "Push to play the D string",
            {131, 252, 37, 37});
        row("Frame3", "QGroupBox", "clientArea", "Chords", "Play a Chord", {16, 164, 149, 77});
        row("Command8", "QPushButton", "Frame3", "G Major", "Push to play the G Major Chord",
            {36, 48, 81, 21});
        row("Command7", "QPushButton", "Frame3", "E Major", "Push to play the E Major Chord",
            {36, 20, 81, 21});
        row("Frame2", "QGroupBox", "clientArea", "General", "General ", {192, 12, 149, 141});
        row("Check1", "QCheckBox", "Frame2", "Loop", "Click here to play endless again",
            {16, 16, 57, 25});
        row("Frame4", "QGroupBox", "Frame2", "Rests", "Rest between the notes", {16, 44, 117, 85});
        row("Option7", "QRadioButton", "Frame4", "long", "Play a long rest between the notes",
            {12, 60, 57, 17});
        row("Option6", "QRadioButton", "Frame4", "middle", "Play a middle rest between the notes",
            {12, 36, 57, 17});
        row("Option5", "QRadioButton", "Frame4", "short", "Play a short rest between the notes",
            {12, 12, 57, 17});
        row("Frame1", "QGroupBox", "clientArea", "Play every String",
            "Set how often every string gets played", {16, 12, 149, 141});
        row("alle", "QPushButton", "Frame1", "Play All Strings", "Push to play all the strings",
            {16, 100, 117, 29});
        row("Option1", "QRadioButton", "Frame1", "1 x", "Play every string one time",
            {20, 16, 61, 13});
        row("Option2", "QRadioButton", "Frame1", "3 x", "Play every string three times",
            {20, 36, 57, 13});
        row("Option3", "QRadioButton", "Frame1", "5 x", "Play every string five times",
            {20, 56, 61, 13});
        row("Option4", "QRadioButton", "Frame1", "8 x", "Play every string eight times",
            {20, 76, 57, 17});
        row("Command2", "QPushButton", "clientArea", "A", "Push to play the A string",
            {73, 252, 37, 37});
        row("Command1", "QPushButton", "clientArea", "E", "Push to play the E string",
            {15, 252, 37, 37});
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QFETCH(QRect, geometry);
        TestMainWindow desk;

        const QList<QWidget*> found = desk.window.findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* widget = found.first();
        QCOMPARE(QString(widget->metaObject()->className()), kind);
        QCOMPARE(widget->parentWidget()->objectName(), container);
        const QString text =
                widget->property(qobject_cast<QGroupBox*>(widget) ? "title" : "text").toString();
        QCOMPARE(text, caption);
        QCOMPARE(widget->toolTip(), toolTip);
        if (qobject_cast<QRadioButton*>(widget) != nullptr ||
            qobject_cast<QCheckBox*>(widget) != nullptr) {
            // They may grow to show their caption, from where the design places them.
            QCOMPARE(widget->pos(), geometry.topLeft());
            QVERIFY(widget->width() >= geometry.width() && widget->height() >= geometry.height());
        } else {
            QCOMPARE(widget->geometry(), geometry);
        }
        QVERIFY(widget->isEnabled());
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }

    // The banner fills the interior of the picture area exactly, inside its 2 px border.
    void banner() {
        TestMainWindow desk;
        lyravox::ui::BannerPicture* picture = desk.window.widgets().picture1;
        QCOMPARE(picture->contentsRect(), QRect(2, 2, 145, 65));

        const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage banner = lyravox::ui::BannerPicture::render(1.0).toImage().convertToFormat(
                QImage::Format_RGB32);
        QCOMPARE(banner.size(), QSize(145, 65));
        QCOMPARE(shown.copy(2, 2, 145, 65), banner);
        // Drawn, not the fallback fill: dark ground with bright outlines and letters.
        QVERIFY(QColor(banner.pixel(72, 2)).lightness() < 40);
        int whitePixels = 0;
        for (int y = 40; y < 65; ++y) {
            for (int x = 0; x < 145; ++x) {
                whitePixels += banner.pixel(x, y) == qRgb(255, 255, 255) ? 1 : 0;
            }
        }
        QVERIFY(whitePixels > 100);

        const QString path = QDir::current().absoluteFilePath("banner@4x.png");
        QVERIFY(lyravox::ui::BannerPicture::render(4.0).save(path));
        qInfo("banner at four times its size: %s", qUtf8Printable(path));
    }

    void startState() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        const Form1& window = desk->window;

        QCOMPARE(selectedOptions(window), QStringList({"Option1", "Option5"}));
        QCOMPARE(window.widgets().check1->checkState(), Qt::Unchecked);
        QCOMPARE(QApplication::focusWidget(), window.widgets().commands[0]);
        QVERIFY(desk->clips.started.empty());
    }

    void tabOrder_data() {
        QTest::addColumn<QStringList>("clickFirst");
        QTest::addColumn<QStringList>("visited");
        // Tab pressed from Command1, round to it again.
        const QStringList before = {"Command2"};
        const QStringList between = {"alle", "Command3", "Command4", "Command5", "Command6"};
        const QStringList after = {"Command7", "Command8", "Picture1", "Check1", "Command1"};
        QTest::newRow("start state")
                << QStringList()
                << before + QStringList{"Option1"} + between + QStringList{"Option5"} + after;
        // The stop follows the selection, also to an option that never had the focus.
        QTest::newRow("8 x and long selected")
                << QStringList{"Option4", "Option7"}
                << before + QStringList{"Option4"} + between + QStringList{"Option7"} + after;
    }

    void tabOrder() {
        QFETCH(QStringList, clickFirst);
        QFETCH(QStringList, visited);
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        for (const QString& name : clickFirst) {
            clickThroughWindow(window, control(window, name));
        }
        window.widgets().commands[0]->setFocus();

        QStringList seen;
        for (int i = 0; i < visited.size(); ++i) {
            pressThroughWindow(window, Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(seen, visited);
    }

    // Within a group the arrow keys move the selection, and the other group stays as it was.
    void arrowKeysMoveTheSelectionWithinAGroup() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        pressThroughWindow(window, Qt::Key_Tab);
        pressThroughWindow(window, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.widgets().options[0]);

        pressThroughWindow(window, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), window.widgets().options[1]);
        QCOMPARE(selectedOptions(window), QStringList({"Option2", "Option5"}));
        QVERIFY(desk->clips.started.empty());
    }

    // The picture area is a stop that shows it has the focus and ignores the keys themselves.
    void pictureTakesTheFocusButNoKeys() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        lyravox::ui::BannerPicture* picture = window.widgets().picture1;

        const QImage unfocused = picture->grab().toImage();
        // Back from Command1: "Loop", then the picture.
        pressThroughWindow(window, Qt::Key_Backtab, Qt::ShiftModifier);
        pressThroughWindow(window, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(picture->hasFocus());
        QVERIFY(picture->grab().toImage() != unfocused);

        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
            pressThroughWindow(window, key);
        }
        QVERIFY(Form3::openInstance() == nullptr);
        QVERIFY(desk->clips.started.empty());
    }

    void optionGroups_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<Qt::CheckState>("loop");
        QTest::newRow("8 x keeps short")
                << QStringList{"Option4"} << QStringList{"Option4", "Option5"} << Qt::Unchecked;
        QTest::newRow("long keeps 1 x")
                << QStringList{"Option7"} << QStringList{"Option1", "Option7"} << Qt::Unchecked;
        QTest::newRow("5 x, middle, 3 x") << QStringList{"Option3", "Option6", "Option2"}
                                          << QStringList{"Option2", "Option6"} << Qt::Unchecked;
        QTest::newRow("Loop belongs to neither group")
                << QStringList{"Check1"} << QStringList{"Option1", "Option5"} << Qt::Checked;
        QTest::newRow("Loop twice") << QStringList{"Check1", "Check1"}
                                    << QStringList{"Option1", "Option5"} << Qt::Unchecked;
    }

    // Options and "Loop" only change their state: nothing plays.
    void optionGroups() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, selected);
        QFETCH(Qt::CheckState, loop);
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        for (const QString& name : clicks) {
            clickThroughWindow(window, control(window, name));
        }
        QCOMPARE(selectedOptions(window), selected);
        QCOMPARE(window.widgets().check1->checkState(), loop);
        QVERIFY(desk->clips.started.empty());
    }

    void menus() {
        TestMainWindow desk;
        const QList<QAction*> bar = desk.window.menuBar()->actions();
        QCOMPARE(bar.size(), 2);

        struct Expected {
            const char* menuName;
            const char* menuText;
            std::vector<std::tuple<const char*, const char*, QKeySequence>> items;
        };
        const Expected expected[] = {
                {"File", "&File", {{"Exit", "E&xit", QKeySequence()}}},
                {"Help",
                 "&Help",
                 {{"Help_window", "Help for this Tool", QKeySequence(Qt::Key_F1)},
                  {"About", "&About", QKeySequence()}}},
        };
        for (int m = 0; m < 2; ++m) {
            QMenu* menu = bar[m]->menu();
            QVERIFY(menu != nullptr);
            QCOMPARE(menu->objectName(), QString(expected[m].menuName));
            QCOMPARE(bar[m]->text(), QString(expected[m].menuText));
            const QList<QAction*> items = menu->actions();
            QCOMPARE(items.size(), static_cast<qsizetype>(expected[m].items.size()));
            for (qsizetype i = 0; i < items.size(); ++i) {
                const auto& [name, text, shortcut] = expected[m].items[static_cast<size_t>(i)];
                QCOMPARE(items[i]->objectName(), QString(name));
                QCOMPARE(items[i]->text(), QString(text));
                QCOMPARE(items[i]->shortcut(), shortcut);
                QVERIFY(items[i]->isEnabled() && items[i]->isVisible());
                QVERIFY(!items[i]->isSeparator() && !items[i]->isCheckable());
            }
        }
    }

    void exitByAccessKeys() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        window.widgets().check1->setChecked(true);
        clickThroughWindow(window, window.widgets().options[2]);

        pressThroughWindow(window, Qt::Key_F, Qt::AltModifier);
        QMenu* fileMenu = window.findChild<QMenu*>("File");
        QTRY_COMPARE(QApplication::activePopupWidget(), fileMenu);
        QTest::keyClick(fileMenu, Qt::Key_X);

        QCOMPARE(desk->runTime.endRequests, 1);
        QCOMPARE(window.widgets().check1->checkState(), Qt::Unchecked);
        QCOMPARE(selectedOptions(window), QStringList({"Option1", "Option5"}));
    }

    // F1 works with the menu closed, and again shows the same help window.
    void f1ShowsTheHelpWindow() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;

        pressThroughWindow(window, Qt::Key_F1);
        QPointer<Form2> help = Form2::openInstance();
        QVERIFY(help != nullptr);
        QVERIFY(QTest::qWaitForWindowActive(help));

        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        pressThroughWindow(window, Qt::Key_F1);
        QCOMPARE(Form2::openInstance(), help.data());
        int helpWindows = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets()) {
            helpWindows += qobject_cast<const Form2*>(widget) != nullptr ? 1 : 0;
        }
        QCOMPARE(helpWindows, 1);
    }

    void aboutWindow_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("click on Picture1") << "picture";
        QTest::newRow("Help, About by access keys") << "keys";
    }

    // Opens modally over the main window; meanwhile clicks, F1 and the menus reach nothing.
    void aboutWindow() {
        QFETCH(QString, how);
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;

        QWidget* owner = nullptr;
        bool helpOpened = false;
        bool menuOpened = false;
        const bool opened = whileAboutIsOpen(
                [&] {
                    if (how == "picture") {
                        clickThroughWindow(window, window.widgets().picture1);
                    } else {
                        pressThroughWindow(window, Qt::Key_H, Qt::AltModifier);
                        QMenu* helpMenu = window.findChild<QMenu*>("Help");
                        if (QTest::qWaitFor([helpMenu] {
                                return QApplication::activePopupWidget() == helpMenu;
                            })) {
                            QTest::keyClick(helpMenu, Qt::Key_A);
                        }
                    }
                },
                [&](Form3* about) {
                    owner = about->parentWidget();
                    clickThroughWindow(window, window.widgets().commands[0]);
                    clickThroughWindow(window, window.widgets().alle);
                    clickThroughWindow(window, window.widgets().options[3]);
                    pressThroughWindow(window, Qt::Key_F1);
                    pressThroughWindow(window, Qt::Key_F, Qt::AltModifier);
                    QCoreApplication::processEvents();
                    helpOpened = Form2::openInstance() != nullptr;
                    menuOpened = QApplication::activePopupWidget() != nullptr;
                });
        QVERIFY(opened);
        QCOMPARE(owner, &window);
        QVERIFY(desk->clips.started.empty());
        QCOMPARE(selectedOptions(window), QStringList({"Option1", "Option5"}));
        QVERIFY(!helpOpened);
        QVERIFY(!menuOpened);
    }

    // A loop waiting in its rest when the about window opens stays where it is until the window
    // closes, then goes on.
    void loopWaitsWhileAboutIsOpen() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        window.widgets().check1->setChecked(true);

        std::size_t startsBeforeAbout = 0;
        std::size_t startsWhileOpen = 0;
        bool opened = false;
        desk->clips.onStart = [&] {
            const std::size_t starts = desk->clips.started.size();
            if (starts == 2) {
                // Runs in the rest that follows this start.
                QTimer::singleShot(0, &window, [&] {
                    startsBeforeAbout = desk->clips.started.size();
                    opened = whileAboutIsOpen([&] { window.aboutAction()->trigger(); },
                                              [&](Form3*) {
                                                  QTest::qWait(50);
                                                  startsWhileOpen = desk->clips.started.size() -
                                                                    startsBeforeAbout;
                                              });
                });
            } else if (starts == 5) {
                window.widgets().check1->setChecked(false);
            }
        };
        clickThroughWindow(window, window.widgets().commands[1]);
        desk->clips.onStart = nullptr;

        QVERIFY(opened);
        QCOMPARE(startsBeforeAbout, std::size_t(2));
        QCOMPARE(startsWhileOpen, std::size_t(0));
        QCOMPARE(desk->clips.started, Clips(5, "a"));
    }

    void wiring_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("byKeyboard");
        QTest::addColumn<Clips>("started");
        const auto row = [](const char* name, Clips clips) {
            QTest::addRow("%s clicked", name) << name << false << clips;
            QTest::addRow("%s by Space", name) << name << true << clips;
        };
        row("Command1", {"e"});
        row("Command2", {"a"});
        row("Command3", {"d"});
        row("Command4", {"g"});
        row("Command5", {"h"});
        row("Command6", {"e1"});
        row("Command7", {"chord1"});
        row("Command8", {"chord2"});
        row("alle", {"e", "a", "d", "g", "h", "e1"});
    }

    void wiring() {
        QFETCH(QString, name);
        QFETCH(bool, byKeyboard);
        QFETCH(Clips, started);
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        QWidget* button = control(window, name);
        if (byKeyboard) {
            button->setFocus();
            pressThroughWindow(window, Qt::Key_Space);
        } else {
            clickThroughWindow(window, button);
        }
        QCOMPARE(desk->clips.started, started);
    }

    // The eight sound buttons are locked for the whole run and ignore clicks; "Play All Strings"
    // and the rest stay usable, and everything is enabled again afterwards.
    void soundButtonsLockedDuringPlayAll() {
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;
        const auto& widgets = window.widgets();

        int startsWithButtonsLocked = 0;
        desk->clips.onStart = [&] {
            bool locked = widgets.alle->isEnabled() && widgets.check1->isEnabled();
            for (const QPushButton* command : widgets.commands) {
                locked = locked && !command->isEnabled();
            }
            startsWithButtonsLocked += locked ? 1 : 0;
            if (desk->clips.started.size() == 2) {
                clickThroughWindow(window, widgets.commands[0]);
                clickThroughWindow(window, widgets.commands[7]);
            }
        };
        clickThroughWindow(window, widgets.alle);
        desk->clips.onStart = nullptr;

        QCOMPARE(desk->clips.started, Clips({"e", "a", "d", "g", "h", "e1"}));
        QCOMPARE(startsWithButtonsLocked, 6);
        for (const QPushButton* command : widgets.commands) {
            QVERIFY(command->isEnabled());
        }
    }

    void closeBoxEndsTheProgram_data() {
        QTest::addColumn<QString>("running");
        QTest::newRow("idle") << "";
        QTest::newRow("during a string loop") << "Command2";
        QTest::newRow("during play-all with Loop") << "alle";
    }

    // Like "Exit": the program is asked to end, and a loop in progress returns at once instead of
    // going on without a window.
    void closeBoxEndsTheProgram() {
        QFETCH(QString, running);
        auto desk = shownMainWindow();
        QVERIFY(desk != nullptr);
        Form1& window = desk->window;

        if (!running.isEmpty()) {
            window.widgets().check1->setChecked(true);
            desk->clips.onStart = [&] {
                if (desk->clips.started.size() == 3) {
                    window.windowHandle()->close();
                } else if (desk->clips.started.size() == 50) {
                    // Still going: end the loop, so the test fails rather than hangs.
                    window.widgets().check1->setChecked(false);
                }
            };
            clickThroughWindow(window, control(window, running));
            desk->clips.onStart = nullptr;
            QCOMPARE(desk->clips.started.size(), size_t(3));
        } else {
            window.windowHandle()->close();
        }
        QVERIFY(!window.isVisible());
        QCOMPARE(desk->runTime.endRequests, 1);
        QVERIFY(window.playback().closing());
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
