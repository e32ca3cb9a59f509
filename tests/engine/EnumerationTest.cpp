// The exact enumeration against the literal reference: the order in which
// sample points are visited, their number, the observed values and the three
// tallies to the last bit, for r x c tables and one-way tables; and the tally
// rule's tolerances.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "ExactEnumeration.h"
#include "FakePorts.h"
#include "ReferenceTables.h"
#include "SamplePointCounter.h"
#include "TraceLines.h"

namespace kelvorin {
namespace {

using reference::Table;

void ExpectTallyEquals(const ExactTally& engine, const reference::Tally& ref, const char* name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(engine.LessCount, ref.less);
    EXPECT_EQ(engine.EqualCount, ref.equal);
    EXPECT_EQ(engine.GreaterCount, ref.greater);
    EXPECT_EQ(engine.LessMass, ref.lessMass);
    EXPECT_EQ(engine.EqualMass, ref.equalMass);
    EXPECT_EQ(engine.GreaterMass, ref.greaterMass);
}

class EnumerationTest : public fakes::EngineHarness {
protected:
    void SetUp() override { Options() = fakes::With("ExaLRtest ExaCStest CountPos"); }

    // Runs the table traced at level 1 into a new file; returns the lines.
    std::vector<trace::SamplePointLine> RunTraced(const Table& table) {
        Options().Details = true;
        env.saveDialog.chosen = dir.File("trace" + std::to_string(++files) + ".txt");
        Run(table);
        Options().Details = false;
        return trace::SamplePointLines(fakes::FileLines(env.saveDialog.chosen));
    }
    static std::vector<std::vector<int>> Visited(const std::vector<trace::SamplePointLine>& lines) {
        std::vector<std::vector<int>> counts;
        for (const auto& l : lines) counts.push_back(trace::AllCounts(l));
        return counts;
    }

    // Runs the table (traced: also compares every visited table in order)
    // and compares the count, observed values and tallies with the reference.
    void ExpectSameAsReference(const Table& observed, bool traced) {
        SCOPED_TRACE(reference::Text(observed));
        const auto rows = reference::RowTotals(observed), cols = reference::ColTotals(observed);
        const auto order = reference::TablesInVisitingOrder(rows, cols);
        // The reference visits every table once (the counter is checked by brute force).
        ASSERT_EQ(order.size(), CountTwoWaySamplePoints(rows, cols).ExactCount);
        const bool twoByTwo = rows.size() == 2 && cols.size() == 2;
        Options().Opt2x2twotail = twoByTwo;
        if (traced) {
            const auto lines = RunTraced(observed);
            ASSERT_EQ(lines.size(), order.size());
            for (std::size_t k = 0; k < order.size(); ++k) ASSERT_EQ(lines[k].groups, order[k]) << k;
        } else {
            Run(observed);
        }
        const AnalysisState& s = engine.State();
        const double pObs = reference::Probability(observed, F), g2 = reference::LikelihoodRatio(observed),
                     x2 = reference::Pearson(observed);
        EXPECT_EQ(s.SamplePointCount, order.size());
        EXPECT_EQ(s.ObservedProbability, pObs);
        EXPECT_EQ(s.G2, g2);
        EXPECT_EQ(s.X2, x2);
        reference::Tally prob, lr, chi;
        double fisher[3] = {0, 0, 0};  // X11 below, at, above the observed one
        for (const Table& t : order) {
            const double p = reference::Probability(t, F);
            fisher[t[0][0] < observed[0][0] ? 0 : t[0][0] == observed[0][0] ? 1 : 2] += p;
            reference::Update(prob, true, p, pObs, p);
            reference::Update(lr, false, reference::LikelihoodRatio(t), g2, p);
            reference::Update(chi, false, reference::Pearson(t), x2, p);
        }
        ExpectTallyEquals(s.ProbabilityTally, prob, "probability");
        ExpectTallyEquals(s.G2Tally, lr, "likelihood ratio");
        ExpectTallyEquals(s.X2Tally, chi, "Pearson");
        if (twoByTwo) {
            EXPECT_EQ(s.FisherLess, fisher[0]);
            EXPECT_EQ(s.FisherEqual, fisher[1]);
            EXPECT_EQ(s.FisherGreater, fisher[2]);
        }
    }

    const reference::Factorials F;
    fakes::TempDirectory dir;
    int files = 0;
};

// Random tables without empty rows or columns, with counts below `spread`
// and at most `maxPoints` sample points.
std::vector<Table> RandomTables(int count, unsigned seed, int spread, double maxPoints) {
    std::mt19937 random(seed);
    std::vector<Table> tables;
    while (static_cast<int>(tables.size()) < count) {
        const std::size_t r = 2 + random() % 3, c = 2 + random() % 3;
        Table t(r, std::vector<int>(c));
        for (auto& row : t)
            for (int& v : row) v = static_cast<int>(random() % static_cast<unsigned>(spread));
        const auto rows = reference::RowTotals(t), cols = reference::ColTotals(t);
        if (std::count(rows.begin(), rows.end(), 0) || std::count(cols.begin(), cols.end(), 0)) continue;
        if (CountTwoWaySamplePoints(rows, cols).Count <= maxPoints) tables.push_back(t);
    }
    return tables;
}

// The visiting order of the worked tables, written out: the last row is the
// outer loop, row 2 the inner one, row 1 the remainder; one-way counts in
// lexicographic order, as a row or as a column.
TEST_F(EnumerationTest, WorkedVisitingOrders) {
    EXPECT_EQ(Visited(RunTraced({{2, 1}, {1, 3}})),
              (std::vector<std::vector<int>>{{3, 0, 0, 4}, {2, 1, 1, 3}, {1, 2, 2, 2}, {0, 3, 3, 1}}));
    const auto lines = RunTraced({{1, 1, 0}, {0, 1, 1}, {1, 0, 1}});
    const auto visited = Visited(lines);
    ASSERT_EQ(visited.size(), 21u);
    EXPECT_EQ(visited[0], (std::vector<int>{2, 0, 0, 0, 2, 0, 0, 0, 2}));
    EXPECT_EQ(visited[1], (std::vector<int>{1, 1, 0, 1, 1, 0, 0, 0, 2}));
    EXPECT_EQ(visited[2], (std::vector<int>{0, 2, 0, 2, 0, 0, 0, 0, 2}));
    EXPECT_EQ(std::vector<int>(visited[3].begin() + 6, visited[3].end()), (std::vector<int>{0, 1, 1}));
    for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k].number, static_cast<int>(k + 1));
    const std::vector<std::vector<int>> compositions{{0, 0, 2}, {0, 1, 1}, {0, 2, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 0}};
    EXPECT_EQ(Visited(RunTraced({{1, 1, 0}})), compositions);
    EXPECT_EQ(Visited(RunTraced({{1}, {1}, {0}})), compositions);
}

// Small random tables traced (every table in order), larger ones untraced
// (the fast path of the enumeration), each against the reference.
TEST_F(EnumerationTest, RandomTablesAgreeWithTheReferenceToTheLastBit) {
    for (const Table& t : RandomTables(40, 20240611u, 3, 3000)) ExpectSameAsReference(t, true);
    for (const Table& t : RandomTables(25, 4242u, 7, 30000)) ExpectSameAsReference(t, false);
    for (const Table& t : std::vector<Table>{{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}},
                                             {{4, 0, 3, 2}, {1, 5, 0, 2}, {2, 2, 6, 1}},
                                             {{7, 1}, {2, 9}, {4, 4}, {0, 6}, {3, 3}}})
        ExpectSameAsReference(t, false);
}

// One-way tables as a row or a column with random typed weights: visiting
// order, observed values and tallies against the multinomial reference.
TEST_F(EnumerationTest, RandomOneWayTablesAgreeWithTheReference) {
    std::mt19937 random(77u);
    for (int done = 0; done < 30;) {
        const int k = 2 + static_cast<int>(random() % 3);
        std::vector<int> counts, weights;
        std::vector<std::string> typed;
        for (int i = 0; i < k; ++i) {
            counts.push_back(static_cast<int>(random() % 4));
            weights.push_back(1 + static_cast<int>(random() % 3));
            typed.push_back(std::to_string(weights.back()));
        }
        const bool column = random() % 2 == 0;
        const int n = std::accumulate(counts.begin(), counts.end(), 0), w = std::accumulate(weights.begin(), weights.end(), 0);
        if (n < 1 || n > 8 || w > 8) continue;
        ++done;
        Table table;
        if (column) for (int v : counts) table.push_back({v});
        else table.push_back(counts);
        SCOPED_TRACE(reference::Text(table) + " weights " + reference::Text({weights}));
        TypeWeights(typed);
        const auto order = reference::Compositions(k, n);
        EXPECT_EQ(Visited(RunTraced(table)), order);

        std::vector<double> p;
        for (int v : weights) p.push_back(static_cast<double>(v) / w);
        const double pObs = reference::MultinomialProbability(counts, p, F);
        const double g2 = reference::OneWayStatistic(counts, p, false), x2 = reference::OneWayStatistic(counts, p, true);
        EXPECT_EQ(engine.State().ObservedProbability, pObs);
        EXPECT_EQ(engine.State().G2, g2);
        EXPECT_EQ(engine.State().X2, x2);
        reference::Tally prob, lr, chi;
        for (const auto& x : order) {
            const double px = reference::MultinomialProbability(x, p, F);
            reference::Update(prob, true, px, pObs, px);
            reference::Update(lr, false, reference::OneWayStatistic(x, p, false), g2, px);
            reference::Update(chi, false, reference::OneWayStatistic(x, p, true), x2, px);
        }
        ExpectTallyEquals(engine.State().ProbabilityTally, prob, "probability");
        ExpectTallyEquals(engine.State().G2Tally, lr, "likelihood ratio");
        ExpectTallyEquals(engine.State().X2Tally, chi, "Pearson");
    }
}

// The tolerances of the tally rule: 1e-10 relative for probabilities, 1e-9
// for statistics; a tie at zero is equal; the probability goes to the mass.
TEST(TallyRuleTest, RelativeTolerancesDecideEqual) {
    struct Case {
        TallyKind kind;
        double a, b;
        int expected;  // 0 less, 1 equal, 2 greater
    };
    const TallyKind P = TallyKind::Probability, S = TallyKind::Statistic;
    for (const Case& c : {Case{P, 0.2 * (1 + 1.5e-10), 0.2, 1}, Case{P, 0.2 * (1 + 3e-10), 0.2, 2},
                          Case{P, 0.2, 0.2 * (1 + 3e-10), 0}, Case{P, 0.0, 0.0, 1}, Case{S, 4.0 * (1 + 3e-10), 4.0, 1},
                          Case{S, 4.0 * (1 + 1.5e-9), 4.0, 1}, Case{S, 4.0 * (1 + 3e-9), 4.0, 2},
                          Case{S, 4.0, 4.0 * (1 + 3e-9), 0}, Case{S, 0.0, 0.0, 1}}) {
        EXPECT_EQ(TallyClass(c.kind, c.a, c.b), c.expected) << c.a << " against " << c.b;
        ExactTally t;
        UpdateTally(t, c.kind, c.a, c.b, 0.25);
        const double masses[3] = {t.LessMass, t.EqualMass, t.GreaterMass};
        const std::int64_t counts[3] = {t.LessCount, t.EqualCount, t.GreaterCount};
        EXPECT_EQ(masses[c.expected], 0.25);
        EXPECT_EQ(counts[c.expected], 1);
        EXPECT_EQ(t.LessCount + t.EqualCount + t.GreaterCount, 1);
    }
}

}  // namespace
}  // namespace kelvorin
