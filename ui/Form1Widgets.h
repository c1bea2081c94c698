#pragma once

#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QWidget;

namespace lyravox::ui {

class BannerPicture;

// The main window's controls, all children of its client area; index 0 holds `Command1`,
// `Option1`, `Frame1` and so on.
struct Form1Widgets {
    std::array<QPushButton*, 8> commands{};
    QPushButton* alle = nullptr;
    std::array<QRadioButton*, 7> options{};
    std::array<QGroupBox*, 4> frames{};
    QCheckBox* check1 = nullptr;
    BannerPicture* picture1 = nullptr;
};

// Places every control of the main window on `clientArea` (358 × 298 px) with its name, caption,
// tooltip, container and geometry, and sets the tab order. No option is selected yet: that is the
// load handler's job.
Form1Widgets buildForm1Widgets(QWidget* clientArea);

}  // namespace lyravox::ui
