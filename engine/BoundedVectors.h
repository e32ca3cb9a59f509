// The number of integer vectors x with lo_k <= x_k <= hi_k and sum x_k =
// total: a convolution of the ranges, taken line by line through running
// sums (ways[t], the vectors of the lines so far with sum t, from the
// running sums of the ways before). The counts are kept modulo 2^64, and
// whether any running sum passed 2^64 is told: only differences of the
// running sums enter the count, so it is exact whenever it is itself below
// 2^64, but a caller that cannot bound it can tell.
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

namespace kelvorin {

struct BoundedCount {
    std::uint64_t Count = 0;
    bool Overflowed = false;
};

BoundedCount CountBoundedVectors(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                 std::int32_t total);

// The number of distinct orderings of a run of counts (a multinomial
// coefficient), from that of the run without its last count: ways * run /
// equal, run being the run's length and equal how many counts at its end
// equal the last one. The result is an integer; it is formed without any
// intermediate value above it (with g = gcd(ways, equal), run is a
// multiple of equal / g).
inline std::uint64_t RunOrderings(std::uint64_t ways, std::uint64_t run, std::uint64_t equal) {
    const std::uint64_t g = std::gcd(ways, equal);
    return ways / g * (run / (equal / g));
}

}  // namespace kelvorin
