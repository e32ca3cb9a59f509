// Sorting long lists of 64-bit keys with a 32-bit payload, as the meetings
// of partial tables sort their values: a least-significant-digit radix
// sort, 11 bits a pass, over the keys less the least one (so a list whose
// keys span few bits takes few passes). Stable: equal keys keep their
// order. A double's TallyBand::OrderKey sorts as the doubles do.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvorin {

struct KeyedPlace {
    std::uint64_t Key;
    std::uint32_t Place;
};

// Sorts ITEMS by Key (stably); SCRATCH is working space, resized as needed.
void SortByKey(std::vector<KeyedPlace>& items, std::vector<KeyedPlace>& scratch);

}  // namespace kelvorin
