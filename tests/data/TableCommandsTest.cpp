#include "TableCommands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/resource.h>

#include <csignal>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "AnalysisEngine.h"
#include "CommandFakes.h"

namespace kelvorin {
namespace {

using namespace commandfakes;
using Counts = std::vector<std::vector<int>>;
using Lines = std::vector<std::string>;

const std::string kBanner = "Zelkat                15.03.2023 10:30:00";

// Options that make every run quick: the observed table and nothing that
// needs the exact enumeration.
AnalysisOptions ObservedOnly() {
    AnalysisOptions options;
    for (int i = 0; i < 12; ++i) BooleanOption(options, i) = false;
    options.Observed = true;
    return options;
}

void FillGrid(TextGrid& grid, const Counts& rows) {
    grid.SetRowCount(static_cast<int>(rows.size()));
    grid.SetColCount(static_cast<int>(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            grid.SetCell(static_cast<int>(j), static_cast<int>(i), std::to_string(rows[i][j]));
}

std::string Repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// N lines each holding TEXT and a line feed.
std::string RepeatLine(const std::string& text, int n) { return Repeat(text + "\n", n); }

int BannerCount(const Lines& lines) {
    int count = 0;
    for (const std::string& line : lines) count += line == kBanner ? 1 : 0;
    return count;
}

Lines Concatenated(const std::vector<Lines>& parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class TableCommandsTest : public commandfakes::CommandsHarness {
protected:
    TableCommandsTest() : CommandsHarness(ObservedOnly(), "kelvorin_commands") {}

    static Lines FileLines(const std::string& path) {
        Lines lines;
        std::istringstream in(Contents(path));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    Counts EntryGridCounts() {
        Counts rows(static_cast<std::size_t>(env.entryGrid.RowCount()));
        for (int i = 0; i < env.entryGrid.RowCount(); ++i)
            for (int j = 0; j < env.entryGrid.ColCount(); ++j)
                rows[static_cast<std::size_t>(i)].push_back(std::stoi(env.entryGrid.Cell(j, i)));
        return rows;
    }
    void ExpectProportions(const std::vector<double>& expected) {
        ASSERT_EQ(State().Proportions.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_DOUBLE_EQ(State().Proportions[k], expected[k]) << "category " << k;
    }

    // The reports of the first N tables of PATH as the Read commands give
    // them, one after the other.
    Lines ReadThrough(const std::string& path, int n) {
        std::vector<Lines> reports;
        ReadNew(path);
        reports.push_back(env.report.lines);
        for (int i = 1; i < n; ++i) {
            commands.ReadFromSameFile();
            reports.push_back(env.report.lines);
        }
        return Concatenated(reports);
    }
    // The report of the first table of a data file holding TEXT.
    Lines ReportOf(const std::string& text) {
        return ReadThrough(WriteFile("single" + std::to_string(++singles_) + ".dat", text), 1);
    }

private:
    int singles_ = 0;
};

// ---------------------------------------------------------------- New

TEST_F(TableCommandsTest, NewShowsTheGridAtItsPlacementRunsAndTakesThePlacementBack) {
    commands.GridPlacement() = Placement{10, 20, 300, 400};
    env.inputGrid.placementAfter = Placement{11, 22, 333, 444};
    FillGrid(env.entryGrid, {{1, 2}, {3, 4}});
    env.report.AppendLine("previous report");

    commands.New();

    ASSERT_EQ(env.inputGrid.shownAt.size(), 1u);
    EXPECT_EQ(env.inputGrid.shownAt[0], (Placement{10, 20, 300, 400}));
    ASSERT_GE(env.report.lines.size(), 2u);
    EXPECT_EQ(env.report.lines[0], " ");
    EXPECT_EQ(env.report.lines[1], kBanner);
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));
    EXPECT_EQ(commands.GridPlacement(), (Placement{11, 22, 333, 444}));
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
}

TEST_F(TableCommandsTest, NewCancelledChangesNothingButTheDataFileName) {
    ReadNew(WriteFile("a.dat", "1 2\n3 4\n\n5 6\n7 8\n\n"));
    const Lines report = env.report.lines;
    const std::size_t menuChanges = env.menus.log.size();
    commands.GridPlacement() = Placement{10, 20, 300, 400};
    env.inputGrid.placementAfter = Placement{1, 2, 3, 4};
    env.inputGrid.accept = false;

    commands.New();

    EXPECT_EQ(env.report.lines, report);
    EXPECT_EQ(env.menus.log.size(), menuChanges);
    EXPECT_EQ(commands.GridPlacement(), (Placement{10, 20, 300, 400}));
    EXPECT_TRUE(State().DataFileName.empty());
    EXPECT_TRUE(State().Table.Exists());
}

TEST_F(TableCommandsTest, NewClosesTheDataFileSoTheProportionsWindowIsShownAndSameFileAsksAgain) {
    const std::string path = WriteFile("a.dat", "1 2\n3 4\n\n5 6\n7 8\n\n");
    ReadNew(path);
    FillGrid(env.entryGrid, {{3, 4, 5}});
    env.proportionsWindow.onShow = [&] {
        env.proportionsGrid.SetCell(0, 0, "1");
        env.proportionsGrid.SetCell(1, 0, "2");
        env.proportionsGrid.SetCell(2, 0, "1");
    };

    commands.New();

    EXPECT_FALSE(State().DataFile.IsOpen());
    EXPECT_TRUE(State().DataFileName.empty());
    EXPECT_EQ(env.proportionsWindow.shows, 1);
    EXPECT_EQ(TableInState(), (Counts{{3, 4, 5}}));
    ExpectProportions({0.25, 0.5, 0.25});

    // The file is asked for again and read from its start.
    env.openDialog1.Confirm(path);
    commands.ReadFromSameFile();
    EXPECT_EQ(env.openDialog1.executions, 2);
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));
}

// ---------------------------------------------------------------- Read

TEST_F(TableCommandsTest, ThreeTablesAreReadOneAfterAnotherThenNoDataDisablesSameFile) {
    const std::string path = WriteFile("three.dat", "1 2\n3 4\n\n5 6 7\n8 9 10\n\n11 12\n13 14\n15 16\n\n");

    ReadNew(path);
    EXPECT_EQ(env.openDialog1.namesSet, Lines{""});  // the name is emptied before asking
    EXPECT_EQ(State().DataFileName, path);
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));
    EXPECT_EQ(BannerCount(env.report.lines), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{5, 6, 7}, {8, 9, 10}}));
    EXPECT_EQ(BannerCount(env.report.lines), 1);
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{11, 12}, {13, 14}, {15, 16}}));
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);

    commands.ReadFromSameFile();
    EXPECT_EQ(env.report.lines, Lines{"No data avaiable"});
    EXPECT_EQ(env.status.Last(), "No data avaiable");
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 0);
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 0);
    EXPECT_FALSE(State().Table.Exists());
    EXPECT_EQ(env.openDialog1.executions, 1);
    EXPECT_TRUE(env.messages.errorAborts.empty());
}

TEST_F(TableCommandsTest, FiftyRowsAreReadAndFiftyOneRowsAreADataError) {
    const std::string path =
        WriteFile("rows.dat", RepeatLine("1 2", 50) + "\n" + RepeatLine("1 2", 51) + "\n" + "3 4\n5 6\n\n");
    ReadNew(path);
    EXPECT_EQ(State().Table.Rows, 50);
    EXPECT_EQ(BannerCount(env.report.lines), 1);
    const Lines report = env.report.lines;
    const std::size_t menuChanges = env.menus.log.size();

    commands.ReadFromSameFile();
    EXPECT_EQ(env.messages.errorAborts, Lines{"Data error reading file " + path});
    EXPECT_EQ(env.report.lines, report);
    EXPECT_EQ(env.menus.log.size(), menuChanges);
    EXPECT_EQ(State().Table.Rows, 50);          // no table discarded, no run
    EXPECT_EQ(env.entryGrid.RowCount(), 51);    // the rows read stay in the grid

    // The whole block was read: the next table follows.
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{3, 4}, {5, 6}}));

    // From a new file alike, and "from same file" keeps its state.
    const std::string tooLong = WriteFile("long.dat", RepeatLine("1 2", 51) + "\n");
    ReadNew(tooLong);
    EXPECT_EQ(env.messages.errorAborts,
              (Lines{"Data error reading file " + path, "Data error reading file " + tooLong}));
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);
    EXPECT_EQ(TableInState(), (Counts{{3, 4}, {5, 6}}));
}

TEST_F(TableCommandsTest, ReadErrorsShowTheDialogAndTheRestOfTheTableIsReadNext) {
    env.report.AppendLine("previous report");
    const std::string ragged = WriteFile("ragged.dat", "1 2\n3 4 5\n6 7 8\n\n");
    ReadNew(ragged);
    EXPECT_EQ(env.messages.errorAborts, Lines{"Data error reading file " + ragged});
    EXPECT_EQ(env.report.lines, Lines{"previous report"});
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), RecordingMenus::kUnset);
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), RecordingMenus::kUnset);
    EXPECT_EQ(env.entryGrid.RowCount(), 2);
    EXPECT_EQ(env.entryGrid.ColCount(), 3);

    // The file stays open after the offending line.
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{6, 7, 8}}));

    const std::string wide = WriteFile("wide.dat", Repeat(" 1", 61) + "\n\n");
    ReadNew(wide);
    const std::string huge = WriteFile("huge.dat", "1 99999999999\n2 3\n\n");
    ReadNew(huge);
    EXPECT_EQ(env.messages.errorAborts, (Lines{"Data error reading file " + ragged, "Data error reading file " + wide,
                                               "Data error reading file " + huge}));
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(TableCommandsTest, NoTableFromNewFileReportsNoDataAndKeepsSameFileEnabled) {
    const std::string good = WriteFile("good.dat", "1 2\n3 4\n\n");
    const std::string blankFirst = WriteFile("blank.dat", "\n1 2\n3 4\n\n");
    const std::string empty = WriteFile("empty.dat", "");
    for (const std::string& answer : {std::string(), PathOf("missing.dat"), blankFirst, empty}) {
        SCOPED_TRACE("answer '" + answer + "'");
        ReadNew(good);
        ASSERT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);
        ASSERT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
        if (answer.empty())
            env.openDialog1.Cancel();
        else
            env.openDialog1.Confirm(answer);

        commands.ReadFromNewFile();

        EXPECT_EQ(env.report.lines, Lines{"No data avaiable"});
        EXPECT_EQ(env.status.Last(), "No data avaiable");
        EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 0);
        EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);
        EXPECT_FALSE(State().Table.Exists());
        EXPECT_TRUE(env.messages.errorAborts.empty());
    }
    // After a cancelled dialog nothing is open: "from same file" asks again.
    env.openDialog1.Cancel();
    commands.ReadFromNewFile();
    EXPECT_FALSE(State().DataFile.IsOpen());
    EXPECT_TRUE(State().DataFileName.empty());
    const int shown = env.openDialog1.executions;
    env.openDialog1.Cancel();
    commands.ReadFromSameFile();
    EXPECT_EQ(env.openDialog1.executions, shown + 1);
    EXPECT_EQ(env.report.lines, Lines{"No data avaiable"});
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 0);
}

TEST_F(TableCommandsTest, OneRowTablesUseTheWeightsBlockThatFollowsThem) {
    ReadNew(WriteFile("row.dat", "5 7 9\n\n1 1 2\n\n2 3\n4 5\n\n8 8 8 8\n\n3 1 2 2\n\n"));
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    ExpectProportions({0.25, 0.25, 0.5});
    EXPECT_EQ(BannerCount(env.report.lines), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{2, 3}, {4, 5}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{8, 8, 8, 8}}));
    ExpectProportions({0.375, 0.125, 0.25, 0.25});
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

TEST_F(TableCommandsTest, OneColumnTablesUseTheWeightsBlockThatFollowsThem) {
    ReadNew(WriteFile("column.dat", "5\n7\n9\n\n1\n1\n2\n\n3 4\n5 6\n\n7\n8\n\n3\n1\n\n"));
    EXPECT_EQ(TableInState(), (Counts{{5}, {7}, {9}}));
    ExpectProportions({0.25, 0.25, 0.5});

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{3, 4}, {5, 6}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{7}, {8}}));
    ExpectProportions({0.75, 0.25});
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

TEST_F(TableCommandsTest, OneRowTableFollowedDirectlyByATableTakesThatTableAsItsWeights) {
    ReadNew(WriteFile("next.dat", "5 7 9\n\n1 2 3\n4 5 6\n\n7 8\n9 10\n\n"));
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    // Two lines are no weights for three categories: equal proportions.
    ExpectProportions({1.0 / 3, 1.0 / 3, 1.0 / 3});

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{7, 8}, {9, 10}}));
}

TEST_F(TableCommandsTest, OneRowTableWithoutWeightsFromNewFileRunsWithEqualProportions) {
    for (const std::string& text : {std::string("5 7 9\n"), std::string("5 7 9\n\n\n2 3\n4 5\n\n")}) {
        SCOPED_TRACE(text);
        const std::size_t shownBefore = env.messages.shown.size();
        ReadNew(WriteFile("noweights.dat", text));
        EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
        ExpectProportions({1.0 / 3, 1.0 / 3, 1.0 / 3});
        EXPECT_EQ(BannerCount(env.report.lines), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);
        EXPECT_EQ(env.messages.shown.size(), shownBefore);
    }
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{2, 3}, {4, 5}}));
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

TEST_F(TableCommandsTest, FaultyWeightsBlockMeansEqualProportionsAndIsSkippedToItsEnd) {
    ReadNew(WriteFile("faulty.dat",
                      "5 7 9\n\n1 2 3\n4\n5 5\n\n"        // ragged weights
                      "6 8\n\n99999999999 1\n7 7 7\n\n"   // a weight out of range
                      "10 20\n30 40\n\n"));
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    ExpectProportions({1.0 / 3, 1.0 / 3, 1.0 / 3});
    EXPECT_EQ(BannerCount(env.report.lines), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{6, 8}}));
    ExpectProportions({0.5, 0.5});

    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{10, 20}, {30, 40}}));
    EXPECT_TRUE(env.messages.errorAborts.empty());
}

// ---------------------------------------------------------------- Save

TEST_F(TableCommandsTest, SaveToNewFileThenFourToSameFileHoldsFiveCopies) {
    FillGrid(env.entryGrid, {{1, 2, 3}, {10, 20, 300}});
    commands.New();
    const std::string path = WriteFile("saved.dat", "an older file\n");
    env.saveDialog2.Confirm(path);

    commands.SaveToNewFile();
    EXPECT_EQ(env.menus.Enabled(MenuItem::tosamefile1), 1);
    for (int i = 0; i < 4; ++i) commands.SaveToSameFile();

    EXPECT_EQ(Contents(path), Repeat("    1    2    3\n   10   20  300\n\n", 5));
    EXPECT_EQ(env.saveDialog2.executions, 1);
    EXPECT_EQ(State().SaveFileName, path);

    // The saved file reads back table by table.
    ReadNew(path);
    EXPECT_EQ(TableInState(), (Counts{{1, 2, 3}, {10, 20, 300}}));

    // "to new file" asks again and starts the other file afresh.
    const std::string other = PathOf("other.dat");
    env.saveDialog2.Confirm(other);
    commands.SaveToNewFile();
    EXPECT_EQ(env.saveDialog2.executions, 2);
    EXPECT_EQ(Contents(other), "    1    2    3\n   10   20  300\n\n");
    EXPECT_EQ(Contents(path), Repeat("    1    2    3\n   10   20  300\n\n", 5));
}

TEST_F(TableCommandsTest, SavedOneRowTableCarriesItsTypedWeights) {
    FillGrid(env.entryGrid, {{5, 7, 9}});
    env.proportionsWindow.onShow = [&] {
        env.proportionsGrid.SetCell(0, 0, "1");
        env.proportionsGrid.SetCell(1, 0, "1");
        env.proportionsGrid.SetCell(2, 0, "2");
    };
    commands.New();
    const std::string path = PathOf("row.dat");
    env.saveDialog2.Confirm(path);

    commands.SaveToNewFile();
    for (int i = 0; i < 4; ++i) commands.SaveToSameFile();

    EXPECT_EQ(Contents(path), Repeat("    5    7    9\n\n 1 1 2\n\n", 5));
    // Read back, each table gets its weights.
    ReadNew(path);
    ExpectProportions({0.25, 0.25, 0.5});
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    ExpectProportions({0.25, 0.25, 0.5});
}

TEST_F(TableCommandsTest, SaveWithTheDialogCancelledStillEnablesToSameFileWhichAsksAgain) {
    FillGrid(env.entryGrid, {{1, 2}, {3, 4}});
    commands.New();
    env.saveDialog2.Cancel();

    commands.SaveToNewFile();
    EXPECT_EQ(env.menus.Enabled(MenuItem::tosamefile1), 1);
    EXPECT_TRUE(State().SaveFileName.empty());

    const std::string path = PathOf("later.dat");
    env.saveDialog2.Confirm(path);
    commands.SaveToSameFile();
    EXPECT_EQ(env.saveDialog2.executions, 2);
    EXPECT_EQ(Contents(path), "    1    2\n    3    4\n\n");
}

// ---------------------------------------------------------------- Enabled states

TEST_F(TableCommandsTest, EnabledStatesOfReadAndSaveItemsFollowTheCommands) {
    const std::string path = WriteFile("two.dat", "1 2\n3 4\n\n0 0\n5 6\n\n");
    FillGrid(env.entryGrid, {{1, 2}, {3, 4}});
    commands.New();
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), RecordingMenus::kUnset);
    EXPECT_EQ(env.menus.Enabled(MenuItem::tosamefile1), RecordingMenus::kUnset);

    // "from same file" that asks for the file does not enable itself.
    env.openDialog1.Confirm(path);
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), RecordingMenus::kUnset);

    // A run that refuses its table leaves Save enabled.
    commands.ReadFromSameFile();
    EXPECT_EQ(env.messages.shown, (std::vector<std::pair<std::string, std::string>>{{"All zeros in row 1", "Error"}}));
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);

    ReadNew(path);
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), 1);

    // Every table discards the previous one before its run.
    env.menus.log.clear();
    commands.ReadFromSameFile();
    ASSERT_FALSE(env.menus.log.empty());
    EXPECT_EQ(env.menus.log.front(), std::make_pair(MenuItem::Save1, false));
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::Results1), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::Newtable1), 1);
}

// ---------------------------------------------------------------- Bulk processing

const std::string kFiveTables =
    "1 2\n3 4\n\n5 6 7\n8 9 10\n\n2 2\n3 3\n4 4\n\n9 1\n1 9\n\n12 13 14 15\n1 2 3 4\n\n";

TEST_F(TableCommandsTest, BulkWritesTheFiveReportsToTheResultFile) {
    const std::string data = WriteFile("five.dat", kFiveTables);
    const std::string result = PathOf("result.txt");
    env.report.AppendLine("previous report");

    Bulk(data, result);

    EXPECT_TRUE(env.report.lines.empty());
    EXPECT_TRUE(env.results.lines.empty());
    EXPECT_EQ(State().DetailsFileName, result);
    EXPECT_TRUE(State().DataFile.IsOpen());
    EXPECT_TRUE(env.openDialog1.namesSet.empty());  // shown with the name it held
    EXPECT_EQ(env.menus.Enabled(MenuItem::fromsamefile1), RecordingMenus::kUnset);
    EXPECT_EQ(TableInState(), (Counts{{12, 13, 14, 15}, {1, 2, 3, 4}}));
    const Lines written = FileLines(result);
    EXPECT_EQ(BannerCount(written), 5);
    EXPECT_EQ(written, ReadThrough(data, 5));
}

TEST_F(TableCommandsTest, BulkWithoutResultFileAppendsTheReportsToTheResultsEditor) {
    const std::string data = WriteFile("five.dat", kFiveTables);
    env.results.AppendLine("stored earlier");

    Bulk(data, "");

    EXPECT_TRUE(State().DetailsFileName.empty());
    EXPECT_TRUE(env.report.lines.empty());
    ASSERT_FALSE(env.results.lines.empty());
    EXPECT_EQ(env.results.lines.front(), "stored earlier");
    const Lines added(env.results.lines.begin() + 1, env.results.lines.end());
    EXPECT_EQ(BannerCount(added), 5);
    EXPECT_EQ(added, ReadThrough(data, 5));
}

TEST_F(TableCommandsTest, BulkTwiceWithTheSameResultFileHoldsOnlyTheNewReports) {
    const std::string data = WriteFile("five.dat", kFiveTables);
    const std::string result = WriteFile("result.txt", "an older result\n");

    Bulk(data, result);
    const std::string first = Contents(result);
    Bulk(data, result);

    EXPECT_EQ(Contents(result), first);
    EXPECT_EQ(BannerCount(FileLines(result)), 5);
    EXPECT_EQ(FileLines(result), ReadThrough(data, 5));
}

TEST_F(TableCommandsTest, BulkWritesADataErrorLineInPlaceOfABrokenTableAndGoesOn) {
    const Lines first = ReportOf("1 2\n3 4\n\n");
    const Lines last = ReportOf("5 6\n7 8\n\n");
    const std::string data = WriteFile("broken.dat",
                                       "1 2\n3 4\n\n" +
                                           std::string("1 2\n3 4 5\n6 7\n\n") +            // ragged
                                           RepeatLine("1 1", 51) + "\n" +                  // 51 rows
                                           "1 2\n" + Repeat(" 1", 61) + "\n2 2\n\n" +     // 61 values
                                           "5 99999999999\n1 1\n\n" +                     // out of range
                                           "5 6\n7 8\n\n");
    const std::string result = PathOf("result.txt");
    const std::size_t shownBefore = env.messages.shown.size();

    Bulk(data, result);

    const std::string error = "Data error reading file " + data;
    EXPECT_EQ(FileLines(result), Concatenated({first, {error, error, error, error}, last}));
    EXPECT_TRUE(env.messages.errorAborts.empty());
    EXPECT_EQ(env.messages.shown.size(), shownBefore);
    EXPECT_TRUE(env.report.lines.empty());
}

TEST_F(TableCommandsTest, BulkDataErrorLineGoesToTheResultsEditorWithoutResultFile) {
    const Lines last = ReportOf("5 6\n7 8\n\n");
    const std::string data = WriteFile("broken.dat", "1 2\n3 4 5\n6 7\n\n5 6\n7 8\n\n");

    Bulk(data, "");

    EXPECT_EQ(env.results.lines, Concatenated({{"Data error reading file " + data}, last}));
}

TEST_F(TableCommandsTest, BulkUsesWeightsBlocksAndSkipsBrokenOnes) {
    Bulk(WriteFile("weights.dat", "2 3\n4 5\n\n5 7 9\n\n1 2 3\n4\n5 5\n\n5\n7\n9\n\n1\n1\n2\n\n"), "");
    EXPECT_EQ(BannerCount(env.results.lines), 3);
    EXPECT_EQ(TableInState(), (Counts{{5}, {7}, {9}}));
    ExpectProportions({0.25, 0.25, 0.5});

    env.results.lines.clear();
    Bulk(WriteFile("row.dat", "5 7 9\n\n1 1 2\n\n"), "");
    EXPECT_EQ(BannerCount(env.results.lines), 1);
    ExpectProportions({0.25, 0.25, 0.5});
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

TEST_F(TableCommandsTest, BulkStopsAfterAOneWayTableWithAnEmptyWeightsBlock) {
    Bulk(WriteFile("stop.dat", "5 7 9\n\n\n2 3\n4 5\n\n"), "");
    EXPECT_EQ(BannerCount(env.results.lines), 1);
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    ExpectProportions({1.0 / 3, 1.0 / 3, 1.0 / 3});

    // The file stays open where the reading stopped.
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{2, 3}, {4, 5}}));
}

TEST_F(TableCommandsTest, BulkWithADataFileThatCannotBeOpenedDeletesNothing) {
    const std::string result = WriteFile("result.txt", "an older result\n");
    env.report.AppendLine("previous report");
    env.openDialog1.Confirm(PathOf("missing.dat"));

    commands.BulkProcessing();

    EXPECT_EQ(Contents(result), "an older result\n");
    EXPECT_EQ(env.saveDialog1.executions, 0);
    EXPECT_TRUE(env.results.lines.empty());
    EXPECT_EQ(env.report.lines, Lines{"previous report"});
    EXPECT_FALSE(State().DataFile.IsOpen());
}

TEST_F(TableCommandsTest, BulkWithTheOpenDialogCancelledGoesOnWithTheOpenDataFile) {
    const std::string data = WriteFile("three.dat", "1 2\n3 4\n\n5 6\n7 8\n\n9 10\n11 12\n\n");
    const Lines rest = [&] {
        ReadNew(data);
        commands.ReadFromSameFile();
        const Lines second = env.report.lines;
        commands.ReadFromSameFile();
        return Concatenated({second, env.report.lines});
    }();
    ReadNew(data);
    env.openDialog1.Cancel();

    commands.BulkProcessing();

    EXPECT_EQ(env.saveDialog1.executions, 0);
    EXPECT_EQ(env.results.lines, rest);
    EXPECT_EQ(TableInState(), (Counts{{9, 10}, {11, 12}}));

    // Nothing open at all: nothing happens.
    ReadNew(PathOf("missing.dat"));
    env.results.lines.clear();
    env.report.lines = {"previous report"};
    env.openDialog1.Cancel();
    commands.BulkProcessing();
    EXPECT_EQ(env.saveDialog1.executions, 0);
    EXPECT_TRUE(env.results.lines.empty());
    EXPECT_EQ(env.report.lines, Lines{"previous report"});
}

TEST_F(TableCommandsTest, BulkReplacesADataFileLeftOpenByARead) {
    ReadNew(WriteFile("a.dat", "1 2\n3 4\n\n5 6\n7 8\n\n"));
    const std::string b = WriteFile("b.dat", "9 10\n11 12\n\n");

    Bulk(b, "");

    EXPECT_EQ(State().DataFileName, b);
    EXPECT_EQ(BannerCount(env.results.lines), 1);
    EXPECT_EQ(TableInState(), (Counts{{9, 10}, {11, 12}}));
    commands.ReadFromSameFile();
    EXPECT_EQ(env.report.lines, Lines{"No data avaiable"});
}

TEST_F(TableCommandsTest, StopBulkProcessingEndsTheLoopAfterTheCurrentTable) {
    const std::string data = WriteFile("stop.dat", "0 0\n1 2\n\n3 4\n5 6\n\n7 8\n9 10\n\n11 12\n13 14\n\n");
    // The window closes while the run's message box is up.
    env.messages.onShow = [&] { commands.StopBulkProcessing(); };

    Bulk(data, "");

    EXPECT_EQ(env.messages.shown, (std::vector<std::pair<std::string, std::string>>{{"All zeros in row 1", "Error"}}));
    EXPECT_TRUE(env.results.lines.empty());  // the refused table has no report
    env.messages.onShow = nullptr;
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{3, 4}, {5, 6}}));

    // A later bulk processing runs to the end again.
    env.openDialog1.Cancel();
    commands.BulkProcessing();
    EXPECT_EQ(BannerCount(env.results.lines), 2);
    EXPECT_EQ(TableInState(), (Counts{{11, 12}, {13, 14}}));
}

#if defined(__linux__)
TEST_F(TableCommandsTest, BulkStopsWithOneMessageWhenTheResultFileCannotBeWritten) {
    const std::string data = WriteFile("three.dat", "1 2\n3 4\n\n5 6\n7 8\n\n9 10\n11 12\n\n");
    const std::string result = PathOf("result.txt");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{10, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    Bulk(data, result);

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(env.messages.shown,
              (std::vector<std::pair<std::string, std::string>>{{"Cannot write file " + result, "Error"}}));
    EXPECT_TRUE(env.report.lines.empty());
    EXPECT_TRUE(env.results.lines.empty());
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{5, 6}, {7, 8}}));
}
#endif

}  // namespace
}  // namespace kelvorin
