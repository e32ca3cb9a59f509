// The details file: its header, the sample-point lines at every detail level,
// their marks, formats and numbers, and when the file is asked for, reused or
// left out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"
#include "TraceLines.h"

namespace kelvorin {
namespace {

using fakes::FileLines;
using reference::Table;
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

const std::string kBanner = "Zelkat                15.03.2023 10:30:00";
const std::string kNumber = " number    ";
const std::string kHeadingEnd = "  probability     lrq       chi";
const Table kDiagonal{{2, 0}, {0, 2}};
const Table kLarge{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};  // 32131 sample points

class TraceTest : public fakes::EngineHarness {
protected:
    void SetUp() override {
        Options() = fakes::With("Details");
        env.saveDialog.chosen = details = dir.File("details.txt");
    }
    // Runs at the detail level into a new details file; returns its lines.
    Lines RunAt(int track, const Table& table) {
        Options().Track = track;
        env.saveDialog.chosen = details = dir.File("details" + std::to_string(++files) + ".txt");
        Run(table);
        return FileLines(details);
    }
    // The lines after the column heading.
    static Lines AfterHeading(const Lines& file) {
        const auto heading = std::find_if(file.begin(), file.end(), [](const std::string& l) { return l.starts_with(" number    "); });
        return heading == file.end() ? Lines{} : Lines(heading + 1, file.end());
    }
    static int Number(const std::string& line) { return trace::ParseSamplePointLine(line).number; }

    fakes::TempDirectory dir;
    std::string details;
    int files = 0;
};

// The worked table at every level: level 0 keeps only the marked observed
// table, 2 adds the likelihood-ratio terms, 3 the Pearson residuals, 4 both.
// The statistics are computed for the trace alone: their tallies stay empty.
TEST_F(TraceTest, EveryDetailLevelOfTheDiagonalTable) {
    const std::string first = "     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ";
    const std::string second = "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ";
    const std::string third = "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 ";
    EXPECT_EQ(RunAt(1, kDiagonal), (Lines{"", kBanner, "Observed numbers.", "     2     0  |      2", "     0     2  |      2",
                                          "--------------+-------", "     2     2  |      4", "",
                                          kNumber + " row 1      " + " row 2      " + kHeadingEnd, first, second, third}));
    EXPECT_EQ(engine.State().G2Tally.LessCount + engine.State().G2Tally.EqualCount + engine.State().G2Tally.GreaterCount, 0);
    EXPECT_EQ(engine.State().X2Tally.EqualMass + engine.State().X2Tally.GreaterMass, 0.0);
    EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    EXPECT_EQ(AfterHeading(RunAt(0, kDiagonal)), Lines{first});
    EXPECT_EQ(engine.State().TracedCount, 1);
    const std::string lrq[] = {"   lrq //  2.8  0.0//  0.0  2.8", "   lrq //  0.0  0.0//  0.0  0.0", "   lrq //  0.0  2.8//  2.8  0.0"};
    const std::string chi[] = {"   chi //  1.0 -1.0// -1.0  1.0", "   chi //  0.0  0.0//  0.0  0.0", "   chi // -1.0  1.0//  1.0 -1.0"};
    EXPECT_EQ(AfterHeading(RunAt(2, kDiagonal)), (Lines{first, lrq[0], second, lrq[1], third, lrq[2]}));
    EXPECT_EQ(AfterHeading(RunAt(3, kDiagonal)), (Lines{first, chi[0], second, chi[1], third, chi[2]}));
    EXPECT_EQ(AfterHeading(RunAt(4, kDiagonal)), (Lines{first, lrq[0], chi[0], second, lrq[1], chi[1], third, lrq[2], chi[2]}));
}

// One-way tables: a row shows its counts without marks between them, a
// column each category as a row; '*' marks the observed counts. Wider
// tables widen the row headings.
TEST_F(TraceTest, OneWayTablesAndWiderHeadings) {
    EXPECT_EQ(AfterHeading(RunAt(4, {{3, 0}})),
              (Lines{"     1      0    3  :: 0.125000000     4.16      3.00 ", "   lrq //  0.0  4.2", "   chi // -1.2  1.2",
                     "     2      1    2  :: 0.375000000     0.34      0.33 ", "   lrq // -0.8  1.2", "   chi // -0.4  0.4",
                     "     3      2    1  :: 0.375000000     0.34      0.33 ", "   lrq //  1.2 -0.8", "   chi //  0.4 -0.4",
                     "     4*     3    0  :: 0.125000000     4.16      3.00 ", "   lrq //  4.2  0.0", "   chi //  1.2 -1.2"}));
    const Lines column = RunAt(4, {{3}, {0}});
    ASSERT_EQ(column.size(), 21u);
    EXPECT_EQ(Lines(column.begin() + 2, column.begin() + 12),
              (Lines{"Observed numbers.", "     3", "     0", "--------", "     3", "", kNumber + "row 1  " + "row 2  " + kHeadingEnd,
                     "     1  //    0//    3  :: 0.125000000     4.16      3.00 ", "   lrq //  0.0//  4.2", "   chi // -1.2//  1.2"}));
    EXPECT_EQ(column.back(), "   chi //  1.2// -1.2");
    EXPECT_EQ(Lines(RunAt(1, {{3, 0}})).at(5), kNumber + " row 1      " + kHeadingEnd);
    EXPECT_EQ(RunAt(1, {{12, 7, 5}}).at(5), kNumber + " row 1      " + "     " + kHeadingEnd);
    EXPECT_EQ(RunAt(1, {{10, 20, 30}, {5, 15, 20}}).at(8), kNumber + " row 1      " + "     " + " row 2      " + "     " + kHeadingEnd);
}

// The marks against the reference: '>' more probable and a larger statistic,
// '<' less probable and a smaller one; level 0 keeps exactly the marked lines.
TEST_F(TraceTest, MarksFollowTheStrictComparisonsAndLevelZeroKeepsOnlyMarkedLines) {
    const Table observed{{2, 1, 1}, {0, 6, 3}, {2, 1, 0}};
    const reference::Factorials F;
    const Lines all = AfterHeading(RunAt(1, observed));
    const auto order = reference::TablesInVisitingOrder(reference::RowTotals(observed), reference::ColTotals(observed));
    ASSERT_EQ(all.size(), order.size());
    const double pObs = reference::Probability(observed, F);
    auto mark = [&](double p, double v, double observedValue) {
        return p > pObs && v > observedValue ? '>' : p < pObs && v < observedValue ? '<' : ' ';
    };
    Lines marked;
    std::string seen;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const double p = reference::Probability(order[k], F);
        const trace::SamplePointLine line = trace::ParseSamplePointLine(all[k]);
        const char star = order[k] == observed ? '*' : ' ';
        const char lr = mark(p, reference::LikelihoodRatio(order[k]), reference::LikelihoodRatio(observed));
        const char chi = mark(p, reference::Pearson(order[k]), reference::Pearson(observed));
        const std::string marks{line.observationMark, line.likelihoodRatioMark, line.pearsonMark};
        EXPECT_EQ(marks, (std::string{star, lr, chi})) << all[k];
        seen += std::string{lr, chi};
        if (star != ' ' || lr != ' ' || chi != ' ') marked.push_back(all[k]);
    }
    EXPECT_TRUE(seen.find('<') != std::string::npos && seen.find('>') != std::string::npos);
    EXPECT_EQ(AfterHeading(RunAt(0, observed)), marked);
    EXPECT_EQ(engine.State().TracedCount, static_cast<std::int64_t>(marked.size()));
}

// Below 5e-7 a probability is printed as %11.4e, from there as %11.9f.
TEST_F(TraceTest, ProbabilitiesBelowFiveTenMillionthsUseTheExponentForm) {
    // R = C = (15, 18); row 2 runs x_21 = 0..15, so X11 = 15 - x_21.
    const Lines lines = AfterHeading(RunAt(1, {{8, 7}, {7, 11}}));
    ASSERT_EQ(lines.size(), 16u);
    auto binomial = [](int n, int k) {
        double b = 1;
        for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
        return b;
    };
    for (int x11 = 0; x11 <= 15; ++x11) {
        const double p = binomial(15, x11) * binomial(18, 15 - x11) / binomial(33, 15);
        char expected[32];
        std::snprintf(expected, sizeof expected, p >= 5e-7 ? "%11.9f" : "%11.4e", p);
        EXPECT_EQ(trace::ParseSamplePointLine(lines[static_cast<std::size_t>(15 - x11)]).probability, expected) << x11;
    }
    // P(X11 = 20) for R = C = (20, 20) is 1 / C(40, 20).
    EXPECT_EQ(trace::ParseSamplePointLine(AfterHeading(RunAt(1, {{20, 0}, {0, 20}}))[0]).probability, " 7.2544e-12");
}

// The sample point at a progress display carries the number 0; a break
// confirmed there still traces it.
TEST_F(TraceTest, SamplePointAtAProgressDisplayCarriesTheNumberZero) {
    const Lines lines = AfterHeading(RunAt(1, kLarge));
    ASSERT_EQ(lines.size(), 32131u);
    for (const auto& [visit, number] : {std::pair{1, 1}, {9999, 9999}, {10000, 0}, {10001, 1}, {20000, 0}, {32131, 2131}})
        EXPECT_EQ(Number(lines[static_cast<std::size_t>(visit - 1)]), number) << visit;
    env.messages.answers = {true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines broken = AfterHeading(RunAt(1, kLarge));
    ASSERT_EQ(broken.size(), 10000u);
    EXPECT_EQ(Number(broken.back()), 0);
    EXPECT_EQ(engine.State().TracedCount, 10000);
}

// No at level 0 tells how many lines were written before the click (the
// sample point of the display is traced after it).
TEST_F(TraceTest, EveryNoAtLevelZeroTellsHowManyLinesWereWritten) {
    const reference::Factorials F;
    const auto order = reference::TablesInVisitingOrder(reference::RowTotals(kLarge), reference::ColTotals(kLarge));
    const double pObs = reference::Probability(kLarge, F), g2 = reference::LikelihoodRatio(kLarge),
                 x2 = reference::Pearson(kLarge);
    int before = 0;
    for (std::size_t k = 0; k < 9999; ++k) {
        const double p = reference::Probability(order[k], F);
        const double g = reference::LikelihoodRatio(order[k]), x = reference::Pearson(order[k]);
        before += order[k] == kLarge || (p > pObs && (g > g2 || x > x2)) || (p < pObs && (g < g2 || x < x2));
    }
    env.messages.answers = {false};
    env.pump.onPass = [&] {
        if (env.pump.passes == 1) engine.StatusBar1Click();
    };
    Options().Track = 0;
    const Lines report = Run(kLarge);
    const auto at = std::find_if(report.begin(), report.end(), [](const std::string& l) { return l.starts_with("Sample point no 10000 at "); });
    ASSERT_LE(at + 5, report.end());
    EXPECT_EQ(at[4], "Number of sample points printed: " + std::to_string(before));
}

// A typed table asks at every run and leaves the proposed name as it was; a
// table from the same data file reuses the file without asking; another data
// file proposes its own stem; a data file name without a point reuses any
// chosen file.
TEST_F(TraceTest, WhenTheDetailsFileIsAskedFor) {
    auto banners = [](const std::string& file) { return std::ranges::count(FileLines(file), kBanner); };
    Run(kDiagonal);
    Run({{1, 1}, {1, 2}});
    EXPECT_THAT(env.saveDialog.proposedAtExecution, ElementsAre("", details));
    EXPECT_TRUE(env.saveDialog.namesSet.empty());
    EXPECT_EQ(banners(details), 2);

    engine.State().DataFileName = dir.File("tables.dat");
    env.saveDialog.chosen = dir.File("tables_details.txt");
    Run(kDiagonal);
    Run({{1, 1}, {1, 2}});
    EXPECT_EQ(env.saveDialog.executions, 3);
    EXPECT_EQ(env.saveDialog.proposedAtExecution.back(), dir.File("tables"));
    EXPECT_EQ(banners(dir.File("tables_details.txt")), 2);
    EXPECT_FALSE(engine.State().DetailsFile.IsOpen());

    engine.State().DataFileName = dir.File("other.dat");
    env.saveDialog.chosen = dir.File("other.txt");
    Run(kDiagonal);
    EXPECT_EQ(env.saveDialog.executions, 4);
    EXPECT_EQ(env.saveDialog.proposedAtExecution.back(), dir.File("other"));

    engine.State().DataFileName = dir.File("tables");
    Run(kDiagonal);
    Run(kDiagonal);
    EXPECT_EQ(env.saveDialog.executions, 4);
    EXPECT_EQ(env.saveDialog.namesSet.back(), "");
    EXPECT_EQ(banners(dir.File("other.txt")), 3);
}

TEST_F(TraceTest, CancelledDialogLeavesTheTraceOutAndTheReportAsItIs) {
    Options().CountPos = true;
    env.saveDialog.confirm = false;
    const Lines traced = Run(kDiagonal);
    EXPECT_FALSE(fakes::FileExists(details));
    EXPECT_TRUE(env.messages.shown.empty());
    Options().Details = false;
    EXPECT_EQ(Body(traced), Body(Run(kDiagonal)));
}

}  // namespace
}  // namespace kelvorin
