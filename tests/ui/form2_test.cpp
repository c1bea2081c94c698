#include "tests/ui/test_main_window.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/HelpPicture.h"
#include "ui/ReadablePicture.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QTest>
#include <QWindow>

using lyravox::ui::HelpPicture;

namespace {

const QRect startGeometry(3, 22, 293, 347);

int helpWindowCount() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->objectName() == QLatin1String("Form2") ? 1 : 0;
    }
    return count;
}

}  // namespace

class Form2Test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        QPointer<Form2> help = Form2::openInstance();
        if (help != nullptr) {
            help->close();
        }
        QTRY_VERIFY(help.isNull());
    }

    void builtAsDescribed() {
        Form2* help = Form2::showHelp();
        QVERIFY(help != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(help));

        QCOMPARE(help->objectName(), QString("Form2"));
        QCOMPARE(help->windowTitle(), QString("Help"));
        QCOMPARE(help->geometry(), startGeometry);
        QCOMPARE(help->minimumSize(), startGeometry.size());
        QCOMPARE(help->maximumSize(), startGeometry.size());

        const Qt::WindowFlags flags = help->windowFlags();
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));

        // Unowned and modeless: the main window stays usable beside it.
        QVERIFY(help->parentWidget() == nullptr);
        QVERIFY(help->windowHandle()->transientParent() == nullptr);
        QCOMPARE(help->windowModality(), Qt::NonModal);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // Left open, it must neither outlive nor keep alive the program.
        QVERIFY(help->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!help->testAttribute(Qt::WA_QuitOnClose));

        const QList<QSize> iconSizes = help->windowIcon().availableSizes();
        QVERIFY(iconSizes.contains(QSize(16, 16)));
        QVERIFY(iconSizes.contains(QSize(32, 32)));

        QCOMPARE(help->picture()->geometry(), QRect(0, 0, 292, 347));
        QCOMPARE(help->picture()->pixmap().deviceIndependentSize().toSize(), QSize(292, 347));

        const QString path = QDir::current().absoluteFilePath("form2.png");
        QVERIFY(help->grab().save(path));
        qInfo("screenshot: %s", qUtf8Printable(path));
    }

    // The picture fills the client area but for its rightmost column, which shows the tooltip
    // background; a distinctive palette proves the colour comes from there.
    void clientAreaIsPictureAndTooltipColumn() {
        const QPalette original = QApplication::palette();
        QPalette marked = original;
        const QColor tooltipColour(0, 120, 255);
        marked.setColor(QPalette::ToolTipBase, tooltipColour);
        QApplication::setPalette(marked);

        Form2* help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(help));
        const QImage shot = help->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QApplication::setPalette(original);

        QCOMPARE(shot.size(), QSize(293, 347));
        for (int y = 0; y < shot.height(); ++y) {
            QCOMPARE(QColor(shot.pixel(292, y)), tooltipColour);
        }
        const QImage picture =
                HelpPicture::render(1.0).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.copy(0, 0, 292, 347), picture);
    }

    void showingAgainKeepsTheOneWindowWhereItStands() {
        Form2* first = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        first->move(140, 90);
        const QRect moved = first->geometry();
        QVERIFY(moved != startGeometry);

        Form2* second = Form2::showHelp();
        QCOMPARE(second, first);
        QCOMPARE(second->geometry(), moved);
        QVERIFY(second->isVisible());
        QCOMPARE(helpWindowCount(), 1);
    }

    void closingDestroysItAndTheNextShowBuildsItAtTheStart() {
        QPointer<Form2> first = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        first->move(200, 150);
        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(Form2::openInstance() == nullptr);
        QCOMPARE(helpWindowCount(), 0);

        Form2* rebuilt = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(rebuilt));
        QCOMPARE(rebuilt->geometry(), startGeometry);
        QCOMPARE(helpWindowCount(), 1);
    }

    // Either window can be brought in front of the other and take input.
    void mainWindowAndHelpTakeTurnsBeingActive() {
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));

        Form2* help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QVERIFY(mainWindow.isEnabled());

        mainWindow.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
        QVERIFY(help->isVisible());

        // Shown again from the main window: brought back to the front, not rebuilt.
        QCOMPARE(Form2::showHelp(), help);
        QVERIFY(QTest::qWaitForWindowActive(help));
    }

    // A screen reader reads the help as a read-only text with a caret, which the picture lacks.
    void pictureReadsAsTheHelpText() {
        Form2* help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(help);
        QCOMPARE(window->role(), QAccessible::Dialog);
        QCOMPARE(window->text(QAccessible::Description), HelpPicture::plainText());

        QCOMPARE(QApplication::focusWidget(), help->picture());
        QAccessibleInterface* picture = QAccessible::queryAccessibleInterface(help->picture());
        QCOMPARE(picture->role(), QAccessible::EditableText);
        QCOMPARE(picture->text(QAccessible::Name), QString("Help text"));
        QVERIFY(picture->state().readOnly);
        QVERIFY(picture->state().multiLine);
        QVERIFY(picture->state().focused);
        QAccessibleTextInterface* text = picture->textInterface();
        QVERIFY(text != nullptr);
        QCOMPARE(text->selectionCount(), 0);
        QCOMPARE(text->characterCount(), HelpPicture::plainText().size());
        QCOMPARE(text->text(0, text->characterCount()), HelpPicture::plainText());

        // Down goes line by line, as a screen reader reading the help moves the caret.
        QStringList lines;
        for (int i = 0; i < HelpPicture::readableLines().size(); ++i) {
            int start = -1;
            int end = -1;
            const int caret = text->cursorPosition();
            lines << text->textAtOffset(caret, QAccessible::LineBoundary, &start, &end)
                             .remove('\n');
            QVERIFY(start <= caret && caret <= end);
            QTest::keyClick(help->picture(), Qt::Key_Down);
        }
        QCOMPARE(lines, HelpPicture::readableLines());
        QCOMPARE(text->cursorPosition(),
                 HelpPicture::plainText().size() - HelpPicture::readableLines().last().size());
    }

    void caretKeys_data() {
        QTest::addColumn<int>("startLine");
        QTest::addColumn<int>("startColumn");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("control");
        QTest::addColumn<int>("endLine");
        QTest::addColumn<int>("endColumn");
        // Line 3 is the body's blank line, line 1 "Lyravox is a program for guitarists, who
        // prefer".
        QTest::newRow("down keeps the column") << 1 << 10 << int(Qt::Key_Down) << false << 2 << 10;
        QTest::newRow("down to a blank line") << 2 << 10 << int(Qt::Key_Down) << false << 3 << 0;
        QTest::newRow("up from the first line stays")
                << 0 << 4 << int(Qt::Key_Up) << false << 0 << 4;
        QTest::newRow("right over the line's end")
                << 1 << 47 << int(Qt::Key_Right) << false << 2 << 0;
        QTest::newRow("left over the line's start")
                << 2 << 0 << int(Qt::Key_Left) << false << 1 << 47;
        QTest::newRow("home") << 1 << 20 << int(Qt::Key_Home) << false << 1 << 0;
        QTest::newRow("end") << 1 << 2 << int(Qt::Key_End) << false << 1 << 47;
        QTest::newRow("ctrl+end") << 1 << 2 << int(Qt::Key_End) << true << 23 << 26;
        QTest::newRow("ctrl+home") << 5 << 2 << int(Qt::Key_Home) << true << 0 << 0;
        QTest::newRow("ctrl+right to the next word")
                << 1 << 0 << int(Qt::Key_Right) << true << 1 << 8;
        QTest::newRow("ctrl+left to the word's start")
                << 1 << 10 << int(Qt::Key_Left) << true << 1 << 8;
        QTest::newRow("page down") << 1 << 3 << int(Qt::Key_PageDown) << false << 6 << 3;
    }

    void caretKeys() {
        QFETCH(int, startLine);
        QFETCH(int, startColumn);
        QFETCH(int, key);
        QFETCH(bool, control);
        QFETCH(int, endLine);
        QFETCH(int, endColumn);
        const QStringList lines = HelpPicture::readableLines();
        const auto offsetOf = [&lines](int line, int column) {
            int offset = column;
            for (int i = 0; i < line; ++i) {
                offset += lines[i].size() + 1;
            }
            return offset;
        };
        Form2* help = Form2::showHelp();
        lyravox::ui::ReadablePicture* picture = help->picture();
        picture->setCaretOffset(offsetOf(startLine, startColumn));
        QTest::keyClick(picture, static_cast<Qt::Key>(key),
                        control ? Qt::ControlModifier : Qt::NoModifier);
        QCOMPARE(picture->caretOffset(), offsetOf(endLine, endColumn));
    }

    // A click puts the caret where it lands, and the characters' places are where they are drawn.
    void clickPlacesTheCaret() {
        Form2* help = Form2::showHelp();
        lyravox::ui::ReadablePicture* picture = help->picture();
        const int offset =
                HelpPicture::readableLines().first().size() + 1 + 4;  // line 1, fifth character
        const QRect drawn = picture->characterRect(offset);
        QVERIFY(drawn.top() >= HelpPicture::bodyTopPx - 2 &&
                drawn.top() <= HelpPicture::bodyTopPx + 2);
        QVERIFY(drawn.left() > HelpPicture::textLeftPx);
        QTest::mouseClick(picture, Qt::LeftButton, {}, drawn.center());
        QCOMPARE(picture->caretOffset(), offset);
        QCOMPARE(picture->offsetAt(QPoint(1, 1)), -1);
    }

    void programEndsAndTakesHelpAlong_data() {
        QTest::addColumn<bool>("byExit");
        QTest::newRow("main window closed") << false;
        QTest::newRow("QCoreApplication::exit, as File, Exit ends at once") << true;
    }

    // Help left open neither keeps the program running once the main window closes nor outlives
    // it, however the program ends. Should it keep the program running, exec() never returns and
    // the test's time-out fails it.
    void programEndsAndTakesHelpAlong() {
        QFETCH(bool, byExit);
        lyravox::ui::test::TestMainWindow desk;
        Form1& mainWindow = desk.window;
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
        QPointer<Form2> help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(help));

        if (byExit) {
            QMetaObject::invokeMethod(
                    qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(&mainWindow, &QWidget::close, Qt::QueuedConnection);
        }
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(help.isNull());
    }
};

QTEST_MAIN(Form2Test)
#include "form2_test.moc"
