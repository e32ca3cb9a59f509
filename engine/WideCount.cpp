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

}  // namespace kelvorin
