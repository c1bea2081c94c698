#pragma once

#include <Qt>

class QLabel;
class QPixmap;
class QRect;
class QString;
class QWidget;

namespace lyravox::ui {

// The program's windows share one frame: a title bar with the window menu and the close box, and
// neither a minimize nor a maximize box, since their layouts are fixed. `type` is Qt::Window or
// Qt::Dialog.
Qt::WindowFlags fixedWindowFlags(Qt::WindowType type);

// Text that `picture` draws, given to assistive technology as a static text at the place where
// the picture draws it. It lies just under the picture, which hides it from the eye; texts added
// one after another are read in that order.
void addTextUnderPicture(QLabel* picture, const QString& text, const QRect& drawnAt);

// Shows `picture` at its natural size in the top-left corner of `label`'s window.
void showPicture(QLabel* label, const QPixmap& picture);

// A picture shown at its natural size in the window's top-left corner, with the name and the
// description by which assistive technology presents it.
QLabel* addPicture(QWidget* window, const QString& objectName, const QPixmap& picture,
                   const QString& accessibleName, const QString& description);

}  // namespace lyravox::ui
