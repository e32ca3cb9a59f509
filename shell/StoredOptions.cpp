#include "StoredOptions.h"

#include <algorithm>

namespace kelvorin {

AnalysisOptions ReadStoredOptions(const SettingsStore& settings) {
    AnalysisOptions options;
    for (int index = 0; index < 12; ++index)
        BooleanOption(options, index) =
            settings.ReadBool("Option", kBooleanOptionNames[index], BooleanOption(options, index));
    options.Track = std::clamp(settings.ReadInteger("Option", "Track", options.Track), 0, 4);
    options.InputData = std::clamp(settings.ReadInteger("Option", "InputData", options.InputData), -1, 1);
    return options;
}

void WriteStoredOptions(SettingsStore& settings, const AnalysisOptions& options) {
    for (int index = 0; index < 12; ++index)
        settings.WriteBool("Option", kBooleanOptionNames[index], BooleanOption(options, index));
    settings.WriteInteger("Option", "Track", options.Track);
    settings.WriteInteger("Option", "InputData", options.InputData);
}

}  // namespace kelvorin
