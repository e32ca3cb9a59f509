// The number of integer vectors x with lo_k <= x_k <= hi_k and sum x_k =
// total: a convolution of the ranges, taken line by line through running
// sums (ways[t], the vectors of the lines so far with sum t, from the
// running sums of the ways before). The counts are kept modulo 2^64, and
// whether any running sum passed 2^64 is told: only differences of the
// running sums enter the count, so it is exact whenever it is itself below
// 2^64, but a caller that cannot bound it can tell.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvorin {

struct BoundedCount {
    std::uint64_t Count = 0;
    bool Overflowed = false;
};

BoundedCount CountBoundedVectors(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                 std::int32_t total);

}  // namespace kelvorin
