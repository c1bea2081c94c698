#pragma once

#include <QObject>

#include <functional>

namespace lyravox::ui {

// Runs an action once the watched window has painted for the first time, so that slow start-up
// work (opening the sound device) does not keep the window from appearing.
class AfterFirstPaint final : public QObject {
public:
    AfterFirstPaint(QObject* watched, std::function<void()> action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> action_;
};

}  // namespace lyravox::ui
