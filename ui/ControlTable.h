#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace lyravox::ui {

enum class Kind { Button, Frame, Option, CheckBox, Picture };

// One control as the window was designed: positions in twips, Left and Top measured from the
// container (the client area, or the frame's outer top-left corner, which is where a QGroupBox's
// children are measured from too).
struct ControlRow {
    std::string_view name;
    Kind kind;
    std::string_view container;  // Empty: the client area.
    const char* caption;
    const char* toolTip;
    int left, top, width, height;
};

// How many numbered controls of each kind the window holds: `Command1` … `Command8` and so on.
struct NumberedControls {
    std::size_t commands, options, frames;
};

// Where a numbered control's prefix is followed by its number ("Command3", "Command" → 3): that
// number, else 0.
constexpr std::size_t numberAfter(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name[prefix.size()] == '0')
        return 0;
    std::size_t number = 0;
    for (const char digit : name.substr(prefix.size())) {
        if (digit < '0' || digit > '9')
            return 0;
        number = number * 10 + static_cast<std::size_t>(digit - '0');
    }
    return number;
}

// What is wrong with a control table, and with which name.
struct TableFault {
    std::string_view name;
    std::string_view problem;
};

namespace detail {

constexpr const ControlRow* findRow(std::span<const ControlRow> rows, std::string_view name) {
    for (const ControlRow& row : rows) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

// What a numbered control's name begins with, and how many of its kind there are; empty for the
// controls that are not numbered ("alle", "Check1", "Picture1").
constexpr std::string_view numberedPrefix(const ControlRow& row, NumberedControls counts,
                                          std::size_t& count) {
    switch (row.kind) {
        case Kind::Button:
            count = counts.commands;
            return row.name == "alle" ? std::string_view() : "Command";
        case Kind::Option:
            count = counts.options;
            return "Option";
        case Kind::Frame:
            count = counts.frames;
            return "Frame";
        case Kind::CheckBox:
        case Kind::Picture:
            break;
    }
    count = 0;
    return {};
}

}  // namespace detail

// Checks a control table as the compiler reads it, so that a mistyped name fails the build
// instead of making a stray top-level window or a null control: every name is unique; every
// container is a frame listed before its contents; numbered controls are named Command1 …,
// Option1 …, Frame1 … within the counts, each number once; every name in `alsoNamed` (the tab
// order, the spoken texts) is a control of the table.
constexpr std::optional<TableFault> findTableFault(std::span<const ControlRow> rows,
                                                   NumberedControls counts,
                                                   std::span<const std::string_view> alsoNamed) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ControlRow& row = rows[i];
        const std::span<const ControlRow> before = rows.first(i);
        if (detail::findRow(before, row.name) != nullptr)
            return TableFault{row.name, "is listed twice"};
        if (!row.container.empty()) {
            const ControlRow* container = detail::findRow(before, row.container);
            if (container == nullptr || container->kind != Kind::Frame)
                return TableFault{row.container, "is no frame listed before its contents"};
        }
        std::size_t count = 0;
        const std::string_view prefix = detail::numberedPrefix(row, counts, count);
        const std::size_t number = numberAfter(row.name, prefix);
        if (!prefix.empty() && (number < 1 || number > count))
            return TableFault{row.name, "is not a name this kind of control can have"};
    }
    for (const std::string_view name : alsoNamed) {
        if (detail::findRow(rows, name) == nullptr)
            return TableFault{name, "is no control of the table"};
    }
    return std::nullopt;
}

}  // namespace lyravox::ui
