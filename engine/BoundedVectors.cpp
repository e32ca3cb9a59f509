#include "BoundedVectors.h"

#include <algorithm>
#include <cstddef>

namespace kelvorin {

BoundedCount CountBoundedVectors(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                 std::int32_t total) {
    BoundedCount result;
    if (total < 0) return result;
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
