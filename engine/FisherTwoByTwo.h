// Fisher's exact test of a 2 x 2 table in its traditional form: the
// probabilities of a smaller, an equal and a larger count in row 1, column 1
// than observed, summed during the exact enumeration, and the one- and
// two-tailed p values built from them.
#pragma once

#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

void WriteFisherTwoTailed(const AnalysisState& state, ReportSink& report);
// Sets FisherOneTail, the smaller of the two tails.
void WriteFisherOneTailed(AnalysisState& state, ReportSink& report);

}  // namespace kelvorin
