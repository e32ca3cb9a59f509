// The search of a table's rare side against the enumeration: the same counts
// in every tally and the same masses at the printed precision, on tables
// near independence and far in the tail (where it drops most partial
// tables) and on others; and its ways of giving the table back.
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
#include "RareSideSearch.h"
#include "NetworkAlgorithm.h"
#include "ReferenceTables.h"
#include "SamplePointCounter.h"

namespace kelvorin {
namespace {

using reference::Table;
using reference::Text;

using fakes::SamplePoints;

using Tallies = fakes::RunTallies;

class RareSideSearchTest : public fakes::TallyHarness {
protected:
    // Any table qualifies; the search gives up past maxSteps.
    NetworkOutcome Search(std::uint64_t maxSteps) {
        NearModeLimits limits;
        limits.MinSamplePoints = 0.0;
        limits.MaxRareEstimate = std::numeric_limits<double>::infinity();
        limits.MaxSteps = maxSteps;
        return RunNearModeSearch(ClearedState(), env.Ports(), limits);
    }
    // The same far in the tail: any table qualifies.
    NetworkOutcome FarSearch(std::uint64_t maxSteps) {
        FarTailLimits limits;
        limits.MinSamplePoints = 0.0;
        limits.MaxTailP = limits.MaxBoundWork = std::numeric_limits<double>::infinity();
        limits.LeastSteps = limits.MaxSteps = maxSteps;
        return RunFarTailSearch(ClearedState(), env.Ports(), limits);
    }
    // Draws tables by make(random) (an empty one is not taken) until
    // `wanted` have from least to most sample points, at most `tries`
    // draws; hands each to check with the enumeration's tallies.
    template <class Make, class Check>
    void ForEnumerableTables(unsigned seed, int tries, int wanted, double least, double most, Make make, Check check) {
        std::mt19937 random(seed);
        int found = 0;
        for (int k = 0; k < tries && found < wanted; ++k) {
            const Table t = make(random);
            if (t.empty() || SamplePoints(t) < least || SamplePoints(t) > most) continue;
            ++found;
            SCOPED_TRACE(Text(t));
            check(Enumerated(t));
        }
        EXPECT_EQ(found, wanted);
    }
    // Runs SEARCH with a break-off at the AT-th progress display: it ends
    // broken off, after AT displays, with no sample point accounted for.
    // Returns the status texts it showed.
    template <class Search>
    std::vector<std::string> BrokenOffAt(int at, Search search) {
        AnalysisState& s = engine.State();
        const int before = env.pump.passes;
        env.pump.onPass = [&] {
            if (env.pump.passes - before >= at) s.Abandoned = true;
        };
        s.Abandoned = false;
        env.status.texts.clear();
        EXPECT_EQ(search(), NetworkOutcome::BrokenOff);
        EXPECT_EQ(s.SamplePointCount, 0u);
        EXPECT_EQ(env.pump.passes - before, at);
        env.pump.onPass = nullptr;
        s.Abandoned = false;
        return env.status.texts;
    }
    // The network alone (both searches off) on the state of the last run.
    Tallies NetworkAlone() {
        NetworkLimits limits;
        limits.NearMode = limits.FarTail = false;
        EXPECT_EQ(RunNetworkAlgorithm(ClearedState(), env.Ports(), limits), NetworkOutcome::Completed);
        return Current();
    }
    // The analysis of the table, which tries the searches before the
    // network, against the network alone: the same tallies, returned.
    Tallies AnalysedAsByTheNetworkAlone(const Table& t) {
        engine.State().NetworkFrom = 0;
        Run(t);
        EXPECT_TRUE(engine.State().NetworkUsed);
        const Tallies analysed = Current();
        const Tallies network = NetworkAlone();
        ExpectSame(analysed, network);
        return network;
    }
};


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
TEST_F(RareSideSearchTest, TablesNearIndependenceGetTheEnumerationsTalliesFromFewOfTheirTables) {
    auto make = [](std::mt19937& random) {
        const int rows = 2 + static_cast<int>(random() % 3), cols = 3 + static_cast<int>(random() % 2);
        return NearIndependence(random, rows, cols, rows * cols > 9 ? 2 : 3);
    };
    ForEnumerableTables(90210u, 60, 10, 10'000, 300'000, make, [&](const Tallies& enumerated) {
        ASSERT_EQ(Search(enumerated.Points), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
    });
}

// With steps enough for every table the search settles any table, near the
// mode or not: every table's class comes from its direct evaluation, and
// every dropped partial table is in the dominant classes.
TEST_F(RareSideSearchTest, AnyTableGetsTheEnumerationsTalliesGivenStepsEnough) {
    auto make = [](std::mt19937& random) {
        const int rows = 2 + static_cast<int>(random() % 3), cols = 3 + static_cast<int>(random() % 2);
        Table t(static_cast<std::size_t>(rows), std::vector<int>(static_cast<std::size_t>(cols)));
        for (auto& row : t)
            for (int& v : row) v = static_cast<int>(random() % 6);
        const std::vector<int> rowTotals = reference::RowTotals(t), colTotals = reference::ColTotals(t);
        const bool empty = std::count(rowTotals.begin(), rowTotals.end(), 0) + std::count(colTotals.begin(), colTotals.end(), 0) > 0;
        return empty ? Table{} : t;
    };
    ForEnumerableTables(1234u, 200, 15, 1'000, 20'000, make, [&](const Tallies& enumerated) {
        const std::uint64_t any = std::numeric_limits<std::uint64_t>::max();
        ASSERT_EQ(Search(any), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
        ASSERT_EQ(FarSearch(any), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
    });
}

// A table of strong association: each row's counts mostly in one column
// (of a random permutation), a few strays.
Table Associated(std::mt19937& random, int rows, int cols, int scale, int strays) {
    Table t(static_cast<std::size_t>(rows), std::vector<int>(static_cast<std::size_t>(cols)));
    std::vector<int> column(static_cast<std::size_t>(std::max(rows, cols)));
    for (std::size_t j = 0; j < column.size(); ++j) column[j] = static_cast<int>(j % static_cast<std::size_t>(cols));
    std::shuffle(column.begin(), column.end(), random);
    for (int i = 0; i < rows; ++i)
        t[static_cast<std::size_t>(i)][static_cast<std::size_t>(column[static_cast<std::size_t>(i)])] =
            scale + static_cast<int>(random() % 3);
    for (int k = 0; k < strays; ++k) ++t[random() % static_cast<unsigned>(rows)][random() % static_cast<unsigned>(cols)];
    // (Every column holds a count: the margins are positive.)
    for (int j = 0; j < cols; ++j) {
        int total = 0;
        for (int i = 0; i < rows; ++i) total += t[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
        if (total == 0) t[random() % static_cast<unsigned>(rows)][static_cast<std::size_t>(j)] = 1;
    }
    return t;
}

// Tables of strong association, enumerable here: far in the tail the search
// evaluates few of them (it is allowed a tenth of their number in steps, a
// table evaluated costing 32) and counts every class exactly; near the mode
// it could not.
TEST_F(RareSideSearchTest, TablesFarInTheTailGetTheEnumerationsTalliesFromFewOfTheirTables) {
    auto make = [](std::mt19937& random) {
        const int rows = 3 + static_cast<int>(random() % 2), cols = 3 + static_cast<int>(random() % 2);
        return Associated(random, rows, cols, 4 + static_cast<int>(random() % 6), static_cast<int>(random() % 3));
    };
    ForEnumerableTables(4711u, 300, 12, 100'000, 3'000'000, make, [&](const Tallies& enumerated) {
        ASSERT_EQ(FarSearch(enumerated.Points / 10), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
        EXPECT_EQ(Search(enumerated.Points / 10), NetworkOutcome::NeedsEnumeration);
    });
}

// Rows of equal totals, all in the diagonal: the tables at least as extreme
// in every ordering are the diagonal's 4! = 24 permutations, each as probable
// as the observed one, and every other table is more probable with smaller
// statistics. On the table of 30s (7.2e9 sample points) the search with its
// default limits finds those classes and the network's tallies; the
// analysis, which tries it, reports them.
TEST_F(RareSideSearchTest, DiagonalTablesFarInTheTailHaveTheirPermutationsOnTheRareSide) {
    const Table diagonal{{30, 0, 0, 0}, {0, 30, 0, 0}, {0, 0, 30, 0}, {0, 0, 0, 30}};
    const Tallies network = AnalysedAsByTheNetworkAlone(diagonal);
    AnalysisState& s = engine.State();
    ASSERT_EQ(RunFarTailSearch(ClearedState(), env.Ports()), NetworkOutcome::Completed);
    const Tallies searched = Current();
    ExpectSame(searched, network);
    const ExactTally& probability = searched.Of[0];
    EXPECT_EQ(probability.LessCount, 0);
    EXPECT_EQ(probability.EqualCount, 24);
    EXPECT_NEAR(probability.EqualMass, 24 * s.ObservedProbability, 1e-12 * probability.EqualMass);
    for (const ExactTally& statistic : {searched.Of[1], searched.Of[2]}) {
        EXPECT_EQ(statistic.GreaterCount, 0);
        EXPECT_EQ(statistic.EqualCount, 24);
        EXPECT_EQ(statistic.LessCount + 24, searched.Points);
    }
}

// A table equal to its expected counts has both statistics exactly 0, and
// only itself is equal to it in either: the search takes it like any table
// at the mode, as the enumeration counts it; one of 5.6e13 sample points
// (beyond any enumeration) gets the same classes from the search with its
// default limits.
TEST_F(RareSideSearchTest, TablesEqualToTheirExpectedCountsAreSearchedWithStatisticsOfZero) {
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
    ASSERT_EQ(RunNearModeSearch(ClearedState(), env.Ports()), NetworkOutcome::Completed);
    const Tallies searched = Current();
    EXPECT_EQ(static_cast<double>(searched.Points), SamplePoints(even));
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
TEST_F(RareSideSearchTest, ItGivesUpPastItsStepsAndStopsAtABreakOff) {
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
        s.ExpectedSamplePoints = 0.0;  // (as where the count beforehand stopped short)
        s.ExpectedPointsExact = false;
        const auto texts = BrokenOffAt(at, [&] { return Search(std::numeric_limits<std::uint64_t>::max()); });
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(at));
        EXPECT_EQ(texts.front(), "0  Click to break");  // no total known yet: none named
        if (at == 2) {
            EXPECT_EQ(texts.back(), "0 of " + std::to_string(static_cast<std::uint64_t>(SamplePoints(near))) +
                                        "  Click to break");
        }
    }
}

// With the default limits: a table of 3.5e9 sample points near
// independence qualifies and gets the network's tallies (the analysis, which
// tries the search first, reports them too); one whose statistics put it far
// from the mode (large-sample p values near 0.01) is left to the network.
TEST_F(RareSideSearchTest, LargeTablesNearTheModeOnlyQualify) {
    const Table t{{6, 8, 7}, {7, 9, 7}, {5, 7, 8}, {6, 9, 8}, {12, 17, 16}};
    const Tallies network = AnalysedAsByTheNetworkAlone(t);
    EXPECT_EQ(network.Points, 3'471'623'261u);  // counted apart from the program, row by row
    AnalysisState& s = engine.State();
    ASSERT_EQ(RunNearModeSearch(ClearedState(), env.Ports()), NetworkOutcome::Completed);
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

// Far in the tail: a table near the mode, one too small, and one whose
// bounds would take too long to table are not begun; past its steps the
// search gives the table back as it found it; a break-off during the
// search, or during the count of the total after it, ends it with no
// sample point accounted for.
TEST_F(RareSideSearchTest, FarInTheTailItQualifiesByItsLimitsGivesUpAndStopsAtABreakOff) {
    AnalysisState& s = engine.State();
    s.NetworkFrom = 0;
    Run({{6, 8, 7}, {7, 9, 7}, {5, 7, 8}, {6, 9, 8}, {12, 17, 16}});
    env.status.texts.clear();
    EXPECT_EQ(RunFarTailSearch(s, env.Ports()), NetworkOutcome::NeedsEnumeration);
    const Table diagonal{{30, 0, 0, 0}, {0, 30, 0, 0}, {0, 0, 30, 0}, {0, 0, 0, 30}};
    Run(diagonal);
    env.status.texts.clear();
    FarTailLimits limits;
    limits.MinSamplePoints = 1e11;  // (3.4e10 points)
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    limits = FarTailLimits{};
    limits.MaxBoundWork = 120.0 * 120.0 - 1.0;
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    limits = FarTailLimits{};
    limits.MaxBoxPoints = 31 * 31 * 31 * 31 - 1;  // (the count's box: 31^4 points)
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_TRUE(env.status.texts.empty());
    limits.MaxBoxPoints = 31 * 31 * 31 * 31;
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::Completed);

    const Table strays{{9, 1, 0, 1}, {0, 9, 1, 0}, {1, 0, 10, 1}};
    const Tallies enumerated = Enumerated(strays);
    ASSERT_EQ(FarSearch(std::numeric_limits<std::uint64_t>::max()), NetworkOutcome::Completed);
    ExpectSame(Current(), enumerated);
    s.ProbabilityTally.LessCount = 7;
    s.SamplePointCount = 11;
    // The steps allowed grow with the sample points: 50 of them, then as
    // many as points, then again at most 50, or at least as many as points.
    ASSERT_TRUE(s.ExpectedPointsExact);
    limits = FarTailLimits{};
    limits.LeastSteps = 0;
    limits.StepsPerPoint = 50.0 / s.ExpectedSamplePoints;
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_EQ(s.ProbabilityTally.LessCount, 7);
    EXPECT_EQ(s.SamplePointCount, 11u);
    limits.StepsPerPoint = 1.0;
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::Completed);
    ExpectSame(Current(), enumerated);
    limits.MaxSteps = 50;
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    limits.StepsPerPoint = 0.0;
    limits.LeastSteps = limits.MaxSteps = static_cast<std::uint64_t>(s.ExpectedSamplePoints);
    EXPECT_EQ(RunFarTailSearch(s, env.Ports(), limits), NetworkOutcome::Completed);

    // The search near independence has most tables on its rare side: broken
    // off at its first progress and at its second. The diagonal's search
    // shows none: broken off at the count's.
    const Table near{{8, 5, 6, 10}, {8, 6, 5, 9}, {2, 1, 1, 3}, {3, 3, 3, 2}};
    for (const auto& [t, at] : {std::pair{near, 1}, std::pair{near, 2}, std::pair{diagonal, 1}}) {
        s.NetworkFrom = 0;
        Run(t);
        const auto shown = static_cast<std::uint64_t>(s.ExpectedSamplePoints);
        ASSERT_EQ(static_cast<WideCount>(shown), s.SamplePointCount);
        const auto texts = BrokenOffAt(at, [&] { return FarSearch(std::numeric_limits<std::uint64_t>::max()); });
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(at));
        // (The count known before: after the analysis, the total.)
        EXPECT_EQ(texts.back(), "0 of " + std::to_string(shown) + "  Click to break");
    }
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
