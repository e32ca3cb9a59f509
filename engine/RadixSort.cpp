#include "RadixSort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

namespace kelvorin {

void SortByKey(std::vector<KeyedPlace>& items, std::vector<KeyedPlace>& scratch) {
    const std::size_t n = items.size();
    if (n < 512) {
        std::stable_sort(items.begin(), items.end(),
                         [](const KeyedPlace& a, const KeyedPlace& b) { return a.Key < b.Key; });
        return;
    }
    constexpr int kBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kBits;
    std::uint64_t least = items[0].Key, most = items[0].Key;
    for (const KeyedPlace& item : items) {
        least = std::min(least, item.Key);
        most = std::max(most, item.Key);
    }
    const int bits = 64 - std::countl_zero(most - least);
    const int passes = (bits + kBits - 1) / kBits;
    if (passes == 0) return;  // all keys equal
    // Every pass's counts in one reading of the keys.
    std::vector<std::array<std::size_t, kBuckets>> counts(static_cast<std::size_t>(passes));
    for (auto& c : counts) c.fill(0);
    for (const KeyedPlace& item : items) {
        const std::uint64_t key = item.Key - least;
        for (int p = 0; p < passes; ++p) ++counts[static_cast<std::size_t>(p)][(key >> (p * kBits)) & (kBuckets - 1)];
    }
    scratch.resize(n);
    for (int p = 0; p < passes; ++p) {
        auto& c = counts[static_cast<std::size_t>(p)];
        std::size_t from = 0;
        for (std::size_t& count : c) {
            const std::size_t here = count;
            count = from;
            from += here;
        }
        const int shift = p * kBits;
        for (const KeyedPlace& item : items) scratch[c[((item.Key - least) >> shift) & (kBuckets - 1)]++] = item;
        items.swap(scratch);
    }
}

}  // namespace kelvorin
