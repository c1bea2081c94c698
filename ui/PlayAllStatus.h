#pragma once

#include <QString>
#include <QWidget>

#include <array>

class QPushButton;

namespace lyravox::ui {

// What the eye reads from the locked sound buttons while "Play All Strings" plays, told to a screen
// reader: a notification that says "Playing all strings" when the buttons lock and "Finished
// playing all strings" when they unlock. It draws nothing and takes no input, so the window looks
// and behaves exactly as without it. It follows the buttons rather than the playback logic, so it
// says what the user can do: a loop that unlocks and locks them again at once stays "playing".
class PlayAllStatus : public QWidget {
    Q_OBJECT

public:
    PlayAllStatus(QWidget* parent, const std::array<QPushButton*, 8>& soundButtons);

    bool isPlaying() const { return m_playing; }
    // What a screen reader was told last; empty before the first play-all.
    QString announcement() const { return accessibleName(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    std::array<QPushButton*, 8> m_soundButtons;
    bool m_playing = false;
    bool m_updatePending = false;
};

}  // namespace lyravox::ui
