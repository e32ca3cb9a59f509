#include "Galloping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

// Both searches find the end of the prefix std::partition_point finds, on
// sorted lists with repeated values of every length up to a few dozen
// (every halving path) and a long one, for bounds below, among and above
// the values; Boundary from every kind of hint (none, below, at, above the
// answer, past the end), as the searches of the innermost loops use it.
TEST(GallopingTest, SearchesFindTheEndOfThePrefix) {
    std::mt19937_64 random(9122026);
    for (std::size_t size : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 64, 1000}) {
        std::vector<std::int64_t> values(size);
        for (std::int64_t& v : values) v = static_cast<std::int64_t>(random() % (size + 3)) - 2;
        std::sort(values.begin(), values.end());
        for (std::int64_t bound = -4; bound <= static_cast<std::int64_t>(size) + 3; ++bound) {
            const auto below = [bound](std::int64_t v) { return v < bound; };
            const auto expected = static_cast<std::size_t>(
                std::partition_point(values.begin(), values.end(), below) - values.begin());
            const auto found =
                static_cast<std::size_t>(PartitionPoint(values.begin(), values.end(), below) - values.begin());
            EXPECT_EQ(found, expected) << "size " << size << ", bound " << bound;
            for (std::size_t hint : {kNoHint, std::size_t{0}, expected / 2, expected, expected + 1, size, size + 5}) {
                std::size_t moved = hint;
                const std::size_t at = Boundary(size, [&](std::size_t i) { return below(values[i]); }, moved);
                EXPECT_EQ(at, expected) << "size " << size << ", bound " << bound << ", hint " << hint;
                EXPECT_EQ(moved, expected);
            }
        }
    }
}

}  // namespace
}  // namespace kelvorin
