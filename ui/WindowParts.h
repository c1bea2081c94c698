#pragma once

#include <Qt>

class QLabel;
class QPixmap;
class QString;
class QWidget;

namespace lyravox::ui {

// The program's windows share one frame: a title bar with the window menu and the close box, and
// neither a minimize nor a maximize box, since their layouts are fixed. `type` is Qt::Window or
// Qt::Dialog.
Qt::WindowFlags fixedWindowFlags(Qt::WindowType type);

// A picture shown at its natural size in the window's top-left corner. Its text, which is part of
// the image, is given to assistive technology as the description.
QLabel* addPicture(QWidget* window, const QString& objectName, const QPixmap& picture,
                   const QString& accessibleName, const QString& description);

}  // namespace lyravox::ui
