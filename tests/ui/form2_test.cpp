#include "tests/ui/test_main_window.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/HelpPicture.h"

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

    void pictureReadsAsTheHelpText() {
        Form2* help = Form2::showHelp();
        QAccessibleInterface* picture = QAccessible::queryAccessibleInterface(help->picture());
        QVERIFY(picture != nullptr);
        const QString description = picture->text(QAccessible::Description);
        QCOMPARE(description, HelpPicture::plainText());
        QCOMPARE(description.split('\n').mid(1), HelpPicture::textLines());
        QVERIFY(!picture->text(QAccessible::Name).isEmpty());
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
