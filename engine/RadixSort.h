// Sorting long lists of 64-bit keys with a 32-bit payload, as the meetings
// of partial tables sort their values: a radix sort over the keys less the
// least one (so a list whose keys span few bits takes few passes), 11 bits
// a digit. Lists of up to 2^16 keys, or of keys spanning one digit, are
// sorted digit by digit from the lowest; longer ones first by their highest
// digit, then each bucket from the lowest digit (while it is in the
// caches); lists of fewer than 64 by a comparison sort. Stable: equal keys
// keep their order. A double's TallyBand::OrderKey sorts as the doubles do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvorin {

struct KeyedPlace {
    std::uint64_t Key;
    std::uint32_t Place;
};

// Sorts ITEMS by Key (stably); SCRATCH is working space, resized as needed.
void SortByKey(std::vector<KeyedPlace>& items, std::vector<KeyedPlace>& scratch);

// The width of the digits, from FEWEST to MOST bits, for a least
// significant digit first sort of N keys spanning WIDTH bits: a pass costs
// its buckets (cleared and summed) and two touches of each key, so short
// lists take narrower digits.
int RadixDigitBits(int width, std::size_t n, int fewest, int most);

// Sorts short lists of words whose low PLACE_BITS bits are their places,
// rising as the words stand, as the merging of a node's edges sorts them:
// by the bits above, stably, which is their order as words. Least
// significant digit first over the span of the high parts, in digits of 4
// to 8 bits as the number of words makes the buckets worth it; up to 32
// words by insertion. SCRATCH and STARTS are working space.
void SortPlacedWords(std::vector<std::uint64_t>& words, int placeBits, std::vector<std::uint64_t>& scratch,
                     std::vector<std::size_t>& starts);

}  // namespace kelvorin
