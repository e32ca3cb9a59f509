// The exact enumeration: the order in which sample points are visited, their
// number, and the three tallies, checked against a literal reference and
// against exact rational arithmetic, for r x c tables and one-way tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "ExactEnumeration.h"
#include "FakePorts.h"
#include "ReferenceTables.h"
#include "TraceLines.h"

namespace kelvorin {
namespace {

using fakes::EngineHarness;
using fakes::NoSections;
using fakes::TempDirectory;
using reference::Table;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

__extension__ typedef __int128 Int;

using reference::Text;

// --- Independent brute force ----------------------------------------------------

// Every table with the margins, built cell by cell in row-major order; a
// cell ranges over what its row and column still allow, the last cell of a
// row and the last row take what is left.
void CellByCell(const std::vector<int>& rows, const std::vector<int>& cols, std::size_t cell, Table& t,
                std::vector<int>& rowLeft, std::vector<int>& colLeft, std::vector<Table>& out) {
    const std::size_t r = rows.size(), c = cols.size();
    if (cell == r * c) {
        out.push_back(t);
        return;
    }
    const std::size_t i = cell / c, j = cell % c;
    int lo = 0, hi = std::min(rowLeft[i], colLeft[j]);
    if (j + 1 == c) lo = rowLeft[i];
    if (i + 1 == r) lo = std::max(lo, colLeft[j]);
    for (int v = lo; v <= hi; ++v) {
        if ((j + 1 == c && v != rowLeft[i]) || (i + 1 == r && v != colLeft[j])) continue;
        t[i][j] = v;
        rowLeft[i] -= v;
        colLeft[j] -= v;
        CellByCell(rows, cols, cell + 1, t, rowLeft, colLeft, out);
        rowLeft[i] += v;
        colLeft[j] += v;
    }
}

std::vector<Table> AllTables(const std::vector<int>& rows, const std::vector<int>& cols) {
    std::vector<Table> out;
    Table t(rows.size(), std::vector<int>(cols.size(), 0));
    std::vector<int> rowLeft(rows), colLeft(cols);
    CellByCell(rows, cols, 0, t, rowLeft, colLeft, out);
    return out;
}

// Whether more than `limit` tables have these margins, found without
// building them: rows are filled from the last, row 1 takes the rest.
bool CountExceeds(const std::vector<int>& rows, const std::vector<int>& cols, std::uint64_t limit) {
    std::uint64_t count = 0;
    auto fill = [&](auto& self, std::size_t level, const std::vector<int>& remaining) -> void {
        if (count > limit) return;
        if (level == 0) {
            ++count;
            return;
        }
        for (const auto& x : reference::RowVectors(rows[level], remaining)) {
            std::vector<int> next(remaining);
            for (std::size_t j = 0; j < next.size(); ++j) next[j] -= x[j];
            self(self, level - 1, next);
            if (count > limit) return;
        }
    };
    fill(fill, rows.size() - 1, cols);
    return count > limit;
}

// --- Exact rational p values -------------------------------------------------------

Int Factorial(int n) {
    Int f = 1;
    for (int k = 2; k <= n; ++k) f *= k;
    return f;
}

Int Power(Int base, int exponent) {
    Int p = 1;
    for (int k = 0; k < exponent; ++k) p *= base;
    return p;
}

struct ExactTwoWay {
    long double fisher = 0, likelihoodRatio = 0, pearson = 0;
    long double fisherLess = 0, fisherEqual = 0, fisherGreater = 0;  // 2 x 2: by X11
    bool likelihoodRatioSeparated = true;  // no statistic is within 1e-7 of the observed one without being equal
};

// p_t = (prod R_i! prod C_j!) / (N! prod n_ij!) = A m_t / (N!)^2 with the
// integer m_t = N! / prod n_ij!. The probability ordering compares
// D_t = prod n_ij!, the likelihood ratio H_t = prod n_ij^n_ij (G2 grows
// with ln H_t), the Pearson statistic sum n_ij^2 / (R_i C_j) scaled to an
// integer.
ExactTwoWay ExactPValues(const Table& observed, const std::vector<Table>& tables) {
    const auto rows = reference::RowTotals(observed);
    const auto cols = reference::ColTotals(observed);
    int n = 0;
    for (int r : rows) n += r;
    Int a = 1, scale = 1;
    for (int r : rows) a *= Factorial(r), scale *= r;
    for (int c : cols) a *= Factorial(c), scale *= c;
    const Int nf = Factorial(n);
    long double k = -n * std::log(static_cast<long double>(n));
    for (int r : rows) k += r * std::log(static_cast<long double>(r));
    for (int c : cols) k += c * std::log(static_cast<long double>(c));

    auto d = [](const Table& t) { Int p = 1; for (const auto& row : t) for (int v : row) p *= Factorial(v); return p; };
    auto h = [](const Table& t) { Int p = 1; for (const auto& row : t) for (int v : row) p *= Power(v, v); return p; };
    auto q = [&](const Table& t) {
        Int s = 0;
        for (std::size_t i = 0; i < t.size(); ++i)
            for (std::size_t j = 0; j < cols.size(); ++j)
                s += Int(t[i][j]) * t[i][j] * (scale / (Int(rows[i]) * cols[j]));
        return s;
    };
    auto halfG2 = [&](Int hv) { return std::log(static_cast<long double>(hv)) - k; };

    const Int dObs = d(observed), hObs = h(observed), qObs = q(observed);
    Int fisher = 0, lr = 0, chi = 0, less = 0, equal = 0, greater = 0;
    ExactTwoWay result;
    for (const Table& t : tables) {
        const Int m = nf / d(t);
        if (d(t) >= dObs) fisher += m;
        const Int ht = h(t);
        if (ht >= hObs) lr += m;
        if (ht != hObs) {
            const long double a1 = halfG2(ht), a2 = halfG2(hObs);
            if (std::fabs(a1 - a2) <= 1e-7L * (std::fabs(a1) + std::fabs(a2))) result.likelihoodRatioSeparated = false;
        }
        if (q(t) >= qObs) chi += m;
        if (t[0][0] < observed[0][0]) less += m;
        else if (t[0][0] > observed[0][0]) greater += m;
        else equal += m;
    }
    const long double denominator = static_cast<long double>(nf * nf);
    auto p = [&](Int sum) { return static_cast<long double>(a * sum) / denominator; };
    result.fisher = p(fisher);
    result.likelihoodRatio = p(lr);
    result.pearson = p(chi);
    result.fisherLess = p(less);
    result.fisherEqual = p(equal);
    result.fisherGreater = p(greater);
    return result;
}

// --- The fixture ------------------------------------------------------------------

class EnumerationTest : public EngineHarness {
protected:
    // Runs the table with every exact test and a trace at level 1 into a new
    // file; returns the traced sample points.
    std::vector<trace::SamplePointLine> RunTraced(const Table& table) {
        Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
        Options().Details = true;
        Options().Track = 1;
        env.saveDialog.chosen = dir.File("trace" + std::to_string(++files) + ".txt");
        Run(table);
        return trace::SamplePointLines(fakes::FileLines(env.saveDialog.chosen));
    }
    void SetUp() override { Options() = NoSections(); }

    TempDirectory dir;
    int files = 0;
};

Table TableOf(const trace::SamplePointLine& line) { return line.groups; }

void ExpectTallyEquals(const ExactTally& engine, const reference::Tally& ref, const char* name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(engine.LessCount, ref.less);
    EXPECT_EQ(engine.EqualCount, ref.equal);
    EXPECT_EQ(engine.GreaterCount, ref.greater);
    EXPECT_EQ(engine.LessMass, ref.lessMass);
    EXPECT_EQ(engine.EqualMass, ref.equalMass);
    EXPECT_EQ(engine.GreaterMass, ref.greaterMass);
}

// --- Visiting order ------------------------------------------------------------------

TEST_F(EnumerationTest, ThreeByThreeLastRowOuterSecondRowInnerFirstRowRemainder) {
    const auto lines = RunTraced({{1, 1, 0}, {0, 1, 1}, {1, 0, 1}});
    std::vector<Table> visited;
    for (const auto& l : lines) visited.push_back(TableOf(l));
    ASSERT_GE(visited.size(), 4u);
    // Row 3 starts at its smallest vector (0, 0, 2); row 2 runs through
    // (0, 2, 0), (1, 1, 0), (2, 0, 0) under it, x_21 slowest.
    EXPECT_EQ(visited[0], (Table{{2, 0, 0}, {0, 2, 0}, {0, 0, 2}}));
    EXPECT_EQ(visited[1], (Table{{1, 1, 0}, {1, 1, 0}, {0, 0, 2}}));
    EXPECT_EQ(visited[2], (Table{{0, 2, 0}, {2, 0, 0}, {0, 0, 2}}));
    EXPECT_EQ(visited[3][2], (std::vector<int>{0, 1, 1}));  // then row 3 moves on, x_32 fastest
    // Row 3 never goes back; within one row 3, row 2 strictly increases.
    for (std::size_t k = 1; k < visited.size(); ++k) {
        EXPECT_LE(visited[k - 1][2], visited[k][2]) << k;
        if (visited[k - 1][2] == visited[k][2]) {
            EXPECT_LT(visited[k - 1][1], visited[k][1]) << k;
        }
    }
    // The numbers run 1, 2, 3, ... while no progress display intervenes.
    for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k].number, static_cast<int>(k + 1));
    EXPECT_EQ(visited, reference::TablesInVisitingOrder({2, 2, 2}, {2, 2, 2}));
    EXPECT_EQ(visited.size(), AllTables({2, 2, 2}, {2, 2, 2}).size());
}

TEST_F(EnumerationTest, TwoByTwoCountFollowsTheClosedForm) {
    Options().CountPos = true;
    const std::vector<Table> tables{{{3, 5}, {7, 2}}, {{0, 4}, {6, 1}}, {{10, 2}, {3, 15}}, {{1, 0}, {0, 1}},
                                    {{20, 0}, {0, 20}}, {{4, 9}, {1, 0}}, {{500, 400}, {300, 200}}};
    for (const Table& t : tables) {
        const int r1 = t[0][0] + t[0][1], r2 = t[1][0] + t[1][1], c1 = t[0][0] + t[1][0];
        const int expected = std::min(r2, c1) - std::max(0, c1 - r1) + 1;
        const auto lines = Run(t);
        EXPECT_THAT(lines, ::testing::Contains("Number of sample points = " + std::to_string(expected))) << Text(t);
        EXPECT_EQ(engine.State().SamplePointCount, static_cast<std::uint64_t>(expected)) << Text(t);
    }
}

TEST_F(EnumerationTest, TwoByTwoVisitsX21UpwardsWithRowOneAsRemainder) {
    const auto lines = RunTraced({{2, 1}, {1, 3}});  // R = (3, 4), C = (3, 4)
    std::vector<Table> visited;
    for (const auto& l : lines) visited.push_back(TableOf(l));
    EXPECT_EQ(visited, (std::vector<Table>{{{3, 0}, {0, 4}}, {{2, 1}, {1, 3}}, {{1, 2}, {2, 2}}, {{0, 3}, {3, 1}}}));
}

// --- Random small tables against the references ------------------------------------

std::vector<Table> RandomTables(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Table> tables;
    while (static_cast<int>(tables.size()) < count) {
        const int r = 2 + static_cast<int>(random() % 3), c = 2 + static_cast<int>(random() % 3);
        Table t(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (auto& row : t)
            for (int& v : row) v = static_cast<int>(random() % 3);
        const auto rows = reference::RowTotals(t);
        const auto cols = reference::ColTotals(t);
        int n = 0;
        for (int x : rows) n += x;
        if (n < 2 || n > 9 || std::count(rows.begin(), rows.end(), 0) || std::count(cols.begin(), cols.end(), 0))
            continue;
        tables.push_back(t);
    }
    return tables;
}

TEST_F(EnumerationTest, RandomTablesAgreeWithTheReferencesToTheLastBit) {
    const reference::Factorials F;
    int likelihoodRatioCompared = 0;
    const auto tables = RandomTables(40, 20240611u);
    for (const Table& observed : tables) {
        SCOPED_TRACE(Text(observed));
        const bool twoByTwo = observed.size() == 2 && observed[0].size() == 2;
        Options().Opt2x2twotail = twoByTwo;
        const auto lines = RunTraced(observed);
        const auto rows = reference::RowTotals(observed);
        const auto cols = reference::ColTotals(observed);
        const auto expectedOrder = reference::TablesInVisitingOrder(rows, cols);

        // Every table with the margins, each once, in the enumeration order.
        auto all = AllTables(rows, cols);
        auto sortedOrder = expectedOrder;
        std::sort(all.begin(), all.end());
        std::sort(sortedOrder.begin(), sortedOrder.end());
        ASSERT_EQ(sortedOrder, all);
        ASSERT_EQ(lines.size(), expectedOrder.size());
        for (std::size_t k = 0; k < lines.size(); ++k) ASSERT_EQ(TableOf(lines[k]), expectedOrder[k]) << k;
        EXPECT_EQ(engine.State().SamplePointCount, expectedOrder.size());
        EXPECT_EQ(std::count(expectedOrder.begin(), expectedOrder.end(), observed), 1);

        // The tallies, literally.
        const double pObs = reference::Probability(observed, F);
        const double g2 = reference::LikelihoodRatio(observed);
        const double x2 = reference::Pearson(observed);
        EXPECT_EQ(engine.State().ObservedProbability, pObs);
        EXPECT_EQ(engine.State().G2, g2);
        EXPECT_EQ(engine.State().X2, x2);
        reference::Tally prob, lr, chi;
        double less = 0, equal = 0, greater = 0;
        for (const Table& t : expectedOrder) {
            const double p = reference::Probability(t, F);
            if (twoByTwo) (t[0][0] < observed[0][0] ? less : t[0][0] > observed[0][0] ? greater : equal) += p;
            reference::Update(prob, true, p, pObs, p);
            reference::Update(lr, false, reference::LikelihoodRatio(t), g2, p);
            reference::Update(chi, false, reference::Pearson(t), x2, p);
        }
        auto expectReferenceTallies = [&](const char* run) {
            SCOPED_TRACE(run);
            ExpectTallyEquals(engine.State().ProbabilityTally, prob, "probability");
            ExpectTallyEquals(engine.State().G2Tally, lr, "likelihood ratio");
            ExpectTallyEquals(engine.State().X2Tally, chi, "Pearson");
            if (twoByTwo) {
                EXPECT_EQ(engine.State().FisherLess, less);
                EXPECT_EQ(engine.State().FisherEqual, equal);
                EXPECT_EQ(engine.State().FisherGreater, greater);
            }
        };
        expectReferenceTallies("traced");

        // The p values, exactly.
        const ExactTwoWay exact = ExactPValues(observed, expectedOrder);
        const ExactTally& pt = engine.State().ProbabilityTally;
        EXPECT_NEAR(pt.LessMass + pt.EqualMass, static_cast<double>(exact.fisher), 1e-12);
        EXPECT_NEAR(pt.LessMass + pt.EqualMass + pt.GreaterMass, 1.0, 1e-12);
        const ExactTally& ct = engine.State().X2Tally;
        EXPECT_NEAR(ct.EqualMass + ct.GreaterMass, static_cast<double>(exact.pearson), 1e-12);
        if (exact.likelihoodRatioSeparated) {
            ++likelihoodRatioCompared;
            const ExactTally& gt = engine.State().G2Tally;
            EXPECT_NEAR(gt.EqualMass + gt.GreaterMass, static_cast<double>(exact.likelihoodRatio), 1e-12);
        }
        if (twoByTwo) {
            EXPECT_NEAR(engine.State().FisherLess, static_cast<double>(exact.fisherLess), 1e-12);
            EXPECT_NEAR(engine.State().FisherEqual, static_cast<double>(exact.fisherEqual), 1e-12);
            EXPECT_NEAR(engine.State().FisherGreater, static_cast<double>(exact.fisherGreater), 1e-12);
        }

        // The same tallies when nothing is traced.
        Options().Details = false;
        Run(observed);
        expectReferenceTallies("not traced");
    }
    EXPECT_GE(likelihoodRatioCompared, 36);
}

TEST_F(EnumerationTest, ModerateRandomTablesAgreeWithTheLiteralReference) {
    const reference::Factorials F;
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    std::mt19937 random(4242u);
    int compared = 0;
    while (compared < 25) {
        const int r = 2 + static_cast<int>(random() % 3), c = 2 + static_cast<int>(random() % 3);
        Table observed(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (auto& row : observed)
            for (int& v : row) v = static_cast<int>(random() % 7);
        const auto rows = reference::RowTotals(observed);
        const auto cols = reference::ColTotals(observed);
        if (std::count(rows.begin(), rows.end(), 0) || std::count(cols.begin(), cols.end(), 0)) continue;
        if (CountExceeds(rows, cols, 30000)) continue;
        const auto order = reference::TablesInVisitingOrder(rows, cols);
        ++compared;
        SCOPED_TRACE(Text(observed));
        Options().Opt2x2twotail = r == 2 && c == 2;
        Run(observed);
        const double pObs = reference::Probability(observed, F);
        const double g2 = reference::LikelihoodRatio(observed);
        const double x2 = reference::Pearson(observed);
        reference::Tally prob, lr, chi;
        double less = 0, equal = 0, greater = 0;
        for (const Table& t : order) {
            const double p = reference::Probability(t, F);
            if (r == 2 && c == 2) (t[0][0] < observed[0][0] ? less : t[0][0] > observed[0][0] ? greater : equal) += p;
            reference::Update(prob, true, p, pObs, p);
            reference::Update(lr, false, reference::LikelihoodRatio(t), g2, p);
            reference::Update(chi, false, reference::Pearson(t), x2, p);
        }
        EXPECT_EQ(engine.State().SamplePointCount, order.size());
        ExpectTallyEquals(engine.State().ProbabilityTally, prob, "probability");
        ExpectTallyEquals(engine.State().G2Tally, lr, "likelihood ratio");
        ExpectTallyEquals(engine.State().X2Tally, chi, "Pearson");
        if (r == 2 && c == 2) {
            EXPECT_EQ(engine.State().FisherLess, less);
            EXPECT_EQ(engine.State().FisherEqual, equal);
            EXPECT_EQ(engine.State().FisherGreater, greater);
        }
    }
}

TEST_F(EnumerationTest, LargerTablesAgreeWithTheLiteralReference) {
    const reference::Factorials F;
    const std::vector<Table> tables{{{10, 6, 5}, {6, 8, 7}, {5, 7, 9}},
                                    {{4, 0, 3, 2}, {1, 5, 0, 2}, {2, 2, 6, 1}},
                                    {{7, 1}, {2, 9}, {4, 4}, {0, 6}, {3, 3}}};
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    for (const Table& observed : tables) {
        SCOPED_TRACE(Text(observed));
        Run(observed);
        const auto order = reference::TablesInVisitingOrder(reference::RowTotals(observed), reference::ColTotals(observed));
        const double pObs = reference::Probability(observed, F);
        const double g2 = reference::LikelihoodRatio(observed);
        const double x2 = reference::Pearson(observed);
        reference::Tally prob, lr, chi;
        for (const Table& t : order) {
            const double p = reference::Probability(t, F);
            reference::Update(prob, true, p, pObs, p);
            reference::Update(lr, false, reference::LikelihoodRatio(t), g2, p);
            reference::Update(chi, false, reference::Pearson(t), x2, p);
        }
        EXPECT_EQ(engine.State().SamplePointCount, order.size());
        ExpectTallyEquals(engine.State().ProbabilityTally, prob, "probability");
        ExpectTallyEquals(engine.State().G2Tally, lr, "likelihood ratio");
        ExpectTallyEquals(engine.State().X2Tally, chi, "Pearson");
    }
}

TEST_F(EnumerationTest, StatisticsForTheTraceAloneLeaveTheirTalliesEmpty) {
    Options().Details = true;
    env.saveDialog.chosen = dir.File("details.txt");
    Run({{2, 0}, {0, 2}});
    const auto lines = trace::SamplePointLines(fakes::FileLines(env.saveDialog.chosen));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].likelihoodRatio, "    5.55");
    EXPECT_EQ(lines[0].pearson, "    4.00");
    for (const ExactTally* t : {&engine.State().G2Tally, &engine.State().X2Tally}) {
        EXPECT_EQ(t->LessCount + t->EqualCount + t->GreaterCount, 0);
        EXPECT_EQ(t->LessMass + t->EqualMass + t->GreaterMass, 0.0);
    }
    EXPECT_EQ(engine.State().ProbabilityTally.EqualCount, 2);
}

// --- The tally rule ---------------------------------------------------------------------

TEST(TallyRuleTest, ProbabilitiesWithinARelativeTenToTheMinusTenAreEqual) {
    ExactTally t;
    UpdateTally(t, TallyKind::Probability, 0.2 * (1 + 1.5e-10), 0.2, 0.25);  // relative difference 0.75e-10
    EXPECT_EQ(t.EqualCount, 1);
    EXPECT_EQ(t.EqualMass, 0.25);
    UpdateTally(t, TallyKind::Probability, 0.2 * (1 + 3e-10), 0.2, 0.125);  // 1.5e-10
    EXPECT_EQ(t.GreaterCount, 1);
    EXPECT_EQ(t.GreaterMass, 0.125);
    UpdateTally(t, TallyKind::Probability, 0.2, 0.2 * (1 + 3e-10), 0.5);
    EXPECT_EQ(t.LessCount, 1);
    EXPECT_EQ(t.LessMass, 0.5);
    UpdateTally(t, TallyKind::Probability, 0.0, 0.0, 0.0);
    EXPECT_EQ(t.EqualCount, 2);
}

TEST(TallyRuleTest, StatisticsWithinARelativeTenToTheMinusNineAreEqual) {
    ExactTally t;
    UpdateTally(t, TallyKind::Statistic, 4.0 * (1 + 3e-10), 4.0, 0.1);  // 1.5e-10: equal for a statistic
    UpdateTally(t, TallyKind::Statistic, 4.0 * (1 + 1.5e-9), 4.0, 0.1);  // 0.75e-9: equal
    EXPECT_EQ(t.EqualCount, 2);
    UpdateTally(t, TallyKind::Statistic, 4.0 * (1 + 3e-9), 4.0, 0.2);  // 1.5e-9: greater
    UpdateTally(t, TallyKind::Statistic, 4.0, 4.0 * (1 + 3e-9), 0.3);  // less
    UpdateTally(t, TallyKind::Statistic, 0.0, 0.0, 0.4);               // both zero: equal
    EXPECT_EQ(t.EqualCount, 3);
    EXPECT_EQ(t.GreaterCount, 1);
    EXPECT_EQ(t.LessCount, 1);
    EXPECT_EQ(t.GreaterMass, 0.2);
    EXPECT_EQ(t.LessMass, 0.3);
}

// --- One-way enumeration --------------------------------------------------------------

TEST_F(EnumerationTest, OneWayCompositionsInLexicographicOrder) {
    auto counts = [](const std::vector<trace::SamplePointLine>& lines) {
        std::vector<std::vector<int>> all;
        for (const auto& l : lines) all.push_back(trace::AllCounts(l));
        return all;
    };
    const std::vector<std::vector<int>> expected{{0, 0, 2}, {0, 1, 1}, {0, 2, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 0}};
    EXPECT_EQ(counts(RunTraced({{1, 1, 0}})), expected);
    EXPECT_EQ(counts(RunTraced({{1}, {1}, {0}})), expected);
    // One-way lines carry the running number.
    const auto lines = RunTraced({{0, 2, 0}});
    for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k].number, static_cast<int>(k + 1));
}

TEST_F(EnumerationTest, OneWayThreeObservationsInTwoCategories) {
    const auto lines = RunTraced({{3, 0}});
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::vector<int>> order{{0, 3}, {1, 2}, {2, 1}, {3, 0}};
    const char* probabilities[] = {"0.125000000", "0.375000000", "0.375000000", "0.125000000"};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(trace::AllCounts(lines[k]), order[k]);
        EXPECT_EQ(lines[k].probability, probabilities[k]);
    }
    const AnalysisState& s = engine.State();
    EXPECT_EQ(s.ProbabilityTally.LessCount, 0);
    EXPECT_EQ(s.ProbabilityTally.EqualCount, 2);
    EXPECT_EQ(s.ProbabilityTally.GreaterCount, 2);
    EXPECT_DOUBLE_EQ(s.ProbabilityTally.EqualMass, 0.25);
    EXPECT_DOUBLE_EQ(s.ProbabilityTally.GreaterMass, 0.75);
    EXPECT_NEAR(s.G2, 6 * std::log(2.0), 1e-12);
    EXPECT_EQ(s.G2Tally.GreaterCount, 0);
    EXPECT_EQ(s.G2Tally.EqualCount, 2);
    EXPECT_EQ(s.G2Tally.LessCount, 2);
    EXPECT_DOUBLE_EQ(s.G2Tally.EqualMass + s.G2Tally.GreaterMass, 0.25);
}

TEST_F(EnumerationTest, OneWayCountIsTheNumberOfCompositions) {
    Options().CountPos = true;
    auto binomial = [](int n, int k) {
        std::uint64_t b = 1;
        for (int i = 1; i <= k; ++i) b = b * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
        return b;
    };
    const std::vector<std::vector<int>> tables{{3, 0}, {1, 1, 0}, {2, 1, 3, 1}, {2, 2, 2, 2, 2}, {10, 5, 5}, {1, 0, 0, 0, 0, 0, 1}};
    for (const auto& row : tables) {
        int n = 0;
        for (int v : row) n += v;
        const int k = static_cast<int>(row.size());
        const std::uint64_t expected = binomial(n + k - 1, k - 1);
        EXPECT_THAT(Run({row}), ::testing::Contains("Number of sample points = " + std::to_string(expected)));
        EXPECT_EQ(engine.State().SamplePointCount, expected);
    }
}

struct OneWayCase {
    std::vector<int> counts;
    std::vector<int> weights;
    bool column;
};

std::vector<OneWayCase> RandomOneWayCases(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<OneWayCase> cases;
    while (static_cast<int>(cases.size()) < count) {
        OneWayCase c;
        const int k = 2 + static_cast<int>(random() % 3);
        int n = 0, w = 0;
        for (int i = 0; i < k; ++i) {
            c.counts.push_back(static_cast<int>(random() % 4));
            c.weights.push_back(1 + static_cast<int>(random() % 3));
            n += c.counts.back();
            w += c.weights.back();
        }
        c.column = random() % 2 == 0;
        if (n < 1 || n > 8 || w > 8) continue;
        cases.push_back(c);
    }
    return cases;
}

TEST_F(EnumerationTest, RandomOneWayTablesAgreeWithTheReferences) {
    const reference::Factorials F;
    int likelihoodRatioCompared = 0;
    const auto cases = RandomOneWayCases(30, 77u);
    for (const OneWayCase& c : cases) {
        const int k = static_cast<int>(c.counts.size());
        std::ostringstream name;
        for (int i = 0; i < k; ++i) name << c.counts[static_cast<std::size_t>(i)] << "/" << c.weights[static_cast<std::size_t>(i)] << " ";
        name << (c.column ? "column" : "row");
        SCOPED_TRACE(name.str());
        Table table;
        if (c.column)
            for (int v : c.counts) table.push_back({v});
        else
            table.push_back(c.counts);
        env.proportionsWindow.onShow = [&] {
            for (int i = 0; i < k; ++i)
                env.proportionsGrid.SetCell(c.column ? 0 : i, c.column ? i : 0, std::to_string(c.weights[static_cast<std::size_t>(i)]));
        };
        const auto lines = RunTraced(table);
        int n = 0, w = 0;
        for (int v : c.counts) n += v;
        for (int v : c.weights) w += v;
        std::vector<double> p;
        for (int v : c.weights) p.push_back(static_cast<double>(v) / static_cast<double>(w));
        const auto order = reference::Compositions(k, n);
        ASSERT_EQ(lines.size(), order.size());
        for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(trace::AllCounts(lines[i]), order[i]) << i;

        const double pObs = reference::MultinomialProbability(c.counts, p, F);
        const double g2 = reference::OneWayLikelihoodRatio(c.counts, p);
        const double x2 = reference::OneWayPearson(c.counts, p);
        EXPECT_EQ(engine.State().ObservedProbability, pObs);
        EXPECT_EQ(engine.State().G2, g2);
        EXPECT_EQ(engine.State().X2, x2);
        reference::Tally prob, lr, chi;
        for (const auto& x : order) {
            const double px = reference::MultinomialProbability(x, p, F);
            reference::Update(prob, true, px, pObs, px);
            reference::Update(lr, false, reference::OneWayLikelihoodRatio(x, p), g2, px);
            reference::Update(chi, false, reference::OneWayPearson(x, p), x2, px);
        }
        ExpectTallyEquals(engine.State().ProbabilityTally, prob, "probability");
        ExpectTallyEquals(engine.State().G2Tally, lr, "likelihood ratio");
        ExpectTallyEquals(engine.State().X2Tally, chi, "Pearson");

        // Exactly: p_x = M_x / W^n with the integer M_x = n! / prod x_i! prod w_i^x_i;
        // G2 orders by prod x_i^x_i / prod w_i^x_i.
        auto m = [&](const std::vector<int>& x) {
            Int d = 1;
            for (int xi : x) d *= Factorial(xi);
            Int v = Factorial(n) / d;
            for (int i = 0; i < k; ++i) v *= Power(c.weights[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]);
            return v;
        };
        auto self = [&](const std::vector<int>& x) { Int v = 1; for (int xi : x) v *= Power(xi, xi); return v; };
        auto wp = [&](const std::vector<int>& x) {
            Int v = 1;
            for (int i = 0; i < k; ++i) v *= Power(c.weights[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]);
            return v;
        };
        // G2 / 2 = ln(prod x_i^x_i) - ln(prod w_i^x_i) + n ln(W / n).
        auto halfG2 = [&](const std::vector<int>& x) {
            return std::log(static_cast<long double>(self(x))) - std::log(static_cast<long double>(wp(x))) +
                   n * std::log(static_cast<long double>(w) / n);
        };
        const Int mObs = m(c.counts), sObs = self(c.counts), wObs = wp(c.counts);
        Int fisher = 0, likelihood = 0;
        bool separated = true;
        for (const auto& x : order) {
            const Int mx = m(x);
            if (mx <= mObs) fisher += mx;
            const Int left = self(x) * wObs, right = sObs * wp(x);
            if (left >= right) likelihood += mx;
            if (left != right) {
                const long double a = halfG2(x), b = halfG2(c.counts);
                if (std::fabs(a - b) <= 1e-7L * (std::fabs(a) + std::fabs(b))) separated = false;
            }
        }
        const long double total = static_cast<long double>(Power(w, n));
        const ExactTally& pt = engine.State().ProbabilityTally;
        EXPECT_NEAR(pt.LessMass + pt.EqualMass, static_cast<double>(static_cast<long double>(fisher) / total), 1e-12);
        if (separated) {
            ++likelihoodRatioCompared;
            const ExactTally& gt = engine.State().G2Tally;
            EXPECT_NEAR(gt.EqualMass + gt.GreaterMass, static_cast<double>(static_cast<long double>(likelihood) / total), 1e-12);
        }
    }
    EXPECT_GE(likelihoodRatioCompared, 25);
}

}  // namespace
}  // namespace kelvorin
