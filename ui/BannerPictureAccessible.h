#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace lyravox::ui {

// The banner as assistive technology sees it: a picture (not an empty panel, which is what a plain
// QFrame is announced as) that can be pressed, since a click on it opens the About window.
// Registered with QAccessible::installFactory.
QAccessibleInterface* bannerPictureAccessible(const QString& className, QObject* object);

}  // namespace lyravox::ui
