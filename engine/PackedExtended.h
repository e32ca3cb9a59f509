// An 80-bit extended value kept in its ten bytes.
//
// A long double takes sixteen bytes in memory (its alignment pads the ten
// that hold it). Lists of millions of partial tables, each with three such
// values, spend a third of their memory on that padding; stored packed, an
// entry of a 128-bit count and three values takes 48 bytes instead of 64,
// and a merging table's keyed entry 56 instead of 80. The value is loaded and stored with the x87 instructions
// themselves, which take any address, so it is bit for bit the same value:
// packing changes no result.
#pragma once

#include <limits>

namespace kelvorin {

static_assert(std::numeric_limits<long double>::digits == 64, "the packed form is the x87 extended format");

class PackedExtended {
public:
    PackedExtended() = default;
    explicit PackedExtended(long double value) { Set(value); }
    [[gnu::always_inline]] long double Get() const {
        long double value;
        asm("fldt %1" : "=t"(value) : "m"(bytes_));
        return value;
    }
    [[gnu::always_inline]] void Set(long double value) { asm("fstpt %0" : "=m"(bytes_) : "t"(value) : "st"); }

private:
    unsigned char bytes_[10];
};

static_assert(sizeof(PackedExtended) == 10 && alignof(PackedExtended) == 1);

}  // namespace kelvorin
