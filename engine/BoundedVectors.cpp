#include "BoundedVectors.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace kelvorin {

BoundedCount CountBoundedVectors(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                 std::int32_t total) {
    BoundedCount result;
    if (total < 0) return result;
    const std::size_t K = lo.size();
    if (K >= 1 && K <= 6 && total <= 4096) {
        // Few lines: with y = x - lo, 0 <= y_k <= u_k = hi_k - lo_k and
        // sum y = R, by inclusion and exclusion over the lines pushed past
        // their bounds: those with y_k > u_k for every k of a set S number
        // C(R - sum_S (u_k + 1) + K - 1, K - 1). (Every term is below 2^54
        // and their sum within 2^60, so nothing overflows.)
        std::int64_t rest = total;
        for (std::size_t k = 0; k < K; ++k) {
            if (hi[k] < lo[k]) return result;
            rest -= lo[k];
        }
        if (rest < 0) return result;
        std::int64_t count = 0;
        for (std::size_t set = 0; set < (std::size_t{1} << K); ++set) {
            std::int64_t n = rest;
            for (std::size_t k = 0; k < K; ++k)
                if (set >> k & 1) n -= hi[k] - lo[k] + 1;
            if (n < 0) continue;
            // C(n + K - 1, K - 1), exact at every step.
            std::uint64_t ways = 1;
            for (std::size_t i = 1; i < K; ++i) ways = ways * static_cast<std::uint64_t>(n + static_cast<std::int64_t>(i)) / i;
            count += std::popcount(set) % 2 == 0 ? static_cast<std::int64_t>(ways) : -static_cast<std::int64_t>(ways);
        }
        result.Count = static_cast<std::uint64_t>(count);
        return result;
    }
    const auto T = static_cast<std::size_t>(total);
    std::vector<std::uint64_t> ways(T + 1, 0), prefix(T + 2, 0);
    ways[0] = 1;
    for (std::size_t k = 0; k < lo.size(); ++k) {
        for (std::size_t t = 0; t <= T; ++t)
            result.Overflowed = __builtin_add_overflow(prefix[t], ways[t], &prefix[t + 1]) || result.Overflowed;
        for (std::size_t t = 0; t <= T; ++t) {
            const auto low = static_cast<std::int64_t>(t) - hi[k];
            const auto high = static_cast<std::int64_t>(t) - lo[k];
            ways[t] = high < 0 ? 0
                               : prefix[static_cast<std::size_t>(high) + 1] -
                                     prefix[static_cast<std::size_t>(std::max<std::int64_t>(low, 0))];
        }
    }
    result.Count = ways[T];
    return result;
}

}  // namespace kelvorin
