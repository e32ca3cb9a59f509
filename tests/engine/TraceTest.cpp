// The details file: header and sample-point lines at every level, and when
// the file is asked for, reused or left out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using reference::Table;
using Lines = std::vector<std::string>;

const std::string kBanner = "Zelkat                15.03.2023 10:30:00";
const std::string kNumber = " number    ", kHeadingEnd = "  probability     lrq       chi";
const Table kDiagonal{{2, 0}, {0, 2}};

// Number, marks and probability of "%6d%c " + counts + "  :: %11s %8s%c %8s%c".
std::tuple<int, std::string, std::string> Fields(const std::string& line) {
    const std::size_t at = line.find("  :: ");
    if (at == std::string::npos || line.size() != at + 36) return {-1, "", line};
    return {std::stoi(line.substr(0, 6)), {line[6], line[at + 25], line[at + 35]}, line.substr(at + 5, 11)};
}

class TraceTest : public fakes::EngineHarness {
protected:
    void SetUp() override {
        Options() = fakes::With("Details");
        env.saveDialog.chosen = details = dir.File("details.txt");
    }
    Lines RunAt(int track, const Table& table) {
        Options().Track = track;
        env.saveDialog.chosen = details = dir.File("details" + std::to_string(++files) + ".txt");
        Run(table);
        return fakes::FileLines(details);
    }
    static Lines AfterHeading(const Lines& file) {
        const auto heading = std::ranges::find_if(file, [](const std::string& l) { return l.starts_with(kNumber); });
        return heading == file.end() ? Lines{} : Lines(heading + 1, file.end());
    }
    fakes::TempDirectory dir;
    std::string details;
    int files = 0;
};

// Every level: 0 only marked lines, 2 adds likelihood-ratio terms, 3 Pearson
// residuals, 4 both; the statistics are computed for the trace alone.
TEST_F(TraceTest, EveryDetailLevelOfTheDiagonalTable) {
    const std::string first = "     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ";
    const std::string second = "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ";
    const std::string third = "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 ";
    EXPECT_EQ(RunAt(1, kDiagonal), (Lines{"", kBanner, "Observed numbers.", "     2     0  |      2", "     0     2  |      2",
                                          "--------------+-------", "     2     2  |      4", "",
                                          kNumber + " row 1      " + " row 2      " + kHeadingEnd, first, second, third}));
    const AnalysisState& s = engine.State();
    EXPECT_EQ(s.G2Tally.EqualCount + s.G2Tally.GreaterCount + s.X2Tally.EqualCount + s.X2Tally.GreaterCount, 0);
    EXPECT_FALSE(s.DetailsFile.IsOpen());
    EXPECT_EQ(AfterHeading(RunAt(0, kDiagonal)), Lines{first});
    const std::string lrq[] = {"   lrq //  2.8  0.0//  0.0  2.8", "   lrq //  0.0  0.0//  0.0  0.0", "   lrq //  0.0  2.8//  2.8  0.0"};
    const std::string chi[] = {"   chi //  1.0 -1.0// -1.0  1.0", "   chi //  0.0  0.0//  0.0  0.0", "   chi // -1.0  1.0//  1.0 -1.0"};
    EXPECT_EQ(AfterHeading(RunAt(2, kDiagonal)), (Lines{first, lrq[0], second, lrq[1], third, lrq[2]}));
    EXPECT_EQ(AfterHeading(RunAt(3, kDiagonal)), (Lines{first, chi[0], second, chi[1], third, chi[2]}));
    EXPECT_EQ(AfterHeading(RunAt(4, kDiagonal)), (Lines{first, lrq[0], chi[0], second, lrq[1], chi[1], third, lrq[2], chi[2]}));
    // Wider tables widen the row headings; 1 / C(40, 20) needs the exponent form.
    EXPECT_EQ(RunAt(1, {{10, 20, 30}, {5, 15, 20}}).at(8), kNumber + " row 1      " + "     " + " row 2      " + "     " + kHeadingEnd);
    EXPECT_EQ(std::get<2>(Fields(AfterHeading(RunAt(1, {{20, 0}, {0, 20}})).at(0))), " 7.2544e-12");
}

// One-way counts of a row, or of a column as rows; '*' marks the observed ones.
TEST_F(TraceTest, OneWayTables) {
    EXPECT_EQ(AfterHeading(RunAt(4, {{3, 0}})),
              (Lines{"     1      0    3  :: 0.125000000     4.16      3.00 ", "   lrq //  0.0  4.2", "   chi // -1.2  1.2",
                     "     2      1    2  :: 0.375000000     0.34      0.33 ", "   lrq // -0.8  1.2", "   chi // -0.4  0.4",
                     "     3      2    1  :: 0.375000000     0.34      0.33 ", "   lrq //  1.2 -0.8", "   chi //  0.4 -0.4",
                     "     4*     3    0  :: 0.125000000     4.16      3.00 ", "   lrq //  4.2  0.0", "   chi //  1.2 -1.2"}));
    const Lines column = RunAt(4, {{3}, {0}});
    EXPECT_EQ(Lines(column.begin() + 8, column.begin() + 12), (Lines{kNumber + "row 1  " + "row 2  " + kHeadingEnd,
              "     1  //    0//    3  :: 0.125000000     4.16      3.00 ", "   lrq //  0.0//  4.2", "   chi // -1.2//  1.2"}));
}

// Each line's number (0 at displays), probability (%11.4e below 5e-7) and
// marks against the reference; level 0 keeps the marked ones, counted at a No.
TEST_F(TraceTest, EveryLineAgainstTheReferenceAndLevelZeroKeepsTheMarkedOnes) {
    const reference::Factorials F;
    const Table large{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};  // 32131 sample points
    std::string seen;
    std::size_t before = 0;  // marked lines before the first display
    for (const Table& observed : {Table{{2, 1, 1}, {0, 6, 3}, {2, 1, 0}}, large}) {
        const auto order = reference::TablesInVisitingOrder(reference::RowTotals(observed), reference::ColTotals(observed));
        const Lines all = AfterHeading(RunAt(1, observed));
        ASSERT_EQ(all.size(), order.size());
        const double pObs = reference::Probability(observed, F), g2 = reference::LikelihoodRatio(observed), x2 = reference::Pearson(observed);
        auto mark = [&](double p, double v, double b) { return p > pObs && v > b ? '>' : p < pObs && v < b ? '<' : ' '; };
        Lines marked;
        before = 0;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const double p = reference::Probability(order[k], F);
            const std::string marks{order[k] == observed ? '*' : ' ', mark(p, reference::LikelihoodRatio(order[k]), g2),
                                    mark(p, reference::Pearson(order[k]), x2)};
            char probability[32];
            std::snprintf(probability, sizeof probability, p >= 5e-7 ? "%11.9f" : "%11.4e", p);
            ASSERT_EQ(Fields(all[k]), std::tuple(static_cast<int>((k + 1) % 10000), marks, std::string(probability))) << all[k];
            seen += marks + (p < 5e-7 ? "e" : "") + (p >= 5e-7 && p < 1e-6 ? "f" : "");
            if (marks != "   ") marked.push_back(all[k]), before += k < 9999;
        }
        EXPECT_EQ(AfterHeading(RunAt(0, observed)), marked);
        EXPECT_EQ(engine.State().TracedCount, static_cast<std::int64_t>(marked.size()));
    }
    for (char c : std::string("*<>ef")) EXPECT_NE(seen.find(c), std::string::npos) << c;
    env.messages.answers = {false, true};
    env.pump.onPass = [&] {
        if (env.pump.passes == 1) engine.StatusBar1Click();
    };
    env.pump.passes = 0;
    RunAt(0, large);
    EXPECT_THAT(env.report.Lines(), ::testing::Contains("Number of sample points printed: " + std::to_string(before)));
    env.pump.passes = 0;
    const Lines broken = AfterHeading(RunAt(1, large));
    ASSERT_EQ(broken.size(), 10000u);
    EXPECT_EQ(std::get<0>(Fields(broken.back())), 0);
}

// A typed table asks at every run; a table from the same data file (or one
// without a point) reuses the file; another data file proposes its stem.
TEST_F(TraceTest, WhenTheDetailsFileIsAskedFor) {
    auto banners = [](const std::string& file) { return std::ranges::count(fakes::FileLines(file), kBanner); };
    const fakes::FakeFileDialog& dialog = env.saveDialog;
    Run(kDiagonal);
    Run({{1, 1}, {1, 2}});
    EXPECT_EQ(dialog.proposedAtExecution, (Lines{"", details}));
    EXPECT_EQ(banners(details), 2);
    engine.State().DataFileName = dir.File("tables.dat");
    env.saveDialog.chosen = dir.File("tables_details.txt");
    Run(kDiagonal);
    Run({{1, 1}, {1, 2}});
    EXPECT_EQ(dialog.executions, 3);
    EXPECT_EQ(dialog.proposedAtExecution.back(), dir.File("tables"));
    EXPECT_EQ(banners(dir.File("tables_details.txt")), 2);
    engine.State().DataFileName = dir.File("other.dat");
    env.saveDialog.chosen = dir.File("other.txt");
    Run(kDiagonal);
    EXPECT_EQ(dialog.proposedAtExecution.back(), dir.File("other"));
    engine.State().DataFileName = dir.File("tables");
    Run(kDiagonal);
    EXPECT_EQ(dialog.executions, 4);
    EXPECT_EQ(dialog.namesSet, (Lines{dir.File("tables"), dir.File("tables"), dir.File("other"), ""}));
    EXPECT_EQ(banners(dir.File("other.txt")), 2);
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
