#include "SeparableConvex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

// Calls visit(x) for every x with lo <= x <= hi and sum x = total.
template <typename Visit>
void EveryVector(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi, std::int32_t total,
                 Visit&& visit) {
    std::vector<std::int32_t> x(lo.size());
    auto place = [&](auto& self, std::size_t k, std::int32_t left) -> void {
        if (k + 1 == lo.size()) {
            if (left < lo[k] || left > hi[k]) return;
            x[k] = left;
            visit(x);
            return;
        }
        for (std::int32_t v = lo[k]; v <= std::min(hi[k], left); ++v) {
            x[k] = v;
            self(self, k + 1, left - v);
        }
    };
    place(place, 0, total);
}

// Random bounds and convex parts, on few lines (the ends of the others taken
// in every combination) and on many lines with a small total (a subset sum
// over the totals): the least and greatest objective against every vector.
TEST(SeparableConvexTest, ExtremesOfSumsAndProductsAreThoseOfEveryVector) {
    std::mt19937 random(20261207);
    struct Shape {
        int Lines, Total;
    };
    for (const Shape shape : {Shape{1, 5}, Shape{2, 9}, Shape{3, 20}, Shape{5, 14}, Shape{7, 3}, Shape{12, 6}})
        for (int round = 0; round < 40; ++round) {
            const auto K = static_cast<std::size_t>(shape.Lines);
            std::vector<std::int32_t> lo(K), hi(K), a(K), b(K), r(K);
            for (std::size_t k = 0; k < K; ++k) {
                lo[k] = static_cast<std::int32_t>(random() % 3);
                hi[k] = lo[k] + static_cast<std::int32_t>(random() % 6);
                a[k] = static_cast<std::int32_t>(random() % 5);
                b[k] = static_cast<std::int32_t>(random() % 41) - 20;
                r[k] = hi[k] + static_cast<std::int32_t>(random() % 3);
            }
            std::int32_t least = 0, most = 0;
            for (std::size_t k = 0; k < K; ++k) {
                least += lo[k];
                most += hi[k];
            }
            const std::int32_t total = std::clamp(shape.Total, least, most);
            auto sumPart = [&](std::size_t k, std::int32_t x) {
                return static_cast<std::int64_t>(a[k]) * x * x + static_cast<std::int64_t>(b[k]) * x;
            };
            // x! (r - x)!, log-convex in x.
            auto productPart = [&](std::size_t k, std::int32_t x) {
                long double p = 1.0L;
                for (std::int32_t i = 2; i <= x; ++i) p *= i;
                for (std::int32_t i = 2; i <= r[k] - x; ++i) p *= i;
                return p;
            };
            bool first = true;
            std::int64_t minSum = 0, maxSum = 0;
            long double maxProduct = 0.0L;
            EveryVector(lo, hi, total, [&](const std::vector<std::int32_t>& x) {
                std::int64_t s = 0;
                long double p = 1.0L;
                for (std::size_t k = 0; k < K; ++k) {
                    s += sumPart(k, x[k]);
                    p *= productPart(k, x[k]);
                }
                minSum = first ? s : std::min(minSum, s);
                maxSum = first ? s : std::max(maxSum, s);
                maxProduct = first ? p : std::max(maxProduct, p);
                first = false;
            });
            const std::vector<std::int32_t> x =
                LeastChoice(
                    lo, hi, total, [&](std::size_t k, std::int32_t x) { return sumPart(k, x + 1) - sumPart(k, x); },
                    [](std::int64_t a, std::int64_t b) { return a < b; });
            std::int64_t chosen = 0;
            for (std::size_t k = 0; k < K; ++k) chosen += sumPart(k, x[k]);
            EXPECT_EQ(chosen, minSum) << K << " lines, total " << total;
            EXPECT_EQ(GreatestAtVertex(
                          lo, hi, total, sumPart, [](std::int64_t v, std::int64_t p) { return v + p; },
                          std::int64_t{0}, std::int64_t{-1} << 62),
                      maxSum)
                << K << " lines, total " << total;
            EXPECT_EQ(GreatestAtVertex(
                          lo, hi, total, productPart, [](long double v, long double p) { return v * p; }, 1.0L,
                          -1.0L),
                      maxProduct)
                << K << " lines, total " << total;
        }
}

// The remainders of random bounded vectors, against the choices of the
// remaining lines enumerated one by one: sums and products of parts, the
// count and the summed products of weights, for every line and every
// number of units that can be left for it.
TEST(SeparableConvexTest, RemaindersAreThoseOfEveryChoiceOfTheRemainingLines) {
    std::mt19937 random(120726);
    for (int round = 0; round < 60; ++round) {
        const auto K = static_cast<std::size_t>(1 + round % 5);
        std::vector<std::int32_t> lo(K), hi(K);
        std::int32_t least = 0, most = 0;
        for (std::size_t k = 0; k < K; ++k) {
            lo[k] = static_cast<std::int32_t>(random() % 3);
            hi[k] = lo[k] + static_cast<std::int32_t>(random() % 5);
            least += lo[k];
            most += hi[k];
        }
        const std::int32_t total = least + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(most - least + 1));
        auto part = [&](std::size_t k, std::int32_t x) { return static_cast<std::int64_t>((k + 2) * x * x) - 7 * x; };
        auto weight = [&](std::size_t k, std::int32_t x) { return 1.0L / static_cast<long double>(x + 1 + k); };
        Remainders<std::int64_t> sums;
        FormRemainders(lo, hi, total, part, weight, [](std::int64_t a, std::int64_t b) { return a + b; }, sums);
        Remainders<long double> products;
        FormRemainders(
            lo, hi, total, [&](std::size_t k, std::int32_t x) { return weight(k, x); }, weight,
            [](long double a, long double b) { return a * b; }, products);
        for (std::size_t k = 0; k < K; ++k) {
            // What can be left for lines k..: total less a sum the lines
            // before can take.
            const std::vector<std::int32_t> beforeLo(lo.begin(), lo.begin() + static_cast<std::ptrdiff_t>(k)),
                beforeHi(hi.begin(), hi.begin() + static_cast<std::ptrdiff_t>(k));
            auto canTake = [&](std::int32_t used) {
                if (k == 0) return used == 0;
                bool any = false;
                EveryVector(beforeLo, beforeHi, used, [&](const std::vector<std::int32_t>&) { any = true; });
                return any;
            };
            const std::vector<std::int32_t> restLo(lo.begin() + static_cast<std::ptrdiff_t>(k), lo.end()),
                restHi(hi.begin() + static_cast<std::ptrdiff_t>(k), hi.end());
            for (std::int32_t used = 0; used <= total; ++used) {
                const std::int32_t left = total - used;
                std::uint64_t count = 0;
                std::int64_t minSum = 0, maxSum = 0;
                long double minProduct = 0.0L, maxProduct = 0.0L, weights = 0.0L;
                EveryVector(restLo, restHi, left, [&](const std::vector<std::int32_t>& x) {
                    std::int64_t s = 0;
                    long double p = 1.0L;
                    for (std::size_t j = 0; j < x.size(); ++j) {
                        s += part(k + j, x[j]);
                        p *= weight(k + j, x[j]);
                    }
                    minSum = count == 0 ? s : std::min(minSum, s);
                    maxSum = count == 0 ? s : std::max(maxSum, s);
                    minProduct = count == 0 ? p : std::min(minProduct, p);
                    maxProduct = count == 0 ? p : std::max(maxProduct, p);
                    weights += p;
                    ++count;
                });
                if (count == 0 || !canTake(used)) continue;
                const auto& s = sums.Of(k, left);
                EXPECT_EQ(s.Count, count) << "line " << k << ", left " << left;
                EXPECT_EQ(s.Least, minSum);
                EXPECT_EQ(s.Greatest, maxSum);
                EXPECT_NEAR(static_cast<double>(s.Weight), static_cast<double>(weights), 1e-12 * static_cast<double>(weights));
                const auto& p = products.Of(k, left);
                EXPECT_NEAR(static_cast<double>(p.Least), static_cast<double>(minProduct), 1e-12 * static_cast<double>(minProduct));
                EXPECT_NEAR(static_cast<double>(p.Greatest), static_cast<double>(maxProduct), 1e-12 * static_cast<double>(maxProduct));
            }
        }
    }
}

// Lines as those of two columns (line k holds r_k in both, x_k <= T in the
// first, r_k - x_k <= T' in the second): the remainders formed with the
// last two lines' shape and closed-form weights against those formed by
// trying every choice, for integer sums of convex parts (exactly), sums of
// x ln x terms and products of 1 / (x! (r - x)!) (to within rounding); and
// lines with narrower ranges, where the closed form must decline.
TEST(SeparableConvexTest, ShapedLastPairsGiveTheRemaindersOfEveryChoice) {
    std::mt19937 random(20261208);
    std::vector<long double> factorials(200, 1.0L);
    for (std::size_t n = 1; n < factorials.size(); ++n) factorials[n] = factorials[n - 1] * static_cast<long double>(n);
    auto factorial = [&](std::int32_t n) { return factorials[static_cast<std::size_t>(n)]; };
    int closed = 0, declined = 0;
    for (int round = 0; round < 300; ++round) {
        const auto K = static_cast<std::size_t>(2 + round % 4);
        const bool narrowed = round % 3 == 2;
        std::vector<std::int32_t> r(K), lo(K), hi(K);
        std::int32_t sum = 0;
        for (std::size_t k = 0; k < K; ++k) sum += r[k] = 1 + static_cast<std::int32_t>(random() % 30);
        const std::int32_t T = 1 + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(sum - 1));
        for (std::size_t k = 0; k < K; ++k) {
            lo[k] = std::max(0, r[k] - (sum - T));
            hi[k] = std::min(r[k], T);
            if (narrowed && hi[k] > lo[k]) random() % 2 ? ++lo[k] : --hi[k];
        }
        std::int32_t least = 0, most = 0;
        for (std::size_t k = 0; k < K; ++k) {
            least += lo[k];
            most += hi[k];
        }
        if (T < least || T > most) continue;
        auto inverse = [&](std::size_t k, std::int32_t x) { return 1.0L / (factorial(x) * factorial(r[k] - x)); };
        auto convex = [&](std::size_t k, std::int32_t x) {
            return static_cast<std::int64_t>(k + 2) * x * x - static_cast<std::int64_t>(r[k]) * x;
        };
        auto nLogN = [](std::int32_t n) { return n == 0 ? 0.0L : n * std::log(static_cast<long double>(n)); };
        auto lr = [&](std::size_t k, std::int32_t x) { return nLogN(x) + nLogN(r[k] - x); };
        const auto pairWeight = FactorialPairWeight(factorial, r[K - 2], r[K - 1]);
        auto counted = [&](std::int32_t left, std::int32_t from, std::int32_t upTo) {
            const long double w = pairWeight(left, from, upTo);
            ++(w < 0.0L ? declined : closed);
            return w;
        };
        auto add = [](auto a, auto b) { return a + b; };
        auto multiply = [](long double a, long double b) { return a * b; };
        Remainders<std::int64_t> sums, shapedSums;
        FormRemainders(lo, hi, T, convex, inverse, add, sums);
        FormRemainders(lo, hi, T, convex, inverse, add, shapedSums, PairShape::Dip, counted);
        Remainders<long double> logs, shapedLogs, products, shapedProducts;
        FormRemainders(lo, hi, T, lr, inverse, add, logs);
        FormRemainders(lo, hi, T, lr, inverse, add, shapedLogs, PairShape::Dip);
        FormRemainders(lo, hi, T, inverse, inverse, multiply, products);
        FormRemainders(lo, hi, T, inverse, inverse, multiply, shapedProducts, PairShape::Peak, pairWeight);
        auto near = [](long double a, long double b) { return std::fabs(a - b) <= 1e-16L * std::max(std::fabs(a), std::fabs(b)); };
        for (std::size_t k = 0; k < K; ++k)
            for (std::size_t i = 0; i < sums.At[k].size(); ++i) {
                const auto& s = sums.At[k][i];
                const auto& t = shapedSums.At[k][i];
                EXPECT_EQ(t.Count, s.Count) << "line " << k << " of " << K << ", round " << round;
                if (s.Count == 0) continue;
                EXPECT_EQ(t.Least, s.Least) << "line " << k << " of " << K << ", round " << round;
                EXPECT_EQ(t.Greatest, s.Greatest) << "line " << k << " of " << K << ", round " << round;
                EXPECT_TRUE(near(t.Weight, s.Weight)) << t.Weight << " against " << s.Weight;
                EXPECT_TRUE(near(shapedLogs.At[k][i].Least, logs.At[k][i].Least));
                EXPECT_TRUE(near(shapedLogs.At[k][i].Greatest, logs.At[k][i].Greatest));
                EXPECT_TRUE(near(shapedProducts.At[k][i].Least, products.At[k][i].Least));
                EXPECT_TRUE(near(shapedProducts.At[k][i].Greatest, products.At[k][i].Greatest));
                EXPECT_TRUE(near(shapedProducts.At[k][i].Weight, products.At[k][i].Weight));
            }
    }
    EXPECT_GT(closed, 100);
    EXPECT_GT(declined, 10);
}

// The turn of random lines that fall and rise (or rise and fall), plateaus
// at the bottom included, and the end of random prefixes.
TEST(SeparableConvexTest, TurnsAndPrefixesAreFoundWhereTheyAre) {
    std::mt19937 random(7122026);
    for (int round = 0; round < 500; ++round) {
        const auto n = static_cast<std::int32_t>(1 + random() % 40);
        const auto turn = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(n));
        std::vector<std::int64_t> v(static_cast<std::size_t>(n));
        for (std::int32_t x = 0; x < n; ++x) {
            const std::int64_t d = x - turn;
            v[static_cast<std::size_t>(x)] = d * d * 3 + (d > 0 ? d : 0);
        }
        const bool flat = round % 2 == 1 && turn + 1 < n;
        if (flat) v[static_cast<std::size_t>(turn + 1)] = v[static_cast<std::size_t>(turn)];
        auto at = [&](std::int32_t x) { return v[static_cast<std::size_t>(x)]; };
        auto negated = [&](std::int32_t x) { return -at(x); };
        const std::int32_t dip = TurnOf(0, n - 1, PairShape::Dip, at);
        EXPECT_EQ(v[static_cast<std::size_t>(dip)], v[static_cast<std::size_t>(turn)]) << round;
        EXPECT_EQ(-negated(TurnOf(0, n - 1, PairShape::Peak, negated)), v[static_cast<std::size_t>(turn)]) << round;
        const auto x = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(n));
        const auto last = x + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(n - x));
        EXPECT_EQ(LastHolding(x, n - 1, [&](std::int32_t y) { return y <= last; }), last) << x << ".." << n - 1;
    }
}

}  // namespace
}  // namespace kelvorin
