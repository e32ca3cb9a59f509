#include "SeparableConvex.h"

#include <gtest/gtest.h>

#include <algorithm>
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
                LeastChoice(lo, hi, total, [&](std::size_t p, std::int32_t xp, std::size_t q, std::int32_t xq) {
                    return sumPart(p, xp + 1) - sumPart(p, xp) < sumPart(q, xq + 1) - sumPart(q, xq);
                });
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

}  // namespace
}  // namespace kelvorin
