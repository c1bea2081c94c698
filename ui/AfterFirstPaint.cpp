#include "ui/AfterFirstPaint.h"

#include "ui/FailureBoundary.h"

#include <QCoreApplication>
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
        QTimer::singleShot(0, this, [action = std::exchange(action_, {})] {
            runGuarded("the start-up work after the first paint", action,
                       [](int exitStatus) { QCoreApplication::exit(exitStatus); });
        });
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lyravox::ui
