// A literal evaluation of the exact tests, as the formulas read: every
// sample point in the enumeration's visiting order, its probability from the
// factorial table (TableNumerator / RowMultinomial), both statistics cell by
// cell with a logarithm per cell, and the tally rule. The benchmarks measure
// the engine against it and check that both give the same tallies.
#pragma once

#include <cstdint>
#include <vector>

#include "AnalysisState.h"

namespace kelvorin::bench {

struct LiteralResult {
    ExactTally Probability;
    ExactTally LikelihoodRatio;
    ExactTally Pearson;
    std::uint64_t SamplePoints = 0;
};

// The r x c table ROWS with all three exact tests.
LiteralResult LiteralTwoWay(const std::vector<std::vector<int>>& rows);

// The one-way table COUNTS against equal proportions, all three exact tests.
LiteralResult LiteralOneWay(const std::vector<int>& counts);

}  // namespace kelvorin::bench
