// The analysis run as a whole: what it refuses and how, runs that end early,
// tables too large for the exact tests, details files that fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"

namespace kelvorin {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;
using Message = std::pair<std::string, std::string>;
using Table = std::vector<std::vector<int>>;

class RunAnalysisTest : public fakes::EngineHarness {
protected:
    void ExpectEndStepRan() {
        for (MenuItem item : {MenuItem::Newtable1, MenuItem::Options1, MenuItem::Results1, MenuItem::Save1})
            EXPECT_EQ(env.menus.Enabled(item), 1) << static_cast<int>(item);
        EXPECT_FALSE(engine.State().Running);
        EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    }
    // No report, these messages (caption "Error"), and the end step run.
    void ExpectRefused(const Lines& report, const Lines& texts) {
        std::vector<Message> expected;
        for (const auto& text : texts) expected.emplace_back(text, "Error");
        EXPECT_THAT(report, IsEmpty());
        EXPECT_EQ(env.messages.shown, expected);
        env.messages.shown.clear();
        ExpectEndStepRan();
    }
};

class BadInputsTest : public RunAnalysisTest {};

// Empty rows and columns (all rows first), counts and margins beyond 16 bits;
// a 1 x 1 table or a cancelled window end silently; then runs are normal.
TEST_F(RunAnalysisTest, RefusedTablesShowTheirMessagesAndWriteNoReport) {
    const std::pair<Table, Lines> cases[] = {
        {{{1, 2}, {0, 0}, {3, 4}}, {"All zeros in row 2"}},
        {{{0, 0, 0}, {4, 0, 5}}, {"All zeros in row 1", "All zeros in column 2"}},
        {{{0, 0, 0, 0}, {1, 0, 2, 0}, {0, 0, 0, 0}},
         {"All zeros in row 1", "All zeros in row 3", "All zeros in column 2", "All zeros in column 4"}},
        {{{0, 0, 0}}, {"All zeros in row 1"}},
        {{{0}, {0}}, {"All zeros in column 1"}},
        {{{1, 2, 3}, {4, 5, -7}, {1, 1, 1}}, {"Count -7 at (2,3) is outside the range 0 to 32767"}},
        {{{32768, 1}, {1, 1}}, {"Count 32768 at (1,1) is outside the range 0 to 32767"}},
        {{{20000, 20000}, {1, 1}}, {"Total of row 1 is above 32767"}},
        {{{1, 20000}, {1, 20000}}, {"Total of column 2 is above 32767"}},
        {{{20000, 0}, {0, 20000}}, {"The grand total 40000 is above 32767"}},
        {Table(200, std::vector<int>(200, 1)), {"The grand total 40000 is above 32767"}},
        {{{7}}, {}},
    };
    Options() = fakes::With("Expected ExaLRtest AppLRtest CountPos");
    for (const auto& [table, texts] : cases) ExpectRefused(Run(table), texts);
    EXPECT_EQ(env.pump.passes + env.proportionsWindow.shows, 0);
    env.proportionsWindow.result = false;
    ExpectRefused(Run({{12, 7, 5}}), {});
    EXPECT_TRUE(engine.State().Abandoned);
    env.proportionsWindow.result = true;
    EXPECT_THAT(Run({{2, 0}, {0, 2}}), Contains("Number of sample points = 3"));
    Options().Observed = true;
    for (const Table& table : {Table{{5}, {0}, {3}}, Table{{3, 0}}}) EXPECT_THAT(Run(table), Not(IsEmpty()));
    EXPECT_THAT(Run({{32767}, {0}}), Contains(" 32767"));
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// A grid changed behind the entry grid's check still reaches the run.
TEST_F(BadInputsTest, ACellThatIsNoWholeNumberEndsTheRunWithItsText) {
    for (const std::string text : {"x", "1.5", "", "3,4", "2147483648", "1e3", "0x10"}) {
        env.entryGrid.SetTexts({{"1", "2"}, {"3", text}});
        ExpectRefused(Run(), {"'" + text + "' is not a valid integer value"});
    }
}

// Weights that are no finite number, 0 or below (also once normalised), or
// overflow in their sum: one box, no report, no trace.
TEST_F(BadInputsTest, UnusableWeightsEndTheRunWithTheirMessage) {
    std::vector<std::pair<Lines, std::string>> cases{
        {{" abc ", "1", "1"}, "'abc' is not a valid floating point value"},
        {{"4.9e-324", "1", "1"}, "The proportion of category 1 must be greater than 0"},
        {{"1e308", "1e308", "1e308"}, "Floating point overflow"},
        {{"1", "1.7e308", "1.7e308"}, "Floating point overflow"}};
    for (const char* text : {"2,5", "nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999", "0x10", "1/2", "1e", "--1", "½"})
        cases.push_back({{"1", text, "1"}, "'" + std::string(text) + "' is not a valid floating point value"});
    for (const char* text : {"0", "-0", "-2", "0e5", "1e-400", "0.0"})
        cases.push_back({{"1", "1", text}, "The proportion of category 3 must be greater than 0"});
    Options().Details = true;
    for (const auto& [weights, message] : cases) {
        TypeWeights(weights);
        ExpectRefused(Run({{12, 7, 5}}), {message});
    }
    EXPECT_THAT(fakes::FileLines(dir.File("details.txt")), IsEmpty());
    // Weights far apart: statistics beyond sqrt(DBL_MAX) give p = 0, not an end.
    Options() = fakes::With("AppLRtest AppCStest");
    for (const Lines& weights : {Lines{"1e-300", "1", "1"}, Lines{"1", "1e300", "1e300"}, Lines{"1e-160", "1", "1"}}) {
        TypeWeights(weights);
        EXPECT_THAT(Run({{12, 7, 5}}), IsSupersetOf({"Approx. Chi-Square test (Pearson)", ""}));
    }
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// A weight so small that the statistics of some sample points overflow,
// although the observed table's do not (its count there is 0): an overflow
// error that ends the run after its descriptive tables, with nothing
// tallied or traced as infinite, whether a statistic is wanted for a test
// or for the trace. Without a statistic to compute, or with a weight whose
// statistics stay finite, the same table runs through; a table after the
// error gets the report it gets alone.
TEST_F(BadInputsTest, SamplePointStatisticsBeyondTheDoubleRangeEndTheRun) {
    const Table table{{0, 2}};
    const Table normal{{10, 2}, {3, 15}};
    const auto noInfinity = [](const Lines& lines) {
        return std::none_of(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("inf") != std::string::npos; });
    };
    const AnalysisOptions normalOptions = fakes::With("Observed ExaLRtest CountPos 2x2twotail");
    Options() = normalOptions;
    const Lines alone = Run(normal);
    // Each statistic alone for its exact test, and both for the trace.
    for (const char* names : {"ExaLRtest", "ExaCStest AppCStest", "CountPos"}) {
        Options() = fakes::With(std::string("Observed ") + names);
        TypeWeights({"1e-310", "1"});
        const bool traced = Options().CountPos;
        const Lines trace = traced ? TraceOf(table) : Lines{};
        const Lines report = traced ? env.report.Lines() : Run(table);
        EXPECT_THAT(report, Contains("Observed Numbers.")) << names;
        EXPECT_THAT(report, Not(Contains(StartsWith("Exact (multi tailed)")))) << names;
        EXPECT_THAT(report, Not(Contains(StartsWith("Number of sample points")))) << names;
        EXPECT_EQ(env.messages.shown, (std::vector<Message>{{"Floating point overflow", "Error"}})) << names;
        EXPECT_TRUE(noInfinity(trace)) << names;
        env.messages.shown.clear();
        ExpectEndStepRan();
        Options() = normalOptions;
        EXPECT_EQ(Run(normal), alone) << names;
    }
    const std::pair<std::string, AnalysisOptions> runThrough[] = {
        {"1e-310", fakes::With("CountPos")}, {"1e-300", fakes::With("ExaLRtest ExaCStest CountPos Details")}};
    for (const auto& [weight, options] : runThrough) {
        Options() = options;
        TypeWeights({weight, "1"});
        const Lines trace = options.Details ? TraceOf(table) : Lines{};
        if (!options.Details) Run(table);
        EXPECT_THAT(env.report.Lines(), Contains("Number of sample points = 3")) << weight;
        EXPECT_TRUE(noInfinity(trace)) << weight;
        // The header and three sample points.
        EXPECT_EQ(trace.size(), options.Details ? 9u : 0u) << weight;
    }
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// A column total above 1000 (not 1000), or two one-way counts above 1000,
// leave the exact tests out, the approximate ones in their place, no count.
TEST_F(RunAnalysisTest, TablesTooLargeForTheExactTests) {
    Options() = fakes::With("ExaLRtest ExaCStest CountPos 2x2twotail");
    const Lines lines = Body(Run({{1000, 1, 1}, {1, 1, 1}}));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 8), (Lines{"", "Exact (multi tailed) Likelihood Ratio ", "To many observations.", "",
                                                              "Exact (multi tailed) Chi Square ", "To many observations.", "",
                                                              "Approx. Likelihood Ratio test"}));
    EXPECT_EQ(lines[11], "Approx. Chi-Square test (Pearson)");
    EXPECT_TRUE(EndsWithUsedTime(lines));
    EXPECT_EQ(env.status.Last(), "To many observations");
    EXPECT_EQ(env.pump.passes, 0);
    EXPECT_THAT(Run({{1000, 1}, {1, 1}}), Not(Contains(StartsWith("2 x 2"))));
    for (const auto& [table, count] : {std::pair<Table, int>{{{999, 1, 1}, {1, 1, 1}}, 8}, {{{1001, 5}}, 1007}, {{{1001}, {5}}, 1007},
                                       {{{1001, 1001, 5}}, 0}, {{{1001}, {1001}, {5}}, 0}}) {
        const Lines report = Run(table);
        if (count > 0) EXPECT_THAT(report, Contains("Number of sample points = " + std::to_string(count)));
        else EXPECT_THAT(report, AllOf(IsSupersetOf({"To many observations.", "Approx. Likelihood Ratio test"}),
                                       Not(Contains(StartsWith("Number of sample points")))));
    }
    EXPECT_THAT(env.messages.shown, IsEmpty());
}

// Astronomically many sample points (800 rows: 800 deep) are broken off at
// the first display or refused; what the extended range cannot hold is always
// refused, as an interruption at 0 that shows the table. The approximate test
// is still reported.
TEST_F(BadInputsTest, AHugeEnumerationCanBeBrokenOffAtItsFirstProgressDisplay) {
    Table wide(3, std::vector<int>(27, 37));  // 27 columns of 1000, rows of 25000, 1000, 1000
    wide[1][0] = wide[2][0] = 38;
    for (std::size_t j = 0; j < 27; ++j) wide[0][j] = 1000 - wide[1][j] - wide[2][j];
    Table column(30, std::vector<int>{1000});  // 30001 observations
    column[0][0] = 1001;
    std::string counts = " 1001";
    for (int k = 1; k < 30; ++k) counts += " 1000";
    auto ones = [](std::size_t rows, std::size_t cols) { return Table(rows, std::vector<int>(cols, 1)); };
    Table alternating;
    for (int i = 0; i < 800; ++i) alternating.push_back({i % 2, 1 - i % 2});
    const std::vector<Message> refused{{"To many observations", "ERROR"}};
    const Lines either{"either"};  // broken off or refused
    Options() = fakes::With("ExaCStest AppLRtest");
    env.pump.onPass = [this] { engine.BreakOff(); };
    for (const auto& [table, shown] : std::vector<std::pair<Table, Lines>>{
             {{{350, 350, 400}, {350, 350, 400}}, {" 350 350 400", " 350 350 400"}}, {wide, {}}, {column, {counts}}, {ones(120, 2), either},
             {ones(2, 120), either}, {ones(40, 40), either}, {alternating, either}, {Table(1, std::vector<int>(500, 3)), either}}) {
        env.messages.shown.clear();
        env.pump.passes = 0;
        const Lines report = Run(table);
        EXPECT_TRUE(EndsWithUsedTime(report)) << table.size();
        EXPECT_THAT(report, Contains("Approx. Likelihood Ratio test"));
        EXPECT_TRUE(engine.State().Abandoned);
        ExpectEndStepRan();
        if (shown == either) {
            EXPECT_EQ(env.messages.shown, env.pump.passes == 1 ? std::vector<Message>() : refused) << table.size();
            continue;
        }
        EXPECT_EQ(env.messages.shown, refused);
        EXPECT_EQ(engine.State().SamplePointCount, 0u);
        const auto at = std::ranges::find(report, " Calculations interrupted at sample point nr 0");
        ASSERT_TRUE(at != report.end() && report.end() - at >= 4);
        EXPECT_EQ(report[report.size() - 3], " Sum of probabilities 0.000E+00 ");
        EXPECT_TRUE(shown.empty() || Lines(at + 1, report.end() - 3) == shown);
    }
}

// A full disk is said once at the end, the report whole, the file's old
// content kept; a file that cannot be created is left out quietly.
TEST_F(BadInputsTest, DetailsFilesThatCannotBeWrittenOrCreated) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Options() = fakes::With("Details CountPos");
    Options().Track = 4;
    const std::string details = dir.File("details.txt");
    std::ofstream(details) << "trace of an earlier run\n";
    for (const std::string& name : {std::string("/dev/full"), details, dir.File("no/such/folder/details.txt"), dir.Path()}) {
        env.saveDialog.chosen = name;
        Lines report;
        auto run = [&] { report = Run({{5, 3, 2}, {1, 4, 6}}); };
        name == details ? fakes::WithFileSizeLimit(4000, run) : run();
        const bool opened = name == details || name == "/dev/full";
        EXPECT_EQ(env.messages.shown, (opened ? std::vector<Message>{{"Cannot write file " + name, "Error"}} : std::vector<Message>()));
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, Contains(StartsWith("Number of sample points")));
        env.messages.shown.clear();
        ExpectEndStepRan();
    }
    EXPECT_EQ(fakes::FileLines(details).at(0), "trace of an earlier run");
    EXPECT_LE(std::filesystem::file_size(details), 4000u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
    env.saveDialog.chosen = dir.File("other.txt");
    Run({{5, 3, 2}, {1, 4, 6}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(fakes::FileLines(dir.File("other.txt")).empty());
}

// The data file is never the details file: neither chosen in the dialog
// nor kept from before, when a data file is read under the details file's
// name. The run goes on without a trace and the file is left as it was.
TEST_F(BadInputsTest, TheDataFileIsNeverTheDetailsFile) {
    Options() = fakes::With("Details CountPos");
    const std::string data = dir.File("tables.txt");
    std::ofstream(data) << "5 3 2\n1 4 6\n\n";
    const Lines untraced = Body(Run({{5, 3, 2}, {1, 4, 6}}));
    AnalysisState& s = engine.State();
    s.DataFileName = data;
    s.DetailsFileName = "elsewhere/other.txt";
    env.saveDialog.chosen = dir.Path() + "/./tables.txt";
    EXPECT_EQ(Body(Run({{5, 3, 2}, {1, 4, 6}})), untraced);
    EXPECT_EQ(env.messages.shown, (std::vector<Message>{{"The data file being read cannot be written", "Error"}}));
    EXPECT_EQ(s.DetailsFileName, "elsewhere/other.txt");
    ExpectEndStepRan();
    s.DetailsFileName = data;  // the same stem: reused without the dialog
    env.messages.shown.clear();
    EXPECT_EQ(Body(Run({{5, 3, 2}, {1, 4, 6}})), untraced);
    EXPECT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(s.DetailsFileName, "");
    EXPECT_EQ(fakes::FileLines(data), (Lines{"5 3 2", "1 4 6", ""}));
    // Another file of the same stem is still taken without a question.
    env.messages.shown.clear();
    s.DetailsFileName = dir.File("tables.log");
    Run({{5, 3, 2}, {1, 4, 6}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(fakes::FileLines(dir.File("tables.log")).empty());
}

}  // namespace
}  // namespace kelvorin
