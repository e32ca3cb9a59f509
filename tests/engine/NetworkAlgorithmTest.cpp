// The network algorithm against the enumeration: the same counts in every
// tally, the same masses at the printed precision, the same report; and the
// ways it hands a table back to the enumeration.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "NetworkAlgorithm.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using reference::Table;
using reference::Text;

using fakes::RunOutcome;

class NetworkAlgorithmTest : public fakes::TallyHarness {
protected:
    // The network alone on the state an analysis prepared, with the given
    // limits: its outcome and the three tallies.
    NetworkOutcome Settle(const NetworkLimits& limits, ExactTally (&tallies)[3]) {
        AnalysisState& s = engine.State();
        s.Abandoned = false;
        s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
        const NetworkOutcome outcome = RunNetworkAlgorithm(s, env.Ports(), limits);
        tallies[0] = s.ProbabilityTally;
        tallies[1] = s.G2Tally;
        tallies[2] = s.X2Tally;
        return outcome;
    }
    bool ExpectSameAsEnumeration(const Table& t) {
        SCOPED_TRACE(Text(t));
        return TallyHarness::ExpectSameAsEnumeration(t);
    }
    // Runs the network under each of the limits; every run that completes
    // must give the enumeration's counts and masses. Returns how many did.
    int ExpectSameUnder(const Table& t, const std::vector<NetworkLimits>& all) {
        SCOPED_TRACE(Text(t));
        const fakes::RunTallies enumerated = Enumerated(t);
        engine.State().NetworkFrom = 0;
        int completed = 0;
        for (const NetworkLimits& limits : all) {
            if (RunNetworkAlgorithm(ClearedState(), env.Ports(), limits) != NetworkOutcome::Completed) continue;
            ++completed;
            const fakes::RunTallies got = Current();
            EXPECT_EQ(got.Points, enumerated.Points);
            fakes::ExpectTalliesWithin(got.Of, enumerated.Of, 1e-9);
        }
        return completed;
    }
};

Table RandomTable(std::mt19937& random, int most = 22) {
    for (;;) {
        const int r = 2 + static_cast<int>(random() % 4), c = 3 + static_cast<int>(random() % 3);
        const int spread = 1 + static_cast<int>(random() % 6);
        Table t(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (auto& row : t)
            for (int& v : row) v = static_cast<int>(random() % static_cast<unsigned>(spread + 1));
        bool empty = false;
        for (const auto& row : t) empty |= std::all_of(row.begin(), row.end(), [](int v) { return v == 0; });
        for (int j = 0; j < c; ++j) {
            int sum = 0;
            for (const auto& row : t) sum += row[static_cast<std::size_t>(j)];
            empty |= sum == 0;
        }
        int n = 0;
        for (const auto& row : t)
            for (int v : row) n += v;
        if (!empty && n <= most) return t;
    }
}

TEST_F(NetworkAlgorithmTest, RandomTablesGetTheEnumerationsCountsMassesAndReport) {
    std::mt19937 random(77031u);
    int settled = 0;
    const int tables = 60;
    for (int k = 0; k < tables; ++k) settled += ExpectSameAsEnumeration(RandomTable(random));
    // Handing a table back is for values within rounding of a band edge.
    EXPECT_GE(settled, tables - 3);
}

// Every way of settling the partial tables at a node gives the same counts:
// lists of completions everywhere, nodes of two columns settled one table at
// a time everywhere (with the partial tables merged in blocks that fetch
// ahead), and the default mix; Pearson's ordering in floating point in all
// three, and on its integer lattice; the nodes' totals kept line by line,
// as for tables whose totals do not fit in a word; and no node keeping its
// children, each pass forming them again.
TEST_F(NetworkAlgorithmTest, EveryWayOfSettlingANodeGivesTheEnumerationsTallies) {
    NetworkLimits listed, direct, floating, unpacked, unpackedFloating, unkept;
    listed.ListedNode = std::numeric_limits<std::uint64_t>::max();
    listed.DirectPerEntry = std::numeric_limits<std::uint64_t>::max();
    direct.ListedNode = 0;
    direct.DirectPerEntry = 0;
    direct.FetchAheadFrom = 0;
    listed.Lattice = direct.Lattice = floating.Lattice = unpackedFloating.Lattice = false;
    unpacked.PackedKeys = unpackedFloating.PackedKeys = false;
    unkept.KeptChildren = 0;
    unkept.Lattice = false;
    std::mt19937 random(5113u);
    for (int k = 0; k < 25; ++k)
        EXPECT_EQ(ExpectSameUnder(RandomTable(random, 34),
                                  {listed, direct, floating, NetworkLimits{}, unpacked, unpackedFloating, unkept}),
                  7);
}

// Larger totals: many partial tables per node and per column choice, each
// child gathering them from many parents (with no completions listed, every
// child is reached that way). A node with two columns left whose
// completions cannot be listed (past the limit of listed completions) is
// settled one complete table at a time even where that is the slower way.
TEST_F(NetworkAlgorithmTest, ManyPartialTablesGatheredAtEachChildAgree) {
    NetworkLimits unlisted, unlistedNotDirect, unkept;
    unkept.KeptChildren = 0;
    unlisted.ListedNode = unlistedNotDirect.ListedNode = 0;
    unlisted.FetchAheadFrom = 0;  // merged in blocks that fetch ahead
    unlisted.DirectPerEntry = 0;
    unlistedNotDirect.DirectPerEntry = std::numeric_limits<std::uint64_t>::max();
    unlisted.Lattice = unlistedNotDirect.Lattice = false;
    const std::vector<Table> tables{{{12, 8, 5, 9}, {7, 11, 10, 4}, {6, 9, 13, 8}},
                                    {{6, 4, 3, 5}, {4, 6, 5, 2}, {3, 5, 7, 4}},
                                    {{7, 4, 2, 5, 3}, {3, 6, 5, 2, 4}, {2, 3, 6, 4, 5}}};
    for (const Table& t : tables)
        EXPECT_EQ(ExpectSameUnder(t, {unlisted, unlistedNotDirect, NetworkLimits{}, unkept}), 4);
}

// The passes shared between two threads give bit for bit the tallies of
// the passes in turn, with all three tests and with the default two. Where
// a pass does not fit its half of the memory (the budget the passes in turn
// need at least, of which half does not serve), it is settled again alone,
// with the same result.
TEST_F(NetworkAlgorithmTest, ThePassesBesideEachOtherGiveWhatThePassesInTurnGive) {
    AnalysisState& s = engine.State();
    // (After an analysis of the table has prepared the state.)
    auto run = [&](bool beside, std::size_t bytes, ExactTally (&tallies)[3], bool lattice = true,
                   std::size_t chunk = NetworkLimits{}.GatherChunk) {
        NetworkLimits limits;
        limits.Lattice = lattice;
        limits.PassesBeside = beside;
        limits.MaxBytes = bytes;
        limits.GatherChunk = chunk;
        return Settle(limits, tallies);
    };
    std::mt19937 random(9122026u);
    std::vector<Table> tables{{{5, 6, 7, 8}, {8, 7, 6, 5}, {3, 4, 6, 5}},
                              {{3, 4, 5, 2}, {4, 3, 2, 5}, {5, 2, 3, 4}, {2, 5, 4, 3}}};
    for (int k = 0; k < 6; ++k) tables.push_back(RandomTable(random, 40));
    for (const Table& t : tables) {
        SCOPED_TRACE(Text(t));
        for (const bool pearson : {true, false}) {
            Options().ExaCStest = pearson;
            RunFrom(t, 0);
            ExactTally inTurn[3], beside[3];
            if (run(false, kDefaultNetworkMemory, inTurn) != NetworkOutcome::Completed) continue;
            const WideCount points = s.SamplePointCount;
            ASSERT_EQ(run(true, kDefaultNetworkMemory, beside), NetworkOutcome::Completed);
            EXPECT_EQ(s.SamplePointCount, points);
            fakes::ExpectTalliesWithin(beside, inTurn, 0.0);
            // Every child a chunk of its own: the side whose passes end
            // first gathers chunks of the other's stages, which appends
            // them in order (with all three tests, this side's Pearson pass
            // in floating point has most of them).
            ASSERT_EQ(run(false, kDefaultNetworkMemory, inTurn, !pearson), NetworkOutcome::Completed);
            ASSERT_EQ(run(true, kDefaultNetworkMemory, beside, !pearson, 1), NetworkOutcome::Completed);
            EXPECT_EQ(s.SamplePointCount, points);
            fakes::ExpectTalliesWithin(beside, inTurn, 0.0);
        }
    }
    // The least budget the passes in turn complete with, by bisection; the
    // floating-point pass of Pearson's ordering may be the one that needs
    // it, or the likelihood ratio's.
    Options().ExaCStest = true;
    for (const Table& t : tables) {
        SCOPED_TRACE(Text(t));
        RunFrom(t, 0);
        for (const bool lattice : {true, false}) {
            ExactTally inTurn[3], beside[3];
            if (run(false, kDefaultNetworkMemory, inTurn, lattice) != NetworkOutcome::Completed) continue;
            std::size_t fails = 0, serves = kDefaultNetworkMemory;
            while (serves - fails > 1) {
                const std::size_t middle = fails + (serves - fails) / 2;
                (run(false, middle, inTurn, lattice) == NetworkOutcome::Completed ? serves : fails) = middle;
            }
            if (serves == 1) continue;  // (nothing held)
            ASSERT_EQ(run(false, serves / 2, inTurn, lattice), NetworkOutcome::NeedsEnumeration);
            ASSERT_EQ(run(false, serves, inTurn, lattice), NetworkOutcome::Completed);
            ASSERT_EQ(run(true, serves, beside, lattice), NetworkOutcome::Completed);
            fakes::ExpectTalliesWithin(beside, inTurn, 0.0);
        }
    }
}

// Tables of particular shapes and values, each settled by the network (but
// the one on its expected values) with the enumeration's counts, masses and
// report.
TEST_F(NetworkAlgorithmTest, ParticularTablesGetTheEnumerationsCountsMassesAndReport) {
    const std::pair<Table, bool> tables[] = {
        // Equal row totals merge their rows' remainders; symmetric tables
        // have many sample points exactly equal to the observed one in each
        // ordering.
        {{{2, 1, 1}, {1, 2, 1}, {1, 1, 2}}, true},
        {{{3, 1, 2, 0}, {1, 3, 0, 2}, {2, 0, 3, 1}, {0, 2, 1, 3}}, true},
        {{{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {2, 0, 2, 0, 2}}, true},
        {{{4, 0, 0}, {0, 4, 0}, {0, 0, 4}}, true},
        {{{5, 1}, {1, 5}, {3, 3}, {0, 6}}, true},
        {{{2, 2, 2, 2, 2, 2}, {3, 1, 3, 1, 3, 1}}, true},
        // 1,887,711 sample points; and a table taken on its side (more rows
        // than columns), whose columns become the nodes.
        {{{5, 6, 7, 8}, {8, 7, 6, 5}, {3, 4, 6, 5}}, true},
        {{{2, 1, 4}, {1, 3, 2}, {2, 2, 1}, {3, 1, 2}, {1, 2, 3}}, true},
        // Three rows: a node with two columns left has about as many
        // completions as there are partial tables before it, so most tables
        // are settled along the last free line, in runs between the bucket
        // edges. A table far in a tail (the edges cut through the bulk of
        // the tables) and one near independence.
        {{{31, 10, 13}, {12, 40, 13}, {10, 15, 38}}, true},
        {{{15, 20, 21}, {17, 14, 12}, {23, 20, 17}}, true},
        // Tables equal to their expected counts: both statistics are 0,
        // every other table greater in both; only the probability's
        // ordering is settled by the network.
        {{{1, 2, 3}, {1, 2, 3}, {2, 4, 6}}, true},
        {{{2, 2, 2, 2}, {3, 3, 3, 3}}, true},
        {{{1, 3}, {2, 6}, {1, 3}, {3, 9}}, true},
        // Strongly associated tables of large N: observed probabilities
        // below the normal doubles, down to rounded to 0. There the direct
        // probability's rounding to double is coarser than the band (a
        // table is equal when it rounds to the observed double; with the
        // observed rounded to 0, when it rounds to 0 too), and some classes
        // are left without mass.
        {{{440, 1, 0}, {2, 552, 1}, {0, 1, 3}}, true},    // 1e-295
        {{{457, 1, 0}, {2, 528, 1}, {0, 1, 10}}, true},   // 2e-309, below the normal doubles
        {{{485, 2, 1}, {1, 485, 2}, {2, 1, 16}}, true},   // 9e-314, its transpose as probable
        {{{480, 1, 0}, {2, 498, 1}, {0, 1, 16}}, true},   // 2e-319
        {{{490, 0, 0}, {0, 490, 0}, {0, 0, 20}}, true}};  // 1e-335, rounded to 0
    for (const auto& [t, byNetwork] : tables) EXPECT_EQ(ExpectSameAsEnumeration(t), byNetwork) << Text(t);
}

// A table equal to its expected counts with one statistic's test on: the
// other's tally stays empty and the run's options are as they were; and one
// of more than 2^64 sample points (three rows of twenty 2s), which the
// enumeration could never end: the statistics' tallies are the observed
// table as equal and every other one as greater, with the probability's
// sample points and mass.
TEST_F(NetworkAlgorithmTest, ATableEqualToItsExpectedCountsHasOnlyItselfEqualInTheStatistics) {
    const Table small{{2, 4, 2}, {1, 2, 1}, {3, 6, 3}};
    Options().ExaCStest = false;
    EXPECT_TRUE(ExpectSameAsEnumeration(small));
    EXPECT_EQ(engine.State().X2Tally.GreaterCount, 0u);
    EXPECT_TRUE(engine.State().Options.ExaLRtest);
    EXPECT_FALSE(engine.State().Options.ExaCStest);
    Options().ExaCStest = true;

    const Table large(3, std::vector<int>(20, 2));
    const RunOutcome all = RunFrom(large, 0);
    ASSERT_TRUE(all.Network);
    EXPECT_GT(all.Points, WideCount{std::numeric_limits<std::uint64_t>::max()});
    Options().ExaLRtest = Options().ExaCStest = false;
    const RunOutcome probability = RunFrom(large, 0);
    ASSERT_TRUE(probability.Network);
    EXPECT_EQ(all.Points, probability.Points);
    fakes::ExpectTalliesWithin(all.Of, probability.Of, 0.0, 1);
    const double whole = TotalMass(all.Of[0]);
    for (const ExactTally& statistic : {all.Of[1], all.Of[2]}) {
        EXPECT_EQ(statistic.LessCount, 0u);
        EXPECT_EQ(statistic.EqualCount, 1u);
        EXPECT_EQ(statistic.GreaterCount, all.Points - 1);
        EXPECT_EQ(statistic.EqualMass, engine.State().ObservedProbability);
        EXPECT_NEAR(statistic.GreaterMass, whole - statistic.EqualMass, 1e-15);
    }
}

// The count beforehand stops once it reaches NetworkFrom; whichever way the
// table is then settled, the state ends with its whole count: counted by
// the network, or again in whole for the enumeration's progress when the
// network hands the table back (here for want of memory).
TEST_F(NetworkAlgorithmTest, ACountStoppedAtTheNetworksBoundIsMadeWholeForTheEnumeration) {
    const Table t{{3, 1, 2, 0}, {1, 3, 0, 2}, {2, 0, 3, 1}};
    for (const bool byNetwork : {true, false}) {
        SCOPED_TRACE(byNetwork);
        engine.State().NetworkMemory = byNetwork ? kDefaultNetworkMemory : 1;
        const RunOutcome enumerated = RunFrom(t, std::numeric_limits<std::uint64_t>::max());
        const RunOutcome stopped = RunFrom(t, 10);
        EXPECT_EQ(stopped.Network, byNetwork);
        EXPECT_EQ(stopped.Points, enumerated.Points);
        EXPECT_TRUE(engine.State().ExpectedPointsExact);
        EXPECT_EQ(engine.State().ExpectedSamplePoints, static_cast<double>(enumerated.Points));
    }
}

TEST_F(NetworkAlgorithmTest, OnlyLargeUntracedTablesWithoutDirectEvaluationQualify) {
    const Table t{{3, 1, 2, 0}, {1, 3, 0, 2}, {2, 0, 3, 1}};
    EXPECT_TRUE(RunFrom(t, 0).Network);
    EXPECT_FALSE(RunFrom(t, 1000000).Network);  // fewer sample points than that
    engine.State().DirectEvaluation = true;
    EXPECT_FALSE(RunFrom(t, 0).Network);
    engine.State().DirectEvaluation = false;
    EXPECT_FALSE(RunFrom({{3, 1}, {2, 5}}, 0).Network);  // 2 x 2: the Fisher sums need every point
    Options().Details = true;
    env.saveDialog.chosen = dir.File("trace.txt");
    EXPECT_FALSE(RunFrom(t, 0).Network);
    env.saveDialog.confirm = false;  // no trace after all
    EXPECT_TRUE(RunFrom(t, 0).Network);
}

// A table whose sample points the counter gives up counting beforehand
// (too much work) is a large one: the network takes it, counts its sample
// points itself and shows that count; so does a count known only
// approximately (past 64 bits); nothing qualifies when the network is never
// to be used.
TEST_F(NetworkAlgorithmTest, ATableTooLargeToCountBeforehandIsCountedByTheNetwork) {
    const Table t{{2, 1, 3, 0, 2}, {1, 3, 0, 2, 1}, {3, 0, 2, 1, 2}, {0, 2, 1, 3, 1}};
    const RunOutcome enumerated = RunFrom(t, std::numeric_limits<std::uint64_t>::max());
    AnalysisState& s = engine.State();
    s.NetworkFrom = kDefaultNetworkFrom;
    s.ExpectedPointsExact = false;
    s.ExpectedSamplePoints = 1e20;  // an estimate past 64 bits
    EXPECT_TRUE(NetworkApplies(s));
    s.ExpectedSamplePoints = 0.0;  // unknown
    s.NetworkFrom = std::numeric_limits<std::uint64_t>::max();
    EXPECT_FALSE(NetworkApplies(s));
    s.NetworkFrom = kDefaultNetworkFrom;
    ASSERT_TRUE(NetworkApplies(s));
    ASSERT_EQ(RunNetworkAlgorithm(ClearedState(), env.Ports()), NetworkOutcome::Completed);
    EXPECT_EQ(s.SamplePointCount, enumerated.Points);
    EXPECT_TRUE(s.ExpectedPointsExact);
    EXPECT_EQ(s.ExpectedSamplePoints, static_cast<double>(enumerated.Points));
    const fakes::RunTallies got = Current();
    for (int o = 0; o < 3; ++o) fakes::ExpectSameCounts(got.Of[o], enumerated.Of[o]);
}

// Four rows of equal total (5): Pearson's integer count with those rows
// filled first fits within 512 values a side where the increasing order of
// totals does not, and with 128 nodes the floating-point pass does not fit
// (so only the integer count can complete the run).
TEST_F(NetworkAlgorithmTest, WhereOneOrderOfFillingPassesTheIntegerCountsLimitAnotherServes) {
    const Table t{{1, 4, 1}, {1, 1, 3}, {2, 2, 1}, {2, 2, 1}, {2, 2, 1}, {2, 1, 0}};
    NetworkLimits small;
    small.MaxLatticeValues = 512;
    small.MaxNodes = 128;
    NetworkLimits floating = small;
    floating.Lattice = false;
    EXPECT_EQ(ExpectSameUnder(t, {small}), 1);
    EXPECT_EQ(RunNetworkAlgorithm(engine.State(), env.Ports(), floating), NetworkOutcome::NeedsEnumeration);
}

// Tables too large to enumerate in a test, whose integer count's meeting
// places many past values against the lists of many column choices (each
// choice's list all less or all greater for runs of them): Pearson's tally
// as the floating-point pass gives it.
TEST_F(NetworkAlgorithmTest, LargerTablesGetTheSamePearsonTallyFromTheIntegerCountAsFromFloatingPoint) {
    const std::vector<Table> tables{
        {{2, 0, 3, 2, 1, 1}, {1, 1, 0, 2, 3, 1}, {1, 16, 0, 2, 3, 1}, {1, 0, 3, 1, 3, 0}},
        {{0, 2, 0, 0, 0, 1}, {2, 1, 0, 1, 0, 2}, {1, 1, 1, 2, 1, 0}, {1, 0, 2, 0, 3, 0}, {1, 0, 1, 2, 0, 2},
         {3, 1, 0, 1, 2, 1}},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(Text(t));
        RunFrom(t, 0);
        fakes::RunTallies byLattice[2];
        for (const bool lattice : {false, true}) {
            NetworkLimits limits;
            limits.Lattice = lattice;
            ASSERT_EQ(RunNetworkAlgorithm(ClearedState(), env.Ports(), limits), NetworkOutcome::Completed);
            byLattice[lattice] = Current();
        }
        EXPECT_EQ(byLattice[1].Points, byLattice[0].Points);
        fakes::ExpectSameTally(byLattice[1].Of[2], byLattice[0].Of[2], 1e-12);
    }
}

TEST_F(NetworkAlgorithmTest, PastItsMemoryLimitsItHandsTheTableBack) {
    const Table t{{3, 1, 2, 0, 2, 4}, {1, 3, 0, 2, 1, 2}, {2, 0, 3, 1, 1, 3}};
    const RunOutcome enumerated = RunFrom(t, std::numeric_limits<std::uint64_t>::max());
    AnalysisState& s = engine.State();
    s.NetworkFrom = 0;
    NetworkLimits few;
    few.MaxEntries = 0;
    EXPECT_EQ(RunNetworkAlgorithm(s, env.Ports(), few), NetworkOutcome::NeedsEnumeration);
    few = NetworkLimits{};
    few.MaxNodes = 3;
    EXPECT_EQ(RunNetworkAlgorithm(s, env.Ports(), few), NetworkOutcome::NeedsEnumeration);
    few = NetworkLimits{};
    few.MaxBytes = 4096;
    EXPECT_EQ(RunNetworkAlgorithm(s, env.Ports(), few), NetworkOutcome::NeedsEnumeration);
    s.ProbabilityTally = {};
    ASSERT_EQ(RunNetworkAlgorithm(s, env.Ports()), NetworkOutcome::Completed);
    fakes::ExpectSameCounts(s.ProbabilityTally, enumerated.Of[0]);
    EXPECT_EQ(s.SamplePointCount, enumerated.Points);
    // The analysis gives the network the memory budget the program set:
    // too little, and the enumeration writes the same report.
    s.NetworkMemory = 4096;
    const RunOutcome starved = RunFrom(t, 0);
    EXPECT_FALSE(starved.Network);
    EXPECT_EQ(starved.Lines, enumerated.Lines);
    s.NetworkMemory = kDefaultNetworkMemory;
    EXPECT_TRUE(RunFrom(t, 0).Network);
}

// Counts past 64 bits, known in closed form. A two-row table whose classes are known in closed form: A columns of
// total 2 and B of total 1, both rows of total (2A + B) / 2. With q the
// columns of total 2 split 1 + 1, a table's probability is 2^q / C(N, N/2)
// (the product of the binomials of its first row over that of the row
// total), G2 = 2 ln 2 (2 (A - q) + B) and X2 = 2 (A - q) + B, so each
// ordering's classes are those of q; the tables with a given q, with p
// columns (2, 0) and t columns (1, 0) of total 1, number
// sum_p C(A, p) C(A - p, q) C(B, t) with 2p + q + t = N / 2.
struct SplitColumns {
    int A, B;
    static WideCount Binomial(int n, int k) {
        if (k < 0 || k > n) return 0;
        WideCount c = 1;
        for (int i = 1; i <= k; ++i) c = c * static_cast<unsigned>(n - k + i) / static_cast<unsigned>(i);
        return c;
    }
    int Half() const { return (2 * A + B) / 2; }
    WideCount Tables(int q) const {
        WideCount n = 0;
        for (int p = 0; p + q <= A; ++p)
            n += Binomial(A, p) * Binomial(A - p, q) * Binomial(B, Half() - 2 * p - q);
        return n;
    }
    long double Mass(int q) const {
        long double tables = 0.0L;
        for (int p = 0; p + q <= A; ++p)
            tables += static_cast<long double>(Binomial(A, p) * Binomial(A - p, q) * Binomial(B, Half() - 2 * p - q));
        return tables * std::ldexp(1.0L, q) / static_cast<long double>(Binomial(2 * Half(), Half()));
    }
    // The table with p columns (2, 0) and q columns (1, 1).
    Table With(int p, int q) const {
        EXPECT_TRUE(p + q <= A && Half() - 2 * p - q >= 0 && Half() - 2 * p - q <= B);
        Table t(2);
        for (int j = 0; j < A; ++j) t[0].push_back(j < p ? 2 : j < p + q ? 1 : 0);
        const int t1 = Half() - 2 * p - q;
        for (int j = 0; j < B; ++j) t[0].push_back(j < t1 ? 1 : 0);
        for (int j = 0; j < A + B; ++j) t[1].push_back((j < A ? 2 : 1) - t[0][static_cast<std::size_t>(j)]);
        return t;
    }
};

TEST_F(NetworkAlgorithmTest, TablesOfMoreSamplePointsThanSixtyFourBitsHoldAreCountedExactly) {
    // 2.7e20 sample points, 14.6 times 2^64; every class past 2^63.
    const SplitColumns split{30, 24};
    WideCount total = 0;
    for (int q = 0; q <= split.A; ++q) total += split.Tables(q);
    ASSERT_GT(total, WideCount{1} << 64);
    // (The report's decimals of a count.)
    EXPECT_EQ(CountText(WideCount{1} << 100), "1267650600228229401496703205376");
    EXPECT_EQ(CountText(~WideCount{0}), "340282366920938463463374607431768211455");
    EXPECT_EQ(CountText(0), "0");
    for (const auto& [p, q] : {std::pair{8, 14}, std::pair{8, 3}, std::pair{2, 25}}) {
        const Table t = split.With(p, q);
        SCOPED_TRACE(Text(t));
        const RunOutcome o = RunFrom(t, kDefaultNetworkFrom);
        ASSERT_TRUE(o.Network);
        EXPECT_EQ(o.Points, total);
        WideCount fewer = 0, more = 0;
        long double fewerMass = 0.0L, moreMass = 0.0L;
        for (int r = 0; r < q; ++r) fewer += split.Tables(r), fewerMass += split.Mass(r);
        for (int r = q + 1; r <= split.A; ++r) more += split.Tables(r), moreMass += split.Mass(r);
        // The probability rises with q, both statistics fall.
        fakes::ExpectSameTally(o.Of[0],
                               {fewer, split.Tables(q), more, static_cast<double>(fewerMass),
                                static_cast<double>(split.Mass(q)), static_cast<double>(moreMass)},
                               1e-12);
        for (const int s : {1, 2}) {
            SCOPED_TRACE(s == 1 ? "likelihood ratio" : "Pearson");
            fakes::ExpectSameCounts(o.Of[s], {more, split.Tables(q), fewer});
            EXPECT_NEAR(o.Of[s].GreaterMass, static_cast<double>(fewerMass), 1e-12);
        }
        EXPECT_THAT(o.Lines, ::testing::Contains("Number of sample points = " + CountText(total)));
        EXPECT_THAT(o.Lines, ::testing::Contains(::testing::StartsWith("  Same prob:   " + CountText(split.Tables(q)) +
                                                                     " points with prob. ")));
    }
}

TEST_F(NetworkAlgorithmTest, PassesBesideAndInTurnAgreePastSixtyFourBitsAndPastTheLimitTheTableIsHandedBack) {
    // 11,707,927,878,053,612,249 sample points (counted by columns in
    // exact integers elsewhere), settled by the passes in turn and beside
    // each other alike.
    const Table t{{4, 2, 4, 2, 2, 1, 2, 2, 1, 0, 0, 2},
                  {2, 2, 4, 3, 2, 2, 0, 0, 1, 3, 1, 1},
                  {3, 5, 2, 5, 0, 1, 1, 2, 1, 0, 1, 1},
                  {5, 1, 2, 1, 3, 2, 0, 0, 0, 0, 0, 1}};
    AnalysisState& s = engine.State();
    // An analysis broken off at once prepares the state.
    auto prepare = [&](const Table& table) {
        env.pump.onPass = [&] { engine.BreakOff(); };
        RunFrom(table, 0);
        env.pump.onPass = nullptr;
        // (Pearson's ordering of such sparse tables outgrows the memory.)
        s.Options.ExaCStest = false;
    };
    auto run = [&](bool beside, ExactTally (&tallies)[3]) {
        NetworkLimits limits;
        limits.PassesBeside = beside;
        return Settle(limits, tallies);
    };
    prepare(t);
    ExactTally inTurn[3], beside[3];
    ASSERT_EQ(run(false, inTurn), NetworkOutcome::Completed);
    const WideCount points = s.SamplePointCount;
    EXPECT_EQ(CountText(points), "11707927878053612249");
    ASSERT_EQ(run(true, beside), NetworkOutcome::Completed);
    EXPECT_EQ(s.SamplePointCount, points);
    for (int o = 0; o < 2; ++o) EXPECT_EQ(inTurn[o].LessCount + inTurn[o].EqualCount + inTurn[o].GreaterCount, points) << o;
    fakes::ExpectTalliesWithin(beside, inTurn, 0.0, 2);
    // Two rows of columns of total 1: C(130, 65) = 9.5e37 sample points,
    // past the 2^126 the passes' sums allow, and C(140, 70) = 9.4e40, past
    // 128 bits: both handed back, in turn and beside.
    for (const int columns : {130, 140}) {
        Table many(2);
        for (int j = 0; j < columns; ++j) {
            many[0].push_back(j % 2);
            many[1].push_back(1 - j % 2);
        }
        SCOPED_TRACE(columns);
        prepare(many);
        EXPECT_EQ(run(false, inTurn), NetworkOutcome::NeedsEnumeration);
        EXPECT_EQ(run(true, beside), NetworkOutcome::NeedsEnumeration);
        EXPECT_EQ(s.ProbabilityTally.LessCount, 0);
    }
}

// A machine with less memory than the limits allow for: the network hands
// the table back to the enumeration instead of failing. (The address space
// is limited in a child process; the address sanitizer needs far more of
// it than the limit.)
TEST_F(NetworkAlgorithmTest, RunningOutOfMemoryHandsTheTableBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#elif defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's allocator stops the program when memory runs out";
#endif
    // 6.9e11 sample points; the network holds 8 million partial tables at
    // one stage. The first progress breaks the run off once the state is
    // prepared.
    const Table t{{8, 10, 18, 2, 10, 8}, {3, 14, 3, 8, 6, 6}, {8, 12, 4, 5, 15, 10}};
    Options().ExaLRtest = Options().ExaCStest = false;
    env.pump.onPass = [&] { engine.BreakOff(); };
    ASSERT_TRUE(RunFrom(t, 0).Network);
    env.pump.onPass = nullptr;
    AnalysisState& s = engine.State();
    auto underLimit = [&] {
        std::ifstream statm("/proc/self/statm");
        std::uint64_t pages = 0;
        statm >> pages;
        const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        const rlimit limit{pages * page + (std::uint64_t{64} << 20), RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
        s.Abandoned = false;
        std::_Exit(RunNetworkAlgorithm(s, env.Ports()) == NetworkOutcome::NeedsEnumeration ? 0 : 1);
    };
    EXPECT_EXIT(underLimit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(NetworkAlgorithmTest, ABreakOffReportsTheSamplePointsSettledSoFar) {
    const Table t{{1, 2, 2, 1, 1, 0, 1}, {2, 0, 0, 2, 3, 0, 0}, {0, 1, 1, 1, 2, 7, 3}, {1, 1, 2, 0, 0, 0, 1}};
    // The sample points accounted for at each pass once they are counted
    // (with the first graph; beside a helper, Pearson's integer count may
    // start before).
    std::vector<std::uint64_t> shown;
    env.pump.onPass = [&] {
        if (!engine.State().ExpectedPointsExact) return;
        shown.push_back(engine.State().SamplePointCount);
        if (shown.size() == 3) engine.BreakOff();
    };
    const RunOutcome o = RunFrom(t, 0);
    EXPECT_TRUE(o.Network);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_LE(shown.back(), o.Points);
    EXPECT_LT(o.Points, static_cast<std::uint64_t>(engine.State().ExpectedSamplePoints));
    EXPECT_THAT(o.Lines, ::testing::Contains(" Calculations interrupted at sample point nr " + CountText(o.Points)));
    EXPECT_THAT(env.status.texts, ::testing::Contains(::testing::HasSubstr(" of ")));
}

// Broken off at any moment, with every test on, the sum of probabilities
// reported goes with the sample points reported: the points are the mean of
// the orderings' passes, and so is their mass. It is above 0 once points
// are (the probability's pass may not have started: a pass of another
// ordering settled them), and below the whole while a pass has points left
// (on one thread the probability's pass may have ended before the others).
// Beside a helper, how far the passes are at a given display depends on how
// the threads are scheduled, so the run is broken off at every display in
// turn until enough reports with points have been seen.
TEST_F(NetworkAlgorithmTest, ABreakOffReportsTheMassOfThePointsItReports) {
    const Table t{{1, 2, 2, 1, 1, 0, 1}, {2, 0, 0, 2, 3, 0, 0}, {0, 1, 1, 1, 2, 7, 3},
                  {1, 1, 2, 0, 0, 0, 1}, {0, 1, 1, 1, 1, 0, 0}};
    const std::string sumLine = " Sum of probabilities ";
    for (const unsigned cores : {1u, 2u}) {
        int reported = 0;
        for (std::size_t at = 1; reported < 6; ++at) {
            SCOPED_TRACE(testing::Message() << cores << " cores, broken off at display " << at);
            engine.State().Cores = cores;
            std::size_t displays = 0;
            env.pump.onPass = [&] {
                if (++displays == at) engine.BreakOff();
            };
            const RunOutcome o = RunFrom(t, 0);
            ASSERT_TRUE(o.Network);
            // The whole run had fewer displays: nothing left to break off.
            ASSERT_GE(displays, at);
            const auto line = std::find_if(o.Lines.begin(), o.Lines.end(),
                                           [&](const std::string& l) { return l.starts_with(sumLine); });
            ASSERT_NE(line, o.Lines.end());
            const double sum = std::stod(line->substr(sumLine.size()));
            if (o.Points == 0) {
                EXPECT_EQ(sum, 0.0);
                continue;
            }
            ++reported;
            EXPECT_GT(sum, 0.0);
            if (cores == 1) {
                EXPECT_LT(sum, 0.9995);
            }
        }
    }
}

// The default two tests, the likelihood ratio's pass beside the
// probability's: broken off at each of the first progress displays (while
// the probability's graph is formed, in its pass, or while this thread
// waits for the other), the report shows the sample points both passes
// settled so far, and the pass beside is stopped.
TEST_F(NetworkAlgorithmTest, ABreakOffStopsThePassBeside) {
    const Table t{{1, 2, 2, 1, 1, 0, 1}, {2, 0, 0, 2, 3, 0, 0}, {0, 1, 1, 1, 2, 7, 3},
                  {1, 1, 2, 0, 0, 0, 1}, {0, 1, 1, 1, 1, 0, 0}};
    Options().ExaCStest = false;
    const std::uint64_t all = RunFrom(t, 0).Points;
    for (std::size_t at = 1; at <= 6; ++at) {
        std::size_t passes = 0;
        env.pump.onPass = [&] {
            if (++passes == at) engine.BreakOff();
        };
        const RunOutcome o = RunFrom(t, 0);
        EXPECT_TRUE(o.Network);
        EXPECT_EQ(passes, at);
        EXPECT_LT(o.Points, all);
        EXPECT_THAT(o.Lines,
                    ::testing::Contains(" Calculations interrupted at sample point nr " + CountText(o.Points)));
    }
}

// All three tests, the count beforehand stopped at the network's bound:
// this thread starts Pearson's integer count at once, as it builds no
// graph, while the pass beside takes the others and counts the sample
// points with its first graph. The share the progress shows never passes
// the whole (none is shown before the count is known, nor a count of 0),
// and the state ends with the exact count.
TEST_F(NetworkAlgorithmTest, TheProgressShowsAShareOfTheCountWhileThePassesRunBeside) {
    const Table t{{1, 2, 2, 1, 1, 0, 1}, {2, 0, 0, 2, 3, 0, 0}, {0, 1, 1, 1, 2, 7, 3},
                  {1, 1, 2, 0, 0, 0, 1}, {0, 1, 1, 1, 1, 0, 0}};
    struct Shown {
        WideCount Points;
        double Expected;
    };
    std::vector<Shown> shown;
    env.pump.onPass = [&] {
        shown.push_back({engine.State().SamplePointCount, engine.State().ExpectedSamplePoints});
    };
    const RunOutcome o = RunFrom(t, kDefaultNetworkFrom);
    ASSERT_TRUE(o.Network);
    EXPECT_TRUE(engine.State().ExpectedPointsExact);
    EXPECT_EQ(engine.State().ExpectedSamplePoints, static_cast<double>(o.Points));
    ASSERT_FALSE(shown.empty());
    for (const Shown& s : shown) {
        if (s.Points > 0) {
            EXPECT_LE(static_cast<double>(s.Points), s.Expected);
        }
    }
    EXPECT_THAT(env.status.texts, ::testing::Not(::testing::Contains(::testing::HasSubstr(" of 0 "))));
    EXPECT_THAT(env.status.texts, ::testing::Contains(::testing::HasSubstr(" of " + CountText(o.Points) + " ")));
}

// Preparing a large table forms millions of column vectors (this one's
// first column alone has some 3,000, each leading on to as many) before a
// single sample point is settled: the progress shows, and a break-off is
// seen, while they are formed.
TEST_F(NetworkAlgorithmTest, ABreakOffWhileALargeTableIsPreparedSettlesNothing) {
    const Table t{{25, 47, 24, 28}, {36, 14, 25, 32}, {23, 14, 19, 13}};
    Options().ExaLRtest = Options().ExaCStest = false;
    std::vector<std::uint64_t> shown;
    env.pump.onPass = [&] {
        shown.push_back(engine.State().SamplePointCount);
        engine.BreakOff();
    };
    const RunOutcome o = RunFrom(t, 0);
    EXPECT_TRUE(o.Network);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 0u);
    EXPECT_EQ(o.Points, 0u);
    EXPECT_THAT(o.Lines, ::testing::Contains(" Calculations interrupted at sample point nr 0"));
}

}  // namespace
}  // namespace kelvorin
