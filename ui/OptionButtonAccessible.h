#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace lyravox::ui {

// An option button inside a frame as assistive technology sees it. Qt 6.4 labels such a button
// with its frame's title as well as placing it inside the frame, so a screen reader says the
// frame's name twice on entering the group ("Rests panel. Rests. Short rest") and once more on
// every arrow key within it; here the frame is only the button's container, named once on entry.
// Registered with QAccessible::installFactory.
QAccessibleInterface* optionButtonAccessible(const QString& className, QObject* object);

}  // namespace lyravox::ui
