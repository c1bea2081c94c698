#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace lyravox::ui {

// A menu entry as assistive technology sees it. Qt 6.4's own menu entries give a screen reader
// only their text and shortcut; these also give the action's status tip as the description, so
// that each entry says what it does. Registered with QAccessible::installFactory; it answers for
// actions shown in a menu or menu bar.
QAccessibleInterface* menuItemAccessible(const QString& className, QObject* object);

}  // namespace lyravox::ui
