// Pearson's ordering of the tables with given margins, counted exactly on
// an integer lattice.
//
// With expected counts e_ij = r_i c_j / N, Pearson's statistic is
//   X2 = sum (n_ij - e_ij)^2 / e_ij = N (sum n_ij^2 / (r_i c_j)) - N.
// With D the least common multiple of the products r_i c_j, the lattice
// value L = sum n_ij^2 (D / (r_i c_j)) is an integer and X2 = N L / D - N:
// X2 rises with L, so the tally's classes (less than the observed X2, equal
// within the tolerance, greater) are ranges of L: below a first bound, up to
// a second, above it. Unless some L lies so near a band edge that the
// rounding of an evaluation of X2 could decide its class, a table's class is
// then a question of integers alone.
//
// The tables are built column by column (stages) over the lines (the other
// dimension); a partial table reaches the node "remaining line totals",
// sorted within each group of lines with equal totals (their cells' terms
// are the same functions). Partial tables at a node with the same past L
// merge exactly. The counting meets in the middle: the past values of the
// partial tables after some columns, and the future values of the
// completions of every node of the next stage, each merged and sorted; at
// each node of the meeting stage the pairs in each class are counted from
// the two sorted lists with running sums (with two columns left and few
// completions, each parent's sorted run of past values through a column
// choice is placed among the completions as it is, without gathering the
// runs into one list). The stage where the two sides meet is chosen as
// they grow: the side with fewer values takes the next step, except that
// while the back side is still the complete table a step back that makes
// the meeting the stage with two columns left is taken first, whatever the
// sizes, and that where the last step decides between meeting with two
// columns left and meeting a stage earlier, an estimate of the meeting's
// time chooses when it is long. Partial tables whose every completion at a node is less, or
// every one greater, are settled as a run, without being listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "AnalysisState.h"
#include "MergingTable.h"
#include "SeparableConvex.h"
#include "SharedWork.h"
#include "WorkMemory.h"

namespace kelvorin {

struct LatticeMargins {
    // The line totals, equal totals adjacent (such lines interchangeable).
    std::vector<std::int32_t> Lines;
    // The column totals in the order the columns are filled.
    std::vector<std::int32_t> Stages;
    // The observed count of line k in stage s at k * Stages.size() + s.
    std::vector<std::int32_t> Observed;
};

class PearsonLattice {
public:
    // tick(steps) is called as work is done (while preparing, steps count
    // the items carried through column choices and the choices formed); it
    // may throw to break off, and Prepare and Settle then stop.
    // Past values gathered at a node of the meeting are merged whenever
    // their list grows past twice its length after the last merge, and at
    // least compactFrom. Where the meeting can be either with two columns
    // left or one stage earlier, the other kind is priced too when the
    // one the sizes of the sides choose is priced at pricedFrom or more
    // (see StepToCheaperMeeting; the default is about a minute and a half
    // of meeting). With wordKeys, the column choices of interchangeable
    // lines are sorted by keys of one word wherever they fit (see Vectors;
    // without, never: the same order either way).
    PearsonLattice(const LatticeMargins& margins, const FactorialTable& factorials, std::size_t maxNodes,
                   std::size_t maxItems, std::function<void(std::uint64_t)> tick,
                   std::size_t compactFrom = std::size_t{1} << 20,
                   std::uint64_t pricedFrom = std::uint64_t{1} << 33, bool wordKeys = true);

    // Whether the classes follow from the lattice values for the observed
    // X2 as evaluated (observed), every evaluation of X2 being within
    // error of the exact value, and the relative tolerance of the tally
    // rule; if so, builds both sides of the meeting stage. False (nothing
    // settled) when the lattice is too coarse, its values too large, or
    // the nodes or values past the limits.
    bool Prepare(double observed, double error, double tolerance);

    class Sharing;
    // Settles every table after Prepare: adds to ways and mass (mass as the
    // product of the columns' factors T! / prod x!) of each class (less,
    // equal, greater) and to settled, so that they agree whenever tick is
    // called. The nodes of the meeting fall into chunks, each summed on its
    // own and added in order; with offer, other threads may take chunks
    // too: offer(sharing) is called when they may start (their tallies are
    // the same to the last bit), and offer(nullptr) before Settle returns
    // or throws, which must not return while any of them is still in
    // sharing.Help.
    void Settle(std::uint64_t (&ways)[3], long double (&mass)[3], std::uint64_t& settled,
                const std::function<void(Sharing*)>& offer = {});

    // The meeting's chunks of nodes, offered to other threads while the
    // owner settles them.
    class Sharing final : public SharedWork {
    public:
        // Settles chunks no thread has taken until none is left, with
        // tick as the lattice's own.
        void Help(const std::function<void(std::uint64_t)>& tick) override;

    private:
        friend class PearsonLattice;
        struct Tally {
            std::uint64_t Ways[3] = {0, 0, 0};
            long double Mass[3] = {0.0L, 0.0L, 0.0L};
            std::uint64_t Settled = 0;
        };
        struct Chunk {
            Tally Sum;
            bool Failed = false;  // left unsettled by the thread that took it
        };
        Sharing(const PearsonLattice& owner, std::size_t nodes, std::size_t perChunk);
        // Hands a chunk's sum (or its failure) to the owner.
        void Finish(std::size_t chunk, const Tally& sum, bool failed);

        const PearsonLattice& owner_;  // (read only: helpers read its sides)
        std::size_t nodes_;
        std::size_t perChunk_;
        std::unique_ptr<Chunk[]> chunk_;
    };

    // After Prepare: the observed table's lattice value, and a bound of the
    // meeting's work, every partial table through every column choice into
    // the meeting stage.
    std::int64_t ObservedValue() const { return observedValue_; }
    std::uint64_t MeetingWork() const;
    // After Prepare: the stage where the two sides meet.
    int MeetingStage() const { return front_ + 1; }

private:
    // A lattice for a thread helping the owner's Settle: the owner's sides
    // read, the work space its own.
    PearsonLattice(const PearsonLattice& owner, std::function<void(std::uint64_t)> tick);
    // A value of a node's partial tables (or completions): the lattice
    // value, their number and the sum of their products of column factors.
    struct Item {
        std::int64_t Value;
        std::uint64_t Ways;
        long double Mass;
    };
    // A column choice between a node and a child, with the column vectors
    // that link the same two with the same value merged.
    struct Edge {
        std::uint64_t Node;  // the key of the child (or parent) at its other end
        std::int64_t Term;
        std::uint64_t Ways;
        long double Factor;  // sum of T! / prod x! over the merged vectors
    };
    // Node numbers by key: open addressing with linear probing over a
    // power of two of slots kept at most half full.
    class NodeIndex {
    public:
        // The number under key, or the given one when the key is new.
        std::int32_t Insert(std::uint64_t key, std::int32_t number) {
            if (2 * (size_ + 1) > slots_.size()) Grow();
            Slot& s = Find(key);
            if (s.Number < 0) {
                s = {key, number};
                ++size_;
            }
            return s.Number;
        }
        // The number under key, or -1.
        std::int32_t At(std::uint64_t key) const {
            if (slots_.empty()) return -1;
            const std::size_t mask = slots_.size() - 1;
            for (std::size_t at = Hash(key) & mask;; at = (at + 1) & mask)
                if (slots_[at].Number < 0 || slots_[at].Key == key) return slots_[at].Number;
        }

    private:
        struct Slot {
            std::uint64_t Key = 0;
            std::int32_t Number = -1;
        };
        static std::size_t Hash(std::uint64_t key) {
            const std::uint64_t h = key * 0x9E3779B97F4A7C15ULL;
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
        Slot& Find(std::uint64_t key) {
            const std::size_t mask = slots_.size() - 1;
            for (std::size_t at = Hash(key) & mask;; at = (at + 1) & mask)
                if (slots_[at].Number < 0 || slots_[at].Key == key) return slots_[at];
        }
        void Grow() {
            WorkVector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
            old.swap(slots_);
            for (const Slot& s : old)
                if (s.Number >= 0) Find(s.Key) = s;
        }
        WorkVector<Slot> slots_;
        std::size_t size_ = 0;
    };
    // Nodes of one stage with their sorted, merged items.
    struct Side {
        NodeIndex Index;
        WorkVector<std::uint64_t> Keys;
        WorkVector<std::size_t> Begin;  // node k's items: [Begin[k], Begin[k + 1])
        WorkVector<Item> Items;
        std::size_t Size() const { return Items.size(); }
    };

    // Running sums of ways and mass of each node's items from 0: node p's
    // first j at Begin[p] + p + j.
    static void RunningSums(const Side& side, WorkVector<std::uint64_t>& ways, WorkVector<long double>& mass);
    // The lattice whose sides and running sums are read: a helper's owner,
    // or this one.
    const PearsonLattice& Sides() const { return owner_ != nullptr ? *owner_ : *this; }
    const PearsonLattice* owner_ = nullptr;
    // The running sums of both sides, formed once for the meeting, and
    // the values of the back side's lists on their own (where the meeting
    // is from lists: walked down by the past values).
    WorkVector<std::uint64_t> pastWaysBelow_, listWaysBelow_;
    WorkVector<long double> pastMassBelow_, listMassBelow_;
    WorkVector<std::int64_t> listValues_;
    // The number of nodes of a stage (ForEachNode visits).
    std::size_t NodesOf(int stage);
    // Settles the chunks it takes from sharing, visiting the meeting's
    // nodes once in order, and hands each over, calling done() after each.
    // SettleChunk: one chunk (left by a thread that failed) into sum.
    template <typename Done>
    void SettleChunks(Sharing& sharing, Done&& done);
    void SettleChunk(const Sharing& sharing, std::size_t chunk, Sharing::Tally& sum);
    // Settles a node of the meeting into sum.
    void SettleNode(const std::vector<std::int32_t>& node, Sharing::Tally& sum);
    // The past values of a node of the meeting left between its bounds: a
    // parent's items [First, Last) (at FirstAt, LastAt in the running
    // sums) through a column choice.
    using ItemAt = WorkVector<Item>::const_iterator;
    struct PastRun {
        ItemAt First, Last;
        std::size_t FirstAt, LastAt;
        const Edge* Through;
    };
    std::vector<PastRun> pastRuns_;
    // With two columns left: settles the node's runs against its
    // completions (count of them, of mass closed) into sum.
    void SettleRuns(std::uint64_t count, long double closed, Sharing::Tally& sum);
    // Gathers the completions of the meeting's node prepared last, sorted
    // and merged: their values in values_ and running sums of their number
    // and mass from 0 in futureWays_ and futureMass_; returns how many.
    std::size_t SortedCompletions();
    // The meeting's work space of one thread.
    WorkVector<std::int64_t> values_, highs_;
    WorkVector<std::uint64_t> futureWays_, pastWaysBefore_;
    WorkVector<long double> futureMass_, pastMassBefore_;
    struct Run {
        std::size_t List, First, Last;
    };
    std::vector<Run> runs_;
    // Past values that went into the merging table, and came out of it.
    std::uint64_t hashedIn_ = 0, hashedOut_ = 0, hashedSkipped_ = 0;
    std::uint64_t Pack(const std::vector<std::int32_t>& remaining) const;
    void Unpack(std::uint64_t key, std::vector<std::int32_t>& remaining) const;
    // The column vectors of a stage from a node (remaining totals) into
    // the nodes after it.
    void Edges(int stage, const std::vector<std::int32_t>& remaining, std::vector<Edge>& out);
    // Sorts by value and merges equal values.
    void SortMerge(WorkVector<Item>& items);
    template <typename Sorted>
    void MergeEqual(WorkVector<Item>& items, Sorted&& sorted);
    // The column vectors of a stage into a child (remaining totals) from
    // the nodes before it, as from those nodes.
    void Parents(int stage, const std::vector<std::int32_t>& child, std::vector<Edge>& out);
    // The exchanges of interchangeable lines that leave the totals alike.
    // (Of the node with the given key.)
    std::uint64_t Symmetries(std::uint64_t key) const;
    // Calls visit(remaining) for every node of a stage (every vector of
    // line totals that can remain, sorted within groups of interchangeable
    // lines) while it returns true; false if it stopped.
    template <typename Visit>
    bool ForEachNode(int stage, Visit&& visit);
    // Edges and Parents: the column vectors z with z_k at most
    // vectorRoom_[k] and sum T, from a node to the node from - z (a child)
    // or from + z (up: a parent), those that differ by an exchange of
    // interchangeable lines and reach the same node with the same term
    // merged into one edge.
    void Vectors(int stage, const std::vector<std::int32_t>& from, bool up, std::vector<Edge>& out);
    std::vector<Edge> parentEdges_;
    std::vector<std::int32_t> vectorRoom_, vectorCap_, vectorOther_, vectorSorted_, vectorChosen_;
    // The edges' sort keys (see Vectors), the radix sort's scratch for them,
    // and the edges merged in their order.
    struct EdgeKey {
        std::uint64_t Node;
        std::int64_t Term;
        std::size_t Place;
    };
    std::vector<std::uint64_t> edgeWords_;
    std::vector<std::uint64_t> edgeScratch_;
    std::vector<EdgeKey> edgeKeys_;
    std::vector<Edge> edgesMerged_;
    std::vector<std::uint8_t> vectorContinues_;
    // The least and greatest value of a node's completions, their number
    // and the sum of their products of column factors.
    struct Summary {
        std::int64_t Least = 0;
        std::int64_t Greatest = 0;
        std::uint64_t Count = 0;
        long double Closed = 0.0L;
    };
    // A node of the stage before the back side's: its column choices (or,
    // with two columns left, the tables of its lines' parts) are prepared,
    // then summarised, or its completions gathered (merged, unsorted) into
    // futures_.
    void PrepareNode(int stage, const std::vector<std::int32_t>& remaining);
    Summary Summarise(int stage, const std::vector<std::int32_t>& remaining);
    // Calls emit(value, ways, mass) for the node's completions as they are
    // formed (values repeat), or gathers them; Listed is how many emit sees.
    template <typename Emit>
    void ForEachCompletion(int stage, Emit&& emit) const;
    void Gather(int stage);
    std::uint64_t Listed(int stage) const;
    // Two columns left: line k has x_k from Low[k] to High[k] in the first
    // (and r_k - x_k in the second), Value and Inverse its parts of the
    // lattice value and of 1 / prod of factorials against x_k - Low[k].
    struct TwoColumns {
        std::int32_t First = 0;
        long double Scale = 1.0L;  // T! T'!
        std::vector<std::int32_t> Remaining;  // what is left of each line for both columns
        std::vector<std::int32_t> Low, High, Least, Most;  // Least/Most: sums of Low/High from line k on
        std::vector<std::vector<std::int64_t>> Value;
        std::vector<std::vector<long double>> Inverse;
    };
    void PrepareTwoColumns(int stage, const std::vector<std::int32_t>& remaining);
    Summary TwoColumnSummary(const std::vector<std::int32_t>& remaining);
    std::uint64_t TwoColumnCount() const;
    template <typename Emit>
    void TwoColumnCompletions(Emit& emit) const;
    // The remainders of the node prepared last (suffix_): per line and
    // units left for it and the lines after it, the least and greatest sum
    // of their parts of the value, their number and the sum over them of the
    // product of their inverses.
    void PrepareSuffixes();
    // As TwoColumnCompletions, but whole(least, greatest, count, mass) is
    // first offered the choices left after each line (of at least a few
    // completions); where it takes them, none of them is formed. The last
    // free line's choices, where not taken whole, go to whole in runs where
    // the line has at least kRunsFrom of them and runs have proved long
    // enough (on the first few lines always), else to emit one by one:
    // fits(least, greatest) tells whether whole would take values from
    // least to greatest (true for a single value). (whole and fits may be
    // null pointers: none is offered.)
    template <typename Whole, typename Fits, typename Emit>
    void TwoColumnCompletions(Whole& whole, Fits& fits, Emit& emit) const;
    TwoColumns two_;
    std::vector<std::int32_t> leastChoice_;  // TwoColumnSummary's scratch
    std::vector<std::int64_t> leastRaise_;
    Remainders<std::int64_t> suffix_;
    std::vector<Summary> summaries_;  // of the back side's nodes
    // Whether a side with that many nodes and items keeps to the limits.
    bool Within(std::size_t nodes, std::size_t items) const { return nodes <= maxNodes_ && items <= maxItems_; }
    // The next stage's partial tables from the frontier's.
    bool StepForward();
    // The completions of every node of the stage before the back side's.
    bool StepBack();
    // The last step, when it decides between a meeting with two columns
    // left (forward) and one a stage earlier from the lists of the nodes
    // with two columns left (back): takes the one chosen, and if its price
    // is pricedFrom_ or more, prices the other and keeps the cheaper. False
    // when neither keeps to the limits.
    bool StepToCheaperMeeting(bool forward);
    // Estimates of the meeting's time, in units of about 10 ns (measured
    // on 5 x 5 and 5 x 6 tables of tens of trillions of sample points):
    // with two columns left, each past value that the bounds of its node's
    // completions leave unsettled is placed among them, about 3 units (the
    // symmetric 5 x 5 table: 889 million in 27 s of both threads; 5 where
    // they are gathered, sorted and placed, as where the completions are
    // many); from lists, each completion listed for a node is walked or
    // formed, about 1.
    std::uint64_t TwoColumnMeetingPrice();
    std::uint64_t ListedMeetingPrice();
    // Parents(front_, node) into parentEdges_, each edge's Node replaced
    // by its parent's number in the frontier (-1 where the frontier has no
    // partial table there); whether any is in it.
    bool FrontierParents(const std::vector<std::int32_t>& node);
    // A parent's past values [begin, end) through a column choice with the
    // given term into a node whose completions sum summarises: those before
    // the first position are less than the observed table with every
    // completion, those from the second greater with every one.
    std::pair<ItemAt, ItemAt> SettledRuns(ItemAt begin, ItemAt end, std::int64_t term, const Summary& sum) const;

    LatticeMargins margins_;
    const FactorialTable& factorials_;
    std::size_t maxNodes_;
    std::size_t maxItems_;
    std::size_t compactFrom_;
    std::uint64_t pricedFrom_;
    bool wordKeys_;
    std::function<void(std::uint64_t)> tick_;

    int lines_ = 0;
    int stages_ = 0;
    std::vector<int> groupEnd_;  // end of the group of equal totals of line k
    bool interchangeable_ = false;  // some lines have equal totals
    int bits_ = 0;               // per line in a key
    std::vector<std::int64_t> coefficient_;  // D / (r_k T_s) at k * S + s
    std::int64_t observedValue_ = 0;
    // The lattice values of the tables equal to the observed one under the
    // tally rule: from equalFrom_ to equalTo_.
    std::int64_t equalFrom_ = 0;
    std::int64_t equalTo_ = 0;

    int front_ = 0;  // stage of the frontier's partial tables
    int back_ = 0;   // stage of the listed completions
    Side frontier_;     // partial tables after front_ columns
    Side completions_;  // completions of the nodes after back_ columns
    // Items gathered with equal values merged as they come, in order of
    // first arrival.
    struct ValueOf {
        std::int64_t operator()(const Item& i) const { return i.Value; }
    };
    struct AddUp {
        void operator()(Item& to, const Item& from) const {
            to.Ways += from.Ways;
            to.Mass += from.Mass;
        }
    };
    using Gathering = MergingTable<Item, ValueOf, AddUp>;
    Gathering pasts_, futures_;
    // The past values gathered at a node of the meeting stage.
    WorkVector<Item> meeting_;
    // A slot of the sort's scratch: left unset when made.
    struct Slot {
        Slot() {}
        Item Held;
    };
    WorkVector<Slot> scratch_;
    // The radix sorts' bucket starts (of the values and of the edges).
    std::vector<std::size_t> radixStarts_;
    std::vector<Edge> edges_;
};

}  // namespace kelvorin
