#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QStringList>

namespace lyravox::ui {

// The help window's whole content: guitar artwork with the help text drawn over it. The text is
// drawn from the strings kept here, so what the window shows is exactly what the code holds and
// what a screen reader is given.
class HelpPicture {
public:
    static constexpr int widthPx = 292;
    static constexpr int heightPx = 347;
    static constexpr QRgb groundRgb = qRgb(255, 255, 223);

    static constexpr int textLeftPx = 8;
    static constexpr int byLineTopPx = 43;
    static constexpr int bodyTopPx = 64;
    static constexpr int bodyLinePitchPx = 12;
    // Room kept free at the right so the text does not touch the picture's edge.
    static constexpr int textRightMarginPx = 4;

    // The line under the heading that names the authors.
    static QString byLine();
    // The help text's body, one string per line, blank lines included.
    static QStringList textLines();
    // By-line and body, one string per drawn line, as a screen reader reads them.
    static QStringList readableLines();
    // readableLines() joined by line breaks.
    static QString plainText();
    // Where the characters of readableLines()'s line `line` are drawn, one rectangle per
    // character and one more for the place after the last.
    static QList<QRect> characterRects(int line);

    static QFont headingFont();
    static QFont byLineFont();
    static QFont bodyFont();

    // The picture at widthPx × heightPx logical pixels.
    static QPixmap render(qreal devicePixelRatio);
};

}  // namespace lyravox::ui
