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

Rows GridRows(const TextGrid& grid) {
    Rows rows(std::size_t(grid.RowCount()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (int j = 0; j < grid.ColCount(); ++j) rows[i].push_back(grid.Cell(j, int(i)));
    return rows;
}

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

TEST_F(TableDataFileTest, ScannerGrammar) {
    struct Case {
        std::string line;
        std::vector<std::int32_t> values;
        bool outOfRange = false;
    };
    const std::vector<Case> cases = {
        {"1.5 2.5", {1}}, {"1, 2, 3", {1}}, {"3-4", {3, -4}}, {"+7", {7}}, {"- 7", {}}, {"3+4--5", {3, 4}},
        {" \t12\t-5 +6x 9", {12, -5, 6}}, {"abc 5", {}}, {"", {}}, {"\xA0" "5", {}},
        {"1 2 3 4", {1, 2, 3}},  // at most maxCount
        {"2147483647 -2147483648", {2147483647, -2147483647 - 1}},
        {"5 2147483648 6", {5}, true}, {"-2147483649", {}, true}, {"4294967297", {}, true},  // never wrapped
        {"", {}},  // the end of the file
    };
    std::string text;
    for (std::size_t k = 0; k + 1 < cases.size(); ++k) text += cases[k].line + "\n";
    TextFile file;
    ASSERT_TRUE(file.Open(WriteFile(dir.File("scan.txt"), text), TextFile::Mode::Read));
    for (const Case& c : cases) {
        std::int32_t values[3] = {};
        bool outOfRange = !c.outOfRange;
        const int n = ScanNumberLine(file, values, 3, outOfRange);
        EXPECT_EQ(std::vector<std::int32_t>(values, values + n), c.values) << c.line;
        EXPECT_EQ(outOfRange, c.outOfRange) << c.line;
    }
}

// Each call reads the next block; a second empty line is an empty table, and
// a block of no lines leaves the grid as it was. After a data error the lines
// before stay (a ragged line too, which sets the width) and the file goes on
// after the offending line.
TEST_F(TableDataFileTest, DataErrorsLeaveFilePositionedAfterTheLine) {
    std::string sixty, seventy;
    for (int j = 1; j <= 70; ++j) (j <= 60 ? sixty : seventy) += " " + std::to_string(j);
    state.DataFileName = WriteFile(dir.File("in.dat"), "4 5\n\n\n" + sixty + "\n" + sixty + " 61\n9 9\n1 2\n3 4 5\n6\n\n" +
                                                           "1 2\n3 2147483648\n5 6\n\n" + sixty + seventy + "\n");
    ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    EXPECT_EQ(Read(grid), 1);
    EXPECT_EQ(Read(grid), 0);
    EXPECT_EQ(GridRows(grid), (Rows{{"4", "5"}}));
    EXPECT_EQ(Read(grid), kReadTooManyValues);  // 60 values pass, 61 are not stored
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.Cell(59, 0), "60");
    EXPECT_EQ(Read(grid), kReadRagged);
    EXPECT_EQ(GridRows(grid), (Rows{{"9", "9", ""}, {"1", "2", ""}, {"3", "4", "5"}}));
    EXPECT_EQ(Read(grid), 1);  // "6"
    EXPECT_EQ(Read(grid), kReadOutOfRange);
    EXPECT_EQ(GridRows(grid), (Rows{{"1", "2"}}));
    EXPECT_EQ(Read(grid), 1);  // "5 6"
    EXPECT_EQ(Read(weights, BlockTarget::Proportions), 1);  // no 60-value limit; the first 64
    EXPECT_EQ(weights.ColCount(), 64);
    EXPECT_EQ(Read(grid), 0);
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
    EXPECT_EQ(GridRows(grid), wide);
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
