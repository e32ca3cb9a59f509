// Everything the analysis keeps between and during runs: the current table,
// the one-way data, the run flags, the results of the last run and the open
// files. The analysis engine owns one for the whole life of the program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "AnalysisOptions.h"
#include "TextFile.h"
#include "WideCount.h"

namespace kelvorin {

static_assert(std::numeric_limits<long double>::digits == 64,
              "factorials and probabilities need the 80-bit extended format");

// The r x c table with its margins in one (r+1) x (c+1) array of 16-bit
// counts: row 0 holds the column totals, column 0 the row totals, [0][0] N.
struct ContingencyTable {
    int Rows = 0;
    int Cols = 0;
    std::vector<std::int16_t> Cells;
    std::vector<std::int16_t> ObservedCells;  // rows and columns from 1 used
    std::vector<std::int32_t> ColTotals;      // [1..Cols]
    bool TwoWay = false;

    bool Exists() const { return !Cells.empty(); }
    std::int16_t& At(int i, int j) { return Cells[static_cast<std::size_t>(i * (Cols + 1) + j)]; }
    std::int16_t At(int i, int j) const { return Cells[static_cast<std::size_t>(i * (Cols + 1) + j)]; }
    std::int16_t Observed(int i, int j) const {
        return ObservedCells[static_cast<std::size_t>(i * (Cols + 1) + j)];
    }
    int RowTotal(int i) const { return At(i, 0); }
    int ColTotal(int j) const { return At(0, j); }
    int GrandTotal() const { return At(0, 0); }
};

// Counts and probability masses of the sample points below, equal to and
// above the observed table in one ordering.
struct ExactTally {
    WideCount LessCount = 0;
    WideCount EqualCount = 0;
    WideCount GreaterCount = 0;
    double LessMass = 0.0;
    double EqualMass = 0.0;
    double GreaterMass = 0.0;
};

// The mass of every class of a tally: the sum of the probabilities tallied.
inline double TotalMass(const ExactTally& t) {
    return t.LessMass + t.EqualMass + t.GreaterMass;
}

inline constexpr int kFactorialLimit = 1000;
inline constexpr std::uint64_t kDefaultNetworkFrom = 1000000;
// The bytes the network algorithm may hold in partial tables unless the
// program sets another budget (from the machine's memory).
inline constexpr std::size_t kDefaultNetworkMemory = std::size_t{3} << 30;
// The processor cores of the machine, at least 1.
inline unsigned MachineCores() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}
using FactorialTable = std::array<long double, kFactorialLimit + 1>;

struct AnalysisState {
    ContingencyTable Table;

    // One-way data (a single row or column).
    int Categories = 0;
    std::vector<std::int32_t> CategoryCounts;
    std::vector<double> Proportions;
    std::int32_t CategoryTotal = 0;
    // Set by a command that read a proportions block for the current table
    // from a data file; the run then uses those weights instead of emptying
    // the proportions grid. Cleared by DiscardTable.
    bool ProportionsFromFile = false;

    // Run flags.
    bool Running = false;
    bool Abandoned = false;
    bool TooManyObservations = false;
    bool ComputeLR = false;
    bool ComputeChi = false;

    // The options of the current run, read at its start.
    AnalysisOptions Options;

    // Results of the last run.
    double StartTime = 0.0;
    double MinExpected = 0.0;
    double G2 = 0.0;
    double X2 = 0.0;
    double G2Yates = -1.0;
    double X2Yates = -1.0;
    double ObservedProbability = 0.0;
    long double RowMultinomial = 0.0L;
    ExactTally ProbabilityTally;
    ExactTally G2Tally;
    ExactTally X2Tally;
    WideCount SamplePointCount = 0;
    // The probability mass of the sample points a broken-off run of the
    // network or a meeting accounted for (the mean over the orderings'
    // passes, as SamplePointCount is there): the sum its interruption
    // reports.
    double SettledMass = 0.0;
    std::int64_t ProgressCounter = 0;
    std::int64_t ProgressInterval = 10000;
    std::int64_t TracedCount = 0;
    double FisherLess = 0.0;
    double FisherEqual = 0.0;
    double FisherGreater = 0.0;
    double FisherOneTail = 0.0;
    std::int32_t ObservedX11 = 0;

    // The number of sample points of the current table, counted before the
    // enumeration: exact when ExpectedPointsExact, otherwise an estimate
    // (0 when unknown).
    double ExpectedSamplePoints = 0.0;
    bool ExpectedPointsExact = false;

    FactorialTable Factorials{};

    // Evaluate every sample point directly from the formulas, never by the
    // incremental update of the innermost loop; for verification and
    // benchmarks (the results are the same).
    bool DirectEvaluation = false;

    // Two-way tables with at least this many sample points are settled by
    // the network algorithm instead of the enumeration when no trace is
    // written (the results are the same); 0 uses it whenever it applies.
    std::uint64_t NetworkFrom = kDefaultNetworkFrom;
    // The bytes the network may hold in the partial tables of two stages
    // and the column choices between them, and the one-way and two-line
    // meetings in their lists; past them the enumeration takes the table.
    std::size_t NetworkMemory = kDefaultNetworkMemory;
    // The processor cores the analysis may use: with more than one the
    // network's passes, and the two-line meeting's totals, run on two
    // threads (the results are the same). By
    // default the machine's; the program's start-up sets those its
    // processor affinity leaves it, where a second thread would only take
    // turns with the first.
    unsigned Cores = MachineCores();
    // The last run's exact tests were settled by the network algorithm.
    bool NetworkUsed = false;

    // Files.
    TextFile DetailsFile;
    std::string DetailsFileName;
    TextFile DataFile;
    std::string DataFileName;
    std::string SaveFileName;
};

// Whether this run writes the sample-point trace: the Details option is on
// and the details file is open (its dialog may have been cancelled, or the
// file not opened).
inline bool TraceWritten(const AnalysisState& state) {
    return state.Options.Details && state.DetailsFile.IsOpen();
}

}  // namespace kelvorin
