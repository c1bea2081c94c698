#include "ui/PlayAllStatus.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QPushButton>

#include <algorithm>

namespace lyravox::ui {
namespace {

// A screen reader speaks a notification when it appears; a status whose name changes it reads
// only while it has the focus, which this one never takes.
QAccessibleInterface* statusAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(PlayAllStatus::staticMetaObject.className())) {
        return nullptr;
    }
    auto* status = qobject_cast<PlayAllStatus*>(object);
    return status != nullptr ? new QAccessibleWidget(status, QAccessible::Notification) : nullptr;
}

}  // namespace

PlayAllStatus::PlayAllStatus(QWidget* parent, const std::array<QPushButton*, 8>& soundButtons)
    : QWidget(parent)
    , m_soundButtons(soundButtons) {
    static const bool announced = (QAccessible::installFactory(&statusAccessible), true);
    Q_UNUSED(announced);
    setObjectName(QStringLiteral("playAllStatus"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // One pixel in a corner that nothing else uses; a plain widget paints nothing of its own.
    setGeometry(0, 0, 1, 1);
    for (QPushButton* button : m_soundButtons) {
        button->installEventFilter(this);
    }
    hide();
}

bool PlayAllStatus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !m_updatePending) {
        // Once the handler that changed them lets events run: a loop's unlock and lock with nothing
        // in between is no change.
        m_updatePending = true;
        QMetaObject::invokeMethod(this, &PlayAllStatus::update, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void PlayAllStatus::update() {
    m_updatePending = false;
    const bool playing =
            std::none_of(m_soundButtons.begin(), m_soundButtons.end(),
                         [](const QPushButton* button) { return button->isEnabled(); });
    if (playing == m_playing) {
        return;
    }
    m_playing = playing;
    // Shown anew, so that a screen reader presents the new message.
    hide();
    setAccessibleName(playing ? tr("Playing all strings") : tr("Finished playing all strings"));
    show();
}

}  // namespace lyravox::ui
