#pragma once

// Architecture: the windows (main window, help, about) and their SVG artwork. Windows forward
// user actions to the playback logic and show its state; they hold no playback rules themselves.

#include "playback/playback_control.h"
#include "ui/FailureBoundary.h"
#include "ui/Form1Controls.h"
#include "ui/Form1Widgets.h"

#include <QMainWindow>

#include <string>
#include <utility>

class QAction;

namespace lyravox::platform {
class RunTime;
}

namespace lyravox::sounds {
class ClipPlayback;
}

// The main window: the string, chord and play-all buttons, the two option groups, "Loop", the
// banner and the menu. Every action goes to a handler of the playback logic, which the window owns
// together with its view of the controls.
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    // Client area including the 19 px menu bar, so the central area is 358 × 298.
    static constexpr int widthPx = 358;
    static constexpr int heightPx = 317;

    // Runs the load handler, so the window is in its start state before it is first shown, and
    // centres it on the screen.
    Form1(lyravox::platform::RunTime& runTime, lyravox::sounds::ClipPlayback& player,
          QWidget* parent = nullptr);

    const lyravox::ui::Form1Widgets& widgets() const { return m_widgets; }
    const lyravox::playback::PlaybackControl& playback() const { return m_playback; }
    QAction* exitAction() const { return m_exitAction; }
    QAction* helpWindowAction() const { return m_helpWindowAction; }
    QAction* aboutAction() const { return m_aboutAction; }

protected:
    // The close box ends the program as "Exit" does, so no loop goes on without a window.
    void closeEvent(QCloseEvent* event) override;

private:
    // A slot that runs `handler` behind the failure boundary: a fault ends the program, with the
    // waiting handlers, with a non-zero status.
    template <typename Handler>
    auto guarded(std::string action, Handler handler) {
        return [this, action = std::move(action), handler] {
            lyravox::ui::runGuarded(action, handler,
                                    [this](int exitStatus) { m_playback.endProgram(exitStatus); });
        };
    }

    void buildMenu();
    void connectHandlers();
    void centreOnScreen();

    void Help_window_Click();
    void About_Click();
    void Picture1_Click();

    lyravox::ui::Form1Widgets m_widgets;
    lyravox::ui::Form1Controls m_controls{m_widgets};
    lyravox::playback::PlaybackControl m_playback;
    QAction* m_exitAction = nullptr;        // owned by the File menu
    QAction* m_helpWindowAction = nullptr;  // owned by the Help menu
    QAction* m_aboutAction = nullptr;       // owned by the Help menu
};
