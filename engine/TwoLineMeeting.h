// The exact tests of a table of two rows (or two columns) by meeting the
// halves of its columns, total by total.
//
// Such a table is fixed by its first row's counts x_j (0 <= x_j <= C_j,
// summing to R_1), and every ordering's value is a sum of one term per
// column of x_j alone: the probability times N!/(R_1! R_2!) is the product
// of the binomial coefficients C(C_j, x_j), each statistic the sum of the
// column's two cell terms. The columns are split into two halves of about
// equal boxes (the products of C_j + 1). For each total s the first half
// may take, its partial tables of total s and the other half's of total
// R_1 - s are formed, and for each ordering both lists are sorted by their
// part of the value; the pairs below, between and above the edges of the
// tally rule are then counted by cursors that move one way through the
// other list, and their mass taken from running sums of its weights. A
// pair whose value lies within rounding of an edge, where the sum formed
// here could fall on the other side than the enumeration's value, is
// evaluated directly as the enumeration evaluates it (EvaluateTable). The
// counts are the enumeration's; the masses the same sums in another order.
//
// The work is that of forming and sorting the halves' partial tables, about
// the square root of the sample points times the columns, where the network
// of such a table (its nodes the first row's remaining total, each reached
// by many partial tables of distinct values) holds about as many partial
// tables as the points' square root at every stage and may outgrow its
// memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AnalysisEngine.h"
#include "AnalysisState.h"
#include "NetworkAlgorithm.h"
#include "WideCount.h"

namespace kelvorin {

struct TwoLineMeetingLimits {
    // Tried for tables of at least this many sample points (the count
    // beforehand, or its bound), below which the network is quick.
    double MinSamplePoints = 1e9;
    // The partial tables formed, over all totals, at most (each takes about
    // 25 ns a tallied ordering), and the bytes of a thread's longest lists
    // (about 40 bytes a partial table, and 8 more an ordering).
    double MaxFormed = 4e9;
    std::size_t MaxBytes = kDefaultNetworkMemory;
    // The pairs within rounding of an edge that may be evaluated one by
    // one; past them the table is left to the network.
    std::uint64_t MostDirectEvaluations = std::uint64_t{1} << 22;
    // The margins around the rule's edges, within which pairs are
    // evaluated directly, multiplied by this. (Any value of 1 or more gives
    // the same result; larger ones evaluate more pairs directly.)
    long double MarginScale = 1.0L;
    // The threads that settle totals: more than 1 gives two (the analysis's
    // own and one other, never more), one where the memory holds only one
    // thread's lists. (Either gives the same result.)
    unsigned Threads = 1;
};

// Whether the meeting may take the table in the state (the caller has
// checked NetworkApplies): two rows or two columns and more than two of the
// other, and all the limits but the direct evaluations met.
bool TwoLineMeetingApplies(const AnalysisState& state, const TwoLineMeetingLimits& limits = TwoLineMeetingLimits{});

// The seconds the meeting of the table in the state is estimated to take
// (about 25 ns a partial table formed and ordering tallied, shared by the
// threads), at least 0.25; 0 where it does not apply.
double TwoLineMeetingSeconds(const AnalysisState& state, const TwoLineMeetingLimits& limits = TwoLineMeetingLimits{});

// Fills ProbabilityTally, G2Tally (when ExaLRtest), X2Tally (when ExaCStest)
// and SamplePointCount as the enumeration would; ObservedProbability,
// RowMultinomial, G2 and X2 must be set. Shows progress as the sample points
// settled and lets the user break off (BrokenOff, the totals settled so
// far). Returns NeedsEnumeration with the state's tallies untouched (the
// progress may have shown a count) when it does not apply, or when too many
// pairs lie within rounding of an edge.
NetworkOutcome RunTwoLineMeeting(AnalysisState& state, const EnginePorts& ports,
                                 const TwoLineMeetingLimits& limits = TwoLineMeetingLimits{});

}  // namespace kelvorin
