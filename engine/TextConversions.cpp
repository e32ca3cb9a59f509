#include "TextConversions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kelvorin {

std::string TrimControl(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::optional<std::int32_t> ParseInt32(const std::string& text) {
    const std::string t = TrimControl(text);
    std::size_t pos = 0;
    bool negative = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) negative = t[pos++] == '-';
    if (pos == t.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; pos < t.size(); ++pos) {
        if (!std::isdigit(static_cast<unsigned char>(t[pos]))) return std::nullopt;
        value = value * 10 + (t[pos] - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> ParseFiniteDouble(const std::string& text) {
    const std::string t = TrimControl(text);
    if (t.empty()) return std::nullopt;
    // Only digits, one sign at the start or after the exponent mark, a point
    // and an exponent mark: this keeps out "nan", "inf" and hexadecimal text.
    for (char ch : t) {
        const bool allowed = std::isdigit(static_cast<unsigned char>(ch)) || ch == '.' || ch == '+' ||
                             ch == '-' || ch == 'e' || ch == 'E';
        if (!allowed) return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return std::nullopt;
    if (errno == ERANGE && std::isinf(value)) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace kelvorin
