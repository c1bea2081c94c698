#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace lyravox::ui {

// The program itself as assistive technology sees it: Qt 6.4 describes an application by the full
// path of its binary, which says nothing to the user and tells where it was installed; this one
// describes what the program does. Registered with QAccessible::installFactory before the first
// window is made, as the interface is made once and kept.
QAccessibleInterface* applicationAccessible(const QString& className, QObject* object);

}  // namespace lyravox::ui
