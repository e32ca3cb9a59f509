#include "Format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kelvorin {

std::string Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string result;
    if (needed < 0) {
        va_end(copy);
        return result;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        result.assign(small, static_cast<std::size_t>(needed));
    } else {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        result.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(copy);
    return result;
}

}  // namespace kelvorin
