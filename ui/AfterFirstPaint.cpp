#include "ui/AfterFirstPaint.h"

#include <QEvent>
#include <QTimer>

#include <utility>

namespace lyravox::ui {

AfterFirstPaint::AfterFirstPaint(QObject* watched, std::function<void()> action)
    : QObject(watched)
    , action_(std::move(action)) {
    watched->installEventFilter(this);
}

bool AfterFirstPaint::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && action_) {
        watched->removeEventFilter(this);
        // Queued, so the paint in progress reaches the screen first.
        QTimer::singleShot(0, this, std::exchange(action_, {}));
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lyravox::ui
