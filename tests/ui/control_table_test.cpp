#include "ui/ControlTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace lyravox::ui {
namespace {

struct TableCase {
    const char* title;
    std::vector<ControlRow> rows;
    std::vector<std::string_view> alsoNamed;
    std::optional<std::string_view> faultyName;  // none: the table is sound
};

void PrintTo(const TableCase& c, std::ostream* out) {
    *out << c.title;
}

constexpr NumberedControls kCounts{2, 2, 2};

ControlRow row(std::string_view name, Kind kind, std::string_view container = "") {
    return {name, kind, container, "", "", 0, 0, 10, 10};
}

class ControlTableTest : public testing::TestWithParam<TableCase> {};

TEST_P(ControlTableTest, NamesTheFaultyControl) {
    const TableCase& c = GetParam();
    const std::optional<TableFault> fault = findTableFault(c.rows, kCounts, c.alsoNamed);
    ASSERT_EQ(fault.has_value(), c.faultyName.has_value());
    if (fault) {
        EXPECT_EQ(fault->name, *c.faultyName);
        EXPECT_FALSE(fault->problem.empty());
    }
}

const Kind F = Kind::Frame, O = Kind::Option, B = Kind::Button;

INSTANTIATE_TEST_SUITE_P(
        Tables, ControlTableTest,
        testing::Values(
                TableCase{"sound",
                          {row("Frame1", F), row("Option1", O, "Frame1"), row("Command2", B),
                           row("alle", B, "Frame1"), row("Check1", Kind::CheckBox, "Frame1")},
                          {"Option1", "alle"},
                          std::nullopt},
                TableCase{"mistyped container",
                          {row("Frame1", F), row("Option1", O, "Fram1")},
                          {},
                          "Fram1"},
                TableCase{"container listed after its contents",
                          {row("Option1", O, "Frame1"), row("Frame1", F)},
                          {},
                          "Frame1"},
                TableCase{"container that is no frame",
                          {row("Command1", B), row("Option1", O, "Command1")},
                          {},
                          "Command1"},
                TableCase{"name listed twice",
                          {row("Command1", B), row("Command1", B)},
                          {},
                          "Command1"},
                TableCase{"mistyped button", {row("Comand1", B)}, {}, "Comand1"},
                TableCase{"number beyond the count", {row("Option3", O)}, {}, "Option3"},
                TableCase{"number zero", {row("Frame0", F)}, {}, "Frame0"},
                TableCase{"letters after the number", {row("Command1a", B)}, {}, "Command1a"},
                TableCase{"unknown name in the tab order",
                          {row("Command1", B)},
                          {"Command1", "Commnd2"},
                          "Commnd2"}),
        [](const testing::TestParamInfo<TableCase>& info) {
            std::string name = info.param.title;
            for (char& c : name) {
                if (c == ' ')
                    c = '_';
            }
            return name;
        });

TEST(ControlTable, NumberAfterThePrefix) {
    EXPECT_EQ(numberAfter("Command8", "Command"), 8u);
    EXPECT_EQ(numberAfter("Option12", "Option"), 12u);
    EXPECT_EQ(numberAfter("Option", "Option"), 0u);
    EXPECT_EQ(numberAfter("Frame1", "Option"), 0u);
}

}  // namespace
}  // namespace lyravox::ui
