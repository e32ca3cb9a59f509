// The meeting of a one-way table's two parts against the enumeration: the
// same counts in every tally, the same masses at the printed precision, the
// same report; the points within rounding of an edge evaluated one by one;
// and the tables it leaves to the enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "FakePorts.h"
#include "OneWayMeeting.h"

namespace kelvorin {
namespace {

using fakes::RunOutcome;

// A one-way table: its counts along one row or one column, and the weights
// typed for them (none: equal proportions).
struct OneWayTable {
    std::vector<int> Counts;
    std::vector<std::string> Weights;
    bool Column = false;
};

std::string Text(const OneWayTable& t) {
    std::string text = t.Column ? "column" : "row";
    for (int c : t.Counts) text += " " + std::to_string(c);
    if (!t.Weights.empty()) text += " weights";
    for (const std::string& w : t.Weights) text += " " + w;
    return text;
}

class OneWayMeetingTest : public fakes::TallyHarness {
protected:
    // Runs the table, its weights typed, with the network's side (the
    // meeting) used from FROM sample points on.
    RunOutcome RunWith(const OneWayTable& t, std::uint64_t from) {
        TypeWeights(t.Weights);
        return RunFrom(Grid(t), from);
    }
    // Runs the table both ways; returns whether the meeting settled it.
    bool ExpectSameAsEnumeration(const OneWayTable& t) {
        SCOPED_TRACE(Text(t));
        TypeWeights(t.Weights);
        return TallyHarness::ExpectSameAsEnumeration(Grid(t));
    }
    static std::vector<std::vector<int>> Grid(const OneWayTable& t) {
        std::vector<std::vector<int>> grid;
        if (!t.Column) return {t.Counts};
        for (int c : t.Counts) grid.push_back({c});
        return grid;
    }
};

OneWayTable RandomTable(std::mt19937& random) {
    OneWayTable t;
    for (;;) {
        const int k = 2 + static_cast<int>(random() % 6);
        const int kind = static_cast<int>(random() % 5);
        t.Counts.assign(static_cast<std::size_t>(k), 0);
        for (int& c : t.Counts) {
            switch (kind) {
                case 0: c = 4; break;                                                // all equal: many ties
                case 1: c = static_cast<int>(random() % 3) * 3 + 1; break;           // a few values
                case 2: c = static_cast<int>(random() % 4); break;                   // sparse
                default: c = static_cast<int>(random() % 9); break;
            }
        }
        if (kind == 2) t.Counts.back() += 12;  // one large category
        int n = 0;
        for (int c : t.Counts) n += c;
        if (n >= 1 && n <= 36) break;
    }
    t.Weights.clear();
    if (random() % 2 == 0) {
        const char* weights[] = {"1", "2", "3", "0.5", "10", "1.5"};
        for (std::size_t i = 0; i < t.Counts.size(); ++i) t.Weights.push_back(weights[random() % 6]);
    }
    t.Column = random() % 3 == 0;
    return t;
}

// Random rows and columns, with equal counts (every permutation a tie),
// sparse ones with one large category, and typed weights, decimal ones
// among them: the meeting gives the enumeration's report to the character,
// and its counts exactly.
TEST_F(OneWayMeetingTest, RandomTablesGetTheEnumerationsCountsMassesAndReport) {
    std::mt19937 random(60113u);
    int met = 0;
    for (int table = 0; table < 120; ++table) met += ExpectSameAsEnumeration(RandomTable(random)) ? 1 : 0;
    EXPECT_EQ(met, 120);
    // Every category at its expected count: the observed statistics are 0
    // or a rounding away from it, and the points near them are evaluated
    // one by one.
    EXPECT_TRUE(ExpectSameAsEnumeration({{6, 6, 6, 6, 6}, {}, false}));
    EXPECT_TRUE(ExpectSameAsEnumeration({{2, 4, 6}, {"1", "2", "3"}, true}));
    EXPECT_TRUE(ExpectSameAsEnumeration({{3, 3, 6, 9}, {"0.5", "0.5", "1", "1.5"}, false}));
    // Here G2 rounds to a value below 0.
    EXPECT_TRUE(ExpectSameAsEnumeration({{7, 7, 63}, {"1", "1", "9"}, false}));
    EXPECT_LT(engine.State().G2, 0.0);
    // Weights that put a neighbour of the observed point within rounding of
    // an edge of the rule: of the probability (a ratio of 1 + 2e-10), of G2,
    // of X2. Without the margins they are sorted wrongly.
    EXPECT_TRUE(ExpectSameAsEnumeration({{17, 3}, {"1250000000", "294117647"}, false}));
    EXPECT_TRUE(ExpectSameAsEnumeration({{4, 3, 10}, {"561586863", "561586864", "859649543"}, false}));
    EXPECT_TRUE(ExpectSameAsEnumeration({{1, 2, 3}, {"965779954", "965779955", "971157299"}, true}));
}

// N = 1000 in three categories: observed probabilities below 1e-280, down
// among the least doubles (6.6e-320) and rounded to 0 (3^-1000), where the
// probability tally's edges lie where the double's rounding is absolute.
TEST_F(OneWayMeetingTest, ObservedProbabilitiesAmongTheLeastDoublesAndZero) {
    EXPECT_TRUE(ExpectSameAsEnumeration({{850, 150, 0}, {}, false}));
    EXPECT_LT(engine.State().ObservedProbability, 1e-280);
    EXPECT_TRUE(ExpectSameAsEnumeration({{880, 120, 0}, {}, false}));
    EXPECT_LT(engine.State().ObservedProbability, 2.3e-308);
    EXPECT_GT(engine.State().ObservedProbability, 0.0);
    EXPECT_TRUE(ExpectSameAsEnumeration({{1000, 0, 0}, {}, true}));
    EXPECT_EQ(engine.State().ObservedProbability, 0.0);
    EXPECT_GT(engine.State().ProbabilityTally.EqualCount, 1);
}

// Two categories, n = 3, observed (3, 0), equal proportions: the points have
// probabilities 1/8, 3/8, 3/8, 1/8; the probability tally is less 0, same 2
// (mass 0.25), greater 2 (0.75); G2 of the observed point is shared by
// (0, 3), the other two lie below.
TEST_F(OneWayMeetingTest, TheWorkedExampleOfTwoCategories) {
    const RunOutcome o = RunWith({{3, 0}, {}, false}, 0);
    ASSERT_TRUE(o.Network);
    EXPECT_EQ(o.Points, 4u);
    EXPECT_EQ(o.Of[0].LessCount, 0);
    EXPECT_EQ(o.Of[0].EqualCount, 2);
    EXPECT_EQ(o.Of[0].GreaterCount, 2);
    EXPECT_DOUBLE_EQ(o.Of[0].EqualMass, 0.25);
    EXPECT_DOUBLE_EQ(o.Of[0].GreaterMass, 0.75);
    EXPECT_EQ(o.Of[1].GreaterCount, 0);
    EXPECT_EQ(o.Of[1].EqualCount, 2);
    EXPECT_EQ(o.Of[1].LessCount, 2);
}

// Each way of settling the points, the split's lists and the count
// patterns (with their bounds between groups), on random rows and columns
// (typed weights with repeated values form groups of equal proportions);
// then with the margins around the edges widened a million-millionfold, so
// that the points near the edges are evaluated one by one (found again from
// their places in the sorted lists, or as every arrangement of a pattern,
// and whole completions settled by their bounds only further from the
// edges): the tallies stay the enumeration's. Allowed no such evaluations,
// or a walk tried for one node only, the patterns hand the table to the
// split.
TEST_F(OneWayMeetingTest, BothWaysAndThePointsNearTheEdgesEvaluatedOneByOneGiveTheSameTallies) {
    std::mt19937 random(60127u);
    AnalysisState& s = engine.State();
    for (int table = 0; table < 60; ++table) {
        const OneWayTable t = RandomTable(random);
        SCOPED_TRACE(Text(t));
        const RunOutcome enumerated = RunWith(t, std::numeric_limits<std::uint64_t>::max());
        for (const OneWayWay way : {OneWayWay::Split, OneWayWay::Patterns, OneWayWay::Cheaper}) {
            for (const long double scale : {1.0L, 1e9L, 1e12L}) {
                for (const WideCount direct : {WideCount{1} << 22, WideCount{0}}) {
                    if (direct == 0 && (way != OneWayWay::Patterns || scale == 1.0L)) continue;
                    if (way == OneWayWay::Cheaper && scale != 1.0L) continue;
                    SCOPED_TRACE(static_cast<double>(scale));
                    s.NetworkFrom = 0;
                    OneWayMeetingLimits limits;
                    limits.Way = way;
                    limits.MarginScale = scale;
                    limits.MostDirectEvaluations = direct;
                    // The walk tried and given up at once: the lists take over.
                    limits.MostWalkSettled = 1;
                    ASSERT_EQ(RunOneWayMeeting(ClearedState(), env.Ports(), limits), NetworkOutcome::Completed);
                    ExpectSame(Current(), enumerated);
                }
            }
        }
    }
    // Neither way left (the lists too large, and every pattern near an
    // edge): the enumeration takes the table.
    const RunOutcome enumerated = RunWith({{3, 1, 4, 1, 5}, {}, false}, std::numeric_limits<std::uint64_t>::max());
    s.NetworkFrom = 0;
    OneWayMeetingLimits limits;
    limits.MaxBytes = 100;
    limits.MarginScale = 1e16L;
    limits.MostDirectEvaluations = 0;
    EXPECT_EQ(RunOneWayMeeting(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    // Allowed them, the patterns evaluate every point one by one.
    limits.MostDirectEvaluations = WideCount{1} << 22;
    ASSERT_EQ(RunOneWayMeeting(ClearedState(), env.Ports(), limits), NetworkOutcome::Completed);
    ExpectSame(Current(), enumerated);
}

// Thirty categories of equal proportions and n = 40: C(69, 29), about
// 2.4e19 sample points, more than 64 bits hold, settled by the count
// patterns (there are 37,338 partitions of 40). With e_i = n / k, Pearson's
// statistic is (k / n) sum x_i^2 - n, so its classes are those of the sum of
// squares: a table of counts and masses (n! / prod x_i! k^-n) by the sum of
// the counts so far and of their squares, category by category, gives them
// independently. Every ordering's classes add up to the count.
TEST_F(OneWayMeetingTest, ThirtyEqualCategoriesPastSixtyFourBitsAgainstCountsBySumsOfSquares) {
    const std::vector<int> row = {2, 2, 0, 3, 1, 0, 1, 0, 2, 3, 1, 3, 0, 1, 1, 1, 3, 2, 1, 3, 1, 0, 1, 3, 1, 1, 0, 1, 1, 1};
    const int k = static_cast<int>(row.size());
    int n = 0;
    int observedSquares = 0;
    for (int x : row) {
        n += x;
        observedSquares += x * x;
    }
    ASSERT_EQ(n, 40);
    const int most = n * n;
    const auto at = [most](int sum, int squares) { return static_cast<std::size_t>(sum * (most + 1) + squares); };
    std::vector<WideCount> count(static_cast<std::size_t>((n + 1) * (most + 1)), 0);
    std::vector<long double> mass(count.size(), 0.0L);
    count[at(0, 0)] = 1;
    mass[at(0, 0)] = 1.0L;
    long double factorial[41] = {1.0L};
    for (int x = 1; x <= n; ++x) factorial[x] = factorial[x - 1] * x;
    for (int category = 0; category < k; ++category) {
        std::vector<WideCount> nextCount(count.size(), 0);
        std::vector<long double> nextMass(count.size(), 0.0L);
        for (int sum = 0; sum <= n; ++sum)
            for (int squares = 0; squares <= most; ++squares) {
                if (count[at(sum, squares)] == 0) continue;
                for (int x = 0; sum + x <= n && squares + x * x <= most; ++x) {
                    nextCount[at(sum + x, squares + x * x)] += count[at(sum, squares)];
                    nextMass[at(sum + x, squares + x * x)] += mass[at(sum, squares)] / factorial[x];
                }
            }
        count.swap(nextCount);
        mass.swap(nextMass);
    }
    WideCount expected[3] = {};
    long double expectedMass[3] = {};
    const long double scale = factorial[n] * std::pow(static_cast<long double>(k), -static_cast<long double>(n));
    for (int squares = 0; squares <= most; ++squares) {
        const int c = squares < observedSquares ? 0 : squares == observedSquares ? 1 : 2;
        expected[c] += count[at(n, squares)];
        expectedMass[c] += mass[at(n, squares)] * scale;
    }
    const WideCount total = expected[0] + expected[1] + expected[2];
    EXPECT_EQ(CountText(total), "23720460024918645912");  // C(69, 29)

    const RunOutcome o = RunWith({row, {}, false}, kDefaultNetworkFrom);
    ASSERT_TRUE(o.Network);
    EXPECT_EQ(o.Points, total);
    fakes::ExpectSameTally(o.Of[2],
                           {expected[0], expected[1], expected[2], static_cast<double>(expectedMass[0]),
                            static_cast<double>(expectedMass[1]), static_cast<double>(expectedMass[2])},
                           1e-12);
    for (const ExactTally& t : o.Of) {
        EXPECT_EQ(t.LessCount + t.EqualCount + t.GreaterCount, total);
        EXPECT_NEAR(TotalMass(t), 1.0, 1e-12);
        EXPECT_GT(t.LessCount, 0u);
        EXPECT_GT(t.GreaterCount, 0u);
    }
    EXPECT_NE(std::find(o.Lines.begin(), o.Lines.end(), "Number of sample points = 23720460024918645912"), o.Lines.end());
}

// A table whose lists do not fit the memory is walked by its count
// patterns, every category its own group if need be (the bounds between
// groups settling whole completions), with the enumeration's result. Every
// table goes to the enumeration when the network is never to be used, and
// so does a table of fewer sample points than the network is used from.
TEST_F(OneWayMeetingTest, TablesWithoutRoomForTheListsAndTablesLeftToTheEnumeration) {
    AnalysisState& s = engine.State();
    const OneWayTable uneven{{5, 8, 3, 6, 9, 4}, {}, false};
    const OneWayTable weighted{{5, 8, 3, 6, 9, 4}, {"1", "2", "3", "4", "5", "6"}, false};
    s.NetworkMemory = 1000;
    EXPECT_TRUE(ExpectSameAsEnumeration(weighted));
    EXPECT_TRUE(ExpectSameAsEnumeration(uneven));
    s.NetworkMemory = kDefaultNetworkMemory;
    EXPECT_TRUE(RunWith(weighted, 0).Network);
    EXPECT_TRUE(RunWith(uneven, 0).Network);
    EXPECT_FALSE(RunWith(uneven, std::numeric_limits<std::uint64_t>::max()).Network);
    EXPECT_FALSE(RunWith(uneven, 1000000).Network);  // 658,008 sample points
    EXPECT_TRUE(RunWith(uneven, 658008).Network);
}

// C(n + k - 1, k - 1), each step exact: the sample points of a row.
WideCount Compositions(int n, int k) {
    WideCount total = 1;
    for (int i = 1; i < k; ++i) total = total * static_cast<WideCount>(n + i) / static_cast<WideCount>(i);
    return total;
}

// A break-off once some sample points are settled: in the analysis, the
// report says how many, fewer than the table has; by each way alone, the
// run ends broken off with as many.
TEST_F(OneWayMeetingTest, ABreakOffReportsTheSamplePointsSettledSoFar) {
    AnalysisState& s = engine.State();
    env.pump.onPass = [&] {
        if (s.SamplePointCount > 0) engine.BreakOff();
    };
    const std::vector<int> many(40, 2);  // 40 categories, n = 80: 3.8e31 points, 15.6 million patterns
    const RunOutcome o = RunWith({many, {}, false}, 0);
    ASSERT_TRUE(o.Network);
    EXPECT_GT(o.Points, 0u);
    EXPECT_LT(o.Points, Compositions(80, 40));
    EXPECT_NE(std::find(o.Lines.begin(), o.Lines.end(),
                        " Calculations interrupted at sample point nr " + CountText(o.Points)),
              o.Lines.end());

    const OneWayTable weighted{{5, 8, 3, 6, 9, 4, 7, 5, 2}, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, false};
    env.pump.onPass = nullptr;
    RunWith(weighted, 0);
    const WideCount total = Compositions(49, 9);
    ASSERT_EQ(s.SamplePointCount, total);
    env.pump.onPass = [&] {
        if (s.SamplePointCount > 0) s.Abandoned = true;
    };
    for (const OneWayWay way : {OneWayWay::Split, OneWayWay::Patterns}) {
        s.Abandoned = false;
        s.SamplePointCount = 0;
        s.NetworkFrom = 0;
        OneWayMeetingLimits limits;
        limits.Way = way;
        EXPECT_EQ(RunOneWayMeeting(s, env.Ports(), limits), NetworkOutcome::BrokenOff);
        EXPECT_GT(s.SamplePointCount, 0u);
        EXPECT_LT(s.SamplePointCount, total);
    }
    env.pump.onPass = nullptr;
}

}  // namespace
}  // namespace kelvorin
