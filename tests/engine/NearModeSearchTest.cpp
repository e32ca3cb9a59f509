// The search of a table's rare side against the enumeration: the same counts
// in every tally and the same masses at the printed precision, on tables
// near independence (where it drops most partial tables) and on others;
// and its ways of giving the table back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "NearModeSearch.h"
#include "NetworkAlgorithm.h"
#include "ReferenceTables.h"
#include "SamplePointCounter.h"

namespace kelvorin {
namespace {

using reference::Table;
using reference::Text;

struct Tallies {
    ExactTally Of[3];
    WideCount Points = 0;
};

class NearModeSearchTest : public fakes::EngineHarness {
protected:
    void SetUp() override {
        Options() = fakes::NoSections();
        Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    }
    Tallies Current() const {
        const AnalysisState& s = engine.State();
        return {{s.ProbabilityTally, s.G2Tally, s.X2Tally}, s.SamplePointCount};
    }
    // The enumeration's tallies, the state left ready for the search.
    Tallies Enumerated(const Table& t) {
        engine.State().NetworkFrom = std::numeric_limits<std::uint64_t>::max();
        Run(t);
        EXPECT_FALSE(engine.State().NetworkUsed);
        return Current();
    }
    // Any table qualifies; the search gives up past maxSteps.
    NetworkOutcome Search(std::uint64_t maxSteps) {
        NearModeLimits limits;
        limits.MinSamplePoints = 0.0;
        limits.MaxRareEstimate = std::numeric_limits<double>::infinity();
        limits.MaxSteps = maxSteps;
        AnalysisState& s = engine.State();
        s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
        s.SamplePointCount = 0;
        return RunNearModeSearch(s, env.Ports(), limits);
    }
    void ExpectSame(const Tallies& got, const Tallies& enumerated) {
        EXPECT_EQ(got.Points, enumerated.Points);
        fakes::ExpectSameTallies(got.Of, enumerated.Of, enumerated.Points);
    }
};

double Points(const Table& t) { return CountTwoWaySamplePoints(reference::RowTotals(t), reference::ColTotals(t)).Count; }

// A table close to its expected counts: row and column weights, each cell
// their product, nudged by at most one.
Table NearIndependence(std::mt19937& random, int rows, int cols, int scale) {
    Table t(static_cast<std::size_t>(rows), std::vector<int>(static_cast<std::size_t>(cols)));
    std::vector<int> a(static_cast<std::size_t>(rows)), b(static_cast<std::size_t>(cols));
    for (int& w : a) w = 1 + static_cast<int>(random() % 3);
    for (int& w : b) w = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const int nudge = static_cast<int>(random() % 3) - 1;
            t[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] =
                std::max(0, a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>(j)] * scale / 2 + nudge);
        }
    return t;
}

// Tables near independence, enumerable here: the search evaluates a small
// part of them (it is allowed as many steps as there are sample points, and
// each table it evaluates costs 32) and counts them exactly.
TEST_F(NearModeSearchTest, TablesNearIndependenceGetTheEnumerationsTalliesFromFewOfTheirTables) {
    std::mt19937 random(90210u);
    int searched = 0;
    for (int k = 0; k < 60 && searched < 10; ++k) {
        const int rows = 2 + static_cast<int>(random() % 3), cols = 3 + static_cast<int>(random() % 2);
        const Table t = NearIndependence(random, rows, cols, rows * cols > 9 ? 2 : 3);
        if (Points(t) < 10'000 || Points(t) > 300'000) continue;
        SCOPED_TRACE(Text(t));
        const Tallies enumerated = Enumerated(t);
        ++searched;
        ASSERT_EQ(Search(enumerated.Points), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
    }
    EXPECT_EQ(searched, 10);
}

// With steps enough for every table the search settles any table, near the
// mode or not: every table's class comes from its direct evaluation, and
// every dropped partial table is in the dominant classes.
TEST_F(NearModeSearchTest, AnyTableGetsTheEnumerationsTalliesGivenStepsEnough) {
    std::mt19937 random(1234u);
    int searched = 0;
    for (int k = 0; k < 200 && searched < 15; ++k) {
        const int rows = 2 + static_cast<int>(random() % 3), cols = 3 + static_cast<int>(random() % 2);
        Table t(static_cast<std::size_t>(rows), std::vector<int>(static_cast<std::size_t>(cols)));
        for (auto& row : t)
            for (int& v : row) v = static_cast<int>(random() % 6);
        const std::vector<int> rowTotals = reference::RowTotals(t), colTotals = reference::ColTotals(t);
        if (std::count(rowTotals.begin(), rowTotals.end(), 0) + std::count(colTotals.begin(), colTotals.end(), 0) > 0) continue;
        if (Points(t) < 1'000 || Points(t) > 20'000) continue;
        ++searched;
        SCOPED_TRACE(Text(t));
        const Tallies enumerated = Enumerated(t);
        ASSERT_EQ(Search(std::numeric_limits<std::uint64_t>::max()), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
    }
    EXPECT_EQ(searched, 15);
}

// A table equal to its expected counts has both statistics exactly 0, and
// only itself is equal to it in either: the search takes it like any table
// at the mode, as the enumeration counts it; one of 5.6e13 sample points
// (beyond any enumeration) gets the same classes from the search with its
// default limits.
TEST_F(NearModeSearchTest, TablesEqualToTheirExpectedCountsAreSearchedWithStatisticsOfZero) {
    for (const Table& t : {Table{{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, Table{{1, 2, 3}, {2, 4, 6}, {1, 2, 3}},
                           Table{{3, 3, 3}, {3, 3, 3}, {3, 3, 3}, {3, 3, 3}}, Table{{2, 4}, {1, 2}, {3, 6}}}) {
        SCOPED_TRACE(Text(t));
        const Tallies enumerated = Enumerated(t);
        ASSERT_EQ(engine.State().G2, 0.0);
        ASSERT_EQ(engine.State().X2, 0.0);
        ASSERT_EQ(Search(std::numeric_limits<std::uint64_t>::max()), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
        const Tallies searched = Current();
        for (const ExactTally& statistic : {searched.Of[1], searched.Of[2]}) {
            EXPECT_EQ(statistic.EqualCount, 1);
            EXPECT_EQ(statistic.LessCount, 0);
        }
    }

    // (The run, enumerating, is broken off at once: it only prepares the
    // state.)
    const Table even(5, std::vector<int>(6, 2));
    AnalysisState& s = engine.State();
    s.NetworkFrom = std::numeric_limits<std::uint64_t>::max();
    env.pump.onPass = [&] { s.Abandoned = true; };
    Run(even);
    ASSERT_EQ(s.G2, 0.0);
    ASSERT_EQ(s.X2, 0.0);
    s.Abandoned = false;
    env.pump.onPass = nullptr;
    s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
    ASSERT_EQ(RunNearModeSearch(s, env.Ports()), NetworkOutcome::Completed);
    const Tallies searched = Current();
    EXPECT_EQ(static_cast<double>(searched.Points), Points(even));
    for (const ExactTally& statistic : {searched.Of[1], searched.Of[2]}) {
        EXPECT_EQ(statistic.EqualCount, 1);
        EXPECT_EQ(statistic.LessCount, 0);
        EXPECT_EQ(static_cast<std::uint64_t>(statistic.GreaterCount), searched.Points - 1);
        EXPECT_DOUBLE_EQ(statistic.EqualMass, s.ObservedProbability);
    }
    // The observed table is the mode: no table is more probable.
    EXPECT_EQ(searched.Of[0].GreaterCount, 0);
}

// Far from the mode the rare side is most of the tables: past its steps the
// search gives the table back with the tallies as it found them; and a
// break-off ends it with no sample point accounted for.
TEST_F(NearModeSearchTest, ItGivesUpPastItsStepsAndStopsAtABreakOff) {
    const Table far{{9, 1, 1, 1}, {1, 9, 1, 1}, {1, 1, 9, 1}};
    const Tallies enumerated = Enumerated(far);
    AnalysisState& s = engine.State();
    NearModeLimits limits;
    limits.MinSamplePoints = limits.MaxRareEstimate = std::numeric_limits<double>::infinity();
    limits.MaxSteps = enumerated.Points / 10;
    s.ProbabilityTally.LessCount = 7;
    s.SamplePointCount = 11;
    EXPECT_EQ(RunNearModeSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_EQ(s.ProbabilityTally.LessCount, 7);
    EXPECT_EQ(s.SamplePointCount, 11u);

    // (Some 160,000 steps: the progress shows every 16,384.)
    const Table near{{8, 5, 6, 10}, {8, 6, 5, 9}, {2, 1, 1, 3}, {3, 3, 3, 2}};
    engine.State().NetworkFrom = 0;
    Run(near);
    // (Outside a run the engine's break-off is a no-op: the click it stands
    // for sets the flag the search watches.) The count of its total shows
    // progress first (once on so small a box), then the search: broken off
    // at the search's first progress, and at the count's.
    for (const int at : {2, 1}) {
        const int before = env.pump.passes;
        env.pump.onPass = [&] {
            if (env.pump.passes - before >= at) s.Abandoned = true;
        };
        s.Abandoned = false;
        env.status.texts.clear();
        s.ExpectedSamplePoints = 0.0;  // (as where the count beforehand stopped short)
        s.ExpectedPointsExact = false;
        EXPECT_EQ(Search(std::numeric_limits<std::uint64_t>::max()), NetworkOutcome::BrokenOff);
        EXPECT_EQ(s.SamplePointCount, 0u);
        EXPECT_EQ(env.pump.passes - before, at);
        ASSERT_EQ(env.status.texts.size(), static_cast<std::size_t>(at));
        EXPECT_EQ(env.status.texts.front(), "0 of 0  Click to break");
        if (at == 2) {
            EXPECT_EQ(env.status.texts.back(), "0 of " + std::to_string(static_cast<std::uint64_t>(Points(near))) +
                                                   "  Click to break");
        }
    }
    env.pump.onPass = nullptr;
    s.Abandoned = false;
}

// With the default limits: a table of 3.5e9 sample points near
// independence qualifies and gets the network's tallies (the analysis, which
// tries the search first, reports them too); one whose statistics put it far
// from the mode (large-sample p values near 0.01) is left to the network.
TEST_F(NearModeSearchTest, LargeTablesNearTheModeOnlyQualify) {
    const Table t{{6, 8, 7}, {7, 9, 7}, {5, 7, 8}, {6, 9, 8}, {12, 17, 16}};
    engine.State().NetworkFrom = 0;
    Run(t);
    ASSERT_TRUE(engine.State().NetworkUsed);
    const Tallies analysed = Current();
    EXPECT_EQ(analysed.Points, 3'471'623'261u);  // counted apart from the program, row by row
    AnalysisState& s = engine.State();
    NetworkLimits networkOnly;
    networkOnly.NearMode = false;
    s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
    ASSERT_EQ(RunNetworkAlgorithm(s, env.Ports(), networkOnly), NetworkOutcome::Completed);
    const Tallies network = Current();
    ExpectSame(analysed, network);
    s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
    ASSERT_EQ(RunNearModeSearch(s, env.Ports()), NetworkOutcome::Completed);
    ExpectSame(Current(), network);
    // Its count's box (88,689 points) past the memory budget: not begun.
    const std::size_t budget = s.NetworkMemory;
    s.NetworkMemory = 64 << 10;
    env.status.texts.clear();
    EXPECT_EQ(RunNearModeSearch(s, env.Ports()), NetworkOutcome::NeedsEnumeration);
    EXPECT_TRUE(env.status.texts.empty());
    s.NetworkMemory = budget;

    // 8 degrees of freedom: p about 0.01, so about 0.99 / 4.5e-6 = 2e5 tables
    // on the rare side. The search is not begun (it would show its progress
    // before giving up).
    s.G2 = s.X2 = 20.0;
    NearModeLimits limits;
    limits.MaxSteps = 20'000;
    env.status.texts.clear();
    EXPECT_EQ(RunNearModeSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_TRUE(env.status.texts.empty());
}

// The bound on the count that spares the search's exact count where the
// count beforehand stopped short: never below the count (random margins,
// either way round), below the search's least count on the two 4 x 4
// benchmark tables, above it on the table of 3.5e9 points above; far too
// many saturate.
TEST(TablesAtMost, BoundsTheCountAndRulesOutTheBenchmarkTables) {
    std::mt19937 random(777u);
    for (int k = 0; k < 300; ++k) {
        std::vector<int> rows(2 + random() % 4), cols(2 + random() % 4);
        int sum = 0;
        for (int& r : rows) sum += r = 1 + static_cast<int>(random() % 15);
        for (std::size_t j = 0; j + 1 < cols.size(); ++j) {
            cols[j] = 1 + static_cast<int>(random() % static_cast<unsigned>(std::max(1, sum / 2)));
            sum -= cols[j];
        }
        cols.back() = sum;
        if (sum < 1) continue;
        const SamplePointEstimate e = CountTwoWaySamplePoints(rows, cols);
        ASSERT_TRUE(e.Exact);
        EXPECT_GE(TablesAtMost(rows, cols), e.Count);
        EXPECT_EQ(TablesAtMost(rows, cols), TablesAtMost(cols, rows));
    }
    const NearModeLimits limits;
    EXPECT_LT(TablesAtMost({20, 22, 33, 21}, {4, 13, 43, 36}), limits.MinSamplePoints);
    EXPECT_LT(TablesAtMost({14, 14, 14, 14}, {14, 14, 14, 14}), limits.MinSamplePoints);
    EXPECT_GE(TablesAtMost({21, 23, 20, 23, 45}, {36, 50, 46}), limits.MinSamplePoints);
    // Twenty rows and columns of 50: some 10^17 choices a column, far past
    // the range of a double in all, without an overflow raised.
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_GE(TablesAtMost(std::vector<int>(20, 50), std::vector<int>(20, 50)), 1e300);
    EXPECT_FALSE(std::fetestexcept(FE_OVERFLOW | FE_INVALID | FE_DIVBYZERO));
}

}  // namespace
}  // namespace kelvorin
