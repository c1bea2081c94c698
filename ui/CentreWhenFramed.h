#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QWidget;

namespace lyravox::ui {

// Centres a top-level window's frame, title bar included, on a point, once: as soon as the window
// manager has put its frame around the shown window, which is the first moment the frame's size
// is known. Until then the window stands where it was placed by its client area; without a window
// manager (or a frame) it stays there. Owned by the window; removes itself once done.
class CentreWhenFramed final : public QObject {
public:
    // `centre` is asked at the moment of moving, so it can follow another window's frame.
    CentreWhenFramed(QWidget* window, std::function<QPoint()> centre);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    std::function<QPoint()> centre_;
};

}  // namespace lyravox::ui
