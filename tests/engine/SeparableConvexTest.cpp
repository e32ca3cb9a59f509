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

}  // namespace
}  // namespace kelvorin
