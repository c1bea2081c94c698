#include "ui/CentreWhenFramed.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace lyravox::ui {

CentreWhenFramed::CentreWhenFramed(QWidget* window, std::function<QPoint()> centre)
    : QObject(window)
    , window_(window)
    , centre_(std::move(centre)) {
    window->installEventFilter(this);
}

bool CentreWhenFramed::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        // The window manager's reparenting moves the client area; the margins are known then.
        case QEvent::Move:
        case QEvent::Show:
        case QEvent::UpdateRequest:
            break;
        default:
            return QObject::eventFilter(watched, event);
    }
    const QWindow* handle = window_->windowHandle();
    if (window_->isVisible() && handle != nullptr && !handle->frameMargins().isNull()) {
        window_->removeEventFilter(this);
        QRect frame = window_->frameGeometry();
        frame.moveCenter(centre_());
        // move() places the frame, where setGeometry() would place the client area.
        window_->move(frame.topLeft());
        deleteLater();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lyravox::ui
