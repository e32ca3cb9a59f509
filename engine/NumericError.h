// Failures of the special functions. They cannot be answered by the analysis
// and end the program: the routine throws, and the program's top level shows
// the message (caption "Error", stop icon) and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvorin {

class NumericErrorException : public std::runtime_error {
public:
    explicit NumericErrorException(const std::string& text) : std::runtime_error(text) {}
};

[[noreturn]] inline void NumericError(const std::string& text) { throw NumericErrorException(text); }

}  // namespace kelvorin
