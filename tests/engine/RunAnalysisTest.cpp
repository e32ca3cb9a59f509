// The analysis run as a whole: which tables it refuses and how, runs that end
// without a report, the menus around it, the proportions of a one-way table,
// tables too large for the exact tests, and the banner.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"

namespace kelvorin {
namespace {

using fakes::TempDirectory;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;
using Message = std::pair<std::string, std::string>;
using Table = std::vector<std::vector<int>>;

class RunAnalysisTest : public fakes::EngineHarness {
protected:
    // The end step has run: the menus are back and no run is under way.
    void ExpectEndStepRan() {
        for (MenuItem item : {MenuItem::Newtable1, MenuItem::Options1, MenuItem::Results1, MenuItem::Save1})
            EXPECT_EQ(env.menus.Enabled(item), 1) << static_cast<int>(item);
        EXPECT_FALSE(engine.State().Running);
        EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    }
    // Makes the run treat the table as read from a data file.
    void OpenDataFile() {
        const std::string name = dir.File("tables.dat");
        std::ofstream(name) << "1 2\n";
        ASSERT_TRUE(engine.State().DataFile.Open(name, TextFile::Mode::Read));
        engine.State().DataFileName = name;
    }
    TempDirectory dir;
};

// Empty rows and columns (every row before every column), counts and margins
// outside the 16-bit table: one box each, no report, nothing enumerated, the
// end step run; the next table runs normally.
TEST_F(RunAnalysisTest, RefusedTablesShowTheirMessagesAndWriteNoReport) {
    const Table ones(200, std::vector<int>(200, 1));
    const std::vector<std::pair<Table, std::vector<std::string>>> cases{
        {{{1, 2}, {0, 0}, {3, 4}}, {"All zeros in row 2"}},
        {{{0, 0, 0}, {4, 0, 5}}, {"All zeros in row 1", "All zeros in column 2"}},
        {{{0, 0, 0, 0}, {1, 0, 2, 0}, {0, 0, 0, 0}},
         {"All zeros in row 1", "All zeros in row 3", "All zeros in column 2", "All zeros in column 4"}},
        {{{0, 0, 0}}, {"All zeros in row 1"}},
        {{{0}, {0}}, {"All zeros in column 1"}},
        {{{1, 2, 3}, {4, 5, -7}, {1, 1, 1}}, {"Count -7 at (2,3) is outside the range 0 to 32767"}},
        {{{32768, 1}, {1, 1}}, {"Count 32768 at (1,1) is outside the range 0 to 32767"}},
        {{{20000, 20000}, {1, 1}}, {"Total of row 1 is above 32767"}},
        {{{1, 20000}, {1, 20000}}, {"Total of column 2 is above 32767"}},
        {{{20000, 0}, {0, 20000}}, {"The grand total 40000 is above 32767"}},
        {ones, {"The grand total 40000 is above 32767"}},
    };
    Options() = fakes::With("Expected ExaLRtest AppLRtest CountPos");
    for (const auto& [table, texts] : cases) {
        SCOPED_TRACE(texts.front());
        env.messages.shown.clear();
        EXPECT_THAT(Run(table), IsEmpty());
        std::vector<Message> expected;
        for (const auto& text : texts) expected.emplace_back(text, "Error");
        EXPECT_EQ(env.messages.shown, expected);
        EXPECT_EQ(env.pump.passes + env.proportionsWindow.shows, 0);
        ExpectEndStepRan();
    }
    env.messages.shown.clear();
    EXPECT_THAT(Run({{2, 0}, {0, 2}}), Contains("Number of sample points = 3"));
    // Zero cells of one-way tables are no error; 32767 fits the table.
    Options().Observed = true;
    for (const Table& table : {Table{{5}, {0}, {3}}, Table{{3, 0}}}) EXPECT_THAT(Run(table), Not(IsEmpty()));
    EXPECT_THAT(Run({{32767}, {0}}), Contains(" 32767"));
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// A 1 x 1 table, and closing the proportions window without OK, end the run
// without report or message.
TEST_F(RunAnalysisTest, RunsEndedSilently) {
    EXPECT_THAT(Run({{7}}), IsEmpty());
    EXPECT_EQ(env.proportionsWindow.shows, 0);
    EXPECT_TRUE(engine.State().Abandoned);
    ExpectEndStepRan();
    env.proportionsWindow.result = false;
    EXPECT_THAT(Run({{12, 7, 5}}), IsEmpty());
    EXPECT_EQ(env.proportionsWindow.shows, 1);
    EXPECT_TRUE(engine.State().Abandoned);
    EXPECT_THAT(env.messages.shown, IsEmpty());
    ExpectEndStepRan();
}

// Table and Options are disabled while the run shows its windows and
// progress; Results is never disabled; discarding the table disables Save.
TEST_F(RunAnalysisTest, MenusAreDisabledDuringTheRunAndEnabledAfterIt) {
    std::vector<int> during;
    auto note = [&] {
        for (MenuItem item : {MenuItem::Newtable1, MenuItem::Options1, MenuItem::Save1})
            during.push_back(env.menus.Enabled(item));
    };
    env.proportionsWindow.onShow = note;
    env.pump.onPass = note;
    Run({{12, 7, 5}});
    Run({{10, 6, 5}, {6, 8, 7}, {5, 7, 9}});
    ASSERT_EQ(during.size(), 21u);  // the window, then 3 + 3 displays
    for (std::size_t k = 0; k < during.size(); ++k) EXPECT_EQ(during[k], k % 3 == 2 ? 1 : 0) << k;
    ExpectEndStepRan();
    for (const auto& [item, enabled] : env.menus.log) EXPECT_TRUE(item != MenuItem::Results1 || enabled);
    EXPECT_TRUE(engine.State().Table.Exists());
    engine.DiscardTable();
    EXPECT_FALSE(engine.State().Table.Exists());
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 0);
}

// Typed weights are normalised, a blank cell counts as 1, what an earlier
// table left in the grid is emptied first; a column gets a column of cells.
TEST_F(RunAnalysisTest, TypedProportions) {
    Options() = fakes::With("Expected");
    env.proportionsGrid.SetTexts({{"7", "7"}});
    env.proportionsWindow.onShow = [&] {
        EXPECT_EQ(env.proportionsGrid.RowCount(), 1);
        EXPECT_EQ(env.proportionsGrid.ColCount(), 3);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(env.proportionsGrid.Cell(k, 0), "");
        env.proportionsGrid.SetCell(0, 0, " 1 ");
        env.proportionsGrid.SetCell(2, 0, "2\t");
    };
    EXPECT_THAT(Run({{12, 7, 5}}), Contains("   6.0   6.0  12.0  |     24"));
    EXPECT_EQ(engine.State().Proportions, (std::vector<double>{0.25, 0.25, 0.5}));
    env.proportionsWindow.onShow = [&] {
        EXPECT_EQ(env.proportionsGrid.RowCount(), 3);
        EXPECT_EQ(env.proportionsGrid.ColCount(), 1);
        env.proportionsGrid.SetCell(0, 2, "2");
    };
    const Lines column = Body(Run({{12}, {7}, {5}}));
    EXPECT_EQ(Lines(column.begin(), column.begin() + 4), (Lines{"Expected Numbers.", "   6.0", "   6.0", "  12.0"}));
}

// A table from a data file never shows the window: it takes the weights the
// file put in the grid when they fit its shape (a column takes them as a row
// too), and equal proportions otherwise or without the file's flag.
TEST_F(RunAnalysisTest, ProportionsOfATableFromADataFile) {
    OpenDataFile();
    Options() = fakes::With("Expected");
    const std::string equal = "   8.0   8.0   8.0  |     24", typed = "   6.0   6.0  12.0  |     24";
    struct Case {
        Table table;
        std::vector<std::vector<std::string>> weights;
        bool fromFile;
        std::string expected;
    };
    for (const Case& c : {Case{{{12, 7, 5}}, {{"1", "1", "2"}}, true, typed}, Case{{{12, 7, 5}}, {{"1", "1", "2"}}, false, equal},
                          Case{{{12, 7, 5}}, {{"1", "2"}}, true, equal}, Case{{{12, 7, 5}}, {{"1"}, {"1"}, {"2"}}, true, equal},
                          Case{{{7}, {5}, {12}}, {{"1"}, {"1"}, {"2"}}, true, "  12.0"},
                          Case{{{7}, {5}, {12}}, {{"1", "1", "2"}}, true, "  12.0"}}) {
        engine.DiscardTable();
        env.report.Clear();
        env.entryGrid.SetCounts(c.table);
        env.proportionsGrid.SetTexts(c.weights);
        engine.State().ProportionsFromFile = c.fromFile;
        engine.RunAnalysis();
        EXPECT_THAT(env.report.Lines(), Contains(c.expected)) << c.weights.size() << " " << c.fromFile;
        EXPECT_FALSE(c.fromFile && !engine.State().ProportionsFromFile);
    }
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

// A column total above 1000 (exactly 1000 is not large) leaves the exact
// tests out: their titles with "To many observations.", the approximate
// tests in their place, no Fisher block, no count even after an enumerated
// run. A one-way table is too large with two counts above 1000.
TEST_F(RunAnalysisTest, TablesTooLargeForTheExactTests) {
    Options() = fakes::With("ExaLRtest ExaCStest CountPos 2x2twotail");
    Run({{2, 0}, {0, 2}});
    const Lines lines = Body(Run({{1000, 1, 1}, {1, 1, 1}}));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 8),
              (Lines{"", "Exact (multi tailed) Likelihood Ratio ", "To many observations.", "",
                     "Exact (multi tailed) Chi Square ", "To many observations.", "", "Approx. Likelihood Ratio test"}));
    EXPECT_EQ(lines[11], "Approx. Chi-Square test (Pearson)");
    EXPECT_THAT(lines[15], StartsWith("  Used time : "));
    EXPECT_EQ(env.status.Last(), "To many observations");
    EXPECT_EQ(env.pump.passes, 0);
    EXPECT_THAT(Run({{999, 1, 1}, {1, 1, 1}}), Contains("Number of sample points = 8"));
    EXPECT_THAT(Run({{1000, 1}, {1, 1}}), Not(Contains(StartsWith("2 x 2"))));
    OpenDataFile();
    EXPECT_THAT(Run({{1001, 5}}), Contains("Number of sample points = 1007"));
    EXPECT_THAT(Run({{1001}, {5}}), Contains("Number of sample points = 1007"));
    for (const Table& table : {Table{{1001, 1001, 5}}, Table{{1001}, {1001}, {5}}}) {
        const Lines report = Run(table);
        EXPECT_THAT(report, Contains("To many observations."));
        EXPECT_THAT(report, Contains("Approx. Likelihood Ratio test"));
        EXPECT_THAT(report, Not(Contains(StartsWith("Number of sample points"))));
    }
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// What the extended range cannot hold (another row total above 1000, an
// overflow of the row coefficient or of the observed one-way probability)
// is said with "To many observations" and ends as an interruption at 0.
TEST_F(RunAnalysisTest, OverflowsAreRefusedAsTooManyObservations) {
    Table wide(3, std::vector<int>(27, 37));  // 27 columns of 1000, rows of 25000, 1000, 1000
    wide[1][0] = wide[2][0] = 38;
    for (std::size_t j = 0; j < 27; ++j) wide[0][j] = 1000 - wide[1][j] - wide[2][j];
    Table column(30, std::vector<int>{1000});  // 30001 observations
    column[0][0] = 1001;
    std::string counts = " 1001";
    for (int k = 1; k < 30; ++k) counts += " 1000";
    OpenDataFile();
    Options() = fakes::With("ExaLRtest CountPos");
    for (const auto& [table, shown] : {std::pair{Table{{350, 350, 400}, {350, 350, 400}}, Lines{" 350 350 400", " 350 350 400"}},
                                       std::pair{wide, Lines{}}, std::pair{column, Lines{counts}}}) {
        env.messages.shown.clear();
        const Lines lines = Body(Run(table));
        EXPECT_THAT(env.messages.shown, ElementsAre(Message("To many observations", "ERROR")));
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 0");
        EXPECT_EQ(lines[lines.size() - 3], " Sum of probabilities 0.000E+00 ");
        if (!shown.empty()) {
            EXPECT_EQ(Lines(lines.begin() + 1, lines.end() - 3), shown);
        }
        EXPECT_EQ(engine.State().SamplePointCount, 0u);
        ExpectEndStepRan();
    }
}

// Every report opens with a blank line and the banner; the start time is
// taken after the proportions window; at midnight the time is left out.
TEST_F(RunAnalysisTest, Banner) {
    EXPECT_EQ(Lines(Run({{2, 0}, {0, 2}})).at(1), "Zelkat                15.03.2023 10:30:00");
    EXPECT_EQ(Run({{2, 0}, {0, 2}}).front(), " ");
    env.proportionsWindow.onShow = [&] { env.clock.now = 45001.5; };
    EXPECT_EQ(Run({{12, 7, 5}}).at(1), "Zelkat                16.03.2023 12:00:00");
    env.clock.now = 45000.0;
    EXPECT_EQ(Run({{2, 0}, {0, 2}}).at(1), "Zelkat                15.03.2023");
}

TEST_F(RunAnalysisTest, StatusBarClickOutsideARunDoesNothing) {
    const Lines lines = Run({{2, 0}, {0, 2}});
    engine.StatusBar1Click();
    engine.BreakOff();
    EXPECT_THAT(env.messages.questions, IsEmpty());
    EXPECT_EQ(env.report.Lines(), lines);
    EXPECT_FALSE(engine.State().Abandoned);
}

}  // namespace
}  // namespace kelvorin
