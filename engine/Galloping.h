// Searching a sorted range near where the last search ended.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

namespace kelvorin {

constexpr std::size_t kNoHint = std::numeric_limits<std::size_t>::max();

// std::partition_point (the first element of [first, last) for which
// inFront fails, inFront holding for a prefix), bisecting without a branch
// on the outcome: each step keeps the upper half where inFront holds at its
// start, a conditional move, so the searches of the innermost loops do not
// stall on mispredicted branches. (For ranges in the caches: over ranges
// far out of them, the branches' guesses fetch ahead and std::partition_point
// is the faster.)
template <typename It, typename InFront>
It PartitionPoint(It first, It last, InFront&& inFront) {
    auto n = last - first;
    if (n == 0) return first;
    while (n > 1) {
        const auto half = n / 2;
        first = inFront(first[half]) ? first + half : first;
        n -= half;
    }
    return first + (inFront(*first) ? 1 : 0);
}

// The end of the prefix of values for which inFront holds, found by
// galloping from the hint (steps doubling away from it bracket the end) or,
// without one, over the whole range, then by bisection; the hint is moved
// there.
template <typename InFront>
std::size_t Boundary(std::size_t size, InFront&& inFront, std::size_t& hint) {
    std::size_t lo = 0;     // inFront holds below lo
    std::size_t hi = size;  // and fails from hi on
    const std::size_t i = hint;
    if (i < size && inFront(i)) {
        lo = i + 1;
        for (std::size_t step = 1; lo < size; step *= 2) {
            const std::size_t probe = std::min(size, i + step);
            if (probe == size || !inFront(probe)) {
                hi = probe;
                break;
            }
            lo = probe + 1;
        }
    } else if (i <= size) {
        hi = i;
        for (std::size_t step = 1; hi > 0; step *= 2) {
            const std::size_t probe = i >= step ? i - step : 0;
            if (inFront(probe)) {
                lo = probe + 1;
                break;
            }
            hi = probe;
        }
    }
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (inFront(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    hint = lo;
    return lo;
}

}  // namespace kelvorin
