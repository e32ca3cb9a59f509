#include "TableDataFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>

#include <csignal>
#endif

#include "MemoryTextGrid.h"

namespace kelvorin {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

// A dialog whose user confirms CHOSEN (or cancels); it counts its showings.
class FakeDialog : public FileDialog {
public:
    std::string chosen, current;
    bool confirm = true;
    int shown = 0;
    std::vector<std::string> namesSet;
    void SetFileName(const std::string& name) override { namesSet.push_back(current = name); }
    std::string FileName() const override { return current; }
    bool Execute() override {
        ++shown;
        if (confirm) current = chosen;
        return confirm;
    }
};

struct FakeMessages : MessageBoxes {
    std::vector<std::pair<std::string, std::string>> shown;  // text, caption
    void Show(const std::string& text, const std::string& caption) override { shown.emplace_back(text, caption); }
    bool AskYesNo(const std::string&) override { return false; }
};

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
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kelvorin_data_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                "_" + std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    std::string WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(PathOf(name), std::ios::binary) << text;
        return PathOf(name);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Opens TEXT as the state's data file, as after an earlier read.
    void OpenData(const std::string& text) {
        state.DataFileName = WriteFile("in.dat", text);
        ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    }
    int ReadTable() { return ReadTableData(state, dialog, grid, BlockTarget::Table); }
    bool Save() { return WriteTableData(state, dialog, grid, weights, messages); }
    void SetTable(const Rows& rows) {
        Fill(grid, rows);
        state.Table.Rows = static_cast<int>(rows.size());
        state.Table.Cols = static_cast<int>(rows[0].size());
    }

    fs::path dir_;
    AnalysisState state;
    FakeDialog dialog;
    FakeMessages messages;
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
    ASSERT_TRUE(file.Open(WriteFile("scan.txt", text), TextFile::Mode::Read));
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

TEST_F(TableDataFileTest, ReadsBlocksOneAfterAnother) {
    OpenData("1 2 3\r\n10 20 300\r\n\r\n4 5\n\n\n6\n");
    EXPECT_EQ(ReadTable(), 2);
    EXPECT_EQ(GridRows(grid), (Rows{{"1", "2", "3"}, {"10", "20", "300"}}));
    EXPECT_EQ(ReadTable(), 1);
    EXPECT_EQ(GridRows(grid), (Rows{{"4", "5"}}));
    EXPECT_EQ(ReadTable(), 0);  // the second empty line is an empty table
    EXPECT_EQ(GridRows(grid), (Rows{{"4", "5"}}));  // left as it was
    EXPECT_EQ(ReadTable(), 1);  // ended by the end of the file
    EXPECT_EQ(ReadTable(), 0);
    EXPECT_EQ(GridRows(grid), (Rows{{"6"}}));
    EXPECT_EQ(dialog.shown, 0);
}

TEST_F(TableDataFileTest, DataErrorsLeaveFilePositionedAfterTheLine) {
    std::string sixty, seventy;
    for (int j = 1; j <= 70; ++j) (j <= 60 ? sixty : seventy) += " " + std::to_string(j);
    seventy = sixty + seventy;
    OpenData(sixty + "\n" + sixty + " 61\n9 9\n1 2\n3 4 5\n6 7\n\n1 2\n3 2147483648\n5 6\n\n" + seventy + "\n");
    EXPECT_EQ(ReadTable(), -1);
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.ColCount(), 60);
    EXPECT_EQ(grid.Cell(59, 0), "60");
    EXPECT_EQ(ReadTable(), -2);  // the offending line is stored and sets the width
    EXPECT_EQ(GridRows(grid), (Rows{{"9", "9", ""}, {"1", "2", ""}, {"3", "4", "5"}}));
    EXPECT_EQ(ReadTable(), 1);  // "6 7"
    EXPECT_EQ(ReadTable(), -3);
    EXPECT_EQ(GridRows(grid), (Rows{{"1", "2"}}));
    EXPECT_EQ(ReadTable(), 1);  // "5 6"
    // Weights have no 60-value limit; the scan takes the first 64.
    EXPECT_EQ(ReadTableData(state, dialog, weights, BlockTarget::Proportions), 1);
    EXPECT_EQ(weights.ColCount(), 64);
    EXPECT_EQ(weights.Cell(63, 0), "64");
}

TEST_F(TableDataFileTest, OpenDialogOnlyWhenNoFileIsNamed) {
    dialog.confirm = false;
    EXPECT_EQ(ReadTable(), 0);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_TRUE(state.DataFileName.empty());

    dialog.confirm = true;
    dialog.chosen = PathOf("missing.dat");
    EXPECT_EQ(ReadTable(), 0);
    EXPECT_EQ(state.DataFileName, dialog.chosen);
    EXPECT_FALSE(state.DataFile.IsOpen());

    state.DataFileName.clear();
    dialog.chosen = WriteFile("t.dat", "1 2\n\n3 4\n");
    EXPECT_EQ(ReadTable(), 1);
    EXPECT_EQ(ReadTable(), 1);
    EXPECT_EQ(dialog.shown, 3);
    EXPECT_EQ(dialog.namesSet, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(GridRows(grid), (Rows{{"3", "4"}}));
}

TEST_F(TableDataFileTest, WritesFixedWidthLayout) {
    dialog.chosen = PathOf("out.dat");
    SetTable({{"1", "2", "3"}, {"10", "20", "300"}});
    EXPECT_TRUE(Save());
    EXPECT_EQ(Contents(dialog.chosen), "    1    2    3\n   10   20  300\n\n");

    SetTable({{"5", "7", "9"}});
    Fill(weights, {{"1", "1", "2"}});
    EXPECT_TRUE(Save());  // appended: the name is set
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(Contents(dialog.chosen), "    1    2    3\n   10   20  300\n\n    5    7    9\n\n 1 1 2\n\n");
    EXPECT_TRUE(messages.shown.empty());

    state.SaveFileName.clear();  // to new file: asks again and replaces the file
    SetTable({{" 007", "-5"}, {"+0", "12345"}});
    EXPECT_TRUE(Save());
    EXPECT_EQ(dialog.shown, 2);
    EXPECT_EQ(Contents(dialog.chosen), "    7   -5\n    0 12345\n\n");
}

TEST_F(TableDataFileTest, SavedTablesReadBackWhole) {
    Rows wide(2);
    for (int j = 0; j < 60; ++j) {
        wide[0].push_back(std::to_string(1000 + j));
        wide[1].push_back(std::to_string(9999 - j));
    }
    state.SaveFileName = PathOf("round.dat");
    SetTable(wide);
    EXPECT_TRUE(Save());
    SetTable({{"4"}, {"5"}, {"6"}});
    Fill(weights, {{"1"}, {" "}, {"3"}});  // one-column table, a blank weight
    EXPECT_TRUE(Save());
    SetTable({{"8", "9"}});
    Fill(weights, {{"", "\t"}});
    EXPECT_TRUE(Save());
    SetTable({{"1", "0"}, {"0", "1"}});
    EXPECT_TRUE(Save());

    MemoryTextGrid table, props;
    state.DataFileName = state.SaveFileName;
    ASSERT_TRUE(state.DataFile.Open(state.DataFileName, TextFile::Mode::Read));
    EXPECT_EQ(ReadTableData(state, dialog, table, BlockTarget::Table), 2);
    EXPECT_EQ(GridRows(table), wide);
    EXPECT_EQ(ReadTableData(state, dialog, table, BlockTarget::Table), 3);
    EXPECT_EQ(ReadTableData(state, dialog, props, BlockTarget::Proportions), 3);
    EXPECT_EQ(GridRows(props), (Rows{{"1"}, {"1"}, {"3"}}));
    EXPECT_EQ(ReadTableData(state, dialog, table, BlockTarget::Table), 1);
    EXPECT_EQ(ReadTableData(state, dialog, props, BlockTarget::Proportions), 1);
    EXPECT_EQ(GridRows(props), (Rows{{"1", "1"}}));
    EXPECT_EQ(ReadTableData(state, dialog, table, BlockTarget::Table), 2);
    EXPECT_EQ(GridRows(table), (Rows{{"1", "0"}, {"0", "1"}}));
    EXPECT_EQ(ReadTableData(state, dialog, table, BlockTarget::Table), 0);
}

TEST_F(TableDataFileTest, BadCountCellWritesNothing) {
    state.SaveFileName = WriteFile("old.dat", "    1\n\n");
    for (const std::string bad : {"x", "3.5", "", "12 ", "2147483648"}) {
        SetTable({{"1", "2", "3"}, {"4", "5", bad}});
        EXPECT_FALSE(Save()) << bad;
    }
    ASSERT_EQ(messages.shown.size(), 5u);
    EXPECT_EQ(messages.shown[0], (std::pair<std::string, std::string>{"Data error at (2,3).", "Error"}));
    SetTable({{"1", "2"}});
    state.Table.Cols = 3;  // the grid has lost a column since the run
    state.SaveFileName.clear();  // to new file, over the old one
    dialog.chosen = PathOf("old.dat");
    EXPECT_FALSE(Save());
    EXPECT_EQ(messages.shown.back().first, "Data error at (1,3).");
    EXPECT_EQ(Contents(dialog.chosen), "    1\n\n");
}

TEST_F(TableDataFileTest, UnwritableFileIsReported) {
    SetTable({{"1", "2"}, {"3", "4"}});
    dialog.chosen = dir_.string();  // a folder
    EXPECT_FALSE(Save());
    state.SaveFileName = PathOf("no/such/folder.dat");
    EXPECT_FALSE(Save());
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0], (std::pair<std::string, std::string>{"Cannot write file " + dir_.string(), "Error"}));
    EXPECT_EQ(messages.shown[1].first, "Cannot write file " + PathOf("no/such/folder.dat"));
    EXPECT_EQ(state.SaveFileName, PathOf("no/such/folder.dat"));
#if defined(__linux__)
    if (fs::exists("/dev/full")) {  // opens for appending, every write fails
        state.SaveFileName = "/dev/full";
        EXPECT_FALSE(Save());
        EXPECT_EQ(messages.shown.back().first, "Cannot write file /dev/full");
    }
    // A replacing save whose write fails midway leaves the old file intact.
    Rows wide(20, std::vector<std::string>(60, "1234"));
    SetTable(wide);
    state.SaveFileName.clear();
    dialog.chosen = WriteFile("keep.dat", "    9\n\n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{1000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = Save();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(messages.shown.back().first, "Cannot write file " + dialog.chosen);
    EXPECT_EQ(Contents(dialog.chosen), "    9\n\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no temporary left
#endif
}

}  // namespace
}  // namespace kelvorin
