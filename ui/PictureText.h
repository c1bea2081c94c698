#pragma once

#include <QFont>
#include <QStringList>

class QPainter;

namespace lyravox::ui {

// Text drawn into a picture of fixed size must fit it whatever fonts the system has: a family list
// only says what we hope for. Everything here measures the font the system actually resolves.

// The program's name as both pictures carry it, in heavy capitals.
inline constexpr char headingText[] = "LYRAVOX";

// A font of the first installed family of the list, else the system's face for the style.
QFont preferredFont(const QStringList& families, QFont::StyleHint fallbackStyle);

// Width in pixels of the widest line, set in `font`.
int widestLinePx(const QFont& font, const QStringList& lines);

// `font` at the largest pixel size, from its own down to `minPixelSize`, at which every line is at
// most `maxWidthPx` wide; at `minPixelSize` its letters are set tighter until they fit. `font`
// must be sized in pixels.
QFont fitFontToWidth(QFont font, const QStringList& lines, int maxWidthPx, int minPixelSize);

// `font` sized in pixels so that its capital letters are about `capHeightPx` tall.
QFont fontWithCapHeight(QFont font, int capHeightPx);

// The heading's heavy sans-serif, capitals about `capHeightPx` tall, at most `maxWidthPx` wide.
QFont headingFont(int capHeightPx, int maxWidthPx);

// Draws the lines in the painter's font, the first one's top at `topPx`, each next one `pitchPx`
// lower, all starting at `leftPx`.
void drawLines(QPainter& painter, const QStringList& lines, int leftPx, int topPx, int pitchPx);

// Draws the heading in `font` with the top of its capitals at `capTopPx`.
void drawHeading(QPainter& painter, const QFont& font, qreal leftPx, int capTopPx);

}  // namespace lyravox::ui
