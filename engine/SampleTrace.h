// The details file: every run with the Details option appends the banner,
// the observed table and one line per sample point (every point, or at level
// 0 only those that carry a mark), optionally followed by per-cell lines of
// the likelihood-ratio contributions ("   lrq ") and Pearson residuals
// ("   chi ").
#pragma once

#include "AnalysisEngine.h"
#include "AnalysisState.h"

namespace kelvorin {

// Asks for the details file name when needed (through SaveDialog1, which
// then does not ask before taking an existing file) and opens it for
// appending; leaves DetailsFile closed when the dialog is cancelled or
// the file cannot be opened. A name chosen once is reused without asking for
// tables from a data file whose name starts the same way.
void OpenDetailsFile(AnalysisState& state, const EnginePorts& ports);

// The banner, the observed table and the column heading.
void WriteDetailsHeader(AnalysisState& state, const std::string& bannerDateTime);

// One sample point (now in Cells or CategoryCounts) with its probability p
// and statistics g and x.
void TraceSamplePoint(AnalysisState& state, double p, double g, double x);

}  // namespace kelvorin
