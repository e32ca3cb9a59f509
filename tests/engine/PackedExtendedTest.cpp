#include "PackedExtended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace kelvorin {
namespace {

// The ten bytes that hold an extended value (the rest of a long double's
// sixteen are padding).
std::vector<unsigned char> Bits(long double v) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &v, sizeof v);
    return {bytes, bytes + 10};
}

// Values packed side by side come back bit for bit, every one of them:
// products of column factors over the whole exponent range, sums of terms
// of either sign, the extremes; and storing one leaves its neighbours'
// bytes as they were.
TEST(PackedExtendedTest, ValuesSideBySideComeBackBitForBit) {
    std::mt19937_64 random(9122026);
    std::vector<long double> values = {0.0L,
                                       -0.0L,
                                       1.0L,
                                       -1.5L,
                                       std::numeric_limits<long double>::max(),
                                       std::numeric_limits<long double>::min(),
                                       std::numeric_limits<long double>::denorm_min(),
                                       std::numeric_limits<long double>::infinity()};
    for (int i = 0; i < 2000; ++i) {
        const long double mantissa = static_cast<long double>(random()) / 0x1p64L + 0.5L;
        const int exponent = static_cast<int>(random() % 32000) - 16000;
        values.push_back((i % 2 ? -1.0L : 1.0L) * std::ldexp(mantissa, exponent));
    }
    // Three in a row with a guard byte either side, as in an entry.
    struct Row {
        unsigned char Before;
        PackedExtended Values[3];
        unsigned char After;
    };
    static_assert(sizeof(Row) == 32);
    for (std::size_t i = 0; i + 2 < values.size(); ++i) {
        Row row;
        std::memset(&row, 0xA5, sizeof row);
        row.Values[1].Set(values[i + 1]);
        EXPECT_EQ(row.Before, 0xA5);
        EXPECT_EQ(row.After, 0xA5);
        unsigned char untouched[10];
        std::memset(untouched, 0xA5, sizeof untouched);
        EXPECT_EQ(std::memcmp(&row.Values[0], untouched, 10), 0);
        EXPECT_EQ(std::memcmp(&row.Values[2], untouched, 10), 0);
        row.Values[0].Set(values[i]);
        row.Values[2] = PackedExtended(values[i + 2]);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(Bits(row.Values[k].Get()), Bits(values[i + k])) << i + k;
    }
}

}  // namespace
}  // namespace kelvorin
