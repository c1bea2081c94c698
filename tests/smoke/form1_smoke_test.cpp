#include "tests/ui/test_main_window.h"
#include "ui/Form1.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

class Form1SmokeTest : public QObject {
    Q_OBJECT

private slots:
    void windowIdentityAndGeometry() {
        lyravox::ui::test::TestMainWindow desk;
        Form1& window = desk.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.windowTitle(), QString("Lyravox"));
        QCOMPARE(window.objectName(), QString("Form1"));
        const QSize expected(358, 317);
        QCOMPARE(window.minimumSize(), expected);
        QCOMPARE(window.maximumSize(), expected);
        QCOMPARE(window.size(), expected);

        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    }

    void fileExitEndsTheProgram() {
        lyravox::ui::test::TestMainWindow desk;
        Form1& window = desk.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QList<QAction*> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus.first()->text(), QString("&File"));
        QMenu* fileMenu = menus.first()->menu();
        QVERIFY(fileMenu != nullptr);
        QVERIFY(fileMenu->actions().contains(window.exitAction()));
        QCOMPARE(window.exitAction()->text(), QString("E&xit"));

        window.exitAction()->trigger();
        QCOMPARE(desk.runTime.endRequests, 1);
        QVERIFY(window.playback().closing());
    }
};

QTEST_MAIN(Form1SmokeTest)
#include "form1_smoke_test.moc"
