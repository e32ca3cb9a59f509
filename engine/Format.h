// printf-style formatting into a std::string. The report's layout is defined
// by printf formats, so every report line is built through this.
#pragma once

#include <string>

namespace kelvorin {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kelvorin
