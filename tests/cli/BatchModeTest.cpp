// The batch command line run in-process: the reports of the reference
// tables, the details file, the tables it refuses or skips with their
// messages and exit statuses, and the usage errors.
#include <gtest/gtest.h>

#include <ctime>
#include <iomanip>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

class BatchModeTest : public ::testing::Test {
protected:
    // Runs the batch mode on a data file holding TABLES.
    BatchResult Run(const std::string& tables, const std::vector<std::string>& settings = {},
                    const std::vector<std::string>& more = {}, const kelvorin::SettingsStore* store = nullptr) {
        return BatchOn(WriteFile(data_, tables), settings, more, store);
    }

    TempDir dir_;
    const std::string data_ = dir_.File("tables.dat");
};

const std::string kLR = "Approx. Likelihood Ratio test";
const std::string kPearson = "Approx. Chi-Square test (Pearson)";

// The descriptive and approximate sections, line for line where the values
// are known; only the used time closes a report without exact tests.
TEST_F(BatchModeTest, DescriptiveAndApproximateSectionsOfTheReferenceTables) {
    const std::time_t started = std::time(nullptr);
    const BatchResult r = Run("10 20 30\n5 15 20\n\n10 2\n3 15\n\n5 5\n5 5\n\n1 0\n0 1\n\n12 7 5\n\n1 1 2\n\n12\n7\n5\n\n\n",
                              {"Expected=1", "Column=1", "Row=1", "AppLRtest=1", "AppCStest=1", "ExaLRtest=0", "CountPos=0"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = Reports(r.Out);
    ASSERT_EQ(reports.size(), 6u) << r.Out;
    ExpectLines(reports[0], {" ", kBanner,
                             "Observed Numbers.", "    10    20    30  |     60", "     5    15    20  |     40",
                             "--------------------+-------", "    15    35    50  |    100", "",
                             "Expected Numbers.", "   9.0  21.0  30.0  |     60", "   6.0  14.0  20.0  |     40",
                             "--------------------+-------", "    15    35    50  |    100", "",
                             "Column percentages.", "  66.7  57.1  60.0  |   60.0", "  33.3  42.9  40.0  |   40.0",
                             "--------------------+-------", " 100.0 100.0 100.0  |  100.0", "",
                             "Row percentages.", "  16.7  33.3  50.0  |  100.0", "  12.5  37.5  50.0  |  100.0",
                             "--------------------+-------", "  15.0  35.0  50.0  |  100.0", "",
                             kLR, "  Chi^2 =   0.402, df=  2,           p  =   0.817841", "  (min.expected = 6.0)", "",
                             kPearson, "  Chi^2 =   0.397, df=  2,           p  =   0.820031", "  (min.expected = 6.0)", "",
                             kUsedTime, ""});
    EXPECT_TRUE(Contains(reports[1], {kLR, "  Chi^2 =  14.020, df=  1,           p  =   0.000181",
                                      "  Yates:  Chi^2 =  11.038,           p  =   0.000892", "  (min.expected = 5.2)", "",
                                      kPearson, "  Chi^2 =  13.032, df=  1,           p  =   0.000306",
                                      "  Yates:  Chi^2 =  10.458,           p  =   0.001221", "  (min.expected = 5.2)"}));
    // The Yates difference has no lower bound: X2 = 0 but X2(Yates) = 0.200.
    EXPECT_TRUE(Contains(reports[2], {kPearson, "  Chi^2 =   0.000, df=  1,           p  =   1.000000",
                                      "  Yates:  Chi^2 =   0.200,           p  =   0.654721", "  (min.expected = 5.0)"}));
    // Zero cells are left out of G2; the smallest expected count prints as " 0.5".
    EXPECT_TRUE(Contains(reports[3], {kLR, "  Chi^2 =   2.773, df=  1,           p  =   0.095891",
                                      "  Yates:  Chi^2 =   0.000,           p  =   1.000000", "  (min.expected = 0.5)", "",
                                      kPearson, "  Chi^2 =   2.000, df=  1,           p  =   0.157299",
                                      "  Yates:  Chi^2 =   0.000,           p  =   1.000000", "  (min.expected = 0.5)"}));
    // A single row against its weights 1 1 2 from the file; a single column
    // (its empty weights block) against equal proportions.
    ExpectLines(reports[4], {" ", kBanner, "Observed Numbers.", "    12     7     5  |     24", "",
                             "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
                             "Row percentages.", "  50.0  29.2  20.8  |  100.0", "",
                             kLR, "  Chi^2 =  10.039, df=  2,           p  =   0.006608", "  (min.expected = 6.0)", "",
                             kPearson, "  Chi^2 =  10.250, df=  2,           p  =   0.005946", "  (min.expected = 6.0)", "",
                             kUsedTime, ""});
    ExpectLines(reports[5], {" ", kBanner,
                             "Observed Numbers.", "    12", "     7", "     5", "--------", "    24", "",
                             "Expected Numbers.", "   8.0", "   8.0", "   8.0", "--------", "    24", "",
                             "Column percentages.", "  50.0", "  29.2", "  20.8", "--------", " 100.0", "",
                             kLR, "  Chi^2 =   3.162, df=  2,           p  =   0.205801", "  (min.expected = 8.0)", "",
                             kPearson, "  Chi^2 =   3.250, df=  2,           p  =   0.196912", "  (min.expected = 8.0)", "",
                             kUsedTime, ""});

    // The banner shows the local date and time at which the run started.
    const std::string banner = SplitLines(r.Out).at(1);
    std::tm shown{};
    std::istringstream(banner.substr(22)) >> std::get_time(&shown, "%Y-%m-%d %H:%M:%S");
    shown.tm_isdst = -1;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&shown), started)), 120.0) << banner;
}

// The two Fisher blocks of a 2 x 2 table, values as printed: P(X11 < x),
// P(X11 = x), P(X11 > x), the two two-tailed values, the one-tailed value.
std::vector<std::string> FisherBlocks(const std::string& x, const std::vector<std::string>& p) {
    return {"", "2 x 2 Fisher exact test - 'two tailed'.",
            "              p( X11 < " + x + " )     =          " + p[0],
            "              P( X11 = " + x + " )     =          " + p[1],
            "              p( X11 > " + x + " )     =          " + p[2],
            " (not recom.)     p-two tailed   =          " + p[3],
            " (corrected)      p-two tailed   =          " + p[4], "", "",
            "2 x 2 Fisher exact test - one tailed.",
            "                p-one tailed   =            " + p[5], "  (Remember to check the direction)", ""};
}

// The exact blocks of 2 0 / 0 2 line for line, the Fisher blocks of the 2 x 2
// tables (both two-tailed values of 5 5 / 5 5 exceed 1 and print as 1), and
// no 2 x 2 block for a one-way table.
TEST_F(BatchModeTest, ExactTestsAndFisherBlocksOfTheReferenceTables) {
    const BatchResult r = Run("2 0\n0 2\n\n10 2\n3 15\n\n3 1\n1 3\n\n5 5\n5 5\n\n1 0\n0 1\n\n12 7 5\n\n1 1 2\n\n",
                              {"ExaCStest=1", "2x2twotail=1", "2x2onetail=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    const auto reports = Reports(r.Out);
    ASSERT_EQ(reports.size(), 6u) << r.Out;
    std::vector<std::string> twoZero = {
        " ", kBanner, "Observed Numbers.", "     2     0  |      2", "     0     2  |      2", "--------------+-------",
        "     2     2  |      4", "", "", "Exact (multi tailed) Likelihood Ratio ",
        "  Greater than:        0 points with prob.  0.000000", "  Equal to:            2 points with prob.  0.333333",
        "  Less than:           1 points with prob.  0.666667",
        " ==>  Significance (recommended)     p =    0.333333 <==", "", "Exact (multi tailed) Chi Square ",
        "  Greater than:        0 points with prob.  0.000000", "  Equal to:            2 points with prob   0.333333",
        "  Less than:           1 points with prob.  0.666667",
        " -->  Significance                   p =    0.333333 <--", "", "Exact (multi tailed) Fisher test ",
        "  Less prob:           0 points with prob.  0.000000", "  Same prob:           2 points with prob.  0.333333",
        "  Greater prob:        1 points with prob.  0.666667",
        " -->  Significance                   p =    0.333333 <--", " This value is used by many statistical",
        " programs - like SPSS, Stata, SAS and R", ""};
    const std::vector<std::string> fisher =
        FisherBlocks("  2", {"0.833333", "0.166667", "0.000000", "0.333333", "0.166667", "0.166667"});
    twoZero.insert(twoZero.end(), fisher.begin(), fisher.end());
    twoZero.insert(twoZero.end(), {"Number of sample points = 3", kUsedTime, ""});
    ExpectLines(reports[0], twoZero);

    const struct {
        std::string X11;
        std::vector<std::string> P;
        std::string Points;
    } cases[] = {{" 10", {"0.999535", "0.000450", "0.000015", "0.000930", "0.000481", "0.000465"}, "13"},
                 {"  3", {"0.757143", "0.228571", "0.014286", "0.485714", "0.257143", "0.242857"}, "5"},
                 {"  5", {"0.328141", "0.343718", "0.328141", "1.000000", "1.000000", "0.671859"}, "11"},
                 {"  1", {"0.500000", "0.500000", "0.000000", "1.000000", "0.500000", "0.500000"}, "2"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(Contains(reports[i + 1], FisherBlocks(cases[i].X11, cases[i].P))) << "table " << i + 2;
        EXPECT_TRUE(Contains(reports[i + 1], {"Number of sample points = " + cases[i].Points})) << "table " << i + 2;
    }
    EXPECT_TRUE(Contains(reports[5], {"Number of sample points = 325"}));
    EXPECT_FALSE(Contains(reports[5], {"2 x 2 Fisher exact test - one tailed."}));
}

// Every track level on 2 0 / 0 2, run after run and table after table
// appended to a details file that held a line already: the header, then the
// sample points (1/6, 2/3, 1/6; the observed one marked), with their lrq
// and chi lines by level. Track 0 writes only the observed table: the
// statistics of this table never order a sample point against its
// probability. A stored level out of range counts as the nearest of 0..4;
// an argument overrides the stored level.
TEST_F(BatchModeTest, DetailsFileIsAppendedWithTheLinesOfTheTrackLevel) {
    const std::string details = WriteFile(dir_.File("trace.txt"), "earlier trace\n");
    const std::vector<std::string> p = {"     1* //    2    0//    0    2  :: 0.166666667     5.55      4.00 ",
                                        "     2  //    1    1//    1    1  :: 0.666666667     0.00      0.00 ",
                                        "     3  //    0    2//    2    0  :: 0.166666667     5.55      4.00 "};
    const std::vector<std::string> l = {"   lrq //  2.8  0.0//  0.0  2.8", "   lrq //  0.0  0.0//  0.0  0.0",
                                        "   lrq //  0.0  2.8//  2.8  0.0"};
    const std::vector<std::string> c = {"   chi //  1.0 -1.0// -1.0  1.0", "   chi //  0.0  0.0//  0.0  0.0",
                                        "   chi // -1.0  1.0//  1.0 -1.0"};
    const std::vector<std::vector<std::string>> points = {
        {p[0]}, {p[0], p[1], p[2]}, {p[0], l[0], p[1], l[1], p[2], l[2]}, {p[0], c[0], p[1], c[1], p[2], c[2]},
        {p[0], l[0], c[0], p[1], l[1], c[1], p[2], l[2], c[2]}};
    // The level stored, the level given as an argument over it, the lines shown.
    const struct {
        std::string Stored, Argument;
        std::size_t Shown;
    } levels[] = {{"7", "0", 0}, {"7", "1", 1}, {"7", "2", 2}, {"-2", "3", 3}, {"-2", "4", 4}, {"-2", "", 0}, {"7", "", 4}};
    std::vector<std::string> expected = {"earlier trace"};
    for (const auto& [stored, argument, shown] : levels) {
        TestStore store;
        store.values = {{{"Option", "Details"}, "1"}, {{"Option", "Track"}, stored}};
        const std::vector<std::string> settings = argument.empty() ? std::vector<std::string>{} : std::vector{"Track=" + argument};
        const BatchResult r = Run("2 0\n0 2\n\n2 0\n0 2\n\n", settings, {"--details", details}, &store);
        EXPECT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
        EXPECT_EQ(Reports(r.Out).size(), 2u);
        for (int table = 0; table < 2; ++table) {
            expected.insert(expected.end(), {"", kBanner, "Observed numbers.", "     2     0  |      2",
                                             "     0     2  |      2", "--------------+-------", "     2     2  |      4", "",
                                             " number     row 1       row 2        probability     lrq       chi"});
            expected.insert(expected.end(), points[shown].begin(), points[shown].end());
        }
    }
    ExpectLines(Masked(ReadFile(details)), expected);
}

// Tables the run refuses, skips or reads in a particular way, in the order
// of the output: "DATA" stands for the data file's name; a report shows as
// the last line of its observed table. BLOCK must stand in the output.
TEST_F(BatchModeTest, RefusedSkippedAndOneWayTablesWithTheirMessagesAndStatus) {
    auto ones = [](int values) {
        std::string line = "1";
        for (int i = 1; i < values; ++i) line += " 1";
        return line + "\n";
    };
    auto repeat = [](const std::string& text, int times) {
        std::string all;
        for (int i = 0; i < times; ++i) all += text;
        return all;
    };
    const std::string oneZero = "1 0\n0 1\n\n";
    const std::string twoZero = "2 0\n0 2\n\n";
    const std::string n2 = "     1     1  |      2";
    const std::string n4 = "     2     2  |      4";
    const std::string dataError = "Data error reading file DATA";
    const std::string sixty = repeat("     2", 60) + "  |    120";
    const std::vector<std::string> thirds = {"Expected Numbers.", "   8.0   8.0   8.0  |     24", ""};
    const std::vector<std::string> weighted = {"Expected Numbers.", "   6.0", "   6.0", "  12.0", "--------", "    24", ""};
    const struct {
        std::string Tables;
        std::vector<std::string> Settings;
        int Status;
        std::string Err;
        std::vector<std::string> Shape;
        std::vector<std::string> Block;
    } cases[] = {
        {twoZero + "1 2\n0 0\n3 4\n\n" + oneZero, {}, 1, "Error (table 2): All zeros in row 2\n", {n4, n2}, {}},
        {"0 0\n1 0\n\n0 0 0\n\n\n" + oneZero, {}, 1,
         "Error (table 1): All zeros in row 1\nError (table 1): All zeros in column 2\n"
         "Error (table 2): All zeros in row 1\n", {n2}, {}},
        // A 1 x 1 table gets neither report nor message, but fails the run.
        {"5\n\n\n" + oneZero, {}, 1, "", {n2}, {}},
        // The lines after a ragged one are not taken for a table of their own.
        {"1 2 3\n4 5\n6 7 8\n9 10 11\n\n" + oneZero, {}, 1, "Error (table 1): " + dataError + "\n", {dataError, n2}, {}},
        {ones(61) + ones(61) + "\n" + ones(60) + ones(60) + "\n" + oneZero, {"ExaLRtest=0", "CountPos=0"}, 1,
         "Error (table 1): " + dataError + "\n", {dataError, sixty, n2}, {}},
        {repeat("1 1\n", 51) + "\n" + repeat("1 1\n", 50) + "\n" + oneZero, {"ExaLRtest=0", "CountPos=0"}, 1,
         "Error (table 1): " + dataError + "\n", {dataError, "    50    50  |    100", n2}, {}},
        // Never wrapped; the line "5 6" after the faulty one belongs to the skipped table.
        {"2 0\n0 4294967296\n\n1 2\n99999999999 4\n5 6\n\n2147483648 1\n1 1\n\n-2147483649 1\n1 1\n\n" + oneZero, {}, 1,
         "Error (table 1): " + dataError + "\nError (table 2): " + dataError + "\nError (table 3): " + dataError +
             "\nError (table 4): " + dataError + "\n",
         {dataError, dataError, dataError, dataError, n2}, {}},
        {"2 40000\n3 4\n\n1 2\n-3 4\n\n2147483647 1\n1 1\n\n" + oneZero, {}, 1,
         "Error (table 1): Count 40000 at (1,2) is outside the range 0 to 32767\nError (table 2): Count -3 at (2,1) is "
         "outside the range 0 to 32767\nError (table 3): Count 2147483647 at (1,1) is outside the range 0 to 32767\n",
         {n2}, {}},
        {"20000 20000\n1 1\n\n20000 1\n20000 1\n\n10000 10000\n10000 10000\n\n" + oneZero, {}, 1,
         "Error (table 1): Total of row 1 is above 32767\nError (table 2): Total of column 1 is above 32767\n"
         "Error (table 3): The grand total 40000 is above 32767\n",
         {n2}, {}},
        // Column totals above 1000: the approximate block stands in for the exact one.
        {"16383 1\n1 16382\n\n", {}, 0, "", {" 16384 16383  |  32767"},
         {"", "Exact (multi tailed) Likelihood Ratio ", "To many observations.", "", kLR}},
        // Beyond the extended range the report is cut short with an error, and
        // the next table still gets its report.
        {"350 350 400\n350 350 400\n\n" + twoZero, {}, 1, "ERROR (table 1): To many observations\n",
         {"   700   700   800  |   2200", n4}, {" Calculations interrupted at sample point nr 0"}},
        {"3\n0\n4\n\n\n", {}, 0, "", {"     7"}, {"Number of sample points = 36"}},
        // Weights of a one-way table: one per line or on one line; a block of
        // another size (here the next table, read as weights) gives equal
        // proportions; zero or below is refused naming the category.
        {"12\n7\n5\n\n1\n1\n2\n\n" + twoZero, {"Expected=1"}, 0, "", {"    24", n4}, weighted},
        {"12\n7\n5\n\n1 1 2\n\n" + twoZero, {"Expected=1"}, 0, "", {"    24", n4}, weighted},
        {"12 7 5\n\n1 1\n\n" + oneZero, {"Expected=1"}, 0, "", {"    12     7     5  |     24", n2}, thirds},
        {"12 7 5\n\n" + twoZero + oneZero, {"Expected=1"}, 0, "", {"    12     7     5  |     24", n2}, thirds},
        {"2 3\n4 5\n\n5 7 9\n\n1 0 2\n\n5 7 9\n\n-1 1 1\n\n", {}, 1,
         "Error (table 2): The proportion of category 2 must be greater than 0\n"
         "Error (table 3): The proportion of category 1 must be greater than 0\n",
         {"     6     8  |     14"}, {}},
        // Tabs, CR LF and CR alone read as blanks and line ends.
        {"2\t0\r\n0\t 2\r\n\r\n1 0\r\n0 1\r\n\r\n", {}, 0, "", {n4, n2}, {}},
        {"2 0\r0 2\r\r12\r7\r5\r\r\r1 0\r0 1\r\r", {}, 0, "", {n4, "    24", n2}, {}},
        // Alone, the one-tailed block shows the three probabilities itself.
        {"10 2\n3 15\n", {"2x2onetail=1"}, 0, "", {"    13    17  |     30"},
         {"", "2 x 2 Fisher exact test - one tailed.", "              p( X11 <  10 )   =            0.999535",
          "              P( X11 =  10 )   =            0.000450", "              p( X11 >  10 )   =            0.000015",
          "                p-one tailed   =            0.000465", "  (Remember to check the direction)", ""}},
        // A file without any table is no empty success.
        {"", {}, 1, "Error: No data avaiable\n", {}, {}},
        {"\n1 2\n3 4\n\n", {}, 1, "Error: No data avaiable\n", {}, {}},
        {"text only\n", {}, 1, "Error: No data avaiable\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Tables.substr(0, 40));
        const BatchResult r = Run(c.Tables, c.Settings);
        EXPECT_EQ(r.Status, c.Status);
        auto named = [&](std::string text) {
            for (std::size_t at; (at = text.find(data_)) != std::string::npos;) text.replace(at, data_.size(), "DATA");
            return text;
        };
        EXPECT_EQ(named(r.Err), c.Err);
        std::vector<std::string> shape;
        for (const auto& item : Items(r.Out))
            shape.push_back(item.size() > 1 ? *(std::find(item.begin() + 2, item.end(), "") - 1) : named(item[0]));
        EXPECT_EQ(shape, c.Shape);
        EXPECT_TRUE(c.Block.empty() || Contains(Masked(r.Out), c.Block));
    }
}

// A usage error leaves the output and the result file alone and shows the
// usage; accepted values run; --help prints the usage on standard output.
TEST_F(BatchModeTest, UsageErrorsAcceptedOptionValuesAndHelp) {
    const std::string data = WriteFile(data_, "2 0\n0 2\n\n");
    const std::string result = WriteFile(dir_.File("result.txt"), "kept\n");
    const std::vector<std::vector<std::string>> refused = {
        {}, {"--output", result}, {data}, {"--batch"}, {"--batch", data, "--output"}, {"--batch", data, "--details"},
        {"--batch", data, "--option"}, {"--batch", data, "--frobnicate"}, {"--batch", data, "--option", "Frobnicate=1"},
        {"--batch", data, "--option", "Observed"}, {"--batch", data, "--option", "Observed=2"},
        {"--batch", data, "--option", "Observed=yes"}, {"--batch", data, "--option", "Track=7"},
        {"--batch", data, "--option", "Track=-1"}, {"--batch", data, "--option", "InputData=2"},
        {"--batch", data, "--output", result, "--option", "Track=5"}};
    for (const auto& args : refused) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.Status, kelvorin::kBatchUsage);
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err.find(kelvorin::BatchUsage()), std::string::npos) << r.Err;
        EXPECT_EQ(ReadFile(result), "kept\n");
    }
    for (const char* setting : {"Track=0", "Track=4", "InputData=-1", "InputData=1", "Observed=0", "2x2twotail=1"}) {
        const BatchResult r = Run("2 0\n0 2\n\n", {setting});
        EXPECT_EQ(r.Status, kelvorin::kBatchOk) << setting << ": " << r.Err;
        EXPECT_EQ(Reports(r.Out).size(), 1u) << setting;
    }
    for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"--batch", "x.dat", "--help"}}) {
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.Status, kelvorin::kBatchOk);
        EXPECT_EQ(r.Out, kelvorin::BatchUsage());
        EXPECT_EQ(r.Err, "");
    }
}

}  // namespace
