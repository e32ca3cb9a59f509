// The settings store over QSettings (organisation "Morvo", application
// "Zelkat", the user's native store), and a store in memory for tests.
#pragma once

#include <QSettings>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "SettingsStore.h"

namespace kelvorin {

// A section is a group of the settings, a value a key in it. Text is read
// back, and so are stored bytes that are UTF-8 text without NUL characters;
// any other stored value (a list, other binary data, a size) reads as not
// stored, so the caller's default applies.
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();
    // Written values reach the disk at the latest here.
    ~QtSettingsStore() override;

    std::optional<std::string> ReadText(const std::string& section, const std::string& name) const override;
    void WriteText(const std::string& section, const std::string& name, const std::string& value) override;

    // Writes what is pending to the settings file now: false when it
    // cannot be written (its folder cannot be made, a file stands in the
    // way, the disk is full, ...).
    bool Flush() override;
    // The settings file.
    std::string Where() const override;

private:
    // QSettings keeps the first error it met for good: Flush hands the
    // values over to a new one to try again.
    std::unique_ptr<QSettings> settings_;
};

// Sections of named text values in memory. A value can also be marked as
// stored with a type other than text: it then reads as not stored, as in
// QtSettingsStore.
class MemorySettingsStore : public SettingsStore {
public:
    struct Write {
        std::string Section;
        std::string Name;
        std::string Value;
        bool operator==(const Write&) const = default;
    };

    std::optional<std::string> ReadText(const std::string& section, const std::string& name) const override;
    void WriteText(const std::string& section, const std::string& name, const std::string& value) override;

    // Stores a value that is not text under SECTION and NAME.
    void SetNonText(const std::string& section, const std::string& name);
    // Whether anything (text or not) is stored under SECTION and NAME.
    bool Contains(const std::string& section, const std::string& name) const;
    // Every WriteText, in order.
    const std::vector<Write>& Writes() const { return writes_; }
    // Flush then fails as a store that cannot be written does.
    void SetUnwritable(bool unwritable) { unwritable_ = unwritable; }
    bool Flush() override { return !unwritable_; }
    void Clear();

private:
    using Key = std::pair<std::string, std::string>;
    std::map<Key, std::string> texts_;
    std::set<Key> nonTexts_;
    std::vector<Write> writes_;
    bool unwritable_ = false;
};

}  // namespace kelvorin
