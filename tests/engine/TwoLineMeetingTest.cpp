// The meeting of a two-line table's halves against the enumeration: the
// same counts in every tally and the same masses at the printed precision,
// on two-row and two-column tables, by one thread and by two, with the
// margins widened so that many pairs are evaluated directly; its ways of
// giving the table back and of stopping at a break-off; and the network's
// time limit, which hands such tables to it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "NetworkAlgorithm.h"
#include "ReferenceTables.h"
#include "SamplePointCounter.h"
#include "TwoLineMeeting.h"

namespace kelvorin {
namespace {

using reference::Table;
using reference::Text;

using fakes::SamplePoints;

class TwoLineMeetingTest : public fakes::TallyHarness {
protected:
    static TwoLineMeetingLimits Any() {
        TwoLineMeetingLimits limits;
        limits.MinSamplePoints = 0.0;
        return limits;
    }
    NetworkOutcome Meet(const TwoLineMeetingLimits& limits) {
        return RunTwoLineMeeting(ClearedState(), env.Ports(), limits);
    }
    // The meeting by one thread and by two gives the enumeration's tallies.
    void ExpectMeetingAsEnumerated(const Table& t) {
        SCOPED_TRACE(Text(t));
        const fakes::RunTallies enumerated = Enumerated(t);
        TwoLineMeetingLimits limits = Any();
        for (const unsigned threads : {1u, 2u}) {
            limits.Threads = threads;
            ASSERT_EQ(Meet(limits), NetworkOutcome::Completed);
            ExpectSame(Current(), enumerated);
        }
    }
};

// The table's rows as columns.
Table Transposed(const Table& rows) {
    Table columns(rows[0].size(), std::vector<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[0].size(); ++j) columns[j][i] = rows[i][j];
    return columns;
}

// A table of two rows (or, transposed, two columns) of K lines: line totals
// around MEAN, the first row's share drawn around a half, or each line
// mostly in one row (a strong association).
Table TwoLines(std::mt19937& random, int k, int mean, bool strong, bool transposed) {
    Table rows(2, std::vector<int>(static_cast<std::size_t>(k)));
    for (std::size_t j = 0; j < static_cast<std::size_t>(k); ++j) {
        const int total = 1 + static_cast<int>(random() % static_cast<unsigned>(2 * mean));
        const double share = strong ? (random() % 2 != 0 ? 0.9 : 0.1) : 0.3 + 0.4 * (random() % 1000) / 1000.0;
        const int first = std::binomial_distribution<int>(total, share)(random);
        rows[0][j] = first;
        rows[1][j] = total - first;
    }
    return transposed ? Transposed(rows) : rows;
}

TEST_F(TwoLineMeetingTest, ItGivesTheEnumerationsTalliesOnTwoRowsAndTwoColumns) {
    std::mt19937 random(20261209);
    int met = 0;
    for (int draw = 0; draw < 400 && met < 24; ++draw) {
        const int k = 3 + static_cast<int>(random() % 5);
        const Table t = TwoLines(random, k, 4 + static_cast<int>(random() % 8), draw % 3 == 0, draw % 2 == 1);
        const double points = SamplePoints(t);
        if (points < 200 || points > 3e5) continue;
        ++met;
        ExpectMeetingAsEnumerated(t);
    }
    EXPECT_EQ(met, 24);
}

// Lines of total 1 (their terms tabled for two counts), one line holding
// most of N beside small ones, and lines each wholly in one of the two (the
// terms of counts of 0): as rows and as columns, by one thread and by two.
TEST_F(TwoLineMeetingTest, ItGivesTheEnumerationsTalliesOnLinesOfOneALargeLineAndEmptyCells) {
    const std::vector<Table> tables = {
        {{1, 0, 5, 0, 7, 1}, {0, 1, 3, 1, 2, 0}},
        {{180, 3, 5, 2, 6}, {150, 4, 2, 5, 3}},
        {{0, 9, 1, 12, 0, 8}, {11, 0, 10, 1, 9, 0}},
    };
    for (const Table& rows : tables) {
        ExpectMeetingAsEnumerated(rows);
        ExpectMeetingAsEnumerated(Transposed(rows));
    }
}

TEST_F(TwoLineMeetingTest, PairsNearAnEdgeAreEvaluatedAsTheEnumerationDoes) {
    // Margins a billion times wider send every pair within about 1e-4 of
    // an edge (of a probability's logarithm, or of a statistic) to the
    // direct evaluation; lines of equal totals and counts give many tables
    // of exactly the observed values, and values on both sides of the
    // edges' margins.
    const std::vector<Table> tables = {
        {{3, 3, 3, 3, 3, 3}, {2, 2, 2, 2, 2, 2}},
        {{4, 1, 4, 1, 4}, {1, 4, 1, 4, 1}},
        {{5, 0}, {0, 5}, {5, 0}, {2, 3}, {3, 2}},
        {{6, 2, 9, 1}, {3, 7, 2, 8}},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(Text(t));
        const fakes::RunTallies enumerated = Enumerated(t);
        TwoLineMeetingLimits limits = Any();
        limits.MarginScale = 1e9L;
        limits.Threads = 2;
        ASSERT_EQ(Meet(limits), NetworkOutcome::Completed);
        ExpectSame(Current(), enumerated);
    }
}

TEST_F(TwoLineMeetingTest, ItAppliesToTwoLinesWithinItsLimitsAndGivesUpPastItsDirectEvaluations) {
    AnalysisState& s = engine.State();
    const Table t{{6, 2, 9, 1, 4}, {3, 7, 2, 8, 4}};
    Enumerated(t);
    EXPECT_TRUE(TwoLineMeetingApplies(s, Any()));
    TwoLineMeetingLimits limits = Any();
    limits.MinSamplePoints = SamplePoints(t) + 1;
    EXPECT_FALSE(TwoLineMeetingApplies(s, limits));
    limits = Any();
    limits.MaxFormed = 10;  // (the halves form some hundreds)
    EXPECT_FALSE(TwoLineMeetingApplies(s, limits));
    limits = Any();
    limits.MaxBytes = 1000;
    EXPECT_FALSE(TwoLineMeetingApplies(s, limits));
    EXPECT_GT(TwoLineMeetingSeconds(s, Any()), 0.0);
    EXPECT_EQ(TwoLineMeetingSeconds(s, limits), 0.0);
    // Memory for one thread's lists only: two threads asked for, one runs.
    std::size_t least = 1;
    while (!TwoLineMeetingApplies(s, [&] {
        TwoLineMeetingLimits one = Any();
        one.MaxBytes = least;
        return one;
    }()))
        least *= 2;
    for (std::size_t step = least / 4; step > 0; step /= 2) {
        limits = Any();
        limits.MaxBytes = least - step;
        if (TwoLineMeetingApplies(s, limits)) least -= step;
    }
    limits = Any();
    limits.MaxBytes = least;
    limits.Threads = 2;
    EXPECT_TRUE(TwoLineMeetingApplies(s, limits));
    EXPECT_EQ(Meet(limits), NetworkOutcome::Completed);
    limits.MaxBytes = least - 1;
    EXPECT_FALSE(TwoLineMeetingApplies(s, limits));

    // Too many pairs near an edge: the table is given back, its tallies
    // untouched.
    limits = Any();
    limits.MarginScale = 1e12L;
    limits.MostDirectEvaluations = 5;
    s.ProbabilityTally.LessCount = 7;
    EXPECT_EQ(RunTwoLineMeeting(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_EQ(s.ProbabilityTally.LessCount, 7);
    limits.Threads = 2;
    EXPECT_EQ(RunTwoLineMeeting(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);

    for (const Table& other : {Table{{6, 2}, {3, 7}}, Table{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, Table{{4, 5, 6, 7}}}) {
        SCOPED_TRACE(Text(other));
        Run(other);
        EXPECT_FALSE(TwoLineMeetingApplies(s, Any()));
        EXPECT_EQ(RunTwoLineMeeting(s, env.Ports(), Any()), NetworkOutcome::NeedsEnumeration);
    }
}

TEST_F(TwoLineMeetingTest, ABreakOffKeepsTheTotalsSettled) {
    // Some 70 totals, each shown as it is settled.
    const Table t{{9, 12, 7, 11, 8, 10, 6}, {10, 8, 12, 9, 11, 7, 12}};
    const fakes::RunTallies enumerated = Enumerated(t);
    AnalysisState& s = engine.State();
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        const int before = env.pump.passes;
        env.pump.onPass = [&] {
            if (env.pump.passes - before >= 5) s.Abandoned = true;
        };
        s.Abandoned = false;
        TwoLineMeetingLimits limits = Any();
        limits.Threads = threads;
        // (On two threads the helper may settle every total while this
        // thread waits for the processor, before the break-off.)
        const NetworkOutcome outcome = Meet(limits);
        if (threads == 1) {
            ASSERT_EQ(outcome, NetworkOutcome::BrokenOff);
        } else {
            ASSERT_TRUE(outcome == NetworkOutcome::BrokenOff || outcome == NetworkOutcome::Completed);
        }
        env.pump.onPass = nullptr;
        s.Abandoned = false;
        // Whole totals only: every ordering accounts for the same points,
        // fewer than all where the run was broken off on one thread.
        const fakes::RunTallies got = Current();
        EXPECT_GT(got.Points, 0u);
        if (threads == 1) {
            EXPECT_LT(got.Points, enumerated.Points);
        }
        EXPECT_LE(got.Points, enumerated.Points);
        for (const ExactTally& tally : got.Of)
            EXPECT_EQ(tally.LessCount + tally.EqualCount + tally.GreaterCount, got.Points);
    }
}

TEST_F(TwoLineMeetingTest, TheNetworkGivesUpPastItsTimeAndTheMeetingSettlesTheTable) {
    // A table the network takes some tens of thousands of steps on (the
    // clock is read where it shows progress, every 16,384). On one thread:
    // beside a helper, the analysis's thread may be left fewer steps than
    // that, and so no look at the clock, depending on the scheduling.
    const Table t{{9, 12, 7, 11, 8, 10, 6, 9}, {10, 8, 12, 9, 11, 7, 12, 10}};
    AnalysisState& s = engine.State();
    s.NetworkFrom = 0;
    Run(t);
    ASSERT_TRUE(s.NetworkUsed);
    const fakes::RunTallies network = Current();
    NetworkLimits limits;
    limits.NearMode = limits.FarTail = limits.TwoLines = false;
    limits.MostSeconds = 1e-9;
    limits.PassesBeside = false;
    s.ProbabilityTally = ExactTally{};
    EXPECT_EQ(RunNetworkAlgorithm(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    EXPECT_FALSE(s.Abandoned);
    ASSERT_EQ(Meet(Any()), NetworkOutcome::Completed);
    ExpectSame(Current(), network);
}

}  // namespace
}  // namespace kelvorin
