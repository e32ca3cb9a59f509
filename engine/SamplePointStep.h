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

    // The same step for values computed by an incremental update, which may
    // differ from the direct evaluation by at most the absolute bounds
    // errorP, errorG and errorX. Where a value lies so close to its
    // tolerance band that the difference could change its place in a tally,
    // direct(kind) gives the directly evaluated value (kind 0 probability,
    // 1 likelihood ratio, 2 Pearson) and that decides, so every tally count
    // is the one the direct evaluation gives. Not for traced runs.
    template <typename Direct>
    void VisitBounded(double p, double g, double x, double errorP, double errorG, double errorX, Direct&& direct) {
        ++state_.SamplePointCount;
        if (++state_.ProgressCounter == state_.ProgressInterval) ShowProgress();
        if (twoByTwo_) AccumulateFisher(p);
        Add(tallies_[0], BoundedClass(TallyKind::Probability, p, state_.ObservedProbability, errorP, direct, 0), p);
        if (tallyLR_) Add(tallies_[1], BoundedClass(TallyKind::Statistic, g, state_.G2, errorG, direct, 1), p);
        if (tallyChi_) Add(tallies_[2], BoundedClass(TallyKind::Statistic, x, state_.X2, errorX, direct, 2), p);
    }

    // The probability of the current sample point overflowed the extended
    // range: "To many observations" (caption "ERROR"), the run is abandoned.
    void Overflow();

    // Writes the tallies accumulated so far into the state's
    // ProbabilityTally, G2Tally and X2Tally.
    void Finish();

private:
    // Counts and masses indexed by TallyClass: 0 less, 1 equal, 2 greater.
    // Masses are summed in the order of visiting, as in the state's tallies.
    struct Accumulator {
        std::int64_t Count[3] = {0, 0, 0};
        double Mass[3] = {0.0, 0.0, 0.0};
    };

    static void Add(Accumulator& tally, int which, double p) {
        ++tally.Count[which];
        tally.Mass[which] += p;
    }

    void ShowProgress();
    void AccumulateFisher(double p);

    // TallyClass for a value known only within +-error: the relative
    // difference |a - b| / (a + b) is compared with the tolerance through
    // |a - b| against tolerance (a + b), widened by the error and a relative
    // allowance for the rounding of the comparison itself; a value inside
    // that margin is classed by its direct evaluation.
    template <typename Direct>
    static int BoundedClass(TallyKind kind, double a, double b, double error, Direct& direct, int which) {
        const double tolerance = kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
        const double difference = std::fabs(a - b);
        const double band = tolerance * std::fabs(a + b);
        const double slack = error * (1.0 + tolerance) + band * 1e-12 + 1e-300;
        const bool equal = difference + slack < band;
        const bool apart = difference - slack > band;
        if (!(equal || apart)) [[unlikely]]
            return TallyClass(kind, direct(which), b);
        // Written without branches: which of less and greater a point falls
        // into is not predictable.
        return static_cast<int>(equal) + 2 * static_cast<int>(apart & (a >= b));
    }

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
