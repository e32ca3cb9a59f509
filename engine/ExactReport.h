// The report of the three exact tests (likelihood ratio, chi-square and the
// probability ordering reported as the Fisher test), and the closing lines of
// every run: the number of sample points with the check that their
// probabilities add up to 1, or where an interrupted run stopped, and the
// used time.
#pragma once

#include "AnalysisEngine.h"
#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

// The exact blocks chosen by the options, right after the enumeration.
void WriteExactBlocks(const AnalysisState& state, ReportSink& report);

// The closing lines. enumerated: the enumeration ran in this run (it did not
// when the table has too many observations).
void WriteClosingLines(AnalysisState& state, const EnginePorts& ports, bool enumerated);

// The sample point being visited: one line of the category counts of a
// one-way table, or one line per row of Cells.
void ShowSamplePoint(const AnalysisState& state, ReportSink& report);

// The used-time text: the elapsed days as a time of day in the long time
// format, then the fraction of the second as ".mmm".
std::string UsedTimeText(double elapsedDays, const Clock& clock);

}  // namespace kelvorin
