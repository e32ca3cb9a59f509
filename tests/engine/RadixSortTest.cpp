// The radix sorts against a comparison sort: keyed places with keys
// spanning all 64 bits, a few bits, one value, short and long lists, and
// doubles of both signs by their order keys; words carrying their places
// in their low bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "ExactEnumeration.h"
#include "RadixSort.h"

namespace kelvorin {
namespace {

std::vector<KeyedPlace> Sorted(std::vector<KeyedPlace> items) {
    std::stable_sort(items.begin(), items.end(), [](const KeyedPlace& a, const KeyedPlace& b) { return a.Key < b.Key; });
    return items;
}

void ExpectSortedStably(std::vector<KeyedPlace> items) {
    const std::vector<KeyedPlace> expected = Sorted(items);
    // Working space left longer by an earlier, longer list.
    std::vector<KeyedPlace> scratch(items.size() + 1000, KeyedPlace{0, 0});
    SortByKey(items, scratch);
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(items[i].Key, expected[i].Key) << i;
        ASSERT_EQ(items[i].Place, expected[i].Place) << i;  // equal keys keep their order
    }
}

TEST(RadixSortTest, ItSortsKeysOfEverySpanStably) {
    std::mt19937_64 random(7);
    for (const std::size_t n : {std::size_t{0}, std::size_t{5}, std::size_t{511}, std::size_t{512}, std::size_t{40000}, std::size_t{150000}}) {
        for (const int bits : {0, 3, 11, 12, 33, 64}) {
            SCOPED_TRACE(testing::Message() << n << " keys of " << bits << " bits");
            const std::uint64_t base = random();
            std::vector<KeyedPlace> items(n);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint64_t spread = bits == 0 ? 0 : bits == 64 ? random() : random() >> (64 - bits);
                items[i] = KeyedPlace{bits == 64 ? spread : base / 2 + spread, static_cast<std::uint32_t>(i)};
            }
            ExpectSortedStably(items);
        }
    }
}

TEST(RadixSortTest, DoublesSortByTheirOrderKeys) {
    std::mt19937_64 random(11);
    std::normal_distribution<double> normal(0.0, 40.0);
    std::vector<double> values(20000);
    for (double& v : values) v = normal(random);
    values[3] = 0.0;
    values[4] = -0.0;
    values[5] = 1e-310;
    std::vector<KeyedPlace> items(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        items[i] = KeyedPlace{TallyBand::OrderKey(values[i]), static_cast<std::uint32_t>(i)};
    std::vector<KeyedPlace> scratch;
    SortByKey(items, scratch);
    for (std::size_t i = 1; i < items.size(); ++i) ASSERT_LE(values[items[i - 1].Place], values[items[i].Place]) << i;
}

// Words of a high part (equal ones many times over, or spanning up to all
// the bits above the places) and their place below: sorted as words.
TEST(RadixSortTest, PlacedWordsSortAsWords) {
    std::mt19937_64 random(13);
    std::vector<std::uint64_t> scratch;
    std::vector<std::size_t> starts;
    for (const std::size_t n : {std::size_t{2}, std::size_t{32}, std::size_t{33}, std::size_t{300}, std::size_t{5000}}) {
        const int placeBits = static_cast<int>(std::bit_width(n - 1));
        for (const int bits : {0, 1, 5, 9, 17, 30, 64 - placeBits}) {
            SCOPED_TRACE(testing::Message() << n << " words, high parts of " << bits << " bits");
            const std::uint64_t base = bits == 64 - placeBits ? 0 : random() >> (placeBits + bits + 1);
            std::vector<std::uint64_t> words(n);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint64_t high = bits == 0 ? base : base + (random() >> (64 - bits));
                words[i] = high << placeBits | i;
            }
            std::vector<std::uint64_t> expected = words;
            std::sort(expected.begin(), expected.end());
            SortPlacedWords(words, placeBits, scratch, starts);
            ASSERT_EQ(words, expected);
        }
    }
}

}  // namespace
}  // namespace kelvorin
