#include "ui/PictureText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace lyravox::ui {

QFont preferredFont(const QStringList& families, QFont::StyleHint fallbackStyle) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(fallbackStyle);
    return font;
}

int widestLinePx(const QFont& font, const QStringList& lines) {
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QString& line : lines) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    return widest;
}

QFont fitFontToWidth(QFont font, const QStringList& lines, int maxWidthPx, int minPixelSize) {
    for (int size = font.pixelSize(); size > minPixelSize; --size) {
        font.setPixelSize(size);
        if (widestLinePx(font, lines) <= maxWidthPx) {
            return font;
        }
    }
    font.setPixelSize(std::max(minPixelSize, 1));
    // Smaller type than this is unreadable: set the letters tighter instead, the one narrowing
    // that every font engine honours.
    for (qreal spacing = -0.25; widestLinePx(font, lines) > maxWidthPx && spacing >= -4.0;
         spacing -= 0.25) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    return font;
}

QFont fontWithCapHeight(QFont font, int capHeightPx) {
    constexpr int probeSizePx = 100;
    font.setPixelSize(probeSizePx);
    const qreal capHeightAtProbe = QFontMetricsF(font).capHeight();
    if (capHeightAtProbe <= 0) {
        font.setPixelSize(capHeightPx * 4 / 3);  // typical cap height of a sans-serif face
        return font;
    }
    font.setPixelSize(std::max(
            1, static_cast<int>(std::lround(capHeightPx * probeSizePx / capHeightAtProbe))));
    return font;
}

QFont headingFont(int capHeightPx, int maxWidthPx) {
    QFont font = preferredFont({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica")},
                               QFont::SansSerif);
    font.setWeight(QFont::Black);
    font = fontWithCapHeight(font, capHeightPx);
    return fitFontToWidth(font, {QString::fromLatin1(headingText)}, maxWidthPx, capHeightPx / 2);
}

void drawLines(QPainter& painter, const QStringList& lines, int leftPx, int topPx, int pitchPx) {
    const int ascent = QFontMetrics(painter.font()).ascent();
    for (int i = 0; i < lines.size(); ++i) {
        painter.drawText(QPoint(leftPx, topPx + i * pitchPx + ascent), lines[i]);
    }
}

void drawHeading(QPainter& painter, const QFont& font, qreal leftPx, int capTopPx) {
    painter.setFont(font);
    painter.drawText(QPointF(leftPx, capTopPx + QFontMetricsF(font).capHeight()),
                     QString::fromLatin1(headingText));
}

}  // namespace lyravox::ui
