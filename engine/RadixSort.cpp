#include "RadixSort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

namespace kelvorin {

namespace {

constexpr int kBits = 11;
constexpr std::size_t kBuckets = std::size_t{1} << kBits;
// Lists up to this long (about 1 MB) are sorted digit by digit from the
// lowest; longer ones first by their highest digit, each bucket then on its
// own (in the caches).
constexpr std::size_t kInCache = std::size_t{1} << 16;

// Sorts A[0, n) stably by the low BITS bits of Key - LEAST, from the lowest
// digit; TMP is as long. The result is in A.
void SortLowDigits(KeyedPlace* a, KeyedPlace* tmp, std::size_t n, std::uint64_t least, int bits) {
    const int passes = (bits + kBits - 1) / kBits;
    if (passes == 0 || n < 2) return;
    if (n < 64) {
        std::stable_sort(a, a + n, [](const KeyedPlace& x, const KeyedPlace& y) { return x.Key < y.Key; });
        return;
    }
    // Every pass's counts in one reading of the keys.
    std::array<std::array<std::size_t, kBuckets>, (64 + kBits - 1) / kBits> counts;
    for (int p = 0; p < passes; ++p) counts[static_cast<std::size_t>(p)].fill(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = a[i].Key - least;
        for (int p = 0; p < passes; ++p) ++counts[static_cast<std::size_t>(p)][(key >> (p * kBits)) & (kBuckets - 1)];
    }
    KeyedPlace* from = a;
    KeyedPlace* to = tmp;
    for (int p = 0; p < passes; ++p) {
        auto& c = counts[static_cast<std::size_t>(p)];
        std::size_t at = 0;
        for (std::size_t& count : c) {
            const std::size_t here = count;
            count = at;
            at += here;
        }
        const int shift = p * kBits;
        for (std::size_t i = 0; i < n; ++i) to[c[((from[i].Key - least) >> shift) & (kBuckets - 1)]++] = from[i];
        std::swap(from, to);
    }
    if (from != a) std::memcpy(a, from, n * sizeof(KeyedPlace));
}

}  // namespace

void SortByKey(std::vector<KeyedPlace>& items, std::vector<KeyedPlace>& scratch) {
    const std::size_t n = items.size();
    if (n < 2) return;
    std::uint64_t least = items[0].Key, most = items[0].Key;
    for (const KeyedPlace& item : items) {
        least = std::min(least, item.Key);
        most = std::max(most, item.Key);
    }
    const int bits = 64 - std::countl_zero(most - least);
    if (scratch.size() < n) scratch.resize(n);
    if (n <= kInCache || bits <= kBits) {
        SortLowDigits(items.data(), scratch.data(), n, least, bits);
        return;
    }
    // By the highest digit into scratch (stably), then each bucket by the
    // digits below, back into items.
    const int shift = bits - kBits;
    std::array<std::size_t, kBuckets + 1> start{};
    for (const KeyedPlace& item : items) ++start[((item.Key - least) >> shift) + 1];
    for (std::size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
    std::array<std::size_t, kBuckets> next;
    std::copy(start.begin(), start.end() - 1, next.begin());
    for (const KeyedPlace& item : items) scratch[next[(item.Key - least) >> shift]++] = item;
    for (std::size_t b = 0; b < kBuckets; ++b) {
        const std::size_t size = start[b + 1] - start[b];
        SortLowDigits(scratch.data() + start[b], items.data() + start[b], size, least, shift);
    }
    items.swap(scratch);
}

}  // namespace kelvorin
