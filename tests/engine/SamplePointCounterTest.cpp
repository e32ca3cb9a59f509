#include "SamplePointCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr Uint128 kMaxUint64 = std::numeric_limits<std::uint64_t>::max();

using Table = std::vector<std::vector<int>>;

void MarginsOf(const Table& table, std::vector<int>& rows, std::vector<int>& cols) {
    rows.assign(table.size(), 0);
    cols.assign(table.front().size(), 0);
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = 0; j < table[i].size(); ++j) {
            rows[i] += table[i][j];
            cols[j] += table[i][j];
        }
    }
}

// Fills the table cell by cell, row by row, and counts the completions that
// meet every margin. Gives up (returning more than LIMIT) once more than
// LIMIT tables have been found.
class BruteForce {
public:
    BruteForce(std::vector<int> rows, std::vector<int> cols, std::uint64_t limit = 10'000'000)
        : rowLeft_(std::move(rows)), colLeft_(std::move(cols)), limit_(limit) {}

    std::uint64_t Count() { return Fill(0, 0); }

private:
    std::uint64_t Fill(std::size_t i, std::size_t j) {
        if (found_ > limit_) {
            return 0;
        }
        if (i == rowLeft_.size()) {
            if (std::all_of(colLeft_.begin(), colLeft_.end(), [](int c) { return c == 0; })) {
                ++found_;
                return 1;
            }
            return 0;
        }
        if (j + 1 == colLeft_.size()) {  // the last cell of a row is forced
            const int x = rowLeft_[i];
            if (x > colLeft_[j]) {
                return 0;
            }
            colLeft_[j] -= x;
            rowLeft_[i] = 0;
            const std::uint64_t n = Fill(i + 1, 0);
            colLeft_[j] += x;
            rowLeft_[i] = x;
            return n;
        }
        std::uint64_t n = 0;
        const int most = std::min(rowLeft_[i], colLeft_[j]);
        for (int x = 0; x <= most; ++x) {
            rowLeft_[i] -= x;
            colLeft_[j] -= x;
            n += Fill(i, j + 1);
            rowLeft_[i] += x;
            colLeft_[j] += x;
        }
        return n;
    }

    std::vector<int> rowLeft_;
    std::vector<int> colLeft_;
    std::uint64_t limit_;
    std::uint64_t found_ = 0;
};

// Counts the tables column by column, the state being the vector of row
// totals still to fill (no symmetry reduction, no closed form), exactly in
// 128 bits.
Uint128 CountByColumns(const std::vector<int>& rows, const std::vector<int>& cols) {
    std::map<std::vector<int>, Uint128> states{{rows, 1}};
    for (int colTotal : cols) {
        std::map<std::vector<int>, Uint128> next;
        for (const auto& [left, ways] : states) {
            std::vector<int> after = left;
            // Spread colTotal over the rows, at most left[i] to row i.
            auto spread = [&](auto&& self, std::size_t i, int rest) -> void {
                if (i + 1 == after.size()) {
                    if (rest <= left[i]) {
                        after[i] = left[i] - rest;
                        next[after] += ways;
                        after[i] = left[i];
                    }
                    return;
                }
                for (int x = 0; x <= std::min(rest, left[i]); ++x) {
                    after[i] = left[i] - x;
                    self(self, i + 1, rest - x);
                }
                after[i] = left[i];
            };
            spread(spread, 0, colTotal);
        }
        states = std::move(next);
    }
    const auto done = states.find(std::vector<int>(rows.size(), 0));
    return done == states.end() ? 0 : done->second;
}

// Coefficient of t^r in prod_j (1 + ... + t^c_j) by plain convolution.
template <typename Number>
Number TwoRowCoefficient(const std::vector<int>& cols, int r) {
    std::vector<Number> a(static_cast<std::size_t>(r) + 1, Number(0));
    a[0] = Number(1);
    for (int c : cols) {
        std::vector<Number> b(a.size(), Number(0));
        for (std::size_t s = 0; s < a.size(); ++s) {
            for (std::size_t x = 0; x <= static_cast<std::size_t>(c) && x <= s; ++x) {
                b[s] += a[s - x];
            }
        }
        a = std::move(b);
    }
    return a.back();
}

void ExpectExact(const SamplePointEstimate& e, std::uint64_t expected) {
    EXPECT_TRUE(e.Exact);
    EXPECT_EQ(e.ExactCount, expected);
    EXPECT_EQ(e.Count, static_cast<double>(expected));
}

// An exact reference above 64 bits must come back approximate and close.
void ExpectMatches(const SamplePointEstimate& e, Uint128 expected) {
    if (expected <= kMaxUint64) {
        ExpectExact(e, static_cast<std::uint64_t>(expected));
    } else {
        EXPECT_FALSE(e.Exact);
        const double reference = static_cast<double>(expected);
        EXPECT_NEAR(e.Count / reference, 1.0, 1e-12);
    }
}

SamplePointEstimate CountTable(const Table& table) {
    std::vector<int> rows;
    std::vector<int> cols;
    MarginsOf(table, rows, cols);
    return CountTwoWaySamplePoints(rows, cols);
}

TEST(TwoWaySamplePoints, PublishedFigures) {
    ExpectExact(CountTable({{5, 6, 7, 8}, {8, 7, 6, 5}, {3, 4, 6, 5}}), 1'887'711);
    ExpectExact(CountTable({{1, 3, 10, 6}, {2, 3, 10, 7}, {1, 6, 14, 12}, {0, 1, 9, 11}}), 90'208'550);
    ExpectExact(CountTable({{3, 4, 5, 2}, {4, 3, 2, 5}, {5, 2, 3, 4}, {2, 5, 4, 3}}), 66'952'936);

    const Table wide = {{1, 2, 2, 1, 1, 0, 1},
                        {2, 0, 0, 2, 3, 0, 0},
                        {0, 1, 1, 1, 2, 7, 3},
                        {1, 1, 2, 0, 0, 0, 1},
                        {0, 1, 1, 1, 1, 0, 0}};
    const SamplePointEstimate e = CountTable(wide);
    ASSERT_TRUE(e.Exact);
    EXPECT_GE(e.ExactCount, 100'000'000'000ULL);
    EXPECT_LT(e.ExactCount, 200'000'000'000ULL);
    std::vector<int> rows;
    std::vector<int> cols;
    MarginsOf(wide, rows, cols);
    EXPECT_TRUE(e.ExactCount == CountByColumns(rows, cols));
}

TEST(TwoWaySamplePoints, TwoByTwoClosedForm) {
    for (int r1 = 0; r1 <= 9; ++r1) {
        for (int r2 = 0; r2 <= 9; ++r2) {
            for (int c1 = 0; c1 <= r1 + r2; ++c1) {
                const int c2 = r1 + r2 - c1;
                const int expected = std::min(r2, c1) - std::max(0, c1 - r1) + 1;
                ExpectExact(CountTwoWaySamplePoints({r1, r2}, {c1, c2}), static_cast<std::uint64_t>(expected));
            }
        }
    }
}

TEST(TwoWaySamplePoints, RandomSmallTablesAgainstBruteForce) {
    constexpr std::uint64_t kLimit = 200'000;
    std::mt19937 random(20240611);
    int compared = 0;
    for (int trial = 0; compared < 300; ++trial) {
        const int r = std::uniform_int_distribution<int>(2, 4)(random);
        const int c = std::uniform_int_distribution<int>(2, 5)(random);
        const int most = std::uniform_int_distribution<int>(0, r * c <= 9 ? 5 : 3)(random);
        Table table(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (auto& row : table) {
            for (int& cell : row) {
                cell = std::uniform_int_distribution<int>(0, most)(random);
            }
        }
        std::vector<int> rows;
        std::vector<int> cols;
        MarginsOf(table, rows, cols);
        const std::uint64_t expected = BruteForce(rows, cols, kLimit).Count();
        if (expected > kLimit) {
            continue;
        }
        ++compared;
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        ExpectExact(CountTwoWaySamplePoints(rows, cols), expected);
    }
}

TEST(TwoWaySamplePoints, EqualMarginsAgainstBruteForce) {
    // Many equal totals exercise the grouping of interchangeable columns.
    const std::vector<std::vector<int>> margins[] = {
        {{2, 2, 2}, {1, 1, 1, 1, 1, 1}},
        {{3, 3, 3, 3}, {3, 3, 3, 3}},
        {{4, 4, 4}, {2, 2, 2, 2, 2, 2}},
        {{6, 1, 1}, {2, 2, 2, 2}},
        {{5, 5}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {{2, 2, 2, 2, 2}, {5, 5}},
        {{1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
    };
    for (const auto& m : margins) {
        ExpectExact(CountTwoWaySamplePoints(m[0], m[1]), BruteForce(m[0], m[1]).Count());
    }
    // n x n tables of ones are the n! permutation matrices.
    ExpectExact(CountTwoWaySamplePoints(std::vector<int>(12, 1), std::vector<int>(12, 1)), 479'001'600);
}

TEST(TwoWaySamplePoints, LargerTablesAgainstColumnwiseCount) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 30; ++trial) {
        const int r = std::uniform_int_distribution<int>(2, 5)(random);
        const int c = std::uniform_int_distribution<int>(2, 7)(random);
        Table table(static_cast<std::size_t>(r), std::vector<int>(static_cast<std::size_t>(c)));
        for (auto& row : table) {
            for (int& cell : row) {
                cell = std::uniform_int_distribution<int>(0, 4)(random);
            }
        }
        std::vector<int> rows;
        std::vector<int> cols;
        MarginsOf(table, rows, cols);
        const SamplePointEstimate e = CountTwoWaySamplePoints(rows, cols);
        if (e.Count == 0.0) {
            continue;  // beyond the work bound: nothing to compare
        }
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        ExpectMatches(e, CountByColumns(rows, cols));
    }
}

TEST(TwoWaySamplePoints, SymmetricUnderTranspositionAndPermutation) {
    std::mt19937 random(99);
    for (int trial = 0; trial < 50; ++trial) {
        const int r = std::uniform_int_distribution<int>(2, 5)(random);
        const int c = std::uniform_int_distribution<int>(2, 6)(random);
        std::vector<int> rows(static_cast<std::size_t>(r), 0);
        std::vector<int> cols(static_cast<std::size_t>(c), 0);
        for (int& row : rows) {
            for (int& col : cols) {
                const int x = std::uniform_int_distribution<int>(0, 2)(random);
                row += x;
                col += x;
            }
        }
        const SamplePointEstimate given = CountTwoWaySamplePoints(rows, cols);
        ASSERT_TRUE(given.Exact);
        const SamplePointEstimate transposed = CountTwoWaySamplePoints(cols, rows);
        ExpectExact(transposed, given.ExactCount);
        std::shuffle(rows.begin(), rows.end(), random);
        std::shuffle(cols.begin(), cols.end(), random);
        ExpectExact(CountTwoWaySamplePoints(rows, cols), given.ExactCount);
        ExpectExact(CountTwoWaySamplePoints(cols, rows), given.ExactCount);
    }
}

TEST(TwoWaySamplePoints, DegenerateMargins) {
    ExpectExact(CountTwoWaySamplePoints({17}, {3, 4, 10}), 1);
    ExpectExact(CountTwoWaySamplePoints({3, 4, 10}, {17}), 1);
    ExpectExact(CountTwoWaySamplePoints({0, 0}, {0, 0, 0}), 1);
    ExpectExact(CountTwoWaySamplePoints({}, {}), 1);
    // Zero rows and columns do not change the count.
    ExpectExact(CountTwoWaySamplePoints({0, 3, 0, 2}, {2, 0, 3}), 3);
    ExpectExact(CountTwoWaySamplePoints({0, 5, 0}, {1, 0, 4}), 1);
    // Margins no table has.
    ExpectExact(CountTwoWaySamplePoints({3, 4}, {3, 3}), 0);
    ExpectExact(CountTwoWaySamplePoints({-1, 4}, {1, 2}), 0);
    ExpectExact(CountTwoWaySamplePoints({}, {1}), 0);
}

TEST(TwoWaySamplePoints, TwoRowTablesBeyond64Bits) {
    // 2 x 30 with column totals 10: between 2^64 and 2^127.
    const std::vector<int> cols30(30, 10);
    const Uint128 exact30 = TwoRowCoefficient<Uint128>(cols30, 150);
    ASSERT_GT(exact30, kMaxUint64);
    ExpectMatches(CountTwoWaySamplePoints({150, 150}, cols30), exact30);
    ExpectMatches(CountTwoWaySamplePoints(cols30, {150, 150}), exact30);

    // 2 x 40 with column totals 20: far beyond 128 bits.
    const std::vector<int> cols40(40, 20);
    const long double approx40 = TwoRowCoefficient<long double>(cols40, 300);
    const SamplePointEstimate e = CountTwoWaySamplePoints({300, 500}, cols40);
    EXPECT_FALSE(e.Exact);
    EXPECT_NEAR(e.Count / static_cast<double>(approx40), 1.0, 1e-12);

    // Many columns but a small row: still exact. Every x_j <= 3 fits its
    // column, so these are the C(3 + 63, 63) compositions of 3.
    ExpectExact(CountTwoWaySamplePoints({3, 317}, std::vector<int>(64, 5)), 45'760);
}

TEST(TwoWaySamplePoints, ThreeRowTablesBeyond64Bits) {
    const std::vector<int> rows = {66, 67, 67};
    const std::vector<int> cols(20, 10);
    const Uint128 exact = CountByColumns(rows, cols);
    ASSERT_GT(exact, kMaxUint64);
    const SamplePointEstimate e = CountTwoWaySamplePoints(rows, cols);
    ASSERT_NE(e.Count, 0.0);
    ExpectMatches(e, exact);

    // A first row of 1 goes to any of 40 equal columns, and each choice has
    // fewer than 2^64 completions, but all 40 together have more.
    const std::vector<int> single = {1, 40, 39};
    const std::vector<int> twos(40, 2);
    const Uint128 exactSingle = CountByColumns(single, twos);
    ASSERT_GT(exactSingle, kMaxUint64);
    ExpectMatches(CountTwoWaySamplePoints(single, twos), exactSingle);
    ExpectMatches(CountTwoWaySamplePoints(twos, single), exactSingle);
}

TEST(TwoWaySamplePoints, HugeInputsReturnUnknownOrApproximate) {
    // Each of these has far more than 2^64 tables.
    const std::vector<std::vector<int>> margins[] = {
        {std::vector<int>(10, 100), std::vector<int>(10, 100)},
        {std::vector<int>(50, 6000), std::vector<int>(60, 5000)},
        {std::vector<int>(50, 6), std::vector<int>(60, 5)},
        {{150000, 150000}, std::vector<int>(60, 5000)},
        {std::vector<int>(60, 32767), std::vector<int>(60, 32767)},
    };
    for (const auto& m : margins) {
        const SamplePointEstimate e = CountTwoWaySamplePoints(m[0], m[1]);
        EXPECT_FALSE(e.Exact);
        EXPECT_TRUE(e.Count == 0.0 || e.Count > 1.8e19);
    }
}

TEST(OneWaySamplePoints, AgainstBruteForce) {
    // Vectors of k counts with sum n, counted one count at a time.
    auto brute = [](auto&& self, int n, int k) -> std::uint64_t {
        if (k == 0) {
            return n == 0 ? 1 : 0;
        }
        std::uint64_t total = 0;
        for (int first = 0; first <= n; ++first) {
            total += self(self, n - first, k - 1);
        }
        return total;
    };
    for (int n = 0; n <= 12; ++n) {
        for (int k = 0; k <= 6; ++k) {
            ExpectExact(CountOneWaySamplePoints(n, k), brute(brute, n, k));
        }
    }
}

TEST(OneWaySamplePoints, AgainstPascalTriangle) {
    // C(m, j) for m <= 130 in 128 bits, saturated where it would not fit.
    constexpr int kTop = 130;
    const Uint128 saturated = ~Uint128(0) >> 1;
    std::vector<std::vector<Uint128>> pascal(kTop + 1);
    for (int m = 0; m <= kTop; ++m) {
        pascal[m].assign(static_cast<std::size_t>(m) + 1, 1);
        for (int j = 1; j < m; ++j) {
            pascal[m][j] = std::min(saturated, pascal[m - 1][j - 1] + pascal[m - 1][j]);
        }
    }
    for (int k = 1; k <= 60; ++k) {
        for (int n = 0; n + k - 1 <= kTop; ++n) {
            const Uint128 expected = pascal[n + k - 1][k - 1];
            if (expected == saturated) {
                continue;
            }
            SCOPED_TRACE(::testing::Message() << "n " << n << " k " << k);
            ExpectMatches(CountOneWaySamplePoints(n, k), expected);
        }
    }
    // Either side of the 64-bit limit: C(67, 33) fits, C(68, 33) does not.
    EXPECT_TRUE(CountOneWaySamplePoints(34, 34).Exact);
    EXPECT_FALSE(CountOneWaySamplePoints(35, 34).Exact);
}

TEST(OneWaySamplePoints, LargeArguments) {
    // C(300059, 59) by the product of (n + i) / i.
    long double expected = 1.0L;
    for (int i = 1; i <= 59; ++i) {
        expected *= static_cast<long double>(300000 + i) / i;
    }
    const SamplePointEstimate e = CountOneWaySamplePoints(300000, 60);
    EXPECT_FALSE(e.Exact);
    EXPECT_NEAR(e.Count / static_cast<double>(expected), 1.0, 1e-10);

    ExpectExact(CountOneWaySamplePoints(2'000'000'000, 2), 2'000'000'001ULL);
    ExpectExact(CountOneWaySamplePoints(0, 2'000'000'000), 1);
    ExpectExact(CountOneWaySamplePoints(1, 2'000'000'000), 2'000'000'000ULL);

    // Beyond the range of a double: unknown.
    const SamplePointEstimate beyond = CountOneWaySamplePoints(2'000'000'000, 2000);
    EXPECT_FALSE(beyond.Exact);
    EXPECT_EQ(beyond.Count, 0.0);

    ExpectExact(CountOneWaySamplePoints(-1, 3), 0);
    ExpectExact(CountOneWaySamplePoints(3, -1), 0);
    ExpectExact(CountOneWaySamplePoints(3, 0), 0);
}

}  // namespace
}  // namespace kelvorin
