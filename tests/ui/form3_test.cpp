#include "tests/ui/test_main_window.h"
#include "ui/AboutPicture.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

using lyravox::ui::AboutPicture;

namespace {

// Opens the about window over `over` and runs `inspect` inside its modal loop. Whatever `inspect`
// does, the window is closed afterwards, so a failing check can never leave the test hanging.
// Returns once the about window has been closed; `inspect` must not use QVERIFY (it cannot stop
// the modal loop), but records what it saw for the caller to check.
bool whileAboutIsOpen(QWidget* over, const std::function<void(Form3*)>& inspect) {
    bool inspected = false;
    QTimer::singleShot(0, qApp, [&inspected, &inspect] {
        Form3* about = Form3::openInstance();
        if (about == nullptr) {
            return;
        }
        // Not qWaitForWindowActive: a dialog counts as active while its owner still is.
        if (QTest::qWaitFor([about] { return QApplication::activeWindow() == about; })) {
            inspected = true;
            inspect(about);
        }
        if (about->isVisible()) {
            about->command1()->click();
        }
    });
    Form3::showAbout(over);
    return inspected;
}

QPoint centreOf(const QRect& rect) {
    return QPoint(rect.x() + rect.width() / 2, rect.y() + rect.height() / 2);
}

bool centredOver(const QRect& window, const QRect& owner) {
    return (centreOf(window) - centreOf(owner)).manhattanLength() <= 1;
}

}  // namespace

class Form3Test : public QObject {
    Q_OBJECT

private slots:
    void builtAsDescribed() {
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.setGeometry(200, 140, Form1::widthPx, Form1::heightPx);
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));

        struct {
            QString objectName, title, buttonName, buttonText;
            QSize minimumSize, maximumSize;
            QRect geometry, buttonGeometry, pictureGeometry;
            Qt::WindowFlags flags;
            Qt::WindowModality modality = Qt::NonModal;
            bool isActiveModal = false, buttonHasFocus = false, buttonIsDefault = true;
            QList<QSize> iconSizes;
            QImage shot;
            QStringList staticTexts;
        } seen;
        const bool inspected = whileAboutIsOpen(&mainWindow, [&seen](Form3* about) {
            seen.objectName = about->objectName();
            seen.title = about->windowTitle();
            seen.minimumSize = about->minimumSize();
            seen.maximumSize = about->maximumSize();
            seen.geometry = about->geometry();
            seen.flags = about->windowFlags();
            seen.modality = about->windowModality();
            seen.isActiveModal = QApplication::activeModalWidget() == about;
            seen.iconSizes = about->windowIcon().availableSizes();
            seen.buttonName = about->command1()->objectName();
            seen.buttonText = about->command1()->text();
            seen.buttonGeometry = about->command1()->geometry();
            seen.buttonHasFocus = about->command1()->hasFocus();
            seen.buttonIsDefault = about->command1()->isDefault() && !about->command1()->hasFocus();
            seen.pictureGeometry = about->picture()->geometry();
            seen.shot = about->grab().toImage().convertToFormat(QImage::Format_RGB32);
            // What a screen reader reads when the window opens: the static texts, in tree order.
            QAccessibleInterface* window = QAccessible::queryAccessibleInterface(about);
            for (int i = 0; i < window->childCount(); ++i) {
                QAccessibleInterface* child = window->child(i);
                if (child->role() == QAccessible::StaticText && !child->state().invisible) {
                    seen.staticTexts << child->text(QAccessible::Name);
                }
                if (child->role() == QAccessible::Button) {
                    seen.staticTexts << QStringLiteral("button");
                }
            }
        });
        QVERIFY(inspected);
        QVERIFY(Form3::openInstance() == nullptr);

        QCOMPARE(seen.objectName, QString("Form3"));
        QCOMPARE(seen.title, QString("About..."));
        QCOMPARE(seen.geometry.size(), QSize(274, 309));
        QCOMPARE(seen.minimumSize, QSize(274, 309));
        QCOMPARE(seen.maximumSize, QSize(274, 309));
        QVERIFY(centredOver(seen.geometry, mainWindow.geometry()));
        QVERIFY(!seen.flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!seen.flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(seen.flags.testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(seen.modality, Qt::ApplicationModal);
        QVERIFY(seen.isActiveModal);
        QVERIFY(seen.iconSizes.contains(QSize(32, 32)));

        QCOMPARE(seen.buttonName, QString("Command1"));
        QCOMPARE(seen.buttonText, QString("Aha, Yes..."));
        QCOMPARE(seen.buttonGeometry, QRect(68, 272, 133, 29));
        QVERIFY(seen.buttonHasFocus);
        QVERIFY(!seen.buttonIsDefault);

        // The picture is three rows taller than the client area: everything but the button is
        // the picture's top 309 rows.
        QCOMPARE(seen.pictureGeometry, QRect(0, 0, 274, 312));
        QCOMPARE(seen.shot.size(), QSize(274, 309));
        const QImage picture =
                AboutPicture::render(1.0).toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected = picture.copy(0, 0, 274, 309);
        QImage actual = seen.shot;
        for (QImage* image : {&expected, &actual}) {
            for (int y = seen.buttonGeometry.top(); y <= seen.buttonGeometry.bottom(); ++y) {
                for (int x = seen.buttonGeometry.left(); x <= seen.buttonGeometry.right(); ++x) {
                    image->setPixel(x, y, qRgb(0, 0, 0));
                }
            }
        }
        QCOMPARE(actual, expected);

        // Hidden under the picture, which the pixel comparison above shows unchanged.
        const QStringList texts = {
                "Lyravox, " + AboutPicture::byLine(),
                AboutPicture::noticeLines().join(' '),
                "Web address: " + AboutPicture::webAddress(),
                "E-mail address: " + AboutPicture::mailAddress(),
                "button",
        };
        QCOMPARE(seen.staticTexts, texts);

        const QString path = QDir::current().absoluteFilePath("form3.png");
        QVERIFY(seen.shot.save(path));
        qInfo("screenshot: %s", qUtf8Printable(path));
    }

    void closing_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("closes");
        QTest::newRow("click on Aha, Yes...") << "click" << true;
        QTest::newRow("close box") << "close box" << true;
        QTest::newRow("Space presses the focused button") << "space" << true;
        QTest::newRow("Return presses the focused button") << "return" << true;
        QTest::newRow("Escape does nothing") << "escape" << false;
    }

    void closing() {
        QFETCH(QString, action);
        QFETCH(bool, closes);
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));

        bool openAfterAction = true;
        const bool inspected = whileAboutIsOpen(&mainWindow, [&](Form3* about) {
            if (action == "click") {
                QTest::mouseClick(about->command1(), Qt::LeftButton);
            } else if (action == "close box") {
                about->windowHandle()->close();
            } else {
                const Qt::Key key = action == "space"    ? Qt::Key_Space
                                    : action == "return" ? Qt::Key_Return
                                                         : Qt::Key_Escape;
                QTest::keyClick(about->windowHandle(), key);
            }
            openAfterAction = about->isVisible();
        });
        QVERIFY(inspected);
        QCOMPARE(openAfterAction, !closes);
        QVERIFY(Form3::openInstance() == nullptr);
    }

    void centredOverTheMainWindowEachTime_data() {
        QTest::addColumn<QPoint>("mainWindowAt");
        QTest::newRow("near the top left") << QPoint(20, 30);
        QTest::newRow("lower right") << QPoint(400, 260);
    }

    // Moved away and closed, it comes back centred over the main window wherever that stands.
    void centredOverTheMainWindowEachTime() {
        QFETCH(QPoint, mainWindowAt);
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.setGeometry(QRect(mainWindowAt, QSize(Form1::widthPx, Form1::heightPx)));
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));

        QRect first;
        QVERIFY(whileAboutIsOpen(&mainWindow, [&first](Form3* about) {
            first = about->geometry();
            about->move(0, 0);
        }));
        QRect second;
        QVERIFY(whileAboutIsOpen(&mainWindow,
                                 [&second](Form3* about) { second = about->geometry(); }));
        QVERIFY(centredOver(first, mainWindow.geometry()));
        QCOMPARE(second, first);
    }

    // While it is open, the other windows take no input, the help window included, and showing
    // it again adds no second window.
    void blocksEveryOtherWindow() {
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
        QPointer<Form2> help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(help));

        bool modalOverAll = false;
        bool secondAppeared = false;
        QVERIFY(whileAboutIsOpen(&mainWindow, [&](Form3* about) {
            modalOverAll = about->windowModality() == Qt::ApplicationModal &&
                           QGuiApplication::modalWindow() == about->windowHandle();
            // Should a second about window appear, its own loop would never end: close it.
            QTimer::singleShot(0, qApp, [&secondAppeared, about] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    auto* other = qobject_cast<Form3*>(widget);
                    if (other != nullptr && other != about && other->isVisible()) {
                        secondAppeared = true;
                        other->close();
                    }
                }
            });
            Form3::showAbout(&mainWindow);
            QCoreApplication::processEvents();
        }));
        QVERIFY(modalOverAll);
        QVERIFY(!secondAppeared);
        QVERIFY(help != nullptr && help->isVisible());
        help->close();
        QTRY_VERIFY(help.isNull());
    }
};

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
