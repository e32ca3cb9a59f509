// The number of sample points, counted before the enumeration: exact against
// a plain column-by-column count, approximate beyond 64 bits.
#include "SamplePointCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

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
    // Zero and equal totals (which the counter groups), beyond 64 bits, at random.
    std::vector<std::pair<Margins, Margins>> cases{{{0, 3, 0, 2}, {2, 0, 3}}, {{2, 2, 2}, Margins(6, 1)}, {{4, 4, 4}, Margins(6, 2)},
                                                   {{8, 7, 15, 5, 4}, {4, 5, 6, 5, 7, 7, 5}}, {{150, 150}, Margins(30, 10)},
                                                   {{1, 40, 39}, Margins(40, 2)}, {{66, 67, 67}, Margins(20, 10)}};
    std::mt19937 random(7);
    while (cases.size() < 50) {
        Margins rows(2 + random() % 4, 0), cols(2 + random() % 5, 0);
        for (int& row : rows)
            for (int& col : cols) {
                const int x = static_cast<int>(random() % 4);
                row += x, col += x;
            }
        if (CountTwoWaySamplePoints(rows, cols).Count != 0.0 && CountTwoWaySamplePoints(cols, rows).Count != 0.0) cases.push_back({rows, cols});
    }
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
