#include "TOptions.h"

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

TOptions::TOptions(SettingsStore& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    setObjectName("Options");
    setWindowTitle("Options");
    FormCreate();
}

void TOptions::FormCreate() { options_ = ReadStoredOptions(settings_); }

}  // namespace kelvorin
