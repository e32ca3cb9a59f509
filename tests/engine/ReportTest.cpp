// The report line for line: the descriptive blocks, the exact blocks and
// closing lines, the approximate blocks, the 2 x 2 Fisher blocks, the
// one-way test, interruptions and the used time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <limits>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using fakes::EngineHarness;
using fakes::NoSections;
using fakes::TempDirectory;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

std::string Printf(const char* format, double value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The rows of a table as ShowSamplePoint writes them: " %3d" per cell.
Lines SamplePointLines(const reference::Table& t) {
    Lines lines;
    for (const auto& row : t) {
        std::string line;
        char cell[16];
        for (int v : row) {
            std::snprintf(cell, sizeof cell, " %3d", v);
            line += cell;
        }
        lines.push_back(line);
    }
    return lines;
}

// The report between the banner and the used-time line.
class ReportTest : public EngineHarness {
protected:
    Lines Middle(const Lines& lines) {
        const Lines body = Body(lines);
        EXPECT_GE(body.size(), 2u);
        if (body.size() < 2) return body;
        EXPECT_THAT(body[body.size() - 2], HasSubstr("  Used time : "));
        EXPECT_EQ(body.back(), "");
        return {body.begin(), body.end() - 2};
    }
};

// --- Descriptive tables -------------------------------------------------------

TEST_F(ReportTest, DescriptiveBlocksOfATwoByThreeTable) {
    Options() = NoSections();
    Options().Observed = Options().Expected = Options().Column = Options().Row = true;
    EXPECT_THAT(Middle(Run({{10, 20, 30}, {5, 15, 20}})),
                ElementsAreArray(Lines{"Observed Numbers.",
                                       "    10    20    30  |     60",
                                       "     5    15    20  |     40",
                                       "--------------------+-------",
                                       "    15    35    50  |    100",
                                       "",
                                       "Expected Numbers.",
                                       "   9.0  21.0  30.0  |     60",
                                       "   6.0  14.0  20.0  |     40",
                                       "--------------------+-------",
                                       "    15    35    50  |    100",
                                       "",
                                       "Column percentages.",
                                       "  66.7  57.1  60.0  |   60.0",
                                       "  33.3  42.9  40.0  |   40.0",
                                       "--------------------+-------",
                                       " 100.0 100.0 100.0  |  100.0",
                                       "",
                                       "Row percentages.",
                                       "  16.7  33.3  50.0  |  100.0",
                                       "  12.5  37.5  50.0  |  100.0",
                                       "--------------------+-------",
                                       "  15.0  35.0  50.0  |  100.0",
                                       ""}));
}

TEST_F(ReportTest, DescriptiveBlocksOfASingleColumn) {
    Options() = NoSections();
    Options().Observed = Options().Expected = Options().Column = Options().Row = true;
    EXPECT_THAT(Middle(Run({{12}, {7}, {5}})),
                ElementsAreArray(Lines{"Observed Numbers.", "    12", "     7", "     5", "--------", "    24", "",
                                       "Expected Numbers.", "   8.0", "   8.0", "   8.0", "--------", "    24", "",
                                       "Column percentages.", "  50.0", "  29.2", "  20.8", "--------", " 100.0",
                                       ""}));
}

TEST_F(ReportTest, DescriptiveBlocksOfASingleRowWithProportions) {
    Options() = NoSections();
    Options().Observed = Options().Expected = Options().Column = Options().Row = true;
    env.proportionsWindow.onShow = [&] {
        env.proportionsGrid.SetCell(0, 0, "1");
        env.proportionsGrid.SetCell(1, 0, "1");
        env.proportionsGrid.SetCell(2, 0, "2");
    };
    EXPECT_THAT(Middle(Run({{12, 7, 5}})),
                ElementsAreArray(Lines{"Observed Numbers.", "    12     7     5  |     24", "",
                                       "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
                                       "Row percentages.", "  50.0  29.2  20.8  |  100.0", ""}));
}

TEST_F(ReportTest, WideValuesWidenTheirLine) {
    Options() = NoSections();
    Options().Observed = Options().Expected = true;
    const Lines lines = Middle(Run({{2000, 0}, {1, 1}}));
    // Expected 1999.0 takes seven characters; counts up to 32767 keep six.
    EXPECT_THAT(lines, ::testing::Contains(" 1999.0   1.0  |   2000"));
    EXPECT_THAT(lines, ::testing::Contains("  2000     0  |   2000"));
}

// --- Exact blocks and closing lines ---------------------------------------------

TEST_F(ReportTest, ExactBlocksOfTheTwoByTwoDiagonalTable) {
    Options() = NoSections();
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    EXPECT_THAT(Body(Run({{2, 0}, {0, 2}})),
                ElementsAreArray(Lines{"",
                                       "Exact (multi tailed) Likelihood Ratio ",
                                       "  Greater than:        0 points with prob.  0.000000",
                                       "  Equal to:            2 points with prob.  0.333333",
                                       "  Less than:           1 points with prob.  0.666667",
                                       " ==>  Significance (recommended)     p =    0.333333 <==",
                                       "",
                                       "Exact (multi tailed) Chi Square ",
                                       "  Greater than:        0 points with prob.  0.000000",
                                       "  Equal to:            2 points with prob   0.333333",
                                       "  Less than:           1 points with prob.  0.666667",
                                       " -->  Significance                   p =    0.333333 <--",
                                       "",
                                       "Exact (multi tailed) Fisher test ",
                                       "  Less prob:           0 points with prob.  0.000000",
                                       "  Same prob:           2 points with prob.  0.333333",
                                       "  Greater prob:        1 points with prob.  0.666667",
                                       " -->  Significance                   p =    0.333333 <--",
                                       " This value is used by many statistical",
                                       " programs - like SPSS, Stata, SAS and R",
                                       "",
                                       "Number of sample points = 3",
                                       "  Used time : 0:00:00.000",
                                       ""}));
    EXPECT_EQ(env.status.Last(), "Number of sample points = 3");
    EXPECT_FALSE(engine.State().Running);
}

TEST_F(ReportTest, OneWayExampleOfThreeObservationsInTwoCategories) {
    Options() = NoSections();
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    EXPECT_THAT(Middle(Run({{3, 0}})),
                ElementsAreArray(Lines{"",
                                       "Exact (multi tailed) Likelihood Ratio ",
                                       "  Greater than:        0 points with prob.  0.000000",
                                       "  Equal to:            2 points with prob.  0.250000",
                                       "  Less than:           2 points with prob.  0.750000",
                                       " ==>  Significance (recommended)     p =    0.250000 <==",
                                       "",
                                       "Exact (multi tailed) Chi Square ",
                                       "  Greater than:        0 points with prob.  0.000000",
                                       "  Equal to:            2 points with prob   0.250000",
                                       "  Less than:           2 points with prob.  0.750000",
                                       " -->  Significance                   p =    0.250000 <--",
                                       "",
                                       "Exact (multi tailed) Fisher test ",
                                       "  Less prob:           0 points with prob.  0.000000",
                                       "  Same prob:           2 points with prob.  0.250000",
                                       "  Greater prob:        2 points with prob.  0.750000",
                                       " -->  Significance                   p =    0.250000 <--",
                                       " This value is used by many statistical",
                                       " programs - like SPSS, Stata, SAS and R",
                                       "",
                                       "Number of sample points = 4"}));
    EXPECT_EQ(env.proportionsWindow.shows, 1);
    EXPECT_DOUBLE_EQ(engine.State().ObservedProbability, 0.125);
}

TEST_F(ReportTest, OnlyDetailsEnumeratesWithoutExactBlocksOrCount) {
    TempDirectory dir;
    Options() = NoSections();
    Options().Details = true;
    env.saveDialog.chosen = dir.File("details.txt");
    EXPECT_THAT(Middle(Run({{2, 0}, {0, 2}})), IsEmpty());
    EXPECT_EQ(engine.State().SamplePointCount, 3u);
    EXPECT_EQ(fakes::FileLines(dir.File("details.txt")).size(), 12u);  // 9 header lines, 3 sample points
}

TEST_F(ReportTest, NoExactOptionLeavesOnlyTheUsedTime) {
    Options() = NoSections();
    const Lines body = Body(Run({{2, 0}, {0, 2}}));
    ASSERT_EQ(body.size(), 2u);
    EXPECT_THAT(body[0], HasSubstr("  Used time : "));
    EXPECT_EQ(body[1], "");
    EXPECT_EQ(engine.State().SamplePointCount, 0u);
}

TEST_F(ReportTest, UsedTimeOfOneAndAHalfSeconds) {
    Options() = NoSections();
    const double start = 45000.4375;
    env.clock.script = {start, start + 1.5 / 86400.0};
    const Lines body = Body(Run({{2, 0}, {0, 2}}));
    EXPECT_THAT(body, ElementsAre("  Used time : 0:00:01.500", ""));
    ASSERT_FALSE(env.clock.longTimeArguments.empty());
    EXPECT_NEAR(env.clock.longTimeArguments.back(), 1.5 / 86400.0, 1e-10);
}

TEST_F(ReportTest, UsedTimeAfterAQuarterOfASecond) {
    Options() = NoSections();
    const double start = 45000.4375;
    env.clock.script = {start, start + (3723.25 / 86400.0)};
    EXPECT_THAT(Body(Run({{2, 0}, {0, 2}})), ElementsAre("  Used time : 1:02:03.250", ""));
}

// --- Approximate tests ------------------------------------------------------------

class ApproximateReportTest : public ReportTest {
protected:
    void SetUp() override {
        Options() = NoSections();
        Options().AppLRtest = Options().AppCStest = true;
    }
};

TEST_F(ApproximateReportTest, TenTwoThreeFifteen) {
    EXPECT_THAT(Middle(Run({{10, 2}, {3, 15}})),
                ElementsAreArray(Lines{"Approx. Likelihood Ratio test",
                                       "  Chi^2 =  14.020, df=  1,           p  =   0.000181",
                                       "  Yates:  Chi^2 =  11.038,           p  =   0.000892",
                                       "  (min.expected = 5.2)",
                                       "",
                                       "Approx. Chi-Square test (Pearson)",
                                       "  Chi^2 =  13.032, df=  1,           p  =   0.000306",
                                       "  Yates:  Chi^2 =  10.458,           p  =   0.001221",
                                       "  (min.expected = 5.2)",
                                       ""}));
}

TEST_F(ApproximateReportTest, AllFivesHaveAYatesChiSquareOfOneFifth) {
    EXPECT_THAT(Middle(Run({{5, 5}, {5, 5}})),
                ElementsAreArray(Lines{"Approx. Likelihood Ratio test",
                                       "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
                                       "  Yates:  Chi^2 =   0.000,           p  =   1.000000",
                                       "  (min.expected = 5.0)",
                                       "",
                                       "Approx. Chi-Square test (Pearson)",
                                       "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
                                       "  Yates:  Chi^2 =   0.200,           p  =   0.654721",
                                       "  (min.expected = 5.0)",
                                       ""}));
}

TEST_F(ApproximateReportTest, DiagonalOnesLeaveZeroCellsOut) {
    // One degree of freedom: p = erfc(sqrt(x / 2)).
    const double pG2 = std::erfc(std::sqrt(4.0 * std::log(2.0) / 2.0));
    const double pX2 = std::erfc(1.0);
    EXPECT_THAT(Middle(Run({{1, 0}, {0, 1}})),
                ElementsAreArray(Lines{"Approx. Likelihood Ratio test",
                                       "  Chi^2 =   2.773, df=  1,           p  =  " + Printf("%9.6f", pG2),
                                       "  Yates:  Chi^2 =   0.000,           p  =   1.000000",
                                       "  (min.expected = 0.5)",
                                       "",
                                       "Approx. Chi-Square test (Pearson)",
                                       "  Chi^2 =   2.000, df=  1,           p  =  " + Printf("%9.6f", pX2),
                                       "  Yates:  Chi^2 =   0.000,           p  =   1.000000",
                                       "  (min.expected = 0.5)",
                                       ""}));
}

TEST_F(ApproximateReportTest, TwoByThreeHasNoYatesLines) {
    EXPECT_THAT(Middle(Run({{10, 20, 30}, {5, 15, 20}})),
                ElementsAreArray(Lines{"Approx. Likelihood Ratio test",
                                       "  Chi^2 =   0.402, df=  2,           p  =   0.817841",
                                       "  (min.expected = 6.0)",
                                       "",
                                       "Approx. Chi-Square test (Pearson)",
                                       "  Chi^2 =   0.397, df=  2,           p  =   0.820031",
                                       "  (min.expected = 6.0)",
                                       ""}));
}

TEST_F(ApproximateReportTest, SingleRowAgainstTypedProportions) {
    env.proportionsWindow.onShow = [&] { env.proportionsGrid.SetCell(2, 0, "2"); };
    EXPECT_THAT(Middle(Run({{12, 7, 5}})),
                ElementsAreArray(Lines{"Approx. Likelihood Ratio test",
                                       "  Chi^2 =  10.039, df=  2,           p  =   0.006608",
                                       "  (min.expected = 6.0)",
                                       "",
                                       "Approx. Chi-Square test (Pearson)",
                                       "  Chi^2 =  10.250, df=  2,           p  =   0.005946",
                                       "  (min.expected = 6.0)",
                                       ""}));
}

// --- 2 x 2 Fisher blocks -------------------------------------------------------------

TEST_F(ReportTest, FisherBlocksOfTenTwoThreeFifteen) {
    Options() = NoSections();
    Options().Opt2x2twotail = Options().Opt2x2onetail = true;
    EXPECT_THAT(Middle(Run({{10, 2}, {3, 15}})),
                ElementsAreArray(Lines{"",
                                       "2 x 2 Fisher exact test - 'two tailed'.",
                                       "              p( X11 <  10 )     =          0.999535",
                                       "              P( X11 =  10 )     =          0.000450",
                                       "              p( X11 >  10 )     =          0.000015",
                                       " (not recom.)     p-two tailed   =          0.000930",
                                       " (corrected)      p-two tailed   =          0.000481",
                                       "",
                                       "",
                                       "2 x 2 Fisher exact test - one tailed.",
                                       "                p-one tailed   =            0.000465",
                                       "  (Remember to check the direction)",
                                       ""}));
}

struct FisherCase {
    std::vector<std::vector<int>> table;
    const char* less;
    const char* equal;
    const char* greater;
    const char* notRecommended;
    const char* corrected;
    const char* oneTailed;
};

void PrintTo(const FisherCase& c, std::ostream* out) {
    *out << c.table[0][0] << " " << c.table[0][1] << " / " << c.table[1][0] << " " << c.table[1][1];
}

class FisherBlockTest : public ReportTest, public ::testing::WithParamInterface<FisherCase> {};

TEST_P(FisherBlockTest, BothBlocks) {
    const FisherCase& c = GetParam();
    Options() = NoSections();
    Options().ExaLRtest = true;  // the blocks read the same sums with other exact tests on
    Options().Opt2x2twotail = Options().Opt2x2onetail = true;
    const Lines lines = Middle(Run(c.table));
    const std::string x11 = Printf("%3.0f", c.table[0][0]);
    const auto at = std::find(lines.begin(), lines.end(), "2 x 2 Fisher exact test - 'two tailed'.");
    ASSERT_NE(at, lines.end());
    ASSERT_GE(lines.end() - at, 12);
    EXPECT_EQ(at[1], "              p( X11 < " + x11 + " )     =          " + c.less);
    EXPECT_EQ(at[2], "              P( X11 = " + x11 + " )     =          " + c.equal);
    EXPECT_EQ(at[3], "              p( X11 > " + x11 + " )     =          " + c.greater);
    EXPECT_EQ(at[4], std::string(" (not recom.)     p-two tailed   =          ") + c.notRecommended);
    EXPECT_EQ(at[5], std::string(" (corrected)      p-two tailed   =          ") + c.corrected);
    EXPECT_EQ(at[6], "");
    EXPECT_EQ(at[7], "");
    EXPECT_EQ(at[8], "2 x 2 Fisher exact test - one tailed.");
    EXPECT_EQ(at[9], std::string("                p-one tailed   =            ") + c.oneTailed);
    EXPECT_EQ(at[10], "  (Remember to check the direction)");
}

INSTANTIATE_TEST_SUITE_P(
    WorkedTables, FisherBlockTest,
    ::testing::Values(FisherCase{{{3, 1}, {1, 3}}, "0.757143", "0.228571", "0.014286", "0.485714", "0.257143", "0.242857"},
                      FisherCase{{{5, 5}, {5, 5}}, "0.328141", "0.343718", "0.328141", "1.000000", "1.000000", "0.671859"},
                      FisherCase{{{1, 0}, {0, 1}}, "0.500000", "0.500000", "0.000000", "1.000000", "0.500000", "0.500000"}));

// Above N = 1000 the row coefficient divides the largest row total out; the
// sums must still be the hypergeometric distribution of X11.
TEST_F(ReportTest, FisherSumsOfATableAboveAThousandObservations) {
    Options() = NoSections();
    Options().CountPos = true;
    Options().Opt2x2twotail = true;
    const int r1 = 1100, r2 = 100, c1 = 600, x11 = 550;
    // Weights of x = n_11 by the ratio of successive hypergeometric terms.
    std::vector<long double> weight(static_cast<std::size_t>(c1 + 1), 0.0L);
    const int lo = c1 - r2;
    weight[static_cast<std::size_t>(lo)] = 1.0L;
    long double total = 1.0L;
    for (int x = lo; x < c1; ++x) {
        weight[static_cast<std::size_t>(x + 1)] = weight[static_cast<std::size_t>(x)] *
                                                  static_cast<long double>((c1 - x) * (r1 - x)) /
                                                  static_cast<long double>((x + 1) * (r2 - c1 + x + 1));
        total += weight[static_cast<std::size_t>(x + 1)];
    }
    long double less = 0.0L, greater = 0.0L;
    for (int x = lo; x <= c1; ++x) {
        if (x < x11) less += weight[static_cast<std::size_t>(x)] / total;
        if (x > x11) greater += weight[static_cast<std::size_t>(x)] / total;
    }
    const long double equal = weight[static_cast<std::size_t>(x11)] / total;
    const long double m = std::min(less, greater);

    const Lines lines = Middle(Run({{550, 550}, {50, 50}}));
    EXPECT_THAT(lines, ::testing::Contains("Number of sample points = 101"));
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Warning", 0) == 0; }));
    EXPECT_THAT(lines, ::testing::IsSupersetOf(Lines{
                           "              p( X11 < 550 )     =         " + Printf("%9.6f", static_cast<double>(less)),
                           "              P( X11 = 550 )     =         " + Printf("%9.6f", static_cast<double>(equal)),
                           "              p( X11 > 550 )     =         " + Printf("%9.6f", static_cast<double>(greater)),
                           " (corrected)      p-two tailed   =         " +
                               Printf("%9.6f", static_cast<double>(std::min(1.0L, 2 * m + equal)))}));
}

// A single column of 2100 observations in two categories against equal
// proportions: the sample points with two counts above 1000 get their true
// binomial probability.
TEST_F(ReportTest, OneWayProbabilitiesAboveAThousandObservations) {
    Options() = NoSections();
    Options().ExaLRtest = Options().CountPos = true;
    const int n = 2100;
    std::vector<long double> pmf(static_cast<std::size_t>(n + 1));
    pmf[0] = std::ldexp(1.0L, -n);
    for (int v = 0; v < n; ++v)
        pmf[static_cast<std::size_t>(v + 1)] = pmf[static_cast<std::size_t>(v)] * (n - v) / (v + 1);
    long double tails = 0.0L, same = 0.0L, middle = 0.0L;
    for (int v = 0; v <= n; ++v) {
        const long double p = pmf[static_cast<std::size_t>(v)];
        if (v < 999 || v > 1101) tails += p;
        else if (v == 999 || v == 1101) same += p;
        else middle += p;
    }
    const Lines lines = Middle(Run({{1101}, {999}}));
    EXPECT_THAT(lines, ::testing::IsSupersetOf(Lines{
                           "  Greater than:     1998 points with prob. " + Printf("%9.6f", static_cast<double>(tails)),
                           "  Equal to:            2 points with prob. " + Printf("%9.6f", static_cast<double>(same)),
                           "  Less than:         101 points with prob. " + Printf("%9.6f", static_cast<double>(middle)),
                           "  Less prob:        1998 points with prob. " + Printf("%9.6f", static_cast<double>(tails)),
                           "  Same prob:           2 points with prob. " + Printf("%9.6f", static_cast<double>(same)),
                           "  Greater prob:      101 points with prob. " + Printf("%9.6f", static_cast<double>(middle)),
                           " -->  Significance                   p =   " +
                               Printf("%9.6f", static_cast<double>(tails + same)) + " <--",
                           "Number of sample points = 2101"}));
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Warning", 0) == 0; }));
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// Proportions whose doubles add up to slightly more or less than 1 make
// 20000 observations miss a total probability of 1 by about 20000 times that
// deviation, beyond 1e-12.
TEST_F(ReportTest, WarningWhenTheProbabilitiesDoNotAddUpToOne) {
    Options() = NoSections();
    Options().CountPos = true;
    struct Case {
        int weight0, weight1, count0;
    };
    for (const Case& c : {Case{1, 64, 307}, Case{1, 26, 740}}) {
        SCOPED_TRACE(c.weight1);
        const int n = 20000;
        env.proportionsWindow.onShow = [&] {
            env.proportionsGrid.SetCell(0, 0, std::to_string(c.weight0));
            env.proportionsGrid.SetCell(1, 0, std::to_string(c.weight1));
        };
        const double p0 = static_cast<double>(c.weight0) / (c.weight0 + c.weight1);
        const double p1 = static_cast<double>(c.weight1) / (c.weight0 + c.weight1);
        const long double deviation = static_cast<long double>(p0) + static_cast<long double>(p1) - 1.0L;  // exact
        ASSERT_NE(deviation, 0.0L);
        const double expected = static_cast<double>(-std::expm1(n * std::log1p(deviation)));
        ASSERT_GT(std::fabs(expected), 1.05e-12);

        const Lines lines = Middle(Run({{c.count0, n - c.count0}}));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Number of sample points = 20001");
        const std::string& warning = lines.back();
        ASSERT_THAT(warning, ::testing::MatchesRegex("Warning :  1 - sum of probabilities = -?[0-9]\\.[0-9]{3}E-[0-9]{2} "));
        const double printed = std::stod(warning.substr(std::string("Warning :  1 - sum of probabilities = ").size()));
        EXPECT_NEAR(printed, expected, 0.03e-12);
    }
}

// The status bar shows progress every 10000 sample points until the count
// has passed one million, then every 100000.
TEST_F(ReportTest, ProgressIntervalWidensAfterAMillionSamplePoints) {
    Options() = NoSections();
    Options().CountPos = true;
    engine.State().NetworkFrom = std::numeric_limits<std::uint64_t>::max();  // the enumeration's display
    const std::vector<std::vector<int>> table{{6, 5, 6, 5, 6, 5, 6}, {5, 6, 5, 6, 5, 6, 5}};
    // Two rows: a sample point is a second row x with 0 <= x_j <= 11 and sum 38.
    std::vector<std::uint64_t> ways{1};
    for (int j = 0; j < 7; ++j) {
        std::vector<std::uint64_t> next(ways.size() + 11, 0);
        for (std::size_t s = 0; s < ways.size(); ++s)
            for (std::size_t x = 0; x <= 11; ++x) next[s + x] += ways[s];
        ways = next;
    }
    const std::uint64_t total = ways[38];
    ASSERT_GT(total, 1210000u);
    std::vector<std::string> expected;
    std::uint64_t at = 0;
    while (at <= 1000000) expected.push_back(std::to_string(at += 10000) + "  Click to break");
    while ((at += 100000) <= total) expected.push_back(std::to_string(at) + "  Click to break");

    std::vector<std::string> shown;
    env.pump.onPass = [&] { shown.push_back(env.status.Last()); };
    const Lines lines = Middle(Run(table));
    EXPECT_EQ(shown, expected);

    // The closing lines: the count, and the warning when the three masses of
    // the probability tally, each summed in the visiting order, miss 1 by
    // more than 1e-12. Each second
    // row x (x_1 slowest) gives p = prod_j C_j! / (n_1j! n_2j!) over
    // N! / (R_1! R_2!), formed as the run forms it.
    const reference::Factorials F;
    long double rowProduct = 1.0L;
    rowProduct *= F[39];
    rowProduct *= F[38];
    const long double rowMultinomial = F[77] / rowProduct;
    auto probability = [&](const std::vector<int>& secondRow) {
        long double numerator = 1.0L;
        for (int k = 0; k < 7; ++k) {
            long double product = 1.0L;
            product *= F[11 - secondRow[static_cast<std::size_t>(k)]];
            product *= F[secondRow[static_cast<std::size_t>(k)]];
            numerator *= F[11] / product;
        }
        return static_cast<double>(numerator / rowMultinomial);
    };
    const double observed = probability(table[1]);
    reference::Tally tally;  // the masses are summed per tally class
    std::uint64_t visited = 0;
    std::vector<int> x(7, 0);
    auto visit = [&](auto& self, int j, int left) -> void {
        if (j == 6) {
            if (left > 11) return;
            x[6] = left;
            const double p = probability(x);
            reference::Update(tally, true, p, observed, p);
            ++visited;
            return;
        }
        for (int v = 0; v <= 11 && v <= left; ++v) {
            x[static_cast<std::size_t>(j)] = v;
            self(self, j + 1, left - v);
        }
    };
    visit(visit, 0, 38);
    ASSERT_EQ(visited, total);
    const double d = 1.0 - (tally.lessMass + tally.equalMass + tally.greaterMass);
    Lines closing{"Number of sample points = " + std::to_string(total)};
    if (std::fabs(d) > 1e-12) closing.push_back("Warning :  1 - sum of probabilities = " + Printf("%7.3E", d) + " ");
    ASSERT_GE(lines.size(), closing.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<long>(closing.size()), lines.end()), closing);
}

// --- Interruption and progress reports --------------------------------------------

class InterruptionTest : public ReportTest {
protected:
    // 3 x 3, every margin 21: 32131 sample points, progress at 10000, 20000, 30000.
    const reference::Table table{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};
    std::vector<reference::Table> visits =
        reference::TablesInVisitingOrder(reference::RowTotals(table), reference::ColTotals(table));
};

TEST_F(InterruptionTest, BreakConfirmedAtTheFirstProgressDisplay) {
    Options() = NoSections();
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = Options().AppLRtest = true;
    env.messages.answers = {true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines lines = Middle(Run(table));

    ASSERT_EQ(visits.size(), 32131u);
    const reference::Factorials F;
    double visited = 0.0;
    for (std::size_t k = 0; k < 10000; ++k) visited += reference::Probability(visits[k], F);

    Lines expected{"Approx. Likelihood Ratio test"};
    const std::size_t approx = 4;  // title, statistic, smallest expected count, empty line
    ASSERT_GE(lines.size(), approx);
    EXPECT_EQ(lines[0], expected[0]);
    Lines closing(lines.begin() + approx, lines.end());
    Lines expectedClosing{" Calculations interrupted at sample point nr 10000"};
    for (const auto& row : SamplePointLines(visits[9999])) expectedClosing.push_back(row);
    expectedClosing.push_back(" Sum of probabilities " + Printf("%7.3E", visited) + " ");
    EXPECT_THAT(closing, ElementsAreArray(expectedClosing));

    EXPECT_THAT(env.messages.questions, ElementsAre("Abort calculation ?"));
    EXPECT_EQ(env.status.Last(), " Calculations interrupted at sample point nr 10000");
    EXPECT_EQ(engine.State().SamplePointCount, 10000u);
    const ExactTally& t = engine.State().ProbabilityTally;
    EXPECT_EQ(t.LessCount + t.EqualCount + t.GreaterCount, 10000);
    EXPECT_EQ(engine.State().G2Tally.LessCount + engine.State().G2Tally.EqualCount + engine.State().G2Tally.GreaterCount, 10000);
    EXPECT_FALSE(engine.State().Running);
}

TEST_F(InterruptionTest, BreakOffWithoutDialogEndsTheSameWay) {
    Options() = NoSections();
    Options().CountPos = true;
    env.pump.onPass = [&] { engine.BreakOff(); };
    const Lines lines = Middle(Run(table));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 10000");
    EXPECT_THAT(env.messages.questions, IsEmpty());
    EXPECT_EQ(env.pump.passes, 1);
}

TEST_F(InterruptionTest, EveryNoAppendsTheSamplePointBeingVisited) {
    Options() = NoSections();
    Options().CountPos = true;
    env.messages.answers = {false, false, false};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    env.clock.step = 1.0 / 86400.0;  // one second per reading of the clock
    const Lines lines = Middle(Run(table));

    Lines expected;
    const char* times[] = {"10:30:01", "10:30:02", "10:30:03"};
    for (int k = 1; k <= 3; ++k) {
        expected.push_back("Sample point no " + std::to_string(10000 * k) + " at 15.03.2023 " + times[k - 1]);
        for (const auto& row : SamplePointLines(visits[static_cast<std::size_t>(10000 * k - 1)])) expected.push_back(row);
    }
    ASSERT_GE(lines.size(), expected.size() + 9);
    EXPECT_THAT(Lines(lines.begin(), lines.begin() + static_cast<long>(expected.size())), ElementsAreArray(expected));
    // The report goes on after the progress reports.
    EXPECT_EQ(lines[expected.size()], "Exact (multi tailed) Fisher test ");
    EXPECT_EQ(lines.back(), "Number of sample points = 32131");
    EXPECT_EQ(env.messages.questions.size(), 3u);
    EXPECT_FALSE(engine.State().Abandoned);
}

TEST_F(InterruptionTest, ProgressIsShownEveryTenThousandSamplePoints) {
    Options() = NoSections();
    Options().CountPos = true;
    std::vector<std::string> atPass;
    env.pump.onPass = [&] { atPass.push_back(env.status.Last()); };
    Run(table);
    EXPECT_THAT(atPass, ElementsAre("10000  Click to break", "20000  Click to break", "30000  Click to break"));
}

TEST_F(ReportTest, OneWayProgressEveryHundredSamplePoints) {
    Options() = NoSections();
    Options().CountPos = true;
    std::vector<std::string> atPass;
    env.pump.onPass = [&] { atPass.push_back(env.status.Last()); };
    Run({{3, 2, 1}, });  // k = 3, n = 6: 28 sample points, no display
    EXPECT_THAT(atPass, IsEmpty());
    Run({{10, 5, 5}});  // k = 3, n = 20: 231 sample points
    EXPECT_THAT(atPass, ElementsAre("100  Click to break", "200  Click to break"));
}

TEST_F(ReportTest, OneWayBreakShowsTheCountsBeingVisited) {
    Options() = NoSections();
    Options().CountPos = true;
    env.messages.answers = {true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines lines = Middle(Run({{10, 5, 5}}));
    // The 100th composition of 20 into three parts in lexicographic order.
    const auto all = reference::Compositions(3, 20);
    const auto& at = all[99];
    char expectedCounts[64];
    std::snprintf(expectedCounts, sizeof expectedCounts, " %4d %4d %4d", at[0], at[1], at[2]);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], " Calculations interrupted at sample point nr 100");
    EXPECT_EQ(lines[1], expectedCounts);
    const reference::Factorials F;
    double visited = 0.0;
    for (std::size_t k = 0; k < 100; ++k) visited += reference::MultinomialProbability(all[k], {1.0 / 3, 1.0 / 3, 1.0 / 3}, F);
    EXPECT_EQ(lines[2], " Sum of probabilities " + Printf("%7.3E", visited) + " ");
}

}  // namespace
}  // namespace kelvorin
