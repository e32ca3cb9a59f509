// The number of integer vectors x with lo_k <= x_k <= hi_k and sum x_k =
// total: a convolution of the ranges, taken line by line through running
// sums (ways[t], the vectors of the lines so far with sum t, from the
// running sums of the ways before). The counts are kept modulo 2^64, and
// whether any running sum passed 2^64 is told: only differences of the
// running sums enter the count, so it is exact whenever it is itself below
// 2^64, but a caller that cannot bound it can tell.
#pragma once

#include <algorithm>
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

// Calls close(carried, ways) for every vector x of K >= 2 lines with x_k at
// most room[k] and sum total, where a line with continues[k] set takes a
// count no greater than the line before it (a run of interchangeable lines:
// one vector then stands for every exchange of counts within each run, ways
// of them). cap[k] is the sum of room[k..K) (cap[K] = 0); chosen has K
// places for the counts. Depth first over the lines but the last, with what
// is left of the total; carried starts as start and goes on through
// line(k, x_k, carried) for each line in order; the last line takes the
// rest, so the loop of the line before it closes each vector.
template <typename Carried, typename Line, typename Close>
void ForEachBoundedVector(std::size_t K, std::int32_t total, const std::int32_t* room, const std::int32_t* cap,
                          const std::uint8_t* continues, std::int32_t* chosen, const Carried& start, Line&& line,
                          Close&& close) {
    auto place = [&](auto& self, std::size_t k, std::int32_t left, const Carried& carried,
                     RunArrangements arrangements) -> void {
        std::int32_t low = std::max<std::int32_t>(0, left - cap[k + 1]);
        std::int32_t high = std::min(room[k], left);
        if (continues[k]) high = std::min(high, chosen[k - 1]);
        if (k + 2 < K) {
            for (std::int32_t v = low; v <= high; ++v) {
                chosen[k] = v;
                self(self, k + 1, left - v, line(k, v, carried),
                     arrangements.Next(continues[k] != 0, continues[k] && v == chosen[k - 1]));
            }
            return;
        }
        // The last line's count, left - v, may not exceed v where it
        // continues this line's run.
        const std::size_t j = k + 1;
        if (continues[j]) low = std::max(low, (left + 1) / 2);
        for (std::int32_t v = low; v <= high; ++v) {
            const std::int32_t u = left - v;
            const RunArrangements both = arrangements.Next(continues[k] != 0, continues[k] && v == chosen[k - 1])
                                             .Next(continues[j] != 0, continues[j] && u == v);
            close(line(j, u, line(k, v, carried)), both.Ways);
        }
    };
    place(place, 0, total, start, RunArrangements{});
}

// Remaining totals packed into one word, bits to a line, the first line in
// the highest field (the caller sees that every total fits and that the
// lines' fields fit in 64 bits); and unpacked, lines of them.
inline std::uint64_t PackTotals(const std::vector<std::int32_t>& totals, int bits) {
    std::uint64_t key = 0;
    for (const std::int32_t t : totals) key = (key << bits) | static_cast<std::uint64_t>(t);
    return key;
}
inline void UnpackTotals(std::uint64_t key, int bits, std::size_t lines, std::vector<std::int32_t>& totals) {
    totals.resize(lines);
    const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    for (std::size_t k = lines; k-- > 0; key >>= bits) totals[k] = static_cast<std::int32_t>(key & mask);
}

// Writes the totals to sorted (as many places) with each group of
// interchangeable lines in decreasing order: the group starting at line j
// ends before groupEnd[j]. By insertion as they are copied, as the groups
// are short and this runs for every column vector formed (a separate copy
// of a few totals costs a call of the C library's block copy).
inline void SortGroupsDecreasing(const std::int32_t* totals, std::vector<std::int32_t>& sorted,
                                 const std::vector<int>& groupEnd) {
    const std::size_t K = sorted.size();
    std::int32_t* const t = sorted.data();
    for (std::size_t j = 0; j < K;) {
        const auto end = static_cast<std::size_t>(groupEnd[j]);
        t[j] = totals[j];
        for (std::size_t i = j + 1; i < end; ++i) {
            const std::int32_t v = totals[i];
            std::size_t at = i;
            for (; at > j && t[at - 1] < v; --at) t[at] = t[at - 1];
            t[at] = v;
        }
        j = end;
    }
}

}  // namespace kelvorin
