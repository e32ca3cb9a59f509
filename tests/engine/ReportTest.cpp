// The report line for line (worked examples, used time, more than 1000
// observations, the warning on the summed probabilities, breaks) and the
// details file (its lines at every level, and when it is asked for).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;
using reference::Table;

std::string Printf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

class ReportTest : public fakes::EngineHarness {
protected:
    Lines Middle(const Lines& lines) {
        const Lines body = Body(lines);
        if (!EndsWithUsedTime(body)) ADD_FAILURE() << "no used time at the end";
        return body.size() < 2 ? body : Lines(body.begin(), body.end() - 2);
    }
};

// A blank line, then the Fisher blocks of both options with these values.
Lines FisherBlocks(int x11, const std::string& less, const std::string& equal, const std::string& greater,
                   const std::string& notRecommended, const std::string& corrected, const std::string& oneTailed) {
    const std::string x = Printf("%3.0f", x11), pad = "          ";
    return {"", "2 x 2 Fisher exact test - 'two tailed'.", "              p( X11 < " + x + " )     =" + pad + less,
            "              P( X11 = " + x + " )     =" + pad + equal, "              p( X11 > " + x + " )     =" + pad + greater,
            " (not recom.)     p-two tailed   =" + pad + notRecommended, " (corrected)      p-two tailed   =" + pad + corrected, "", "",
            "2 x 2 Fisher exact test - one tailed.", "                p-one tailed   =            " + oneTailed,
            "  (Remember to check the direction)", ""};
}

// The three exact blocks: no greater, these equal and less points, and the count.
Lines ExactBlocks(int equal, int less, const char* pEqual, const char* pLess, int points) {
    const std::string e = Printf("%5.0f", equal) + " points with prob", l = Printf("%5.0f", less) + " points with prob.  ";
    const std::string p = std::string("p =    ") + pEqual;
    return {"", "Exact (multi tailed) Likelihood Ratio ", "  Greater than:        0 points with prob.  0.000000",
            "  Equal to:        " + e + ".  " + pEqual, "  Less than:       " + l + pLess,
            " ==>  Significance (recommended)     " + p + " <==",
            "", "Exact (multi tailed) Chi Square ", "  Greater than:        0 points with prob.  0.000000",
            "  Equal to:        " + e + "   " + pEqual, "  Less than:       " + l + pLess,
            " -->  Significance                   " + p + " <--",
            "", "Exact (multi tailed) Fisher test ", "  Less prob:           0 points with prob.  0.000000",
            "  Same prob:       " + e + ".  " + pEqual, "  Greater prob:    " + l + pLess,
            " -->  Significance                   " + p + " <--",
            " This value is used by many statistical", " programs - like SPSS, Stata, SAS and R", "",
            "Number of sample points = " + std::to_string(points)};
}

struct WorkedCase {
    const char* options;
    Table table;
    Lines weights;  // typed into the proportions window
    Lines expected;
    bool whole = true;  // otherwise the expected lines are among the report's
};

// Descriptive, exact, approximate and Fisher blocks; no section; the trace only.
TEST_F(ReportTest, WorkedExamples) {
    const char *descriptive = "Observed Expected Column Row", *exact = "ExaLRtest ExaCStest CountPos", *approx = "AppLRtest AppCStest",
               *fisher = "2x2twotail 2x2onetail";
    const std::string lr = "Approx. Likelihood Ratio test", pearson = "Approx. Chi-Square test (Pearson)";
    const std::string line = "--------------------+-------", df1 = ", df=  1,           p  =   ", df2 = ", df=  2,           p  =   ";
    const std::string yates = "  Yates:  Chi^2 =   0.000,           p  =   1.000000";
    const std::vector<WorkedCase> cases{
        {descriptive, {{10, 20, 30}, {5, 15, 20}}, {},
         {"Observed Numbers.", "    10    20    30  |     60", "     5    15    20  |     40", line, "    15    35    50  |    100", "",
          "Expected Numbers.", "   9.0  21.0  30.0  |     60", "   6.0  14.0  20.0  |     40", line, "    15    35    50  |    100", "",
          "Column percentages.", "  66.7  57.1  60.0  |   60.0", "  33.3  42.9  40.0  |   40.0", line, " 100.0 100.0 100.0  |  100.0", "",
          "Row percentages.", "  16.7  33.3  50.0  |  100.0", "  12.5  37.5  50.0  |  100.0", line, "  15.0  35.0  50.0  |  100.0", ""}},
        {descriptive, {{12}, {7}, {5}}, {},
         {"Observed Numbers.", "    12", "     7", "     5", "--------", "    24", "", "Expected Numbers.", "   8.0", "   8.0", "   8.0",
          "--------", "    24", "", "Column percentages.", "  50.0", "  29.2", "  20.8", "--------", " 100.0", ""}},
        {descriptive, {{12, 7, 5}}, {"1", "1", "2"},
         {"Observed Numbers.", "    12     7     5  |     24", "", "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
          "Row percentages.", "  50.0  29.2  20.8  |  100.0", ""}},
        // Expected 1999.0 takes seven characters; counts up to 32767 keep six.
        {"Observed Expected", {{2000, 0}, {1, 1}}, {}, {" 1999.0   1.0  |   2000", "  2000     0  |   2000"}, false},
        {exact, {{2, 0}, {0, 2}}, {}, ExactBlocks(2, 1, "0.333333", "0.666667", 3)},
        {exact, {{3, 0}}, {}, ExactBlocks(2, 2, "0.250000", "0.750000", 4)},
        {"Details", {{2, 0}, {0, 2}}, {}, {}},
        {"", {{2, 0}, {0, 2}}, {}, {}},
        {approx, {{10, 2}, {3, 15}}, {},
         {lr, "  Chi^2 =  14.020" + df1 + "0.000181", "  Yates:  Chi^2 =  11.038,           p  =   0.000892", "  (min.expected = 5.2)", "",
          pearson, "  Chi^2 =  13.032" + df1 + "0.000306", "  Yates:  Chi^2 =  10.458,           p  =   0.001221",
          "  (min.expected = 5.2)", ""}},
        {approx, {{5, 5}, {5, 5}}, {},
         {lr, "  Chi^2 =   0.000" + df1 + "1.000000", yates, "  (min.expected = 5.0)", "", pearson, "  Chi^2 =   0.000" + df1 + "1.000000",
          yates, "  (min.expected = 5.0)", ""}},
        // |ad - bc| = 5 is below N / 2: the correction takes both statistics
        // to 0, never above the uncorrected ones (p from R's chisq.test and
        // pchisq).
        {approx, {{5, 5}, {5, 6}}, {},
         {lr, "  Chi^2 =   0.043" + df1 + "0.834978", yates, "  (min.expected = 4.8)", "", pearson,
          "  Chi^2 =   0.043" + df1 + "0.834996", yates, "  (min.expected = 4.8)", ""}},
        // Counts at their expected values within rounding: the likelihood
        // ratio's terms cancel to a few units of the last place below 0,
        // shown as 0 (the distribution refuses a negative argument).
        {"AppLRtest", {{4721, 4720}, {4722, 4721}}, {}, {lr, "  Chi^2 =   0.000" + df1 + "1.000000", yates}, false},
        {"AppLRtest", {{7, 7, 63}}, {"1", "1", "9"}, {lr, "  Chi^2 =   0.000" + df2 + "1.000000"}, false},
        // One degree of freedom: p = erfc(sqrt(x / 2)).
        {approx, {{1, 0}, {0, 1}}, {},
         {lr, "  Chi^2 =   2.773" + df1 + Printf("%8.6f", std::erfc(std::sqrt(2.0 * std::log(2.0)))), yates, "  (min.expected = 0.5)", "",
          pearson, "  Chi^2 =   2.000" + df1 + Printf("%8.6f", std::erfc(1.0)), yates, "  (min.expected = 0.5)", ""}},
        {approx, {{10, 20, 30}, {5, 15, 20}}, {},
         {lr, "  Chi^2 =   0.402" + df2 + "0.817841", "  (min.expected = 6.0)", "", pearson, "  Chi^2 =   0.397" + df2 + "0.820031",
          "  (min.expected = 6.0)", ""}},
        {approx, {{12, 7, 5}}, {"", "", "2"},
         {lr, "  Chi^2 =  10.039" + df2 + "0.006608", "  (min.expected = 6.0)", "", pearson, "  Chi^2 =  10.250" + df2 + "0.005946",
          "  (min.expected = 6.0)", ""}},
        {fisher, {{10, 2}, {3, 15}}, {},
         FisherBlocks(10, "0.999535", "0.000450", "0.000015", "0.000930", "0.000481", "0.000465")},
        // The one-tailed block alone shows the three sums itself.
        {"2x2onetail", {{10, 2}, {3, 15}}, {},
         {"", "2 x 2 Fisher exact test - one tailed.", "              p( X11 <  10 )   =            0.999535",
          "              P( X11 =  10 )   =            0.000450", "              p( X11 >  10 )   =            0.000015",
          "                p-one tailed   =            0.000465", "  (Remember to check the direction)", ""}},
        {fisher, {{3, 1}, {1, 3}}, {}, FisherBlocks(3, "0.757143", "0.228571", "0.014286", "0.485714", "0.257143", "0.242857")},
        {fisher, {{5, 5}, {5, 5}}, {}, FisherBlocks(5, "0.328141", "0.343718", "0.328141", "1.000000", "1.000000", "0.671859")},
        {fisher, {{1, 0}, {0, 1}}, {}, FisherBlocks(1, "0.500000", "0.500000", "0.000000", "1.000000", "0.500000", "0.500000")},
    };
    for (const WorkedCase& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + reference::Text(c.table));
        Options() = fakes::With(c.options);
        TypeWeights(c.weights);
        const Lines middle = Middle(Run(c.table));
        if (c.whole) {
            EXPECT_EQ(middle, c.expected);
        } else {
            EXPECT_THAT(middle, IsSupersetOf(c.expected));
        }
        if (!c.expected.empty() && c.expected.back().starts_with("Number")) {
            EXPECT_EQ(env.status.Last(), c.expected.back());
        }
    }
}

// The banner holds the start's date and time (no time at midnight); the used
// time shows the milliseconds.
TEST_F(ReportTest, BannerAndUsedTime) {
    Options() = fakes::NoSections();
    for (const auto& [start, seconds, banner, used] : {std::tuple{45000.4375, 1.5, "Zelkat                15.03.2023 10:30:00", "0:00:01.500"},
                                                       {45000.0, 3723.25, "Zelkat                15.03.2023", "1:02:03.250"}}) {
        env.clock.now = start, env.clock.step = seconds / 86400.0;
        EXPECT_EQ(Run({{2, 0}, {0, 2}}), (Lines{" ", banner, std::string("  Used time : ") + used, ""}));
    }
}

// Above N = 1000 the sums stay hypergeometric in X11, and one-way sample points
// with two counts above 1000 get their true binomial probability.
TEST_F(ReportTest, ProbabilitiesAboveAThousandObservations) {
    Options() = fakes::With("ExaLRtest CountPos 2x2twotail");
    long double weight = 1.0L, total = 0.0L, sums[3] = {0, 0, 0};
    for (int x = 500; x <= 600; weight *= static_cast<long double>((600 - x) * (1100 - x)) / ((x + 1) * (x - 499)), ++x)
        total += weight, sums[x < 550 ? 0 : x == 550 ? 1 : 2] += weight;
    auto fixed = [&](long double v) { return Printf("%9.6f", static_cast<double>(v)); };
    const Lines fisher = Middle(Run({{550, 550}, {50, 50}}));
    EXPECT_THAT(fisher, IsSupersetOf(Lines{"Number of sample points = 101",
                                           "              p( X11 < 550 )     =         " + fixed(sums[0] / total),
                                      "              P( X11 = 550 )     =         " + fixed(sums[1] / total),
                                      "              p( X11 > 550 )     =         " + fixed(sums[2] / total),
                                      " (corrected)      p-two tailed   =         " +
                                          fixed(std::min(1.0L, (2 * std::min(sums[0], sums[2]) + sums[1]) / total))}));
    long double pmf = std::ldexp(1.0L, -2100), tails = 0.0L, same = 0.0L, middle = 0.0L;
    for (int v = 0; v <= 2100; pmf = pmf * (2100 - v) / (v + 1), ++v)
        (v < 999 || v > 1101 ? tails : v == 999 || v == 1101 ? same : middle) += pmf;
    const Lines oneWay = Middle(Run({{1101}, {999}}));
    EXPECT_THAT(oneWay, IsSupersetOf(Lines{"  Greater than:     1998 points with prob. " + fixed(tails),
                                           "  Equal to:            2 points with prob. " + fixed(same),
                                      "  Less than:         101 points with prob. " + fixed(middle),
                                      " -->  Significance                   p =   " + fixed(tails + same) + " <--",
                                      "Number of sample points = 2101"}));
    for (const Lines& lines : {fisher, oneWay}) EXPECT_THAT(lines, ::testing::Not(Contains(StartsWith("Warning"))));
    EXPECT_TRUE(env.messages.shown.empty());
}

// Proportions whose doubles miss a sum of 1 make 20000 observations miss a
// total probability of 1 by about 20000 times as much: the warning shows it.
TEST_F(ReportTest, WarningWhenTheProbabilitiesDoNotAddUpToOne) {
    Options() = fakes::With("CountPos");
    const std::string warning = "Warning :  1 - sum of probabilities = ";
    for (const auto& [weight, count] : {std::pair{64, 307}, {26, 740}}) {
        TypeWeights({"1", std::to_string(weight)});
        const long double deviation = static_cast<long double>(1.0 / (1 + weight)) + static_cast<double>(weight) / (1 + weight) - 1.0L;
        const double expected = static_cast<double>(-std::expm1(20000 * std::log1p(deviation)));
        ASSERT_GT(std::fabs(expected), 1.05e-12);
        const Lines lines = Middle(Run({{count, 20000 - count}}));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Number of sample points = 20001");
        ASSERT_THAT(lines.back(), ::testing::MatchesRegex(warning + "-?[0-9]\\.[0-9]{3}E-[0-9]{2} "));
        EXPECT_NEAR(std::stod(lines.back().substr(warning.size())), expected, 0.03e-12);
    }
}

// A 3 x 3 table of 32131 sample points, progress at 10000, 20000, 30000:
// each No appends the time and the table being visited and the report goes
// on; the Yes leaves out the exact blocks and ends with that table and the
// probability visited so far. (A break-off ends alike: BadInputsTest.)
TEST_F(ReportTest, InterruptionsAtTheProgressDisplays) {
    const Table table{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}};
    const auto visits = reference::TablesInVisitingOrder(reference::RowTotals(table), reference::ColTotals(table));
    const reference::Factorials F;
    Lines noes, closed;
    auto visitedAt = [&](Lines& lines, std::size_t point, const std::string& heading) {
        lines.push_back(heading);
        for (const auto& row : visits[point - 1]) {
            lines.emplace_back();
            for (int v : row) lines.back() += Printf(" %3.0f", v);
        }
    };
    for (std::size_t k = 1; k <= 2; ++k)
        visitedAt(noes, 10000 * k, "Sample point no " + std::to_string(10000 * k) + " at 15.03.2023 10:30:0" + std::to_string(k));
    visitedAt(closed, 30000, " Calculations interrupted at sample point nr 30000");
    double visited = 0.0;
    for (std::size_t k = 0; k < 30000; ++k) visited += reference::Probability(visits[k], F);
    closed.push_back(" Sum of probabilities " + Printf("%7.3E", visited) + " ");
    Options() = fakes::With("ExaLRtest ExaCStest CountPos AppLRtest");
    env.clock.step = 1.0 / 86400.0;  // one second per reading of the clock
    env.messages.answers = {false, false, true};
    env.pump.onPass = [&] { engine.StatusBar1Click(); };
    const Lines lines = Middle(Run(table));
    // The No lines come as the enumeration goes, the approximate test's 4 lines after it.
    ASSERT_EQ(lines.size(), noes.size() + 4 + closed.size());
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(noes.size())), noes);
    EXPECT_EQ(lines[noes.size()], "Approx. Likelihood Ratio test");
    EXPECT_EQ(Lines(lines.end() - static_cast<long>(closed.size()), lines.end()), closed);
    EXPECT_EQ(env.messages.questions, Lines(3, "Abort calculation ?"));
    EXPECT_EQ(env.status.Last(), closed[0]);
    const ExactTally& t = engine.State().G2Tally;
    EXPECT_EQ(t.LessCount + t.EqualCount + t.GreaterCount, 30000);
    EXPECT_FALSE(engine.State().Running);
}

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
    void SetUp() override { Options() = fakes::With("Details"); }
    Lines RunAt(int track, const Table& table) {
        Options().Track = track;
        return TraceOf(table);
    }
    static Lines AfterHeading(const Lines& file) {
        const auto heading = std::ranges::find_if(file, [](const std::string& l) { return l.starts_with(kNumber); });
        return heading == file.end() ? Lines{} : Lines(heading + 1, file.end());
    }
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
        const double pObs = reference::Probability(observed, F), g2 = reference::LikelihoodRatio(observed);
        const double x2 = reference::Pearson(observed);
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

// A cancelled save dialog leaves the trace out quietly and the report as it is.
TEST_F(TraceTest, CancelledDialogLeavesTheTraceOutAndTheReportAsItIs) {
    Options().CountPos = true;
    env.saveDialog.confirm = false;
    const Lines traced = Run(kDiagonal);
    EXPECT_FALSE(std::filesystem::exists(env.saveDialog.chosen));
    EXPECT_TRUE(env.messages.shown.empty());
    Options().Details = false;
    EXPECT_EQ(Body(traced), Body(Run(kDiagonal)));
}

}  // namespace
}  // namespace kelvorin
