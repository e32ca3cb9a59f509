#include "BoundedVectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

// The arrangements of a non-increasing run of counts, grown one count at a
// time as the network's column vectors grow it.
std::uint64_t OrderingsOfRun(const std::vector<int>& counts) {
    RunArrangements arrangements;
    for (std::size_t i = 0; i < counts.size(); ++i)
        arrangements = arrangements.Next(i > 0, i > 0 && counts[i] == counts[i - 1]);
    return arrangements.Ways;
}

TEST(BoundedVectorsTest, RunArrangementsCountTheDistinctPermutationsOfEveryShortRun) {
    // Every non-increasing run of up to six counts from 0 to 3, against
    // the permutations counted one by one.
    for (int length = 1; length <= 6; ++length) {
        std::vector<int> counts(static_cast<std::size_t>(length), 3);
        while (true) {
            std::vector<int> permuted(counts.rbegin(), counts.rend());
            std::uint64_t distinct = 0;
            do ++distinct;
            while (std::next_permutation(permuted.begin(), permuted.end()));
            EXPECT_EQ(OrderingsOfRun(counts), distinct) << "run of " << length;
            // The next non-increasing run in reverse lexicographic order.
            int k = length - 1;
            while (k >= 0 && counts[static_cast<std::size_t>(k)] == 0) --k;
            if (k < 0) break;
            const int value = --counts[static_cast<std::size_t>(k)];
            for (int j = k + 1; j < length; ++j) counts[static_cast<std::size_t>(j)] = value;
        }
    }
}

TEST(BoundedVectorsTest, RunArrangementsNeverPassTheirResult) {
    // Counts a a v1 .. v17 b b (21 lines, two pairs): 21! / 4 =
    // 12,772,735,542,927,360,000 arrangements, below 2^64, although the
    // arrangements before the last count (20! / 2) times 21 are above it.
    std::vector<int> counts = {40, 40};
    for (int v = 30; v > 13; --v) counts.push_back(v);
    counts.push_back(5);
    counts.push_back(5);
    ASSERT_EQ(counts.size(), 21u);
    EXPECT_EQ(OrderingsOfRun(counts), 12772735542927360000ULL);
}

// The number of vectors with lo <= x <= hi and a given sum, against the
// vectors counted one by one: few lines (counted by inclusion and
// exclusion) and more (counted line by line), empty ranges and totals out
// of reach included; and a count past 64 bits is flagged.
TEST(BoundedVectorsTest, CountsOfBoundedVectorsAreThoseOfEveryVector) {
    std::mt19937 random(7122026);
    for (const int lines : {1, 2, 4, 6, 7, 9})
        for (int round = 0; round < 60; ++round) {
            const auto K = static_cast<std::size_t>(lines);
            std::vector<std::int32_t> lo(K), hi(K);
            std::int32_t most = 0;
            for (std::size_t k = 0; k < K; ++k) {
                lo[k] = static_cast<std::int32_t>(random() % 4);
                hi[k] = lo[k] + static_cast<std::int32_t>(random() % 6) - (round == 7 && k == 0 ? 2 : 0);
                most += hi[k];
            }
            const auto total = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(most + 3)) - 1;
            std::uint64_t counted = 0;
            std::vector<std::int32_t> x(K);
            auto place = [&](auto& self, std::size_t k, std::int32_t left) -> void {
                if (k == K) {
                    counted += left == 0;
                    return;
                }
                for (std::int32_t v = lo[k]; v <= hi[k]; ++v) self(self, k + 1, left - v);
            };
            place(place, 0, total);
            const BoundedCount count = CountBoundedVectors(lo, hi, total);
            EXPECT_FALSE(count.Overflowed);
            EXPECT_EQ(count.Count, counted) << lines << " lines, total " << total;
        }
    // Lines of 0..4096 summing to 4096 (no bound can be passed): C(4101, 5)
    // vectors of six lines (inclusion and exclusion at its largest), C(4102,
    // 6) of seven (line by line).
    EXPECT_EQ(CountBoundedVectors(std::vector<std::int32_t>(6, 0), std::vector<std::int32_t>(6, 4096), 4096).Count,
              9642912284908545ULL);
    const BoundedCount seven =
        CountBoundedVectors(std::vector<std::int32_t>(7, 0), std::vector<std::int32_t>(7, 4096), 4096);
    EXPECT_FALSE(seven.Overflowed);
    EXPECT_EQ(seven.Count, 6592537698782475265ULL);
    const std::vector<std::int32_t> zeros20(20, 0), wide20(20, 30000);
    EXPECT_TRUE(CountBoundedVectors(zeros20, wide20, 30000).Overflowed);
}

// The column vectors of a node as the network forms them, against every
// vector counted one by one: with runs of interchangeable lines (equal
// rooms) each vector comes once, non-increasing within its runs, carrying
// its lines' counts in order, and the ways of all of them add up to the
// number of every vector; without runs every vector comes once with one
// way.
TEST(BoundedVectorsTest, EveryBoundedVectorComesOnceForEachExchangeOfItsRuns) {
    std::mt19937 random(8122026);
    for (int round = 0; round < 300; ++round) {
        const std::size_t K = 2 + random() % 5;
        std::vector<std::int32_t> room(K);
        std::vector<std::uint8_t> continues(K, 0);
        const bool runs = round % 3 != 0;
        for (std::size_t k = 0; k < K; ++k) {
            continues[k] = runs && k > 0 && random() % 2 == 0;
            room[k] = continues[k] ? room[k - 1] : static_cast<std::int32_t>(random() % 6);
        }
        std::vector<std::int32_t> cap(K + 1, 0);
        for (std::size_t k = K; k-- > 0;) cap[k] = cap[k + 1] + room[k];
        const auto total = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(cap[0] + 2));
        std::vector<std::int32_t> chosen(K, 0);
        std::vector<std::vector<std::int32_t>> seen;
        std::uint64_t ways = 0;
        ForEachBoundedVector(
            K, total, room.data(), cap.data(), continues.data(), chosen.data(), std::vector<std::int32_t>{},
            [](std::size_t, std::int32_t v, const std::vector<std::int32_t>& carried) {
                std::vector<std::int32_t> more = carried;
                more.push_back(v);
                return more;
            },
            [&](const std::vector<std::int32_t>& x, std::uint64_t w) {
                seen.push_back(x);
                ways += w;
                EXPECT_TRUE(runs || w == 1);
            });
        const std::vector<std::int32_t> none(K, 0);
        const std::uint64_t every = CountBoundedVectors(none, room, total).Count;
        EXPECT_EQ(ways, every) << "round " << round;
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "round " << round;
        for (const auto& x : seen) {
            ASSERT_EQ(x.size(), K);
            std::int32_t sum = 0;
            for (std::size_t k = 0; k < K; ++k) {
                EXPECT_LE(x[k], room[k]);
                EXPECT_GE(x[k], 0);
                if (continues[k]) {
                    EXPECT_LE(x[k], x[k - 1]);
                }
                sum += x[k];
            }
            EXPECT_EQ(sum, total);
        }
    }
}

TEST(BoundedVectorsTest, GroupsOfInterchangeableLinesAreCopiedInDecreasingOrder) {
    // Random totals (with ties) in random groups, against each group sorted
    // apart; the source is left as it was.
    std::mt19937 random(11);
    for (int round = 0; round < 500; ++round) {
        const std::size_t K = 1 + random() % 9;
        std::vector<std::int32_t> totals(K);
        for (std::int32_t& t : totals) t = static_cast<std::int32_t>(random() % 5);
        std::vector<int> groupEnd(K);
        for (std::size_t j = 0; j < K;) {
            const std::size_t end = std::min(K, j + 1 + random() % 4);
            for (std::size_t i = j; i < end; ++i) groupEnd[i] = static_cast<int>(end);
            j = end;
        }
        std::vector<std::int32_t> expected = totals;
        for (std::size_t j = 0; j < K; j = static_cast<std::size_t>(groupEnd[j]))
            std::sort(expected.begin() + static_cast<std::ptrdiff_t>(j), expected.begin() + groupEnd[j],
                      [](std::int32_t a, std::int32_t b) { return a > b; });
        const std::vector<std::int32_t> before = totals;
        std::vector<std::int32_t> sorted(K, -1);
        SortGroupsDecreasing(totals.data(), sorted, groupEnd);
        EXPECT_EQ(sorted, expected) << "round " << round;
        EXPECT_EQ(totals, before) << "round " << round;
    }
}

}  // namespace
}  // namespace kelvorin
