// The exact enumeration against the literal reference, to the last bit; its
// fast path (row sweep, tally bands) against the direct evaluation; the tally
// rule; the count of sample points made beforehand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <cstdint>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "AnalysisEngine.h"
#include "ExactEnumeration.h"
#include "FakePorts.h"
#include "ReferenceTables.h"
#include "SamplePointCounter.h"

namespace kelvorin {
namespace {

using reference::Table;
using Values = std::array<double, 3>;  // probability, likelihood ratio, Pearson statistic

auto Key(const ExactTally& t) { return std::tuple(t.LessCount, t.EqualCount, t.GreaterCount, t.LessMass, t.EqualMass, t.GreaterMass); }
auto Key(const reference::Tally& t) { return std::tuple(t.less, t.equal, t.greater, t.lessMass, t.equalMass, t.greaterMass); }

class EnumerationTest : public fakes::EngineHarness {
protected:
    void SetUp() override { Options() = fakes::With("ExaLRtest ExaCStest CountPos"); }

    // Runs the table traced; returns the counts of each sample-point line, row after row.
    std::vector<std::vector<int>> RunTraced(const Table& table) {
        std::vector<std::vector<int>> visited;
        for (std::string line : TraceOf(table)) {
            if (line.find("  :: ") == std::string::npos || line.starts_with(" number")) continue;
            std::ranges::replace(line, '/', ' ');
            std::istringstream in(line.substr(8, line.find("  :: ") - 8));
            visited.emplace_back();
            for (int v; in >> v;) visited.back().push_back(v);
        }
        return visited;
    }

    // Count, observed values and tallies (traced: also the visiting order)
    // against the reference's sample points and their values.
    void ExpectReference(const Table& table, const std::vector<std::vector<int>>& order, const std::vector<Values>& values,
                         const Values& observed, bool traced) {
        if (traced) {
            EXPECT_EQ(RunTraced(table), order);
        } else {
            Run(table);
        }
        const AnalysisState& s = engine.State();
        EXPECT_EQ(s.SamplePointCount, order.size());
        EXPECT_EQ((Values{s.ObservedProbability, s.G2, s.X2}), observed);
        reference::Tally tallies[3];
        for (const Values& v : values)
            for (int k = 0; k < 3; ++k) reference::Update(tallies[k], k == 0, v[k], observed[k], v[0]);
        EXPECT_EQ(Key(s.ProbabilityTally), Key(tallies[0])) << "probability";
        EXPECT_EQ(Key(s.G2Tally), Key(tallies[1])) << "likelihood ratio";
        EXPECT_EQ(Key(s.X2Tally), Key(tallies[2])) << "Pearson";
    }

    void ExpectSameAsReference(const Table& observed, bool traced) {
        SCOPED_TRACE(reference::Text(observed));
        const auto rows = reference::RowTotals(observed), cols = reference::ColTotals(observed);
        const auto tables = reference::TablesInVisitingOrder(rows, cols);
        ASSERT_EQ(tables.size(), CountTwoWaySamplePoints(rows, cols).ExactCount);  // every table once
        auto values = [&](const Table& t) {
            return Values{reference::Probability(t, F), reference::LikelihoodRatio(t), reference::Pearson(t)};
        };
        std::vector<std::vector<int>> order;
        std::vector<Values> all;
        Values fisher{};  // X11 below, at, above the observed one
        for (const Table& t : tables) {
            order.push_back({});
            for (const auto& row : t) order.back().insert(order.back().end(), row.begin(), row.end());
            all.push_back(values(t));
            fisher[t[0][0] < observed[0][0] ? 0 : t[0][0] == observed[0][0] ? 1 : 2] += all.back()[0];
        }
        Options().Opt2x2twotail = rows.size() == 2 && cols.size() == 2;
        ExpectReference(observed, order, all, values(observed), traced);
        if (Options().Opt2x2twotail) {
            const AnalysisState& s = engine.State();
            EXPECT_EQ((Values{s.FisherLess, s.FisherEqual, s.FisherGreater}), fisher);
        }
    }

    const reference::Factorials F;
};

// Random tables without empty rows or columns, counts below `spread`, at most `maxPoints` sample points.
std::vector<Table> RandomTables(int count, unsigned seed, unsigned spread, double maxPoints) {
    std::mt19937 random(seed);
    std::vector<Table> tables;
    while (static_cast<int>(tables.size()) < count) {
        const std::size_t r = 2 + random() % 3, c = 2 + random() % 3;
        Table t(r, std::vector<int>(c));
        for (auto& row : t) std::ranges::generate(row, [&] { return static_cast<int>(random() % spread); });
        const auto rows = reference::RowTotals(t), cols = reference::ColTotals(t);
        if (!std::ranges::count(rows, 0) && !std::ranges::count(cols, 0) && CountTwoWaySamplePoints(rows, cols).Count <= maxPoints)
            tables.push_back(t);
    }
    return tables;
}

// The worked orders, which the reference's own order must follow: the last
// row is the outer loop, row 2 the inner one, row 1 the remainder; one-way
// counts, of a row or a column, run in lexicographic order.
TEST_F(EnumerationTest, WorkedVisitingOrders) {
    EXPECT_EQ(RunTraced({{2, 1}, {1, 3}}), (std::vector<std::vector<int>>{{3, 0, 0, 4}, {2, 1, 1, 3}, {1, 2, 2, 2}, {0, 3, 3, 1}}));
    EXPECT_EQ(RunTraced({{1, 1, 0}, {0, 1, 1}, {1, 0, 1}}).at(3), (std::vector<int>{2, 0, 0, 0, 1, 1, 0, 1, 1}));  // row 2 innermost
    const std::vector<std::vector<int>> compositions{{0, 0, 2}, {0, 1, 1}, {0, 2, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 0}};
    EXPECT_EQ(RunTraced({{1, 1, 0}}), compositions);
    EXPECT_EQ(RunTraced({{1}, {1}, {0}}), compositions);
}

// Small random tables traced (every value evaluated directly, the order
// checked), larger ones not: the row sweep and its tally bands must give the
// very bits of the reference. The fixed tables put the sweep's positions
// every way, counts above 25, statistics of 0 and many ties.
TEST_F(EnumerationTest, RandomTablesAgreeWithTheReferenceToTheLastBit) {
    for (const Table& t : RandomTables(40, 20240611u, 3, 3000)) ExpectSameAsReference(t, true);
    for (const Table& t : RandomTables(25, 4242u, 7, 30000)) ExpectSameAsReference(t, false);
    for (const Table& t : {Table{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}}, Table{{4, 0, 3, 2}, {1, 5, 0, 2}, {2, 2, 6, 1}},
                           Table{{7, 1}, {2, 9}, {4, 4}, {0, 6}, {3, 3}}, Table{{2, 1, 0, 3, 1}, {0, 2, 2, 1, 1}},
                           Table{{2, 1, 1, 0, 2}, {0, 2, 1, 2, 1}, {1, 1, 2, 1, 0}}, Table{{40, 5, 30}, {10, 35, 20}},
                           Table{{30, 1, 2}, {25, 2, 1}, {28, 1, 1}}, Table{{1, 2, 6}, {2, 4, 12}}, Table{{1, 1, 1}, {1, 1, 1}, {2, 2, 2}},
                           Table{{2, 1, 1}, {1, 2, 1}, {1, 1, 2}}})
        ExpectSameAsReference(t, false);
}

// One-way rows and columns with random typed weights against the multinomial reference.
TEST_F(EnumerationTest, RandomOneWayTablesAgreeWithTheReference) {
    std::mt19937 random(77u);
    for (int done = 0; done < 30;) {
        std::vector<int> counts(2 + random() % 3), weights(counts.size());
        std::ranges::generate(counts, [&] { return static_cast<int>(random() % 4); });
        std::ranges::generate(weights, [&] { return 1 + static_cast<int>(random() % 3); });
        const int n = std::accumulate(counts.begin(), counts.end(), 0), w = std::accumulate(weights.begin(), weights.end(), 0);
        if (n < 1 || n > 8 || w > 8) continue;
        ++done;
        std::vector<double> p;
        std::vector<std::string> typed;
        for (int v : weights) p.push_back(static_cast<double>(v) / w), typed.push_back(std::to_string(v));
        auto values = [&](const std::vector<int>& x) {
            return Values{reference::MultinomialProbability(x, p, F), reference::OneWayStatistic(x, p, false),
                          reference::OneWayStatistic(x, p, true)};
        };
        const auto order = reference::Compositions(static_cast<int>(counts.size()), n);
        std::vector<Values> all;
        for (const auto& x : order) all.push_back(values(x));
        Table table{counts};  // every other one as a column
        if (done % 2 == 0) {
            table.clear();
            for (int v : counts) table.push_back({v});
        }
        SCOPED_TRACE(reference::Text(table) + " weights " + reference::Text({weights}));
        TypeWeights(typed);
        ExpectReference(table, order, all, values(counts), true);
    }
}

// With only some of the exact tests asked for, the sweep still gives what
// the direct evaluation gives.
TEST_F(EnumerationTest, TheSweepAgreesWithTheDirectEvaluationWithFewerTests) {
    auto outcome = [&](bool direct) {
        engine.State().DirectEvaluation = direct;
        Run({{3, 2, 1, 2}, {1, 3, 2, 0}, {2, 1, 4, 1}});
        const AnalysisState& s = engine.State();
        return std::tuple(s.SamplePointCount, s.ObservedProbability, Key(s.ProbabilityTally), Key(s.G2Tally), Key(s.X2Tally));
    };
    for (const char* tests : {"ExaLRtest CountPos", "ExaCStest CountPos", "CountPos"}) {
        Options() = fakes::With(tests);
        EXPECT_EQ(outcome(false), outcome(true)) << tests;
    }
}

// Relative tolerances 1e-10 for probabilities, 1e-9 for statistics (random
// tables seldom fall that close); 0 ties 0.
TEST(TallyRuleTest, RelativeTolerancesDecideEqual) {
    const TallyKind P = TallyKind::Probability, S = TallyKind::Statistic;
    for (const auto& [kind, a, b, expected] :
         {std::tuple{P, 0.2 * (1 + 1.5e-10), 0.2, 1}, {P, 0.2 * (1 + 3e-10), 0.2, 2}, {P, 0.2, 0.2 * (1 + 3e-10), 0}, {P, 0.0, 0.0, 1},
          {S, 4.0 * (1 + 1.5e-9), 4.0, 1}, {S, 4.0 * (1 + 3e-9), 4.0, 2}, {S, 4.0, 4.0 * (1 + 3e-9), 0}, {S, 0.0, 0.0, 1}}) {
        ExactTally t;
        UpdateTally(t, kind, a, b, 0.25);
        const int k = expected;
        EXPECT_EQ(Key(t), std::tuple(k == 0, k == 1, k == 2, k == 0 ? 0.25 : 0.0, k == 1 ? 0.25 : 0.0, k == 2 ? 0.25 : 0.0))
            << a << " " << b;
        EXPECT_EQ(TallyClass(kind, a, b), expected);
    }
}

// The sweep classes whole stretches of values by their band: a class from
// the band must be the rule's for every value within the error (probes
// around 0, +-b and the edges), and a stretch's common class that of each
// value in it; where the error reaches an edge the class is left open.
TEST(TallyBandTest, ClassesOnlyWhereTheRuleAgreesThroughoutTheError) {
    const TallyKind P = TallyKind::Probability, S = TallyKind::Statistic;
    for (const auto& [kind, b, error] : {std::tuple{P, 0.2, 0.0}, {P, 3.0e-7, 0.0}, {P, 1e-305, 0.0}, {P, 0.0, 0.0}, {S, 12.5, 1e-11},
                                         {S, 4.0, 1e-3}, {S, 0.0, 1e-13}, {S, -2e-15, 1e-13}, {S, 1e-200, 0.0}}) {
        SCOPED_TRACE(testing::Message() << (kind == P ? "probability " : "statistic ") << b << " +- " << error);
        const double t = kind == P ? kProbabilityTolerance : kStatisticTolerance;
        std::vector<double> probes;
        for (double anchor : {0.0, b, -b, b * (1 - t) / (1 + t), b * (1 + t) / (1 - t), 2 * b}) {
            for (double step : {error, anchor * 1e-15, anchor * 1e-12, anchor * 1e-10})
                for (int k = -3; k <= 3; ++k) probes.push_back(anchor + k * step);
            probes.insert(probes.end(), {std::nextafter(anchor, -1.0), std::nextafter(anchor, 1.0)});
        }
        std::ranges::sort(probes);
        const TallyBand band(kind, b, error);
        int classed = 0;
        for (std::size_t low = 0; low < probes.size(); ++low) {
            const int found = band.Class(probes[low]);
            classed += found >= 0;
            for (double delta : {-error, 0.0, error})
                ASSERT_TRUE(found < 0 || found == TallyClass(kind, probes[low] + delta, b)) << probes[low] << " " << delta;
            for (std::size_t high = low; high < probes.size() && high < low + 12; ++high) {
                int guess = static_cast<int>(high % 3);
                const int common = band.Common(probes[low], probes[high], guess);
                for (std::size_t k = low; common >= 0 && k <= high; ++k) ASSERT_EQ(band.Class(probes[k]), common) << k;
            }
        }
        EXPECT_TRUE(std::fabs(b) <= 1e-300 || classed > 0);
    }
    EXPECT_EQ(TallyBand(P, 0.2, 0.0).Class(0.2 * (1 + 1e-10) / (1 - 1e-10)), -1);
    EXPECT_EQ(TallyBand(S, 0.0, 1e-13).Class(0.0), -1);
}

// The count made beforehand (it decides the network algorithm and the
// progress shown): the benchmark tables' figures, published with them and
// recounted apart from the program (row by row), the 12! permutation matrices, 2 x 2
// closed forms, either way round; exact below 2^64, approximate above;
// one-way C(n + k - 1, k - 1), where C(67, 33) fits and C(68, 33) does not.
TEST(SamplePointCounter, PublishedFiguresClosedFormsAndTheLimitOfTheExactCount) {
    using Margins = std::vector<int>;
    auto expectCount = [](const Margins& rows, const Margins& cols, std::uint64_t expected) {
        for (const SamplePointEstimate& e : {CountTwoWaySamplePoints(rows, cols), CountTwoWaySamplePoints(cols, rows)})
            EXPECT_TRUE(e.Exact && e.ExactCount == expected && e.Count == static_cast<double>(expected)) << rows.size() << " x " << cols.size();
    };
    expectCount({26, 26, 18}, {16, 17, 19, 18}, 1'887'711);
    expectCount({20, 22, 33, 21}, {4, 13, 43, 36}, 90'208'550);
    expectCount({14, 14, 14, 14}, {14, 14, 14, 14}, 66'952'936);
    expectCount(Margins(12, 1), Margins(12, 1), 479'001'600);
    expectCount({3, 317}, Margins(64, 5), 45'760);  // C(3 + 63, 63): every x_j <= 3 fits
    for (int r1 = 0; r1 <= 9; ++r1)
        for (int r2 = 0; r2 <= 9; ++r2)
            for (int c1 = 0; c1 <= r1 + r2; ++c1) expectCount({r1, r2}, {c1, r1 + r2 - c1}, std::min(r2, c1) - std::max(0, c1 - r1) + 1);
    EXPECT_EQ(CountTwoWaySamplePoints({3, 4}, {3, 3}).Count, 0.0);  // margins no table has
    const SamplePointEstimate permutations = CountTwoWaySamplePoints(Margins(30, 1), Margins(30, 1)), one = CountOneWaySamplePoints(35, 34);
    EXPECT_FALSE(permutations.Exact || one.Exact);
    EXPECT_NEAR(permutations.Count / std::tgamma(31.0), 1.0, 1e-12);  // 30!
    EXPECT_NEAR(one.Count / 27'640'097'433'090'845'976.0, 1.0, 1e-12);
    EXPECT_EQ(CountOneWaySamplePoints(34, 34).ExactCount, 14'226'520'737'620'288'370u);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2).ExactCount, 2'000'000'001u);
    EXPECT_EQ(CountOneWaySamplePoints(10, 4).ExactCount + CountOneWaySamplePoints(5, 1).ExactCount, 287u);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2000).Count + CountOneWaySamplePoints(3, 0).Count + CountOneWaySamplePoints(-1, 3).Count,
              0.0);
}

// Counting up to a bound (what the choice of the network algorithm needs):
// the tables of three benchmark margins, either way round, stop once they
// reach the bound, even at the last table, and are counted whole below it;
// a count past 64 bits reaches any bound; two rows, counted in closed form
// at once, are counted whole.
TEST(SamplePointCounter, CountingUpToABoundStopsWhereTheCountReachesIt) {
    using Margins = std::vector<int>;
    const std::pair<Margins, Margins> margins[] = {{{26, 26, 18}, {16, 17, 19, 18}},
                                                   {{20, 22, 33, 21}, {4, 13, 43, 36}},
                                                   {{14, 14, 14, 14}, {14, 14, 14, 14}}};
    for (const auto& [rows, cols] : margins)
        for (const auto& [r, c] : {std::pair{rows, cols}, std::pair{cols, rows}}) {
            const std::uint64_t count = CountTwoWaySamplePoints(r, c).ExactCount;
            for (const std::uint64_t bound : {std::uint64_t{1}, count / 2, count}) {
                const SamplePointEstimate e = CountTwoWaySamplePoints(r, c, bound);
                EXPECT_TRUE(e.Reached && !e.Exact && e.Count == 0.0) << count << " " << bound;
            }
            const SamplePointEstimate whole = CountTwoWaySamplePoints(r, c, count + 1);
            EXPECT_TRUE(whole.Exact && whole.ExactCount == count && !whole.Reached) << count;
        }
    EXPECT_TRUE(CountTwoWaySamplePoints(Margins(30, 1), Margins(30, 1), 1'000'000).Reached);
    const SamplePointEstimate twoRows = CountTwoWaySamplePoints({3, 317}, Margins(64, 5), 10);
    EXPECT_TRUE(twoRows.Exact && twoRows.ExactCount == 45'760);
}

// The exact count by dominance sums over the box of row totals: the
// published figures; the budgeted counter's exact counts on random margins;
// tables whose count the budgeted counter gives up on, against counts made
// apart from the program (row by row over a map of the remaining column
// totals, in 128-bit integers); the box limit and the 2^63 limit.
TEST(SamplePointCounter, TheCountByDominanceSumsIsExact) {
    using Margins = std::vector<int>;
    constexpr std::size_t kBox = std::size_t{1} << 24;
    auto both = [&](const Margins& rows, const Margins& cols) {
        const auto a = CountTwoWayTablesExactly(rows, cols, kBox), b = CountTwoWayTablesExactly(cols, rows, kBox);
        EXPECT_EQ(a, b);
        return a;
    };
    EXPECT_EQ(both({26, 26, 18}, {16, 17, 19, 18}), 1'887'711u);
    EXPECT_EQ(both({20, 22, 33, 21}, {4, 13, 43, 36}), 90'208'550u);
    EXPECT_EQ(both({14, 14, 14, 14}, {14, 14, 14, 14}), 66'952'936u);
    EXPECT_EQ(both(Margins(12, 1), Margins(12, 1)), 479'001'600u);
    EXPECT_EQ(both({5}, {2, 3}), 1u);
    std::mt19937 random(4242u);
    for (int k = 0; k < 200; ++k) {
        Margins rows(2 + random() % 4), cols(2 + random() % 5);
        for (int& t : rows) t = 1 + static_cast<int>(random() % 12);
        int left = 0;
        for (int t : rows) left += t;
        for (std::size_t j = 0; j + 1 < cols.size(); ++j) {
            cols[j] = left > static_cast<int>(cols.size() - j) ? 1 + static_cast<int>(random() % static_cast<unsigned>(left / 2 + 1)) : 0;
            left -= cols[j];
        }
        cols.back() = left;
        if (std::find(cols.begin(), cols.end(), 0) != cols.end() || left <= 0) continue;
        const SamplePointEstimate e = CountTwoWaySamplePoints(rows, cols);
        ASSERT_TRUE(e.Exact);
        EXPECT_EQ(both(rows, cols), e.ExactCount);
        // The bound at once is never above the count, and counts at least
        // the table it is formed from.
        EXPECT_LE(TablesAtLeast(rows, cols), e.ExactCount);
        EXPECT_LE(TablesAtLeast(cols, rows), e.ExactCount);
        EXPECT_GE(TablesAtLeast(rows, cols), 1u);
    }
    EXPECT_EQ(both({33, 21, 44, 21, 33}, {41, 28, 56, 27}), 38'152'417'927'508u);  // given up by the budgeted counter
    // Where the bound at once passes the count the caller needs, the
    // counter says so without counting (the budgeted counter gives up on
    // this one: the count would be unknown).
    const std::vector<int> rows{23, 23, 48, 22, 23}, cols{47, 22, 47, 23};
    EXPECT_EQ(both(rows, cols), 8'853'258'634'350u);
    EXPECT_GE(TablesAtLeast(rows, cols), 1'000'000u);
    EXPECT_LE(TablesAtLeast(rows, cols), 8'853'258'634'350u);
    EXPECT_TRUE(CountTwoWaySamplePoints(rows, cols, 1'000'000).Reached);
    EXPECT_EQ(TablesAtLeast({3, 4}, {3, 3}), 0u);
    EXPECT_EQ(TablesAtLeast({1, 1, 1}, {1, 1, 1}), 2u);  // rows 1 and 2 exchanged (6 in all)
    // Asked whether to go on before counting and every million points or so
    // (the box of the table near independence: 1.9 million points, some
    // million visited a column): stopping gives nothing.
    int asked = 0;
    EXPECT_EQ(CountTwoWayTablesExactly({33, 21, 44, 21, 33}, {41, 28, 56, 27}, kBox, [&] { return ++asked > 0; }),
              38'152'417'927'508u);
    EXPECT_GE(asked, 3);
    for (const int stopAt : {1, 2}) {
        int calls = 0;
        EXPECT_EQ(CountTwoWayTablesExactly({33, 21, 44, 21, 33}, {41, 28, 56, 27}, kBox, [&] { return ++calls < stopAt; }),
                  std::nullopt);
        EXPECT_EQ(calls, stopAt);
    }
    EXPECT_EQ(both({40, 40, 40}, Margins(40, 3)), std::nullopt);  // about 10^37
    EXPECT_EQ(CountTwoWayTablesExactly({14, 14, 14, 14}, {14, 14, 14, 14}, 1000), std::nullopt);  // 15^4 points
    EXPECT_EQ(CountTwoWayTablesExactly({3, 4}, {3, 3}, kBox), std::nullopt);  // margins no table has
}

}  // namespace
}  // namespace kelvorin
