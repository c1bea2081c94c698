#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about window: modal, so a handler that opens it waits until the user has read it and every
// other window is blocked meanwhile. Built anew, centred over its owner, each time it is shown.
class Form3 : public QDialog {
    Q_OBJECT

public:
    static constexpr int widthPx = 274;
    static constexpr int heightPx = 309;

    // `over` is the window to centre over and to stay in front of (the main window); may be null,
    // then the window is centred on the primary screen.
    explicit Form3(QWidget* over);

    // Builds the about window over `over` and runs it modally: returns once it has been closed.
    // If an about window is open already, activates that one and returns at once.
    static void showAbout(QWidget* over);

    // The open about window, or nullptr.
    static Form3* openInstance();

    QPushButton* command1() const { return m_command1; }
    QLabel* picture() const { return m_picture; }

protected:
    // Escape does not close this window: only "Aha, Yes..." and the close box do.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Command1_Click();
    void centreOver(const QWidget* over);

    QLabel* m_picture = nullptr;        // child
    QPushButton* m_command1 = nullptr;  // child
};
