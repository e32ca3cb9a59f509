// printf-style formatting into a std::string. The report's number layout is
// defined by printf formats: lines with formatted numbers are built through
// this (128-bit counts are made text by CountText first).
#pragma once

#include <string>

namespace kelvorin {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kelvorin
