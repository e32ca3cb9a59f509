// Pearson's ordering on the integer lattice against a count of every table
// with the margins, each classed by the tally rule on its exact statistic;
// and the lattices whose classes rounding could decide, or whose values are
// too large, refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "ExactEnumeration.h"
#include "PearsonLattice.h"

namespace kelvorin {
namespace {

// A settling's or a count's ways and mass per class (less, equal,
// greater), and the tables settled.
struct Tallies {
    std::uint64_t Ways[3] = {0, 0, 0};
    long double Mass[3] = {0.0L, 0.0L, 0.0L};
    std::uint64_t Settled = 0;
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
    long double N = 0.0L;
    std::int64_t Denominator = 1;  // 0 when past 64 bits (or a total is 0)
    std::int64_t Value(const std::vector<std::int32_t>& cells) const {
        std::int64_t sum = 0;
        for (int k = 0; k < K; ++k)
            for (int s = 0; s < S; ++s) {
                const std::int64_t n = cells[static_cast<std::size_t>(k * S + s)];
                sum += n * n * (Denominator / (std::int64_t{Lines[static_cast<std::size_t>(k)]} * Stages[static_cast<std::size_t>(s)]));
            }
        return sum;
    }
    // X2 = N L / D - N exactly (to extended precision).
    long double Exact(const std::vector<std::int32_t>& cells) const {
        return N * static_cast<long double>(Value(cells)) / static_cast<long double>(Denominator) - N;
    }
    // X2 as the cells' terms (n - e)^2 / e give it.
    double Statistic() const {
        long double sum = 0.0L;
        for (int k = 0; k < K; ++k)
            for (int s = 0; s < S; ++s) {
                const long double e = static_cast<long double>(Lines[static_cast<std::size_t>(k)]) *
                                      Stages[static_cast<std::size_t>(s)] / N;
                const long double d = Cells[static_cast<std::size_t>(k * S + s)] - e;
                sum += d * d / e;
            }
        return static_cast<double>(sum);
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
    p.N = std::accumulate(p.Lines.begin(), p.Lines.end(), 0);
    for (std::int32_t r : p.Lines)
        for (std::int32_t c : p.Stages) {
            // (A zero total leaves no lattice; the callers skip such tables.)
            const std::int64_t product = std::int64_t{r} * c;
            if (product == 0 || p.Denominator == 0) {
                p.Denominator = 0;
                continue;
            }
            const std::int64_t step = p.Denominator / std::gcd(p.Denominator, product);
            if (__builtin_mul_overflow(step, product, &p.Denominator)) p.Denominator = 0;
        }
    return p;
}

// Every table with the margins, one cell at a time, classed by the tally
// rule (equal when |a - b| / (a + b) < tolerance) on its exact statistic
// against the observed one; its mass the product over the columns of T! /
// prod x!.
Tallies CountEveryTable(const Problem& p, long double tolerance) {
    Tallies c;
    const long double b = p.Exact(p.Cells);
    std::vector<std::int32_t> cells(p.Cells.size(), 0);
    std::vector<std::int32_t> rowLeft(p.Lines);
    const FactorialTable& f = Factorials();
    auto visit = [&](auto& self, int s, int k, std::int32_t columnLeft) -> void {
        if (s == p.S) {
            const long double a = p.Exact(cells);
            long double mass = 1.0L;
            for (int t = 0; t < p.S; ++t) {
                mass *= f[static_cast<std::size_t>(p.Stages[static_cast<std::size_t>(t)])];
                for (int j = 0; j < p.K; ++j) mass /= f[static_cast<std::size_t>(cells[static_cast<std::size_t>(j * p.S + t)])];
            }
            const int which = std::fabs(a - b) / (a + b) < tolerance ? 1 : a < b ? 0 : 2;
            ++c.Ways[which];
            ++c.Settled;
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

// A table of lines and stages in the given ranges with counts 0 to most
// each; none when a margin is empty.
std::optional<Problem> RandomProblem(std::mt19937& random, std::pair<int, int> lines, std::pair<int, int> stages,
                                     int most) {
    const int K = lines.first + static_cast<int>(random() % static_cast<unsigned>(lines.second - lines.first + 1));
    const int S = stages.first + static_cast<int>(random() % static_cast<unsigned>(stages.second - stages.first + 1));
    std::vector<std::int32_t> cells(static_cast<std::size_t>(K * S));
    for (auto& v : cells) v = static_cast<std::int32_t>(random() % static_cast<unsigned>(most + 1));
    Problem p = Make(K, S, cells);
    if (std::count(p.Lines.begin(), p.Lines.end(), 0) || std::count(p.Stages.begin(), p.Stages.end(), 0))
        return std::nullopt;
    return p;
}

// Settles a prepared lattice: every class's count as expected, its mass to
// the last places, every table settled.
void ExpectSettledAs(PearsonLattice& lattice, const Tallies& expected) {
    Tallies t;
    lattice.Settle(t.Ways, t.Mass, t.Settled);
    const long double total = expected.Mass[0] + expected.Mass[1] + expected.Mass[2];
    for (int w = 0; w < 3; ++w) {
        EXPECT_EQ(t.Ways[w], expected.Ways[w]) << "class " << w;
        EXPECT_NEAR(static_cast<double>(t.Mass[w] / total), static_cast<double>(expected.Mass[w] / total), 1e-15)
            << "class " << w;
    }
    EXPECT_EQ(t.Settled, expected.Settled);
}

void ExpectSameToTheLastBit(const Tallies& t, const Tallies& reference) {
    for (int w = 0; w < 3; ++w) {
        EXPECT_EQ(t.Ways[w], reference.Ways[w]) << "class " << w;
        EXPECT_EQ(t.Mass[w], reference.Mass[w]) << "class " << w;
    }
    EXPECT_EQ(t.Settled, reference.Settled);
}

TEST(PearsonLatticeTest, RandomTablesCountLikeEveryTableClassedByItsStatistic) {
    std::mt19937 random(40213u);
    int tables = 0, refused = 0;
    while (tables < 60) {
        const std::optional<Problem> drawn = RandomProblem(random, {2, 4}, {3, 6}, 3);
        if (!drawn || drawn->N > 22) continue;
        const Problem& p = *drawn;
        const double x2 = p.Statistic();
        if (!(x2 > 1e-6)) continue;
        SCOPED_TRACE(::testing::Message() << "table " << tables);
        ++tables;
        // The program's tolerance, where only the observed value is equal,
        // and a wide one, where a band of lattice values is; small limits
        // now and then, so both sides take other numbers of steps.
        const double tolerance = tables % 2 == 0 ? 1e-9 : 0.05;
        const Tallies expected = CountEveryTable(p, tolerance);
        const std::size_t items = tables % 3 == 0 ? 64 : std::size_t{1} << 20;
        std::uint64_t ticks = 0;
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, items,
                               [&](std::uint64_t steps) { ticks += steps; });
        if (!lattice.Prepare(x2, 1e-12, tolerance)) {
            // Past the limits, or a value of the lattice near a band edge.
            ++refused;
            continue;
        }
        EXPECT_EQ(lattice.ObservedValue(), p.Value(p.Cells));
        ExpectSettledAs(lattice, expected);
        EXPECT_GT(ticks, 0u);
    }
    EXPECT_LE(refused, 24);
}

TEST(PearsonLatticeTest, EqualLineTotalsAndManyTiesAgree) {
    // Lines of equal total are one group of interchangeable lines; a
    // symmetric table has many tables on the observed value. Their column
    // choices are merged after a sort by keys of one word, or of three
    // fields: the same order, so the same tallies to the last bit.
    const std::vector<std::pair<std::pair<int, int>, std::vector<std::int32_t>>> tables{
        {{3, 4}, {2, 1, 1, 0, 1, 2, 0, 1, 0, 1, 2, 1}},
        {{4, 4}, {3, 1, 2, 0, 1, 3, 0, 2, 2, 0, 3, 1, 0, 2, 1, 3}},
        {{2, 6}, {1, 1, 2, 1, 1, 0, 1, 1, 0, 1, 1, 2}},
        {{3, 5}, {4, 0, 0, 1, 0, 0, 4, 0, 0, 1, 0, 0, 4, 1, 0}},
        {{4, 5}, {2, 1, 3, 0, 1, 0, 2, 1, 2, 2, 3, 1, 0, 1, 2, 1, 1, 2, 1, 2}},
    };
    for (const auto& [size, cells] : tables) {
        const Problem p = Make(size.first, size.second, cells);
        SCOPED_TRACE(::testing::Message() << size.first << " x " << size.second);
        const Tallies expected = CountEveryTable(p, 1e-9);
        Tallies byWord;
        for (const bool wordKeys : {true, false}) {
            PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 20,
                                   [](std::uint64_t) {}, std::size_t{1} << 20, std::uint64_t{1} << 33, wordKeys);
            ASSERT_TRUE(lattice.Prepare(p.Statistic(), 1e-12, 1e-9));
            Tallies t;
            lattice.Settle(t.Ways, t.Mass, t.Settled);
            for (int w = 0; w < 3; ++w) EXPECT_EQ(t.Ways[w], expected.Ways[w]) << "class " << w;
            if (wordKeys) {
                byWord = t;
            } else {
                ExpectSameToTheLastBit(t, byWord);
            }
        }
        EXPECT_GT(expected.Ways[1], 1u);
    }
}

TEST(PearsonLatticeTest, MergingGatheredValuesEarlyChangesNothing) {
    // The past values gathered at a node of the meeting are merged as their
    // list grows (to bound its memory): from short lengths on, the same
    // tallies to the last bit as when they are merged once.
    auto settle = [&](const Problem& p, std::size_t compactFrom) -> std::unique_ptr<Tallies> {
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                               [](std::uint64_t) {}, compactFrom);
        if (!lattice.Prepare(p.Statistic(), 1e-12, 1e-9)) return nullptr;
        auto t = std::make_unique<Tallies>();
        lattice.Settle(t->Ways, t->Mass, t->Settled);
        return t;
    };
    std::mt19937 random(7741u);
    int tables = 0;
    while (tables < 10) {
        const std::optional<Problem> drawn = RandomProblem(random, {3, 4}, {4, 6}, 4);
        if (!drawn) continue;
        const Problem& p = *drawn;
        const auto reference = settle(p, std::size_t{1} << 20);
        if (!reference) continue;
        ++tables;
        for (const std::size_t compactFrom : {1, 4, 32}) {
            SCOPED_TRACE(::testing::Message() << "table " << tables << ", merged from " << compactFrom);
            const auto t = settle(p, compactFrom);
            ASSERT_NE(t, nullptr);
            ExpectSameToTheLastBit(*t, *reference);
        }
    }
}

TEST(PearsonLatticeTest, EitherKindOfMeetingCountsLikeEveryTable) {
    // Where the last step decides between meeting with two columns left and
    // meeting a stage earlier from lists, pricing both (from a price of 0
    // on) takes the other kind on some tables; every table's counts stay
    // those of the enumeration, whichever kind met.
    std::mt19937 random(90917u);
    int tables = 0, other = 0;
    while (tables < 40) {
        const std::optional<Problem> drawn = RandomProblem(random, {2, 4}, {4, 6}, 3);
        if (!drawn || drawn->N > 20) continue;
        const Problem& p = *drawn;
        const double x2 = p.Statistic();
        if (!(x2 > 1e-6)) continue;
        const Tallies expected = CountEveryTable(p, 1e-9);
        int stage[2] = {0, 0};
        for (const std::uint64_t pricedFrom : {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{0}}) {
            SCOPED_TRACE(::testing::Message() << "table " << tables << ", priced from " << pricedFrom);
            PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 20,
                                   [](std::uint64_t) {}, std::size_t{1} << 20, pricedFrom);
            if (!lattice.Prepare(x2, 1e-12, 1e-9)) break;
            stage[pricedFrom == 0] = lattice.MeetingStage();
            ExpectSettledAs(lattice, expected);
        }
        if (stage[1] == 0) continue;
        ++tables;
        other += stage[0] != stage[1];
    }
    EXPECT_GT(other, 0);
}

TEST(PearsonLatticeTest, ClassesRoundingCouldDecideOrValuesTooLargeAreRefused) {
    // The 5 x 7 benchmark table: D = lcm of r c = 352800, so neighbouring
    // values lie 39 / 352800 = 1.1e-4 apart in X2.
    const Problem p = Make(5, 7, {1, 2, 2, 1, 1, 0, 1, 2, 0, 0, 2, 3, 0, 0, 0, 1, 1, 1, 2, 7, 3,
                                  1, 1, 2, 0, 0, 0, 1, 0, 1, 1, 1, 1, 0, 0});
    ASSERT_EQ(p.Denominator, 352800);
    auto prepared = [&](const Problem& table, double observed, double error, double tolerance) {
        PearsonLattice lattice(MarginsOf(table), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                               [](std::uint64_t) {});
        return lattice.Prepare(observed, error, tolerance);
    };
    const double x2 = p.Statistic();
    EXPECT_TRUE(prepared(p, x2, 1e-12, 1e-9));
    // An observed value farther from the exact one than the error allows.
    EXPECT_FALSE(prepared(p, x2 + 1e-9, 1e-12, 1e-9));
    // An error as wide as the step: some value lies within it of a band edge.
    EXPECT_FALSE(prepared(p, x2, 1e-4, 1e-9));
    // A band edge on a lattice value: the tolerance set so that the value
    // one step above the observed one is just inside it.
    const long double above = p.Exact(p.Cells) + p.N / static_cast<long double>(p.Denominator);
    const auto edge = static_cast<double>((above - x2) / (above + x2));
    EXPECT_FALSE(prepared(p, x2, 1e-12, edge));
    EXPECT_TRUE(prepared(p, x2, 1e-12, edge * 1.01));
    // Totals that are distinct primes: D past 62 bits.
    const Problem large = Make(5, 5, {97, 0, 0, 0, 0, 12, 89, 0, 0, 0, 0, 38, 65, 0, 0, 0, 0, 66, 41, 0,
                                      0, 0, 0, 96, 17});
    EXPECT_EQ(large.Denominator, 0);
    EXPECT_FALSE(prepared(large, large.Statistic(), 1e-12, 1e-9));
}

TEST(PearsonLatticeTest, SettlingSharedWithOtherThreadsGivesTheSameTalliesToTheLastBit) {
    // The meeting's nodes settled by the owner alone, and with two helper
    // threads taking chunks of them (the owner slowed until they are
    // under way): the same tallies to the last bit. A helper that stops in the
    // middle of a chunk leaves it to the owner, with the same result.
    struct Stop {};
    enum class Helpers { None, Two, OneStopping };
    std::atomic<int> helped{0}, stopped{0};
    auto settle = [&](const Problem& p, Helpers helpers) -> std::unique_ptr<Tallies> {
        bool slow = false;
        std::atomic<int> here{0};  // the helpers' ticks in this settling
        PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                               [&](std::uint64_t) {
                                   // (Until the helpers are under way.)
                                   if (slow && here.load() < 3)
                                       std::this_thread::sleep_for(std::chrono::microseconds(50));
                               });
        if (!lattice.Prepare(p.Statistic(), 1e-12, 1e-9)) return nullptr;
        slow = helpers != Helpers::None;
        std::vector<std::thread> threads;
        auto offer = [&](PearsonLattice::Sharing* share) {
            if (share == nullptr) {
                for (std::thread& t : threads) t.join();
                threads.clear();
                return;
            }
            const int count = helpers == Helpers::Two ? 2 : 1;
            for (int h = 0; h < count; ++h)
                threads.emplace_back([share, helpers, &here, &helped, &stopped] {
                    int ticks = 0;
                    try {
                        share->Help([&](std::uint64_t) {
                            here.fetch_add(1);
                            helped.fetch_add(1);
                            if (helpers == Helpers::OneStopping && ++ticks == 3) throw Stop{};
                        });
                    } catch (const Stop&) {
                        stopped.fetch_add(1);
                    }
                });
        };
        auto t = std::make_unique<Tallies>();
        if (helpers == Helpers::None)
            lattice.Settle(t->Ways, t->Mass, t->Settled);
        else
            lattice.Settle(t->Ways, t->Mass, t->Settled, offer);
        EXPECT_TRUE(threads.empty());
        return t;
    };
    std::mt19937 random(55117u);
    int tables = 0;
    while (tables < 8) {
        const std::optional<Problem> drawn = RandomProblem(random, {3, 4}, {5, 7}, 3);
        if (!drawn) continue;
        const Problem& p = *drawn;
        const auto alone = settle(p, Helpers::None);
        if (!alone) continue;
        ++tables;
        for (const Helpers helpers : {Helpers::Two, Helpers::OneStopping}) {
            SCOPED_TRACE(::testing::Message() << "table " << tables << ", helpers " << static_cast<int>(helpers));
            const auto shared = settle(p, helpers);
            ASSERT_NE(shared, nullptr);
            ExpectSameToTheLastBit(*shared, *alone);
        }
    }
    // The helpers took part, and some stopped with a chunk in hand.
    EXPECT_GT(helped.load(), 0);
    EXPECT_GT(stopped.load(), 0);
}

TEST(PearsonLatticeTest, AnOwnerBrokenOffWaitsForItsHelpersAndKeepsItsTalliesAgreeing) {
    // The owner's tick throws part way: Settle withdraws its offer (the
    // helper joined there) before the exception leaves it, and what it
    // added so far agrees: the classes' ways sum to the tables settled,
    // fewer than all.
    const Problem p = Make(3, 6, {2, 1, 0, 3, 1, 2, 0, 2, 3, 1, 1, 0, 3, 0, 1, 2, 2, 1});
    struct BrokenOff {};
    bool settling = false;
    int calls = 0;
    PearsonLattice lattice(MarginsOf(p), Factorials(), std::size_t{1} << 20, std::size_t{1} << 22,
                           [&](std::uint64_t) {
                               if (settling && ++calls == 6) throw BrokenOff{};
                           });
    ASSERT_TRUE(lattice.Prepare(p.Statistic(), 1e-12, 1e-9));
    settling = true;
    std::vector<std::thread> threads;
    int withdrawn = 0;
    auto offer = [&](PearsonLattice::Sharing* share) {
        if (share == nullptr) {
            ++withdrawn;
            for (std::thread& t : threads) t.join();
            threads.clear();
            return;
        }
        threads.emplace_back([share] {
            share->Help([](std::uint64_t) { std::this_thread::sleep_for(std::chrono::microseconds(200)); });
        });
    };
    Tallies t;
    EXPECT_THROW(lattice.Settle(t.Ways, t.Mass, t.Settled, offer), BrokenOff);
    EXPECT_EQ(withdrawn, 1);
    EXPECT_TRUE(threads.empty());
    EXPECT_EQ(t.Ways[0] + t.Ways[1] + t.Ways[2], t.Settled);
    EXPECT_LT(t.Settled, CountEveryTable(p, 1e-9).Settled);
}

}  // namespace
}  // namespace kelvorin
