#include "SettingsStore.h"

#include "TextConversions.h"

namespace kelvorin {

int SettingsStore::ReadInteger(const std::string& section, const std::string& name, int fallback) const {
    const std::optional<std::string> text = ReadText(section, name);
    if (!text) return fallback;
    const std::optional<std::int32_t> value = ParseInt32(*text);
    return value ? *value : fallback;
}

bool SettingsStore::ReadBool(const std::string& section, const std::string& name, bool fallback) const {
    return ReadInteger(section, name, fallback ? 1 : 0) != 0;
}

void SettingsStore::WriteInteger(const std::string& section, const std::string& name, int value) {
    WriteText(section, name, std::to_string(value));
}

void SettingsStore::WriteBool(const std::string& section, const std::string& name, bool value) {
    WriteText(section, name, value ? "1" : "0");
}

}  // namespace kelvorin
