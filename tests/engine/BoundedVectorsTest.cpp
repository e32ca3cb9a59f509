#include "BoundedVectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

}  // namespace
}  // namespace kelvorin
