#include "ui/AboutPicture.h"

#include "ui/PictureText.h"
#include "ui/SvgArt.h"

#include <QFontMetrics>
#include <QPainter>

namespace lyravox::ui {

namespace {

constexpr int headingCapTopPx = 8;
constexpr int headingCapHeightPx = 22;
constexpr int byLineTopPx = 45;
constexpr int addressTopPx = 238;
constexpr int addressPitchPx = 15;
constexpr int byLineRightPx = AboutPicture::widthPx - 8;
constexpr int noticeMaxWidthPx =
        AboutPicture::widthPx - AboutPicture::noticeLeftPx - AboutPicture::textRightMarginPx;
constexpr int addressMaxWidthPx = AboutPicture::widthPx - 16;
// The addresses are centred: the widest one fills the width from here.
constexpr int addressLeftPx = (AboutPicture::widthPx - addressMaxWidthPx) / 2;

QFont boldSerif(int pixelSize) {
    QFont font = preferredFont({QStringLiteral("DejaVu Serif"), QStringLiteral("Times New Roman"),
                                QStringLiteral("Liberation Serif"), QStringLiteral("Times")},
                               QFont::Serif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

void drawCentred(QPainter& painter, const QString& line, int topPx) {
    const int width = QFontMetrics(painter.font()).horizontalAdvance(line);
    drawLines(painter, {line}, (AboutPicture::widthPx - width) / 2, topPx, 0);
}

}  // namespace

QString AboutPicture::byLine() {
    return QStringLiteral("by The Lyravox authors");
}

QStringList AboutPicture::noticeLines() {
    return {
            QStringLiteral("Lyravox is free software:"),
            QStringLiteral("anyone may use, copy,"),
            QStringLiteral("change and pass it on,"),
            QStringLiteral("alone or with other work,"),
            QStringLiteral("for free or for a fee,"),
            QStringLiteral("as long as this notice"),
            QStringLiteral("goes with every copy."),
            QStringLiteral("The sounds are part of"),
            QStringLiteral("the program and may be"),
            QStringLiteral("shared on the same terms."),
            QStringLiteral("It comes as it is, with"),
            QStringLiteral("no warranty of any kind."),
            QStringLiteral("The authors are not liable"),
            QStringLiteral("for any damage or loss"),
            QStringLiteral("arising from its use."),
    };
}

QString AboutPicture::webAddress() {
    return QStringLiteral("www.example.com/lyravox");
}

QString AboutPicture::mailAddress() {
    return QStringLiteral("lyravox@example.com");
}

QList<AboutPicture::Passage> AboutPicture::passages() {
    const int noticeWidthPx = widthPx - noticeLeftPx - textRightMarginPx;
    const auto noticeLineCount = static_cast<int>(noticeLines().size());
    // From the heading's capitals down to the foot of the by-line.
    const int headingHeightPx = byLineTopPx + QFontMetrics(byLineFont()).height() - headingCapTopPx;
    return {
            {QStringLiteral("Lyravox, ") + byLine(),
             {0, headingCapTopPx, widthPx, headingHeightPx}},
            {noticeLines().join(QLatin1Char(' ')),
             {noticeLeftPx, noticeTopPx, noticeWidthPx, noticeLineCount * noticeLinePitchPx}},
            {QStringLiteral("Web address: ") + webAddress(),
             {addressLeftPx, addressTopPx, addressMaxWidthPx, addressPitchPx}},
            {QStringLiteral("E-mail address: ") + mailAddress(),
             {addressLeftPx, addressTopPx + addressPitchPx, addressMaxWidthPx, addressPitchPx}},
    };
}

QFont AboutPicture::headingFont() {
    return lyravox::ui::headingFont(headingCapHeightPx, widthPx - 16);
}

QFont AboutPicture::byLineFont() {
    return fitFontToWidth(boldSerif(12), {byLine()}, widthPx - noticeLeftPx, 8);
}

QFont AboutPicture::noticeFont() {
    QFont font = preferredFont({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica")},
                               QFont::SansSerif);
    font.setPixelSize(8);
    return fitFontToWidth(font, noticeLines(), noticeMaxWidthPx, 6);
}

QFont AboutPicture::addressFont() {
    return fitFontToWidth(boldSerif(12), {webAddress(), mailAddress()}, addressMaxWidthPx, 8);
}

QPixmap AboutPicture::render(qreal devicePixelRatio) {
    QPixmap picture = renderSvg(QStringLiteral(":/lyravox/art/about_picture.svg"),
                                QSize(widthPx, heightPx), devicePixelRatio, Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);

    const QFont heading = headingFont();
    const int headingWidth =
            QFontMetrics(heading).horizontalAdvance(QString::fromLatin1(headingText));
    drawHeading(painter, heading, (widthPx - headingWidth) / 2.0, headingCapTopPx);

    const QFont byLineType = byLineFont();
    painter.setFont(byLineType);
    const int byLineWidth = QFontMetrics(byLineType).horizontalAdvance(byLine());
    drawLines(painter, {byLine()}, byLineRightPx - byLineWidth, byLineTopPx, 0);

    painter.setFont(noticeFont());
    drawLines(painter, noticeLines(), noticeLeftPx, noticeTopPx, noticeLinePitchPx);

    painter.setFont(addressFont());
    drawCentred(painter, webAddress(), addressTopPx);
    drawCentred(painter, mailAddress(), addressTopPx + addressPitchPx);
    return picture;
}

}  // namespace lyravox::ui
