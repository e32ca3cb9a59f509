// The one per-sample-point step shared by the r x c and the one-way
// enumerators: count the sample point, show progress (and let the user break
// off), accumulate the 2 x 2 sums, sort the point into the three tallies and
// trace it to the details file.
#pragma once

#include <cmath>
#include <cstdint>

#include "AnalysisEngine.h"
#include "AnalysisState.h"
#include "ExactEnumeration.h"

namespace kelvorin {

class SamplePointStep {
public:
    SamplePointStep(AnalysisState& state, const EnginePorts& ports);
    // Writes the tallies into the state (Finish).
    ~SamplePointStep();
    SamplePointStep(const SamplePointStep&) = delete;
    SamplePointStep& operator=(const SamplePointStep&) = delete;

    // The sample point now in Cells (or in CategoryCounts for a one-way run)
    // with probability p and, where computed, statistics g and x.
    void Visit(double p, double g, double x);

    // For an enumerator that visits blocks of sample points itself, adding
    // to the tallies (Tally) in visiting order and counting the points in
    // blocks, not for 2 x 2 or traced runs: how many points may be visited
    // before the next progress display is due (at least 1), and the count
    // of n points visited since. When the last of them is due for a
    // display, the table of that point must be in Cells: the display may
    // show it, and the user may break off there (Abandoned then set).
    std::int64_t PointsBeforeProgress() const { return state_.ProgressInterval - state_.ProgressCounter; }
    void CountVisited(std::int64_t n) {
        state_.SamplePointCount += static_cast<std::uint64_t>(n);
        state_.ProgressCounter += n;
        if (state_.ProgressCounter == state_.ProgressInterval) ShowProgress();
    }
    bool TalliesLikelihoodRatio() const { return tallyLR_; }
    bool TalliesPearson() const { return tallyChi_; }

    // The probability of the current sample point overflowed the extended
    // range: "To many observations" (caption "ERROR"), the run is abandoned.
    void Overflow();

    // Writes the tallies accumulated so far into the state's
    // ProbabilityTally, G2Tally and X2Tally.
    void Finish();

    // Counts and masses indexed by TallyClass: 0 less, 1 equal, 2 greater.
    // Masses are summed in the order of visiting, as in the state's tallies.
    struct Accumulator {
        std::int64_t Count[3] = {0, 0, 0};
        double Mass[3] = {0.0, 0.0, 0.0};
    };
    // The accumulators of the probability (0), likelihood-ratio (1) and
    // Pearson (2) tallies, for such an enumerator to add to.
    Accumulator& Tally(int which) { return tallies_[which]; }

private:
    static void Add(Accumulator& tally, int which, double p) {
        ++tally.Count[which];
        tally.Mass[which] += p;
    }

    void ShowProgress();
    void AccumulateFisher(double p);

    AnalysisState& state_;
    const EnginePorts& ports_;
    bool oneWay_;
    bool twoByTwo_;
    bool tallyLR_;
    bool tallyChi_;
    bool trace_;
    bool finished_ = false;
    Accumulator tallies_[3];  // probability, likelihood ratio, Pearson
};

}  // namespace kelvorin
