// The details file: its header, the sample-point lines at every detail level,
// their marks and numbers, and when the file is asked for, reused or left out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"
#include "TraceLines.h"

namespace kelvorin {
namespace {

using fakes::EngineHarness;
using fakes::FileExists;
using fakes::FileLines;
using fakes::NoSections;
using fakes::TempDirectory;
using reference::Table;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const std::string kBanner = "Zelkat                15.03.2023 10:30:00";
const std::string kHeadingEnd = "  probability     lrq       chi";

class TraceTest : public EngineHarness {
protected:
    void SetUp() override {
        Options() = NoSections();
        Options().Details = true;
        details = dir.File("details.txt");
        env.saveDialog.chosen = details;
    }
    // Runs at the detail level into a new details file; returns its lines.
    Lines RunAt(int track, const Table& table) {
        Options().Track = track;
        details = dir.File("details" + std::to_string(++files) + ".txt");
        env.saveDialog.chosen = details;
        Run(table);
        return FileLines(details);
    }
    // The lines after the column heading.
    static Lines AfterHeading(const Lines& file) {
        const auto heading = std::find_if(file.begin(), file.end(),
                                          [](const std::string& l) { return l.rfind(" number    ", 0) == 0; });
        if (heading == file.end()) return {};
        return {heading + 1, file.end()};
    }

    TempDirectory dir;
    std::string details;
    int files = 0;
};

// --- Header and lines of the 2 x 2 diagonal table ------------------------------------

TEST_F(TraceTest, HeaderAndEverySamplePointAtLevelOne) {
    EXPECT_THAT(RunAt(1, {{2, 0}, {0, 2}}),
                ElementsAreArray(Lines{"", kBanner, "Observed numbers.", "     2     0  |      2",
                                       "     0     2  |      2", "--------------+-------", "     2     2  |      4", "",
                                       std::string(" number    ") + " row 1      " + " row 2      " + kHeadingEnd,
                                       "     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ",
                                       "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ",
                                       "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 "}));
    EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
}

TEST_F(TraceTest, HeaderOfATwoByThreeTableWidensTheRowHeadings) {
    const Lines file = RunAt(1, {{10, 20, 30}, {5, 15, 20}});
    ASSERT_GE(file.size(), 9u);
    EXPECT_THAT(Lines(file.begin(), file.begin() + 9),
                ElementsAre("", kBanner, "Observed numbers.", "    10    20    30  |     60", "     5    15    20  |     40",
                            "--------------------+-------", "    15    35    50  |    100", "",
                            std::string(" number    ") + " row 1      " + "     " + " row 2      " + "     " + kHeadingEnd));
}

TEST_F(TraceTest, LevelZeroWritesOnlyTheObservedTableWhenNothingIsMarked) {
    EXPECT_THAT(AfterHeading(RunAt(0, {{2, 0}, {0, 2}})),
                ElementsAre("     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 "));
    EXPECT_EQ(engine.State().TracedCount, 1);
}

TEST_F(TraceTest, LevelTwoAddsTheLikelihoodRatioContributions) {
    EXPECT_THAT(AfterHeading(RunAt(2, {{2, 0}, {0, 2}})),
                ElementsAre("     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ",
                            "   lrq //  2.8  0.0//  0.0  2.8",
                            "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ",
                            "   lrq //  0.0  0.0//  0.0  0.0",
                            "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 ",
                            "   lrq //  0.0  2.8//  2.8  0.0"));
}

TEST_F(TraceTest, LevelThreeAddsThePearsonResiduals) {
    EXPECT_THAT(AfterHeading(RunAt(3, {{2, 0}, {0, 2}})),
                ElementsAre("     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ",
                            "   chi //  1.0 -1.0// -1.0  1.0",
                            "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ",
                            "   chi //  0.0  0.0//  0.0  0.0",
                            "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 ",
                            "   chi // -1.0  1.0//  1.0 -1.0"));
}

TEST_F(TraceTest, LevelFourAddsBothLinesLikelihoodRatioFirst) {
    const Lines lines = AfterHeading(RunAt(4, {{2, 0}, {0, 2}}));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ");
    EXPECT_EQ(lines[1], "   lrq //  2.8  0.0//  0.0  2.8");
    EXPECT_EQ(lines[2], "   chi //  1.0 -1.0// -1.0  1.0");
    EXPECT_EQ(lines[7], "   lrq //  0.0  2.8//  2.8  0.0");
    EXPECT_EQ(lines[8], "   chi // -1.0  1.0//  1.0 -1.0");
}

// --- Marks -------------------------------------------------------------------------------

// A table whose statistics order some sample points against their
// probabilities, in both directions, for both statistics.
TEST_F(TraceTest, MarksFollowTheStrictComparisonsAndLevelZeroKeepsOnlyMarkedLines) {
    const Table observed{{2, 1, 1}, {0, 6, 3}, {2, 1, 0}};
    const reference::Factorials F;
    const Lines all = AfterHeading(RunAt(1, observed));
    const auto order = reference::TablesInVisitingOrder(reference::RowTotals(observed), reference::ColTotals(observed));
    ASSERT_EQ(all.size(), order.size());

    const double pObs = reference::Probability(observed, F);
    const double g2 = reference::LikelihoodRatio(observed);
    const double x2 = reference::Pearson(observed);
    auto mark = [&](double p, double v, double observedValue) {
        if (p > pObs && v > observedValue) return '>';
        if (p < pObs && v < observedValue) return '<';
        return ' ';
    };
    Lines marked;
    int counts[4] = {0, 0, 0, 0};
    for (std::size_t k = 0; k < order.size(); ++k) {
        const double p = reference::Probability(order[k], F);
        const trace::SamplePointLine line = trace::ParseSamplePointLine(all[k]);
        const char star = p == pObs && order[k] == observed ? '*' : ' ';
        const char lr = mark(p, reference::LikelihoodRatio(order[k]), g2);
        const char chi = mark(p, reference::Pearson(order[k]), x2);
        EXPECT_EQ(line.observationMark, star) << all[k];
        EXPECT_EQ(line.likelihoodRatioMark, lr) << all[k];
        EXPECT_EQ(line.pearsonMark, chi) << all[k];
        counts[0] += lr == '>';
        counts[1] += lr == '<';
        counts[2] += chi == '>';
        counts[3] += chi == '<';
        if (star != ' ' || lr != ' ' || chi != ' ') marked.push_back(all[k]);
    }
    for (int c : counts) EXPECT_GT(c, 0);

    const Lines zero = AfterHeading(RunAt(0, observed));
    EXPECT_EQ(zero, marked);
    EXPECT_EQ(engine.State().TracedCount, static_cast<std::int64_t>(marked.size()));
}

// --- Probability formats -------------------------------------------------------------------

std::uint64_t Binomial(int n, int k) {
    std::uint64_t b = 1;
    for (int i = 1; i <= k; ++i) b = b * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
    return b;
}

TEST_F(TraceTest, ProbabilitiesBelowFiveTenMillionthsUseTheExponentForm) {
    // R = (15, 18), C = (15, 18): among the probabilities of X11 are
    // 7.87e-7 and 2.60e-7, on either side of 5e-7.
    const Lines lines = AfterHeading(RunAt(1, {{8, 7}, {7, 11}}));
    ASSERT_EQ(lines.size(), 16u);
    int exponentForms = 0, fixedBelowOneMillionth = 0;
    for (int x21 = 0; x21 <= 15; ++x21) {
        // Row 2 runs x_21 = 0..15; row 1 holds X11 = 15 - x_21.
        const int x11 = 15 - x21;
        const double p = static_cast<double>(Binomial(15, x11)) * static_cast<double>(Binomial(18, 15 - x11)) /
                         static_cast<double>(Binomial(33, 15));
        char expected[32];
        std::snprintf(expected, sizeof expected, p >= 5e-7 ? "%11.9f" : "%11.4e", p);
        const trace::SamplePointLine line = trace::ParseSamplePointLine(lines[static_cast<std::size_t>(x21)]);
        EXPECT_EQ(line.probability, expected) << x21;
        exponentForms += p < 5e-7;
        fixedBelowOneMillionth += p >= 5e-7 && p < 1e-6;
    }
    EXPECT_GT(exponentForms, 0);
    EXPECT_GT(fixedBelowOneMillionth, 0);

    // P(X11 = 20) for R = C = (20, 20) is 1 / C(40, 20).
    EXPECT_EQ(trace::ParseSamplePointLine(AfterHeading(RunAt(1, {{20, 0}, {0, 20}}))[0]).probability, " 7.2544e-12");
}

// --- Numbers at progress displays ----------------------------------------------------------

TEST_F(TraceTest, SamplePointAtAProgressDisplayCarriesTheNumberZero) {
    const Lines lines = AfterHeading(RunAt(1, {{10, 6, 5}, {6, 8, 7}, {5, 7, 9}}));
    ASSERT_EQ(lines.size(), 32131u);
    auto number = [&](std::size_t visit) { return trace::ParseSamplePointLine(lines[visit - 1]).number; };
    EXPECT_EQ(number(1), 1);
    EXPECT_EQ(number(9999), 9999);
    EXPECT_EQ(number(10000), 0);
    EXPECT_EQ(number(10001), 1);
    EXPECT_EQ(number(20000), 0);
    EXPECT_EQ(number(30000), 0);
    EXPECT_EQ(number(32131), 2131);
}

TEST_F(TraceTest, BreakAtTheFirstProgressDisplayStillTracesThatSamplePoint) {
    env.messages.answers = {true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines lines = AfterHeading(RunAt(1, {{10, 6, 5}, {6, 8, 7}, {5, 7, 9}}));
    ASSERT_EQ(lines.size(), 10000u);
    EXPECT_EQ(trace::ParseSamplePointLine(lines.back()).number, 0);
    EXPECT_EQ(engine.State().TracedCount, 10000);
}

TEST_F(TraceTest, EveryNoAtLevelZeroTellsHowManyLinesWereWritten) {
    const Table observed{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};
    const reference::Factorials F;
    const auto order = reference::TablesInVisitingOrder(reference::RowTotals(observed), reference::ColTotals(observed));
    const double pObs = reference::Probability(observed, F);
    const double g2 = reference::LikelihoodRatio(observed);
    const double x2 = reference::Pearson(observed);
    // Lines written before the click at sample point 10000 (which is traced after it).
    std::int64_t before = 0;
    for (std::size_t k = 0; k < 9999; ++k) {
        const double p = reference::Probability(order[k], F);
        const double g = reference::LikelihoodRatio(order[k]), x = reference::Pearson(order[k]);
        const bool marked = (p == pObs && order[k] == observed) || (p > pObs && (g > g2 || x > x2)) ||
                            (p < pObs && (g < g2 || x < x2));
        before += marked;
    }
    env.messages.answers = {false};
    env.pump.onPass = [&] {
        if (env.pump.passes == 1) engine.StatusBar1Click();
    };
    Options().Track = 0;
    const Lines report = Run(observed);
    const auto at = std::find_if(report.begin(), report.end(),
                                 [](const std::string& l) { return l.rfind("Sample point no 10000 at ", 0) == 0; });
    ASSERT_LE(at + 5, report.end());
    EXPECT_EQ(at[4], "Number of sample points printed: " + std::to_string(before));
}

// --- Asking for the file, reusing it ---------------------------------------------------------

TEST_F(TraceTest, TypedTableAsksAtEveryRunAndKeepsTheProposedName) {
    Options().Track = 1;
    Run({{2, 0}, {0, 2}});
    Run({{1, 1}, {1, 2}});
    EXPECT_EQ(env.saveDialog.executions, 2);
    EXPECT_THAT(env.saveDialog.namesSet, IsEmpty());
    EXPECT_THAT(env.saveDialog.proposedAtExecution, ElementsAre("", details));
    // Both runs appended to the same file.
    const Lines file = FileLines(details);
    EXPECT_EQ(std::count(file.begin(), file.end(), kBanner), 2);
}

TEST_F(TraceTest, TableFromTheSameDataFileReusesTheDetailsFileWithoutAsking) {
    engine.State().DataFileName = dir.File("tables.dat");
    env.saveDialog.chosen = dir.File("tables_details.txt");
    Run({{2, 0}, {0, 2}});
    EXPECT_EQ(env.saveDialog.executions, 1);
    EXPECT_THAT(env.saveDialog.namesSet, ElementsAre(dir.File("tables")));
    EXPECT_EQ(engine.State().DetailsFileName, dir.File("tables_details.txt"));

    Run({{1, 1}, {1, 2}});
    EXPECT_EQ(env.saveDialog.executions, 1);
    const Lines file = FileLines(dir.File("tables_details.txt"));
    EXPECT_EQ(std::count(file.begin(), file.end(), kBanner), 2);
    EXPECT_EQ(std::count(file.begin(), file.end(), "Observed numbers."), 2);
    EXPECT_FALSE(engine.State().DetailsFile.IsOpen());

    // Another data file: asked again, with that file's stem proposed.
    engine.State().DataFileName = dir.File("other.dat");
    env.saveDialog.chosen = dir.File("other.txt");
    Run({{2, 0}, {0, 2}});
    EXPECT_EQ(env.saveDialog.executions, 2);
    EXPECT_EQ(env.saveDialog.proposedAtExecution.back(), dir.File("other"));
    EXPECT_TRUE(FileExists(dir.File("other.txt")));
}

TEST_F(TraceTest, DataFileNameWithoutAPointReusesAnyChosenDetailsFile) {
    engine.State().DataFileName = dir.File("tables");
    Run({{2, 0}, {0, 2}});
    EXPECT_EQ(env.saveDialog.executions, 1);
    EXPECT_THAT(env.saveDialog.namesSet, ElementsAre(""));
    Run({{2, 0}, {0, 2}});
    EXPECT_EQ(env.saveDialog.executions, 1);
    const Lines file = FileLines(details);
    EXPECT_EQ(std::count(file.begin(), file.end(), kBanner), 2);
}

TEST_F(TraceTest, CancelledDialogLeavesTheTraceOutAndTheReportAsItIs) {
    Options().CountPos = true;
    env.saveDialog.confirm = false;
    const Lines traced = Run({{2, 0}, {0, 2}});
    EXPECT_FALSE(FileExists(details));
    EXPECT_THAT(env.messages.shown, IsEmpty());

    Options().Details = false;
    const Lines plain = Run({{2, 0}, {0, 2}});
    EXPECT_EQ(Body(traced), Body(plain));
}

// --- One-way trace ------------------------------------------------------------------------------

TEST_F(TraceTest, OneWaySingleRowMarksTheObservedCountsAndComparesWithExpectedCounts) {
    EXPECT_THAT(RunAt(4, {{3, 0}}),
                ElementsAreArray(Lines{"", kBanner, "Observed numbers.", "     3     0  |      3", "",
                                       std::string(" number    ") + " row 1      " + kHeadingEnd,
                                       "     1      0    3  :: 0.125000000     4.16      3.00 ",
                                       "   lrq //  0.0  4.2",
                                       "   chi // -1.2  1.2",
                                       "     2      1    2  :: 0.375000000     0.34      0.33 ",
                                       "   lrq // -0.8  1.2",
                                       "   chi // -0.4  0.4",
                                       "     3      2    1  :: 0.375000000     0.34      0.33 ",
                                       "   lrq //  1.2 -0.8",
                                       "   chi //  0.4 -0.4",
                                       "     4*     3    0  :: 0.125000000     4.16      3.00 ",
                                       "   lrq //  4.2  0.0",
                                       "   chi //  1.2 -1.2"}));
}

TEST_F(TraceTest, OneWaySingleColumnMarksEveryCategoryAsARow) {
    EXPECT_THAT(RunAt(4, {{3}, {0}}),
                ElementsAreArray(Lines{"", kBanner, "Observed numbers.", "     3", "     0", "--------", "     3", "",
                                       std::string(" number    ") + "row 1  " + "row 2  " + kHeadingEnd,
                                       "     1  //    0//    3  :: 0.125000000     4.16      3.00 ",
                                       "   lrq //  0.0//  4.2",
                                       "   chi // -1.2//  1.2",
                                       "     2  //    1//    2  :: 0.375000000     0.34      0.33 ",
                                       "   lrq // -0.8//  1.2",
                                       "   chi // -0.4//  0.4",
                                       "     3  //    2//    1  :: 0.375000000     0.34      0.33 ",
                                       "   lrq //  1.2// -0.8",
                                       "   chi //  0.4// -0.4",
                                       "     4* //    3//    0  :: 0.125000000     4.16      3.00 ",
                                       "   lrq //  4.2//  0.0",
                                       "   chi //  1.2// -1.2"}));
}

TEST_F(TraceTest, OneWayLevelZeroWritesOnlyTheObservedCounts) {
    EXPECT_THAT(AfterHeading(RunAt(0, {{3, 0}})), ElementsAre("     4*     3    0  :: 0.125000000     4.16      3.00 "));
}

TEST_F(TraceTest, OneWayHeaderOfThreeCategoriesInARow) {
    const Lines file = RunAt(1, {{12, 7, 5}});
    ASSERT_GE(file.size(), 6u);
    EXPECT_THAT(Lines(file.begin(), file.begin() + 6),
                ElementsAre("", kBanner, "Observed numbers.", "    12     7     5  |     24", "",
                            std::string(" number    ") + " row 1      " + "     " + kHeadingEnd));
}

}  // namespace
}  // namespace kelvorin
