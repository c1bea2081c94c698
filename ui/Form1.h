#pragma once

// Architecture: the windows (main window, help, about) and their SVG artwork. Windows forward
// user actions to the playback logic and show its state; they hold no playback rules themselves.

#include <QMainWindow>

class QAction;

class Form1 : public QMainWindow {
    Q_OBJECT

public:
    // Client area including the 19 px menu bar, so the central area is 358 × 298.
    static constexpr int widthPx = 358;
    static constexpr int heightPx = 317;

    explicit Form1(QWidget* parent = nullptr);

    QAction* exitAction() const { return m_exitAction; }

private:
    QAction* m_exitAction = nullptr;  // owned by the File menu
};
