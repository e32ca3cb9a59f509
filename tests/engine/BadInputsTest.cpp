// Inputs the analysis run must refuse with a message, or survive, without
// losing what it has: cell texts that are not counts, weights that are not
// usable numbers, a details file that cannot be written, and typed tables of
// any size.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/resource.h>

#include <csignal>
#endif

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

using fakes::EngineHarness;
using fakes::FileLines;
using fakes::NoSections;
using fakes::TempDirectory;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;
using Lines = std::vector<std::string>;

const std::string kUsedTimePrefix = "  Used time : ";

class BadInputsTest : public EngineHarness {
protected:
    void ExpectEndStepRan() {
        EXPECT_EQ(env.menus.Enabled(MenuItem::Newtable1), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::Options1), 1);
        EXPECT_EQ(env.menus.Enabled(MenuItem::Results1), 1);
        EXPECT_FALSE(engine.State().Running);
        EXPECT_FALSE(engine.State().DetailsFile.IsOpen());
    }
    // Runs the one-row table 12 7 5 with WEIGHTS typed in the proportions
    // window.
    Lines RunWithWeights(const std::vector<std::string>& weights) {
        env.messages.shown.clear();
        env.proportionsWindow.onShow = [this, weights] {
            for (std::size_t k = 0; k < weights.size(); ++k)
                env.proportionsGrid.SetCell(static_cast<int>(k), 0, weights[k]);
        };
        return Run({{12, 7, 5}});
    }
    static bool EndsWithUsedTime(const Lines& report) {
        return report.size() >= 2 && report[report.size() - 2].rfind(kUsedTimePrefix, 0) == 0 && report.back().empty();
    }
};

// --- Cells ------------------------------------------------------------------

// The entry grid lets only whole counts through, and a data file only brings
// whole numbers, but a grid changed behind the check still reaches the run.
TEST_F(BadInputsTest, ACellThatIsNoWholeNumberEndsTheRunWithItsText) {
    for (const std::string text : {"x", "1.5", "", "3,4", "2147483648", "1e3", "0x10"}) {
        SCOPED_TRACE(text);
        env.messages.shown.clear();
        env.entryGrid.SetTexts({{"1", "2"}, {"3", text}});
        EXPECT_THAT(Run(), IsEmpty());
        EXPECT_THAT(env.messages.shown, ElementsAre(Pair("'" + text + "' is not a valid integer value", "Error")));
        ExpectEndStepRan();
    }
}

// --- Weights ------------------------------------------------------------------

TEST_F(BadInputsTest, WeightsThatAreNoFiniteDecimalNumberEndTheRunWithTheirText) {
    for (const std::string text : {"nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999", "0x10", "1,5", "1/2",
                                   "1e", "--1", "½"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT(RunWithWeights({"1", text, "1"}), IsEmpty());
        EXPECT_THAT(env.messages.shown,
                    ElementsAre(Pair("'" + text + "' is not a valid floating point value", "Error")));
        ExpectEndStepRan();
    }
}

TEST_F(BadInputsTest, WeightsOfZeroOrBelowAreRefusedNamingTheCategory) {
    for (const std::string text : {"0", "-0", "-2", "0e5", "1e-400"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT(RunWithWeights({"1", "1", text}), IsEmpty());
        ASSERT_EQ(env.messages.shown.size(), 1u);
        EXPECT_EQ(env.messages.shown[0].second, "Error");
        EXPECT_THAT(env.messages.shown[0].first, HasSubstr("3"));
        ExpectEndStepRan();
    }
}

TEST_F(BadInputsTest, WeightsWhoseSumOverflowsAreRefused) {
    EXPECT_THAT(RunWithWeights({"1e308", "1e308", "1e308"}), IsEmpty());
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    ExpectEndStepRan();
}

// Weights far apart give statistics beyond the square root of the double
// range; their p value is 0, not an end of the program.
TEST_F(BadInputsTest, WeightsFarApartGiveAWholeReport) {
    Options().AppLRtest = true;
    Options().AppCStest = true;
    for (const std::vector<std::string>& weights :
         {std::vector<std::string>{"1e-300", "1", "1"}, {"1", "1e300", "1e300"}, {"1e-160", "1", "1"}}) {
        SCOPED_TRACE(weights[0] + " " + weights[1]);
        const Lines report = RunWithWeights(weights);
        EXPECT_THAT(env.messages.shown, IsEmpty());
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, testing::Contains("Approx. Chi-Square test (Pearson)"));
        ExpectEndStepRan();
    }
}

TEST_F(BadInputsTest, AWeightThatVanishesBesideTheOthersIsRefusedBeforeAnySection) {
    // Half the smallest subnormal number rounds to 0 when it is normalised:
    // that category would have no expected count, so the weights are refused
    // like a weight of 0, before the report begins.
    const Lines report = RunWithWeights({"4.9e-324", "1", "1"});
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, HasSubstr("category 1"));
    EXPECT_THAT(report, IsEmpty());
    ExpectEndStepRan();
}

TEST(ChiSquareTail, StatisticsBeyondTheSquareRootOfTheDoubleRangeHaveCdfOne) {
    for (const double x : {1e155, 1e200, 1e300, std::numeric_limits<double>::max()})
        for (const int df : {1, 2, 30, 3000}) EXPECT_EQ(ChiSquareCdf(x, df), 1.0) << x << " df " << df;
    // Where the continued fraction still converges nothing changes.
    EXPECT_NEAR(ChiSquareCdf(5.991465, 2), 0.95, 1e-6);
    EXPECT_NEAR(ChiSquareCdf(60.0, 2), 1.0 - std::exp(-30.0), 1e-15);
}

// --- The details file -------------------------------------------------------------

#if defined(__linux__)
TEST_F(BadInputsTest, ADetailsFileOnAFullDiskIsReportedOnceAtTheEndAndTheReportIsWhole) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Options().Details = true;
    Options().Track = 4;
    env.saveDialog.chosen = "/dev/full";
    const Lines report = Run({{5, 3, 2}, {1, 4, 6}});
    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("Cannot write file /dev/full", "Error")));
    EXPECT_TRUE(EndsWithUsedTime(report));
    EXPECT_THAT(report, testing::Contains(HasSubstr("Number of sample points")));
    ExpectEndStepRan();

    // The next run with a writable file is quiet again.
    TempDirectory dir;
    env.messages.shown.clear();
    env.saveDialog.chosen = dir.File("details.txt");
    Run({{5, 3, 2}, {1, 4, 6}});
    EXPECT_THAT(env.messages.shown, IsEmpty());
    EXPECT_FALSE(FileLines(dir.File("details.txt")).empty());
}

TEST_F(BadInputsTest, ADetailsFileThatFillsUpKeepsWhatItHeldBefore) {
    TempDirectory dir;
    const std::string details = dir.File("details.txt");
    std::ofstream(details) << "trace of an earlier run\n";
    Options().Details = true;
    Options().Track = 4;
    env.saveDialog.chosen = details;

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{4000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Lines report = Run({{5, 3, 2}, {1, 4, 6}});
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_THAT(env.messages.shown, ElementsAre(Pair("Cannot write file " + details, "Error")));
    EXPECT_TRUE(EndsWithUsedTime(report));
    const Lines lines = FileLines(details);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "trace of an earlier run");
    EXPECT_LE(std::filesystem::file_size(details), 4000u);
    ExpectEndStepRan();
}
#endif

// Opening the details file is allowed to fail quietly: the run goes on
// without a trace.
TEST_F(BadInputsTest, ADetailsFileThatCannotBeCreatedLeavesTheTraceOutWithoutAMessage) {
    TempDirectory dir;
    Options().Details = true;
    for (const std::string& name : {dir.File("no/such/folder/details.txt"), dir.Path()}) {
        SCOPED_TRACE(name);
        env.saveDialog.chosen = name;
        const Lines report = Run({{5, 3}, {1, 4}});
        EXPECT_THAT(env.messages.shown, IsEmpty());
        EXPECT_TRUE(EndsWithUsedTime(report));
        ExpectEndStepRan();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

// --- Typed tables of any size ----------------------------------------------------

std::vector<std::vector<int>> Ones(int rows, int cols) {
    const std::vector<int> row(static_cast<std::size_t>(cols), 1);
    return std::vector<std::vector<int>>(static_cast<std::size_t>(rows), row);
}

TEST_F(BadInputsTest, ATwoHundredSquareTableOfOnesIsRefusedForItsGrandTotal) {
    Options().Expected = true;
    Options().AppLRtest = true;
    EXPECT_THAT(Run(Ones(200, 200)), IsEmpty());
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_THAT(env.messages.shown[0].first, HasSubstr("40000"));
    EXPECT_EQ(env.pump.passes, 0);
    ExpectEndStepRan();
}

// Tables with an astronomical number of sample points start an enumeration
// that runs until the user breaks it off; the run must survive that.
TEST_F(BadInputsTest, AHugeEnumerationCanBeBrokenOffAtItsFirstProgressDisplay) {
    Options().ExaCStest = true;
    Options().AppLRtest = true;
    env.pump.onPass = [this] { engine.BreakOff(); };
    // 800 rows of one observation each: the enumeration recurses 800 deep.
    std::vector<std::vector<int>> alternating;
    for (int i = 0; i < 800; ++i) alternating.push_back(i % 2 == 0 ? std::vector<int>{1, 0} : std::vector<int>{0, 1});
    for (const auto& table : {Ones(120, 2), Ones(2, 120), Ones(40, 40), alternating}) {
        SCOPED_TRACE(std::to_string(table.size()) + " rows");
        env.messages.shown.clear();
        env.pump.passes = 0;
        const Lines report = Run(table);
        EXPECT_TRUE(EndsWithUsedTime(report));
        EXPECT_THAT(report, testing::Contains("Approx. Likelihood Ratio test"));
        // Broken off at the first display, or refused as too large for the
        // extended range.
        if (env.pump.passes == 0)
            EXPECT_THAT(env.messages.shown, ElementsAre(Pair("To many observations", "ERROR")));
        else
            EXPECT_EQ(env.pump.passes, 1);
        EXPECT_TRUE(engine.State().Abandoned);
        ExpectEndStepRan();
    }
}

TEST_F(BadInputsTest, ALongSingleRowIsAnalysedOrBrokenOffWithoutCrash) {
    env.pump.onPass = [this] { engine.BreakOff(); };
    std::vector<std::vector<int>> row(1, std::vector<int>(500, 3));
    const Lines report = Run(row);
    EXPECT_TRUE(EndsWithUsedTime(report));
    ExpectEndStepRan();
}

}  // namespace
}  // namespace kelvorin
