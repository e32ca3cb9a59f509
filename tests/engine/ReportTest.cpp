// The report line for line: the worked examples of every block, the used
// time, tables above a thousand observations, the warning on the summed
// probabilities, progress displays and interruptions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Lines = std::vector<std::string>;

std::string Printf(const char* format, double value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

class ReportTest : public fakes::EngineHarness {
protected:
    void SetUp() override { env.saveDialog.chosen = dir.File("details.txt"); }
    // The report between the banner and the used-time line.
    Lines Middle(const Lines& lines) {
        const Lines body = Body(lines);
        if (body.size() < 2) ADD_FAILURE() << "no used time";
        if (body.size() < 2) return body;
        EXPECT_THAT(body[body.size() - 2], ::testing::StartsWith("  Used time : "));
        EXPECT_EQ(body.back(), "");
        return {body.begin(), body.end() - 2};
    }
    // The rows of a table as the interruption lines show them.
    static Lines TableLines(const reference::Table& t) {
        Lines lines;
        for (const auto& row : t) {
            lines.emplace_back();
            for (int v : row) lines.back() += Printf(" %3.0f", v);
        }
        return lines;
    }
    fakes::TempDirectory dir;
};

struct WorkedCase {
    const char* options;
    reference::Table table;
    Lines weights;  // typed into the proportions window
    Lines expected;
    bool whole = true;  // otherwise the expected lines are among the report's
};

// A blank line, then the Fisher blocks of both options with these values.
Lines FisherBlocks(int x11, const char* less, const char* equal, const char* greater, const char* notRecommended,
                   const char* corrected, const char* oneTailed) {
    const std::string x = Printf("%3.0f", x11);
    return {"", "2 x 2 Fisher exact test - 'two tailed'.",
            "              p( X11 < " + x + " )     =          " + less,
            "              P( X11 = " + x + " )     =          " + equal,
            "              p( X11 > " + x + " )     =          " + greater,
            std::string(" (not recom.)     p-two tailed   =          ") + notRecommended,
            std::string(" (corrected)      p-two tailed   =          ") + corrected, "", "",
            "2 x 2 Fisher exact test - one tailed.", std::string("                p-one tailed   =            ") + oneTailed,
            "  (Remember to check the direction)", ""};
}

const Lines kExactBlocksOfTheDiagonal{"",
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
                                      "Number of sample points = 3"};

// The worked examples: descriptive, exact, approximate and Fisher blocks,
// and the reports with no section or only the trace.
TEST_F(ReportTest, WorkedExamples) {
    const char* descriptive = "Observed Expected Column Row";
    const char* approx = "AppLRtest AppCStest";
    Lines oneWay = kExactBlocksOfTheDiagonal;
    for (auto& line : oneWay)
        for (const auto& [from, to] : {std::pair{"0.333333", "0.250000"}, {"0.666667", "0.750000"}, {"1 points", "2 points"}})
            if (const auto at = line.find(from); at != std::string::npos) line.replace(at, 8, to);
    oneWay.back() = "Number of sample points = 4";
    const std::vector<WorkedCase> cases{
        {descriptive, {{10, 20, 30}, {5, 15, 20}}, {},
         {"Observed Numbers.", "    10    20    30  |     60", "     5    15    20  |     40", "--------------------+-------",
          "    15    35    50  |    100", "", "Expected Numbers.", "   9.0  21.0  30.0  |     60", "   6.0  14.0  20.0  |     40",
          "--------------------+-------", "    15    35    50  |    100", "", "Column percentages.",
          "  66.7  57.1  60.0  |   60.0", "  33.3  42.9  40.0  |   40.0", "--------------------+-------",
          " 100.0 100.0 100.0  |  100.0", "", "Row percentages.", "  16.7  33.3  50.0  |  100.0",
          "  12.5  37.5  50.0  |  100.0", "--------------------+-------", "  15.0  35.0  50.0  |  100.0", ""}},
        {descriptive, {{12}, {7}, {5}}, {},
         {"Observed Numbers.", "    12", "     7", "     5", "--------", "    24", "", "Expected Numbers.", "   8.0", "   8.0",
          "   8.0", "--------", "    24", "", "Column percentages.", "  50.0", "  29.2", "  20.8", "--------", " 100.0", ""}},
        {descriptive, {{12, 7, 5}}, {"1", "1", "2"},
         {"Observed Numbers.", "    12     7     5  |     24", "", "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
          "Row percentages.", "  50.0  29.2  20.8  |  100.0", ""}},
        // Expected 1999.0 takes seven characters; counts up to 32767 keep six.
        {"Observed Expected", {{2000, 0}, {1, 1}}, {}, {" 1999.0   1.0  |   2000", "  2000     0  |   2000"}, false},
        {"ExaLRtest ExaCStest CountPos", {{2, 0}, {0, 2}}, {}, kExactBlocksOfTheDiagonal},
        {"ExaLRtest ExaCStest CountPos", {{3, 0}}, {}, oneWay},
        {"Details", {{2, 0}, {0, 2}}, {}, {}},
        {"", {{2, 0}, {0, 2}}, {}, {}},
        {approx, {{10, 2}, {3, 15}}, {},
         {"Approx. Likelihood Ratio test", "  Chi^2 =  14.020, df=  1,           p  =   0.000181",
          "  Yates:  Chi^2 =  11.038,           p  =   0.000892", "  (min.expected = 5.2)", "",
          "Approx. Chi-Square test (Pearson)", "  Chi^2 =  13.032, df=  1,           p  =   0.000306",
          "  Yates:  Chi^2 =  10.458,           p  =   0.001221", "  (min.expected = 5.2)", ""}},
        {approx, {{5, 5}, {5, 5}}, {},
         {"Approx. Likelihood Ratio test", "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
          "  Yates:  Chi^2 =   0.000,           p  =   1.000000", "  (min.expected = 5.0)", "",
          "Approx. Chi-Square test (Pearson)", "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
          "  Yates:  Chi^2 =   0.200,           p  =   0.654721", "  (min.expected = 5.0)", ""}},
        // One degree of freedom: p = erfc(sqrt(x / 2)).
        {approx, {{1, 0}, {0, 1}}, {},
         {"Approx. Likelihood Ratio test",
          "  Chi^2 =   2.773, df=  1,           p  =  " + Printf("%9.6f", std::erfc(std::sqrt(2.0 * std::log(2.0)))),
          "  Yates:  Chi^2 =   0.000,           p  =   1.000000", "  (min.expected = 0.5)", "",
          "Approx. Chi-Square test (Pearson)", "  Chi^2 =   2.000, df=  1,           p  =  " + Printf("%9.6f", std::erfc(1.0)),
          "  Yates:  Chi^2 =   0.000,           p  =   1.000000", "  (min.expected = 0.5)", ""}},
        {approx, {{10, 20, 30}, {5, 15, 20}}, {},
         {"Approx. Likelihood Ratio test", "  Chi^2 =   0.402, df=  2,           p  =   0.817841", "  (min.expected = 6.0)",
          "", "Approx. Chi-Square test (Pearson)", "  Chi^2 =   0.397, df=  2,           p  =   0.820031",
          "  (min.expected = 6.0)", ""}},
        {approx, {{12, 7, 5}}, {"", "", "2"},
         {"Approx. Likelihood Ratio test", "  Chi^2 =  10.039, df=  2,           p  =   0.006608", "  (min.expected = 6.0)",
          "", "Approx. Chi-Square test (Pearson)", "  Chi^2 =  10.250, df=  2,           p  =   0.005946",
          "  (min.expected = 6.0)", ""}},
        {"2x2twotail 2x2onetail", {{10, 2}, {3, 15}}, {},
         {"", "2 x 2 Fisher exact test - 'two tailed'.", "              p( X11 <  10 )     =          0.999535",
          "              P( X11 =  10 )     =          0.000450", "              p( X11 >  10 )     =          0.000015",
          " (not recom.)     p-two tailed   =          0.000930", " (corrected)      p-two tailed   =          0.000481", "",
          "", "2 x 2 Fisher exact test - one tailed.", "                p-one tailed   =            0.000465",
          "  (Remember to check the direction)", ""}},
        // The one-tailed block alone shows the three sums itself.
        {"2x2onetail", {{10, 2}, {3, 15}}, {},
         {"", "2 x 2 Fisher exact test - one tailed.", "              p( X11 <  10 )   =            0.999535",
          "              P( X11 =  10 )   =            0.000450", "              p( X11 >  10 )   =            0.000015",
          "                p-one tailed   =            0.000465", "  (Remember to check the direction)", ""}},
        {"2x2twotail 2x2onetail", {{3, 1}, {1, 3}}, {},
         FisherBlocks(3, "0.757143", "0.228571", "0.014286", "0.485714", "0.257143", "0.242857")},
        {"2x2twotail 2x2onetail", {{5, 5}, {5, 5}}, {},
         FisherBlocks(5, "0.328141", "0.343718", "0.328141", "1.000000", "1.000000", "0.671859")},
        {"2x2twotail 2x2onetail", {{1, 0}, {0, 1}}, {},
         FisherBlocks(1, "0.500000", "0.500000", "0.000000", "1.000000", "0.500000", "0.500000")},
    };
    for (const WorkedCase& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + reference::Text(c.table));
        Options() = fakes::With(c.options);
        TypeWeights(c.weights);
        const Lines middle = Middle(Run(c.table));
        if (c.whole) {
            EXPECT_THAT(middle, ElementsAreArray(c.expected));
        } else {
            EXPECT_THAT(middle, ::testing::IsSupersetOf(c.expected));
        }
        if (!c.expected.empty() && c.expected.back().starts_with("Number of")) {
            EXPECT_EQ(env.status.Last(), c.expected.back());
        }
    }
}

TEST_F(ReportTest, UsedTimeShowsTheMilliseconds) {
    Options() = fakes::NoSections();
    for (const auto& [seconds, text] : {std::pair{1.5, "0:00:01.500"}, {3723.25, "1:02:03.250"}}) {
        env.clock.script = {45000.4375, 45000.4375 + seconds / 86400.0};
        EXPECT_THAT(Body(Run({{2, 0}, {0, 2}})), ElementsAre(std::string("  Used time : ") + text, ""));
    }
}

// Above N = 1000 the row coefficient divides the largest row total out; the
// sums must still be the hypergeometric distribution of X11 (weights from the
// ratio of successive terms).
TEST_F(ReportTest, FisherSumsOfATableAboveAThousandObservations) {
    Options() = fakes::With("CountPos 2x2twotail");
    const int r1 = 1100, r2 = 100, c1 = 600, x11 = 550;
    long double weight = 1.0L, total = 0.0L, less = 0.0L, equal = 0.0L, greater = 0.0L;
    for (int x = c1 - r2; x <= c1; ++x) {
        total += weight;
        (x < x11 ? less : x == x11 ? equal : greater) += weight;
        weight *= static_cast<long double>((c1 - x) * (r1 - x)) / static_cast<long double>((x + 1) * (r2 - c1 + x + 1));
    }
    less /= total, equal /= total, greater /= total;
    const Lines lines = Middle(Run({{550, 550}, {50, 50}}));
    EXPECT_THAT(lines, ::testing::IsSupersetOf(Lines{
                           "Number of sample points = 101",
                           "              p( X11 < 550 )     =         " + Printf("%9.6f", static_cast<double>(less)),
                           "              P( X11 = 550 )     =         " + Printf("%9.6f", static_cast<double>(equal)),
                           "              p( X11 > 550 )     =         " + Printf("%9.6f", static_cast<double>(greater)),
                           " (corrected)      p-two tailed   =         " +
                               Printf("%9.6f", static_cast<double>(std::min(1.0L, 2 * std::min(less, greater) + equal)))}));
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::StartsWith("Warning"))));
}

// A single column of 2100 observations in two categories: the sample points
// with two counts above 1000 get their true binomial probability.
TEST_F(ReportTest, OneWayProbabilitiesAboveAThousandObservations) {
    Options() = fakes::With("ExaLRtest CountPos");
    const int n = 2100;
    long double pmf = std::ldexp(1.0L, -n), tails = 0.0L, same = 0.0L, middle = 0.0L;
    for (int v = 0; v <= n; pmf = pmf * (n - v) / (v + 1), ++v)
        (v < 999 || v > 1101 ? tails : v == 999 || v == 1101 ? same : middle) += pmf;
    const Lines lines = Middle(Run({{1101}, {999}}));
    EXPECT_THAT(lines, ::testing::IsSupersetOf(Lines{
                           "  Greater than:     1998 points with prob. " + Printf("%9.6f", static_cast<double>(tails)),
                           "  Equal to:            2 points with prob. " + Printf("%9.6f", static_cast<double>(same)),
                           "  Less than:         101 points with prob. " + Printf("%9.6f", static_cast<double>(middle)),
                           "  Same prob:           2 points with prob. " + Printf("%9.6f", static_cast<double>(same)),
                           " -->  Significance                   p =   " +
                               Printf("%9.6f", static_cast<double>(tails + same)) + " <--",
                           "Number of sample points = 2101"}));
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::StartsWith("Warning"))));
    EXPECT_TRUE(env.messages.shown.empty());
}

// Proportions whose doubles add up to slightly more or less than 1 make
// 20000 observations miss a total probability of 1 by about 20000 times that
// deviation, beyond 1e-12: the warning shows 1 - the sum.
TEST_F(ReportTest, WarningWhenTheProbabilitiesDoNotAddUpToOne) {
    Options() = fakes::With("CountPos");
    for (const auto& [weight1, count0] : {std::pair{64, 307}, {26, 740}}) {
        TypeWeights({"1", std::to_string(weight1)});
        const long double deviation = static_cast<long double>(1.0 / (1 + weight1)) +
                                      static_cast<long double>(static_cast<double>(weight1) / (1 + weight1)) - 1.0L;
        const double expected = static_cast<double>(-std::expm1(20000 * std::log1p(deviation)));
        ASSERT_GT(std::fabs(expected), 1.05e-12);
        const Lines lines = Middle(Run({{count0, 20000 - count0}}));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Number of sample points = 20001");
        const std::string prefix = "Warning :  1 - sum of probabilities = ";
        ASSERT_THAT(lines.back(), ::testing::MatchesRegex(prefix + "-?[0-9]\\.[0-9]{3}E-[0-9]{2} "));
        EXPECT_NEAR(std::stod(lines.back().substr(prefix.size())), expected, 0.03e-12);
    }
}

// Progress every 10000 sample points until one million, then every 100000;
// a one-way run every 100.
TEST_F(ReportTest, ProgressIntervals) {
    Options() = fakes::With("CountPos");
    engine.State().NetworkFrom = std::numeric_limits<std::uint64_t>::max();  // the enumeration's display
    Lines shown, expected;
    env.pump.onPass = [&] { shown.push_back(env.status.Last()); };
    Run({{6, 5, 6, 5, 6, 5, 6}, {5, 6, 5, 6, 5, 6, 5}});
    const std::uint64_t total = engine.State().SamplePointCount;
    ASSERT_GT(total, 1210000u);
    for (std::uint64_t at = 10000; at <= total; at += at <= 1000000 ? 10000 : 100000)
        expected.push_back(std::to_string(at) + "  Click to break");
    EXPECT_EQ(shown, expected);
    shown.clear();
    Run({{10, 5, 5}});  // 231 sample points
    EXPECT_THAT(shown, ElementsAre("100  Click to break", "200  Click to break"));
}

// 3 x 3, every margin 21: 32131 sample points, progress at 10000, 20000, 30000.
class InterruptionTest : public ReportTest {
protected:
    const reference::Table table{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};
    const std::vector<reference::Table> visits =
        reference::TablesInVisitingOrder(reference::RowTotals(table), reference::ColTotals(table));
    const reference::Factorials F;
};

// Yes at the first display: the approximate block stays, the exact blocks
// go, and the report tells where it stopped, the table then visited and the
// probability visited so far. A break-off without the question ends alike.
TEST_F(InterruptionTest, BreakConfirmedAtTheFirstProgressDisplay) {
    double visited = 0.0;
    for (std::size_t k = 0; k < 10000; ++k) visited += reference::Probability(visits[k], F);
    Lines closing{" Calculations interrupted at sample point nr 10000"};
    for (const auto& row : TableLines(visits[9999])) closing.push_back(row);
    closing.push_back(" Sum of probabilities " + Printf("%7.3E", visited) + " ");
    for (const bool ask : {true, false}) {
        Options() = fakes::With("ExaLRtest ExaCStest CountPos AppLRtest");
        env.messages.answers = {true};
        env.pump.onPass = [&] { ask ? engine.StatusBar1Click() : engine.BreakOff(); };
        const Lines lines = Middle(Run(table));
        ASSERT_EQ(lines.size(), 4 + closing.size());
        EXPECT_EQ(lines[0], "Approx. Likelihood Ratio test");
        EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), closing);
        EXPECT_EQ(env.messages.questions.size(), 1u);
        EXPECT_EQ(env.status.Last(), closing[0]);
        const AnalysisState& s = engine.State();
        EXPECT_EQ(s.SamplePointCount, 10000u);
        EXPECT_EQ(s.G2Tally.LessCount + s.G2Tally.EqualCount + s.G2Tally.GreaterCount, 10000);
        EXPECT_FALSE(s.Running);
    }
    EXPECT_THAT(env.messages.questions, ElementsAre("Abort calculation ?"));
}

TEST_F(InterruptionTest, EveryNoAppendsTheSamplePointBeingVisited) {
    Options() = fakes::With("CountPos");
    env.messages.answers = {false, false, false};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    env.clock.step = 1.0 / 86400.0;  // one second per reading of the clock
    const Lines lines = Middle(Run(table));
    Lines expected;
    for (int k = 1; k <= 3; ++k) {
        expected.push_back("Sample point no " + std::to_string(10000 * k) + " at 15.03.2023 10:30:0" + std::to_string(k));
        for (const auto& row : TableLines(visits[static_cast<std::size_t>(10000 * k - 1)])) expected.push_back(row);
    }
    ASSERT_GE(lines.size(), expected.size() + 9);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(lines[expected.size()], "Exact (multi tailed) Fisher test ");
    EXPECT_EQ(lines.back(), "Number of sample points = 32131");
    EXPECT_FALSE(engine.State().Abandoned);
}

TEST_F(ReportTest, OneWayBreakShowsTheCountsBeingVisited) {
    Options() = fakes::With("CountPos");
    env.messages.answers = {true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines lines = Middle(Run({{10, 5, 5}}));
    const auto all = reference::Compositions(3, 20);  // the 100th is being visited
    const reference::Factorials F;
    double visited = 0.0;
    for (std::size_t k = 0; k < 100; ++k) visited += reference::MultinomialProbability(all[k], {1.0 / 3, 1.0 / 3, 1.0 / 3}, F);
    EXPECT_THAT(lines, ElementsAre(" Calculations interrupted at sample point nr 100",
                                   Printf(" %4.0f", all[99][0]) + Printf(" %4.0f", all[99][1]) + Printf(" %4.0f", all[99][2]),
                                   " Sum of probabilities " + Printf("%7.3E", visited) + " "));
}

}  // namespace
}  // namespace kelvorin
