// The exact tests of an r x c table without visiting its tables one by one:
// a network algorithm in the manner of Mehta and Patel (1983, "A network
// algorithm for performing Fisher's exact test in r x c contingency tables",
// JASA 78, 427-434), extended to the likelihood-ratio and Pearson orderings.
//
// The tables with the observed margins are built column by column (the
// "stages"; the smaller dimension is taken as the rows, the table transposed
// if need be, which changes neither statistic nor probability). After s
// columns a partial table has reached the node "remaining row totals".
// The probability and the likelihood ratio (carried as the sum of n ln n
// over the cells) treat every row alike, so their nodes are the remaining
// totals as a multiset; Pearson's cell terms depend on the row total, so
// its nodes are the vector sorted within each group of equal row totals. For every node the number of
// completions is counted exactly, their probability mass is closed-form,
//   sum over completions of prod_j C_j!/prod_i n_ij! = M!/prod_i r_i!
// (M the sum of the remaining r_i), and the least and greatest remaining part
// of each ordering's value (the product of column factors, the sums of the
// statistics' cell terms) are found by dynamic programming over the nodes.
// A partial table whose value, with every completion, lies clearly inside
// one class of the tally (less, equal within the tolerance, greater) is
// settled as a whole: its completions are counted and their mass added.
// The same holds through each column choice before a partial table is
// carried on: a node's partial tables come in order of past value, so the
// leading run of those whose every completion through a child is less, and
// the trailing run of greater, are settled at once by running sums, and only
// the rest reach the child. Partial tables that reach the same node with
// the same past values (to within a few units of the last place; the spread
// is carried as an interval) are merged.
//
// Every bound is widened by the rounding error of both this evaluation and
// the direct one (cell terms from the same table, summed in another order;
// the probability from the same factorials), so a sample point is sorted
// into exactly the class the enumeration sorts it into, and the counts are
// exactly the enumeration's. A sample point that lies so close to a band
// edge that rounding could decide its class cannot be settled here: the run
// then reports that the enumeration must do it. The masses are the same
// sums in another order, equal at the printed precision.
//
// Pearson's ordering is first tried on the integer lattice of its values
// (PearsonLattice.h), where classes are exact integer comparisons; the
// floating-point pass above settles it when rounding could decide the class
// of some lattice value, the values exceed 62 bits, the lattice count
// would need too much memory, or the table has 2^64 sample points or more
// (the lattice counts in 64 bits; the network in 128, up to 2^126 tables).
//
// Each ordering is settled in a pass of its own. The passes are
// independent: where the machine has more than one core they are shared
// between the analysis's thread, which shows the progress and takes the
// user's break-off, and a second thread with a network of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "AnalysisState.h"

namespace kelvorin {

enum class NetworkOutcome {
    Completed,       // tallies and SamplePointCount hold the full result
    BrokenOff,       // the user broke off; they hold what was settled so far
    NeedsEnumeration // not applicable, or a sample point too close to call
};

// The memory Pearson's integer count holds per value of its limit on each
// side, all it holds counted: both sides with the next one formed and a
// copy kept while a step is priced, the merging table, the running sums of
// the meeting (the most bytes live at once on sparse 4 x 8 and 5 x 10
// tables, whose values seldom merge, were 60 to 95 per value of the limit).
// At the default budget's half (3 GiB, the passes beside each other) the
// limit stays 2^24.
inline constexpr std::size_t kLatticeValueBytes = 96;

struct NetworkLimits {
    // Past these the run gives up (NeedsEnumeration) rather than hold more
    // memory: nodes over all stages; partial tables held at one stage; the
    // bytes of the partial tables of two stages and the column choices
    // between them (48 bytes a partial table: a 128-bit count and three
    // packed extended values). A table that comes near
    // them has tens of millions of distinct partial tables; its
    // enumeration would take days.
    std::size_t MaxNodes = std::size_t{1} << 21;
    std::size_t MaxEntries = std::size_t{1} << 25;
    std::size_t MaxBytes = kDefaultNetworkMemory;
    // Values on each side of the meeting of Pearson's integer count (32
    // bytes each; one order of the columns is prepared at a time), and no
    // more than the pass's MaxBytes hold at kLatticeValueBytes each; past
    // it the floating-point pass settles Pearson's ordering.
    std::size_t MaxLatticeValues = std::size_t{1} << 24;
    // How the partial tables at a node are settled: against the sorted
    // list of its completions when it has at most ListedNode of them and
    // few against the partial tables (see Network::Pass); a
    // node with two columns left is instead settled against its complete
    // tables without listing them (each counted into its bucket between the
    // partial tables' cuts) when it has more than DirectPerEntry completions
    // per partial table reaching it. (Every choice gives the same result.)
    std::uint64_t ListedNode = std::uint64_t{1} << 14;
    std::uint64_t DirectPerEntry = 16;
    // A child's merging table past this many bytes (well past the nearer
    // caches) takes the partial tables in blocks, fetching ahead what each
    // touches. (Either way gives the same result.)
    std::size_t FetchAheadFrom = std::size_t{4} << 20;
    // Pearson's ordering counted on the integer lattice of its values
    // where every value's class is sure (see PearsonLattice.h).
    bool Lattice = true;
    // A node's remaining totals kept packed into one word where every line
    // total fits, else line by line. (Either way the same nodes in the same
    // order.)
    bool PackedKeys = true;
    // A table near the mode of its distribution, or far in its tail, is
    // first tried by listing its rare side only (see RareSideSearch.h).
    bool NearMode = true;
    bool FarTail = true;
    // A table of two rows or two columns is met by the halves of its other
    // lines (see TwoLineMeeting.h) where that applies.
    bool TwoLines = true;
    // The seconds the run may take before it gives the table up (0: no
    // limit). (The analysis's thread looks at the clock where it shows
    // progress.)
    double MostSeconds = 0.0;
    // Where more than one ordering is tallied, the passes are shared
    // between the analysis's thread and a second one: each side takes the
    // next pass neither has taken (the second starts with the likelihood
    // ratio's) within half of MaxBytes, a pass given up there is settled
    // again in turn with the whole budget, and a side whose passes have
    // ended takes part in the work the other offers. On by default where
    // the machine has more than one core; the analysis sets it where the
    // state's Cores are more than one. (Either way gives the same result.)
    bool PassesBeside = MachineCores() > 1;
    // A stage's gathering of partial tables at the children falls into
    // chunks of consecutive children, each of at least this many partial
    // tables through column choices (and at most 64 chunks), which the
    // other side takes too once its own passes have ended. (Any size gives
    // the same result.)
    std::size_t GatherChunk = std::size_t{1} << 14;
    // The nodes keep their column choices (children) for the passes, up to
    // this many in all (16 MiB); the others' are formed again where a pass
    // needs them. Kept children are memory touched for the first time,
    // which on large graphs costs more than forming them again (3 x 5,
    // N = 300: 0.90 s with 2^22 kept, 0.32 with 2^18, 0.28 with none; the
    // benchmark tables keep all theirs). (Any number gives the same result.)
    std::size_t KeptChildren = std::size_t{1} << 18;
};

// Whether the network algorithm may replace the enumeration of the table in
// the state: a two-way table larger than 2 x 2 with N at most 1000, no
// details trace being written (TraceWritten), no direct evaluation asked
// for, and the number of sample points counted exactly and at least the
// state's NetworkFrom, or too many to count beforehand (unless NetworkFrom
// is the largest value: never).
bool NetworkApplies(const AnalysisState& state);
// The same but for the number of sample points: whether the network may be
// chosen for some count (then the count need only be known up to
// NetworkFrom).
bool NetworkMayApply(const AnalysisState& state);

// The columns of the table (its rows when transposed) in increasing order
// of total, ties in their order: their totals and numbers (from 1). The
// network and the search of the rare side fill tables column by column in
// that order: partial tables multiply slowest early.
void ColumnsByTotal(const ContingencyTable& t, bool transposed, std::vector<std::int32_t>& totals,
                    std::vector<int>& numbers);

// The status line's progress text: SETTLED sample points "of" TOTAL, or
// without a total where it is 0 (not yet known).
std::string SettledProgressText(WideCount settled, WideCount total);

// The progress of a settlement: SETTLED sample points of TOTAL (0: not yet
// known, then the count in the state is left as it is and the status line
// names no total) are shown in the status line, pending events are
// processed, and whether the user broke off (Abandoned) is returned.
bool ShowSettledProgress(AnalysisState& state, const EnginePorts& ports, WideCount settled, WideCount total);

// Writes what a pass-by-pass settlement found into the state: for each
// ordering tallied (probability, likelihood ratio, Pearson) its counts and
// its masses divided by SCALE (less, equal, greater; none below 0), and
// POINTS as the sample-point count.
void WriteSettledTallies(AnalysisState& state, const bool (&tallied)[3], const WideCount (&counts)[3][3],
                         const long double (&masses)[3][3], long double scale, WideCount points);

// Fills ProbabilityTally, G2Tally (when ExaLRtest), X2Tally (when ExaCStest)
// and SamplePointCount as the enumeration would. ObservedProbability,
// RowMultinomial, G2 and X2 must be set. Shows progress as the number of
// sample points settled and lets the user break off through the pump.
NetworkOutcome RunNetworkAlgorithm(AnalysisState& state, const EnginePorts& ports,
                                   const NetworkLimits& limits = NetworkLimits{});

}  // namespace kelvorin
