// Inputs the analysis run must refuse with a message, or survive, without
// losing what it has: cell texts that are not counts, weights that are not
// usable numbers, a details file that cannot be written, and typed tables of
// any size.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "GammaFunctions.h"

namespace kelvorin {
namespace {

using fakes::FileLines;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;
using Message = std::pair<std::string, std::string>;

class BadInputsTest : public fakes::EngineHarness {
protected:
    void ExpectEndStepRan() {
        for (MenuItem item : {MenuItem::Newtable1, MenuItem::Options1, MenuItem::Results1})
            EXPECT_EQ(env.menus.Enabled(item), 1) << static_cast<int>(item);
        EXPECT_FALSE(engine.State().Running);
        EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    }
    static bool EndsWithUsedTime(const Lines& report) {
        return report.size() >= 2 && report[report.size() - 2].starts_with("  Used time : ") && report.back().empty();
    }
    fakes::TempDirectory dir;
};

// The entry grid lets only whole counts through, but a grid changed behind
// its check still reaches the run.
TEST_F(BadInputsTest, ACellThatIsNoWholeNumberEndsTheRunWithItsText) {
    for (const std::string text : {"x", "1.5", "", "3,4", "2147483648", "1e3", "0x10"}) {
        env.messages.shown.clear();
        env.entryGrid.SetTexts({{"1", "2"}, {"3", text}});
        EXPECT_THAT(Run(), IsEmpty());
        EXPECT_THAT(env.messages.shown, ElementsAre(Message("'" + text + "' is not a valid integer value", "Error")));
        ExpectEndStepRan();
    }
}

// Typed weights that are no finite decimal number, that are 0 or below (or
// vanish beside the others once normalised), or whose sum overflows: one box,
// no report, no trace.
TEST_F(BadInputsTest, UnusableWeightsEndTheRunWithTheirMessage) {
    const std::string notANumber = "' is not a valid floating point value";
    std::vector<std::pair<Lines, std::string>> cases;
    for (const std::string text : {"abc", " abc ", "2,5", "nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999",
                                   "0x10", "1,5", "1/2", "1e", "--1", "½"})
        cases.push_back({{"1", text, "1"}, "'" + std::string(text == " abc " ? "abc" : text) + notANumber});
    for (const std::string text : {"0", "-0", "-2", "0e5", "1e-400", "0.0"})
        cases.push_back({{"1", "1", text}, "The proportion of category 3 must be greater than 0"});
    cases.push_back({{"4.9e-324", "1", "1"}, "The proportion of category 1 must be greater than 0"});
    cases.push_back({{"1e308", "1e308", "1e308"}, "The sum of the proportions is too large"});
    Options().Details = true;
    env.saveDialog.chosen = dir.File("details.txt");
    for (const auto& [weights, message] : cases) {
        SCOPED_TRACE(weights[0] + " " + weights[1] + " " + weights[2]);
        env.messages.shown.clear();
        TypeWeights(weights);
        EXPECT_THAT(Run({{12, 7, 5}}), IsEmpty());
        EXPECT_THAT(env.messages.shown, ElementsAre(Message(message, "Error")));
        ExpectEndStepRan();
    }
    EXPECT_THAT(FileLines(dir.File("details.txt")), IsEmpty());
}

// Weights far apart give statistics beyond the square root of the double
// range; their p value is 0, not an end of the program.
TEST_F(BadInputsTest, WeightsFarApartGiveAWholeReport) {
    Options() = fakes::With("AppLRtest AppCStest");
    for (const Lines& weights : {Lines{"1e-300", "1", "1"}, Lines{"1", "1e300", "1e300"}, Lines{"1e-160", "1", "1"}}) {
        TypeWeights(weights);
        const Lines report = Run({{12, 7, 5}});
        EXPECT_THAT(env.messages.shown, IsEmpty());
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, Contains("Approx. Chi-Square test (Pearson)"));
    }
}

TEST(ChiSquareTail, StatisticsBeyondTheSquareRootOfTheDoubleRangeHaveCdfOne) {
    for (const double x : {1e155, 1e200, 1e300, std::numeric_limits<double>::max()})
        for (const int df : {1, 2, 30, 3000}) EXPECT_EQ(ChiSquareCdf(x, df), 1.0) << x << " df " << df;
    EXPECT_NEAR(ChiSquareCdf(60.0, 2), 1.0 - std::exp(-30.0), 1e-15);
}

// A details file on a full disk, or one that fills up, is said once at the
// end; the report is whole, what the file held before stays, and the next run
// with a writable file is quiet again.
TEST_F(BadInputsTest, ADetailsFileThatCannotBeWrittenIsReportedOnceAtTheEnd) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Options() = fakes::With("Details CountPos");
    Options().Track = 4;
    const std::string details = dir.File("details.txt");
    std::ofstream(details) << "trace of an earlier run\n";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const std::string& name : {std::string("/dev/full"), details}) {
        env.messages.shown.clear();
        env.saveDialog.chosen = name;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4000, saved.rlim_max};
        if (name == details) {
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const Lines report = Run({{5, 3, 2}, {1, 4, 6}});
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_THAT(env.messages.shown, ElementsAre(Message("Cannot write file " + name, "Error")));
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, Contains(::testing::StartsWith("Number of sample points")));
        ExpectEndStepRan();
    }
    EXPECT_EQ(FileLines(details).at(0), "trace of an earlier run");
    EXPECT_LE(std::filesystem::file_size(details), 4000u);
    env.messages.shown.clear();
    env.saveDialog.chosen = dir.File("other.txt");
    Run({{5, 3, 2}, {1, 4, 6}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(FileLines(dir.File("other.txt")).empty());
}

// Opening the details file may fail quietly: the run goes on without a trace.
TEST_F(BadInputsTest, ADetailsFileThatCannotBeCreatedLeavesTheTraceOutWithoutAMessage) {
    Options().Details = true;
    for (const std::string& name : {dir.File("no/such/folder/details.txt"), dir.Path()}) {
        env.saveDialog.chosen = name;
        EXPECT_TRUE(EndsWithUsedTime(Run({{5, 3}, {1, 4}})));
        EXPECT_THAT(env.messages.shown, IsEmpty());
        ExpectEndStepRan();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

// Tables with an astronomical number of sample points (800 rows make the
// enumeration recurse 800 deep) run until the user breaks them off at the
// first display, or are refused as too large for the extended range; the
// approximate test is still reported.
TEST_F(BadInputsTest, AHugeEnumerationCanBeBrokenOffAtItsFirstProgressDisplay) {
    Options() = fakes::With("ExaCStest AppLRtest");
    env.pump.onPass = [this] { engine.BreakOff(); };
    auto ones = [](std::size_t rows, std::size_t cols) { return std::vector<std::vector<int>>(rows, std::vector<int>(cols, 1)); };
    std::vector<std::vector<int>> alternating;
    for (int i = 0; i < 800; ++i) alternating.push_back({i % 2, 1 - i % 2});
    for (const auto& table : {ones(120, 2), ones(2, 120), ones(40, 40), alternating, std::vector<std::vector<int>>(1, std::vector<int>(500, 3))}) {
        SCOPED_TRACE(std::to_string(table.size()) + " rows");
        env.messages.shown.clear();
        env.pump.passes = 0;
        const Lines report = Run(table);
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, Contains("Approx. Likelihood Ratio test"));
        const std::vector<Message> refused{{"To many observations", "ERROR"}};
        EXPECT_EQ(env.messages.shown, env.pump.passes == 1 ? std::vector<Message>() : refused);
        EXPECT_TRUE(engine.State().Abandoned);
        ExpectEndStepRan();
    }
}

}  // namespace
}  // namespace kelvorin
