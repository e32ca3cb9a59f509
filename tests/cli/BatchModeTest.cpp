// The batch command line run in-process: the reports of the reference
// tables, the result and details files, the messages and data errors with
// their exit statuses, and the usage errors.
#include "BatchMode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

struct BatchResult {
    int Status = -1;
    std::string Out;
    std::string Err;
    std::pair<std::time_t, std::time_t> Window;
};

BatchResult Batch(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    BatchResult result;
    result.Window.first = std::time(nullptr);
    result.Status = kelvorin::RunBatch(args, out, err, false);
    result.Window.second = std::time(nullptr);
    result.Out = out.str();
    result.Err = err.str();
    return result;
}

class BatchModeTest : public ::testing::Test {
protected:
    // Writes TEXT as a data file of the temporary folder and returns its name.
    std::string DataFile(const std::string& text, const std::string& name = "tables.dat") {
        const std::string path = dir_.File(name);
        WriteFile(path, text);
        return path;
    }

    // Runs the batch mode on DATAFILE with every option given explicitly:
    // those of SETTINGS ("NAME=VALUE"), the defaults of the README's option table for the rest.
    BatchResult BatchOn(const std::string& dataFile, std::initializer_list<std::string> settings = {},
                        const std::vector<std::string>& more = {}) {
        std::vector<std::string> args = {"--batch", dataFile};
        args.insert(args.end(), more.begin(), more.end());
        const std::vector<std::string> options = OptionArguments(settings);
        args.insert(args.end(), options.begin(), options.end());
        return Batch(args);
    }

    TempDir dir_;
};

// The reference tables with known reports, in one file: the 2 x 3
// table, five 2 x 2 tables, a single row with its weights 1 1 2 and a single
// column without weights (its empty weights block is the second empty line).
const char* const kReferenceTables =
    "10 20 30\n5 15 20\n\n"
    "2 0\n0 2\n\n"
    "10 2\n3 15\n\n"
    "3 1\n1 3\n\n"
    "5 5\n5 5\n\n"
    "1 0\n0 1\n\n"
    "12 7 5\n\n1 1 2\n\n"
    "12\n7\n5\n\n\n";

// --- Observed tables of the 2 x 2 examples (R = row totals, C = column totals).

std::vector<std::string> ObservedTenTwo() {
    return {"Observed Numbers.", "    10     2  |     12", "     3    15  |     18", "--------------+-------",
            "    13    17  |     30", ""};
}
std::vector<std::string> ObservedThreeOne() {
    return {"Observed Numbers.", "     3     1  |      4", "     1     3  |      4", "--------------+-------",
            "     4     4  |      8", ""};
}
std::vector<std::string> ObservedFives() {
    return {"Observed Numbers.", "     5     5  |     10", "     5     5  |     10", "--------------+-------",
            "    10    10  |     20", ""};
}
std::vector<std::string> ObservedOneZero() {
    return {"Observed Numbers.", "     1     0  |      1", "     0     1  |      1", "--------------+-------",
            "     1     1  |      2", ""};
}

// --- The approximate blocks. Expected lines ending in "@value" carry a p
// value computed in closed form (df = 1: erfc(sqrt(s / 2)), df = 2:
// exp(-s / 2)).

std::vector<std::string> ApproxBlock(const std::string& title, const std::string& chi, const std::string& yates,
                                     const std::string& minExpected) {
    std::vector<std::string> lines = {title, chi};
    if (!yates.empty()) lines.push_back(yates);
    lines.push_back("  (min.expected =" + minExpected + ")");
    lines.push_back("");
    return lines;
}
const std::string kLR = "Approx. Likelihood Ratio test";
const std::string kPearson = "Approx. Chi-Square test (Pearson)";

// --- An independent reckoning of the exact tests of a 2 x 2 table: the
// hypergeometric distribution of X11 given the margins, each table sorted
// against the observed one by its probability (relative tolerance 1e-10) and
// by its G2 and X2 (1e-9), the blocks printed in the report's formats.

struct Tally {
    long long Less = 0, Equal = 0, Greater = 0;
    double LessMass = 0, EqualMass = 0, GreaterMass = 0;
};

void Sort(Tally& tally, double value, double observed, double tolerance, double p) {
    double d = 0.0;
    if (value + observed != 0.0)
        d = static_cast<double>(std::fabs(static_cast<long double>(value) - observed) /
                                (static_cast<long double>(value) + observed));
    if (d < tolerance) {
        ++tally.Equal;
        tally.EqualMass += p;
    } else if (value >= observed) {
        ++tally.Greater;
        tally.GreaterMass += p;
    } else {
        ++tally.Less;
        tally.LessMass += p;
    }
}

long double Choose(int n, int k) {
    long double r = 1;
    for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
    return r;
}

std::vector<std::string> ExactBlocksOf2x2(int n11, int n12, int n21, int n22) {
    const int r[2] = {n11 + n12, n21 + n22};
    const int c[2] = {n11 + n21, n12 + n22};
    const int n = r[0] + r[1];
    auto probability = [&](int x) {
        return static_cast<double>(Choose(r[0], x) * Choose(r[1], c[0] - x) / Choose(n, c[0]));
    };
    auto statistics = [&](int x, double& g2, double& x2) {
        const int cells[2][2] = {{x, r[0] - x}, {c[0] - x, r[1] - c[0] + x}};
        g2 = 0.0;
        x2 = 0.0;
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                const double e = static_cast<double>(r[i]) * c[j] / n;
                const double o = cells[i][j];
                if (o != 0) g2 += o * std::log(o / e);
                x2 += (o - e) * (o - e) / e;
            }
        g2 *= 2.0;
    };
    const double p0 = probability(n11);
    double g0 = 0.0;
    double x0 = 0.0;
    statistics(n11, g0, x0);
    Tally byP, byG2, byX2;
    for (int x = std::max(0, c[0] - r[1]); x <= std::min(r[0], c[0]); ++x) {
        const double p = probability(x);
        double g = 0.0;
        double chi = 0.0;
        statistics(x, g, chi);
        Sort(byP, p, p0, 1e-10, p);
        Sort(byG2, g, g0, 1e-9, p);
        Sort(byX2, chi, x0, 1e-9, p);
    }
    return {"",
            "Exact (multi tailed) Likelihood Ratio ",
            Printf("  Greater than:%9lld points with prob. %9.6f", byG2.Greater, byG2.GreaterMass),
            Printf("  Equal to:    %9lld points with prob. %9.6f", byG2.Equal, byG2.EqualMass),
            Printf("  Less than:   %9lld points with prob. %9.6f", byG2.Less, byG2.LessMass),
            Printf(" ==>  Significance (recommended)     p =   %9.6f <==", byG2.EqualMass + byG2.GreaterMass),
            "",
            "Exact (multi tailed) Chi Square ",
            Printf("  Greater than:%9lld points with prob. %9.6f", byX2.Greater, byX2.GreaterMass),
            Printf("  Equal to:    %9lld points with prob  %9.6f", byX2.Equal, byX2.EqualMass),
            Printf("  Less than:   %9lld points with prob. %9.6f", byX2.Less, byX2.LessMass),
            Printf(" -->  Significance                   p =   %9.6f <--", byX2.EqualMass + byX2.GreaterMass),
            "",
            "Exact (multi tailed) Fisher test ",
            Printf("  Less prob:   %9lld points with prob. %9.6f", byP.Less, byP.LessMass),
            Printf("  Same prob:   %9lld points with prob. %9.6f", byP.Equal, byP.EqualMass),
            Printf("  Greater prob:%9lld points with prob. %9.6f", byP.Greater, byP.GreaterMass),
            Printf(" -->  Significance                   p =   %9.6f <--", byP.LessMass + byP.EqualMass),
            " This value is used by many statistical",
            " programs - like SPSS, Stata, SAS and R",
            ""};
}

// The two 2 x 2 Fisher blocks with both options set, from the known
// probabilities of X11 below, at and above the observed value.
std::vector<std::string> FisherBlocks(int x11, double less, double equal, double greater, double notRecommended,
                                      double corrected, double oneTailed) {
    return {"",
            "2 x 2 Fisher exact test - 'two tailed'.",
            Printf("              p( X11 < %3d )     =         %9.6f", x11, less),
            Printf("              P( X11 = %3d )     =         %9.6f", x11, equal),
            Printf("              p( X11 > %3d )     =         %9.6f", x11, greater),
            Printf(" (not recom.)     p-two tailed   =         %9.6f", notRecommended),
            Printf(" (corrected)      p-two tailed   =         %9.6f", corrected),
            "",
            "",
            "2 x 2 Fisher exact test - one tailed.",
            Printf("                p-one tailed   =           %9.6f", oneTailed),
            "  (Remember to check the direction)",
            ""};
}

std::vector<std::string> Closing(long long samplePoints) {
    return {"Number of sample points = " + std::to_string(samplePoints), kUsedTime, ""};
}

// ---------------------------------------------------------------------------
// Reference tables

TEST_F(BatchModeTest, DescriptiveAndApproximateSectionsOfTheReferenceTables) {
    const BatchResult r =
        BatchOn(DataFile(kReferenceTables), {"Expected=1", "Column=1", "Row=1", "AppLRtest=1", "AppCStest=1",
                                                    "ExaLRtest=0", "CountPos=0"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(LooseLinesOf(r.Out).empty());
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 8u);
    std::vector<std::vector<std::string>> checked;
    for (const auto& report : reports) checked.push_back(CheckedReport(report, &r.Window));

    // No exact test and no enumeration: the used time alone closes a report.
    ExpectLines(checked[0],
                {" ",
                 kBanner,
                 "Observed Numbers.",
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
                 "",
                 kLR,
                 "  Chi^2 =   0.402, df=  2,           p  =   0.817841",
                 "  (min.expected = 6.0)",
                 "",
                 kPearson,
                 "  Chi^2 =   0.397, df=  2,           p  =   0.820031",
                 "  (min.expected = 6.0)",
                 "",
                 kUsedTime,
                 ""},
                "2 x 3 table 10 20 30 / 5 15 20");

    ExpectLines(checked[1],
                Join({{" ", kBanner},
                      TwoZeroObservedBlock(),
                      {"Expected Numbers.", "   1.0   1.0  |      2", "   1.0   1.0  |      2", "--------------+-------",
                       "     2     2  |      4", "",
                       "Column percentages.", " 100.0   0.0  |   50.0", "   0.0 100.0  |   50.0",
                       "--------------+-------", " 100.0 100.0  |  100.0", "",
                       "Row percentages.", " 100.0   0.0  |  100.0", "   0.0 100.0  |  100.0",
                       "--------------+-------", "  50.0  50.0  |  100.0", ""},
                      ApproxBlock(kLR, "  Chi^2 =   5.545, df=  1,           p  =  @0.01853168",
                                  "  Yates:  Chi^2 =   1.046,           p  =  @0.30631541", " 1.0"),
                      ApproxBlock(kPearson, "  Chi^2 =   4.000, df=  1,           p  =  @0.04550026",
                                  "  Yates:  Chi^2 =   1.000,           p  =  @0.31731051", " 1.0"),
                      {kUsedTime, ""}}),
                "2 x 2 table 2 0 / 0 2");

    ExpectLines(checked[2],
                Join({{" ", kBanner},
                      ObservedTenTwo(),
                      {"Expected Numbers.", "   5.2   6.8  |     12", "   7.8  10.2  |     18", "--------------+-------",
                       "    13    17  |     30", "",
                       "Column percentages.", "  76.9  11.8  |   40.0", "  23.1  88.2  |   60.0",
                       "--------------+-------", " 100.0 100.0  |  100.0", "",
                       "Row percentages.", "  83.3  16.7  |  100.0", "  16.7  83.3  |  100.0",
                       "--------------+-------", "  43.3  56.7  |  100.0", ""},
                      {kLR,
                       "  Chi^2 =  14.020, df=  1,           p  =   0.000181",
                       "  Yates:  Chi^2 =  11.038,           p  =   0.000892",
                       "  (min.expected = 5.2)",
                       "",
                       kPearson,
                       "  Chi^2 =  13.032, df=  1,           p  =   0.000306",
                       "  Yates:  Chi^2 =  10.458,           p  =   0.001221",
                       "  (min.expected = 5.2)",
                       ""},
                      {kUsedTime, ""}}),
                "2 x 2 table 10 2 / 3 15");

    ExpectLines(checked[3],
                Join({{" ", kBanner},
                      ObservedThreeOne(),
                      {"Expected Numbers.", "   2.0   2.0  |      4", "   2.0   2.0  |      4", "--------------+-------",
                       "     4     4  |      8", "",
                       "Column percentages.", "  75.0  25.0  |   50.0", "  25.0  75.0  |   50.0",
                       "--------------+-------", " 100.0 100.0  |  100.0", "",
                       "Row percentages.", "  75.0  25.0  |  100.0", "  25.0  75.0  |  100.0",
                       "--------------+-------", "  50.0  50.0  |  100.0", ""},
                      ApproxBlock(kLR, "  Chi^2 =   2.093, df=  1,           p  =  @0.14797596",
                                  "  Yates:  Chi^2 =   0.505,           p  =  @0.47716178", " 2.0"),
                      ApproxBlock(kPearson, "  Chi^2 =   2.000, df=  1,           p  =  @0.15729921",
                                  "  Yates:  Chi^2 =   0.500,           p  =  @0.47950012", " 2.0"),
                      {kUsedTime, ""}}),
                "2 x 2 table 3 1 / 1 3");

    // G2 = X2 = G2(Yates) = 0, but X2(Yates) = 0.200: the Yates difference
    // has no lower bound.
    ExpectLines(checked[4],
                Join({{" ", kBanner},
                      ObservedFives(),
                      {"Expected Numbers.", "   5.0   5.0  |     10", "   5.0   5.0  |     10", "--------------+-------",
                       "    10    10  |     20", "",
                       "Column percentages.", "  50.0  50.0  |   50.0", "  50.0  50.0  |   50.0",
                       "--------------+-------", " 100.0 100.0  |  100.0", "",
                       "Row percentages.", "  50.0  50.0  |  100.0", "  50.0  50.0  |  100.0",
                       "--------------+-------", "  50.0  50.0  |  100.0", ""},
                      ApproxBlock(kLR, "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
                                  "  Yates:  Chi^2 =   0.000,           p  =   1.000000", " 5.0"),
                      ApproxBlock(kPearson, "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
                                  "  Yates:  Chi^2 =   0.200,           p  =   0.654721", " 5.0"),
                      {kUsedTime, ""}}),
                "2 x 2 table 5 5 / 5 5");

    // G2 = 2.773 (zero cells left out), X2 = 2.000, both corrected values 0;
    // the smallest expected count 0.5 prints as " 0.5".
    ExpectLines(checked[5],
                Join({{" ", kBanner},
                      ObservedOneZero(),
                      {"Expected Numbers.", "   0.5   0.5  |      1", "   0.5   0.5  |      1", "--------------+-------",
                       "     1     1  |      2", "",
                       "Column percentages.", " 100.0   0.0  |   50.0", "   0.0 100.0  |   50.0",
                       "--------------+-------", " 100.0 100.0  |  100.0", "",
                       "Row percentages.", " 100.0   0.0  |  100.0", "   0.0 100.0  |  100.0",
                       "--------------+-------", "  50.0  50.0  |  100.0", ""},
                      ApproxBlock(kLR, "  Chi^2 =   2.773, df=  1,           p  =  @0.09589097",
                                  "  Yates:  Chi^2 =   0.000,           p  =   1.000000", " 0.5"),
                      ApproxBlock(kPearson, "  Chi^2 =   2.000, df=  1,           p  =  @0.15729921",
                                  "  Yates:  Chi^2 =   0.000,           p  =   1.000000", " 0.5"),
                      {kUsedTime, ""}}),
                "2 x 2 table 1 0 / 0 1");

    // A single row against the weights 1 1 2 of the data file (0.25, 0.25,
    // 0.5): no column percentages (one row), no separator, no Yates lines.
    ExpectLines(checked[6],
                {" ",
                 kBanner,
                 "Observed Numbers.",
                 "    12     7     5  |     24",
                 "",
                 "Expected Numbers.",
                 "   6.0   6.0  12.0  |     24",
                 "",
                 "Row percentages.",
                 "  50.0  29.2  20.8  |  100.0",
                 "",
                 kLR,
                 "  Chi^2 =  10.039, df=  2,           p  =   0.006608",
                 "  (min.expected = 6.0)",
                 "",
                 kPearson,
                 "  Chi^2 =  10.250, df=  2,           p  =   0.005946",
                 "  (min.expected = 6.0)",
                 "",
                 kUsedTime,
                 ""},
                "single row 12 7 5 with weights 1 1 2");

    // A single column with equal proportions: no row percentages (one
    // column); G2 = 2 (12 ln 1.5 + 7 ln 0.875 + 5 ln 0.625) = 3.162,
    // X2 = 26 / 8 = 3.250.
    ExpectLines(checked[7],
                Join({{" ",
                       kBanner,
                       "Observed Numbers.",
                       "    12",
                       "     7",
                       "     5",
                       "--------",
                       "    24",
                       "",
                       "Expected Numbers.",
                       "   8.0",
                       "   8.0",
                       "   8.0",
                       "--------",
                       "    24",
                       "",
                       "Column percentages.",
                       "  50.0",
                       "  29.2",
                       "  20.8",
                       "--------",
                       " 100.0",
                       ""},
                      ApproxBlock(kLR, "  Chi^2 =   3.162, df=  2,           p  =  @0.2058015", "", " 8.0"),
                      ApproxBlock(kPearson, "  Chi^2 =   3.250, df=  2,           p  =  @0.1969117", "", " 8.0"),
                      {kUsedTime, ""}}),
                "single column 12 7 5");
}

TEST_F(BatchModeTest, ExactTestsAndFisherBlocksOfTheReferenceTables) {
    // The independent reckoning agrees with the known blocks of 2 0 / 0 2.
    ASSERT_EQ(ExactBlocksOf2x2(2, 0, 0, 2), TwoZeroExactBlocks());

    const BatchResult r =
        BatchOn(DataFile(kReferenceTables), {"ExaCStest=1", "2x2twotail=1", "2x2onetail=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 8u);
    std::vector<std::vector<std::string>> checked;
    for (const auto& report : reports) checked.push_back(CheckedReport(report, &r.Window));

    // The 2 x 3 table: 521 tables share its margins (x21 = 0..15,
    // x22 = 0..35, x21 + x22 <= 40); no 2 x 2 block.
    EXPECT_TRUE(ContainsLine(checked[0], "Number of sample points = 521"));
    EXPECT_TRUE(ContainsLine(checked[0], "Exact (multi tailed) Likelihood Ratio "));
    EXPECT_TRUE(ContainsLine(checked[0], "Exact (multi tailed) Chi Square "));
    EXPECT_TRUE(ContainsLine(checked[0], "Exact (multi tailed) Fisher test "));
    EXPECT_FALSE(ContainsLine(checked[0], "2 x 2 Fisher exact test - 'two tailed'."));
    EXPECT_FALSE(ContainsLine(checked[0], "2 x 2 Fisher exact test - one tailed."));

    // 2 0 / 0 2: X11 = 0, 1, 2 with 1/6, 2/3, 1/6; the observed X11 is 2.
    ExpectLines(checked[1],
                Join({{" ", kBanner}, TwoZeroObservedBlock(), TwoZeroExactBlocks(),
                      FisherBlocks(2, 5.0 / 6.0, 1.0 / 6.0, 0.0, 2.0 / 6.0, 1.0 / 6.0, 1.0 / 6.0), Closing(3)}),
                "2 0 / 0 2");
    // The 2 x 2 tables have min(R1, C1) - max(0, R1 + C1 - N) + 1 sample points.
    ExpectLines(checked[2],
                Join({{" ", kBanner}, ObservedTenTwo(), ExactBlocksOf2x2(10, 2, 3, 15),
                      FisherBlocks(10, 0.999535, 0.000450, 0.000015, 0.000930, 0.000481, 0.000465), Closing(13)}),
                "10 2 / 3 15");
    ExpectLines(checked[3],
                Join({{" ", kBanner}, ObservedThreeOne(), ExactBlocksOf2x2(3, 1, 1, 3),
                      FisherBlocks(3, 0.757143, 0.228571, 0.014286, 0.485714, 0.257143, 0.242857), Closing(5)}),
                "3 1 / 1 3");
    // Both two-tailed values exceed 1 and print as 1.
    ExpectLines(checked[4],
                Join({{" ", kBanner}, ObservedFives(), ExactBlocksOf2x2(5, 5, 5, 5),
                      FisherBlocks(5, 0.328141, 0.343718, 0.328141, 1.0, 1.0, 0.671859), Closing(11)}),
                "5 5 / 5 5");
    ExpectLines(checked[5],
                Join({{" ", kBanner}, ObservedOneZero(), ExactBlocksOf2x2(1, 0, 0, 1),
                      FisherBlocks(1, 0.5, 0.5, 0.0, 1.0, 0.5, 0.5), Closing(2)}),
                "1 0 / 0 1");

    // One-way tables of 24 observations in 3 categories: C(26, 2) = 325
    // sample points; never a 2 x 2 block.
    for (int k : {6, 7}) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(ContainsLine(checked[static_cast<std::size_t>(k)], "Number of sample points = 325"));
        EXPECT_TRUE(ContainsLine(checked[static_cast<std::size_t>(k)], "Exact (multi tailed) Fisher test "));
        EXPECT_FALSE(ContainsLine(checked[static_cast<std::size_t>(k)], "2 x 2 Fisher exact test - one tailed."));
    }
}

TEST_F(BatchModeTest, OneTailedBlockAloneShowsItsOwnProbabilities) {
    const BatchResult r = BatchOn(DataFile("10 2\n3 15\n"), {"2x2onetail=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    const std::vector<std::string> report = CheckedReport(reports[0]);
    EXPECT_TRUE(ContainsBlock(report, {"",
                                       "2 x 2 Fisher exact test - one tailed.",
                                       "              p( X11 <  10 )   =            0.999535",
                                       "              P( X11 =  10 )   =            0.000450",
                                       "              p( X11 >  10 )   =            0.000015",
                                       "                p-one tailed   =            0.000465",
                                       "  (Remember to check the direction)",
                                       ""}));
    EXPECT_FALSE(ContainsLine(report, "2 x 2 Fisher exact test - 'two tailed'."));
}

TEST_F(BatchModeTest, WithoutAnyExactTestOnlyTheUsedTimeClosesTheReport) {
    const BatchResult r = BatchOn(DataFile("2 0\n0 2\n\n"), {"ExaLRtest=0", "CountPos=0"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    ExpectLines(CheckedReport(reports[0]), Join({{" ", kBanner}, TwoZeroObservedBlock(), {kUsedTime, ""}}),
                "2 0 / 0 2 without exact tests");
}

TEST_F(BatchModeTest, WithoutOptionsTheDefaultsOfTheOptionTableApply) {
    // Observed, ExaLRtest and CountPos on, every other section off.
    const std::string data = DataFile("2 0\n0 2\n\n12 7 5\n\n1 1 2\n\n");
    const BatchResult plain = Batch({"--batch", data});
    const BatchResult explicitly = BatchOn(data);
    EXPECT_EQ(plain.Status, kelvorin::kBatchOk);
    const auto plainReports = ReportsOf(plain.Out);
    const auto explicitReports = ReportsOf(explicitly.Out);
    ASSERT_EQ(plainReports.size(), 2u);
    ASSERT_EQ(explicitReports.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(CheckedReport(plainReports[i]), CheckedReport(explicitReports[i]));
    // The likelihood-ratio and Fisher blocks, without the chi-square block.
    const std::vector<std::string> exact = TwoZeroExactBlocks();
    ExpectLines(CheckedReport(plainReports[0]),
                Join({{" ", kBanner}, TwoZeroObservedBlock(), std::vector<std::string>(exact.begin(), exact.begin() + 7),
                      std::vector<std::string>(exact.begin() + 13, exact.end()), Closing(3)}),
                "2 0 / 0 2 with the default options");
}

TEST_F(BatchModeTest, TabsAndCarriageReturnsOfATextModeFileAreReadAsBlanksAndLineEnds) {
    const BatchResult r = BatchOn(DataFile("2\t0\r\n0\t 2\r\n\r\n1 0\r\n0 1\r\n\r\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(ContainsBlock(reports[0], TwoZeroObservedBlock()));
    EXPECT_TRUE(ContainsBlock(reports[1], ObservedOneZero()));
}

// ---------------------------------------------------------------------------
// Result file

TEST_F(BatchModeTest, ResultFileIsReplacedAndHoldsTheReportsInOrder) {
    const std::string result = dir_.File("result.txt");
    WriteFile(result, "stale report of an earlier run\n");
    const BatchResult r = BatchOn(DataFile("2 0\n0 2\n\n1 0\n0 1\n\n10 2\n3 15\n\n"), {}, {"--output", result});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "");
    const std::string text = ReadFile(result);
    EXPECT_EQ(text.find("stale report"), std::string::npos);
    EXPECT_TRUE(LooseLinesOf(text).empty());
    const auto reports = ReportsOf(text);
    ASSERT_EQ(reports.size(), 3u);
    const std::vector<std::vector<std::string>> observed = {TwoZeroObservedBlock(), ObservedOneZero(),
                                                            ObservedTenTwo()};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string> report = CheckedReport(reports[i]);
        ASSERT_GT(report.size(), 2 + observed[i].size());
        EXPECT_EQ(std::vector<std::string>(report.begin() + 2, report.begin() + 2 + static_cast<std::ptrdiff_t>(observed[i].size())),
                  observed[i]);
    }
    EXPECT_TRUE(ContainsLine(reports[0], "Number of sample points = 3"));
    EXPECT_TRUE(ContainsLine(reports[1], "Number of sample points = 2"));
    EXPECT_TRUE(ContainsLine(reports[2], "Number of sample points = 13"));
}

TEST_F(BatchModeTest, UnreadableDataFileKeepsTheResultFile) {
    const std::string result = dir_.File("result.txt");
    WriteFile(result, "report worth keeping\n");
    const BatchResult r = BatchOn(dir_.File("no-such-file.dat"), {}, {"--output", result});
    EXPECT_EQ(r.Status, kelvorin::kBatchUsage);
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err, "");
    EXPECT_EQ(ReadFile(result), "report worth keeping\n");
}

// ---------------------------------------------------------------------------
// Messages about tables and data errors

TEST_F(BatchModeTest, EmptyRowIsReportedWithTheTableNumberAndTheNextTableIsAnalysed) {
    const BatchResult r = BatchOn(DataFile("2 0\n0 2\n\n1 2\n0 0\n3 4\n\n1 0\n0 1\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "Error (table 2): All zeros in row 2\n");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(ContainsBlock(reports[0], TwoZeroObservedBlock()));
    EXPECT_TRUE(ContainsBlock(reports[1], ObservedOneZero()));
    EXPECT_TRUE(LooseLinesOf(r.Out).empty());
}

TEST_F(BatchModeTest, EveryEmptyRowThenEveryEmptyColumnGetsItsMessage) {
    const BatchResult r = BatchOn(DataFile("0 0\n1 0\n\n0 0 0\n\n\n1 0\n0 1\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err,
              "Error (table 1): All zeros in row 1\n"
              "Error (table 1): All zeros in column 2\n"
              "Error (table 2): All zeros in row 1\n");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(ContainsBlock(reports[0], ObservedOneZero()));
}

TEST_F(BatchModeTest, SingleColumnWithAZeroCountIsAnalysed) {
    // 7 observations in 3 categories: C(9, 2) = 36 sample points.
    const BatchResult r = BatchOn(DataFile("3\n0\n4\n\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(ContainsBlock(reports[0], {"Observed Numbers.", "     3", "     0", "     4", "--------", "     7", ""}));
    EXPECT_TRUE(ContainsLine(reports[0], "Number of sample points = 36"));
}

TEST_F(BatchModeTest, OneByOneTableGetsNeitherReportNorMessage) {
    const BatchResult r = BatchOn(DataFile("5\n\n\n1 0\n0 1\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(ContainsBlock(reports[0], ObservedOneZero()));
}

TEST_F(BatchModeTest, RaggedTableIsSkippedWhole) {
    const std::string data = DataFile("1 2 3\n4 5\n6 7 8\n9 10 11\n\n1 0\n0 1\n\n");
    const BatchResult r = BatchOn(data);
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "Error (table 1): Data error reading file " + data + "\n");
    const auto items = SplitOutput(r.Out);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_FALSE(items[0].IsReport);
    EXPECT_EQ(items[0].Lines.front(), "Data error reading file " + data);
    // The lines after the ragged one are not taken for a table of their own.
    ASSERT_TRUE(items[1].IsReport);
    EXPECT_TRUE(ContainsBlock(items[1].Lines, ObservedOneZero()));
}

TEST_F(BatchModeTest, DataErrorGoesToTheResultFileToo) {
    const std::string data = DataFile("1 2\n3 4 5\n6 7\n\n2 0\n0 2\n\n");
    const std::string result = dir_.File("result.txt");
    const BatchResult r = BatchOn(data, {}, {"--output", result});
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Error (table 1): Data error reading file " + data + "\n");
    const auto items = SplitOutput(ReadFile(result));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Lines, std::vector<std::string>{"Data error reading file " + data});
    ASSERT_TRUE(items[1].IsReport);
    EXPECT_TRUE(ContainsBlock(items[1].Lines, TwoZeroObservedBlock()));
}

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

std::string OnesLine(int values) {
    std::string line;
    for (int i = 0; i < values; ++i) line += i == 0 ? "1" : " 1";
    return line + "\n";
}

TEST_F(BatchModeTest, TableOfSixtyOneColumnsIsRefusedAndSixtyAreAccepted) {
    const std::string data =
        DataFile(OnesLine(61) + OnesLine(61) + "\n" + OnesLine(60) + OnesLine(60) + "\n" + "1 0\n0 1\n\n");
    const BatchResult r = BatchOn(data, {"ExaLRtest=0", "CountPos=0"});
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "Error (table 1): Data error reading file " + data + "\n");
    const auto items = SplitOutput(r.Out);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Lines, std::vector<std::string>{"Data error reading file " + data});
    ASSERT_TRUE(items[1].IsReport);
    const std::string sixtyOnes = Repeat("     1", 60) + "  |     60";
    EXPECT_TRUE(ContainsBlock(items[1].Lines, {"Observed Numbers.", sixtyOnes, sixtyOnes}));
    ASSERT_TRUE(items[2].IsReport);
    EXPECT_TRUE(ContainsBlock(items[2].Lines, ObservedOneZero()));
}

TEST_F(BatchModeTest, TableOfFiftyOneRowsIsRefusedAndFiftyAreAccepted) {
    const std::string data =
        DataFile(Repeat("1 1\n", 51) + "\n" + Repeat("1 1\n", 50) + "\n" + "1 0\n0 1\n\n");
    const BatchResult r = BatchOn(data, {"ExaLRtest=0", "CountPos=0"});
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "Error (table 1): Data error reading file " + data + "\n");
    const auto items = SplitOutput(r.Out);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Lines, std::vector<std::string>{"Data error reading file " + data});
    ASSERT_TRUE(items[1].IsReport);
    EXPECT_TRUE(ContainsBlock(items[1].Lines, {"--------------+-------", "    50    50  |    100", ""}));
    ASSERT_TRUE(items[2].IsReport);
    EXPECT_TRUE(ContainsBlock(items[2].Lines, ObservedOneZero()));
}

TEST_F(BatchModeTest, NumbersBeyondThirtyTwoBitsAreDataErrors) {
    const std::string data = DataFile(
        "2 0\n0 4294967296\n\n"
        "1 2\n99999999999 4\n5 6\n\n"
        "2147483648 1\n1 1\n\n"
        "-2147483649 1\n1 1\n\n"
        "1 0\n0 1\n\n");
    const BatchResult r = BatchOn(data);
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    const std::string message = "Data error reading file " + data;
    EXPECT_EQ(r.Err, "Error (table 1): " + message + "\nError (table 2): " + message + "\nError (table 3): " +
                         message + "\nError (table 4): " + message + "\n");
    // The line "5 6" after the faulty one belongs to the skipped table.
    const auto items = SplitOutput(r.Out);
    ASSERT_EQ(items.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(items[i].Lines, std::vector<std::string>{message});
    ASSERT_TRUE(items[4].IsReport);
    EXPECT_TRUE(ContainsBlock(items[4].Lines, ObservedOneZero()));
}

// The error lines of the batch run, "Error (table N): text", one per entry.
std::vector<std::string> ErrorLines(const std::string& err) { return SplitLines(err); }

TEST_F(BatchModeTest, CountOutsideTheRangeIsRefusedNamingTheCell) {
    const BatchResult r = BatchOn(DataFile("2 40000\n3 4\n\n1 2\n-3 4\n\n2147483647 1\n1 1\n\n1 0\n0 1\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    const std::vector<std::string> errors = ErrorLines(r.Err);
    ASSERT_EQ(errors.size(), 3u) << r.Err;
    const std::regex cell12(R"(\(1, ?2\)|row 1,? column 2)");
    const std::regex cell21(R"(\(2, ?1\)|row 2,? column 1)");
    const std::regex cell11(R"(\(1, ?1\)|row 1,? column 1)");
    EXPECT_EQ(errors[0].rfind("Error (table 1): ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("40000"), std::string::npos) << errors[0];
    EXPECT_TRUE(std::regex_search(errors[0], cell12)) << errors[0];
    EXPECT_EQ(errors[1].rfind("Error (table 2): ", 0), 0u) << errors[1];
    EXPECT_NE(errors[1].find("-3"), std::string::npos) << errors[1];
    EXPECT_TRUE(std::regex_search(errors[1], cell21)) << errors[1];
    EXPECT_EQ(errors[2].rfind("Error (table 3): ", 0), 0u) << errors[2];
    EXPECT_NE(errors[2].find("2147483647"), std::string::npos) << errors[2];
    EXPECT_TRUE(std::regex_search(errors[2], cell11)) << errors[2];
    EXPECT_TRUE(LooseLinesOf(r.Out).empty());
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(ContainsBlock(reports[0], ObservedOneZero()));
}

TEST_F(BatchModeTest, MarginsAbove32767AreRefused) {
    const BatchResult r =
        BatchOn(DataFile("20000 20000\n1 1\n\n20000 1\n20000 1\n\n10000 10000\n10000 10000\n\n1 0\n0 1\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    const std::vector<std::string> errors = ErrorLines(r.Err);
    ASSERT_EQ(errors.size(), 3u) << r.Err;
    EXPECT_EQ(errors[0].rfind("Error (table 1): ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("row 1"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[1].rfind("Error (table 2): ", 0), 0u) << errors[1];
    EXPECT_NE(errors[1].find("column 1"), std::string::npos) << errors[1];
    EXPECT_EQ(errors[2].rfind("Error (table 3): ", 0), 0u) << errors[2];
    EXPECT_NE(errors[2].find("total"), std::string::npos) << errors[2];
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(ContainsBlock(reports[0], ObservedOneZero()));
}

TEST_F(BatchModeTest, GrandTotalOf32767IsAnalysedWithTheApproximateTest) {
    // Column totals above 1000: the exact likelihood-ratio block says so and
    // the approximate block stands in for it; no exact Fisher block.
    const BatchResult r = BatchOn(DataFile("16383 1\n1 16382\n\n"));
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    const std::vector<std::string> report = CheckedReport(reports[0]);
    EXPECT_TRUE(ContainsBlock(report, {"Observed Numbers.", " 16383     1  |  16384", "     1 16382  |  16383",
                                       "--------------+-------", " 16384 16383  |  32767", ""}));
    EXPECT_TRUE(ContainsBlock(report, {"", "Exact (multi tailed) Likelihood Ratio ", "To many observations.", "",
                                       "Approx. Likelihood Ratio test"}));
    EXPECT_FALSE(ContainsLine(report, "Exact (multi tailed) Fisher test "));
}

// ---------------------------------------------------------------------------
// Weights of one-way tables

TEST_F(BatchModeTest, OneColumnTableReadsItsWeightsOnePerLine) {
    const BatchResult r = BatchOn(DataFile("12\n7\n5\n\n1\n1\n2\n\n2 0\n0 2\n\n"), {"Expected=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(
        ContainsBlock(reports[0], {"Expected Numbers.", "   6.0", "   6.0", "  12.0", "--------", "    24", ""}));
    EXPECT_TRUE(ContainsBlock(reports[1], TwoZeroObservedBlock()));
    EXPECT_TRUE(ContainsLine(reports[1], "Number of sample points = 3"));
}

TEST_F(BatchModeTest, OneColumnTableTakesItsWeightsFromOneLineToo) {
    const BatchResult r = BatchOn(DataFile("12\n7\n5\n\n1 1 2\n\n2 0\n0 2\n\n"), {"Expected=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(
        ContainsBlock(reports[0], {"Expected Numbers.", "   6.0", "   6.0", "  12.0", "--------", "    24", ""}));
    EXPECT_TRUE(ContainsBlock(reports[1], TwoZeroObservedBlock()));
}

TEST_F(BatchModeTest, WeightsThatDoNotFitTheCategoriesGiveEqualProportions) {
    const BatchResult r = BatchOn(DataFile("12 7 5\n\n1 1\n\n1 0\n0 1\n\n"), {"Expected=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(ContainsBlock(reports[0], {"Expected Numbers.", "   8.0   8.0   8.0  |     24", ""}));
    EXPECT_TRUE(ContainsBlock(reports[1], ObservedOneZero()));
}

TEST_F(BatchModeTest, BlockAfterAOneWayTableIsAlwaysItsWeights) {
    // Without the second empty line the next table is read as weights (two
    // lines of two values for three categories: equal proportions).
    const BatchResult r = BatchOn(DataFile("12 7 5\n\n2 0\n0 2\n\n1 0\n0 1\n\n"), {"Expected=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(ContainsBlock(reports[0], {"Expected Numbers.", "   8.0   8.0   8.0  |     24", ""}));
    EXPECT_TRUE(ContainsBlock(reports[1], ObservedOneZero()));
}

// ---------------------------------------------------------------------------
// Details file

// The details file header of a 2 x 2 table after its banner line.
std::vector<std::string> DetailsHeader(const std::vector<std::string>& observedRows) {
    std::vector<std::string> lines = {"Observed numbers."};
    lines.insert(lines.end(), observedRows.begin(), observedRows.end());
    lines.push_back("");
    lines.push_back(std::string(" number    ") + " row 1      " + " row 2      " + "  probability     lrq       chi");
    return lines;
}

// The three sample points of 2 0 / 0 2 in the order visited: the observed
// table (probability 1/6, G2 = 8 ln 2, X2 = 4, marked '*'), the table of ones
// (2/3, 0, 0) and the mirror table (1/6, same statistics, no mark).
const std::vector<std::string> kTwoZeroPoints = {
    "     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ",
    "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ",
    "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 "};
// 2 n ln(n / e) per cell, e = 1 everywhere.
const std::vector<std::string> kTwoZeroLrq = {"   lrq //  2.8  0.0//  0.0  2.8", "   lrq //  0.0  0.0//  0.0  0.0",
                                              "   lrq //  0.0  2.8//  2.8  0.0"};
// (n - e) / sqrt(e) per cell.
const std::vector<std::string> kTwoZeroChi = {"   chi //  1.0 -1.0// -1.0  1.0", "   chi //  0.0  0.0//  0.0  0.0",
                                              "   chi // -1.0  1.0//  1.0 -1.0"};

TEST_F(BatchModeTest, DetailsFileIsAppendedTableAfterTable) {
    const std::string details = dir_.File("trace.txt");
    WriteFile(details, "earlier trace\n");
    const BatchResult r =
        BatchOn(DataFile("2 0\n0 2\n\n1 0\n0 1\n\n"), {"Details=1"}, {"--details", details});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(ReportsOf(r.Out).size(), 2u);
    std::vector<std::string> lines = SplitLines(ReadFile(details));
    ASSERT_EQ(lines.size(), 24u) << ReadFile(details);
    CheckBanner(lines[2], &r.Window);
    CheckBanner(lines[14], &r.Window);
    lines[2] = lines[14] = kBanner;
    ExpectLines(lines,
                Join({{"earlier trace", "", kBanner},
                      DetailsHeader({"     2     0  |      2", "     0     2  |      2", "--------------+-------",
                                     "     2     2  |      4"}),
                      kTwoZeroPoints,
                      {"", kBanner},
                      DetailsHeader({"     1     0  |      1", "     0     1  |      1", "--------------+-------",
                                     "     1     1  |      2"}),
                      {"     1* //    1    0//    0    1  :: 0.500000000     2.77      2.00 ",
                       "     2  //    0    1//    1    0  :: 0.500000000     2.77      2.00 "}}),
                "details file");
}

TEST_F(BatchModeTest, TrackLevelChoosesTheLinesOfTheTrace) {
    const std::vector<std::string>& p = kTwoZeroPoints;
    const std::vector<std::string>& l = kTwoZeroLrq;
    const std::vector<std::string>& c = kTwoZeroChi;
    // Track 0: only marked sample points; the statistics of 2 0 / 0 2 never
    // order a table against its probability, so only the observed one.
    const std::vector<std::vector<std::string>> expected = {
        {p[0]},
        {p[0], p[1], p[2]},
        {p[0], l[0], p[1], l[1], p[2], l[2]},
        {p[0], c[0], p[1], c[1], p[2], c[2]},
        {p[0], l[0], c[0], p[1], l[1], c[1], p[2], l[2], c[2]}};
    const std::string data = DataFile("2 0\n0 2\n\n");
    for (int track = 0; track <= 4; ++track) {
        SCOPED_TRACE("Track=" + std::to_string(track));
        const std::string details = dir_.File("trace" + std::to_string(track) + ".txt");
        const std::string level = "Track=" + std::to_string(track);
        const BatchResult r = BatchOn(data, {"Details=1", level}, {"--details", details});
        EXPECT_EQ(r.Status, kelvorin::kBatchOk);
        const std::vector<std::string> lines = SplitLines(ReadFile(details));
        ASSERT_GE(lines.size(), 9u) << ReadFile(details);
        EXPECT_EQ(lines[0], "");
        CheckBanner(lines[1]);
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 9),
                  DetailsHeader({"     2     0  |      2", "     0     2  |      2", "--------------+-------",
                                 "     2     2  |      4"}));
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.end()), expected[static_cast<std::size_t>(track)]);
    }
}

TEST_F(BatchModeTest, NoDetailsFileWithoutTheDetailsOption) {
    const std::string details = dir_.File("trace.txt");
    const BatchResult r = BatchOn(DataFile("2 0\n0 2\n\n"), {}, {"--details", details});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(ReportsOf(r.Out).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(details));
}

TEST_F(BatchModeTest, DetailsOptionWithoutADetailsFileLeavesTheReportAlone) {
    const BatchResult r = BatchOn(DataFile("2 0\n0 2\n\n"), {"Details=1", "ExaCStest=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = ReportsOf(r.Out);
    ASSERT_EQ(reports.size(), 1u);
    ExpectLines(CheckedReport(reports[0]),
                Join({{" ", kBanner}, TwoZeroObservedBlock(), TwoZeroExactBlocks(), Closing(3)}),
                "2 0 / 0 2 with Details=1");
}

// ---------------------------------------------------------------------------
// Usage

TEST_F(BatchModeTest, UsageErrorsExitWithTwoAndTheUsageOnStandardError) {
    const std::string data = DataFile("2 0\n0 2\n\n");
    const std::string result = dir_.File("result.txt");
    WriteFile(result, "kept\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--output", result},
        {data},
        {"--batch"},
        {"--batch", data, "--output"},
        {"--batch", data, "--details"},
        {"--batch", data, "--option"},
        {"--batch", data, "--frobnicate"},
        {"--batch", data, "--option", "Frobnicate=1"},
        {"--batch", data, "--option", "Observed"},
        {"--batch", data, "--option", "Observed=2"},
        {"--batch", data, "--option", "Observed=yes"},
        {"--batch", data, "--option", "Track=7"},
        {"--batch", data, "--option", "Track=-1"},
        {"--batch", data, "--option", "InputData=2"},
        {"--batch", data, "--output", result, "--option", "Track=5"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args) shown += " " + a;
        SCOPED_TRACE("arguments:" + shown);
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.Status, kelvorin::kBatchUsage);
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err.find(kelvorin::BatchUsage()), std::string::npos) << r.Err;
        EXPECT_EQ(ReadFile(result), "kept\n");
    }
}

TEST_F(BatchModeTest, AcceptedOptionValuesAreNoUsageError) {
    const std::string data = DataFile("2 0\n0 2\n\n");
    for (const char* setting : {"Track=0", "Track=4", "InputData=-1", "InputData=1", "Observed=0", "2x2twotail=1"}) {
        SCOPED_TRACE(setting);
        const BatchResult r = Batch({"--batch", data, "--option", setting});
        EXPECT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
        EXPECT_EQ(ReportsOf(r.Out).size(), 1u);
    }
}

TEST_F(BatchModeTest, HelpPrintsTheUsageOnStandardOutput) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"--batch", "x.dat", "--help"}}) {
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.Status, kelvorin::kBatchOk);
        EXPECT_EQ(r.Out, kelvorin::BatchUsage());
        EXPECT_EQ(r.Err, "");
    }
    EXPECT_NE(kelvorin::BatchUsage().find("--batch"), std::string::npos);
}

}  // namespace
