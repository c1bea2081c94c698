// The windows at a device pixel ratio of 2 (run with QT_SCALE_FACTOR=2): twice the pixels, the same
// layout in logical pixels, and artwork drawn for the dense screen rather than enlarged from the
// 1 × drawings, which would look blurred or blocky.
#include "tests/ui/test_main_window.h"
#include "ui/AboutPicture.h"
#include "ui/BannerPicture.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"
#include "ui/HelpPicture.h"
#include "ui/ReadablePicture.h"
#include "ui/SvgArt.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using lyravox::ui::AboutPicture;
using lyravox::ui::BannerPicture;
using lyravox::ui::HelpPicture;

namespace {

constexpr qreal kRatio = 2.0;

void saveForPeople(const QPixmap& pixmap, const QString& fileName) {
    const QString path = QDir::current().absoluteFilePath(fileName);
    QVERIFY(pixmap.save(path));
    qInfo("screenshot: %s", qUtf8Printable(path));
}

// What a blurry or blocky picture would be: the 1 × drawing enlarged to the 2 × pixel size.
QImage enlarged(const QPixmap& oneX, Qt::TransformationMode mode) {
    return oneX.toImage()
            .scaledToWidth(oneX.width() * 2, mode)
            .convertToFormat(QImage::Format_RGB32);
}

int differingPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}

// The shown picture is the one drawn at ratio 2, pixel for pixel, and neither enlargement of the
// 1 × drawing.
void checkDrawnForRatio2(const QImage& shown, const QPixmap& oneX, const QPixmap& twoX) {
    QCOMPARE(shown.size(), twoX.size());
    QCOMPARE(differingPixels(shown, twoX.toImage().convertToFormat(QImage::Format_RGB32)), 0);
    for (Qt::TransformationMode mode : {Qt::FastTransformation, Qt::SmoothTransformation}) {
        QVERIFY(differingPixels(shown, enlarged(oneX, mode)) > shown.width());
    }
}

void checkLabelPicture(const QLabel* label, QSize logicalSize) {
    const QPixmap shown = label->pixmap();
    QCOMPARE(shown.devicePixelRatio(), kRatio);
    QCOMPARE(shown.size(), logicalSize * 2);
    QCOMPARE(label->size(), logicalSize);
}

}  // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Everything below is meaningless at another ratio: say so rather than pass by accident.
        QWidget probe;
        QCOMPARE(probe.devicePixelRatioF(), kRatio);
    }

    void mainWindowIsTwiceTheSizeWithTheSameLayout() {
        lyravox::ui::test::TestMainWindow main;
        Form1& window = main.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.size(), QSize(Form1::widthPx, Form1::heightPx));
        QCOMPARE(window.centralWidget()->size(), QSize(358, 298));
        // Logical positions as at ratio 1: the string buttons along the bottom, the banner right.
        QCOMPARE(window.widgets().commands[0]->geometry(), QRect(15, 252, 37, 37));
        QCOMPARE(window.widgets().commands[5]->geometry(), QRect(307, 252, 37, 37));
        QCOMPARE(window.widgets().picture1->geometry(), QRect(192, 172, 149, 69));

        const QPixmap grab = window.grab();
        QCOMPARE(grab.devicePixelRatio(), kRatio);
        QCOMPARE(grab.size(), QSize(716, 634));
        saveForPeople(grab, "form1@2x.png");

        const BannerPicture* picture = window.widgets().picture1;
        const QRect banner(picture->mapTo(&window, picture->contentsRect().topLeft()) * 2,
                           QSize(BannerPicture::imageWidthPx, BannerPicture::imageHeightPx) * 2);
        const QImage shown = grab.toImage().copy(banner).convertToFormat(QImage::Format_RGB32);
        checkDrawnForRatio2(shown, BannerPicture::render(1.0), BannerPicture::render(kRatio));
    }

    void helpPictureIsDrawnAtRatio2() {
        QPointer<Form2> help = Form2::showHelp();
        QVERIFY(QTest::qWaitForWindowExposed(help));
        checkLabelPicture(help->picture(), QSize(HelpPicture::widthPx, HelpPicture::heightPx));
        const QPixmap grab = help->grab();
        QCOMPARE(grab.size(), QSize(Form2::widthPx, Form2::heightPx) * 2);
        saveForPeople(grab, "form2@2x.png");
        const QRect shownArea(0, 0, HelpPicture::widthPx * 2, HelpPicture::heightPx * 2);
        checkDrawnForRatio2(grab.toImage().copy(shownArea).convertToFormat(QImage::Format_RGB32),
                            HelpPicture::render(1.0), HelpPicture::render(kRatio));
        help->close();
        QTRY_VERIFY(help.isNull());
    }

    void aboutPictureIsDrawnAtRatio2() {
        Form3 about(nullptr);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        checkLabelPicture(about.picture(), QSize(AboutPicture::widthPx, AboutPicture::heightPx));
        const QPixmap grab = about.grab();
        QCOMPARE(grab.size(), QSize(Form3::widthPx, Form3::heightPx) * 2);
        saveForPeople(grab, "form3@2x.png");
        // Above the button, which covers part of the picture.
        const QRect shownArea(0, 0, AboutPicture::widthPx * 2, 270 * 2);
        const QPixmap oneX = AboutPicture::render(1.0).copy(0, 0, AboutPicture::widthPx, 270);
        const QPixmap twoX = AboutPicture::render(kRatio).copy(shownArea);
        checkDrawnForRatio2(grab.toImage().copy(shownArea).convertToFormat(QImage::Format_RGB32),
                            oneX, twoX);
        about.close();
    }

    void iconsHaveDrawingsForTheDenseScreen_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("program") << lyravox::ui::programIcon() << "program_icon@2x.png";
        QTest::newRow("help") << lyravox::ui::helpIcon() << "help_icon@2x.png";
    }

    // Title bars and task bars ask for 16 and 32 logical pixels; at ratio 2 that is 32 and 64.
    void iconsHaveDrawingsForTheDenseScreen() {
        QFETCH(QIcon, icon);
        QFETCH(QString, fileName);
        for (int side : {16, 32}) {
            const QPixmap pixmap = icon.pixmap(QSize(side, side), kRatio);
            QCOMPARE(pixmap.size(), QSize(side, side) * 2);
            const QPixmap oneX = icon.pixmap(QSize(side, side), 1.0);
            const QImage shown = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
            for (Qt::TransformationMode mode : {Qt::FastTransformation, Qt::SmoothTransformation}) {
                QVERIFY(differingPixels(shown, enlarged(oneX, mode)) > side);
            }
        }
        saveForPeople(icon.pixmap(QSize(32, 32), kRatio), fileName);
    }
};

QTEST_MAIN(HiDpiTest)
#include "hidpi_test.moc"
