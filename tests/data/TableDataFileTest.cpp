// The data file reader and writer on their own: the number grammar, blocks
// and their results, the written layout, and files that must not be lost.
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

Rows GridRows(const TextGrid& grid) {
    Rows rows(static_cast<std::size_t>(grid.RowCount()));
    for (int i = 0; i < grid.RowCount(); ++i)
        for (int j = 0; j < grid.ColCount(); ++j) rows[static_cast<std::size_t>(i)].push_back(grid.Cell(j, i));
    return rows;
}

void Fill(TextGrid& grid, const Rows& rows) {
    grid.SetRowCount(static_cast<int>(rows.size()));
    grid.SetColCount(static_cast<int>(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) grid.SetCell(static_cast<int>(j), static_cast<int>(i), rows[i][j]);
}

class TableDataFileTest : public ::testing::Test {
protected:
    void OpenData(const std::string& text) {
        state.DataFileName = WriteFile(dir.File("in.dat"), text);
        ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    }
    int Read(TextGrid& target, BlockTarget kind = BlockTarget::Table) {
        return ReadTableData(state, dialog, target, kind);
    }
    // Saves TABLE, as the table of the last run, with the weights WEIGHTS.
    bool Save(const Rows& table, const Rows& weightRows = {{""}}) {
        Fill(grid, table);
        Fill(weights, weightRows);
        state.Table.Rows = static_cast<int>(table.size());
        state.Table.Cols = static_cast<int>(table[0].size());
        return WriteTableData(state, dialog, grid, weights, messages);
    }

    fakes::TempDirectory dir;
    AnalysisState state;
    fakes::FakeFileDialog dialog;
    fakes::RecordingMessages messages;
    MemoryTextGrid grid;
    MemoryTextGrid weights;
};

TEST_F(TableDataFileTest, ScannerGrammar) {
    struct Case {
        std::string line;
        std::vector<std::int32_t> values;
        bool outOfRange = false;
    };
    const std::vector<Case> cases = {
        {"1.5 2.5", {1}}, {"1, 2, 3", {1}}, {"3-4", {3, -4}}, {"+7", {7}}, {"- 7", {}},
        {" \t12\t-5 +6x 9", {12, -5, 6}}, {"3+4--5", {3, 4}}, {"abc 5", {}}, {"", {}}, {"\xA0" "5", {}},
        {"1 2 3 4", {1, 2, 3}},  // at most maxCount
        {"2147483647 -2147483648", {2147483647, -2147483647 - 1}},
        {"5 2147483648 6", {5}, true}, {"-2147483649", {}, true}, {"4294967297", {}, true},  // never wrapped
    };
    std::string text;
    for (const auto& c : cases) text += c.line + "\n";
    TextFile file;
    ASSERT_TRUE(file.Open(WriteFile(dir.File("scan.txt"), text), TextFile::Mode::Read));
    for (const auto& c : cases) {
        std::int32_t values[3] = {};
        bool outOfRange = !c.outOfRange;
        const int n = ScanNumberLine(file, values, 3, outOfRange);
        EXPECT_EQ(std::vector<std::int32_t>(values, values + n), c.values) << c.line;
        EXPECT_EQ(outOfRange, c.outOfRange) << c.line;
    }
    std::int32_t value = 0;
    bool outOfRange = true;
    EXPECT_EQ(ScanNumberLine(file, &value, 1, outOfRange), 0);  // end of file
    EXPECT_FALSE(outOfRange);
}

// The dialog only while no file is named (its name emptied first); then each
// call reads the next block, and a block of no lines leaves the grid alone.
TEST_F(TableDataFileTest, ReadsBlocksOneAfterAnother) {
    dialog.confirm = false;
    EXPECT_EQ(Read(grid), 0);
    dialog.confirm = true;
    dialog.chosen = dir.File("missing.dat");
    EXPECT_EQ(Read(grid), 0);
    EXPECT_FALSE(state.DataFile.IsOpen());

    state.DataFileName.clear();
    dialog.chosen = WriteFile(dir.File("t.dat"), "1 2 3\r\n10 20 300\r\n\r\n4 5\n\n\n6\n");
    EXPECT_EQ(Read(grid), 2);
    EXPECT_EQ(GridRows(grid), (Rows{{"1", "2", "3"}, {"10", "20", "300"}}));
    EXPECT_EQ(Read(grid), 1);
    EXPECT_EQ(Read(grid), 0);  // the second empty line is an empty table
    EXPECT_EQ(GridRows(grid), (Rows{{"4", "5"}}));
    EXPECT_EQ(Read(grid), 1);  // ended by the end of the file
    EXPECT_EQ(Read(grid), 0);
    EXPECT_EQ(GridRows(grid), (Rows{{"6"}}));
    EXPECT_EQ(dialog.executions, 3);
    EXPECT_EQ(dialog.namesSet, (std::vector<std::string>{"", "", ""}));
}

TEST_F(TableDataFileTest, DataErrorsLeaveFilePositionedAfterTheLine) {
    std::string sixty, seventy;
    for (int j = 1; j <= 70; ++j) (j <= 60 ? sixty : seventy) += " " + std::to_string(j);
    seventy = sixty + seventy;
    OpenData(sixty + "\n" + sixty + " 61\n9 9\n1 2\n3 4 5\n6 7\n\n1 2\n3 2147483648\n5 6\n\n" + seventy + "\n");
    EXPECT_EQ(Read(grid), kReadTooManyValues);  // 60 values pass, the 61 are not stored
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.ColCount(), 60);
    EXPECT_EQ(grid.Cell(59, 0), "60");
    EXPECT_EQ(Read(grid), kReadRagged);  // the offending line is stored and sets the width
    EXPECT_EQ(GridRows(grid), (Rows{{"9", "9", ""}, {"1", "2", ""}, {"3", "4", "5"}}));
    EXPECT_EQ(Read(grid), 1);  // "6 7"
    EXPECT_EQ(Read(grid), kReadOutOfRange);
    EXPECT_EQ(GridRows(grid), (Rows{{"1", "2"}}));
    EXPECT_EQ(Read(grid), 1);  // "5 6"
    // Weights have no 60-value limit; the scan takes the first 64.
    EXPECT_EQ(Read(weights, BlockTarget::Proportions), 1);
    EXPECT_EQ(weights.ColCount(), 64);
    EXPECT_EQ(weights.Cell(63, 0), "64");
}

// " %4d" per count; weights as typed, an empty one as 1; "to same file"
// appends, "to new file" asks and replaces.
TEST_F(TableDataFileTest, WritesFixedWidthLayout) {
    dialog.chosen = WriteFile(dir.File("out.dat"), "an older file\n");
    EXPECT_TRUE(Save({{"1", "2", "3"}, {"10", "20", "300"}}));
    EXPECT_EQ(Contents(dialog.chosen), "    1    2    3\n   10   20  300\n\n");
    EXPECT_TRUE(Save({{"5", "7", "9"}}, {{"1", "1", "2"}}));
    EXPECT_TRUE(Save({{"4"}, {"5"}}, {{"2"}, {" "}}));
    EXPECT_EQ(dialog.executions, 1);
    EXPECT_EQ(Contents(dialog.chosen),
              "    1    2    3\n   10   20  300\n\n    5    7    9\n\n 1 1 2\n\n    4\n    5\n\n2\n1\n\n");

    state.SaveFileName.clear();
    EXPECT_TRUE(Save({{" 007", "-5"}, {"+0", "12345"}}));
    EXPECT_EQ(dialog.executions, 2);
    EXPECT_EQ(Contents(dialog.chosen), "    7   -5\n    0 12345\n\n");
    EXPECT_TRUE(messages.shown.empty());
}

// A row longer than any line buffer and a blank weight read back as written.
TEST_F(TableDataFileTest, SavedTablesReadBackWhole) {
    Rows wide(2);
    for (int j = 0; j < 60; ++j) {
        wide[0].push_back(std::to_string(1000 + j));
        wide[1].push_back(std::to_string(9999 - j));
    }
    state.SaveFileName = dir.File("round.dat");
    EXPECT_TRUE(Save(wide));
    EXPECT_TRUE(Save({{"8", "9"}}, {{"", "\t"}}));
    state.DataFileName = state.SaveFileName;
    ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    EXPECT_EQ(Read(grid), 2);
    EXPECT_EQ(GridRows(grid), wide);
    EXPECT_EQ(Read(grid), 1);
    EXPECT_EQ(Read(weights, BlockTarget::Proportions), 1);
    EXPECT_EQ(GridRows(weights), (Rows{{"1", "1"}}));
}

// A count cell that is no whole number: its message, and nothing written.
TEST_F(TableDataFileTest, BadCountCellWritesNothing) {
    state.SaveFileName = WriteFile(dir.File("old.dat"), "    1\n\n");
    for (const std::string bad : {"x", "3.5", "", "12 ", "2147483648"}) EXPECT_FALSE(Save({{"1", "2", "3"}, {"4", "5", bad}}));
    ASSERT_EQ(messages.shown.size(), 5u);
    EXPECT_EQ(messages.shown[0], (std::pair<std::string, std::string>{"Data error at (2,3).", "Error"}));
    // The grid has lost a column since the run; to new file, over the old one.
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
    state.SaveFileName = dir.File("no/such/folder.dat");
    EXPECT_FALSE(Save({{"1", "2"}, {"3", "4"}}));
    state.SaveFileName = "/dev/full";
    EXPECT_FALSE(Save({{"1", "2"}, {"3", "4"}}));
    using Message = std::pair<std::string, std::string>;
    EXPECT_EQ(messages.shown, (std::vector<Message>{{"Cannot write file " + dir.Path(), "Error"},
                                                    {"Cannot write file " + dir.File("no/such/folder.dat"), "Error"},
                                                    {"Cannot write file /dev/full", "Error"}}));

    state.SaveFileName.clear();
    dialog.chosen = WriteFile(dir.File("keep.dat"), "    9\n\n");
    bool written = true;
    WithFileSizeLimit(1000, [&] { written = Save(Rows(20, std::vector<std::string>(60, "1234"))); });
    EXPECT_FALSE(written);
    EXPECT_EQ(messages.shown.back().first, "Cannot write file " + dialog.chosen);
    EXPECT_EQ(Contents(dialog.chosen), "    9\n\n");
    const auto files = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

}  // namespace
}  // namespace kelvorin
