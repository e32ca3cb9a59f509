// Numbers of tables. A table of many columns and a moderate total has more
// sample points than 64 bits hold (2 x 40 with N = 200: about 1.1e28), and
// the exact tests count every class of them exactly, so the counts of the
// report are kept in 128 bits.
#pragma once

#include <string>

namespace kelvorin {

__extension__ typedef unsigned __int128 WideCount;

// The count in decimal, without sign or separators.
std::string CountText(WideCount count);

// C(n, k) (0 outside 0 <= k <= n), or LIMIT where it is LIMIT or more.
WideCount WideBinomial(int n, int k, WideCount limit);

}  // namespace kelvorin
