// The options as the settings store section "Option" holds them.
#pragma once

#include "AnalysisOptions.h"
#include "SettingsStore.h"

namespace kelvorin {

// The stored options, with the defaults for values that are not stored,
// Track clamped to 0..4 and InputData to -1..1.
AnalysisOptions ReadStoredOptions(const SettingsStore& settings);

// Writes the twelve booleans as "1"/"0", then Track and InputData as decimal
// text, in the order they are read.
void WriteStoredOptions(SettingsStore& settings, const AnalysisOptions& options);

}  // namespace kelvorin
