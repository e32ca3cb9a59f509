// Conversions between decimal text and numbers, strict in what they accept:
// the whole text must be the number (blanks around it are allowed), and a
// value the target type cannot hold is refused, never wrapped or rounded to
// an infinity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvorin {

// Removes every character of code 32 or below from both ends.
std::string TrimControl(const std::string& text);

// A decimal whole number with an optional sign, fitting 32 bits signed.
std::optional<std::int32_t> ParseInt32(const std::string& text);

// A finite decimal floating-point number ("1", "0.25", "2e-3"); "nan", "inf",
// hexadecimal forms, a comma as decimal separator and values beyond the
// double range are refused.
std::optional<double> ParseFiniteDouble(const std::string& text);

}  // namespace kelvorin
