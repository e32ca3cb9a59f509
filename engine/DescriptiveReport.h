// The descriptive sections of the report: observed counts, counts expected
// under independence (or under the proportions of a one-way table), column
// and row percentages. All four share one fixed-width layout: six characters
// per value, "  | " before the right margin, a separator and a totals line
// when the table has more than one row.
#pragma once

#include <string>
#include <vector>

#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

// The row lines, separator and totals line of the observed table (no title,
// no closing empty line); the details file's header uses them too.
std::vector<std::string> ObservedTableLines(const ContingencyTable& table);

void WriteObservedNumbers(const AnalysisState& state, ReportSink& report);
void WriteExpectedNumbers(const AnalysisState& state, ReportSink& report);
void WriteColumnPercentages(const AnalysisState& state, ReportSink& report);
void WriteRowPercentages(const AnalysisState& state, ReportSink& report);

}  // namespace kelvorin
