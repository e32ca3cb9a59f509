// Pearson's ordering on the integer lattice against a count of every table
// with the margins, each classed by its own lattice value; and the lattices
// too coarse, or the evaluations too far off, to be trusted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "ExactEnumeration.h"
#include "PearsonLattice.h"

namespace kelvorin {
namespace {

struct Counted {
    std::uint64_t Ways[3] = {0, 0, 0};
    long double Mass[3] = {0.0L, 0.0L, 0.0L};
};

const FactorialTable& Factorials() {
    static const auto table = [] {
        auto f = std::make_unique<FactorialTable>();
        FillFactorials(*f);
        return f;
    }();
    return *table;
}

// Line k, stage s at k * S + s; lines in increasing order of total.
struct Problem {
    int K = 0, S = 0;
    std::vector<std::int32_t> Cells;
    std::vector<std::int32_t> Lines, Stages;
    std::int64_t Denominator = 1;
    std::int64_t Value(const std::vector<std::int32_t>& cells) const {
        std::int64_t sum = 0;
        for (int k = 0; k < K; ++k)
            for (int s = 0; s < S; ++s) {
                const std::int64_t n = cells[static_cast<std::size_t>(k * S + s)];
                sum += n * n * (Denominator / (std::int64_t{Lines[static_cast<std::size_t>(k)]} * Stages[static_cast<std::size_t>(s)]));
            }
        return sum;
    }
    // X2 = N L / D - N, as the tally compares it.
    double Statistic() const {
        const long double n = std::accumulate(Lines.begin(), Lines.end(), 0);
        return static_cast<double>(n * static_cast<long double>(Value(Cells)) / static_cast<long double>(Denominator) - n);
    }
};

Problem Make(int K, int S, std::vector<std::int32_t> cells) {
    Problem p;
    p.K = K;
    p.S = S;
    // Lines sorted by total, so equal totals are adjacent.
    std::vector<int> order(static_cast<std::size_t>(K));
    std::iota(order.begin(), order.end(), 0);
    auto total = [&](int k) {
        return std::accumulate(cells.begin() + k * S, cells.begin() + (k + 1) * S, 0);
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return total(a) < total(b); });
    for (int k : order) {
        p.Lines.push_back(total(k));
        p.Cells.insert(p.Cells.end(), cells.begin() + k * S, cells.begin() + (k + 1) * S);
    }
    p.Stages.assign(static_cast<std::size_t>(S), 0);
    for (int k = 0; k < K; ++k)
        for (int s = 0; s < S; ++s) p.Stages[static_cast<std::size_t>(s)] += p.Cells[static_cast<std::size_t>(k * S + s)];
    for (std::int32_t r : p.Lines)
        for (std::int32_t c : p.Stages) p.Denominator = std::lcm(p.Denominator, std::int64_t{r} * c);
    return p;
}

// Every table with the margins, one cell at a time, classed by its lattice
// value against the observed one; its mass the product over the columns of
// T! / prod x!.
Counted CountEveryTable(const Problem& p) {
    Counted c;
    const std::int64_t observed = p.Value(p.Cells);
    std::vector<std::int32_t> cells(p.Cells.size(), 0);
    std::vector<std::int32_t> rowLeft(p.Lines);
    const FactorialTable& f = Factorials();
    auto visit = [&](auto& self, int s, int k, std::int32_t columnLeft) -> void {
        if (s == p.S) {
            const std::int64_t v = p.Value(cells);
            long double mass = 1.0L;
            for (int t = 0; t < p.S; ++t) {
                mass *= f[static_cast<std::size_t>(p.Stages[static_cast<std::size_t>(t)])];
                for (int j = 0; j < p.K; ++j) mass /= f[static_cast<std::size_t>(cells[static_cast<std::size_t>(j * p.S + t)])];
            }
            const int which = v < observed ? 0 : v == observed ? 1 : 2;
            ++c.Ways[which];
            c.Mass[which] += mass;
            return;
        }
        if (k == p.K) {
            if (columnLeft == 0) self(self, s + 1, 0, s + 1 < p.S ? p.Stages[static_cast<std::size_t>(s + 1)] : 0);
            return;
        }
        const auto at = static_cast<std::size_t>(k * p.S + s);
        for (std::int32_t x = 0; x <= std::min(columnLeft, rowLeft[static_cast<std::size_t>(k)]); ++x) {
            cells[at] = x;
            rowLeft[static_cast<std::size_t>(k)] -= x;
            self(self, s, k + 1, columnLeft - x);
            rowLeft[static_cast<std::size_t>(k)] += x;
        }
        cells[at] = 0;
    };
    visit(visit, 0, 0, p.Stages[0]);
    return c;
}

LatticeMargins MarginsOf(const Problem& p) { return {p.Lines, p.Stages, p.Cells}; }

TEST(PearsonLatticeTest, RandomTablesCountLikeEveryTableClassedByItsValue) {
    std::mt19937 random(40213u);
    int tables = 0;
    std::vector<int> meetings;
    while (tables < 40) {
        const int K = 2 + static_cast<int>(random() % 3);
        const int S = 3 + static_cast<int>(random() % 4);
        std::vector<std::int32_t> cells(static_cast<std::size_t>(K * S));
        for (auto& v : cells) v = static_cast<std::int32_t>(random() % 4);
        const Problem p = Make(K, S, cells);
        if (std::count(p.Lines.begin(), p.Lines.end(), 0) || std::count(p.Stages.begin(), p.Stages.end(), 0)) continue;
        if (std::accumulate(p.Lines.begin(), p.Lines.end(), 0) > 22) continue;
        const double x2 = p.Statistic();
        if (!(x2 > 1e-6)) continue;
        SCOPED_TRACE(::testing::Message() << "table " << tables);
        ++tables;
        const Counted expected = CountEveryTable(p);
        // Small limits now and then, so both sides take other numbers of
        // steps before they meet.
        const std::size_t items = tables % 3 == 0 ? 64 : std::size_t{1} << 20;
        std::uint64_t ticks = 0;
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, items,
                               [&](std::uint64_t steps) { ticks += steps; });
        if (!lattice.Prepare(x2, 1e-12, 1e-9)) {
            EXPECT_EQ(items, 64u) << "refused with ample limits";
            continue;
        }
        EXPECT_EQ(lattice.ObservedValue(), p.Value(p.Cells));
        std::uint64_t ways[3] = {0, 0, 0};
        long double mass[3] = {0.0L, 0.0L, 0.0L};
        std::uint64_t settled = 0;
        lattice.Settle(ways, mass, settled);
        const long double total = expected.Mass[0] + expected.Mass[1] + expected.Mass[2];
        for (int w = 0; w < 3; ++w) {
            EXPECT_EQ(ways[w], expected.Ways[w]) << "class " << w;
            EXPECT_NEAR(static_cast<double>(mass[w] / total), static_cast<double>(expected.Mass[w] / total), 1e-15)
                << "class " << w;
        }
        EXPECT_EQ(settled, expected.Ways[0] + expected.Ways[1] + expected.Ways[2]);
        EXPECT_GT(ticks, 0u);
    }
}

TEST(PearsonLatticeTest, EqualLineTotalsAndManyTiesAgree) {
    // Lines of equal total are one group of interchangeable lines; a
    // symmetric table has many tables on the observed value.
    const std::vector<std::pair<std::pair<int, int>, std::vector<std::int32_t>>> tables{
        {{3, 4}, {2, 1, 1, 0, 1, 2, 0, 1, 0, 1, 2, 1}},
        {{4, 4}, {3, 1, 2, 0, 1, 3, 0, 2, 2, 0, 3, 1, 0, 2, 1, 3}},
        {{2, 6}, {1, 1, 2, 1, 1, 0, 1, 1, 0, 1, 1, 2}},
        {{3, 5}, {4, 0, 0, 1, 0, 0, 4, 0, 0, 1, 0, 0, 4, 1, 0}},
    };
    for (const auto& [size, cells] : tables) {
        const Problem p = Make(size.first, size.second, cells);
        const Counted expected = CountEveryTable(p);
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 20,
                               [](std::uint64_t) {});
        ASSERT_TRUE(lattice.Prepare(p.Statistic(), 1e-12, 1e-9));
        std::uint64_t ways[3] = {0, 0, 0};
        long double mass[3] = {0.0L, 0.0L, 0.0L};
        std::uint64_t settled = 0;
        lattice.Settle(ways, mass, settled);
        for (int w = 0; w < 3; ++w) EXPECT_EQ(ways[w], expected.Ways[w]) << "class " << w;
        EXPECT_GT(expected.Ways[1], 1u);
    }
}

TEST(PearsonLatticeTest, ALatticeTooCoarseOrAnEvaluationTooFarOffIsRefused) {
    // The 5 x 7 benchmark table: D = lcm of r c = 352800, so neighbouring
    // values lie 39 / 352800 apart in X2.
    const Problem p = Make(5, 7, {1, 2, 2, 1, 1, 0, 1, 2, 0, 0, 2, 3, 0, 0, 0, 1, 1, 1, 2, 7, 3,
                                  1, 1, 2, 0, 0, 0, 1, 0, 1, 1, 1, 1, 0, 0});
    ASSERT_EQ(p.Denominator, 352800);
    auto prepared = [&](double observed, double error, double tolerance) {
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                               [](std::uint64_t) {});
        return lattice.Prepare(observed, error, tolerance);
    };
    const double x2 = p.Statistic();
    EXPECT_TRUE(prepared(x2, 1e-12, 1e-9));
    // An observed value farther from the exact one than the error allows.
    EXPECT_FALSE(prepared(x2 + 1e-9, 1e-12, 1e-9));
    // Errors or a tolerance band as wide as the step between values.
    EXPECT_FALSE(prepared(x2, 3e-5, 1e-9));
    EXPECT_FALSE(prepared(x2, 1e-12, 1e-5));
    // A lattice whose step is far below the band: large, nearly coprime
    // totals (N / D = 1.1e-10 against a band of 3.5e-7 around X2 = 176).
    const Problem coarse = Make(3, 3, {61, 5, 37, 3, 89, 31, 53, 19, 71});
    ASSERT_LT(369.0 / static_cast<double>(coarse.Denominator), 1e-3 * 1e-9 * coarse.Statistic());
    PearsonLattice lattice(MarginsOf(coarse), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                           [](std::uint64_t) {});
    EXPECT_FALSE(lattice.Prepare(coarse.Statistic(), 1e-12, 1e-9));
}

}  // namespace
}  // namespace kelvorin
