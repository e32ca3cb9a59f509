// The Table commands with the data file reader and writer, over fakes of
// every port and real files, including files that are not what they expect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "MemoryTextGrid.h"
#include "TableCommands.h"
#include "TableDataFile.h"
#include "engine/FakePorts.h"

namespace kelvorin {
namespace {

using Counts = std::vector<std::vector<int>>;
using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;
using Messages = std::vector<std::pair<std::string, std::string>>;
using Weights = std::vector<double>;

const std::string kNoData = "No data avaiable";

std::string Contents(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::string Repeat(const std::string& text, int times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

void Fill(TextGrid& grid, const Rows& rows) {
    grid.SetRowCount(int(rows.size()));
    grid.SetColCount(int(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) grid.SetCell(int(j), int(i), rows[i][j]);
}

// The Read commands' error dialog kept apart; ONSHOW runs while a box is up.
class MessageFake : public fakes::RecordingMessages {
public:
    void Show(const std::string& text, const std::string& caption) override {
        RecordingMessages::Show(text, caption);
        if (onShow) onShow();
    }
    void ShowErrorAbort(const std::string& text) override { errorAborts.push_back(text); }
    Lines errorAborts;
    std::function<void()> onShow;
};

class EntryWindow : public EntryGridWindow {
public:
    bool ShowModalAt(const Placement& placement) override { return shownAt.push_back(placement), accept; }
    Placement CurrentPlacement() const override { return after; }
    bool accept = true;
    Placement after;
    std::vector<Placement> shownAt;
};

class Results : public ResultsText {
public:
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    Lines lines;
};

// Each report holds the observed table once.
int Reports(const Lines& lines) { return int(std::count(lines.begin(), lines.end(), "Observed Numbers.")); }

Lines Joined(Lines all, const Lines& more) { return all.insert(all.end(), more.begin(), more.end()), all; }

void Answer(fakes::FakeFileDialog& dialog, const std::string& name) {
    dialog.confirm = !name.empty();
    dialog.chosen = name;
}

// The runs report the observed table only, so every run is quick.
class TableCommandsTest : public ::testing::Test {
protected:
    TableCommandsTest() {
        options.options = fakes::NoSections();
        options.options.Observed = true;
    }

    AnalysisState& State() { return engine.State(); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    }
    Counts Table() {
        if (!State().Table.Exists()) return {};
        Counts rows(std::size_t(State().Table.Rows));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (int j = 1; j <= State().Table.Cols; ++j) rows[i].push_back(State().Table.Observed(int(i) + 1, j));
        return rows;
    }
    // Types TABLE and the WEIGHTS of a one-way table into the windows of New.
    void NewTable(const Rows& table, const Lines& weights = {}) {
        Fill(entryGrid, table);
        proportionsWindow.onShow = [this, weights, oneRow = table.size() == 1] {
            for (int k = 0; k < int(weights.size()); ++k)
                proportionsGrid.SetCell(oneRow ? k : 0, oneRow ? 0 : k, weights[std::size_t(k)]);
        };
        commands.New();
    }
    void ReadNew(const std::string& path) {
        Answer(openDialog, path);
        commands.ReadFromNewFile();
    }
    // The reports of the first N tables of PATH as the Read commands give them.
    Lines ReadThrough(const std::string& path, int n) {
        ReadNew(path);
        Lines all = report.Lines();
        while (--n > 0) commands.ReadFromSameFile(), all = Joined(all, report.Lines());
        return all;
    }
    void Bulk(const std::string& data, const std::string& result) {
        Answer(openDialog, data);
        Answer(resultDialog, result);
        commands.BulkProcessing();
    }

    fakes::TempDirectory dir;
    MemoryTextGrid entryGrid{2, 2}, proportionsGrid;
    fakes::FakeModalWindow proportionsWindow;
    EntryWindow inputGrid;
    fakes::RecordingReport report;
    fakes::RecordingStatus status;
    fakes::CallbackPump pump;
    MessageFake messages;
    fakes::FakeClock clock;
    fakes::RecordingMenus menus;
    fakes::FakeFileDialog openDialog, resultDialog, saveDialog;
    fakes::SettableOptions options;
    Results results;
    AnalysisEngine engine{EnginePorts{&entryGrid, &proportionsGrid, &proportionsWindow, &report, &status, &pump,
                                      &messages, &clock, &menus, &resultDialog, &options}};
    TableCommands commands{CommandPorts{&engine, &entryGrid, &proportionsGrid, &inputGrid, &openDialog, &resultDialog,
                                        &saveDialog, &report, &status, &messages, &menus, &results}};
};

// New: the grid at its placement, taken back after the run; cancelled, nothing
// changes; the data file is closed (proportions window shown, "same file" asks).
TEST_F(TableCommandsTest, NewRunsTheTypedTableOrChangesNothingWhenCancelled) {
    const std::string path = Write("a.dat", "1 2\n3 4\n\n");
    ReadNew(path);
    const Lines before = report.Lines();
    commands.GridPlacement() = Placement{10, 20, 300, 400};
    inputGrid.after = Placement{11, 22, 333, 444};
    inputGrid.accept = false;
    commands.New();
    EXPECT_EQ(report.Lines(), before);
    inputGrid.accept = true;
    NewTable({{"1", "2", "5"}}, {"", "2"});
    EXPECT_EQ(inputGrid.shownAt, (std::vector<Placement>(2, Placement{10, 20, 300, 400})));
    EXPECT_EQ(Table(), (Counts{{1, 2, 5}}));
    EXPECT_EQ(State().Proportions, (Weights{0.25, 0.5, 0.25}));
    EXPECT_EQ(commands.GridPlacement(), (Placement{11, 22, 333, 444}));
    commands.ReadFromSameFile();
    EXPECT_EQ(openDialog.executions, 2);
    EXPECT_EQ(Table(), (Counts{{1, 2}, {3, 4}}));
}

// 50 x 60 is read; 51 rows, ragged rows, 61 values, 32-bit overflow: the error
// dialog, no run, report and menus kept, reading on after the block or line.
TEST_F(TableCommandsTest, ReadErrorsShowTheDialogAndTheRestOfTheTableIsReadNext) {
    const std::string path = Write("errors.dat", Repeat(Repeat(" 1", 60) + "\n", 50) + "\n" + Repeat("1 2\n", 51) +
                                                     "\n3 4\n5 6\n\n1 2\n3 4 5\n6 7\n8 9\n\n" + Repeat(" 1", 61) +
                                                     "\n9 9\n8 8\n\n1 99999999999\n2 3\n4 5\n\n");
    ReadNew(path);
    EXPECT_EQ(State().Table.Rows * State().Table.Cols, 50 * 60);
    for (const Counts& next : {Counts{{3, 4}, {5, 6}}, Counts{{6, 7}, {8, 9}}, Counts{{9, 9}, {8, 8}},
                               Counts{{2, 3}, {4, 5}}}) {
        const Lines before = report.Lines();
        const std::size_t menuChanges = menus.log.size();
        commands.ReadFromSameFile();
        EXPECT_EQ(report.Lines(), before);
        EXPECT_EQ(menus.log.size(), menuChanges);
        commands.ReadFromSameFile();
        EXPECT_EQ(Table(), next);
    }
    EXPECT_EQ(messages.errorAborts, Lines(4, "Data error reading file " + path));
    ReadNew(Write("long.dat", Repeat("1 2\n", 51)));
    EXPECT_EQ(messages.errorAborts.size(), 5u);
    EXPECT_EQ(menus.Enabled(MenuItem::fromsamefile1), 1);

    // A line longer than the reader keeps, whose numbers run on to where it
    // is cut (a number there cut short): a data error; only blanks past the
    // cut change nothing.
    const std::size_t limit = TextFile::kMaxLineLength;
    const std::string cut = Write("cut.dat", std::string(limit - 5, ' ') + "5 12345\n3 4\n5 6\n\n1 2" +
                                                 std::string(limit, ' ') + "\n3 4\n\n");
    ReadNew(cut);
    EXPECT_EQ(messages.errorAborts, Joined(Lines(4, "Data error reading file " + path),
                                           {"Data error reading file " + dir.File("long.dat"),
                                            "Data error reading file " + cut}));
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{3, 4}, {5, 6}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{1, 2}, {3, 4}}));
}

// A file of a great many lines (a long table, or a one-row table followed by
// them as its weights block) is read through as any block, and is refused or
// passed over as before, but the grids keep no more rows than a table too
// long to read shows: the grid of a window takes far more memory per cell
// than the file per number. A ragged line that far down is still found.
TEST_F(TableCommandsTest, AVeryLongBlockIsReadThroughWithoutGrowingTheGrid) {
    const int many = 100000;
    const std::string path = Write("long.dat", Repeat("1 2\n", many) + "\n3 4\n5 6\n\n7 8 9\n\n" +
                                                   Repeat("1 1 1\n", many) + "\n1 2\n3 4\n\n" +
                                                   Repeat("1 2\n", many) + "1 2 3\n\n5 6\n7 8\n\n");
    ReadNew(path);
    EXPECT_EQ(messages.errorAborts, Lines{"Data error reading file " + path});
    EXPECT_EQ(entryGrid.RowCount(), kMaxStoredLines);
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{3, 4}, {5, 6}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{7, 8, 9}}));
    EXPECT_EQ(State().Proportions, (Weights{1.0 / 3, 1.0 / 3, 1.0 / 3}));
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{1, 2}, {3, 4}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(messages.errorAborts.size(), 2u);
    EXPECT_EQ(entryGrid.RowCount(), kMaxStoredLines);
    commands.ReadFromSameFile();
    EXPECT_EQ(report.Lines(), Lines{kNoData});
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{5, 6}, {7, 8}}));

    const std::string result = dir.File("result.txt");
    Bulk(path, result);
    const Lines lines = fakes::FileLines(result);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Data error reading file " + path), 2);
    EXPECT_EQ(Reports(lines), 4);
}

// No table from a new file: "No data avaiable", Save off, "same file" kept on;
// "same file" asks when nothing is open, never enables itself, disables itself.
TEST_F(TableCommandsTest, NoTableFromNewFileReportsNoDataAndKeepsSameFileEnabled) {
    const std::string good = Write("good.dat", "1 2\n3 4\n\n");
    std::filesystem::create_directory(dir.File("folder.dat"));
    for (const std::string& answer :
         {dir.File("missing.dat"), dir.File("folder.dat"), good + "/in.dat", Write("blank.dat", "\n1 2\n3 4\n\n"),
          Write("empty.dat", ""), Write("picture.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20)),
          std::string()}) {
        ReadNew(good);
        ReadNew(answer);
        EXPECT_EQ(report.Lines(), Lines{kNoData}) << answer;
        EXPECT_EQ(status.Last(), kNoData);
        EXPECT_EQ(menus.Enabled(MenuItem::Save1), 0);
        EXPECT_EQ(menus.Enabled(MenuItem::fromsamefile1), 1) << answer;
    }
    EXPECT_TRUE(messages.errorAborts.empty() && messages.shown.empty());
    const int asked = openDialog.executions;
    commands.ReadFromSameFile();
    EXPECT_EQ(report.Lines(), Lines{kNoData});
    EXPECT_EQ(menus.Enabled(MenuItem::fromsamefile1), 0);
    Answer(openDialog, good);
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{1, 2}, {3, 4}}));
    EXPECT_EQ(menus.Enabled(MenuItem::fromsamefile1), 0);
    EXPECT_EQ(openDialog.executions, asked + 2);
}

// A one-way table's weights block is used when it fits, else equal proportions,
// and skipped to its end; CR, CR LF, signs, decimals and binary bytes read right.
TEST_F(TableCommandsTest, FaultyWeightsBlockMeansEqualProportionsAndIsSkippedToItsEnd) {
    struct Case {
        std::string text;
        Counts table;
        Weights proportions;
        Counts next;  // empty: no table follows
    };
    const double third = 1.0 / 3;
    const Weights quarters = {0.25, 0.25, 0.5}, thirds = {third, third, third};
    const std::vector<Case> cases = {
        {"+5 7 9- 8\n\n1 1 2\n\n2 3\n4 5\n\n", {{5, 7, 9}}, quarters, {{2, 3}, {4, 5}}},
        {"5\n7\n9\n\n1\n1\n2\n\n3 4\n5 6\n", {{5}, {7}, {9}}, quarters, {{3, 4}, {5, 6}}},
        {"5 7 9\r\r1 1 2\r\r3 4\r5 6\r", {{5, 7, 9}}, quarters, {{3, 4}, {5, 6}}},
        {std::string("1 2\0 9\n3 4\x80 7\n\n5 6\n7 8\n", 23), {{1, 2}, {3, 4}}, {}, {{5, 6}, {7, 8}}},
        {"5 7 9\n\n1 2 3\n4 5 6\n\n7 8\n9 10\n\n", {{5, 7, 9}}, thirds, {{7, 8}, {9, 10}}},
        {"6 8\n\n99999999999 1\n7 7\n\n1 2\n3 4\n\n", {{6, 8}}, {0.5, 0.5}, {{1, 2}, {3, 4}}},
        {"5 7 9\n", {{5, 7, 9}}, thirds, {}},
        {"5 7 9\n\n\n2 3\n4 5\n\n", {{5, 7, 9}}, thirds, {{2, 3}, {4, 5}}},
        {"5 7 9\n\n0.25 0.25 0.5\n\n", {{5, 7, 9}}, thirds, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ReadNew(Write("weights.dat", c.text));
        EXPECT_EQ(Table(), c.table);
        EXPECT_EQ(State().Proportions, c.proportions);
        commands.ReadFromSameFile();
        EXPECT_EQ(Table(), c.next);
    }
    EXPECT_EQ(proportionsWindow.shows, 0);
    EXPECT_TRUE(messages.errorAborts.empty() && messages.shown.empty());
}

// A file that opens but cannot be read is no end of the data: a data error at
// every read, and the one line Bulk processing writes before it stops.
TEST_F(TableCommandsTest, AFileThatOpensButCannotBeReadIsADataErrorAndBulkProcessingStopsAtIt) {
    const std::string unreadable = "/proc/self/mem", error = "Data error reading file /proc/self/mem";
    if (!TextFile().Open(unreadable, TextFile::Mode::Read)) GTEST_SKIP() << unreadable << " cannot be opened";
    report.AppendLine("previous report");
    ReadNew(unreadable);
    commands.ReadFromSameFile();
    EXPECT_EQ(messages.errorAborts, (Lines{error, error}));
    EXPECT_EQ(report.Lines(), Lines{"previous report"});
    Bulk(unreadable, dir.File("result.txt"));
    EXPECT_EQ(Contents(dir.File("result.txt")), error + "\n");
    EXPECT_TRUE(messages.shown.empty());
}

// A cancelled "to new file" enables "to same file", which asks, replaces, then
// appends; " %4d" per count, weights as typed (one a line for a column, "" as 1).
TEST_F(TableCommandsTest, SaveToNewFileThenFourToSameFileHoldsFiveCopies) {
    NewTable({{"5", "7", "9"}}, {"1", "", "2"});
    Answer(saveDialog, "");
    commands.SaveToNewFile();
    EXPECT_EQ(menus.Enabled(MenuItem::tosamefile1), 1);
    const std::string path = Write("saved.dat", "an older file\n"), copy = "    5    7    9\r\n\r\n 1 1 2\r\n\r\n";
    Answer(saveDialog, path);
    for (int i = 0; i < 5; ++i) commands.SaveToSameFile();
    EXPECT_EQ(saveDialog.executions, 2);
    EXPECT_EQ(Contents(path), Repeat(copy, 5));

    NewTable({{"4"}, {"5"}}, {"2", " "});
    Answer(saveDialog, dir.File("other.dat"));
    commands.SaveToNewFile();
    NewTable({{"1", "2", "3"}, {"10", "20", "300"}});
    commands.SaveToSameFile();
    EXPECT_EQ(Contents(dir.File("other.dat")), "    4\r\n    5\r\n\r\n2\r\n1\r\n\r\n    1    2    3\r\n   10   20  300\r\n\r\n");
    EXPECT_EQ(Contents(path), Repeat(copy, 5));
}

// The file holds whole numbers: decimal weights are written multiplied by one
// power of ten, so a saved table reads back with the proportions it was
// analysed with; weights that would need more than 32 bits are refused.
TEST_F(TableCommandsTest, DecimalWeightsAreSavedAsWholeNumbersInTheSameProportions) {
    const std::string path = dir.File("decimal.dat");
    struct Case {
        Rows table;
        Lines weights;
        std::string written;
    };
    for (const Case& c : {Case{{{"5", "7", "9"}}, {"0.5", " 0.25 ", ""}, " 50 25 100\r\n\r\n"},
                          Case{{{"4"}, {"5"}}, {"2.5e1", "+.5"}, "250\r\n5\r\n\r\n"},
                          Case{{{"6", "2"}}, {"1E3", "20"}, " 1000 20\r\n\r\n"}}) {
        SCOPED_TRACE(c.written);
        NewTable(c.table, c.weights);
        const Weights analysed = State().Proportions;
        Answer(saveDialog, path);
        commands.SaveToNewFile();
        EXPECT_TRUE(Contents(path).ends_with("\r\n\r\n" + c.written)) << Contents(path);
        ReadNew(path);
        EXPECT_EQ(State().Proportions, analysed);
    }
    // Weights past the file's 32-bit numbers, made whole or typed whole
    // (which would read back as a broken weights block, equal
    // proportions): refused, the file as it was.
    const std::string before = Contents(path);
    for (const Lines& weights : {Lines{"1e-12", "1"}, Lines{"1", "3000000000"}}) {
        SCOPED_TRACE(weights[0]);
        messages.shown.clear();
        NewTable({{"5", "7"}}, weights);
        commands.SaveToNewFile();
        EXPECT_EQ(messages.shown, (Messages{{"The weights cannot be written as whole numbers", "Error"}}));
        EXPECT_EQ(Contents(path), before);
    }
}

// A weight that is no number (the run refused it) is not written: as typed it
// would end the weights block early, or make its rest a table of its own,
// and put every later table of the file out of step.
TEST_F(TableCommandsTest, AWeightThatIsNoNumberIsNotSavedAndLaterTablesKeepTheirPlace) {
    for (const Rows& table : {Rows{{"5", "7", "9"}}, Rows{{"5"}, {"7"}, {"9"}}}) {
        SCOPED_TRACE(table.size());
        const std::string path = Write("weights.dat", "");
        Answer(saveDialog, path);
        NewTable({{"1", "1"}, {"2", "3"}});
        commands.SaveToNewFile();
        messages.shown.clear();
        NewTable(table, {"a", "2", "3"});
        ASSERT_EQ(messages.shown, (Messages{{"'a' is not a valid floating point value", "Error"}}));
        commands.SaveToSameFile();
        EXPECT_EQ(messages.shown.size(), 2u);
        EXPECT_EQ(messages.shown.back(), Messages::value_type("'a' is not a valid floating point value", "Error"));
        EXPECT_EQ(Contents(path), "    1    1\r\n    2    3\r\n\r\n");
        NewTable({{"5", "6"}, {"7", "8"}});
        commands.SaveToSameFile();
        ReadNew(path);
        commands.ReadFromSameFile();
        EXPECT_EQ(Table(), (Counts{{5, 6}, {7, 8}}));
    }
    // A negative weight, refused by the run too, is a number: made whole
    // with the others, its sign kept.
    const std::string path = dir.File("negative.dat");
    Answer(saveDialog, path);
    NewTable({{"5", "7"}}, {"-0.5", "1"});
    commands.SaveToNewFile();
    EXPECT_EQ(Contents(path), "    5    7\r\n\r\n -5 10\r\n\r\n");
    // A 1 x 1 table has nothing to test; the weights of the table before
    // it, refused or not, are neither refused again nor written as its own.
    for (const Lines& before : {Lines{"a", "2", "3"}, Lines{"0.5", "1", "2"}}) {
        SCOPED_TRACE(before[0]);
        NewTable({{"5", "7", "9"}}, before);
        messages.shown.clear();
        NewTable({{"5"}});
        commands.SaveToNewFile();
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_EQ(Contents(path), "    5\r\n\r\n 1\r\n\r\n");
    }
}

// Save > to same file: a table appended to a file whose end an editor changed
// starts a block of its own, without an empty line too many (which would end
// the reading), and after a one-way table written without weights it is not
// taken for them; an append that fails leaves the file as it was, so no half
// table spoils the next append.
TEST_F(TableCommandsTest, AnAppendedTableStartsItsOwnBlockAndAFailedOneLeavesNoTrace) {
    const std::string appended = "    5    6\r\n    7    8\r\n\r\n";
    struct Case {
        std::string before;
        std::string separator;
        Counts first;
        int between = 0;  // tables read after the first before the appended one
    };
    for (const Case& c : {Case{"    1    2\n    3    4\n", "\r\n", {{1, 2}, {3, 4}}},
                          Case{"    1    2\n    3    4", "\r\n\r\n", {{1, 2}, {3, 4}}},
                          Case{"1 2\r\n3 4\r\n", "\r\n", {{1, 2}, {3, 4}}},
                          Case{"1 2\r3 4\r", "\r\n", {{1, 2}, {3, 4}}},
                          Case{"1 2\r3 4\r\r", "", {{1, 2}, {3, 4}}},
                          Case{"1 2\n3 4\n\n", "", {{1, 2}, {3, 4}}},
                          Case{"1 2\r\n3 4\r\n\r\n", "", {{1, 2}, {3, 4}}},
                          Case{"1 2\n3 4\nend of the table", "\r\n", {{1, 2}, {3, 4}}},
                          Case{"1 2\n3 4\n  \t", "\r\n", {{1, 2}, {3, 4}}},
                          Case{"5 7 9\n\n 1 1 2\n", "\r\n", {{5, 7, 9}}},
                          Case{"5 7 9\n\n 1 1 2\n\n", "", {{5, 7, 9}}},
                          Case{"5 7 9\n\n", "\r\n", {{5, 7, 9}}},
                          Case{"5\r\n7", "\r\n\r\n\r\n", {{5}, {7}}},
                          Case{"5 7\n\n\n2 3\n4 5\n\n9 9 9\n", "\r\n\r\n", {{5, 7}}, 2},
                          Case{"", "", {{5, 6}, {7, 8}}}}) {
        SCOPED_TRACE(c.before);
        const std::string path = Write("edited.dat", c.before);
        State().SaveFileName = path;
        NewTable({{"5", "6"}, {"7", "8"}});
        commands.SaveToSameFile();
        EXPECT_EQ(Contents(path), c.before + c.separator + appended);
        ReadNew(path);
        EXPECT_EQ(Table(), c.first);
        if (!c.before.empty()) {
            for (int i = 0; i <= c.between; ++i) commands.ReadFromSameFile();
            EXPECT_EQ(Table(), (Counts{{5, 6}, {7, 8}}));
        }
    }

    const std::string path = dir.File("saved.dat");
    Answer(saveDialog, path);
    NewTable({{"1", "2"}, {"3", "4"}});
    commands.SaveToNewFile();
    const std::string before = Contents(path);
    NewTable(Rows(20, Lines(60, "1")));
    messages.shown.clear();
    fakes::WithFileSizeLimit(2000, [&] { commands.SaveToSameFile(); });
    EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + path, "Error"}}));
    EXPECT_EQ(Contents(path), before);
    NewTable({{"5", "6"}, {"7", "8"}});
    commands.SaveToSameFile();
    EXPECT_EQ(Contents(path), before + appended);
}

// Save writes the table of the last run: not what a cancelled entry or a read
// that ended in a data error has left in the entry grid since.
TEST_F(TableCommandsTest, SaveWritesTheAnalysedTableWhateverTheGridHoldsSince) {
    NewTable({{"1", "2"}, {"3", "4"}});
    Fill(entryGrid, {{"7", "8"}, {"9", "10"}});
    inputGrid.accept = false;
    commands.New();
    const std::string path = dir.File("analysed.dat"), analysed = "    1    2\r\n    3    4\r\n\r\n";
    Answer(saveDialog, path);
    commands.SaveToNewFile();
    EXPECT_EQ(Contents(path), analysed);
    ReadNew(Write("ragged.dat", "5 6 7\n8 9\n\n"));
    ASSERT_EQ(messages.errorAborts.size(), 1u);
    ASSERT_EQ(entryGrid.Cell(0, 0), "5");
    commands.SaveToSameFile();
    EXPECT_EQ(Contents(path), analysed + analysed);
}

// Save refuses a bad count cell (of a table its run refused) or an unwritable
// file (folder, missing folder, full disk) with its message; the replaced
// file stays whole, no temporary left.
TEST_F(TableCommandsTest, UnwritableFileIsReported) {
    const Rows ones(20, Lines(60, "1"));
    const std::string keep = Write("keep.dat", "    9\n\n");
    Answer(saveDialog, keep);
    for (const std::string bad : {"x", "3.5", "", "12 ", "2147483648"}) {
        Rows table = ones;
        table[19][59] = bad;
        NewTable(table);
        messages.shown.clear();
        commands.SaveToNewFile();
        EXPECT_EQ(messages.shown, Messages(1, {"Data error at (20,60).", "Error"})) << bad;
    }
    messages.shown.clear();
    NewTable(ones);
    fakes::WithFileSizeLimit(1000, [&] { commands.SaveToNewFile(); });
    for (const std::string& name : {dir.Path(), dir.File("no/such/folder.dat")}) {
        Answer(saveDialog, name);
        commands.SaveToNewFile();
    }
    State().SaveFileName = "/dev/full";
    commands.SaveToSameFile();
    EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + keep, "Error"},
                                        {"Cannot write file " + dir.Path(), "Error"},
                                        {"Cannot write file " + dir.File("no/such/folder.dat"), "Error"},
                                        {"Cannot write file /dev/full", "Error"}}));
    EXPECT_EQ(Contents(keep), "    9\n\n");
    const auto files = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

// Bulk: the reports as Read gives them, in the result file (emptied first, so
// a second Bulk does not double it) or appended to the results editor; a
// broken table becomes one error line, no message; a broken weights block is
// skipped, and so is an empty one (a one-way table without weights), as
// Read does; the file is left open at its end.
TEST_F(TableCommandsTest, BulkWritesADataErrorLineInPlaceOfABrokenTableAndGoesOn) {
    const std::string good = "1 2\n3 4\n\n5 7 9\n\n1 2 3\n4\n5 5\n\n",
                      last = "5\n7\n9\n\n1\n1\n2\n\n6 8\n\n\n2 3\n4 5\n";
    const Lines first = ReadThrough(Write("first.dat", good), 2), final = ReadThrough(Write("last.dat", last), 3);
    // A broken table of one row or one column takes its weights block along
    // (one without weights has an empty one).
    const std::string oneWay = Repeat(" 1", 61) + "\n\n1 2\n\n99999999999\n\n3 4 5\n\n4\n99999999999\n6\n\n1\n1\n2\n\n" +
                               Repeat("1\n", 51) + "\n" + Repeat(" 2", 51) + "\n\n5 99999999999\n\n\n";
    const std::string data = Write("broken.dat", good + "1 2\n3 4 5\n6 7\n\n" + Repeat("1 1\n", 51) + "\n1 2\n" +
                                                     Repeat(" 1", 61) + "\n2 2\n\n5 99999999999\n1 1\n\n" + oneWay + last);
    const std::string result = Write("result.txt", "an older result\n");
    ReadNew(Write("other.dat", "7 7\n1 1\n\n"));
    const std::size_t named = openDialog.namesSet.size();
    Bulk(data, result);
    Bulk(data, result);
    EXPECT_TRUE(report.Lines().empty());
    EXPECT_EQ(openDialog.namesSet.size(), named);  // Bulk shows it with the name it held
    const std::string error = "Data error reading file " + data;
    const Lines expected = Joined(Joined(first, Lines(9, error)), final);
    EXPECT_EQ(Reports(expected), 5);
    EXPECT_EQ(fakes::FileLines(result), expected);
    EXPECT_TRUE(messages.errorAborts.empty() && messages.shown.empty());
    commands.ReadFromSameFile();
    EXPECT_EQ(report.Lines(), Lines{kNoData});
    results.AppendLine("stored earlier");
    Bulk(data, "");
    EXPECT_EQ(results.lines, Joined({"stored earlier"}, expected));
}

// Bulk processing of a file of broken tables only, with no result file: no
// run has enabled Results, yet the lines are stored for the user to see.
TEST_F(TableCommandsTest, BulkLinesStoredWithoutAnyRunCanBeSeenInTheResults) {
    const std::string data = Write("broken.dat", "1 2 3\n4 5\n\n" + Repeat(" 1", 61) + "\n\n");
    Bulk(data, "");
    EXPECT_EQ(results.lines, Lines(2, "Data error reading file " + data));
    EXPECT_EQ(menus.Enabled(MenuItem::Results1), 1);
}

// A stop (the main window closing during a run's message) ends Bulk processing
// after that table; a later one with its dialog cancelled goes on with the file.
TEST_F(TableCommandsTest, StopBulkProcessingEndsTheLoopAfterTheCurrentTable) {
    messages.onShow = [&] { commands.StopBulkProcessing(); };
    Bulk(Write("stop.dat", "5 7 9\n\n1 0 2\n\n3 4\n5 6\n\n7 8\n9 10\n\n11 12\n13 14\n\n"), "");
    EXPECT_EQ(messages.shown, (Messages{{"The proportion of category 2 must be greater than 0", "Error"}}));
    EXPECT_TRUE(results.lines.empty());
    EXPECT_EQ(menus.log.at(0), std::make_pair(MenuItem::Save1, false));  // the table discarded first
    EXPECT_EQ(menus.Enabled(MenuItem::Save1), 1);                          // and Save on, refused or not
    messages.onShow = nullptr;
    commands.ReadFromSameFile();
    Answer(openDialog, "");
    commands.BulkProcessing();
    EXPECT_EQ(resultDialog.executions, 1);
    EXPECT_EQ(Reports(results.lines), 2);
    EXPECT_EQ(Table(), (Counts{{11, 12}, {13, 14}}));
}

// Bulk loses no result file when there is no data file, and says when there
// is none or it holds no table; a result file that cannot be created is said
// once (reports to the editor), one that fails while written is said once
// and stops the processing after the table.
TEST_F(TableCommandsTest, BulkStopsWithOneMessageWhenTheResultFileCannotBeWritten) {
    const std::string result = Write("result.txt", "an older result\n");
    std::filesystem::create_directory(dir.File("folder.dat"));
    report.AppendLine("previous report");
    for (const std::string& data : {dir.File("missing.dat"), dir.File("folder.dat"), std::string()}) Bulk(data, result);
    EXPECT_EQ(Contents(result), "an older result\n");
    EXPECT_EQ(resultDialog.executions, 0);
    EXPECT_EQ(report.Lines(), Lines{"previous report"});
    EXPECT_TRUE(results.lines.empty());
    // The two files that could not be opened are said in the status line
    // (the cancelled dialog is not).
    EXPECT_EQ(status.texts, (Lines{"No data avaiable", "No data avaiable"}));

    // A file without a table at its start, and a file read to its end
    // before, are said likewise; a file with tables is not.
    status.texts.clear();
    Bulk(Write("empty.dat", "\n\n1 2\n3 4\n\n"), result);
    EXPECT_EQ(status.Last(), "No data avaiable");
    EXPECT_EQ(Contents(result), "");
    status.texts.clear();
    Bulk(Write("one.dat", "1 2\n3 4\n\n"), result);
    EXPECT_NE(status.Last(), "No data avaiable");
    const std::string oneReport = Contents(result);
    EXPECT_NE(oneReport.find("Observed Numbers."), std::string::npos);
    Bulk("", "");
    EXPECT_EQ(status.Last(), "No data avaiable");
    EXPECT_EQ(Contents(result), oneReport);

    const std::string data = Write("three.dat", "1 2\n3 4\n\n5 6\n7 8\n\n9 10\n11 12\n\n");
    for (const std::string& unwritable : {dir.File("no/such/folder/result.txt"), dir.File("folder.dat")}) {
        messages.shown.clear();
        Bulk(data, unwritable);
        EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + unwritable, "Error"}}));
    }
    EXPECT_EQ(Reports(results.lines), 6);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.dat")));
    messages.shown.clear();
    fakes::WithFileSizeLimit(10, [&] { Bulk(data, result); });
    EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + result, "Error"}}));
    EXPECT_EQ(Reports(results.lines), 6);
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{5, 6}, {7, 8}}));
}

// Sets or clears a file attribute with chattr ("+i" on a folder: nothing in
// it can be deleted; "+a" on a file: it can be neither deleted nor emptied,
// even by the superuser); false where the file system or the user cannot.
bool FileAttribute(const std::string& change, const std::string& path) {
    return std::system(("chattr " + change + " '" + path + "' 2>/dev/null").c_str()) == 0;
}

// Bulk's result file starts empty without putting a plain file in place of a
// pipe, a device or a link, is emptied where it cannot be deleted, and is refused
// (nothing run, the name forgotten) where it can be neither: the reports
// would follow its old contents.
TEST_F(TableCommandsTest, BulkStartsItsResultFileEmptyWithoutReplacingWhatItIs) {
    const std::string data = Write("one.dat", "1 2\n3 4\n\n");
    const std::string pipe = dir.File("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // A reader that does not wait for the writer; the report fits the pipe.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    Bulk(data, pipe);
    std::string piped(65536, '\0');
    const ssize_t got = ::read(reader, piped.data(), piped.size());
    ::close(reader);
    piped.resize(got > 0 ? std::size_t(got) : 0);
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    std::istringstream pipedLines(piped);
    Lines lines;
    for (std::string line; std::getline(pipedLines, line);) lines.push_back(line);
    EXPECT_EQ(Reports(lines), 1);

    const std::string device = dir.File("null");
    // (A folder on a file system mounted without devices refuses to open one.)
    if (std::system(("mknod '" + device + "' c 1 3 2>/dev/null && : >'" + device + "'").c_str()) == 0) {
        Bulk(data, device);
        EXPECT_TRUE(std::filesystem::is_character_file(device));
    }

    // A link stays a link: the file it points to gets the reports, or is
    // made for them.
    const std::string target = Write("target.txt", "a report of last week\n"), link = dir.File("link.txt");
    std::filesystem::create_symlink(target, link);
    std::filesystem::create_symlink(dir.File("made.txt"), dir.File("dangling.txt"));
    for (const std::string& name : {link, dir.File("dangling.txt")}) {
        Bulk(data, name);
        EXPECT_TRUE(std::filesystem::is_symlink(name)) << name;
    }
    EXPECT_EQ(Reports(fakes::FileLines(target)), 1);
    EXPECT_FALSE(Contents(target).starts_with("a report of last week"));
    EXPECT_EQ(Reports(fakes::FileLines(dir.File("made.txt"))), 1);

    std::filesystem::create_directory(dir.File("kept"));
    const std::string kept = Write("kept/result.txt", "a report of last week\n");
    if (!FileAttribute("+i", dir.File("kept"))) GTEST_SKIP() << "no file attributes here";
    messages.shown.clear();
    Bulk(data, kept);
    FileAttribute("-i", dir.File("kept"));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Reports(fakes::FileLines(kept)), 1);
    EXPECT_FALSE(Contents(kept).starts_with("a report of last week"));

    const std::string stuck = Write("stuck.txt", "a report of last week\n");
    ASSERT_TRUE(FileAttribute("+a", stuck));
    results.lines.clear();
    Bulk(data, stuck);
    FileAttribute("-a", stuck);
    EXPECT_EQ(messages.shown, (Messages{{"Cannot write file " + stuck, "Error"}}));
    EXPECT_EQ(Contents(stuck), "a report of last week\n");
    EXPECT_TRUE(results.lines.empty() && report.Lines().empty());
    EXPECT_TRUE(State().DetailsFileName.empty());
}

// Bulk processing refuses the data file as result file, by any spelling and
// also when it is the result file name held from before (dialogs cancelled):
// one message, nothing deleted, written or run, the name forgotten. The data
// file stays open where it was, and a later Bulk with another result file
// processes every table.
TEST_F(TableCommandsTest, BulkRefusesTheDataFileAsResultFileAndLosesNothing) {
    const std::string tables = "1 2\n3 4\n\n5 6\n7 8\n\n";
    const std::string data = Write("data.dat", tables);
    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_symlink(data, dir.File("link.txt"));
    const Messages refused{{"The data file cannot be used as the result file", "Error"}};
    for (const std::string& result : {data, dir.File("sub/../data.dat"), dir.File("link.txt")}) {
        messages.shown.clear();
        Bulk(data, result);
        EXPECT_EQ(messages.shown, refused) << result;
        EXPECT_EQ(Contents(data), tables);
        EXPECT_TRUE(State().DetailsFileName.empty());
    }
    messages.shown.clear();
    State().DetailsFileName = data;
    Answer(openDialog, "");
    commands.BulkProcessing();
    EXPECT_EQ(messages.shown, refused);
    EXPECT_EQ(Contents(data), tables);
    EXPECT_TRUE(State().DetailsFileName.empty());
    EXPECT_TRUE(report.Lines().empty());
    EXPECT_TRUE(results.lines.empty());
    EXPECT_FALSE(State().Table.Exists());

    const std::string result = dir.File("result.txt");
    messages.shown.clear();
    Bulk(data, result);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Reports(fakes::FileLines(result)), 2);
    EXPECT_EQ(Contents(data), tables);
}

// Save, to a new or the same file, refuses the data file open for reading
// (by any spelling): one message, the file as it was, and the reading goes
// on where it stood; a name refused for a new file is not kept, so "to same
// file" asks again. Once the data file is closed (New) it is an ordinary
// file to save to.
TEST_F(TableCommandsTest, SaveRefusesTheDataFileBeingRead) {
    const std::string path = dir.File("saved.dat");
    NewTable({{"1", "2"}, {"3", "4"}});
    Answer(saveDialog, path);
    commands.SaveToNewFile();
    NewTable({{"5", "6"}, {"7", "8"}});
    commands.SaveToSameFile();
    const std::string tables = "    1    2\r\n    3    4\r\n\r\n    5    6\r\n    7    8\r\n\r\n";
    ASSERT_EQ(Contents(path), tables);

    ReadNew(path);
    const Messages refused{{"The data file being read cannot be written", "Error"}};
    commands.SaveToSameFile();
    EXPECT_EQ(messages.shown, refused);
    EXPECT_EQ(State().SaveFileName, path);
    std::filesystem::create_directory(dir.File("sub"));
    for (const std::string& name : {path, dir.File("sub/../saved.dat")}) {
        messages.shown.clear();
        Answer(saveDialog, name);
        commands.SaveToNewFile();
        EXPECT_EQ(messages.shown, refused) << name;
        EXPECT_TRUE(State().SaveFileName.empty());
    }
    EXPECT_EQ(Contents(path), tables);
    commands.ReadFromSameFile();
    EXPECT_EQ(Table(), (Counts{{5, 6}, {7, 8}}));

    messages.shown.clear();
    Answer(saveDialog, path);
    NewTable({{"9", "10"}, {"11", "12"}});
    const int asked = saveDialog.executions;
    commands.SaveToSameFile();
    EXPECT_EQ(saveDialog.executions, asked + 1);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Contents(path), "    9   10\r\n   11   12\r\n\r\n");
}

// A weight pasted into the proportions grid keeps the line break copied with
// it ("2\n"); the run takes it as 2. Saved, the table must read back with the
// weights it was analysed with, and no further table may appear in the file.
TEST_F(TableCommandsTest, APastedLineBreakInAWeightDoesNotBreakTheSavedFile) {
    for (const Rows& table : {Rows{{"5"}, {"7"}, {"9"}}, Rows{{"5", "7", "9"}}}) {
        SCOPED_TRACE(table.size());
        for (const std::string& pasted : {std::string("2\n"), std::string("2\r\n")}) {
            NewTable(table, {pasted, "1", "1"});
            ASSERT_EQ(State().Proportions, (Weights{0.5, 0.25, 0.25}));
            const std::string path = dir.File("pasted.dat");
            Answer(saveDialog, path);
            commands.SaveToNewFile();
            commands.SaveToSameFile();
            ReadNew(path);
            EXPECT_EQ(Table(), (Counts(table.size() == 1 ? Counts{{5, 7, 9}} : Counts{{5}, {7}, {9}})));
            EXPECT_EQ(State().Proportions, (Weights{0.5, 0.25, 0.25})) << Contents(path);
            commands.ReadFromSameFile();
            EXPECT_EQ(State().Proportions, (Weights{0.5, 0.25, 0.25})) << Contents(path);
            commands.ReadFromSameFile();
            EXPECT_EQ(report.Lines(), Lines{kNoData}) << Contents(path);
        }
    }
}

// Save to a device (a null device made in the test's folder, where devices
// can be made): the table goes to the device, which stays a device rather
// than being replaced by a plain file.
TEST_F(TableCommandsTest, SaveToADeviceLeavesTheDeviceInPlace) {
    const std::string device = dir.File("null");
    if (std::system(("mknod '" + device + "' c 1 3 2>/dev/null && : >'" + device + "'").c_str()) != 0)
        GTEST_SKIP() << "no device can be made or opened here";
    NewTable({{"1", "2"}, {"3", "4"}});
    Answer(saveDialog, device);
    commands.SaveToNewFile();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(std::filesystem::is_character_file(device));
}

}  // namespace
}  // namespace kelvorin
