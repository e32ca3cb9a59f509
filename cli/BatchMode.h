// The batch command line:
//   kelvorin --batch DATAFILE [--output RESULTFILE] [--details DETAILSFILE]
//            [--option NAME=VALUE ...] [--no-settings]
// analyses every table of a data file as Bulk processing does and writes the
// reports one after the other to the result file or to standard output.
// The options are those saved in the section "Option" of the settings
// store (the defaults for what is not stored, or all defaults with
// --no-settings); each --option overrides one of them.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "AnalysisState.h"

namespace kelvorin {

class SettingsStore;

// Exit statuses: 0 every table got a report and no error message was shown;
// 1 any error message (caption "Error" or "ERROR") was shown, even when
// later tables got their reports: a table refused, cut short or unreadable,
// a data file that cannot be read, a result or details file that cannot be
// written; 2 a usage error or a data file that cannot be opened.
inline constexpr int kBatchOk = 0;
inline constexpr int kBatchTableFailed = 1;
inline constexpr int kBatchUsage = 2;

std::string BatchUsage();

// ARGS are the arguments after the program name. Reports go to OUT when no
// result file is named; messages and progress go to ERR. TERMINAL: ERR is a
// terminal, so the progress display is drawn there. SETTINGS holds the
// stored options (only read); nullptr means there are none. NETWORKMEMORY:
// the bytes the exact tests' network may hold; CORES: the processor cores
// the analysis may use.
int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
             const SettingsStore* settings = nullptr, std::size_t networkMemory = kDefaultNetworkMemory,
             unsigned cores = MachineCores());

}  // namespace kelvorin
