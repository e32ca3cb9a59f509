// The per-user store of the program's settings: sections of named text
// values. Integers are kept as decimal text, booleans as "1" and "0". A
// missing section or value, a text that is not a decimal integer, or a value
// that is not text at all reads as the caller's default.
#pragma once

#include <optional>
#include <string>

namespace kelvorin {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or nothing when the value is missing or not text.
    virtual std::optional<std::string> ReadText(const std::string& section, const std::string& name) const = 0;
    virtual void WriteText(const std::string& section, const std::string& name, const std::string& value) = 0;
    // Writes what was written so far to the store itself now: false when the
    // store cannot be written (Where names it then). A store that writes at
    // once has nothing to do.
    virtual bool Flush() { return true; }
    virtual std::string Where() const { return "the settings"; }

    int ReadInteger(const std::string& section, const std::string& name, int fallback) const;
    bool ReadBool(const std::string& section, const std::string& name, bool fallback) const;
    void WriteInteger(const std::string& section, const std::string& name, int value);
    void WriteBool(const std::string& section, const std::string& name, bool value);
};

}  // namespace kelvorin
