#pragma once

#include "playback/controls.h"
#include "ui/Form1Widgets.h"

namespace lyravox::ui {

// The playback logic's view of the main window's controls, read and set on the widgets themselves
// so that what the user sees is always what the logic works with.
class Form1Controls final : public playback::Controls {
public:
    explicit Form1Controls(const Form1Widgets& widgets) : widgets_(widgets) {}

    bool isSelected(playback::OptionButton option) const override;
    void select(playback::OptionButton option) override;
    int check1() const override;
    void setCheck1(int value) override;
    void setCommandEnabled(int commandNumber, bool enabled) override;

private:
    const Form1Widgets& widgets_;
};

}  // namespace lyravox::ui
