// The exact tests of a single row or column without visiting its sample
// points one by one. A sample point's probability and statistics are
// separable over the categories: the probability is n! times the product of
// p_i^x_i / x_i!, each statistic the sum of its category terms. The
// categories are split into the first h and the rest. The rest's partial
// sample points are listed for every total s, sorted by their part of the
// value; each partial sample point of the first h categories, with total m,
// then meets the list of total n - m: the points of the list on each side of
// the edges of the tally rule (less, equal within the tolerance, greater)
// are found by a search and counted at once, their mass taken from running
// sums. The points within rounding of an edge, where a value formed this
// way could be sorted otherwise than the enumeration's, are evaluated one by
// one exactly as the enumeration evaluates them (OneWayValues). So the
// counts are the enumeration's, and the masses are the same sums in another
// order.
//
// Categories of equal proportions are exchangeable: a sample point and its
// rearrangements within such a group have the same value (up to the rounding
// of the order of the sums). Where the groups are large, the count patterns
// (per group the counts as a non-increasing sequence) are far fewer than the
// points, and they are walked instead: each settles all its arrangements,
// counted by the multinomial coefficients of its counts, at once, and one
// within rounding of an edge has its arrangements evaluated one by one.
// This needs no lists, and settles rows of many categories with equal
// proportions whose points number far more than 64 bits hold. Where a group
// starts, the completions by the groups after it are bounded (the least and
// greatest sum of each ordering's terms, by dynamic programming over the
// places and totals): an ordering whose every completion lies clearly in
// one class settles them all at once, counted as compositions, their mass
// in closed form (the places' proportions summed, to the m, over m!). With
// several groups (or every category its own) this spares most of the walk
// for many rows and little for others, so where the lists fit the walk is
// tried for about half their estimated time before they take the row.
#pragma once

#include <cstddef>

#include "AnalysisEngine.h"
#include "AnalysisState.h"
#include "NetworkAlgorithm.h"
#include "WideCount.h"

namespace kelvorin {

// Whether the meeting may replace the enumeration of the one-way table in
// the state: n at most 1000, no trace written, no direct evaluation asked
// for, and the number of sample points at least NetworkFrom (never when
// NetworkFrom is the largest value).
bool OneWayMeetingApplies(const AnalysisState& state);

// How the meeting settles the sample points: by the cheaper way for the
// table, or by one of them (where it applies).
enum class OneWayWay { Cheaper, Split, Patterns };

struct OneWayMeetingLimits {
    // The bytes the lists may take; past them the enumeration takes the
    // table (unless its count patterns settle it).
    std::size_t MaxBytes = kDefaultNetworkMemory;
    OneWayWay Way = OneWayWay::Cheaper;
    // The sample points of count patterns near an edge of the rule that may
    // be evaluated one by one; past them the split's lists take the table.
    WideCount MostDirectEvaluations = WideCount{1} << 22;
    // Where the cheaper way is chosen and the lists fit, rows of more than
    // one group of equal proportions whose patterns are not clearly fewer
    // try the patterns, settling at most this many patterns and completions
    // (0: about half the lists' estimated time), before the lists take them.
    std::uint64_t MostWalkSettled = 0;
    // The margins around the rule's edges, within which points are
    // evaluated directly, multiplied by this. (Any value of 1 or more gives
    // the same result; larger ones evaluate more points directly.)
    long double MarginScale = 1.0L;
};

// Fills ProbabilityTally, G2Tally (when ExaLRtest), X2Tally (when ExaCStest)
// and SamplePointCount as the enumeration would. ObservedProbability,
// Proportions, G2 and X2 must be set. Shows progress as the number of sample
// points settled and lets the user break off through the pump. Leaves the
// table to the enumeration (NeedsEnumeration, nothing tallied) when its
// lists would take more than the limits' bytes and its count patterns do not
// settle it, or when it has 2^120 sample points or more.
NetworkOutcome RunOneWayMeeting(AnalysisState& state, const EnginePorts& ports,
                                const OneWayMeetingLimits& limits = OneWayMeetingLimits{});

}  // namespace kelvorin
