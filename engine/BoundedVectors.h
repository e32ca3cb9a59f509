// The number of integer vectors x with lo_k <= x_k <= hi_k and sum x_k =
// total: a convolution of the ranges, taken line by line through running
// sums (ways[t], the vectors of the lines so far with sum t, from the
// running sums of the ways before). The counts are kept modulo 2^64, and
// whether any running sum passed 2^64 is told: only differences of the
// running sums enter the count, so it is exact whenever it is itself below
// 2^64, but a caller that cannot bound it can tell.
#pragma once

#include <cstddef>
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

// The arrangements of the counts that lines take, where runs of adjacent
// lines are interchangeable and their counts are taken non-increasing (one
// choice standing for every exchange of counts within each run), carried
// line by line: Ways, the number of distinct arrangements of every run so far
// (a product of multinomial coefficients); Run, the current run's length;
// Equal, how many counts at its end equal its last one.
struct RunArrangements {
    std::uint64_t Ways = 1;
    std::uint64_t Run = 1;
    std::uint64_t Equal = 1;
    // After one more line, which starts a run of its own or continues the
    // current one (with a count equal to the last one's or not). Ways *
    // run / equal is an integer. A new count unlike the last leaves it at
    // Ways * run; otherwise it is formed directly while Ways * run fits in
    // 64 bits, else without any intermediate value above it (with g =
    // gcd(Ways, equal), run is a multiple of equal / g). This runs for
    // every line of every column vector formed.
    RunArrangements Next(bool continues, bool equalToLast) const {
        if (!continues) return {Ways, 1, 1};
        const std::uint64_t run = Run + 1;
        if (!equalToLast) return {Ways * run, run, 1};
        const std::uint64_t equal = Equal + 1;
        std::uint64_t product = 0;
        if (!__builtin_mul_overflow(Ways, run, &product)) return {product / equal, run, equal};
        const std::uint64_t g = std::gcd(Ways, equal);
        return {Ways / g * (run / (equal / g)), run, equal};
    }
};

// Sorts each group of interchangeable lines in decreasing order: the group
// starting at line j ends before groupEnd[j]. By insertion, as the groups
// are short and this runs for every column vector formed.
inline void SortGroupsDecreasing(std::vector<std::int32_t>& totals, const std::vector<int>& groupEnd) {
    const std::size_t K = totals.size();
    std::int32_t* const t = totals.data();
    for (std::size_t j = 0; j < K;) {
        const auto end = static_cast<std::size_t>(groupEnd[j]);
        for (std::size_t i = j + 1; i < end; ++i) {
            const std::int32_t v = t[i];
            if (t[i - 1] >= v) continue;
            std::size_t at = i;
            do {
                t[at] = t[at - 1];
                --at;
            } while (at > j && t[at - 1] < v);
            t[at] = v;
        }
        j = end;
    }
}

}  // namespace kelvorin
