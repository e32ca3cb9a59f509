// The one per-sample-point step shared by the r x c and the one-way
// enumerators: count the sample point, show progress (and let the user break
// off), accumulate the 2 x 2 sums, sort the point into the three tallies and
// trace it to the details file.
#pragma once

#include "AnalysisEngine.h"
#include "AnalysisState.h"

namespace kelvorin {

class SamplePointStep {
public:
    SamplePointStep(AnalysisState& state, const EnginePorts& ports);

    // The sample point now in Cells (or in CategoryCounts for a one-way run)
    // with probability p and, where computed, statistics g and x.
    void Visit(double p, double g, double x);

    // The probability of the current sample point overflowed the extended
    // range: "To many observations" (caption "ERROR"), the run is abandoned.
    void Overflow();

private:
    void ShowProgress();

    AnalysisState& state_;
    const EnginePorts& ports_;
    bool oneWay_;
    bool twoByTwo_;
    bool tallyLR_;
    bool tallyChi_;
    bool trace_;
};

}  // namespace kelvorin
