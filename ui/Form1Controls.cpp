#include "ui/Form1Controls.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

namespace lyravox::ui {
namespace {

std::size_t indexOf(playback::OptionButton option) {
    return static_cast<std::size_t>(option) - 1;
}

}  // namespace

bool Form1Controls::isSelected(playback::OptionButton option) const {
    return widgets_.options.at(indexOf(option))->isChecked();
}

void Form1Controls::select(playback::OptionButton option) {
    // The radios are auto-exclusive within their frame, so this clears the rest of the group.
    widgets_.options.at(indexOf(option))->setChecked(true);
}

int Form1Controls::check1() const {
    switch (widgets_.check1->checkState()) {
        case Qt::Unchecked:
            return playback::kUnchecked;
        case Qt::Checked:
            return playback::kChecked;
        case Qt::PartiallyChecked:
            break;
    }
    return 2;
}

void Form1Controls::setCheck1(int value) {
    widgets_.check1->setCheckState(value == playback::kUnchecked ? Qt::Unchecked
                                   : value == playback::kChecked ? Qt::Checked
                                                                 : Qt::PartiallyChecked);
}

void Form1Controls::setCommandEnabled(int commandNumber, bool enabled) {
    widgets_.commands.at(static_cast<std::size_t>(commandNumber - 1))->setEnabled(enabled);
}

}  // namespace lyravox::ui
