// The user's choices of report sections, detail level and entry order.
// Field names follow the stored option names; the two 2 x 2 fields carry a
// prefix because an identifier cannot begin with a digit (stored names stay
// "2x2twotail" and "2x2onetail").
#pragma once

#include <optional>
#include <string>

namespace kelvorin {

struct AnalysisOptions {
    bool Observed = true;
    bool Expected = false;
    bool Column = false;
    bool Row = false;
    bool ExaLRtest = true;
    bool ExaCStest = false;
    bool AppLRtest = false;
    bool AppCStest = false;
    bool CountPos = true;
    bool Details = false;
    bool Opt2x2twotail = false;
    bool Opt2x2onetail = false;
    int Track = 1;      // detail level of the details file, 0..4
    int InputData = 0;  // 0 row by row, any other value column by column

    bool operator==(const AnalysisOptions&) const = default;
};

// Where the run reads the options at its start (the options dialog's
// controls in the desktop program, the command line in batch mode).
class OptionsProvider {
public:
    virtual ~OptionsProvider() = default;
    virtual AnalysisOptions Current() const = 0;
};

// The stored option names in the order they are read and written.
inline constexpr const char* kBooleanOptionNames[12] = {
    "Observed", "Expected", "Column",  "Row",        "ExaLRtest",  "ExaCStest",
    "AppLRtest", "AppCStest", "CountPos", "Details", "2x2twotail", "2x2onetail"};

// Access to a boolean field by its position in kBooleanOptionNames.
bool& BooleanOption(AnalysisOptions& options, int index);
bool BooleanOption(const AnalysisOptions& options, int index);

// Sets the option NAME (a stored option name) from its decimal text VALUE:
// booleans take 0 or 1, Track 0..4, InputData any integer from -1 to 1.
// Returns an error text, or nothing when the option was set.
std::optional<std::string> SetOptionByName(AnalysisOptions& options, const std::string& name,
                                           const std::string& value);

}  // namespace kelvorin
