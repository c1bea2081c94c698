// The main window's layout with the desktop's default font, run once per screen scale
// (QT_SCALE_FACTOR 1, 1.25, 1.5 and 2): every caption whole, every control clear of its frame's
// line and title, no two controls overlapping.
#include "tests/ui/test_main_window.h"
#include "ui/FrameStyle.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>

using lyravox::ui::test::TestMainWindow;

namespace {

QString scale() {
    return qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
}

QStyleOptionGroupBox frameOption(const QGroupBox* frame) {
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return option;
}

// Where the button's style draws its caption.
QRect captionArea(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QRadioButton*>(button) != nullptr) {
        element = QStyle::SE_RadioButtonContents;
    } else if (qobject_cast<const QCheckBox*>(button) != nullptr) {
        element = QStyle::SE_CheckBoxContents;
    }
    return button->style()->subElementRect(element, &option, button) & button->rect();
}

QString describe(const QWidget* widget) {
    const QRect r = widget->geometry();
    return QStringLiteral("%1 at %2,%3 %4x%5 (scale %6)")
            .arg(widget->objectName())
            .arg(r.x())
            .arg(r.y())
            .arg(r.width())
            .arg(r.height())
            .arg(scale());
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void captionsAreWhole() {
        TestMainWindow desk;
        const auto buttons = desk.window.findChildren<QAbstractButton*>();
        QVERIFY(buttons.size() >= 17);
        for (const QAbstractButton* button : buttons) {
            const QFontMetrics metrics = button->fontMetrics();
            const QRect area = captionArea(button);
            const QSize caption(metrics.horizontalAdvance(button->text()), metrics.height());
            QVERIFY2(caption.width() <= area.width() && caption.height() <= area.height(),
                     qPrintable(QStringLiteral("%1: caption \"%2\" needs %3x%4, has %5x%6")
                                        .arg(describe(button), button->text())
                                        .arg(caption.width())
                                        .arg(caption.height())
                                        .arg(area.width())
                                        .arg(area.height())));
        }
        for (const QGroupBox* frame : desk.window.findChildren<QGroupBox*>()) {
            const QStyleOptionGroupBox option = frameOption(frame);
            const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, frame);
            QVERIFY2(frame->rect().contains(lyravox::ui::FrameStyle::titleInk(&option)) &&
                             title.width() >=
                                     frame->fontMetrics().horizontalAdvance(frame->title()),
                     qPrintable(describe(frame)));
        }
    }

    // The title sits on the frame's top line, and each control lies within the frame's contents:
    // inside the line and below the title's letters.
    void controlsKeepClearOfTheirFrame() {
        TestMainWindow desk;
        for (const QGroupBox* frame : desk.window.findChildren<QGroupBox*>()) {
            const QStyleOptionGroupBox option = frameOption(frame);
            const QRect line = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                              QStyle::SC_GroupBoxFrame, frame);
            const QRect ink = lyravox::ui::FrameStyle::titleInk(&option);
            QVERIFY2(ink.top() < line.top() && line.top() < ink.bottom(),
                     qPrintable(describe(frame)));

            const QRect contents = frame->contentsRect();
            QVERIFY2(line.adjusted(1, 1, -1, -1).contains(contents) && !contents.intersects(ink),
                     qPrintable(describe(frame)));
            for (const QWidget* control :
                 frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                QVERIFY2(contents.contains(control->geometry()),
                         qPrintable(QStringLiteral("%1 leaves %2's contents at %3,%4 %5x%6")
                                            .arg(describe(control), frame->objectName())
                                            .arg(contents.x())
                                            .arg(contents.y())
                                            .arg(contents.width())
                                            .arg(contents.height())));
            }
        }
    }

    // Grown to show their captions, option buttons and the check box still overlap nothing, and
    // keep the left and top the window's design gives them.
    void noTwoControlsOverlap() {
        TestMainWindow desk;
        QList<QWidget*> containers = {desk.window.centralWidget()};
        for (QGroupBox* frame : desk.window.findChildren<QGroupBox*>()) {
            containers << frame;
        }
        for (const QWidget* container : containers) {
            const auto controls = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (qsizetype i = 0; i < controls.size(); ++i) {
                for (qsizetype j = i + 1; j < controls.size(); ++j) {
                    QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                             qPrintable(describe(controls[i]) + " overlaps " +
                                        describe(controls[j])));
                }
            }
        }
        QCOMPARE(desk.window.widgets().options[5]->pos(), QPoint(12, 36));  // "middle"
        QCOMPARE(desk.window.widgets().check1->pos(), QPoint(16, 16));
    }

    void screenshot() {
        if (scale() != "1" && scale() != "1.5") {
            QSKIP("screenshots are saved at scales 1 and 1.5");
        }
        TestMainWindow desk;
        desk.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk.window));
        const QString path =
                QDir::current().absoluteFilePath(QStringLiteral("form1-scale-%1.png").arg(scale()));
        QVERIFY(desk.window.grab().save(path));
        qInfo("screenshot: %s", qUtf8Printable(path));
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
