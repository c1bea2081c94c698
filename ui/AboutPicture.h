#pragma once

#include <QFont>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QStringList>

namespace lyravox::ui {

// The about window's picture: the program's name, its authors, the terms of use and the addresses,
// beside three guitars. Like the help picture, its text is drawn from the strings kept here.
class AboutPicture {
public:
    // Three rows taller than the about window's client area, which hides them.
    static constexpr int widthPx = 274;
    static constexpr int heightPx = 312;

    static constexpr int noticeLeftPx = 148;
    static constexpr int noticeTopPx = 70;
    static constexpr int noticeLinePitchPx = 10;
    static constexpr int textRightMarginPx = 4;

    static QString byLine();
    // The terms of use and distribution, one string per drawn line.
    static QStringList noticeLines();
    static QString webAddress();
    static QString mailAddress();
    // One passage of the picture's text as a screen reader reads it, and where it is drawn.
    struct Passage {
        QString text;
        QRect drawnAt;
    };
    // The heading with the by-line, the notice, the web address, the e-mail address, in reading
    // order. The addresses are named, as a bare address read out says nothing of what it is.
    static QList<Passage> passages();

    static QFont headingFont();
    static QFont byLineFont();
    static QFont noticeFont();
    static QFont addressFont();

    static QPixmap render(qreal devicePixelRatio);
};

}  // namespace lyravox::ui
