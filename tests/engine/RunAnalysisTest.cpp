// The analysis run as a whole: which tables it refuses and how, the order of
// its messages, the proportions of a one-way table, the enabled states of
// the menus around it, the banner, and the cases that end it early.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"

namespace kelvorin {
namespace {

using fakes::EngineHarness;
using fakes::FileLines;
using fakes::NoSections;
using fakes::RecordingMenus;
using fakes::TempDirectory;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

using Message = std::pair<std::string, std::string>;

bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

class RunAnalysisTest : public EngineHarness {
protected:
    // The end step has run: the menus are back and no run is under way.
    void ExpectEndStepRan() {
        EXPECT_EQ(env.menus.Enabled(MenuItem::Newtable1), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::Options1), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::Results1), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
        EXPECT_FALSE(engine.State().Running);
        EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    }
    // Makes the run treat the table as read from a data file.
    void OpenDataFile(const TempDirectory& dir) {
        const std::string name = dir.File("tables.dat");
        std::ofstream(name) << "1 2\n";
        ASSERT_TRUE(engine.State().DataFile.Open(name, TextFile::Mode::Read));
        engine.State().DataFileName = name;
    }
};

// --- Empty rows and columns ------------------------------------------------

TEST_F(RunAnalysisTest, EmptySecondRowOfThreeByTwoGivesOneBoxAndNoReport) {
    const auto lines = Run({{1, 2}, {0, 0}, {3, 4}});
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("All zeros in row 2", "Error")));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, EveryEmptyRowIsReportedBeforeEveryEmptyColumn) {
    Run({{0, 0, 0}, {4, 0, 5}});
    EXPECT_THAT(env.messages.shown,
                ElementsAre(Pair("All zeros in row 1", "Error"), Pair("All zeros in column 2", "Error")));

    env.messages.shown.clear();
    const auto lines = Run({{0, 0, 0, 0}, {1, 0, 2, 0}, {0, 0, 0, 0}});
    EXPECT_THAT(env.messages.shown,
                ElementsAre(Pair("All zeros in row 1", "Error"), Pair("All zeros in row 3", "Error"),
                            Pair("All zeros in column 2", "Error"), Pair("All zeros in column 4", "Error")));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, ZeroCellsOfOneWayTablesAreNoError) {
    const auto column = Run({{5}, {0}, {3}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(column.empty());

    const auto row = Run({{3, 0}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(row.empty());
}

TEST_F(RunAnalysisTest, AllZeroSingleRowOrColumnIsRefused) {
    EXPECT_THAT(Run({{0, 0, 0}}), IsEmpty());
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("All zeros in row 1", "Error")));

    env.messages.shown.clear();
    EXPECT_THAT(Run({{0}, {0}}), IsEmpty());
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("All zeros in column 1", "Error")));
    EXPECT_EQ(env.proportionsWindow.shows, 0);
}

// --- Counts outside the 16-bit table ----------------------------------------

TEST_F(RunAnalysisTest, NegativeCountIsRefusedNamingItsCell) {
    const auto lines = Run({{1, 2, 3}, {4, 5, -7}, {1, 1, 1}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, HasSubstr("-7"));
    EXPECT_THAT(env.messages.shown[0].first, ContainsRegex("2[^0-9]+3"));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, CountAbove32767IsRefused) {
    const auto lines = Run({{32768, 1}, {1, 1}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, HasSubstr("32768"));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();

    // 32767 itself fits the table.
    env.messages.shown.clear();
    Options() = NoSections();
    Options().Observed = true;
    const auto fits = Run({{32767}, {0}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_THAT(fits, ::testing::Contains(" 32767"));
}

TEST_F(RunAnalysisTest, MarginsAbove32767AreRefusedNamingTheMargin) {
    Run({{20000, 20000}, {1, 1}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, ContainsRegex("[Rr]ow 1"));

    env.messages.shown.clear();
    Run({{1, 20000}, {1, 20000}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, ContainsRegex("[Cc]olumn 2"));

    // Every margin fits, the grand total does not.
    env.messages.shown.clear();
    const auto lines = Run({{20000, 0}, {0, 20000}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, HasSubstr("40000"));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, RunAfterARefusedTableIsNormal) {
    Run({{-1, 2}, {3, 4}});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    env.messages.shown.clear();
    const auto lines = Run({{2, 0}, {0, 2}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_THAT(lines, ::testing::Contains("Number of sample points = 3"));
}

// --- Tables that end the run without a report --------------------------------

TEST_F(RunAnalysisTest, OneByOneTableEndsSilently) {
    const auto lines = Run({{7}});
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_EQ(env.proportionsWindow.shows, 0);
    EXPECT_TRUE(engine.State().Abandoned);
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, ClosingTheProportionsWindowWithoutOkEndsSilently) {
    env.proportionsWindow.result = false;
    const auto lines = Run({{12, 7, 5}});
    EXPECT_EQ(env.proportionsWindow.shows, 1);
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_TRUE(engine.State().Abandoned);
    ExpectEndStepRan();
}

// --- Menus -------------------------------------------------------------------

TEST_F(RunAnalysisTest, MenusAreDisabledDuringTheRunAndEnabledAfterIt) {
    int newTableDuring = RecordingMenus::unset, optionsDuring = RecordingMenus::unset,
        saveDuring = RecordingMenus::unset, resultsDuring = RecordingMenus::unset;
    env.proportionsWindow.onShow = [&] {
        newTableDuring = env.menus.Enabled(MenuItem::Newtable1);
        optionsDuring = env.menus.Enabled(MenuItem::Options1);
        saveDuring = env.menus.Enabled(MenuItem::Save1);
        resultsDuring = env.menus.Enabled(MenuItem::Results1);
    };
    engine.DiscardTable();
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 0);
    Run({{12, 7, 5}});
    EXPECT_EQ(newTableDuring, 0);
    EXPECT_EQ(optionsDuring, 0);
    EXPECT_EQ(saveDuring, 1);
    EXPECT_EQ(resultsDuring, RecordingMenus::unset);  // the first run enables it at its end
    ExpectEndStepRan();
    // Results is never disabled by a run.
    for (const auto& [item, enabled] : env.menus.log)
        if (item == MenuItem::Results1) {
            EXPECT_TRUE(enabled);
        }
}

TEST_F(RunAnalysisTest, MenusStayDisabledAtEveryProgressDisplay) {
    std::vector<std::pair<int, int>> during;
    env.pump.onPass = [&] {
        during.emplace_back(env.menus.Enabled(MenuItem::Newtable1), env.menus.Enabled(MenuItem::Options1));
    };
    Run({{10, 6, 5}, {6, 8, 7}, {5, 7, 9}});  // 32131 sample points
    ASSERT_EQ(during.size(), 3u);
    for (const auto& [newTable, options] : during) {
        EXPECT_EQ(newTable, 0);
        EXPECT_EQ(options, 0);
    }
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, RefusedTableStillEnablesSaveAndResults) {
    engine.DiscardTable();
    env.report.Clear();
    env.entryGrid.SetCounts({{0, 0}, {1, 2}});
    engine.RunAnalysis();
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 1);
    EXPECT_EQ(env.menus.Enabled(MenuItem::Results1), 1);
}

// --- Proportions of a one-way table --------------------------------------------

TEST_F(RunAnalysisTest, TypedProportionsAreNormalisedAndABlankCellCountsAsOne) {
    Options() = NoSections();
    Options().Expected = true;
    env.proportionsGrid.SetTexts({{"7", "7"}});  // left over from an earlier table: emptied by the run
    env.proportionsWindow.onShow = [&] {
        EXPECT_EQ(env.proportionsGrid.RowCount(), 1);
        EXPECT_EQ(env.proportionsGrid.ColCount(), 3);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(env.proportionsGrid.Cell(k, 0), "");
        env.proportionsGrid.SetCell(0, 0, " 1 ");
        env.proportionsGrid.SetCell(2, 0, "2\t");
    };
    const auto lines = Run({{12, 7, 5}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    ASSERT_EQ(engine.State().Proportions.size(), 3u);
    EXPECT_DOUBLE_EQ(engine.State().Proportions[0], 0.25);
    EXPECT_DOUBLE_EQ(engine.State().Proportions[1], 0.25);
    EXPECT_DOUBLE_EQ(engine.State().Proportions[2], 0.5);
    EXPECT_THAT(lines, ::testing::Contains("   6.0   6.0  12.0  |     24"));
}

TEST_F(RunAnalysisTest, SingleColumnGetsAColumnOfProportionCells) {
    Options() = NoSections();
    Options().Expected = true;
    env.proportionsWindow.onShow = [&] {
        EXPECT_EQ(env.proportionsGrid.RowCount(), 3);
        EXPECT_EQ(env.proportionsGrid.ColCount(), 1);
        env.proportionsGrid.SetCell(0, 2, "2");
    };
    const auto lines = Body(Run({{12}, {7}, {5}}));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 7),
                ElementsAre("Expected Numbers.", "   6.0", "   6.0", "  12.0", "--------", "    24", ""));
}

TEST_F(RunAnalysisTest, WeightThatIsNoNumberIsRefusedWithItsText) {
    TempDirectory dir;
    Options().Details = true;
    env.saveDialog.chosen = dir.File("details.txt");
    env.proportionsWindow.onShow = [&] { env.proportionsGrid.SetCell(1, 0, " abc "); };
    const auto lines = Run({{12, 7, 5}});
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("'abc' is not a valid floating point value", "Error")));
    EXPECT_THAT(lines, IsEmpty());
    ExpectEndStepRan();
    EXPECT_THAT(FileLines(dir.File("details.txt")), IsEmpty());

    env.messages.shown.clear();
    env.proportionsWindow.onShow = [&] { env.proportionsGrid.SetCell(0, 0, "2,5"); };
    EXPECT_THAT(Run({{12, 7, 5}}), IsEmpty());
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("'2,5' is not a valid floating point value", "Error")));
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, WeightOfZeroOrLessIsRefusedNamingTheCategory) {
    for (const std::string weight : {"0", "-1", "0.0"}) {
        env.messages.shown.clear();
        env.proportionsWindow.onShow = [&] { env.proportionsGrid.SetCell(1, 0, weight); };
        EXPECT_THAT(Run({{12, 7, 5}}), IsEmpty()) << weight;
        ASSERT_EQ(env.messages.shown.size(), 1u) << weight;
        EXPECT_EQ(env.messages.shown[0].second, "Error");
        EXPECT_THAT(env.messages.shown[0].first, HasSubstr("2"));
        ExpectEndStepRan();
    }
}

TEST_F(RunAnalysisTest, TableFromADataFileUsesEqualProportionsWithoutTheWindow) {
    TempDirectory dir;
    OpenDataFile(dir);
    Options() = NoSections();
    Options().Expected = true;
    env.proportionsGrid.SetTexts({{"1", "1", "2"}});
    const auto lines = Run({{12, 7, 5}});
    EXPECT_EQ(env.proportionsWindow.shows, 0);
    EXPECT_THAT(lines, ::testing::Contains("   8.0   8.0   8.0  |     24"));
}

class ProportionsFromFileTest : public RunAnalysisTest {
protected:
    std::vector<std::string> RunWithFileWeights(const std::vector<std::vector<int>>& table,
                                                 const std::vector<std::vector<std::string>>& weights) {
        engine.DiscardTable();
        env.report.Clear();
        env.entryGrid.SetCounts(table);
        env.proportionsGrid.SetTexts(weights);
        engine.State().ProportionsFromFile = true;
        engine.RunAnalysis();
        return env.report.Lines();
    }
    void SetUp() override {
        OpenDataFile(dir);
        Options() = NoSections();
        Options().Expected = true;
    }
    TempDirectory dir;
};

TEST_F(ProportionsFromFileTest, SingleRowKeepsOneWeightPerCategory) {
    const auto lines = RunWithFileWeights({{12, 7, 5}}, {{"1", "1", "2"}});
    EXPECT_EQ(env.proportionsWindow.shows, 0);
    EXPECT_THAT(lines, ::testing::Contains("   6.0   6.0  12.0  |     24"));
}

TEST_F(ProportionsFromFileTest, SingleColumnKeepsWeightsGivenAsAColumnOrAsARow) {
    for (const auto& weights : {std::vector<std::vector<std::string>>{{"2"}, {"1"}, {"1"}},
                                std::vector<std::vector<std::string>>{{"2", "1", "1"}}}) {
        const auto lines = RunWithFileWeights({{12}, {7}, {5}}, weights);
        EXPECT_EQ(env.proportionsWindow.shows, 0);
        const auto at = std::find(lines.begin(), lines.end(), "Expected Numbers.");
        ASSERT_LE(at + 4, lines.end());
        EXPECT_EQ(at[1], "  12.0");
        EXPECT_EQ(at[2], "   6.0");
        EXPECT_EQ(at[3], "   6.0");
    }
}

TEST_F(ProportionsFromFileTest, WeightsOfAnotherShapeGiveEqualProportions) {
    EXPECT_THAT(RunWithFileWeights({{12, 7, 5}}, {{"1", "2"}}), ::testing::Contains("   8.0   8.0   8.0  |     24"));
    // A single row does not take weights given as a column.
    EXPECT_THAT(RunWithFileWeights({{12, 7, 5}}, {{"1"}, {"1"}, {"2"}}),
                ::testing::Contains("   8.0   8.0   8.0  |     24"));
}

TEST_F(ProportionsFromFileTest, WithoutTheFlagTheGridIsEmptied) {
    engine.DiscardTable();
    env.report.Clear();
    env.entryGrid.SetCounts({{12, 7, 5}});
    env.proportionsGrid.SetTexts({{"1", "1", "2"}});
    engine.RunAnalysis();
    EXPECT_THAT(env.report.Lines(), ::testing::Contains("   8.0   8.0   8.0  |     24"));
    EXPECT_FALSE(engine.State().ProportionsFromFile);
}

// --- Tables too large for the exact tests --------------------------------------

TEST_F(RunAnalysisTest, ColumnTotalAbove1000LeavesTheExactTestsOut) {
    Options() = NoSections();
    Options().ExaLRtest = true;
    Options().ExaCStest = true;
    Options().CountPos = true;
    const auto lines = Body(Run({{1000, 1, 1}, {1, 1, 1}}));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 8),
                ElementsAre("", "Exact (multi tailed) Likelihood Ratio ", "To many observations.", "",
                            "Exact (multi tailed) Chi Square ", "To many observations.", "",
                            "Approx. Likelihood Ratio test"));
    EXPECT_EQ(lines[11], "Approx. Chi-Square test (Pearson)");
    EXPECT_FALSE(HasLineStartingWith(lines, "Exact (multi tailed) Fisher"));
    EXPECT_FALSE(HasLineStartingWith(lines, "Number of sample points"));
    EXPECT_FALSE(HasLineStartingWith(lines, "Warning"));
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr("  Used time : "));
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(env.status.Last(), "To many observations");
    EXPECT_EQ(env.pump.passes, 0);
}

TEST_F(RunAnalysisTest, TooManyObservationsAfterAnEnumeratedRunPrintsNoCount) {
    Run({{2, 0}, {0, 2}});
    const auto lines = Run({{1000, 1, 1}, {1, 1, 1}});
    EXPECT_FALSE(HasLineStartingWith(lines, "Number of sample points"));
    EXPECT_FALSE(HasLineStartingWith(lines, "Warning"));
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr("  Used time : "));
}

TEST_F(RunAnalysisTest, ColumnTotalOfExactly1000IsNotLarge) {
    const auto lines = Run({{999, 1, 1}, {1, 1, 1}});
    EXPECT_THAT(lines, ::testing::Contains("Number of sample points = 8"));
    EXPECT_FALSE(HasLineStartingWith(lines, "To many"));
    EXPECT_FALSE(HasLineStartingWith(lines, "Warning"));
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

TEST_F(RunAnalysisTest, OneWayTableIsTooLargeWithTwoCountsAbove1000) {
    TempDirectory dir;
    OpenDataFile(dir);
    // One count above 1000: enumerated, n + 1 sample points.
    EXPECT_THAT(Run({{1001, 5}}), ::testing::Contains("Number of sample points = 1007"));
    EXPECT_THAT(Run({{1001}, {5}}), ::testing::Contains("Number of sample points = 1007"));
    // Two: too many, for a single row and a single column alike.
    for (const auto& table : {std::vector<std::vector<int>>{{1001, 1001, 5}},
                              std::vector<std::vector<int>>{{1001}, {1001}, {5}}}) {
        const auto lines = Run(table);
        EXPECT_THAT(lines, ::testing::Contains("To many observations."));
        EXPECT_THAT(lines, ::testing::Contains("Approx. Likelihood Ratio test"));
        EXPECT_FALSE(HasLineStartingWith(lines, " Calculations interrupted"));
        EXPECT_FALSE(HasLineStartingWith(lines, "Number of sample points"));
        EXPECT_THAT(env.messages.shown, IsEmpty());
    }
}

TEST_F(RunAnalysisTest, SecondRowTotalAbove1000IsRefusedAsTooManyObservations) {
    Options() = NoSections();
    Options().ExaLRtest = true;
    Options().CountPos = true;
    const auto lines = Body(Run({{350, 350, 400}, {350, 350, 400}}));
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("To many observations", "ERROR")));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 0");
    EXPECT_EQ(lines[1], " 350 350 400");
    EXPECT_EQ(lines[2], " 350 350 400");
    EXPECT_EQ(lines[3], " Sum of probabilities 0.000E+00 ");
    EXPECT_THAT(lines[4], HasSubstr("  Used time : "));
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(env.status.Last(), " Calculations interrupted at sample point nr 0");
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, OverflowOfTheRowCoefficientIsRefusedAsTooManyObservations) {
    // 27 columns of 1000; rows 2 and 3 hold 1000 each, row 1 the other 25000:
    // N (N-1) ... (m+1) has 2000 factors near 26000, beyond the extended range.
    std::vector<std::vector<int>> table(3, std::vector<int>(27, 37));
    table[1][0] = table[2][0] = 38;
    for (int j = 0; j < 27; ++j) table[0][static_cast<std::size_t>(j)] = 1000 - table[1][static_cast<std::size_t>(j)] - table[2][static_cast<std::size_t>(j)];
    Options() = NoSections();
    Options().CountPos = true;
    const auto lines = Body(Run(table));
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("To many observations", "ERROR")));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 0");
    EXPECT_THAT(lines, ::testing::Contains(" Sum of probabilities 0.000E+00 "));
    EXPECT_FALSE(HasLineStartingWith(lines, "Exact"));
    ExpectEndStepRan();
}

TEST_F(RunAnalysisTest, OverflowOfTheObservedOneWayProbabilityIsRefusedAsTooManyObservations) {
    // 30001 observations, one count above 1000: n (n-1) ... 1002 has 29000
    // factors, far beyond the extended range.
    TempDirectory dir;
    OpenDataFile(dir);
    std::vector<std::vector<int>> column(30, std::vector<int>{1000});
    column[0][0] = 1001;
    Options() = NoSections();
    Options().CountPos = true;
    const auto lines = Body(Run(column));
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("To many observations", "ERROR")));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 0");
    std::string counts = " 1001";
    for (int k = 1; k < 30; ++k) counts += " 1000";
    EXPECT_EQ(lines[1], counts);
    EXPECT_EQ(lines[2], " Sum of probabilities 0.000E+00 ");
    EXPECT_EQ(engine.State().SamplePointCount, 0u);
    ExpectEndStepRan();
}

// --- The 2 x 2 options alone ------------------------------------------------------

TEST_F(RunAnalysisTest, TwoByTwoOptionsAloneEnumerateForTheirBlocks) {
    Options() = NoSections();
    Options().Opt2x2twotail = true;
    const auto lines = Body(Run({{10, 2}, {3, 15}}));
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.end() - 2),
                ElementsAre("", "2 x 2 Fisher exact test - 'two tailed'.",
                            "              p( X11 <  10 )     =          0.999535",
                            "              P( X11 =  10 )     =          0.000450",
                            "              p( X11 >  10 )     =          0.000015",
                            " (not recom.)     p-two tailed   =          0.000930",
                            " (corrected)      p-two tailed   =          0.000481", ""));
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr("  Used time : "));

    Options() = NoSections();
    Options().Opt2x2onetail = true;
    const auto one = Body(Run({{10, 2}, {3, 15}}));
    EXPECT_THAT(std::vector<std::string>(one.begin(), one.end() - 2),
                ElementsAre("", "2 x 2 Fisher exact test - one tailed.",
                            "              p( X11 <  10 )   =            0.999535",
                            "              P( X11 =  10 )   =            0.000450",
                            "              p( X11 >  10 )   =            0.000015",
                            "                p-one tailed   =            0.000465",
                            "  (Remember to check the direction)", ""));
}

TEST_F(RunAnalysisTest, TwoByTwoBlocksAreLeftOutForOtherShapesAndLargeTables) {
    Options() = NoSections();
    Options().Opt2x2twotail = true;
    Options().Opt2x2onetail = true;
    EXPECT_FALSE(HasLineStartingWith(Run({{10, 20, 30}, {5, 15, 20}}), "2 x 2"));
    EXPECT_FALSE(HasLineStartingWith(Run({{1000, 1}, {1, 1}}), "2 x 2"));
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// --- Discarding a table -------------------------------------------------------------

TEST_F(RunAnalysisTest, DiscardTableReleasesTheTableAndDisablesSave) {
    Run({{12, 7, 5}});
    EXPECT_EQ(engine.State().Categories, 3);
    EXPECT_TRUE(engine.State().Table.Exists());
    engine.DiscardTable();
    EXPECT_EQ(engine.State().Categories, 0);
    EXPECT_FALSE(engine.State().Table.Exists());
    EXPECT_EQ(env.menus.Enabled(MenuItem::Save1), 0);
}

// --- Banner and clock ------------------------------------------------------------

TEST_F(RunAnalysisTest, EveryReportOpensWithABlankLineAndTheBanner) {
    const auto lines = Run({{2, 0}, {0, 2}});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], " ");
    EXPECT_EQ(lines[1], "Zelkat                15.03.2023 10:30:00");
}

TEST_F(RunAnalysisTest, BannerLeavesTheTimeOutAtExactlyMidnight) {
    env.clock.now = 45000.0;
    const auto lines = Run({{2, 0}, {0, 2}});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Zelkat                15.03.2023");
}

TEST_F(RunAnalysisTest, StartTimeIsTakenAfterTheProportionsWindow) {
    env.proportionsWindow.onShow = [&] { env.clock.now = 45001.5; };
    const auto lines = Run({{12, 7, 5}});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Zelkat                16.03.2023 12:00:00");
}

// --- Clicks outside a run ----------------------------------------------------------

TEST_F(RunAnalysisTest, StatusBarClickOutsideARunDoesNothing) {
    const auto lines = Run({{2, 0}, {0, 2}});
    engine.StatusBar1Click();
    engine.BreakOff();
    EXPECT_THAT(env.messages.questions, IsEmpty());
    EXPECT_EQ(env.report.Lines(), lines);
    EXPECT_FALSE(engine.State().Abandoned);
}

}  // namespace
}  // namespace kelvorin
