// Floating-point overflow, division by zero and invalid operations are errors
// of the computation in which they occur, not infinities or not-a-numbers that
// travel on into a report. A guard clears the exception flags when it is
// created; Check() throws when any of the three was raised since.
#pragma once

#include <cfenv>
#include <stdexcept>
#include <string>

namespace kelvorin {

class FloatingPointError : public std::runtime_error {
public:
    explicit FloatingPointError(const std::string& text) : std::runtime_error(text) {}
};

class FloatingPointGuard {
public:
    FloatingPointGuard() { std::feclearexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID); }

    // The message of the first error raised, or nullptr.
    static const char* Raised() {
        if (std::fetestexcept(FE_DIVBYZERO)) return "Floating point division by zero";
        if (std::fetestexcept(FE_INVALID)) return "Invalid floating point operation";
        if (std::fetestexcept(FE_OVERFLOW)) return "Floating point overflow";
        return nullptr;
    }

    void Check() const {
        if (const char* text = Raised()) throw FloatingPointError(text);
    }
};

}  // namespace kelvorin
