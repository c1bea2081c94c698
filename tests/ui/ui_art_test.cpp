#include "ui/AboutPicture.h"
#include "ui/HelpPicture.h"
#include "ui/PictureText.h"
#include "ui/SvgArt.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QRegularExpression>
#include <QTest>

using lyravox::ui::AboutPicture;
using lyravox::ui::HelpPicture;

namespace {

bool isDark(QRgb pixel) {
    return qGray(pixel) < 96;
}

bool nearColour(QRgb pixel, QColor target) {
    return qAlpha(pixel) == 255 && std::abs(qRed(pixel) - target.red()) < 40 &&
           std::abs(qGreen(pixel) - target.green()) < 40 &&
           std::abs(qBlue(pixel) - target.blue()) < 40;
}

// Columns [fromX, toX) of rows [fromY, toY) hold a pixel for which `test` holds.
template <typename Test>
bool anyPixel(const QImage& image, QRect area, Test test) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(image.pixel(x, y))) {
                return true;
            }
        }
    }
    return false;
}

void saveForPeople(const QPixmap& pixmap, const QString& fileName) {
    const QString path = QDir::current().absoluteFilePath(fileName);
    QVERIFY(pixmap.save(path));
    qInfo("screenshot: %s", qUtf8Printable(path));
}

}  // namespace

class UiArtTest : public QObject {
    Q_OBJECT

private slots:
    void helpTextIsWordForWord_data() {
        QTest::addColumn<int>("lineNumber");
        QTest::addColumn<QString>("expected");
        // The expected text is shared with the screen-reader tests (tests/a11y), which read the
        // same lines from the picture.
        QFile file(QFINDTESTDATA("help-text.txt"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTest::newRow("help-text.txt unreadable") << 0 << QString();
            return;
        }
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (lines.last().isEmpty())
            lines.removeLast();
        int number = 0;
        for (const QString& line : lines) {
            ++number;
            QTest::addRow("line %d", number) << number << line;
        }
    }

    void helpTextIsWordForWord() {
        QFETCH(int, lineNumber);
        QFETCH(QString, expected);
        QVERIFY2(lineNumber > 0, "tests/ui/help-text.txt, the expected help text, cannot be read");
        const QStringList lines = HelpPicture::textLines();
        QCOMPARE(lines.size(), 23);
        QCOMPARE(lines.at(lineNumber - 1), expected);
        QVERIFY(HelpPicture::byLine().endsWith(
                QStringLiteral("- see About-window for details...")));
    }

    // Whatever face the system resolves, no line may run past the picture's right edge, and lines
    // on a 12 px pitch must not overlap.
    void helpTextFitsThePicture() {
        const QFont body = HelpPicture::bodyFont();
        const QFontMetrics bodyMetrics(body);
        qInfo("body font: %s, %d px", qUtf8Printable(QFontInfo(body).family()),
              QFontInfo(body).pixelSize());
        QVERIFY(bodyMetrics.height() <= HelpPicture::bodyLinePitchPx);
        for (const QString& line : HelpPicture::textLines()) {
            QVERIFY2(HelpPicture::textLeftPx + bodyMetrics.horizontalAdvance(line) <=
                             HelpPicture::widthPx,
                     qPrintable(line));
        }
        const QFontMetrics byLineMetrics(HelpPicture::byLineFont());
        QVERIFY(HelpPicture::textLeftPx + byLineMetrics.horizontalAdvance(HelpPicture::byLine()) <=
                HelpPicture::widthPx);
        QVERIFY(QFontMetrics(HelpPicture::headingFont())
                        .horizontalAdvance(QString::fromLatin1(lyravox::ui::headingText)) <
                HelpPicture::widthPx);
    }

    // Each line sits in its own 12 px band from 64 px down, starting 8 px from the left; the blank
    // lines leave their band the bare ground colour.
    void helpTextIsDrawnOnItsRows() {
        const QImage picture = HelpPicture::render(1.0).toImage();
        const QFontMetrics metrics(HelpPicture::bodyFont());
        const QStringList lines = HelpPicture::textLines();
        for (int i = 0; i < lines.size(); ++i) {
            const int top = HelpPicture::bodyTopPx + i * HelpPicture::bodyLinePitchPx;
            const QRect leftMargin(0, top, HelpPicture::textLeftPx, HelpPicture::bodyLinePitchPx);
            QVERIFY2(!anyPixel(picture, leftMargin, isDark), qPrintable(QString::number(i + 1)));
            if (lines[i].isEmpty()) {
                const QRect band(0, top, 200, HelpPicture::bodyLinePitchPx);
                QVERIFY(!anyPixel(picture, band,
                                  [](QRgb pixel) { return pixel != qRgb(255, 255, 223); }));
            } else {
                const QRect text(HelpPicture::textLeftPx, top, metrics.horizontalAdvance(lines[i]),
                                 HelpPicture::bodyLinePitchPx);
                QVERIFY2(anyPixel(picture, text, isDark), qPrintable(lines[i]));
            }
        }
    }

    void picturesRenderAtTheirSizeAndPixelRatio_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("logicalSize");
        const QSize help(292, 347);
        const QSize about(274, 312);
        QTest::newRow("help 1x") << "help" << 1.0 << help;
        QTest::newRow("help 2x") << "help" << 2.0 << help;
        QTest::newRow("help 1.5x") << "help" << 1.5 << help;
        QTest::newRow("about 1x") << "about" << 1.0 << about;
        QTest::newRow("about 2x") << "about" << 2.0 << about;
    }

    void picturesRenderAtTheirSizeAndPixelRatio() {
        QFETCH(QString, which);
        QFETCH(qreal, ratio);
        QFETCH(QSize, logicalSize);
        const QPixmap picture =
                which == "help" ? HelpPicture::render(ratio) : AboutPicture::render(ratio);
        QCOMPARE(picture.devicePixelRatio(), ratio);
        QCOMPARE(picture.deviceIndependentSize().toSize(), logicalSize);
        QCOMPARE(picture.size(), (QSizeF(logicalSize) * ratio).toSize());
        if (ratio == 2.0) {
            saveForPeople(picture, which + "_picture@2x.png");
        }
    }

    void aboutPictureLayout() {
        const QStringList notice = AboutPicture::noticeLines();
        QCOMPARE(notice.size(), 15);
        const QFontMetrics noticeMetrics(AboutPicture::noticeFont());
        QVERIFY(noticeMetrics.height() <= AboutPicture::noticeLinePitchPx + 1);
        for (const QString& line : notice) {
            QVERIFY2(AboutPicture::noticeLeftPx + noticeMetrics.horizontalAdvance(line) <=
                             AboutPicture::widthPx,
                     qPrintable(line));
        }
        const QFontMetrics addressMetrics(AboutPicture::addressFont());
        for (const QString& line : {AboutPicture::webAddress(), AboutPicture::mailAddress()}) {
            QVERIFY(addressMetrics.horizontalAdvance(line) <= AboutPicture::widthPx);
        }

        // The button's strip, from 272 px down, is plain white so the button stands on nothing.
        const QImage picture = AboutPicture::render(1.0).toImage();
        const QRect strip(0, 272, AboutPicture::widthPx, AboutPicture::heightPx - 272);
        QVERIFY(!anyPixel(picture, strip, [](QRgb pixel) { return pixel != qRgb(255, 255, 255); }));
        const QRect noticeBlock(AboutPicture::noticeLeftPx, AboutPicture::noticeTopPx,
                                AboutPicture::widthPx - AboutPicture::noticeLeftPx,
                                15 * AboutPicture::noticeLinePitchPx);
        QVERIFY(anyPixel(picture, noticeBlock, isDark));
    }

    void fitFontToWidth_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("maxWidthPx");
        QTest::addRow("wide sans, large") << "DejaVu Sans" << 14 << 280;
        QTest::addRow("serif") << "DejaVu Serif" << 12 << 280;
        QTest::addRow("monospace") << "DejaVu Sans Mono" << 12 << 280;
        QTest::addRow("family not installed") << "Lyravox No Such Face" << 12 << 280;
        QTest::addRow("fits already") << "DejaVu Sans Condensed" << 9 << 400;
        QTest::addRow("narrower than the smallest size") << "DejaVu Sans" << 12 << 150;
    }

    // The result fits, and is the largest pixel size that does (or the smallest allowed).
    void fitFontToWidth() {
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(int, maxWidthPx);
        constexpr int minPixelSize = 7;
        QFont font;
        font.setFamilies({family});
        font.setBold(true);
        font.setPixelSize(pixelSize);
        const QStringList lines = HelpPicture::textLines();

        const QFont fitted = lyravox::ui::fitFontToWidth(font, lines, maxWidthPx, minPixelSize);
        QVERIFY(lyravox::ui::widestLinePx(fitted, lines) <= maxWidthPx);
        QVERIFY(fitted.pixelSize() <= pixelSize);
        QVERIFY(fitted.pixelSize() >= minPixelSize);
        if (fitted.pixelSize() < pixelSize) {
            QFont oneLarger = fitted;
            oneLarger.setPixelSize(fitted.pixelSize() + 1);
            oneLarger.setLetterSpacing(QFont::AbsoluteSpacing, 0);
            QVERIFY(lyravox::ui::widestLinePx(oneLarger, lines) > maxWidthPx);
        }
    }

    void missingArtworkWarnsAndFallsBack() {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("no_such_picture\\.svg cannot be read"));
        const QPixmap pixmap = lyravox::ui::renderSvg(":/lyravox/art/no_such_picture.svg",
                                                      QSize(20, 10), 2.0, Qt::red);
        QCOMPARE(pixmap.size(), QSize(40, 20));
        const QImage image = pixmap.toImage();
        QVERIFY(!anyPixel(image, image.rect(),
                          [](QRgb pixel) { return pixel != qRgb(255, 0, 0); }));
    }

    void icons_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<QColor>("firstColour");
        QTest::addColumn<QColor>("secondColour");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("program: red guitar, white pickguard")
                << lyravox::ui::programIcon() << QColor(0xd8, 0x14, 0x1c) << QColor(Qt::white)
                << "program_icon.png";
        QTest::newRow("help: purple book, yellow question mark")
                << lyravox::ui::helpIcon() << QColor(0x80, 0x20, 0xb0) << QColor(0xff, 0xe0, 0x00)
                << "help_icon.png";
    }

    // Drawn for 16, 32 and 64 pixels with a transparent ground: a missing resource would give an
    // empty icon, and the colours tell the two drawings apart.
    void icons() {
        QFETCH(QIcon, icon);
        QFETCH(QColor, firstColour);
        QFETCH(QColor, secondColour);
        QFETCH(QString, fileName);
        const QList<QSize> sizes = icon.availableSizes();
        for (int side : {16, 32, 64}) {
            QVERIFY(sizes.contains(QSize(side, side)));
            const QImage image = icon.pixmap(QSize(side, side)).toImage();
            QCOMPARE(image.size(), QSize(side, side));
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QVERIFY(anyPixel(image, image.rect(),
                             [&](QRgb p) { return nearColour(p, firstColour); }));
            QVERIFY(anyPixel(image, image.rect(),
                             [&](QRgb p) { return nearColour(p, secondColour); }));
        }
        saveForPeople(icon.pixmap(QSize(32, 32)), fileName);
    }
};

QTEST_MAIN(UiArtTest)
#include "ui_art_test.moc"
