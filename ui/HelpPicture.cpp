#include "ui/HelpPicture.h"

#include "ui/PictureText.h"
#include "ui/SvgArt.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace lyravox::ui {

namespace {

constexpr int headingLeftPx = 64;
constexpr int headingCapTopPx = 9;
constexpr int headingCapHeightPx = 24;
// The heading ends before the acoustic guitar's body in the top right corner.
constexpr int headingMaxWidthPx = 172;
// The by-line ends left of the acoustic guitar's fingerboard, which runs down the right edge.
constexpr int byLineMaxWidthPx = 256;
constexpr int textMaxWidthPx =
        HelpPicture::widthPx - HelpPicture::textLeftPx - HelpPicture::textRightMarginPx;

}  // namespace

QString HelpPicture::byLine() {
    return QStringLiteral("\u00A9 The Lyravox authors - see About-window for details...");
}

QStringList HelpPicture::textLines() {
    return {
            QStringLiteral("Lyravox is a program for guitarists, who prefer"),
            QStringLiteral("to tune their guitar by ear (e.g. with a tune pipe)."),
            QString(),
            QStringLiteral("I created the sounds with a high quality synthesizer"),
            QStringLiteral("-so the frequency of the notes is damn right."),
            QStringLiteral("The six buttons on the bottom represent"),
            QStringLiteral("the six strings of the guitar."),
            QStringLiteral("By clicking the buttons you can play the sounds."),
            QStringLiteral("You can enable and disable the \"Loop\" checkbox,"),
            QStringLiteral("which makes the sound play endlessly."),
            QStringLiteral("You can also play the E-Major and G-Major chord"),
            QStringLiteral("by clicking the buttons. (note that you cant loop them)"),
            QStringLiteral("With the Rest-option-buttons you have three alternatives"),
            QStringLiteral("for the rests between the notes."),
            QStringLiteral("You can play all strings in a row :"),
            QStringLiteral("Click the \"Play all Strings button\", by selecting"),
            QStringLiteral("in the option buttons you can set how often every"),
            QStringLiteral("string is played."),
            QStringLiteral("You can also loop the whole thing but while playing,"),
            QStringLiteral("the rest of the buttons are disabled."),
            QStringLiteral("You can exit Lyravox by clicking File-Exit."),
            QString(),
            QStringLiteral("Trust your ear and Enjoy !"),
    };
}

QStringList HelpPicture::readableLines() {
    return QStringList{byLine()} + textLines();
}

QString HelpPicture::plainText() {
    return readableLines().join(QLatin1Char('\n'));
}

QList<QRect> HelpPicture::characterRects(int line) {
    const bool isByLine = line == 0;
    const QFontMetrics metrics(isByLine ? byLineFont() : bodyFont());
    const QString text = readableLines().value(line);
    const int top = isByLine ? byLineTopPx : bodyTopPx + (line - 1) * bodyLinePitchPx;
    QList<QRect> places;
    for (int column = 0; column <= text.size(); ++column) {
        const int left = textLeftPx + metrics.horizontalAdvance(text.left(column));
        const int width = column < text.size() ? metrics.horizontalAdvance(text.at(column)) : 1;
        places.append(QRect(left, top, std::max(width, 1), metrics.height()));
    }
    return places;
}

QFont HelpPicture::headingFont() {
    return lyravox::ui::headingFont(headingCapHeightPx, headingMaxWidthPx);
}

QFont HelpPicture::byLineFont() {
    QFont font = preferredFont({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica")},
                               QFont::SansSerif);
    font.setItalic(true);
    font.setPixelSize(9);
    return fitFontToWidth(font, {byLine()}, byLineMaxWidthPx, 6);
}

QFont HelpPicture::bodyFont() {
    // Narrow faces first: the longest line has 56 characters for 280 pixels.
    QFont font = preferredFont(
            {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow"),
             QStringLiteral("Arial Narrow"), QStringLiteral("Nimbus Sans Narrow"),
             QStringLiteral("Tahoma"), QStringLiteral("Arial"), QStringLiteral("Helvetica")},
            QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(9);
    return fitFontToWidth(font, textLines(), textMaxWidthPx, 7);
}

QPixmap HelpPicture::render(qreal devicePixelRatio) {
    QPixmap picture = renderSvg(QStringLiteral(":/lyravox/art/help_picture.svg"),
                                QSize(widthPx, heightPx), devicePixelRatio, QColor(groundRgb));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);

    drawHeading(painter, headingFont(), headingLeftPx, headingCapTopPx);

    painter.setFont(byLineFont());
    painter.setPen(QColor(0x70, 0x70, 0x70));
    drawLines(painter, {byLine()}, textLeftPx, byLineTopPx, 0);

    painter.setFont(bodyFont());
    painter.setPen(Qt::black);
    drawLines(painter, textLines(), textLeftPx, bodyTopPx, bodyLinePitchPx);
    return picture;
}

}  // namespace lyravox::ui
