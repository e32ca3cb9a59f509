#include "WideCount.h"

#include <algorithm>

namespace kelvorin {

std::string CountText(WideCount count) {
    std::string text;
    do {
        text.push_back(static_cast<char>('0' + static_cast<int>(count % 10)));
        count /= 10;
    } while (count != 0);
    std::reverse(text.begin(), text.end());
    return text;
}

WideCount WideBinomial(int n, int k, WideCount limit) {
    if (k < 0 || k > n) return 0;
    k = std::min(k, n - k);
    WideCount r = 1;
    for (int i = 0; i < k; ++i) {
        // r = C(n, i); r (n - i) / (i + 1) = C(n, i + 1) is exact, and
        // C(n, i) rises with i up to n / 2.
        WideCount product = 0;
        if (__builtin_mul_overflow(r, static_cast<WideCount>(n - i), &product)) return limit;
        r = product / static_cast<WideCount>(i + 1);
        if (r >= limit) return limit;
    }
    return r;
}

}  // namespace kelvorin
