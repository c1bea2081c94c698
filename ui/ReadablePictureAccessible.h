#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace lyravox::ui {

// A ReadablePicture as assistive technology sees it: a read-only multi-line text with a caret,
// whose lines and characters a screen reader reads, rather than an image whose text it cannot
// reach. Registered with QAccessible::installFactory.
QAccessibleInterface* readablePictureAccessible(const QString& className, QObject* object);

}  // namespace lyravox::ui
