#include "RadixSort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

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
    items.resize(n);  // (the working space may have been longer)
}

int RadixDigitBits(int width, std::size_t n, int fewest, int most) {
    int bits = most;
    std::size_t cost = std::numeric_limits<std::size_t>::max();
    for (int b = fewest; b <= most; ++b) {
        const auto passes = static_cast<std::size_t>((width + b - 1) / b);
        const std::size_t c = passes * ((std::size_t{1} << b) + 2 * n);
        if (c < cost) {
            cost = c;
            bits = b;
        }
    }
    return bits;
}

void SortPlacedWords(std::vector<std::uint64_t>& words, int placeBits, std::vector<std::uint64_t>& scratch,
                     std::vector<std::size_t>& starts) {
    const std::size_t n = words.size();
    if (n <= 32) {
        for (std::size_t i = 1; i < n; ++i) {
            const std::uint64_t w = words[i];
            std::size_t j = i;
            for (; j > 0 && words[j - 1] > w; --j) words[j] = words[j - 1];
            words[j] = w;
        }
        return;
    }
    std::uint64_t least = words[0] >> placeBits, most = least;
    for (const std::uint64_t w : words) {
        least = std::min(least, w >> placeBits);
        most = std::max(most, w >> placeBits);
    }
    const int width = static_cast<int>(std::bit_width(most - least));
    if (width == 0) return;
    const int bits = RadixDigitBits(width, n, 4, 8);
    const std::size_t buckets = std::size_t{1} << bits;
    const int passes = (width + bits - 1) / bits;
    auto digit = [&](std::uint64_t w, int pass) {
        return static_cast<std::size_t>((((w >> placeBits) - least) >> (pass * bits)) & (buckets - 1));
    };
    starts.assign(static_cast<std::size_t>(passes) * buckets, 0);
    for (const std::uint64_t w : words)
        for (int pass = 0; pass < passes; ++pass) ++starts[static_cast<std::size_t>(pass) * buckets + digit(w, pass)];
    scratch.resize(n);
    std::uint64_t* from = words.data();
    std::uint64_t* to = scratch.data();
    for (int pass = 0; pass < passes; ++pass) {
        std::size_t* const start = starts.data() + static_cast<std::size_t>(pass) * buckets;
        for (std::size_t b = 0, sum = 0; b < buckets; ++b) {
            const std::size_t here = start[b];
            start[b] = sum;
            sum += here;
        }
        for (std::size_t k = 0; k < n; ++k) to[start[digit(from[k], pass)]++] = from[k];
        std::swap(from, to);
    }
    if (from != words.data()) words.swap(scratch);
}

}  // namespace kelvorin
