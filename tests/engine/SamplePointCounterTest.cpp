// The number of sample points before the enumeration: exact against a plain
// column-by-column count in 128 bits, approximate beyond 64 bits.
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

// The tables column by column, the state being the row totals still to fill
// (no symmetry reduction, no closed form).
Uint128 CountByColumns(const Margins& rows, const Margins& cols) {
    std::map<Margins, Uint128> states{{rows, 1}};
    for (int colTotal : cols) {
        std::map<Margins, Uint128> next;
        for (const auto& [left, ways] : states) {
            Margins after = left;
            auto spread = [&](auto& self, std::size_t i, int rest) -> void {
                if (i == after.size()) {
                    if (rest == 0) next[after] += ways;
                    return;
                }
                for (int x = 0; x <= std::min(rest, left[i]); ++x) after[i] = left[i] - x, self(self, i + 1, rest - x);
                after[i] = left[i];
            };
            spread(spread, 0, colTotal);
        }
        states = std::move(next);
    }
    return states.contains(Margins(rows.size(), 0)) ? states[Margins(rows.size(), 0)] : 0;
}

// Exact up to 64 bits, approximate and close above, either way round.
void ExpectCount(const Margins& rows, const Margins& cols, Uint128 expected) {
    for (const SamplePointEstimate& e : {CountTwoWaySamplePoints(rows, cols), CountTwoWaySamplePoints(cols, rows)}) {
        const bool fits = expected <= UINT64_MAX;
        EXPECT_EQ(e.Exact, fits) << rows.size() << " x " << cols.size();
        if (fits) {
            EXPECT_EQ(e.ExactCount, static_cast<std::uint64_t>(expected));
            EXPECT_EQ(e.Count, static_cast<double>(expected));
        } else {
            EXPECT_NEAR(e.Count / static_cast<double>(expected), 1.0, 1e-12);
        }
    }
}

TEST(TwoWaySamplePoints, PublishedFiguresAndClosedForms) {
    ExpectCount({26, 26, 18}, {16, 17, 19, 18}, 1'887'711);
    ExpectCount({20, 22, 33, 21}, {4, 13, 43, 36}, 90'208'550);
    ExpectCount({14, 14, 14, 14}, {14, 14, 14, 14}, 66'952'936);
    ExpectCount(Margins(12, 1), Margins(12, 1), 479'001'600);  // the 12! permutation matrices
    ExpectCount({3, 317}, Margins(64, 5), 45'760);             // C(3 + 63, 63): every x_j <= 3 fits
    ExpectCount({0, 3, 0, 2}, {2, 0, 3}, 3);                   // zero rows and columns change nothing
    ExpectCount({3, 4}, {3, 3}, 0);                            // margins no table has
    ExpectCount({-1, 4}, {1, 2}, 0);
    for (int r1 = 0; r1 <= 9; ++r1)
        for (int r2 = 0; r2 <= 9; ++r2)
            for (int c1 = 0; c1 <= r1 + r2; ++c1) ExpectCount({r1, r2}, {c1, r1 + r2 - c1}, std::min(r2, c1) - std::max(0, c1 - r1) + 1);
}

// Random margins, margins with many equal totals (which the counter groups)
// and margins beyond 64 bits, against the column-by-column count.
TEST(TwoWaySamplePoints, AgainstTheColumnwiseCount) {
    std::vector<std::pair<Margins, Margins>> cases{{{2, 2, 2}, Margins(6, 1)}, {{3, 3, 3, 3}, {3, 3, 3, 3}}, {{4, 4, 4}, Margins(6, 2)},
                                                   {{6, 1, 1}, {2, 2, 2, 2}}, {{8, 7, 15, 5, 4}, {4, 5, 6, 5, 7, 7, 5}},
                                                   {{150, 150}, Margins(30, 10)}, {{1, 40, 39}, Margins(40, 2)}, {{66, 67, 67}, Margins(20, 10)}};
    std::mt19937 random(7);
    while (cases.size() < 60) {
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

// C(n + k - 1, k - 1) from Pascal's triangle: exact below 2^64 (C(67, 33)
// fits, C(68, 33) does not), approximate above, unknown beyond a double.
TEST(OneWaySamplePoints, CompositionsCount) {
    std::vector<std::vector<long double>> pascal(131);
    for (std::size_t m = 0; m <= 130; ++m) {
        pascal[m].assign(m + 1, 1);
        for (std::size_t j = 1; j < m; ++j) pascal[m][j] = pascal[m - 1][j - 1] + pascal[m - 1][j];
    }
    for (int k = 1; k <= 60; ++k)
        for (int n = 0; n + k - 1 <= 130; ++n) {
            const long double expected = pascal[static_cast<std::size_t>(n + k - 1)][static_cast<std::size_t>(k - 1)];
            const SamplePointEstimate e = CountOneWaySamplePoints(n, k);
            EXPECT_EQ(e.Exact, expected < 0x1p64L) << n << " " << k;
            EXPECT_NEAR(e.Count / static_cast<double>(expected), 1.0, 1e-12) << n << " " << k;
            EXPECT_TRUE(!e.Exact || static_cast<long double>(e.ExactCount) == expected) << n << " " << k;
        }
    EXPECT_FALSE(CountOneWaySamplePoints(35, 34).Exact);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2).ExactCount, 2'000'000'001u);
    EXPECT_EQ(CountOneWaySamplePoints(1, 2'000'000'000).ExactCount, 2'000'000'000u);
    EXPECT_EQ(CountOneWaySamplePoints(2'000'000'000, 2000).Count, 0.0);
    for (const auto& [n, k] : {std::pair{-1, 3}, {3, -1}, {3, 0}}) EXPECT_EQ(CountOneWaySamplePoints(n, k).Count, 0.0);
}

}  // namespace
}  // namespace kelvorin
