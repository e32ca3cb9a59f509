// The data file reader and writer on their own: the number grammar, block
// results and what they leave in the grid, the written layout, and files
// that must not be lost.
#include "TableDataFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "DataFiles.h"
#include "MemoryTextGrid.h"
#include "engine/FakePorts.h"

namespace kelvorin {
namespace {

using namespace datafiles;
using Rows = std::vector<std::vector<std::string>>;
using Messages = std::vector<std::pair<std::string, std::string>>;

void Fill(TextGrid& grid, const Rows& rows) {
    grid.SetRowCount(int(rows.size()));
    grid.SetColCount(int(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) grid.SetCell(int(j), int(i), rows[i][j]);
}

class TableDataFileTest : public ::testing::Test {
protected:
    int Read(TextGrid& target, BlockTarget kind = BlockTarget::Table) {
        return ReadTableData(state, dialog, target, kind);
    }
    // Saves TABLE, as the table of the last run, with the weights WEIGHTROWS.
    bool Save(const Rows& table, const Rows& weightRows = {{""}}) {
        Fill(grid, table);
        Fill(weights, weightRows);
        state.Table.Rows = int(table.size());
        state.Table.Cols = int(table[0].size());
        return WriteTableData(state, dialog, grid, weights, messages);
    }

    fakes::TempDirectory dir;
    AnalysisState state;
    fakes::FakeFileDialog dialog;
    fakes::RecordingMessages messages;
    MemoryTextGrid grid, weights;
};

// Signs, decimals, text and 32-bit bounds, each line scanned into three values.
TEST_F(TableDataFileTest, ScannerGrammar) {
    const std::vector<std::tuple<std::string, std::vector<std::int32_t>, bool>> cases = {
        {"1.5 2.5", {1}, false}, {"1, 2, 3", {1}, false}, {"3-4", {3, -4}, false}, {"- 7", {}, false},
        {" \t+12\t-5 6x 9", {12, -5, 6}, false}, {"3+4--5", {3, 4}, false}, {"abc 5", {}, false},
        {"\xA0" "5", {}, false}, {"1 2 3 4", {1, 2, 3}, false},
        {"2147483647 -2147483648", {2147483647, -2147483647 - 1}, false},
        {"5 2147483648 6", {5}, true}, {"-2147483649", {}, true}, {"4294967297", {}, true},  // never wrapped
    };
    std::string text;
    for (const auto& c : cases) text += std::get<0>(c) + "\n";
    TextFile file;
    ASSERT_TRUE(file.Open(WriteFile(dir.File("scan.txt"), text), TextFile::Mode::Read));
    for (const auto& [line, expected, outOfRangeExpected] : cases) {
        std::int32_t values[3] = {};
        bool outOfRange = !outOfRangeExpected;
        const int n = ScanNumberLine(file, values, 3, outOfRange);
        EXPECT_EQ(std::vector<std::int32_t>(values, values + n), expected) << line;
        EXPECT_EQ(outOfRange, outOfRangeExpected) << line;
    }
}

// " %4d" per count; weights as typed, an empty one as 1; "to same file"
// appends, "to new file" asks and replaces. A row longer than any line
// buffer reads back whole.
TEST_F(TableDataFileTest, WritesFixedWidthLayout) {
    dialog.chosen = WriteFile(dir.File("out.dat"), "an older file\n");
    EXPECT_TRUE(Save({{"1", "2", "3"}, {"10", "20", "300"}}));
    EXPECT_EQ(Contents(dialog.chosen), "    1    2    3\n   10   20  300\n\n");
    EXPECT_TRUE(Save({{"5", "7", "9"}}, {{"1", "1", "2"}}));
    EXPECT_TRUE(Save({{"4"}, {"5"}}, {{"2"}, {" "}}));
    EXPECT_EQ(Contents(dialog.chosen),
              "    1    2    3\n   10   20  300\n\n    5    7    9\n\n 1 1 2\n\n    4\n    5\n\n2\n1\n\n");
    state.SaveFileName.clear();
    EXPECT_TRUE(Save({{" 007", "-5"}, {"+0", "12345"}}));
    EXPECT_EQ(dialog.executions, 2);
    EXPECT_EQ(Contents(dialog.chosen), "    7   -5\n    0 12345\n\n");

    const Rows wide = {std::vector<std::string>(60, "1234"), std::vector<std::string>(60, "-987")};
    EXPECT_TRUE(Save(wide));
    state.DataFileName = dialog.chosen;
    ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    EXPECT_EQ(Read(grid), 2);
    EXPECT_EQ(Read(grid), 2);
    EXPECT_EQ(grid.ColCount(), 60);
    EXPECT_EQ(grid.Cell(59, 0) + grid.Cell(59, 1), "1234-987");
    EXPECT_TRUE(messages.shown.empty());
}

// A count cell that is no whole number, or a lost column: its message, and
// nothing written.
TEST_F(TableDataFileTest, BadCountCellWritesNothing) {
    state.SaveFileName = WriteFile(dir.File("old.dat"), "    1\n\n");
    for (const std::string bad : {"x", "3.5", "", "12 ", "2147483648"}) EXPECT_FALSE(Save({{"1", "2", "3"}, {"4", "5", bad}}));
    EXPECT_EQ(messages.shown, Messages(5, {"Data error at (2,3).", "Error"}));
    Fill(grid, {{"1", "2"}});
    state.Table.Cols = 3;
    state.SaveFileName.clear();
    dialog.chosen = dir.File("old.dat");
    EXPECT_FALSE(WriteTableData(state, dialog, grid, weights, messages));
    EXPECT_EQ(messages.shown.back().first, "Data error at (1,3).");
    EXPECT_EQ(Contents(dialog.chosen), "    1\n\n");
}

// A folder, a missing folder, a full disk: "Cannot write file", and a
// replaced file stays whole with no temporary file left beside it.
TEST_F(TableDataFileTest, UnwritableFileIsReported) {
    dialog.chosen = dir.Path();
    EXPECT_FALSE(Save({{"1", "2"}, {"3", "4"}}));
    for (const std::string& name : {dir.File("no/such/folder.dat"), std::string("/dev/full")}) {
        state.SaveFileName = name;
        EXPECT_FALSE(Save({{"1", "2"}, {"3", "4"}}));
    }
    EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + dir.Path(), "Error"},
                                        {"Cannot write file " + dir.File("no/such/folder.dat"), "Error"},
                                        {"Cannot write file /dev/full", "Error"}}));
    state.SaveFileName.clear();
    dialog.chosen = WriteFile(dir.File("keep.dat"), "    9\n\n");
    WithFileSizeLimit(1000, [&] { EXPECT_FALSE(Save(Rows(20, std::vector<std::string>(60, "1234")))); });
    EXPECT_EQ(messages.shown.back().first, "Cannot write file " + dialog.chosen);
    EXPECT_EQ(Contents(dialog.chosen), "    9\n\n");
    const auto files = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

}  // namespace
}  // namespace kelvorin
