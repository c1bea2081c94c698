#pragma once

#include <QColor>
#include <QPixmap>

class QIcon;
class QSize;
class QString;

namespace lyravox::ui {

// Artwork is vector data compiled into the program and drawn at the exact pixel size it is shown
// at, times the device pixel ratio, so pictures stay sharp on high-density screens too.
//
// When a resource cannot be read, the result is the requested size filled with `fallback`, and a
// warning names the resource: a window missing its artwork is still usable.
QPixmap renderSvg(const QString& resourcePath, QSize sizePx, qreal devicePixelRatio,
                  const QColor& fallback = Qt::transparent);

// A red solid-body electric guitar lying diagonally; the icon of the main and about windows.
QIcon programIcon();

// A closed purple book with a yellow question mark, lying at a slant; the help window's icon.
QIcon helpIcon();

}  // namespace lyravox::ui
