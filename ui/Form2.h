#pragma once

#include <QWidget>

namespace lyravox::ui {
class ReadablePicture;
}

// The help window: one picture carrying the help text. It blocks nothing and has no owner, so the
// user can read it while sounds play; there is never more than one.
class Form2 : public QWidget {
    Q_OBJECT

public:
    // Client area: the 292 px help picture plus one column of the tooltip background.
    static constexpr int widthPx = 293;
    static constexpr int heightPx = 347;
    // Where the client area opens on the screen, every time the window is built: with a 3 px
    // border and a 19 px title bar the frame starts at the screen's top-left corner.
    static constexpr int startLeftPx = 3;
    static constexpr int startTopPx = 22;

    // Builds the help window at its start position and activates it, or, when it is open already,
    // brings that one to the front where it stands. Returns at once.
    static Form2* showHelp();

    // The open help window, or nullptr.
    static Form2* openInstance();

    lyravox::ui::ReadablePicture* picture() const { return m_picture; }

private:
    Form2();

    lyravox::ui::ReadablePicture* m_picture = nullptr;  // child
};
