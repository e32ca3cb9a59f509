// The exact tests of a table near the mode of its distribution, or far in
// its tail, without forming the network of all its tables.
//
// When the observed table lies near the mode, almost every table is less
// probable than it and has greater statistics: those classes hold nearly all
// sample points, and the other classes of each ordering (the "rare side")
// hold few, close to the mode. When it lies far in the tail (a strong
// association in a large table), almost every table is more probable and
// has smaller statistics, and the rare side is the few tables at least as
// extreme as it. The search lists the rare side only: it
// fills the table column by column (the smaller dimension as the lines) and
// drops a partial table once every completion is certainly in the dominant
// class of every tallied ordering (tested after each line of a column, so
// that a column is not completed in every way when its first counts
// already settle it), by bounds that hold for every completion.
//
// Near the mode, lower bounds of the statistics and an upper one of the
// probability:
//  - Pearson's X2 is at least that of the table with the unfilled columns
//    merged into one: per line, sum over those cells of (n - e)^2 / e is at
//    least (m - E)^2 / E, m and E the sums of the counts and of the expected
//    counts (Cauchy-Schwarz);
//  - G2 likewise, sum n ln(n / e) being at least m ln(m / E) (the log-sum
//    inequality);
//  - the probability is the constant prod R_i! prod C_j! / N! over
//    prod n_ij!, and the least sum of ln n! over the unfilled cells with
//    their margins m_i, C_j (total M) is at least
//      sum_ij min_n [ln n! - n ln(m_i C_j / M)] + sum_i m_i ln m_i + sum_j C_j ln(C_j / M)
//    (weak duality: the multipliers ln m_i and ln(C_j / M) make the second
//    part the same for every completion); the minimum over n is at
//    n = floor(m_i C_j / M).
// Far in the tail, upper bounds of all three sums of cell terms (of
// (n - e)^2 / e, n ln(n / e) and ln n!; each convex in n) over the
// unfilled cells: the lesser of two relaxations, each tabled once by
// dynamic programming over the counts,
//  - line by line: a line's remaining total spread over its open cells as
//    the greatest sum allows, each cell at most its column's total (the
//    other lines ignored);
//  - column by column: each open column's total spread over its lines, each
//    cell at most its line's total.
// The tables reached are evaluated and sorted into the tallies exactly as
// the enumeration does; each ordering's dominant class is the rest: its
// count is the total (counted exactly, CountTwoWayTablesExactly) less the
// others, its mass 1 less theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "AnalysisEngine.h"
#include "AnalysisState.h"
#include "NetworkAlgorithm.h"

namespace kelvorin {

struct NearModeLimits {
    // Tried only for tables of at least this many sample points (below it
    // the network takes a fraction of a second), whose count by dominance
    // sums needs at most MaxBoxPoints points, and whose rare side looks
    // small: its mass is about the large-sample p value's complement q (the
    // larger of X2's and G2's), and every table of the probability's rare
    // side is at least as probable as the observed one, p0; so q / p0 tables
    // is the estimate, at most MaxRareEstimate. (On 15 random tables near
    // independence with 2e9 to 4e13 sample points the search took 2e4 to
    // 6e6 steps where the estimate was at most 3e4; 5e7 and more where it
    // was 1.5e6 and above.)
    // (The count takes 8 bytes a point of the box, within the network's
    // memory budget too: at most 1 GiB, about 2 s on a 5 x 5 table with
    // N = 229.)
    double MinSamplePoints = 1e9;
    double MaxRareEstimate = 1e5;
    std::size_t MaxBoxPoints = std::size_t{1} << 27;
    // Steps of work (a partial table formed or a partial column tested,
    // about 30 ns; a complete table evaluated, 32 steps) before the search
    // gives up, about half a second: the rare side was not small after all.
    std::uint64_t MaxSteps = std::uint64_t{1} << 24;
};

// A bound above the number of tables with the given margins, found at
// once (where the count beforehand stopped short or gave up, it tells the
// tables too small for the search): a table is fixed by every column but
// one (the one with the most choices is left out), and each column is a
// vector of counts with the column's total and no count above its row's;
// the lesser of the bounds with rows and columns exchanged (1e300 when
// larger).
double TablesAtMost(const std::vector<int>& rows, const std::vector<int>& cols);

// A table far in the tail: tried for tables of at least MinSamplePoints
// sample points (by default wherever the network is used) whose
// large-sample p values (of X2 and of G2) are both at most MaxTailP, where
// tabling the bounds takes at most MaxBoundWork steps (about the grand total
// squared) and the count of the total fits its box (see
// CountTwoWayTablesExactly; within the network's memory budget too). The
// rare side's size is not known beforehand: the search gives up past
// StepsPerPoint steps a sample point (the count beforehand, or a bound
// above it), at least LeastSteps and at most MaxSteps (about 2 ms and 0.1 s).
// On tables far in the tail of 1e7 to 1e9 points the network takes 0.05 to
// 0.4 s, the search a few ms.
struct FarTailLimits {
    double MinSamplePoints = 0.0;
    double MaxTailP = 1e-6;
    double MaxBoundWork = 1e8;
    std::size_t MaxBoxPoints = std::size_t{1} << 27;
    double StepsPerPoint = 1.0 / 32;
    std::uint64_t LeastSteps = std::uint64_t{1} << 16;
    std::uint64_t MaxSteps = std::uint64_t{1} << 22;
};

// Fills ProbabilityTally, G2Tally (when ExaLRtest), X2Tally (when ExaCStest)
// and SamplePointCount as the enumeration would, or returns NeedsEnumeration
// with the state untouched when it does not apply or gives up. The caller
// has checked NetworkApplies; ObservedProbability, RowMultinomial, G2 and X2
// must be set. Shows progress as 0 of the total (nothing is settled before
// the end; while the total is counted, 0 of the count beforehand) and lets
// the user break off (BrokenOff, 0 sample points).
NetworkOutcome RunNearModeSearch(AnalysisState& state, const EnginePorts& ports,
                                 const NearModeLimits& limits = NearModeLimits{});

// The same for a table far in the tail. The total is counted after the
// search (it is not needed before); progress shows 0 of the count known
// beforehand.
NetworkOutcome RunFarTailSearch(AnalysisState& state, const EnginePorts& ports,
                                const FarTailLimits& limits = FarTailLimits{});

}  // namespace kelvorin
