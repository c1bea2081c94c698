#include "ui/Form1.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

class Form1SmokeTest : public QObject {
    Q_OBJECT

private slots:
    void windowIdentityAndGeometry() {
        Form1 window;
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

    void fileExitClosesWindow() {
        Form1 window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QList<QAction*> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), 1);
        QCOMPARE(menus.first()->text(), QString("&File"));
        QMenu* fileMenu = menus.first()->menu();
        QVERIFY(fileMenu != nullptr);
        QVERIFY(fileMenu->actions().contains(window.exitAction()));
        QCOMPARE(window.exitAction()->text(), QString("E&xit"));

        window.exitAction()->trigger();
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(Form1SmokeTest)
#include "form1_smoke_test.moc"
