// The exact enumeration against the literal reference, to the last bit; its
// fast path (row sweep, tally band) against the direct evaluation; the count
// of sample points made beforehand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <cmath>
#include <numeric>
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
        Options().Details = true;
        env.saveDialog.chosen = dir.File("trace" + std::to_string(++files) + ".txt");
        Run(table);
        Options().Details = false;
        std::vector<std::vector<int>> visited;
        for (std::string line : fakes::FileLines(env.saveDialog.chosen)) {
            if (line.find("  :: ") == std::string::npos || line.starts_with(" number")) continue;
            EXPECT_TRUE(visited.size() >= 99 || std::stoi(line.substr(0, 6)) == static_cast<int>(visited.size() + 1)) << line;
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
    fakes::TempDirectory dir;
    int files = 0;
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

// The last row is the outer loop, row 2 the inner one, row 1 the remainder;
// one-way counts run in lexicographic order.
TEST_F(EnumerationTest, WorkedVisitingOrders) {
    EXPECT_EQ(RunTraced({{2, 1}, {1, 3}}), (std::vector<std::vector<int>>{{3, 0, 0, 4}, {2, 1, 1, 3}, {1, 2, 2, 2}, {0, 3, 3, 1}}));
    const auto visited = RunTraced({{1, 1, 0}, {0, 1, 1}, {1, 0, 1}});
    ASSERT_EQ(visited.size(), 21u);
    EXPECT_EQ(std::vector(visited.begin(), visited.begin() + 4),
              (std::vector<std::vector<int>>{{2, 0, 0, 0, 2, 0, 0, 0, 2}, {1, 1, 0, 1, 1, 0, 0, 0, 2}, {0, 2, 0, 2, 0, 0, 0, 0, 2},
                                             {2, 0, 0, 0, 1, 1, 0, 1, 1}}));
    const std::vector<std::vector<int>> compositions{{0, 0, 2}, {0, 1, 1}, {0, 2, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 0}};
    EXPECT_EQ(RunTraced({{1, 1, 0}}), compositions);
    EXPECT_EQ(RunTraced({{1}, {1}, {0}}), compositions);
}

// Small tables traced (every value evaluated directly), larger ones not (the fast path).
TEST_F(EnumerationTest, RandomTablesAgreeWithTheReferenceToTheLastBit) {
    for (const Table& t : RandomTables(40, 20240611u, 3, 3000)) ExpectSameAsReference(t, true);
    for (const Table& t : RandomTables(25, 4242u, 7, 30000)) ExpectSameAsReference(t, false);
    for (const Table& t : {Table{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}}, Table{{4, 0, 3, 2}, {1, 5, 0, 2}, {2, 2, 6, 1}},
                           Table{{7, 1}, {2, 9}, {4, 4}, {0, 6}, {3, 3}}})
        ExpectSameAsReference(t, false);
}

// One-way rows and columns with random typed weights against the multinomial reference.
TEST_F(EnumerationTest, RandomOneWayTablesAgreeWithTheReference) {
    std::mt19937 random(77u);
    for (int done = 0; done < 30;) {
        std::vector<int> counts(2 + random() % 3), weights(counts.size());
        std::vector<std::string> typed;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            counts[i] = static_cast<int>(random() % 4), weights[i] = 1 + static_cast<int>(random() % 3);
            typed.push_back(std::to_string(weights[i]));
        }
        const bool column = random() % 2 == 0;
        const int n = std::accumulate(counts.begin(), counts.end(), 0), w = std::accumulate(weights.begin(), weights.end(), 0);
        if (n < 1 || n > 8 || w > 8) continue;
        ++done;
        std::vector<double> p;
        for (int v : weights) p.push_back(static_cast<double>(v) / w);
        auto values = [&](const std::vector<int>& x) {
            return Values{reference::MultinomialProbability(x, p, F), reference::OneWayStatistic(x, p, false),
                          reference::OneWayStatistic(x, p, true)};
        };
        const auto order = reference::Compositions(static_cast<int>(counts.size()), n);
        std::vector<Values> all;
        for (const auto& x : order) all.push_back(values(x));
        Table table{counts};
        if (column) {  // the same counts as a column
            table.clear();
            for (int v : counts) table.push_back({v});
        }
        SCOPED_TRACE(reference::Text(table) + " weights " + reference::Text({weights}));
        TypeWeights(typed);
        ExpectReference(table, order, all, values(counts), true);
    }
}

// Relative tolerances 1e-10 for probabilities, 1e-9 for statistics; 0 ties 0.
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

// A class from the band must be the rule's for every value within the error
// (probes around 0, +-b, the edges, and at random); on an edge it is left open.
TEST(TallyBandTest, ClassesOnlyWhereTheRuleAgreesThroughoutTheError) {
    const TallyKind P = TallyKind::Probability, S = TallyKind::Statistic;
    std::mt19937 random(77u);
    for (const auto& [kind, b, error] : {std::tuple{P, 0.2, 0.0}, {P, 3.0e-7, 0.0}, {P, 1e-305, 0.0}, {P, 5e-320, 0.0},
                                         {P, 0.0, 0.0}, {S, 12.5, 0.0}, {S, 12.5, 1e-11}, {S, 4.0, 1e-3}, {S, 0.0, 1e-13},
                                         {S, -2e-15, 1e-13}, {S, 1e-200, 0.0}}) {
        SCOPED_TRACE(testing::Message() << (kind == P ? "probability " : "statistic ") << b << " +- " << error);
        const double t = kind == P ? kProbabilityTolerance : kStatisticTolerance;
        std::vector<double> probes;
        for (double anchor : {0.0, b, -b, b * (1 - t) / (1 + t), b * (1 + t) / (1 - t), 2 * b, 0.5 * b}) {
            for (double step : {error, anchor * 1e-15, anchor * 1e-12, anchor * 1e-11, anchor * 1e-10})
                for (int k = -3; k <= 3; ++k) probes.push_back(anchor + k * step);
            double below = anchor, above = anchor;
            for (int k = 0; k < 4; ++k)
                probes.insert(probes.end(), {below = std::nextafter(below, -1e300), above = std::nextafter(above, 1e300)});
        }
        std::uniform_real_distribution<double> spread(-1.0, 3.0);
        for (int k = 0; k < 200; ++k) probes.push_back(spread(random) * (b == 0.0 ? 1e-12 : std::fabs(b)));
        std::ranges::sort(probes);
        const TallyBand band(kind, b, error);
        int classed = 0, common = 0;
        for (double a : probes) {
            const int found = band.Class(a);
            classed += found >= 0;
            for (double delta : {-error, -0.5 * error, 0.0, 0.5 * error, error})
                ASSERT_TRUE(found < 0 || found == TallyClass(kind, a + delta, b)) << "a = " << a << ", delta = " << delta;
        }
        for (std::size_t low = 0; low < probes.size(); low += 7)
            for (std::size_t high = low; high < probes.size(); high += 5)
                for (int start = 0; start < 3; ++start) {
                    int guess = start;
                    const int found = band.Common(probes[low], probes[high], guess);
                    EXPECT_EQ(guess, found < 0 ? start : found);
                    for (std::size_t k = low; found >= 0 && k <= high; ++k) ASSERT_EQ(band.Class(probes[k]), found) << k;
                    common += found >= 0;
                }
        EXPECT_TRUE((std::fabs(b) <= 1e-300 && b != 0.0) || (classed > 0 && (error >= 1e-6 || common > 0)));
    }
    EXPECT_EQ(TallyBand(P, 0.2, 0.0).Class(0.2 * (1 + 1e-10) / (1 - 1e-10)), -1);
    EXPECT_EQ(TallyBand(S, 0.0, 1e-13).Class(0.0), -1);
}

// Every way the sweep's positions fall, counts above 25, statistics of 0, ties;
// all tests or one; a break-off at the second display.
TEST_F(EnumerationTest, TheSweepAgreesWithTheDirectEvaluationToTheLastBit) {
    auto outcome = [&](const Table& table, bool direct) {
        engine.State().DirectEvaluation = direct;
        env.pump.passes = 0;
        Run(table);
        const AnalysisState& s = engine.State();
        return std::tuple(s.SamplePointCount, s.ObservedProbability, Key(s.ProbabilityTally), Key(s.G2Tally), Key(s.X2Tally), s.Table.Cells,
                          s.Abandoned);
    };
    auto expectSame = [&](const Table& t) { EXPECT_EQ(outcome(t, false), outcome(t, true)) << reference::Text(t); };
    for (const Table& t : {Table{{3, 1, 4}, {1, 5, 2}}, Table{{2, 1, 0, 3, 1}, {0, 2, 2, 1, 1}}, Table{{4, 1}, {2, 3}, {1, 5}},
                           Table{{2, 0}, {1, 2}, {0, 3}, {2, 1}, {1, 1}}, Table{{3, 2, 1}, {1, 3, 2}, {2, 1, 4}},
                           Table{{2, 1, 1, 0, 2}, {0, 2, 1, 2, 1}, {1, 1, 2, 1, 0}}, Table{{40, 5, 30}, {10, 35, 20}},
                           Table{{30, 1, 2}, {25, 2, 1}, {28, 1, 1}}, Table{{1, 2, 6}, {2, 4, 12}}, Table{{1, 1, 1}, {1, 1, 1}, {2, 2, 2}},
                           Table{{2, 1, 1}, {1, 2, 1}, {1, 1, 2}}, Table{{1, 3, 10, 6}, {2, 3, 10, 7}, {0, 1, 2, 1}}})
        expectSame(t);
    for (const char* tests : {"ExaLRtest CountPos", "ExaCStest CountPos", "CountPos"}) {
        Options() = fakes::With(tests);
        expectSame({{3, 2, 1, 2}, {1, 3, 2, 0}, {2, 1, 4, 1}});
    }
    env.pump.onPass = [&] {
        if (env.pump.passes == 2) engine.BreakOff();
    };
    expectSame({{10, 6, 5}, {6, 8, 7}, {5, 7, 9}});
    EXPECT_EQ(engine.State().SamplePointCount, 20000u);
    EXPECT_TRUE(engine.State().Abandoned);
}

__extension__ typedef unsigned __int128 Uint128;
using Margins = std::vector<int>;

// The tables column by column in 128 bits, the state being the row totals
// still to fill (no symmetry reduction, no closed form).
Uint128 CountByColumns(const Margins& rows, const Margins& cols) {
    std::map<Margins, Uint128> states{{rows, 1}};
    for (int colTotal : cols) {
        std::map<Margins, Uint128> next;
        for (const auto& [left, ways] : states) {
            Margins after = left;
            auto spread = [&](auto& self, std::size_t i, int rest) -> void {
                if (i == after.size() && rest == 0) next[after] += ways;
                for (int x = 0; i < after.size() && x <= std::min(rest, left[i]); ++x) after[i] = left[i] - x, self(self, i + 1, rest - x);
            };
            spread(spread, 0, colTotal);
        }
        states = std::move(next);
    }
    return states[Margins(rows.size(), 0)];
}

// Exact up to 64 bits, approximate and close above; either way round.
void ExpectCount(const Margins& rows, const Margins& cols, Uint128 expected) {
    for (const SamplePointEstimate& e : {CountTwoWaySamplePoints(rows, cols), CountTwoWaySamplePoints(cols, rows)}) {
        EXPECT_EQ(e.Exact, expected <= UINT64_MAX) << rows.size() << " x " << cols.size();
        EXPECT_TRUE(!e.Exact || e.ExactCount == expected);
        EXPECT_NEAR(e.Count / static_cast<double>(expected), 1.0, 1e-12);
    }
}

TEST(TwoWaySamplePoints, PublishedFiguresClosedFormsAndTheColumnwiseCount) {
    ExpectCount({26, 26, 18}, {16, 17, 19, 18}, 1'887'711);
    ExpectCount({20, 22, 33, 21}, {4, 13, 43, 36}, 90'208'550);
    ExpectCount({14, 14, 14, 14}, {14, 14, 14, 14}, 66'952'936);
    ExpectCount(Margins(12, 1), Margins(12, 1), 479'001'600);  // the 12! permutation matrices
    ExpectCount({3, 317}, Margins(64, 5), 45'760);             // C(3 + 63, 63): every x_j <= 3 fits
    EXPECT_EQ(CountTwoWaySamplePoints({3, 4}, {3, 3}).Count, 0.0);  // margins no table has
    for (int r1 = 0; r1 <= 9; ++r1)
        for (int r2 = 0; r2 <= 9; ++r2)
            for (int c1 = 0; c1 <= r1 + r2; ++c1) ExpectCount({r1, r2}, {c1, r1 + r2 - c1}, std::min(r2, c1) - std::max(0, c1 - r1) + 1);
    // Zero and equal totals (which the counter groups), and beyond 64 bits.
    const std::vector<std::pair<Margins, Margins>> cases{{{0, 3, 0, 2}, {2, 0, 3}}, {{2, 2, 2}, Margins(6, 1)}, {{4, 4, 4}, Margins(6, 2)},
                                                   {{8, 7, 15, 5, 4}, {4, 5, 6, 5, 7, 7, 5}}, {{150, 150}, Margins(30, 10)},
                                                   {{1, 40, 39}, Margins(40, 2)}, {{66, 67, 67}, Margins(20, 10)}};
    for (const auto& [rows, cols] : cases) ExpectCount(rows, cols, CountByColumns(rows, cols));
}

// C(n + k - 1, k - 1): exact below 2^64 (C(67, 33) fits, C(68, 33) does
// not), approximate above, unknown beyond a double.
TEST(OneWaySamplePoints, CompositionsCount) {
    std::vector<std::vector<Uint128>> pascal(131);  // saturated where it would not fit
    for (std::size_t m = 0; m <= 130; ++m) {
        pascal[m].assign(m + 1, 1);
        for (std::size_t j = 1; j < m; ++j) pascal[m][j] = std::min(~Uint128(0) >> 1, pascal[m - 1][j - 1] + pascal[m - 1][j]);
    }
    for (std::size_t k = 1; k <= 60; ++k)
        for (std::size_t n = 0; n + k - 1 <= 130 && pascal[n + k - 1][k - 1] != ~Uint128(0) >> 1; ++n) {
            const Uint128 expected = pascal[n + k - 1][k - 1];
            const SamplePointEstimate e = CountOneWaySamplePoints(static_cast<int>(n), static_cast<int>(k));
            EXPECT_EQ(e.Exact, expected <= UINT64_MAX) << n << " " << k;
            EXPECT_NEAR(e.Count / static_cast<double>(expected), 1.0, 1e-12) << n << " " << k;
            EXPECT_TRUE(!e.Exact || e.ExactCount == static_cast<std::uint64_t>(expected)) << n << " " << k;
        }
    EXPECT_TRUE(CountOneWaySamplePoints(34, 34).Exact);
    EXPECT_FALSE(CountOneWaySamplePoints(35, 34).Exact);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2).ExactCount, 2'000'000'001u);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2000).Count, 0.0);
    EXPECT_EQ(CountOneWaySamplePoints(3, 0).Count + CountOneWaySamplePoints(-1, 3).Count, 0.0);
}

}  // namespace
}  // namespace kelvorin
