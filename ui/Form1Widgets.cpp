#include "ui/Form1Widgets.h"

#include "ui/BannerPicture.h"
#include "ui/ControlTable.h"
#include "ui/FrameStyle.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>

namespace lyravox::ui {
namespace {

// In the window's own order, which puts every frame before its contents; it is also the stacking
// order.
constexpr ControlRow kControls[] = {
        {"Picture1", Kind::Picture, "", "", "", 2880, 2580, 2235, 1035},
        {"Command6", Kind::Button, "", "E", "Push to play the E string", 4598, 3780, 555, 555},
        {"Command5", Kind::Button, "", "B", "Push to play the B string", 3722, 3780, 555, 555},
        {"Command4", Kind::Button, "", "G", "Push to play the G string", 2880, 3780, 555, 555},
        {"Command3", Kind::Button, "", "D", "Push to play the D string", 1970, 3780, 555, 555},
        {"Frame3", Kind::Frame, "", "Chords", "Play a Chord", 240, 2460, 2235, 1155},
        {"Command8", Kind::Button, "Frame3", "G Major", "Push to play the G Major Chord", 540, 720,
         1215, 315},
        {"Command7", Kind::Button, "Frame3", "E Major", "Push to play the E Major Chord", 540, 300,
         1215, 315},
        {"Frame2", Kind::Frame, "", "General", "General ", 2880, 180, 2235, 2115},
        {"Check1", Kind::CheckBox, "Frame2", "Loop", "Click here to play endless again", 240, 240,
         855, 375},
        {"Frame4", Kind::Frame, "Frame2", "Rests", "Rest between the notes", 240, 660, 1755, 1275},
        {"Option7", Kind::Option, "Frame4", "long", "Play a long rest between the notes", 180, 900,
         855, 255},
        {"Option6", Kind::Option, "Frame4", "middle", "Play a middle rest between the notes", 180,
         540, 855, 255},
        {"Option5", Kind::Option, "Frame4", "short", "Play a short rest between the notes", 180,
         180, 855, 255},
        {"Frame1", Kind::Frame, "", "Play every String", "Set how often every string gets played",
         240, 180, 2235, 2115},
        {"alle", Kind::Button, "Frame1", "Play All Strings", "Push to play all the strings", 240,
         1500, 1755, 435},
        {"Option1", Kind::Option, "Frame1", "1 x", "Play every string one time", 300, 240, 915,
         195},
        {"Option2", Kind::Option, "Frame1", "3 x", "Play every string three times", 300, 540, 855,
         195},
        {"Option3", Kind::Option, "Frame1", "5 x", "Play every string five times", 300, 840, 915,
         195},
        {"Option4", Kind::Option, "Frame1", "8 x", "Play every string eight times", 300, 1140, 855,
         255},
        {"Command2", Kind::Button, "", "A", "Push to play the A string", 1094, 3780, 555, 555},
        {"Command1", Kind::Button, "", "E", "Push to play the E string", 218, 3780, 555, 555},
};

// Tab index 0 upwards. Frames are listed as designed, though they never take the focus.
constexpr std::string_view kTabOrder[] = {
        "Command1", "Command2", "Frame1",   "Option4", "Option3",  "Option2",
        "Option1",  "alle",     "Frame2",   "Frame3",  "Command3", "Command4",
        "Command5", "Command6", "Frame4",   "Option5", "Option6",  "Option7",
        "Command7", "Command8", "Picture1", "Check1",
};

// What a screen reader says where the caption or tooltip alone is ambiguous or cryptic when
// heard out of the window's visual layout: two buttons are both "E", "3 x" or "short" name
// nothing, and the "General" frame's tooltip only repeats its title. Null keeps Qt's default: the
// caption as name, the tooltip as description.
struct SpokenText {
    std::string_view control;
    const char* name;
    const char* description;
};

constexpr SpokenText kSpokenTexts[] = {
        {"Command1", "Low E string", "Push to play the low E string"},
        {"Command2", "A string", nullptr},
        {"Command3", "D string", nullptr},
        {"Command4", "G string", nullptr},
        {"Command5", "B string", nullptr},
        {"Command6", "High E string", "Push to play the high E string"},
        {"Option1", "1 time", nullptr},
        {"Option2", "3 times", nullptr},
        {"Option3", "5 times", nullptr},
        {"Option4", "8 times", nullptr},
        {"Option5", "Short rest", nullptr},
        {"Option6", "Middle rest", nullptr},
        {"Option7", "Long rest", nullptr},
        {"Frame2", nullptr, "Loop the sounds, and set the rests between the notes"},
};

constexpr NumberedControls kNumbered{
        std::tuple_size_v<decltype(Form1Widgets::commands)>,
        std::tuple_size_v<decltype(Form1Widgets::options)>,
        std::tuple_size_v<decltype(Form1Widgets::frames)>,
};

constexpr auto kNamesOutsideTheTable = [] {
    std::array<std::string_view, std::size(kTabOrder) + std::size(kSpokenTexts)> names{};
    std::size_t next = 0;
    for (const std::string_view name : kTabOrder)
        names[next++] = name;
    for (const SpokenText& spoken : kSpokenTexts)
        names[next++] = spoken.control;
    return names;
}();

// A mistyped name stops the build here; ControlTable.h says what is checked.
static_assert(!findTableFault(kControls, kNumbered, kNamesOutsideTheTable),
              "the main window's control table names a control or container that does not exist");

// 15 twips to the pixel at 96 dpi; halves round up, so 4598 twips are 307 px.
constexpr int pixels(int twips) {
    return (twips * 2 + 15) / 30;
}

QString text(std::string_view latin1) {
    return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

// `Command3` with the prefix "Command" → 2: where it goes in its array.
std::size_t indexAfter(std::string_view name, std::string_view prefix) {
    return numberAfter(name, prefix) - 1;
}

// The control of this name, made before; the table is checked as it compiles, so this finds every
// name it is asked for.
QWidget* namedControl(QWidget* clientArea, std::string_view name) {
    auto* control = clientArea->findChild<QWidget*>(text(name));
    if (control == nullptr)
        throw std::logic_error("the main window has no control named " + std::string(name));
    return control;
}

QWidget* makeControl(const ControlRow& row, QWidget* container, Form1Widgets& widgets) {
    switch (row.kind) {
        case Kind::Button: {
            auto* button = new QPushButton(QString::fromLatin1(row.caption), container);
            // Enter and Escape belong to no button here.
            button->setAutoDefault(false);
            if (row.name == "alle") {
                widgets.alle = button;
            } else {
                widgets.commands.at(indexAfter(row.name, "Command")) = button;
            }
            return button;
        }
        case Kind::Frame: {
            auto* frame = new QGroupBox(QString::fromLatin1(row.caption), container);
            frame->setStyle(frameStyle());
            // A nested frame would otherwise be announced under its outer frame's title.
            frame->setAccessibleName(frame->title());
            widgets.frames.at(indexAfter(row.name, "Frame")) = frame;
            return frame;
        }
        case Kind::Option: {
            auto* option = new QRadioButton(QString::fromLatin1(row.caption), container);
            widgets.options.at(indexAfter(row.name, "Option")) = option;
            return option;
        }
        case Kind::CheckBox:
            widgets.check1 = new QCheckBox(QString::fromLatin1(row.caption), container);
            return widgets.check1;
        case Kind::Picture:
            widgets.picture1 = new BannerPicture(container);
            return widgets.picture1;
    }
    return nullptr;
}

// Option buttons and the check box grow to show their whole caption in the desktop's font, right
// and down from where the table places them, within their frame's contents: the table's widths
// were made for a narrower font.
void showWholeCaption(QWidget* control) {
    const QRect room = control->parentWidget()->contentsRect();
    QRect placed = control->geometry();
    const QSize wanted = control->sizeHint().expandedTo(placed.size());
    placed.setSize(wanted.boundedTo(
            QSize(room.right() - placed.left() + 1, room.bottom() - placed.top() + 1)));
    control->setGeometry(placed);
}

// Qt makes a group of radios one tab stop but puts it on whichever radio had the focus last, or
// the first of the chain; the selected option must be the stop, also after the selection moves.
// Unchecked radios keep click focus, and the arrow keys still move within the group.
void makeSelectedOptionTheTabStop(QRadioButton* option) {
    const auto update = [option](bool checked) {
        option->setFocusPolicy(
                checked ? Qt::StrongFocus
                        : static_cast<Qt::FocusPolicy>(Qt::StrongFocus & ~Qt::TabFocus));
    };
    update(option->isChecked());
    QObject::connect(option, &QRadioButton::toggled, option, update);
}

}  // namespace

Form1Widgets buildForm1Widgets(QWidget* clientArea) {
    Form1Widgets widgets;
    for (const ControlRow& row : kControls) {
        QWidget* container = clientArea;
        if (!row.container.empty()) {
            container = namedControl(clientArea, row.container);
        }
        QWidget* control = makeControl(row, container, widgets);
        control->setObjectName(text(row.name));
        control->setToolTip(QString::fromLatin1(row.toolTip));
        control->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width),
                             pixels(row.height));
        if (row.kind == Kind::Option || row.kind == Kind::CheckBox) {
            showWholeCaption(control);
        }
    }
    for (const SpokenText& spoken : kSpokenTexts) {
        QWidget* control = namedControl(clientArea, spoken.control);
        if (spoken.name != nullptr) {
            control->setAccessibleName(QString::fromLatin1(spoken.name));
        }
        if (spoken.description != nullptr) {
            control->setAccessibleDescription(QString::fromLatin1(spoken.description));
        }
    }
    for (QRadioButton* option : widgets.options) {
        makeSelectedOptionTheTabStop(option);
    }

    QWidget* previous = nullptr;
    for (std::string_view name : kTabOrder) {
        QWidget* control = namedControl(clientArea, name);
        if (control->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, control);
        }
        previous = control;
    }
    return widgets;
}

}  // namespace lyravox::ui
