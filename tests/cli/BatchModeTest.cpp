// The batch command line run in-process: the report of a reference table,
// the tables it refuses or skips with their messages and exit statuses, the
// usage errors and the stored options; and the program itself.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <map>
#include <tuple>

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

// The whole report of 2 0 / 0 2 with the three exact tests, line for line;
// the banner shows the local date and time at which the run started.
TEST_F(BatchModeTest, ReportOfTheReferenceTableWithTheExactTests) {
    const std::time_t started = std::time(nullptr);
    const BatchResult r = Run("2 0\n0 2\n\n", {"ExaCStest=1"});
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    EXPECT_EQ(r.Err, "");
    ASSERT_EQ(Reports(r.Out).size(), 1u) << r.Out;
    EXPECT_THAT(Reports(r.Out)[0], ::testing::ElementsAreArray<std::string>(
                {" ", kBanner, "Observed Numbers.", "     2     0  |      2", "     0     2  |      2",
                 "--------------+-------", "     2     2  |      4", "", "", "Exact (multi tailed) Likelihood Ratio ",
                 "  Greater than:        0 points with prob.  0.000000", "  Equal to:            2 points with prob.  0.333333",
                 "  Less than:           1 points with prob.  0.666667",
                 " ==>  Significance (recommended)     p =    0.333333 <==", "", "Exact (multi tailed) Chi Square ",
                 "  Greater than:        0 points with prob.  0.000000", "  Equal to:            2 points with prob   0.333333",
                 "  Less than:           1 points with prob.  0.666667",
                 " -->  Significance                   p =    0.333333 <--", "", "Exact (multi tailed) Fisher test ",
                 "  Less prob:           0 points with prob.  0.000000", "  Same prob:           2 points with prob.  0.333333",
                 "  Greater prob:        1 points with prob.  0.666667",
                 " -->  Significance                   p =    0.333333 <--", " This value is used by many statistical",
                 " programs - like SPSS, Stata, SAS and R", "", "Number of sample points = 3", kUsedTime, ""}));
    const std::string banner = r.Out.substr(r.Out.find("Zelkat") + 22, 19);
    std::tm shown{};
    std::istringstream(banner) >> std::get_time(&shown, "%Y-%m-%d %H:%M:%S");
    shown.tm_isdst = -1;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&shown), started)), 120.0) << banner;
}

// Tables the run refuses, skips or reads in a particular way, in the order
// of the output: "DATA" stands for the data file's name; a report shows as
// the last line of its observed table. BLOCK must stand in the output.
TEST_F(BatchModeTest, RefusedSkippedAndOneWayTablesWithTheirMessagesAndStatus) {
    const std::string oneZero = "1 0\n0 1\n\n";
    const std::string twoZero = "2 0\n0 2\n\n";
    const std::string n2 = "     1     1  |      2";
    const std::string n4 = "     2     2  |      4";
    const std::string dataError = "Data error reading file DATA";
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
        // A 1 x 1 table gets no report; it is said, and fails the run.
        {"5\n\n\n" + oneZero, {}, 1, "Error (table 1): A table of one cell has nothing to test\n", {n2}, {}},
        // The lines after a ragged one are not taken for a table of their own.
        {"1 2 3\n4 5\n6 7 8\n9 10 11\n\n" + oneZero, {}, 1, "Error (table 1): " + dataError + "\n", {dataError, n2}, {}},
        // Never wrapped; the line "5 6" after the faulty one belongs to the skipped table.
        {"2 0\n0 2147483648\n\n1 2\n-2147483649 4\n5 6\n\n" + oneZero, {}, 1,
         "Error (table 1): " + dataError + "\nError (table 2): " + dataError + "\n", {dataError, dataError, n2}, {}},
        // A broken table of one row or one column takes its weights block
        // along (one without weights has an empty one).
        {"5 99999999999\n\n1 1 2\n\n4\n2147483648\n\n\n" + oneZero, {}, 1,
         "Error (table 1): " + dataError + "\nError (table 2): " + dataError + "\n", {dataError, dataError, n2}, {}},
        // Counts and margins out of range are refused naming the cell or margin.
        {"2 40000\n3 4\n\n1 2\n-3 4\n\n20000 20000\n1 1\n\n10000 10000\n10000 10000\n\n" + oneZero, {}, 1,
         "Error (table 1): Count 40000 at (1,2) is outside the range 0 to 32767\nError (table 2): Count -3 at (2,1) is "
         "outside the range 0 to 32767\nError (table 3): Total of row 1 is above 32767\n"
         "Error (table 4): The grand total 40000 is above 32767\n",
         {n2}, {}},
        // Beyond the extended range the report is cut short with an error, and
        // the next table still gets its report.
        {"350 350 400\n350 350 400\n\n" + twoZero, {}, 1, "ERROR (table 1): To many observations\n",
         {"   700   700   800  |   2200", n4}, {" Calculations interrupted at sample point nr 0"}},
        // A trace asked for without a details file is said once, and the
        // reports are whole.
        {twoZero + twoZero, {"Details=1"}, 0, "kelvorin: Details=1 without --details DETAILSFILE: no trace is written\n",
         {n4, n4}, {"Number of sample points = 3"}},
        // Weights of a one-way table (here a column's, on one line) are used;
        // zero or below is refused naming the category.
        {"12\n7\n5\n\n1 1 2\n\n" + twoZero, {"Expected=1"}, 0, "", {"    24", n4}, weighted},
        {"2 3\n4 5\n\n5 7 9\n\n1 0 2\n\n5 7 9\n\n-1 1 1\n\n", {}, 1,
         "Error (table 2): The proportion of category 2 must be greater than 0\n"
         "Error (table 3): The proportion of category 1 must be greater than 0\n",
         {"     6     8  |     14"}, {}},
        // Tabs, CR LF and CR alone read as blanks and line ends; a single
        // column with an empty weights block gets equal proportions.
        {"2\t0\r\n0\t 2\r\n\r\n1 0\r\n0 1\r\n\r\n", {}, 0, "", {n4, n2}, {}},
        // A file saved with a UTF-8 byte order mark reads as without.
        {"\xEF\xBB\xBF" + twoZero, {}, 0, "", {n4}, {}},
        {"2 0\r0 2\r\r12\r7\r5\r\r\r1 0\r0 1\r\r", {"Expected=1"}, 0, "", {n4, "    24", n2}, {"   8.0", "   8.0", "   8.0"}},
        // An empty table ends the reading: said, and a failure, where tables
        // follow it; empty lines alone at the end are no table.
        {twoZero + "\n" + oneZero, {}, 1,
         "Error (table 2): An empty table ends the reading; the tables after it are not analysed\n", {n4}, {}},
        {twoZero + "\n\n  \n", {}, 0, "", {n4}, {}},
        // A file without any table is no empty success.
        {"", {}, 1, "Error: No data avaiable\n", {}, {}},
        {"\n1 2\n3 4\n\n", {}, 1, "Error: No data avaiable\n", {}, {}},
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
// usage on standard error; the limits of the ranges are accepted; --help
// prints the usage on standard output.
TEST_F(BatchModeTest, UsageErrorsAcceptedOptionValuesAndHelp) {
    const std::string data = WriteFile(data_, "2 0\n0 2\n\n");
    const std::string result = WriteFile(dir_.File("result.txt"), "kept\n");
    // The arguments (D for the data file, R for the result file) and the status.
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 2}, {"--output R", 2}, {"D", 2}, {"--batch", 2}, {"--batch D --output", 2}, {"--batch D --details", 2},
        {"--batch D --option", 2}, {"--batch D --frobnicate", 2}, {"--batch D --option Frobnicate=1", 2},
        {"--batch D --option Observed", 2}, {"--batch D --option Observed=2", 2}, {"--batch D --option Observed=yes", 2},
        {"--batch D --option Track=7", 2}, {"--batch D --option Track=-1", 2}, {"--batch D --option InputData=2", 2},
        {"--batch D --output R --option Track=5", 2}, {"--batch D --option Track=0 --option InputData=-1", 0},
        {"--batch D --option Track=4 --option InputData=1", 0}, {"--help", 0}, {"--batch D --help", 0}};
    for (const auto& [line, status] : cases) {
        SCOPED_TRACE(line);
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) args.push_back(word == "D" ? data : word == "R" ? result : word);
        const BatchResult r = Batch(args);
        const bool help = line.find("--help") != std::string::npos;
        EXPECT_EQ(r.Status, status);
        EXPECT_EQ(r.Out == kelvorin::BatchUsage(), help);
        EXPECT_EQ(r.Out.empty(), status == 2);
        EXPECT_EQ(r.Err.find(kelvorin::BatchUsage()) != std::string::npos, status == 2) << r.Err;
        EXPECT_EQ(Reports(r.Out).size(), status == 0 && !help ? 1u : 0u);
        EXPECT_EQ(ReadFile(result), "kept\n");
    }
}

// Stored options in memory, by section and name; counts the writes.
class TestStore : public kelvorin::SettingsStore {
public:
    std::optional<std::string> ReadText(const std::string& section, const std::string& name) const override {
        const auto found = values.find({section, name});
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void WriteText(const std::string&, const std::string&, const std::string&) override { ++writes; }

    std::map<std::pair<std::string, std::string>, std::string> values;
    int writes = 0;
};

// The options stored in the section "Option" are the base, each --option
// overrides one (the last wins), --no-settings (or no store at all) gives the
// built-in defaults; the store is only read. Shown by the sections Expected
// (E), Column percentages (C) and Pearson (p) of the report.
TEST_F(BatchModeTest, StoredOptionsAndArgumentsChooseTheSections) {
    TestStore store;
    store.values = {{{"Option", "Expected"}, "1"}, {{"Option", "Column"}, "1"}, {{"Options", "AppCStest"}, "1"}};
    for (const auto& [args, withStore, sections] : std::vector<std::tuple<std::vector<std::string>, bool, std::string>>{
             {{}, false, ""},
             {{}, true, "EC"},
             {{"--option", "Column=0", "--option", "Expected=0", "--option", "Expected=1"}, true, "E"},
             {{"--option", "AppCStest=1", "--no-settings"}, true, "p"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const BatchResult r = Run("10 2\n3 15\n\n", {}, args, withStore ? &store : nullptr);
        EXPECT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
        std::string shown;
        for (const auto& [letter, title] : {std::pair<char, std::string>{'E', "Expected Numbers."},
                                            {'C', "Column percentages."}, {'p', "Approx. Chi-Square test (Pearson)"}})
            if (r.Out.find("\n" + title + "\n") != std::string::npos) shown += letter;
        EXPECT_EQ(shown, sections);
    }
    EXPECT_EQ(store.writes, 0);
}

}  // namespace

// The program itself: its batch door gives the reports of the examples file
// (worked examples among them) as the batch mode does in-process, and its
// exit status is the batch mode's.
TEST_F(BatchModeTest, TheProgramWritesTheBatchModesReportsAndExitStatus) {
    const std::string examples = std::string(KELVORIN_EXAMPLES_DIR) + "/tables.dat";
    const std::string out = dir_.File("out.txt");
    const std::string command = std::string(KELVORIN_PROGRAM) + " --batch '" + examples + "' --no-settings > '" + out +
                                "' 2>/dev/null";
    const int status = std::system(command.c_str());
    const BatchResult r = BatchOn(examples, {}, {"--no-settings"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), r.Status);
    EXPECT_GT(Reports(r.Out).size(), 3u);
    EXPECT_EQ(Masked(ReadFile(out)), Masked(r.Out));
}
