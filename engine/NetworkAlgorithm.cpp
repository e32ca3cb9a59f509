#include "NetworkAlgorithm.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "BoundedVectors.h"
#include "ExactEnumeration.h"
#include "Galloping.h"
#include "MergingTable.h"
#include "PackedExtended.h"
#include "PearsonLattice.h"
#include "RareSideSearch.h"
#include "SeparableConvex.h"
#include "SharedWork.h"
#include "TwoLineMeeting.h"
#include "WorkMemory.h"

namespace kelvorin {

bool NetworkMayApply(const AnalysisState& state) {
    const ContingencyTable& t = state.Table;
    if (!t.TwoWay || t.Rows < 2 || t.Cols < 2 || (t.Rows == 2 && t.Cols == 2)) return false;
    // Only a trace actually written needs the tables one by one.
    return t.GrandTotal() <= kFactorialLimit && !state.DirectEvaluation && !TraceWritten(state) &&
           state.NetworkFrom != std::numeric_limits<std::uint64_t>::max();
}

bool NetworkApplies(const AnalysisState& state) {
    if (!NetworkMayApply(state)) return false;
    // A table the counter did not count exactly beforehand (too much work
    // to count, counted only until it reached NetworkFrom, or more than 64
    // bits of sample points) is a large one: it qualifies, and the network
    // counts its sample points itself.
    if (!state.ExpectedPointsExact) return true;
    return state.ExpectedSamplePoints >= static_cast<double>(state.NetworkFrom);
}

namespace {

// The orderings, as indices of the tallies and bits of the set to settle.
enum Ordering { kProbability, kLikelihoodRatio, kPearson, kOrderings };

// A column choice at a node: the node it leads to, the number of column
// vectors leading there with bitwise the same values, and those values.
struct Child {
    std::int32_t Node = 0;
    std::uint64_t Ways = 0;
    long double Factor = 0.0L;  // T! / prod x_k!
    long double Lr = 0.0L;      // sum of n ln n over the column's cells
    double Chi = 0.0;           // sum of the column's Pearson cell terms
};

// A node: remaining row totals after some columns, with the exact number of
// completions and the range of each ordering's remaining part over them.
struct Node {
    std::uint64_t Hash = 0;  // of the remaining totals (kept in the stage's keys)
    bool Ready = false;
    WideCount Count = 0;
    long double Closed = 0.0L;  // M! / prod r_k!: the sum of the completions' factors
    long double Low[kOrderings] = {0.0L, 0.0L, 0.0L};
    long double High[kOrderings] = {0.0L, 0.0L, 0.0L};
    // The node's children, kept while memory allows (in the network's
    // store of kept children).
    bool ChildrenKept = false;
    std::span<const Child> Children;
};

// Partial tables merged at a node in one ordering's pass: how many, the sum
// of their past factors, and the range of their past values (the product
// of the column factors, or the sum of the statistic's cell terms).
struct Entry {
    WideCount Ways = 0;
    long double Mass = 0.0L;
    long double Low = 0.0L;
    long double High = 0.0L;
};

// An entry as held in the lists of a stage and in the merging tables:
// the same values, packed (see PackedExtended.h).
struct StoredEntry {
    std::uint64_t Ways[2];  // low and high half (kept 8-byte aligned)
    PackedExtended Mass, Low, High;
    WideCount AllWays() const { return static_cast<WideCount>(Ways[1]) << 64 | Ways[0]; }
    void SetWays(WideCount ways) {
        Ways[0] = static_cast<std::uint64_t>(ways);
        Ways[1] = static_cast<std::uint64_t>(ways >> 64);
    }
    static StoredEntry Of(const Entry& e) {
        StoredEntry s;
        s.SetWays(e.Ways);
        s.Mass.Set(e.Mass);
        s.Low.Set(e.Low);
        s.High.Set(e.High);
        return s;
    }
    Entry Load() const {
        Entry e;
        e.Ways = AllWays();
        e.Mass = Mass.Get();
        e.Low = Low.Get();
        e.High = High.Get();
        return e;
    }
};

class GiveUp {};
class BrokenOff {};

// The partial tables reaching one node, merged by quantised past value as
// they come (their spread kept). One node is gathered at a time, so the
// table stays small and in the cache.
struct Keyed {
    std::int64_t Key = 0;  // the past value, quantised
    StoredEntry Value;
};
// (The memory limits count a partial table at these sizes.)
static_assert(sizeof(StoredEntry) == 48 && sizeof(Keyed) == 56);
struct KeyOf {
    std::int64_t operator()(const Keyed& k) const { return k.Key; }
};
// Adds the partial tables of x to those of m, keeping the range of both.
[[gnu::always_inline]] inline void MergeInto(StoredEntry& m, const Entry& x) {
    m.SetWays(m.AllWays() + x.Ways);
    m.Mass.Set(m.Mass.Get() + x.Mass);
    // Mostly equal past values merge, so the range rarely widens: the
    // extended values are written back only when it does.
    if (x.Low < m.Low.Get()) m.Low.Set(x.Low);
    if (x.High > m.High.Get()) m.High.Set(x.High);
}
struct Combined {
    void operator()(Keyed& to, const Keyed& from) const { MergeInto(to.Value, from.Value.Load()); }
};
using Merging = MergingTable<Keyed, KeyOf, Combined>;

// The partial tables of a stage: node after node in increasing order, each
// node's in increasing order of past value.
struct StageEntries {
    WorkVector<std::int32_t> Nodes;
    WorkVector<std::size_t> Begin;  // node k's entries: [Begin[k], Begin[k + 1])
    WorkVector<StoredEntry> Items;
};

// Nodes with few completions (NetworkLimits::ListedNode) have them listed,
// up to kListLimit listed in all (per pass).
// A node, its own list or a child reached from its parent, is listed on the
// spot up to this many completions, whatever the partial tables reaching it.
constexpr std::uint64_t kListedChild = std::uint64_t{1} << 8;
// The sample points a table may have: the passes' sums of counts hold three
// times as many.
constexpr WideCount kMostNetworkCount = WideCount{1} << 126;
constexpr std::uint64_t kListLimit = std::uint64_t{1} << 22;
// Below the least normal double a value's rounding to double is absolute:
// within half the least positive double, up to which it rounds to 0.
constexpr long double kLeastNormalDouble = 0x1p-1022L;
constexpr long double kHalfLeastDouble = 0x1p-1075L;
class Network {
public:
    Network(AnalysisState& state, const EnginePorts& ports, const NetworkLimits& limits)
        : state_(state), ports_(ports), limits_(limits),
          deadline_(std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(limits.MostSeconds > 0.0 ? limits.MostSeconds : 0.0))) {}

    NetworkOutcome Run();

private:
    // The nodes of one kind of graph: the probability's (used by the
    // likelihood ratio too), whose lines are all interchangeable, or
    // Pearson's, whose terms depend on the line total.
    struct Graph {
        bool WithTerms = false;     // Pearson's
        std::vector<int> GroupEnd;  // the groups of interchangeable lines
        std::vector<WorkVector<Node>> Nodes;  // per stage 0..S
        // Per stage: the nodes' numbers by their remaining totals, open
        // addressing on the totals' hashes (-1: an empty slot), always at
        // least twice as many slots as nodes, so that finding a node never
        // changes the index; and the totals, in order of the nodes, packed
        // into one word each (line 0 in the highest field of PackBits bits)
        // where all lines fit, else lines after lines in Keys.
        struct Index {
            std::vector<std::int32_t> Slots;
            std::vector<std::uint64_t> Packed;
            std::vector<std::int16_t> Keys;
        };
        std::vector<Index> Indices;
        bool Packed = false;
        int PackBits = 0;
        std::size_t NodeCount = 0;
        std::size_t Kept = 0;  // children kept by the nodes
        // Their store: filled as the nodes are completed, emptied only
        // with the graph, so it grows in large blocks.
        std::pmr::monotonic_buffer_resource KeptChildren{std::size_t{1} << 20};
        // Every node reachable from the root is in (no more are added).
        bool Complete = false;
    };

    // What the passes run on a second thread, beside those of the
    // analysis's own thread, share with them: the orderings neither side
    // has taken yet, the sample points the helper has settled, whether it
    // is to break off, and whether it has ended.
    struct Beside {
        std::atomic<unsigned> Untaken{0};     // a bit per ordering
        // (The sample points settled, for the progress, under Settling.)
        std::mutex Settling;
        WideCount Settled = 0;
        std::atomic<bool> Stop{false};
        // The helper's count of sample points once its first graph is
        // built, and whether it has ended (under Changing).
        WideCount Count = 0;
        bool Counted = false;
        std::shared_ptr<Graph> ProbabilityGraph;  // with the count, where it was that kind
        bool Done = false;
        // Work one side offers the other while doing it (with a new number
        // each time), and how many threads of the other side are in it:
        // the analysis's thread's (the lattice's settling, a stage's
        // gathering) for the helper once the helper's passes have ended,
        // and the helper's for the analysis's thread once its passes have.
        struct Offering {
            SharedWork* Share = nullptr;
            unsigned Offered = 0;
            int Helping = 0;
        };
        Offering ToHelper, ToMain;
        bool PassesLeft = false;  // the helper's
        bool PassesEnded = false;  // this thread's
        std::mutex Changing;
        std::condition_variable Changed;
        void PublishSettled(WideCount settled) {
            const std::lock_guard<std::mutex> hold(Settling);
            Settled = settled;
        }
        WideCount SettledSoFar() {
            const std::lock_guard<std::mutex> hold(Settling);
            return Settled;
        }
        void Publish(WideCount count, std::shared_ptr<Graph> graph) {
            const std::lock_guard<std::mutex> hold(Changing);
            if (!Counted) ProbabilityGraph = std::move(graph);
            Count = count;
            Counted = true;
            Changed.notify_all();
        }
        void End() {
            const std::lock_guard<std::mutex> hold(Changing);
            Done = true;
            Changed.notify_all();
        }
        // Whether the helper has counted the sample points (or left its
        // passes without, or ended), waiting for it up to the given time.
        bool WaitForCount(std::chrono::milliseconds most) {
            std::unique_lock<std::mutex> hold(Changing);
            return Changed.wait_for(hold, most, [&] { return Done || Counted || PassesLeft; });
        }
        // Offers work to the other side, or (with nullptr) withdraws it
        // once no thread of the other side is in it.
        void Offer(Offering& to, SharedWork* share) {
            std::unique_lock<std::mutex> hold(Changing);
            to.Share = share;
            if (share != nullptr) ++to.Offered;
            Changed.notify_all();
            if (share == nullptr) Changed.wait(hold, [&] { return to.Helping == 0; });
        }
        // Takes part in the work offered (under hold, which it releases
        // meanwhile) unless it was already helped: whether it did. (Short
        // of memory, the chunk in hand is left to the owner; a break-off is
        // passed on.)
        bool HelpWith(Offering& to, unsigned& helped, std::unique_lock<std::mutex>& hold,
                      const std::function<void(std::uint64_t)>& tick) {
            if (to.Share == nullptr || to.Offered == helped) return false;
            SharedWork& share = *to.Share;
            helped = to.Offered;
            ++to.Helping;
            hold.unlock();
            std::exception_ptr failure;
            try {
                share.Help(tick);
            } catch (const std::bad_alloc&) {
            } catch (...) {
                failure = std::current_exception();
            }
            hold.lock();
            --to.Helping;
            Changed.notify_all();
            if (failure) std::rethrow_exception(failure);
            return true;
        }
        void EndPasses() {
            const std::lock_guard<std::mutex> hold(Changing);
            PassesEnded = true;
            Changed.notify_all();
        }
        // The helper's first graph, where that was the probability's.
        std::shared_ptr<Graph> GraphSoFar() {
            const std::lock_guard<std::mutex> hold(Changing);
            return ProbabilityGraph;
        }
        // The helper's count; 0 before it has one.
        WideCount CountSoFar() {
            const std::lock_guard<std::mutex> hold(Changing);
            return Counted ? Count : 0;
        }
        // The first of the orderings, in the given order of preference, that
        // no side has taken, now taken; -1 when none is left.
        int Take(std::initializer_list<int> preferred) {
            for (const int o : preferred)
                if ((Untaken.fetch_and(~(1u << o)) & (1u << o)) != 0) return o;
            return -1;
        }
    };
    // The bounds, the observed values and the tolerances of the run;
    // false where the network does not apply.
    bool Prepare();
    // Every ordering's pass not yet completed, on this thread, one after
    // the other.
    void PassesInTurn();
    // The passes shared between this thread and a second one (with a
    // network of its own), each within half the memory; marks the passes
    // completed.
    void PassesBeside();
    // Takes the orderings neither side has taken, the preferred first, and
    // runs their passes.
    void TakePasses(Beside& beside, std::initializer_list<int> preferred);
    // A pass given up within its half: what it settled is dropped (it is
    // settled again in turn), so that a break-off meanwhile counts none of it.
    void Forget(int ordering);
    // The helper, its passes ended: takes part in the work the analysis's
    // thread offers until that thread has ended its passes.
    void HelpSettle(Beside& beside);
    // This thread, its passes ended: takes part in the work the helper
    // offers until the helper has ended.
    void WaitHelping(Beside& beside);
    // Offers work to the other side, or withdraws it (nullptr); empty
    // without another side.
    std::function<void(SharedWork*)> OfferToOtherSide();
    // Takes the tallies of the passes the helper took.
    void Adopt(const Network& helper);
    // Every completion of a node in the current ordering: its remaining
    // part, sorted, with running sums of ways and masses.
    struct Completions {
        // Item i: the i-th least value, the number of completions before
        // it and the sum of their factors as a share of Scale, the node's
        // closed mass; one more item at the end holds the totals. Sums
        // beside values, so a search ending at i finds them in the same
        // cache line. A share in double is off by at most 2^-52 of the
        // node's mass, which for the tallies' masses (probabilities,
        // printed to six places) is nothing.
        struct Item {
            long double Value;
            std::uint64_t Ways;
            double Share;
        };
        WorkVector<Item> Items;
        long double Scale = 1.0L;
        std::size_t Size() const { return Items.size() - 1; }
        long double Value(std::size_t i) const { return Items[i].Value; }
        // The completions from i to j, and the sum of their factors.
        std::uint64_t Ways(std::size_t i, std::size_t j) const { return Items[j].Ways - Items[i].Ways; }
        long double Mass(std::size_t i, std::size_t j) const {
            return static_cast<long double>(Items[j].Share - Items[i].Share) * Scale;
        }
    };
    // The value bounds of a class for an entry's remaining part: a
    // completion v is less when v < Less, equal when EqualLow < v <
    // EqualHigh, greater when v > Greater (each already safe against every
    // rounding); anything else is too close to call this way.
    struct Cuts {
        long double Less;
        long double EqualLow;
        long double EqualHigh;
        long double Greater;
    };

    void SetUpLines();
    // Builds the nodes and their bounds. In the probability's graph (used
    // by the likelihood ratio too) every row is interchangeable with every
    // other (its remaining part depends on the remaining totals alone); in
    // Pearson's graph only rows of equal total are.
    void BuildGraph(bool probability);
    // The graph of an ordering's kind, built unless it is at hand (the
    // last built, or beside a helper the probability's graph it built);
    // the count of sample points is then known exactly. Returns its root.
    std::int32_t GraphFor(bool probability);
    std::int32_t Intern(int stage, const std::vector<std::int32_t>& remaining);
    std::vector<std::int32_t> Remaining(int stage, std::int32_t node) const;
    // T_s!, times T_{s+1}! with two columns left: the numerator of a column
    // choice's factor.
    long double Numerator(int stage) const {
        const FactorialTable& f = state_.Factorials;
        const auto us = static_cast<std::size_t>(stage);
        long double n = f[static_cast<std::size_t>(stageTotal_[us])];
        if (stage == stages_ - 2) n *= f[static_cast<std::size_t>(stageTotal_[us + 1])];
        return n;
    }
    // Calls emit(remaining after the column, prod x_k!, lr, chi, ways) for
    // the column vectors x of the stage with x_k <= r_k and sum T_s (the
    // factor is Numerator(stage) over the product). With merged a vector
    // stands for its ways exchanges among interchangeable lines of equal
    // remaining total; without it every vector comes once (ways 1). With
    // two columns left the last column y is the rest, and the product (of
    // x_k! y_k!) and the sums are those of both columns.
    template <typename Emit>
    void Columns(int stage, const std::vector<std::int32_t>& remaining, bool merged, Emit&& emit);
    void Children(int stage, const std::vector<std::int32_t>& remaining, WorkVector<Child>& out);
    std::span<const Child> ChildrenOf(int stage, std::int32_t node, WorkVector<Child>& scratch) {
        const Node& n = graph_->Nodes[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)];
        if (n.ChildrenKept) return n.Children;
        Children(stage, Remaining(stage, node), scratch);
        return scratch;
    }
    void Complete(int stage, std::int32_t node);
    // M! / prod r_k! for remaining totals r (M their sum), the product
    // taken in their order: the sum of the completions' factors.
    long double ClosedMass(const std::vector<std::int32_t>& remaining) const {
        const FactorialTable& f = state_.Factorials;
        std::int32_t sum = 0;
        long double product = 1.0L;
        for (const std::int32_t r : remaining) {
            sum += r;
            product *= f[static_cast<std::size_t>(r)];
        }
        return f[static_cast<std::size_t>(sum)] / product;
    }
    // Complete for a node with two columns left, without visiting its
    // complete tables.
    void CompleteTwoColumns(int stage, const std::vector<std::int32_t>& remaining, Node& result) const;
    // A node with two columns left: line k has x_k from Lo[k] to Hi[k] in
    // the first of them (and r_k - x_k in the second), and sum x_k = T.
    struct TwoColumns {
        std::vector<std::int32_t> Lo, Hi;
    };
    TwoColumns RangesOf(int stage, const std::vector<std::int32_t>& remaining) const;
    // Line k's two cells with x in the first of the last two columns: the
    // product of their factorials, and their parts of the likelihood ratio
    // (sum of n ln n) and of Pearson's statistic.
    long double LineProduct(std::int32_t r, std::int32_t x) const {
        const FactorialTable& f = state_.Factorials;
        return f[static_cast<std::size_t>(x)] * f[static_cast<std::size_t>(r - x)];
    }
    long double LineLr(std::int32_t r, std::int32_t x) const {
        return nLogN_[static_cast<std::size_t>(x)] + nLogN_[static_cast<std::size_t>(r - x)];
    }
    long double LineChi(int stage, std::size_t k, std::int32_t r, std::int32_t x) const {
        const std::size_t at = k * static_cast<std::size_t>(stages_) + static_cast<std::size_t>(stage);
        return static_cast<long double>(chiTerm_[at][x]) + static_cast<long double>(chiTerm_[at + 1][r - x]);
    }
    // The stage of a node's children: the complete table once two columns
    // are left (the last column is then the rest).
    int Next(int stage) const { return stage == stages_ - 2 ? stages_ : stage + 1; }
    const Node& NodeAt(int stage, std::int32_t node) const {
        return graph_->Nodes[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)];
    }

    long double Own(const Child& c) const {
        return ordering_ == kProbability ? c.Factor : ordering_ == kLikelihoodRatio ? c.Lr : c.Chi;
    }
    long double Combine(long double past, long double own) const {
        return ordering_ == kProbability ? past * own : past + own;
    }
    // The partial tables of e through a column choice: ways vectors, each
    // with the factor, adding own to the ordering's value.
    Entry Extend(const Entry& e, std::uint64_t ways, long double factor, long double own) const;
    Entry Extend(const Entry& e, const Child& c) const { return Extend(e, c.Ways, c.Factor, Own(c)); }
    [[gnu::always_inline]] inline std::int64_t Quantise(long double value) const;
    // The range of the ordering's value for the partial tables of e with a
    // remaining part in [futureLow, futureHigh], widened by the rounding
    // slack of both evaluations.
    std::pair<long double, long double> Range(const Entry& e, long double futureLow, long double futureHigh) const;
    // The class of every value in [low, high] against the observed b under
    // the tally rule, or -1 when the interval reaches a band edge.
    static int Decide(int ordering, long double low, long double high, double b);
    Cuts CutsFor(const Entry& e) const;
    // The parts of the cuts that depend on the pass alone.
    void PrepareCuts();
    Cuts passCuts_{};
    long double passGuard_ = 0.0L;

    const Completions* CompletionsOf(int stage, std::int32_t node);
    // Feed a node's completions, from its children's lists, in order of
    // value to append(value, factor, ways): by merging (the probability,
    // whose values may span any range) or by sorting (the statistics).
    template <typename Append>
    void MergeChildren(std::span<const Child> kids, const std::vector<const Completions*>& below,
                       Append&& append) const;
    template <typename Append>
    void SortChildren(std::span<const Child> kids, const std::vector<const Completions*>& below, Append&& append);
    struct Gathered {
        long double Value;
        long double Mass;
        std::uint64_t Ways;
    };
    WorkVector<Gathered> gathered_, spread_;
    // Children's scratch: the children as formed, and their sort keys.
    WorkVector<std::uint64_t> childKeys_;
    WorkVector<std::size_t> childBuckets_;
    WorkVector<Child> childScratch_;
    std::vector<WorkVector<Child>> stageChildren_;  // Complete's, per stage
    // Columns' scratch, per line: the room for the count, the most the
    // lines from k on can take, the Pearson terms, whether the line
    // continues a run, the counts chosen and the remaining totals after
    // them.
    struct ColumnScratch {
        std::vector<std::int32_t> Room, Cap, Chosen, Next;
        std::vector<const double*> Here, After;
        std::vector<std::uint8_t> Continues;
    };
    ColumnScratch columnScratch_;
    std::vector<std::int32_t> sortedScratch_;  // Children's
    WorkVector<std::size_t> bucketStart_, bucketNext_;
    // Where a list's completions change class for an entry's cuts. The
    // hints are where the four cuts fell for the previous entry: entries
    // come in order of past value, so the cuts move little.
    template <typename Exact>
    void Split(Exact&& exact, const Completions& list, const Cuts& cuts, std::size_t* hints, std::size_t* bounds) const;
    // Settles the sample points of the partial tables of a node (in order
    // of past value) going on through one child, whose completions are
    // listed, by their class; cuts are theirs from CutsBeforeChildren. The
    // node's own list is settled through the child that adds nothing
    // (Itself).
    struct NodeCuts {
        WorkVector<Cuts> Of;  // per partial table
        // Envelopes of the less and greater cuts, each never rising in
        // the order of the partial tables and never looser than the cut
        // itself: the least less cut so far, the greatest greater cut from
        // here on. A child's completions all lie below the first for a
        // leading run of the partial tables and all above the second for
        // a trailing run; those runs settle by the running sums.
        WorkVector<long double> LessEnvelope, GreaterEnvelope;
        WorkVector<WideCount> WaysBefore;
        WorkVector<long double> MassBefore;
    };
    // The child that adds no column: the node itself, with one way, factor
    // 1 and no terms.
    static Child Itself(std::int32_t node) {
        Child c;
        c.Node = node;
        c.Ways = 1;
        c.Factor = 1.0L;
        return c;
    }
    NodeCuts CutsBeforeChildren(const WorkVector<Entry>& open, std::span<const Child> kids) const;
    // Settles, by running sums, the leading run of a node's partial tables
    // whose every completion through child c is less and the trailing run
    // whose every one is greater, by their cuts: the child's completions
    // have values within [least, greatest], number ways and mass mass (a
    // list's or the child's bounds, count and closed mass). Returns the
    // partial tables left, [first, last).
    std::pair<std::size_t, std::size_t> SettleRuns(const NodeCuts& cuts, const Child& c, long double least,
                                                   long double greatest, WideCount ways, long double mass);
    void SettleThroughChild(const WorkVector<Entry>& open, const NodeCuts& cuts, const Child& c, const Node& child,
                            const Completions& list);
    void Settle(int which, const Entry& e, const Node& n);
    // A child's partial tables from one parent: current.Items[From, To)
    // through the column choice steps[Step].
    struct Onward {
        std::int32_t Node;
        std::uint32_t Step;
        std::uint32_t From, To;
    };
    struct Step {
        std::uint64_t Ways;
        long double Factor;
        long double Own;
    };
    struct KeyAt {
        std::int64_t Key;
        std::size_t At;
    };
    // A thread's room for gathering: one child's merging table, a block of
    // partial tables going on, keyed, and the child's keys, to be sorted
    // with their positions.
    struct GatherScratch {
        Merging Table;
        WorkVector<Keyed> Block;
        WorkVector<KeyAt> Order;
    };
    class Gathering;
    // Gathers the partial tables of a chunk of the gathering's children,
    // each from all its parents, and passes each child to emit(node, its
    // merged entries, their order by past value). tick(steps) counts the
    // work. Reads only what the pass does not change while it gathers.
    template <typename Ticks, typename Emit>
    void GatherChildren(Gathering& g, std::size_t chunk, GatherScratch& s, Ticks&& tick, Emit&& emit) const;
    // Gathers a stage's partial tables at the children into next, in
    // chunks the other side may share (the chunks it did appended in order).
    void Gather(Gathering& g, GatherScratch& s, StageEntries& next);
    // Settles the partial tables of a node with two columns left against
    // its complete tables without listing them (see its definition):
    // cheaper than a list when few partial tables reach the node, and the
    // only way on where the node cannot be listed.
    void SettleDirectly(int stage, std::int32_t node, const WorkVector<Entry>& open);
    // Calls emit(value, factor) for every complete table below a node with
    // two columns left: the pass's value of its last two columns and their
    // factor. Per line the two cells' parts are tabulated against the count
    // in the first column, so a table costs a product and a sum per line.
    template <typename Emit>
    void CompleteTables(int stage, const std::vector<std::int32_t>& remaining, Emit&& emit) const {
        CompleteTables(stage, remaining, nullptr, nullptr, emit);
    }
    // The same, but whole(low, high, count, factor) is first offered the
    // tables that remain after each line (at least a few of them): every
    // value among them, as evaluated, lies within [low, high]; factor is
    // the sum of their factors. Where whole returns true, none of them is
    // formed. The last free line's choices from..to, where not taken whole
    // and at least a few, go to line(from, to, at, low, high, slack)
    // instead of emit: at(x) forms the table with x in that line as emit
    // would have it, its value and factor; every value lies within [low,
    // high] and within slack of its exact value, far more than its
    // rounding. (whole and line may be nullptr: none is offered; line only
    // with whole.)
    template <typename Whole, typename Line, typename Emit>
    void CompleteTables(int stage, const std::vector<std::int32_t>& remaining, Whole&& whole, Line&& line,
                        Emit&& emit) const;

    // Settles every sample point in one ordering.
    void Pass(int ordering);
    // Settles Pearson's ordering on the integer lattice of its values, or
    // returns false (nothing settled) where that does not apply.
    bool SettleOnLattice();
    // Shows progress and lets the user break off (then throws BrokenOff);
    // in a pass beside the analysis's thread, publishes its progress
    // instead and breaks off when told.
    void Progress();
    // The helper's count of sample points, where it has one.
    void CountFromHelper();
    // Counts steps of work; every so often calls Progress.
    void Tick(std::uint64_t steps = 1) {
        const std::uint64_t before = work_;
        work_ += steps;
        if ((before >> 14) == (work_ >> 14)) return;
        Progress();
    }
    // The sample points accounted for: the mean over the orderings of the
    // points each has settled.
    WideCount Settled() const;
    void WriteTallies(WideCount points);

    AnalysisState& state_;
    const EnginePorts& ports_;
    NetworkLimits limits_;
    StatisticTerms terms_;

    int lines_ = 0;   // K: the smaller dimension
    int stages_ = 0;  // S: the larger one
    bool transposed_ = false;
    std::vector<int> lineCell_;            // original row or column of line k
    std::vector<std::int32_t> lineTotal_;  // sorted ascending
    std::vector<int> equalTotals_;         // end of the group of equal totals line k is in
    std::vector<std::int32_t> stageTotal_;
    std::vector<int> stageCell_;  // original column or row of stage s
    std::vector<const double*> chiTerm_;  // [k * S + s] -> terms indexed by count
    // n ln n for n = 0..N: the likelihood ratio's part that depends on the
    // table, the same function for every cell.
    std::vector<long double> nLogN_;
    // The graph the passes run on: built by this side, or the
    // probability's graph the helper built (then read by both sides, which
    // only look nodes up once it is complete).
    std::shared_ptr<Graph> graph_;

    int ordering_ = kProbability;
    bool tallied_[kOrderings] = {true, false, false};
    double observed_[kOrderings] = {0.0, 0.0, 0.0};
    static constexpr double tolerance_[kOrderings] = {kProbabilityTolerance, kStatisticTolerance, kStatisticTolerance};
    double probabilitySlack_ = 0.0;  // relative
    double slack_[kOrderings] = {0.0, 0.0, 0.0};      // absolute, of G2 and X2
    double quantum_[kOrderings] = {0.0, 0.0, 0.0};
    // What the statistic is, as a function of the carried sum V: scale x
    // (V - offset). G2 = 2 (sum n_ij ln n_ij - sum r_i ln r_i - sum c_j ln
    // c_j + N ln N); X2 is the sum of its cell terms itself.
    long double offset_[kOrderings] = {0.0L, 0.0L, 0.0L};
    long double scale_[kOrderings] = {1.0L, 2.0L, 1.0L};

    Beside* publishTo_ = nullptr;     // in a pass beside the analysis's thread
    Beside* beside_ = nullptr;  // the pass beside this network's, while it runs
    WideCount total_ = 0;
    WideCount settled_ = 0;  // in the current pass
    std::uint64_t latticeSettled_ = 0;  // by Pearson's lattice, while it runs
    WideCount done_ = 0;     // in the passes completed
    int passes_ = 0;
    bool completed_[kOrderings] = {false, false, false};
    // Passes beside another side's: those this side took, and those that
    // ran to their end with the sample points they settled.
    bool taken_[kOrderings] = {false, false, false};
    bool ended_[kOrderings] = {false, false, false};
    WideCount endedWith_[kOrderings] = {0, 0, 0};
    WideCount counts_[kOrderings][3] = {};
    long double masses_[kOrderings][3] = {};
    std::uint64_t work_ = 0;
    // Past MostSeconds (where set) the analysis's thread stops the run as a
    // break-off would, and it gives the table up.
    std::chrono::steady_clock::time_point deadline_;
    bool outOfTime_ = false;
    // N! / prod of the line totals' factorials: the sum of every table's
    // product of column factors, so a table's probability is its product
    // over this (in either orientation).
    long double normaliser_ = 1.0L;
    // Sorted completions of the nodes with few, for the current pass.
    // Per stage and node: kNotListed, kUnlistable or the list's index.
    std::vector<std::vector<std::int32_t>> listOf_;
    std::deque<Completions> lists_;  // stays in place as it grows
    static constexpr std::int32_t kNotListed = -1;
    static constexpr std::int32_t kUnlistable = -2;
    bool Listed(int stage, std::int32_t node) const {
        const auto& of = listOf_[static_cast<std::size_t>(stage)];
        return static_cast<std::size_t>(node) < of.size() && of[static_cast<std::size_t>(node)] != kNotListed;
    }
    // Records what became of a node's list.
    const Completions* Remember(int stage, std::int32_t node, Completions&& list) {
        auto& of = listOf_[static_cast<std::size_t>(stage)];
        if (of.size() <= static_cast<std::size_t>(node)) of.resize(graph_->Nodes[static_cast<std::size_t>(stage)].size(), kNotListed);
        if (list.Items.empty()) {
            of[static_cast<std::size_t>(node)] = kUnlistable;
            return nullptr;
        }
        of[static_cast<std::size_t>(node)] = static_cast<std::int32_t>(lists_.size());
        lists_.push_back(std::move(list));
        return &lists_.back();
    }
    std::size_t listed_ = 0;
};

void Network::SetUpLines() {
    const ContingencyTable& t = state_.Table;
    transposed_ = t.Rows > t.Cols;
    lines_ = transposed_ ? t.Cols : t.Rows;
    stages_ = transposed_ ? t.Rows : t.Cols;
    // Lines in increasing order of total too, so equal totals are adjacent.
    ColumnsByTotal(t, !transposed_, lineTotal_, lineCell_);
    equalTotals_.assign(static_cast<std::size_t>(lines_), lines_);
    for (int k = lines_ - 1; k >= 0; --k) {
        const auto uk = static_cast<std::size_t>(k);
        equalTotals_[uk] = (k + 1 < lines_ && lineTotal_[uk + 1] == lineTotal_[uk]) ? equalTotals_[uk + 1] : k + 1;
    }
    // (The two columns completed at once are then the largest.)
    ColumnsByTotal(t, transposed_, stageTotal_, stageCell_);
    chiTerm_.assign(static_cast<std::size_t>(lines_ * stages_), nullptr);
    for (int k = 0; k < lines_; ++k)
        for (int s = 0; s < stages_; ++s) {
            const int line = lineCell_[static_cast<std::size_t>(k)];
            const int stage = stageCell_[static_cast<std::size_t>(s)];
            const int i = transposed_ ? stage : line;
            const int j = transposed_ ? line : stage;
            const auto at = static_cast<std::size_t>(k * stages_ + s);
            if (state_.ComputeChi) chiTerm_[at] = &terms_.PearsonTerm(i, j, 0);
        }
}

std::int32_t Network::GraphFor(bool probability) {
    auto serves = [&] { return graph_ && graph_->Complete && graph_->WithTerms == !probability; };
    // The passes' sums of counts (up to three counts of every sample point)
    // must fit. Checked at every pass on the graph, so that a pass given up
    // for it beside the other side is not settled again in turn on the
    // graph kept.
    auto countFits = [&] { return NodeAt(0, 0).Count < kMostNetworkCount; };
    if (serves()) {
        if (!countFits()) throw GiveUp{};
        return 0;  // (the root is the first node)
    }
    if (probability && beside_ != nullptr) {
        // The helper builds the probability's graph first: once it has,
        // this side runs on it too rather than building it again.
        while (!beside_->WaitForCount(std::chrono::milliseconds(20))) Progress();
        graph_ = beside_->GraphSoFar();
    }
    if (!serves()) BuildGraph(probability);
    if (!countFits()) throw GiveUp{};
    // The count is now known exactly, also where the counter beforehand
    // gave up: the progress shows it.
    total_ = NodeAt(0, 0).Count;
    if (publishTo_ == nullptr) {
        state_.ExpectedSamplePoints = static_cast<double>(total_);
        state_.ExpectedPointsExact = true;
    } else {
        publishTo_->Publish(total_, probability ? graph_ : nullptr);
    }
    return 0;
}

void Network::BuildGraph(bool probability) {
    // (A graph given up half-built is never used: a new one is built.)
    graph_ = std::make_shared<Graph>();
    Graph& g = *graph_;
    g.WithTerms = !probability;
    g.GroupEnd = probability ? std::vector<int>(static_cast<std::size_t>(lines_), lines_) : equalTotals_;
    g.Nodes.assign(static_cast<std::size_t>(stages_ + 1), {});
    g.Indices.assign(static_cast<std::size_t>(stages_ + 1), {});
    g.PackBits = static_cast<int>(std::bit_width(static_cast<std::uint32_t>(lineTotal_.back())));
    g.Packed = limits_.PackedKeys && lines_ * g.PackBits <= 64;
    stageChildren_.resize(static_cast<std::size_t>(stages_ + 1));
    std::vector<std::int32_t> root(lineTotal_.begin(), lineTotal_.end());
    for (int k = 0; k < lines_; k = g.GroupEnd[static_cast<std::size_t>(k)])
        std::sort(root.begin() + k, root.begin() + g.GroupEnd[static_cast<std::size_t>(k)], std::greater<>());
    const std::int32_t rootNode = Intern(0, root);
    // The complete table: node 0 of the last stage, every child of a node
    // with two columns left.
    Intern(stages_, std::vector<std::int32_t>(static_cast<std::size_t>(lines_), 0));
    Complete(0, rootNode);
    g.Complete = true;
}

std::int32_t Network::Intern(int stage, const std::vector<std::int32_t>& remaining) {
    Graph& g = *graph_;
    const std::size_t K = remaining.size();
    std::uint64_t packed = 0;
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    if (g.Packed) {
        packed = PackTotals(remaining, g.PackBits);
        hash = packed * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 32;
    } else {
        for (std::size_t k = 0; k < K; ++k)
            hash = (hash ^ static_cast<std::uint16_t>(remaining[k])) * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 29;
    }
    Graph::Index& index = g.Indices[static_cast<std::size_t>(stage)];
    auto& nodes = g.Nodes[static_cast<std::size_t>(stage)];
    std::size_t i = 0;
    if (!index.Slots.empty()) {
        const std::size_t mask = index.Slots.size() - 1;
        for (i = hash & mask; index.Slots[i] >= 0; i = (i + 1) & mask) {
            const auto at = static_cast<std::size_t>(index.Slots[i]);
            if (g.Packed) {
                if (index.Packed[at] == packed) return index.Slots[i];
                continue;
            }
            if (nodes[at].Hash != hash) continue;
            const std::int16_t* const key = index.Keys.data() + at * K;
            std::size_t k = 0;
            while (k < K && key[k] == remaining[k]) ++k;
            if (k == K) return index.Slots[i];
        }
    }
    // A complete graph holds every node its passes reach, and may be read
    // by both sides at once: it is never added to. (Cannot happen; the
    // enumeration would then take the table.)
    if (g.Complete) throw GiveUp{};
    if (++g.NodeCount > limits_.MaxNodes) throw GiveUp{};
    if (g.Packed) {
        index.Packed.push_back(packed);
    } else {
        for (const std::int32_t r : remaining) index.Keys.push_back(static_cast<std::int16_t>(r));
    }
    Node node;
    node.Hash = hash;
    const auto added = static_cast<std::int32_t>(nodes.size());
    nodes.push_back(std::move(node));
    if (2 * (nodes.size() + 1) <= index.Slots.size()) {
        index.Slots[i] = added;
    } else {
        // Twice as many slots as nodes, at least: rehashed from the keys.
        index.Slots.assign(std::bit_ceil(std::max<std::size_t>(64, 4 * (nodes.size() + 1))), -1);
        const std::size_t mask = index.Slots.size() - 1;
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            std::size_t at = nodes[n].Hash & mask;
            while (index.Slots[at] >= 0) at = (at + 1) & mask;
            index.Slots[at] = static_cast<std::int32_t>(n);
        }
    }
    return added;
}

std::vector<std::int32_t> Network::Remaining(int stage, std::int32_t node) const {
    const auto K = static_cast<std::size_t>(lines_);
    const Graph::Index& index = graph_->Indices[static_cast<std::size_t>(stage)];
    if (graph_->Packed) {
        std::vector<std::int32_t> remaining;
        UnpackTotals(index.Packed[static_cast<std::size_t>(node)], graph_->PackBits, K, remaining);
        return remaining;
    }
    const std::int16_t* const key = index.Keys.data() + static_cast<std::size_t>(node) * K;
    return std::vector<std::int32_t>(key, key + K);
}

// Every column vector x of stage s with x_k <= r_k and sum T_s, passed to
// emit(r - x, the product of the column's factorials, its sums of terms,
// ways) (with two columns left, of both columns). With merged, lines that
// are interchangeable and have the same remaining total take
// non-increasing counts: a vector then stands for every exchange of counts
// among such lines (ways of them), all of which lead to the same node with
// the same values. Without it, every vector is passed once (ways 1).
template <typename Emit>
void Network::Columns(int stage, const std::vector<std::int32_t>& remaining, bool merged, Emit&& emit) {
    const auto us = static_cast<std::size_t>(stage);
    const std::int32_t total = stageTotal_[us];
    const auto K = static_cast<std::size_t>(lines_);
    ColumnScratch& w = columnScratch_;
    w.Room.resize(K);
    w.Cap.assign(K + 1, 0);
    for (std::size_t k = K; k-- > 0;) {
        w.Room[k] = std::min(remaining[k], total);
        w.Cap[k] = w.Cap[k + 1] + w.Room[k];
    }
    if (w.Cap[0] < total) return;
    const bool lastTwo = stage == stages_ - 2;
    // Line k's Pearson terms in this column and, with two left, in the
    // last one (none without the terms, or where they are not computed).
    w.Here.assign(K, nullptr);
    w.After.assign(K, nullptr);
    if (graph_->WithTerms)
        for (std::size_t k = 0; k < K; ++k) {
            const std::size_t at = k * static_cast<std::size_t>(stages_) + us;
            w.Here[k] = chiTerm_[at];
            if (lastTwo) w.After[k] = chiTerm_[at + 1];
        }
    // Line k continues a run of interchangeable lines with equal remaining
    // totals (such lines are adjacent: a node's totals are sorted within
    // each group).
    w.Continues.assign(K, 0);
    if (merged)
        for (std::size_t k = 1; k < K; ++k)
            w.Continues[k] = graph_->GroupEnd[k - 1] == graph_->GroupEnd[k] && remaining[k - 1] == remaining[k];
    w.Chosen.assign(K, 0);
    std::vector<std::int32_t>& next = w.Next;
    next.resize(K);
    const long double* const f = state_.Factorials.data();
    const long double* const h = nLogN_.data();
    const double* const* const here = w.Here.data();
    const double* const* const after = w.After.data();
    // Line k's cell (and, with two left, its cell in the last column) with
    // count v: the products of the factorials, the sums of n ln n and the
    // sum of the Pearson terms carried on. (A missing term adds 0.)
    struct Carried {
        long double Product, LastProduct, Lr;
        double Chi;
    };
    // (Instantiated for each kind of stage and graph, so the innermost
    // loop carries only what it needs.)
    auto run = [&](auto withTerms, auto twoLeft) {
        constexpr bool kTerms = decltype(withTerms)::value;
        constexpr bool kLastTwo = decltype(twoLeft)::value;
        auto line = [&](std::size_t k, std::int32_t v, const Carried& c) {
            const std::int32_t rest = remaining[k] - v;
            next[k] = rest;
            Carried n{c.Product * f[v], c.LastProduct, kTerms ? 0.0L : c.Lr + h[v], c.Chi};
            if constexpr (kTerms) n.Chi += here[k] ? here[k][v] : 0.0;
            if constexpr (kLastTwo) {
                n.LastProduct *= f[rest];
                if constexpr (kTerms) {
                    n.Chi += after[k] ? after[k][rest] : 0.0;
                } else {
                    n.Lr += h[rest];
                }
            }
            return n;
        };
        ForEachBoundedVector(K, total, w.Room.data(), w.Cap.data(), w.Continues.data(), w.Chosen.data(),
                             Carried{1.0L, 1.0L, 0.0L, 0.0}, line,
                             [&](const Carried& c, std::uint64_t ways) {
                                 emit(next, c.Product * c.LastProduct, c.Lr, c.Chi, ways);
                             });
    };
    using Yes = std::true_type;
    using No = std::false_type;
    if (graph_->WithTerms && lastTwo) {
        run(Yes{}, Yes{});
    } else if (graph_->WithTerms) {
        run(Yes{}, No{});
    } else if (lastTwo) {
        run(No{}, Yes{});
    } else {
        run(No{}, No{});
    }
}

// The children of a node reaching one node of the next stage are sorted by
// insertion up to this many.
constexpr std::size_t kInsertedUpTo = 16;

void Network::Children(int stage, const std::vector<std::int32_t>& remaining, WorkVector<Child>& out) {
    // With two columns left the last one is the rest: the child is the
    // complete table, its values those of both columns.
    const bool lastTwo = stage == stages_ - 2;
    // The children as formed: with two columns left they are the result.
    WorkVector<Child>& formed = lastTwo ? out : childScratch_;
    out.clear();
    formed.clear();
    std::vector<std::int32_t>& sorted = sortedScratch_;
    sorted.resize(remaining.size());
    const long double numerator = Numerator(stage);
    // (Complete tables are listed one by one.)
    Columns(stage, remaining, !lastTwo,
            [&](const std::vector<std::int32_t>& next, long double product, long double lr, double chi,
                std::uint64_t ways) {
        // A node of a large table may have millions of column vectors: the
        // progress shows (and a break-off is seen) while they are formed.
        Tick();
        Child child;
        child.Ways = ways;
        child.Factor = numerator / product;
        child.Lr = lr;
        child.Chi = chi;
        if (!lastTwo) {
            SortGroupsDecreasing(next.data(), sorted, graph_->GroupEnd);
            child.Node = Intern(Next(stage), sorted);
        }
        formed.push_back(child);
    });
    // Complete tables are listed by value later, which merges equal ones.
    if (lastTwo) return;
    // Column vectors that differ only by an exchange of interchangeable
    // lines give the same node with the same values: one child with their
    // number of ways. The children are ordered by node, then by values (a
    // fixed order, so the passes add up in the same order every run): by
    // node through keys of node and position, a node's few children then
    // by their values, and the equal ones merged.
    if (formed.size() > std::numeric_limits<std::uint32_t>::max()) throw GiveUp{};
    WorkVector<std::uint64_t>& keys = childKeys_;
    keys.clear();
    auto keyOf = [&formed](std::size_t i) {
        return static_cast<std::uint64_t>(formed[i].Node) << 32 | static_cast<std::uint64_t>(i);
    };
    const std::size_t nodes = graph_->Nodes[static_cast<std::size_t>(Next(stage))].size();
    if (nodes <= 4 * formed.size() + 64) {
        // Few nodes for the children: counted into place by node, in order
        // of position within each (the order the sort gives).
        WorkVector<std::size_t>& start = childBuckets_;
        start.assign(nodes + 1, 0);
        for (const Child& c : formed) ++start[static_cast<std::size_t>(c.Node) + 1];
        for (std::size_t n = 1; n <= nodes; ++n) start[n] += start[n - 1];
        keys.resize(formed.size());
        for (std::size_t i = 0; i < formed.size(); ++i)
            keys[start[static_cast<std::size_t>(formed[i].Node)]++] = keyOf(i);
    } else {
        for (std::size_t i = 0; i < formed.size(); ++i) keys.push_back(keyOf(i));
        std::sort(keys.begin(), keys.end());
    }
    const auto byValues = [&formed](std::uint64_t x, std::uint64_t y) {
        const Child& a = formed[static_cast<std::uint32_t>(x)];
        const Child& b = formed[static_cast<std::uint32_t>(y)];
        if (a.Factor != b.Factor) return a.Factor < b.Factor;
        if (a.Lr != b.Lr) return a.Lr < b.Lr;
        return a.Chi < b.Chi;
    };
    for (std::size_t from = 0; from < keys.size();) {
        std::size_t to = from + 1;
        while (to < keys.size() && keys[to] >> 32 == keys[from] >> 32) ++to;
        if (to - from > kInsertedUpTo) {
            std::sort(keys.begin() + static_cast<std::ptrdiff_t>(from), keys.begin() + static_cast<std::ptrdiff_t>(to),
                      byValues);
        } else {
            // A node's children are mostly few: sorted by insertion in place
            // (the library's sort moves them through calls to memmove).
            for (std::size_t i = from + 1; i < to; ++i) {
                const std::uint64_t key = keys[i];
                std::size_t j = i;
                for (; j > from && byValues(key, keys[j - 1]); --j) keys[j] = keys[j - 1];
                keys[j] = key;
            }
        }
        for (std::size_t i = from; i < to; ++i) {
            const Child& c = formed[static_cast<std::uint32_t>(keys[i])];
            if (i > from && !byValues(keys[i - 1], keys[i])) {
                out.back().Ways += c.Ways;
                continue;
            }
            out.push_back(c);
        }
        from = to;
    }
}

// Counts the completions of a node and bounds each ordering's remaining
// part over them, from the nodes of the next stage.
void Network::Complete(int stage, std::int32_t node) {
    const auto us = static_cast<std::size_t>(stage);
    if (NodeAt(stage, node).Ready) return;
    const std::vector<std::int32_t> remaining = Remaining(stage, node);
    Node result;
    result.Closed = ClosedMass(remaining);
    if (stage == stages_) {
        result.Count = 1;
        result.Low[kProbability] = result.High[kProbability] = 1.0L;
    } else if (stage == stages_ - 2) {
        CompleteTwoColumns(stage, remaining, result);
    } else {
        // (Per stage: a node's children stay while those of the nodes of
        // later stages are formed.)
        WorkVector<Child>& children = stageChildren_[us];
        Children(stage, remaining, children);
        if (children.empty()) throw GiveUp{};  // no completion: margins that cannot be met
        const int next = Next(stage);
        for (const Child& c : children)
            if (!NodeAt(next, c.Node).Ready) Complete(next, c.Node);
        const WorkVector<Node>& below = graph_->Nodes[static_cast<std::size_t>(next)];
        for (const Child& c : children) {
            WideCount ways = 0;
            if (__builtin_mul_overflow(static_cast<WideCount>(c.Ways), below[static_cast<std::size_t>(c.Node)].Count, &ways) ||
                __builtin_add_overflow(result.Count, ways, &result.Count))
                throw GiveUp{};
        }
        // The bounds of the orderings the graph serves (the others stay 0,
        // as neither the columns nor the nodes with two columns left carry
        // them), each in a loop of its own so that its two running bounds
        // stay in registers.
        auto bound = [&](int o, auto&& through) {
            long double low = through(children[0], below[static_cast<std::size_t>(children[0].Node)].Low[o]);
            long double high = through(children[0], below[static_cast<std::size_t>(children[0].Node)].High[o]);
            for (const Child& c : children) {
                const Node& n = below[static_cast<std::size_t>(c.Node)];
                const long double l = through(c, n.Low[o]);
                const long double h = through(c, n.High[o]);
                if (l < low) low = l;
                if (h > high) high = h;
            }
            result.Low[o] = low;
            result.High[o] = high;
        };
        if (!graph_->WithTerms) {
            bound(kProbability, [](const Child& c, long double v) { return c.Factor * v; });
            bound(kLikelihoodRatio, [](const Child& c, long double v) { return c.Lr + v; });
        } else {
            bound(kPearson, [](const Child& c, long double v) { return c.Chi + v; });
        }
        if (graph_->Kept + children.size() <= limits_.KeptChildren) {
            graph_->Kept += children.size();
            auto* const kept = static_cast<Child*>(graph_->KeptChildren.allocate(children.size() * sizeof(Child), alignof(Child)));
            std::uninitialized_copy(children.begin(), children.end(), kept);
            result.Children = {kept, children.size()};
            result.ChildrenKept = true;
        }
    }
    result.Ready = true;
    Node& target = graph_->Nodes[us][static_cast<std::size_t>(node)];
    result.Hash = target.Hash;
    target = std::move(result);
    Tick();
}

// With two columns left, line k has x_k in the first and r_k - x_k in the
// second, lo_k <= x_k <= hi_k and sum x_k = T. Each ordering's value is
// separable, a sum over the lines of g_k(x_k) (for the probability a
// product, of 1 / (x! (r - x)!)), and every g_k is convex in x_k: ln x! +
// ln (r - x)!, h(x) + h(r - x) with h(n) = n ln n, and the Pearson terms,
// quadratic in x. Hence
//  - the number of completions is a convolution of the lines' ranges;
//  - the least value is reached greedily, adding the T - sum lo units one
//    at a time to the line whose value grows least (marginal allocation,
//    exact for separable convex functions);
//  - the greatest is at a vertex of the polytope: every x_k at lo_k or hi_k
//    but at most one, found for each free line by a subset-sum recursion.
// The greedy choices of the probability compare exact ratios; those of
// the statistics compare rounded differences, which can only miss the
// least value by rounding noise, so the statistics' bounds are widened by
// far more than that noise (and far less than any tolerance).
Network::TwoColumns Network::RangesOf(int stage, const std::vector<std::int32_t>& remaining) const {
    const std::int32_t T = stageTotal_[static_cast<std::size_t>(stage)];
    std::int32_t sum = 0;
    for (std::int32_t r : remaining) sum += r;
    const std::int32_t second = sum - T;
    TwoColumns ranges;
    ranges.Lo.reserve(remaining.size());
    ranges.Hi.reserve(remaining.size());
    std::int32_t least = 0;
    std::int32_t most = 0;
    for (const std::int32_t r : remaining) {
        ranges.Lo.push_back(std::max<std::int32_t>(0, r - second));
        ranges.Hi.push_back(std::min(r, T));
        least += ranges.Lo.back();
        most += ranges.Hi.back();
    }
    if (second < 0 || least > T || most < T) throw GiveUp{};  // margins that cannot be met
    return ranges;
}

void Network::CompleteTwoColumns(int stage, const std::vector<std::int32_t>& remaining, Node& result) const {
    const auto uK = static_cast<std::size_t>(lines_);
    const std::int32_t T = stageTotal_[static_cast<std::size_t>(stage)];
    const TwoColumns ranges = RangesOf(stage, remaining);
    const std::vector<std::int32_t>& lo = ranges.Lo;
    const std::vector<std::int32_t>& hi = ranges.Hi;
    std::int32_t sum = 0;
    for (std::int32_t r : remaining) sum += r;

    // The number of completions, exact in 64 bits; running sums past 2^64
    // give the run up (the table is handed back).
    const BoundedCount completions = CountBoundedVectors(lo, hi, T);
    if (completions.Overflowed) throw GiveUp{};
    result.Count = completions.Count;

    const bool probability = !graph_->WithTerms;
    // g_k(x) of an ordering, and how values combine.
    auto product = [&](std::size_t k, std::int32_t x) { return LineProduct(remaining[k], x); };
    auto lr = [&](std::size_t k, std::int32_t x) { return LineLr(remaining[k], x); };
    auto chi = [&](std::size_t k, std::int32_t x) { return LineChi(stage, k, remaining[k], x); };
    // The least of sum g_k (or of prod g_k) by marginal allocation; raise(k,
    // x) is the cost of raising line k from x, compared by less.
    auto least = [&](auto&& g, bool multiply, auto&& raise, auto&& less) {
        const std::vector<std::int32_t> x = LeastChoice(lo, hi, T, raise, less);
        long double value = multiply ? 1.0L : 0.0L;
        for (std::size_t k = 0; k < uK; ++k) value = multiply ? value * g(k, x[k]) : value + g(k, x[k]);
        return value;
    };
    // The greatest, over the vertices.
    auto greatest = [&](auto&& g, bool multiply) {
        return GreatestAtVertex(
            lo, hi, T, g,
            [multiply](long double value, long double part) { return multiply ? value * part : value + part; },
            multiply ? 1.0L : 0.0L, -std::numeric_limits<long double>::max());
    };
    auto difference = [](auto&& g) {
        return [g](std::size_t k, std::int32_t x) { return g(k, x + 1) - g(k, x); };
    };
    auto below = [](long double a, long double b) { return a < b; };
    // Raising x_k multiplies the product by (x + 1) / (r_k - x): compared
    // exactly as integers.
    auto ratio = [&](std::size_t k, std::int32_t x) {
        return std::pair<std::int64_t, std::int64_t>{x + 1, remaining[k] - x};
    };
    auto belowRatio = [](const std::pair<std::int64_t, std::int64_t>& a, const std::pair<std::int64_t, std::int64_t>& b) {
        return a.first * b.second < b.first * a.second;
    };
    constexpr long double widen = 0x1p-50L;
    if (probability) {
        // The factor is least where the product is greatest.
        result.Low[kProbability] = Numerator(stage) / greatest(product, true) * (1.0L - widen);
        result.High[kProbability] = Numerator(stage) / least(product, true, ratio, belowRatio) * (1.0L + widen);
        const long double margin = widen * (static_cast<long double>(nLogN_[static_cast<std::size_t>(sum)]) + 1.0L);
        result.Low[kLikelihoodRatio] = least(lr, false, difference(lr), below) - margin;
        result.High[kLikelihoodRatio] = greatest(lr, false) + margin;
    } else {
        const long double margin = widen * (terms_.PearsonMagnitude() + 1.0L);
        result.Low[kPearson] = least(chi, false, difference(chi), below) - margin;
        result.High[kPearson] = greatest(chi, false) + margin;
    }
}

Entry Network::Extend(const Entry& e, std::uint64_t ways, long double factor, long double own) const {
    Entry child;
    child.Ways = e.Ways * ways;
    child.Mass = e.Mass * factor * static_cast<long double>(ways);
    child.Low = Combine(e.Low, own);
    child.High = Combine(e.High, own);
    return child;
}

std::int64_t Network::Quantise(long double value) const {
    if (ordering_ == kProbability) {
        // The exponent e and the mantissa m in [1/2, 1) of frexp, m rounded
        // to 46 bits: read off the extended format (64 mantissa bits with
        // the leading one explicit, 15 exponent bits with bias 16383) for a
        // positive normal value, as a past product of column factors
        // (each at least 1) is; other values go through frexp.
        std::uint64_t bits = 0;
        std::uint16_t top = 0;
        std::memcpy(&bits, &value, sizeof bits);
        std::memcpy(&top, reinterpret_cast<const unsigned char*>(&value) + sizeof bits, sizeof top);
        std::int64_t exponent = 0, mantissa = 0;
        if (top > 0 && top < 0x7FFF && (bits >> 63) != 0) {
            exponent = static_cast<std::int64_t>(top) - 16382;
            mantissa = static_cast<std::int64_t>((bits >> 18) + ((bits >> 17) & 1u));
        } else {
            int e = 0;
            const long double m = std::frexp(value, &e);
            exponent = e;
            mantissa = std::llround(m * 0x1p46L);
        }
        return exponent * (std::int64_t{1} << 48) + mantissa;
    }
    // llround, inline: an integer within one of x, as the processor rounds
    // it in whatever mode (a cast would switch the mode to truncation and
    // back, twice the time), moved to the nearest with halves away from
    // zero; the fraction x - q is exact.
    const long double x = value / quantum_[ordering_];
    if (!(std::fabs(x) < 0x1p62L)) return std::llround(x);
    std::int64_t q = 0;
    asm("fistpll %0" : "=m"(q) : "t"(x) : "st");
    const long double fraction = x - static_cast<long double>(q);
    if (fraction > 0.5L || (fraction == 0.5L && x > 0.0L))
        ++q;
    else if (fraction < -0.5L || (fraction == -0.5L && x < 0.0L))
        --q;
    return q;
}

std::pair<long double, long double> Network::Range(const Entry& e, long double futureLow,
                                                   long double futureHigh) const {
    if (ordering_ == kProbability)
        return {e.Low * futureLow / normaliser_ * (1.0L - probabilitySlack_),
                e.High * futureHigh / normaliser_ * (1.0L + probabilitySlack_)};
    const long double scale = scale_[ordering_];
    const long double offset = offset_[ordering_];
    return {scale * (e.Low + futureLow - offset) - slack_[ordering_],
            scale * (e.High + futureHigh - offset) + slack_[ordering_]};
}

int Network::Decide(int ordering, long double low, long double high, double b) {
    const double tolerance = tolerance_[ordering];
    // Near the least doubles the direct probability's rounding to double is
    // absolute and coarser than the band (at 1e-316 one step of the least
    // double is 1e-8 of the value, the tolerance 1e-10), and the observed
    // one may be rounded to 0. A value within [low, high] rounds to a double
    // between those the ends round to (rounding keeps order), and the rule's
    // class rises with the value: the ends' doubles, classed by the rule
    // itself, decide when they agree.
    if (ordering == kProbability && (b < kLeastNormalDouble || low < kLeastNormalDouble)) {
        const int lowClass = TallyClass(TallyKind::Probability, static_cast<double>(low), b);
        const int highClass = TallyClass(TallyKind::Probability, static_cast<double>(high), b);
        return lowClass == highClass ? lowClass : -1;
    }
    // The direct rule forms d = |a - b| / (a + b) in extended precision and
    // rounds it to double before comparing it with the tolerance: a margin
    // of 1e-13 of the tolerance covers those roundings.
    const long double inside = tolerance * (1.0L - 1e-13L);
    const long double outside = tolerance * (1.0L + 1e-13L);
    const long double lb = b;
    if (!(low + lb > 0.0L)) return -1;
    if (high < lb && lb - high > outside * (high + lb)) return 0;
    if (low > lb && low - lb > outside * (low + lb)) return 2;
    if (std::fabs(low - lb) < inside * (low + lb) && std::fabs(high - lb) < inside * (high + lb)) return 1;
    return -1;
}

// For a value a > -b: a is less when a < b (1 - t) / (1 + t) and greater when
// a > b (1 + t) / (1 - t) (t the tolerance widened by the margin of Decide),
// equal when strictly between the same bounds for the narrowed tolerance.
// The value is the past part combined with the completion's, widened by the
// slack, which gives the cuts on the completion's part (PrepareCuts forms
// what does not depend on the entry); each cut is moved 2^-56 of its size
// (or of the values it is formed from) towards the undecided side, which
// covers the roundings of this arithmetic.
Network::Cuts Network::CutsFor(const Entry& e) const {
    constexpr long double guard = 0x1p-56L;
    const Cuts& c = passCuts_;
    if (ordering_ == kProbability) {
        // value = past x v / normaliser, within the relative slack.
        const long double overHigh = (1.0L - guard) / e.High;
        const long double overLow = (1.0L + guard) / e.Low;
        return {c.Less * overHigh, c.EqualLow * overLow, c.EqualHigh * overHigh, c.Greater * overLow};
    }
    const long double size = guard * (std::fabs(e.Low) + std::fabs(e.High)) + passGuard_;
    return {c.Less - e.High - size, c.EqualLow - e.Low + size, c.EqualHigh - e.High - size, c.Greater - e.Low + size};
}

void Network::PrepareCuts() {
    const long double t = tolerance_[ordering_];
    const long double inside = t * (1.0L - 1e-13L);
    const long double outside = t * (1.0L + 1e-13L);
    const long double b = observed_[ordering_];
    const long double lessBound = b * (1.0L - outside) / (1.0L + outside);
    const long double greaterBound = b * (1.0L + outside) / (1.0L - outside);
    const long double equalLow = b * (1.0L - inside) / (1.0L + inside);
    const long double equalHigh = b * (1.0L + inside) / (1.0L - inside);
    constexpr long double guard = 0x1p-56L;
    if (ordering_ == kProbability) {
        const long double up = normaliser_ / (1.0L + probabilitySlack_);
        const long double down = normaliser_ / (1.0L - probabilitySlack_);
        // The direct value is rounded to double, near 0 to within half the
        // least double: the bounds are moved by that (which leaves them as
        // they are unless the observed probability lies near the least
        // doubles). Observed rounded to 0: nothing is less, what rounds to
        // 0 too is equal, the rest greater.
        if (b == 0.0L)
            passCuts_ = {0.0L, 0.0L, kHalfLeastDouble * up, kHalfLeastDouble * down};
        else
            passCuts_ = {(lessBound - kHalfLeastDouble) * up, (equalLow + kHalfLeastDouble) * down,
                         (equalHigh - kHalfLeastDouble) * up, (greaterBound + kHalfLeastDouble) * down};
        passGuard_ = 0.0L;
        return;
    }
    const long double scale = scale_[ordering_];
    const long double s = slack_[ordering_];
    const long double offset = offset_[ordering_];
    passCuts_ = {(lessBound - s) / scale + offset, (equalLow + s) / scale + offset, (equalHigh - s) / scale + offset,
                 (greaterBound + s) / scale + offset};
    passGuard_ = guard * (std::fabs(b) + s + 4.0L * std::fabs(offset));
}

const Network::Completions* Network::CompletionsOf(int stage, std::int32_t node) {
    if (Listed(stage, node)) {
        const std::int32_t at = listOf_[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)];
        return at == kUnlistable ? nullptr : &lists_[static_cast<std::size_t>(at)];
    }
    const Node& n = NodeAt(stage, node);
    // A node that cannot be listed is remembered as an empty list.
    if (n.Count > limits_.ListedNode || listed_ + n.Count > kListLimit) {
        return Remember(stage, node, Completions{});
    }
    Completions list;
    list.Scale = n.Closed;
    // Appends completions in order of value; equal values share an entry.
    // The running sum is kept in extended precision.
    long double sum = 0.0L;
    std::uint64_t count = 0;
    const long double perScale = 1.0L / n.Closed;
    auto append = [&](long double value, long double mass, std::uint64_t ways) {
        if (list.Items.empty() || list.Items.back().Value != value)
            list.Items.push_back({value, count, static_cast<double>(sum * perScale)});
        sum += mass;
        count += ways;
    };
    if (stage == stages_) {
        append(ordering_ == kProbability ? 1.0L : 0.0L, 1.0L, 1);
    } else if (stage == stages_ - 2) {
        struct Item {
            long double Value;
            long double Mass;
        };
        WorkVector<Item> items;
        items.reserve(n.Count);
        list.Items.reserve(n.Count + 1);
        CompleteTables(stage, Remaining(stage, node),
                       [&](long double value, long double factor) { items.push_back({value, factor}); });
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.Value < b.Value; });
        for (const Item& item : items) append(item.Value, item.Mass, 1);
    } else {
        WorkVector<Child> scratch;
        const std::span<const Child> kids = ChildrenOf(stage, node, scratch);
        std::vector<const Completions*> below(kids.size());
        for (std::size_t k = 0; k < kids.size(); ++k) {
            below[k] = CompletionsOf(Next(stage), kids[k].Node);
            if (below[k] == nullptr) return Remember(stage, node, Completions{});
        }
        std::size_t most = 0;
        for (const Completions* b : below) most += b->Size();
        // (Reserved pages that stay unused are never touched.)
        list.Items.reserve(most + 1);
        if (ordering_ != kProbability) {
            SortChildren(kids, below, append);
        } else {
            MergeChildren(kids, below, append);
        }
    }
    list.Items.push_back({list.Items.back().Value, count, static_cast<double>(sum * perScale)});
    listed_ += list.Size();
    const Completions* const listed = Remember(stage, node, std::move(list));
    Tick(listed->Size());
    return listed;
}

// Each child's completions come sorted (multiplying by the child's own
// value keeps their order): they are merged with a heap of the children's
// next completions.
template <typename Append>
void Network::MergeChildren(std::span<const Child> kids, const std::vector<const Completions*>& below,
                            Append&& append) const {
    struct Cursor {
        long double Value;
        std::uint32_t Child;
        std::uint32_t At;
    };
    auto later = [](const Cursor& a, const Cursor& b) { return a.Value > b.Value; };
    std::vector<Cursor> heap;
    heap.reserve(kids.size());
    for (std::size_t k = 0; k < kids.size(); ++k)
        heap.push_back({Combine(Own(kids[k]), below[k]->Value(0)), static_cast<std::uint32_t>(k), 0});
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        Cursor& top = heap.back();
        const Child& c = kids[top.Child];
        const Completions& from = *below[top.Child];
        append(top.Value, from.Mass(top.At, top.At + 1) * c.Factor * static_cast<long double>(c.Ways),
               from.Ways(top.At, top.At + 1) * c.Ways);
        if (++top.At < from.Size()) {
            top.Value = Combine(Own(c), from.Value(top.At));
            std::push_heap(heap.begin(), heap.end(), later);
        } else {
            heap.pop_back();
        }
    }
}

// The statistics' values of a node's completions spread over its range: a
// counting sort into as many buckets as there are values, by their place
// in the range (a monotone map, so the buckets come in order of value),
// then a sort within each bucket, costs about a constant per value.
template <typename Append>
void Network::SortChildren(std::span<const Child> kids, const std::vector<const Completions*>& below,
                           Append&& append) {
    gathered_.clear();
    long double lo = std::numeric_limits<long double>::max();
    long double hi = std::numeric_limits<long double>::lowest();
    for (std::size_t k = 0; k < kids.size(); ++k) {
        const Child& c = kids[k];
        const Completions& from = *below[k];
        const long double own = Own(c);
        const long double factor = c.Factor * static_cast<long double>(c.Ways);
        lo = std::min(lo, own + from.Value(0));
        hi = std::max(hi, own + from.Value(from.Size() - 1));
        for (std::size_t i = 0; i < from.Size(); ++i)
            gathered_.push_back({own + from.Value(i), from.Mass(i, i + 1) * factor, from.Ways(i, i + 1) * c.Ways});
    }
    const std::size_t m = gathered_.size();
    // (A range too narrow for a finite scale puts everything in one bucket.)
    const auto width = static_cast<double>(hi - lo);
    const double scale = width > 0.0 ? static_cast<double>(m) / width : 0.0;
    const double per = std::isfinite(scale) ? scale : 0.0;
    auto bucketOf = [&](long double v) {
        return std::min(m - 1, static_cast<std::size_t>(static_cast<double>(v - lo) * per));
    };
    bucketStart_.assign(m + 1, 0);
    for (const Gathered& g : gathered_) ++bucketStart_[bucketOf(g.Value) + 1];
    for (std::size_t b = 0; b < m; ++b) bucketStart_[b + 1] += bucketStart_[b];
    spread_.resize(m);
    {
        WorkVector<std::size_t>& next = bucketNext_;
        next.assign(bucketStart_.begin(), bucketStart_.end() - 1);
        for (const Gathered& g : gathered_) spread_[next[bucketOf(g.Value)]++] = g;
    }
    auto byValue = [](const Gathered& a, const Gathered& b) { return a.Value < b.Value; };
    for (std::size_t b = 0; b < m; ++b) {
        const auto from = static_cast<std::ptrdiff_t>(bucketStart_[b]);
        const auto to = static_cast<std::ptrdiff_t>(bucketStart_[b + 1]);
        if (to - from > 1) std::sort(spread_.begin() + from, spread_.begin() + to, byValue);
    }
    for (const Gathered& g : spread_) append(g.Value, g.Mass, g.Ways);
}

// Where the classes of a list's completions start and end for the cuts
// of an entry: less in [0, b0), equal in [b1, b2), greater in [b3, size).
// exact() gives the entry itself, for completions too close to call.
template <typename Exact>
void Network::Split(Exact&& exact, const Completions& list, const Cuts& cuts, std::size_t* hints,
                    std::size_t* bounds) const {
    const Completions::Item* v = list.Items.data();
    const std::size_t size = list.Size();
    // The four cuts lie within the narrow tolerance band of each other:
    // each is sought from where the one before it fell.
    bounds[0] = Boundary(size, [&](std::size_t i) { return v[i].Value < cuts.Less; }, hints[0]);
    hints[1] = bounds[0];
    bounds[1] = Boundary(size, [&](std::size_t i) { return v[i].Value <= cuts.EqualLow; }, hints[1]);
    hints[2] = bounds[1];
    bounds[2] = Boundary(size, [&](std::size_t i) { return v[i].Value < cuts.EqualHigh; }, hints[2]);
    hints[3] = bounds[2];
    bounds[3] = Boundary(size, [&](std::size_t i) { return v[i].Value <= cuts.Greater; }, hints[3]);
    if (bounds[0] != bounds[1] || bounds[2] != bounds[3] || bounds[1] > bounds[2]) {
        // Some completion lies near a band edge: the classes by the exact
        // rule, which run less, (too close to call), equal, (too close to
        // call), greater in the order of the completions.
        const Entry e = exact();
        auto classOf = [&](std::size_t i) {
            const auto [low, high] = Range(e, v[i].Value, v[i].Value);
            return Decide(ordering_, low, high, observed_[ordering_]);
        };
        std::size_t none[2] = {kNoHint, kNoHint};
        const std::size_t first = Boundary(size, [&](std::size_t i) { return classOf(i) == 0; }, none[0]);
        const std::size_t last = Boundary(size, [&](std::size_t i) { return classOf(i) != 2; }, none[1]);
        if (first < last && (classOf(first) != 1 || classOf(last - 1) != 1)) throw GiveUp{};
        bounds[0] = bounds[1] = first;
        bounds[2] = bounds[3] = last;
    }
}

// The cuts of an entry formed once for all children of its node: for the
// statistics the child's own value is then subtracted, for the
// probability divided out. The guard is twice that of CutsFor and counts
// the greatest own value, which covers the one more rounding.
Network::NodeCuts Network::CutsBeforeChildren(const WorkVector<Entry>& open, std::span<const Child> kids) const {
    constexpr long double guard = 0x1p-55L;
    const std::size_t count = open.size();
    NodeCuts cuts;
    WorkVector<Cuts>& result = cuts.Of;
    result.resize(count);
    const Cuts& c = passCuts_;
    long double own = 0.0L;
    for (const Child& kid : kids) own = std::max(own, std::fabs(Own(kid)));
    for (std::size_t i = 0; i < open.size(); ++i) {
        const Entry& e = open[i];
        if (ordering_ == kProbability) {
            const long double overHigh = (1.0L - guard) / e.High;
            const long double overLow = (1.0L + guard) / e.Low;
            result[i] = {c.Less * overHigh, c.EqualLow * overLow, c.EqualHigh * overHigh, c.Greater * overLow};
            continue;
        }
        const long double size = guard * (std::fabs(e.Low) + std::fabs(e.High) + 2.0L * own) + 2.0L * passGuard_;
        result[i] = {c.Less - e.High - size, c.EqualLow - e.Low + size, c.EqualHigh - e.High - size,
                     c.Greater - e.Low + size};
    }
    cuts.LessEnvelope.resize(count);
    cuts.GreaterEnvelope.resize(count);
    cuts.WaysBefore.assign(count + 1, 0);
    cuts.MassBefore.assign(count + 1, 0.0L);
    for (std::size_t i = 0; i < count; ++i) {
        cuts.LessEnvelope[i] = i == 0 ? result[i].Less : std::min(cuts.LessEnvelope[i - 1], result[i].Less);
        cuts.WaysBefore[i + 1] = cuts.WaysBefore[i] + open[i].Ways;
        cuts.MassBefore[i + 1] = cuts.MassBefore[i] + open[i].Mass;
    }
    for (std::size_t i = count; i-- > 0;)
        cuts.GreaterEnvelope[i] =
            i + 1 == count ? result[i].Greater : std::max(cuts.GreaterEnvelope[i + 1], result[i].Greater);
    return cuts;
}

void Network::SettleThroughChild(const WorkVector<Entry>& open, const NodeCuts& cuts, const Child& c,
                                 const Node& child, const Completions& list) {
    Tick(open.size());
    std::size_t hints[4] = {kNoHint, kNoHint, kNoHint, kNoHint};
    WideCount ways[3] = {0, 0, 0};
    long double mass[3] = {0.0L, 0.0L, 0.0L};
    const long double own = Own(c);
    const bool probability = ordering_ == kProbability;
    const std::size_t size = list.Size();
    // The cuts for this child: the child's own value taken off.
    auto shift = [&](long double cut) { return probability ? cut / own : cut - own; };
    const auto [first, last] =
        SettleRuns(cuts, c, list.Value(0), list.Value(size - 1), list.Ways(0, size),
                   static_cast<long double>(list.Items[size].Share - list.Items[0].Share) * list.Scale);
    for (std::size_t i = first; i < last; ++i) {
        const Entry& e = open[i];
        const Cuts& base = cuts.Of[i];
        const Cuts shifted{shift(base.Less), shift(base.EqualLow), shift(base.EqualHigh), shift(base.Greater)};
        std::size_t bounds[4];
        Split([&] { return Extend(e, c); }, list, shifted, hints, bounds);
        const std::size_t from[3] = {0, bounds[1], bounds[3]};
        const std::size_t to[3] = {bounds[0], bounds[2], size};
        for (int which = 0; which < 3; ++which) {
            if (from[which] >= to[which]) continue;
            const Completions::Item& low = list.Items[from[which]];
            const Completions::Item& high = list.Items[to[which]];
            ways[which] += e.Ways * (high.Ways - low.Ways);
            mass[which] += e.Mass * static_cast<long double>(high.Share - low.Share);
        }
    }
    // Every partial table here goes on through the child's c.Ways column
    // vectors, each with the factor c.Factor.
    const long double factor = c.Factor * static_cast<long double>(c.Ways) * list.Scale;
    for (int which = 0; which < 3; ++which) {
        counts_[ordering_][which] += ways[which] * c.Ways;
        masses_[ordering_][which] += mass[which] * factor;
    }
    settled_ += (cuts.WaysBefore[last] - cuts.WaysBefore[first]) * c.Ways * child.Count;
}

std::pair<std::size_t, std::size_t> Network::SettleRuns(const NodeCuts& cuts, const Child& c, long double least,
                                                        long double greatest, WideCount ways, long double mass) {
    const long double own = Own(c);
    const bool probability = ordering_ == kProbability;
    // The cuts for this child: the child's own value taken off (a monotone
    // step, so the envelopes keep their order and stay no looser).
    auto shift = [&](long double cut) { return probability ? cut / own : cut - own; };
    // Partial tables [0, first) have every completion below their less cut
    // and [last, count) every one above their greater cut: all less, all
    // greater, as the search would find.
    const std::size_t count = cuts.Of.size();
    std::size_t runs = kNoHint;  // the second search starts where the first ended
    const std::size_t first =
        Boundary(count, [&](std::size_t i) { return greatest < shift(cuts.LessEnvelope[i]); }, runs);
    const std::size_t last =
        Boundary(count, [&](std::size_t i) { return !(least > shift(cuts.GreaterEnvelope[i])); }, runs);
    // Every partial table goes on through the child's c.Ways column
    // vectors, each with the factor c.Factor.
    const WideCount allWays = ways * c.Ways;
    const long double factor = c.Factor * static_cast<long double>(c.Ways) * mass;
    const WideCount less = cuts.WaysBefore[first], greater = cuts.WaysBefore[count] - cuts.WaysBefore[last];
    counts_[ordering_][0] += less * allWays;
    masses_[ordering_][0] += cuts.MassBefore[first] * factor;
    counts_[ordering_][2] += greater * allWays;
    masses_[ordering_][2] += (cuts.MassBefore[count] - cuts.MassBefore[last]) * factor;
    settled_ += (less + greater) * allWays;
    return {first, last};
}

template <typename Whole, typename Line, typename Emit>
void Network::CompleteTables(int stage, const std::vector<std::int32_t>& remaining, Whole&& whole, Line&& line,
                             Emit&& emit) const {
    constexpr bool offered = !std::is_same_v<std::decay_t<Whole>, std::nullptr_t>;
    constexpr bool lines = !std::is_same_v<std::decay_t<Line>, std::nullptr_t>;
    const auto K = static_cast<std::size_t>(lines_);
    const std::int32_t T = stageTotal_[static_cast<std::size_t>(stage)];
    const TwoColumns ranges = RangesOf(stage, remaining);
    const std::vector<std::int32_t>& lo = ranges.Lo;
    const std::vector<std::int32_t>& hi = ranges.Hi;
    // Line k: inverse[k][x - lo] = 1 / (x! (r - x)!) and part[k][x - lo]
    // the ordering's two cell terms.
    std::vector<std::vector<long double>> inverse(K), part(K);
    for (std::size_t k = 0; k < K; ++k) {
        inverse[k].reserve(static_cast<std::size_t>(hi[k] - lo[k] + 1));
        part[k].reserve(static_cast<std::size_t>(hi[k] - lo[k] + 1));
        for (std::int32_t x = lo[k]; x <= hi[k]; ++x) {
            inverse[k].push_back(1.0L / LineProduct(remaining[k], x));
            part[k].push_back(ordering_ == kLikelihoodRatio ? LineLr(remaining[k], x)
                              : ordering_ == kPearson       ? LineChi(stage, k, remaining[k], x)
                                                            : 0.0L);
        }
    }
    std::vector<std::int32_t> most(K + 1, 0), least(K + 1, 0);
    for (std::size_t k = K; k-- > 0;) {
        most[k] = most[k + 1] + hi[k];
        least[k] = least[k + 1] + lo[k];
    }
    const bool probability = ordering_ == kProbability;
    // For the tables offered whole, the remainders of every line: the least
    // and greatest product of inverses (probability) or sum of parts, their
    // number and the sum of the products of their inverses. The bounds are
    // widened by far more than the rounding of any evaluation (of a few
    // ulps per line), a relative 2^-50 of the product or of the largest
    // magnitude the sum can take. (A product of inverses over any of the
    // lines is at least 1 / (T! T'!) >= 1 / N!, so none of them underflows.)
    Remainders<long double> rest;
    long double magnitude = 0.0L;
    constexpr long double kWiden = 0x1p-50L;
    if constexpr (offered) {
        for (std::size_t k = 0; k < K; ++k) {
            long double largest = 0.0L;
            for (const long double p : part[k]) largest = std::max(largest, std::fabs(p));
            magnitude += largest;
        }
        auto inverseOf = [&](std::size_t k, std::int32_t x) { return inverse[k][static_cast<std::size_t>(x - lo[k])]; };
        const FactorialTable& f = state_.Factorials;
        auto factorial = [&f](std::int32_t n) { return f[static_cast<std::size_t>(n)]; };
        FormRemainders(
            lo, hi, T,
            [&](std::size_t k, std::int32_t x) {
                return probability ? inverseOf(k, x) : part[k][static_cast<std::size_t>(x - lo[k])];
            },
            inverseOf, [&](long double a, long double b) { return probability ? a * b : a + b; }, rest,
            probability ? PairShape::Peak : PairShape::Dip,
            FactorialPairWeight(factorial, remaining[K - 2], remaining[K - 1]));
    }
    // Depth first over the lines with what is left of T; the last line
    // takes the rest.
    static_assert(offered || !lines);
    auto place = [&](auto& self, std::size_t k, std::int32_t left, long double factor, long double value) -> void {
        // Bounds of every value among the remaining tables, and how far
        // each may be from its exact value (where offered).
        long double low = 0.0L, high = 0.0L, slack = 0.0L;
        if constexpr (offered) {
            const RemainderRange<long double>& r = rest.Of(k, left);
            if (r.Count >= 4) {
                if (probability) {
                    low = factor * r.Least * (1.0L - kWiden);
                    high = factor * r.Greatest * (1.0L + kWiden);
                    slack = kWiden * high;
                } else {
                    slack = kWiden * (std::fabs(value) + magnitude);
                    low = value + r.Least - slack;
                    high = value + r.Greatest + slack;
                }
                if (whole(low, high, r.Count, factor * r.Weight)) return;
            }
        }
        const std::int32_t from = std::max(lo[k], left - most[k + 1]);
        const std::int32_t to = std::min(hi[k], left - least[k + 1]);
        if (k + 2 == K) {
            const std::size_t z = K - 1;
            auto at = [&](std::int32_t x) {
                const auto i = static_cast<std::size_t>(x - lo[k]);
                const auto last = static_cast<std::size_t>(left - x - lo[z]);
                const long double g = factor * inverse[k][i] * inverse[z][last];
                return std::pair<long double, long double>{probability ? g : value + part[k][i] + part[z][last], g};
            };
            if constexpr (lines) {
                if (to - from >= kRunsFrom) {
                    line(from, to, at, low, high, slack);
                    return;
                }
            }
            for (std::int32_t x = from; x <= to; ++x) {
                const auto [v, g] = at(x);
                emit(v, g);
            }
            return;
        }
        for (std::int32_t x = from; x <= to; ++x) {
            const auto at = static_cast<std::size_t>(x - lo[k]);
            self(self, k + 1, left - x, factor * inverse[k][at], value + part[k][at]);
        }
    };
    place(place, 0, T, Numerator(stage), 0.0L);
}

// The four cuts of every partial table, sorted, split the values into
// buckets; within a bucket each partial table's class is the same for
// every completion, unless the bucket lies in one of its two too-close
// gaps. A completion is therefore only counted into its bucket (the last
// table's bucket tried first, else found by bisection), and each partial
// table takes the sums of the buckets of its classes; groups of tables, or
// runs along the last line, that stay within one bucket are counted
// together, and completions in a gap bucket, or exactly on a cut, are
// classified one by one for every partial table.
void Network::SettleDirectly(int stage, std::int32_t node, const WorkVector<Entry>& open) {
    const Node& n = NodeAt(stage, node);
    const std::size_t count = open.size();
    std::vector<Cuts> cuts(count);
    std::vector<long double> edges;
    edges.reserve(4 * count);
    for (std::size_t i = 0; i < count; ++i) {
        cuts[i] = CutsFor(open[i]);
        edges.insert(edges.end(), {cuts[i].Less, cuts[i].EqualLow, cuts[i].EqualHigh, cuts[i].Greater});
    }
    std::sort(edges.begin(), edges.end());
    const std::size_t m = edges.size();
    // Bucket k holds the values between edges[k - 1] and edges[k]; below(c)
    // is the number of edges below c.
    auto below = [&](long double c) {
        return static_cast<std::size_t>(std::lower_bound(edges.begin(), edges.end(), c) - edges.begin());
    };
    // The statistics' values are placed by bisection in double precision:
    // rounding is monotone, so a rounded edge below the rounded value is an
    // edge below the value, one above it an edge above; only edges that
    // round to the value itself need the extended comparison. (The
    // probability's factors may lie outside the double range.)
    const bool rounded = ordering_ != kProbability;
    std::vector<double> near(rounded ? m : 0);
    for (std::size_t k = 0; k < near.size(); ++k) near[k] = static_cast<double>(edges[k]);
    auto searched = [&](long double v) {
        if (!rounded) return below(v);
        const double d = static_cast<double>(v);
        auto k = static_cast<std::size_t>(std::lower_bound(near.begin(), near.end(), d) - near.begin());
        while (k < m && near[k] == d && edges[k] < v) ++k;
        return k;
    };
    // Consecutive tables' values are close: the bucket of the last one is
    // tried first (it is v's, the number of edges below v, when the edge
    // before it is below v and the edge at it is not).
    std::size_t last = 0;
    auto bucketOf = [&](long double v) __attribute__((always_inline)) {
        if ((last == 0 || edges[last - 1] < v) && (last == m || !(edges[last] < v))) return last;
        last = searched(v);
        return last;
    };
    // Per partial table: less in buckets [0, lessTo), equal in [equalFrom,
    // equalTo), greater in [greaterFrom, m]; the rest are its gaps.
    struct Span {
        std::size_t LessTo, EqualFrom, EqualTo, GreaterFrom;
    };
    std::vector<Span> spans(count);
    std::vector<int> gapStarts(m + 2, 0);
    auto gap = [&](std::size_t from, std::size_t to) {
        if (from >= to) return;
        ++gapStarts[from];
        --gapStarts[to];
    };
    for (std::size_t i = 0; i < count; ++i) {
        const Cuts& c = cuts[i];
        Span& span = spans[i];
        span.LessTo = below(c.Less) + 1;
        span.EqualFrom = below(c.EqualLow) + 1;
        span.EqualTo = std::max(span.EqualFrom, below(c.EqualHigh) + 1);
        span.GreaterFrom = below(c.Greater) + 1;
        if (span.EqualFrom < span.EqualTo) {
            gap(span.LessTo, span.EqualFrom);
            gap(span.EqualTo, span.GreaterFrom);
        } else {
            gap(span.LessTo, span.GreaterFrom);
        }
    }
    std::vector<char> inGap(m + 1, 0);
    for (std::size_t k = 0, inside = 0; k <= m; ++k) {
        inside = static_cast<std::size_t>(static_cast<long>(inside) + gapStarts[k]);
        inGap[k] = inside > 0;
    }
    std::vector<std::uint64_t> bucketWays(m + 1, 0);
    std::vector<long double> bucketMass(m + 1, 0.0L);
    // Per partial table and class: completions classified one by one.
    std::vector<std::uint64_t> ways(3 * count, 0);
    std::vector<long double> mass(3 * count, 0.0L);
    const int ordering = ordering_;
    // Tables whose values all lie strictly within one bucket that is no
    // partial table's gap are counted into it together.
    auto whole = [&](long double low, long double high, std::uint64_t tables, long double factor) {
        const std::size_t k = below(low);
        if ((k < m && !(high < edges[k])) || inGap[k]) return false;
        Tick();
        bucketWays[k] += tables;
        bucketMass[k] += factor;
        return true;
    };
    auto one = [&](long double v, long double factor) __attribute__((always_inline)) {
        Tick();  // (a break-off leaves this node's tables unsettled: none of them is counted)
        const std::size_t k = bucketOf(v);
        if (!inGap[k] && (k == m || edges[k] != v)) {
            ++bucketWays[k];
            bucketMass[k] += factor;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const Cuts& c = cuts[i];
            int which = 0;
            if (v < c.Less)
                which = 0;
            else if (v > c.Greater)
                which = 2;
            else if (v > c.EqualLow && v < c.EqualHigh)
                which = 1;
            else {
                const auto [low, high] = Range(open[i], v, v);
                which = Decide(ordering, low, high, observed_[ordering]);
                if (which < 0) throw GiveUp{};
            }
            ++ways[3 * i + static_cast<std::size_t>(which)];
            mass[3 * i + static_cast<std::size_t>(which)] += factor;
        }
    };
    // A line's values rise to a turn and fall (probability: a product of
    // log-concave parts) or fall and rise (the statistics: sums of convex
    // parts). On either side of the turn the tables in one bucket are
    // consecutive: from a table in a bucket that is no gap, the last one
    // still strictly inside it is found by galloping and bisection, and the
    // run up to it is counted at once where both its ends lie inside by more
    // than the slack. (The exact values between the ends lie between theirs,
    // near the turn to within rounding; so every evaluated value does too,
    // to within twice the slack.) Other runs, tables on an edge and tables
    // in a gap are settled one by one.
    auto line = [&](std::int32_t from, std::int32_t to, auto&& at, long double low, long double high,
                    long double slack) {
        auto alone = [&](std::int32_t x, std::int32_t end) {
            for (; x <= end; ++x) {
                const auto [v, g] = at(x);
                one(v, g);
            }
        };
        // Runs pay where they are long: against the edges within the
        // line's values, at least a few tables for each run there can be.
        if (to - from + 1 < kTablesPerRun * static_cast<std::int32_t>(2 * (below(high) - below(low)) + 2)) {
            alone(from, to);
            return;
        }
        auto valueAt = [&](std::int32_t x) { return at(x).first; };
        auto runs = [&](std::int32_t x, std::int32_t end) {
            while (x <= end) {
                const auto [v, g] = at(x);
                const std::size_t k = bucketOf(v);
                if (inGap[k] || (k < m && edges[k] == v)) {
                    one(v, g);
                    ++x;
                    continue;
                }
                auto inside = [&](long double w) { return (k == 0 || edges[k - 1] < w) && (k == m || w < edges[k]); };
                const std::int32_t in = LastHolding(x, end, [&](std::int32_t y) { return inside(valueAt(y)); });
                const long double w = valueAt(in);
                if (inside(std::min(v, w) - 2.0L * slack) && inside(std::max(v, w) + 2.0L * slack)) {
                    long double sum = g;
                    for (std::int32_t y = x + 1; y <= in; ++y) sum += at(y).second;
                    Tick(static_cast<std::uint64_t>(in - x) + 1);
                    bucketWays[k] += static_cast<std::uint64_t>(in - x) + 1;
                    bucketMass[k] += sum;
                } else {
                    alone(x, in);
                }
                x = in + 1;
            }
        };
        const std::int32_t turn = TurnOf(from, to, ordering == kProbability ? PairShape::Peak : PairShape::Dip, valueAt);
        runs(from, turn);
        runs(turn + 1, to);
    };
    CompleteTables(stage, Remaining(stage, node), whole, line, one);
    std::vector<std::uint64_t> sumWays(m + 2, 0);
    std::vector<long double> sumMass(m + 2, 0.0L);
    for (std::size_t k = 0; k <= m; ++k) {
        sumWays[k + 1] = sumWays[k] + bucketWays[k];
        sumMass[k + 1] = sumMass[k] + bucketMass[k];
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Entry& e = open[i];
        const Span& span = spans[i];
        const std::size_t from[3] = {0, span.EqualFrom, span.GreaterFrom};
        const std::size_t to[3] = {span.LessTo, span.EqualTo, m + 1};
        for (std::size_t which = 0; which < 3; ++which) {
            const std::uint64_t w = ways[3 * i + which] + (from[which] < to[which] ? sumWays[to[which]] - sumWays[from[which]] : 0);
            const long double ms = mass[3 * i + which] + (from[which] < to[which] ? sumMass[to[which]] - sumMass[from[which]] : 0.0L);
            counts_[ordering_][which] += e.Ways * w;
            masses_[ordering_][which] += e.Mass * ms;
        }
        settled_ += e.Ways * n.Count;
    }
    Tick();
}

void Network::Settle(int which, const Entry& e, const Node& n) {
    counts_[ordering_][which] += e.Ways * n.Count;
    masses_[ordering_][which] += e.Mass * n.Closed;
    settled_ += e.Ways * n.Count;
}

void Network::CountFromHelper() {
    if (const WideCount count = beside_->CountSoFar(); count != 0) {
        total_ = count;
        state_.ExpectedSamplePoints = static_cast<double>(total_);
        state_.ExpectedPointsExact = true;
    }
}

void Network::Progress() {
    if (total_ == 0 && beside_ != nullptr) CountFromHelper();
    if (publishTo_ != nullptr) {
        publishTo_->PublishSettled(done_ + settled_ + latticeSettled_);
        if (publishTo_->Stop.load(std::memory_order_relaxed)) throw BrokenOff{};
        return;
    }
    if (limits_.MostSeconds > 0.0 && std::chrono::steady_clock::now() > deadline_) {
        outOfTime_ = true;
        throw BrokenOff{};
    }
    // What the progress displays and a progress report read: a share of
    // the count, once it is known (before, the estimate may be below the
    // sample points settled), and the sample points settled.
    if (ShowSettledProgress(state_, ports_, Settled(), total_)) throw BrokenOff{};
}

WideCount Network::Settled() const {
    WideCount settled = done_ + settled_ + latticeSettled_;
    if (beside_ != nullptr) settled += beside_->SettledSoFar();
    return passes_ == 0 ? 0 : settled / static_cast<WideCount>(passes_);
}

void Network::WriteTallies(WideCount points) {
    WriteSettledTallies(state_, tallied_, counts_, masses_, normaliser_, points);
}

bool Network::Prepare() {
    const ContingencyTable& t = state_.Table;
    terms_.Prepare(t, state_.ComputeLR, state_.ComputeChi);
    if (!terms_.Available() || !(state_.ObservedProbability >= 0.0)) return false;
    SetUpLines();
    // The probability graph's root's closed mass (its totals in decreasing
    // order), whichever passes this side runs.
    normaliser_ = ClosedMass(std::vector<std::int32_t>(lineTotal_.rbegin(), lineTotal_.rend()));
    tallied_[kLikelihoodRatio] = state_.Options.ExaLRtest;
    tallied_[kPearson] = state_.Options.ExaCStest;
    observed_[kProbability] = state_.ObservedProbability;
    observed_[kLikelihoodRatio] = state_.G2;
    observed_[kPearson] = state_.X2;

    // Rounding bounds. The direct probability is TableNumerator /
    // RowMultinomial, formed with about rc + c + 2 roundings of 2^-64, then
    // rounded to double; the value here with about rc + 2(r + c) + 8. The
    // statistics' sums of the same rc cell terms, here and there, are each
    // within (rc + S) 2^-53 of the sum of the terms' largest magnitudes.
    const double cells = static_cast<double>(t.Rows * t.Cols);
    const double roundings = cells + 2.0 * (t.Rows + t.Cols) + 8.0;
    probabilitySlack_ = 0x1p-52 + 4.0 * roundings * 0x1p-64;
    slack_[kPearson] = 4.0 * (cells + stages_ + 4.0) * 0x1p-53 * terms_.PearsonMagnitude();
    // The likelihood ratio is carried as sum n ln n (the same for every
    // cell, so rows are interchangeable as for the probability). The
    // direct G2 differs from 2 (V - offset) by its summation (as X2 above)
    // and by its cell terms n ln(n / e): e and n / e rounded, the logarithm
    // and the product each to within 2^-52, an error of at most
    // 2^-52 (2 n + 2 |term|) per cell. V, the offset and their difference
    // are sums of at most rc + r + c + 1 values n ln n in extended
    // precision, each at most N ln N in sum.
    const std::int32_t grand = t.GrandTotal();
    nLogN_.assign(static_cast<std::size_t>(grand) + 1, 0.0L);
    for (std::int32_t n = 1; n <= grand; ++n)
        nLogN_[static_cast<std::size_t>(n)] = static_cast<long double>(n) * std::log(static_cast<long double>(n));
    long double offset = nLogN_[static_cast<std::size_t>(grand)];
    for (int i = 1; i <= t.Rows; ++i) offset -= nLogN_[static_cast<std::size_t>(t.RowTotal(i))];
    for (int j = 1; j <= t.Cols; ++j) offset -= nLogN_[static_cast<std::size_t>(t.ColTotal(j))];
    offset_[kLikelihoodRatio] = -offset;
    const double lrMagnitude = terms_.LikelihoodRatioMagnitude();
    const double nLogNMagnitude = 4.0 * static_cast<double>(nLogN_[static_cast<std::size_t>(grand)]) + 1.0;
    slack_[kLikelihoodRatio] = 2.0 * (4.0 * (cells + stages_ + 4.0) * 0x1p-53 * lrMagnitude +
                                      4.0 * 0x1p-52 * (grand + lrMagnitude) +
                                      4.0 * (cells + t.Rows + t.Cols + 8.0) * 0x1p-64 * nLogNMagnitude);
    // Past values that agree to within these steps merge (their spread is
    // kept): far below the tolerances, far above the rounding noise.
    quantum_[kLikelihoodRatio] = nLogNMagnitude * 0x1p-46;
    quantum_[kPearson] = std::max(terms_.PearsonMagnitude(), 1e-300) * 0x1p-44;
    // An observed statistic within rounding of 0 leaves every other table's
    // class to rounding noise.
    for (int o = kLikelihoodRatio; o < kOrderings; ++o)
        if (tallied_[o] && !(observed_[o] > 4.0 * slack_[o])) return false;

    // (Unknown, 0, unless counted exactly beforehand. The state keeps that
    // count as a double: past 2^53 it may be rounded, and the graph's own
    // count is taken instead.)
    const bool countKept = state_.ExpectedPointsExact && state_.ExpectedSamplePoints <= 0x1p53;
    total_ = countKept ? static_cast<WideCount>(state_.ExpectedSamplePoints) : 0;
    passes_ = 0;
    for (int o = 0; o < kOrderings; ++o) passes_ += tallied_[o] ? 1 : 0;
    return true;
}

// One pass per ordering: a partial table then carries one past value, so
// far more of them merge than if all three were carried.
void Network::PassesInTurn() {
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o] || completed_[o]) continue;
        settled_ = 0;
        Pass(o);
        if (settled_ != total_) throw GiveUp{};
        done_ += total_;
        completed_[o] = true;
    }
}

// The passes are independent, so the two threads share them: each takes
// the next ordering neither has taken until none is left. The helper starts
// with the likelihood ratio's, in the default report the longer of its two;
// this thread with Pearson's where it is asked for (its integer count can
// take longest of all), else the probability's. The helper builds the
// probability's graph first, and this side runs on the same graph (only
// reading it, as the helper does) rather than build it again; each side
// holds at most half the memory for its passes. The helper's network is
// prepared here, before the thread starts, so that it only reads what this
// thread does not change. While its own passes run this thread shows the
// progress of both and takes the user's break-off; then it waits for the
// helper, still showing progress. A pass that gave up within its half is
// left to be settled again in turn. Pearson's count on its lattice, the one
// pass that can take far longer than the others, is offered to the helper
// once its own passes are done: it then settles chunks of the meeting's
// nodes beside this thread.
void Network::PassesBeside() {
    Network helper(state_, ports_, limits_);
    helper.limits_.MaxBytes = limits_.MaxBytes / 2;
    if (!helper.Prepare()) return;
    Beside beside;
    for (int o = 0; o < kOrderings; ++o)
        if (tallied_[o]) beside.Untaken.fetch_or(1u << o);
    helper.publishTo_ = &beside;
    std::exception_ptr failure;
    std::thread thread;
    try {
        thread = std::thread([&] {
            try {
                helper.TakePasses(beside, {kLikelihoodRatio, kProbability, kPearson});
                helper.HelpSettle(beside);
            } catch (...) {
                failure = std::current_exception();  // (a break-off)
            }
            beside.End();
        });
    } catch (const std::system_error&) {
        return;  // (no second thread: all in turn)
    } catch (const std::bad_alloc&) {
        return;
    }
    // Whichever way this thread leaves, the helper is stopped and joined
    // first.
    struct Joined {
        std::thread& Thread;
        Beside& With;
        ~Joined() {
            With.Stop.store(true, std::memory_order_relaxed);
            With.EndPasses();
            if (Thread.joinable()) Thread.join();
        }
    };
    const std::size_t fullBudget = limits_.MaxBytes;
    limits_.MaxBytes = fullBudget / 2;
    beside_ = &beside;
    {
        const Joined joined{thread, beside};
        try {
            // The count of sample points: this side's first graph gives
            // it (the helper's probability graph, which it waits for, or
            // Pearson's); Pearson's integer count, which needs no graph,
            // starts at once, and the progress takes the helper's count
            // once it has one.
            TakePasses(beside, {kPearson, kProbability, kLikelihoodRatio});
            beside.EndPasses();
            WaitHelping(beside);
            // (Without a count of the helper's, as where it gave up on its
            // graph, this side's graph gives it.)
            if (total_ == 0) CountFromHelper();
            if (total_ == 0) GraphFor(true);
        } catch (const BrokenOff&) {
            // What the helper settled counts with the rest.
            beside.Stop.store(true, std::memory_order_relaxed);
            beside.EndPasses();
            thread.join();
            Adopt(helper);
            done_ += helper.done_ + helper.settled_ + helper.latticeSettled_;
            beside_ = nullptr;
            limits_.MaxBytes = fullBudget;
            throw;
        }
    }
    beside_ = nullptr;
    limits_.MaxBytes = fullBudget;
    if (failure) return;  // (stopped: cannot happen once it ended by itself)
    Adopt(helper);
    for (int o = 0; o < kOrderings; ++o)
        completed_[o] = (ended_[o] && endedWith_[o] == total_) || (helper.ended_[o] && helper.endedWith_[o] == total_);
}

void Network::TakePasses(Beside& beside, std::initializer_list<int> preferred) {
    for (int o; (o = beside.Take(preferred)) >= 0;) {
        taken_[o] = true;
        try {
            settled_ = 0;
            Pass(o);
        } catch (const GiveUp&) {
            Forget(o);  // (settled again in turn)
            continue;
        } catch (const std::bad_alloc&) {
            Forget(o);
            continue;
        }
        ended_[o] = true;
        endedWith_[o] = settled_;
        done_ += settled_;
        settled_ = 0;
    }
}

void Network::Forget(int ordering) {
    std::fill(std::begin(counts_[ordering]), std::end(counts_[ordering]), 0);
    std::fill(std::begin(masses_[ordering]), std::end(masses_[ordering]), 0.0L);
    settled_ = 0;
    latticeSettled_ = 0;
}

void Network::HelpSettle(Beside& beside) {
    std::unique_lock<std::mutex> hold(beside.Changing);
    beside.PassesLeft = true;
    beside.Changed.notify_all();
    unsigned helped = 0;
    const std::function<void(std::uint64_t)> tick = [this](std::uint64_t steps) { Tick(steps); };
    while (!beside.PassesEnded && !beside.Stop.load(std::memory_order_relaxed))
        if (!beside.HelpWith(beside.ToHelper, helped, hold, tick))
            beside.Changed.wait_for(hold, std::chrono::milliseconds(20));
}

void Network::WaitHelping(Beside& beside) {
    unsigned helped = 0;
    const std::function<void(std::uint64_t)> tick = [this](std::uint64_t steps) { Tick(steps); };
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(beside.Changing);
            beside.Changed.wait_for(hold, std::chrono::milliseconds(20), [&] {
                return beside.Done || (beside.ToMain.Share != nullptr && beside.ToMain.Offered != helped);
            });
            if (beside.Done) return;
            beside.HelpWith(beside.ToMain, helped, hold, tick);
        }
        Progress();
    }
}

std::function<void(SharedWork*)> Network::OfferToOtherSide() {
    if (beside_ != nullptr) return [b = beside_](SharedWork* work) { b->Offer(b->ToHelper, work); };
    if (publishTo_ != nullptr) return [b = publishTo_](SharedWork* work) { b->Offer(b->ToMain, work); };
    return {};
}

void Network::Adopt(const Network& helper) {
    for (int o = 0; o < kOrderings; ++o) {
        if (!helper.taken_[o]) continue;
        std::copy(std::begin(helper.counts_[o]), std::end(helper.counts_[o]), std::begin(counts_[o]));
        std::copy(std::begin(helper.masses_[o]), std::end(helper.masses_[o]), std::begin(masses_[o]));
    }
}

NetworkOutcome Network::Run() {
    if (!Prepare()) return NetworkOutcome::NeedsEnumeration;
    try {
        if (limits_.PassesBeside && passes_ > 1) PassesBeside();
        // What the passes beside each other did not complete is settled
        // again in turn, with the whole memory.
        done_ = 0;
        for (int o = 0; o < kOrderings; ++o) {
            if (completed_[o]) {
                done_ += total_;
                continue;
            }
            std::fill(std::begin(counts_[o]), std::end(counts_[o]), 0);
            std::fill(std::begin(masses_[o]), std::end(masses_[o]), 0.0L);
        }
        PassesInTurn();
    } catch (const GiveUp&) {
        return NetworkOutcome::NeedsEnumeration;
    } catch (const std::bad_alloc&) {
        // Less memory than the limits allow for: the enumeration, whose
        // storage is small and fixed, takes the table (this run's memory
        // is freed on the way out).
        return NetworkOutcome::NeedsEnumeration;
    } catch (const BrokenOff&) {
        if (outOfTime_) return NetworkOutcome::NeedsEnumeration;
        WriteTallies(Settled());
        return NetworkOutcome::BrokenOff;
    }
    WriteTallies(total_);
    return NetworkOutcome::Completed;
}

bool Network::SettleOnLattice() {
    // The lattice counts in 64 bits: with 2^64 sample points or more its
    // counts would wrap. (Where the count is not known yet, a count that
    // wrapped cannot equal it once known, and the pass is settled again.)
    if (total_ > std::numeric_limits<std::uint64_t>::max()) return false;
    const ContingencyTable& t = state_.Table;
    // How far any evaluation of X2 from the cells is from its exact value.
    // A cell's term (n - e)^2 / e, with e = r c / N within 2^-52 of itself
    // and four roundings of 2^-53, is within 2^-53 (6 term + 4 n) of the
    // exact term (the derivative in e is (e^2 - n^2) / e^2, and n^2 / e =
    // term + 2 n - e); the sums of the rc terms, in any order, are within
    // (rc + 2(2rc + c + 4)) 2^-53 of their largest magnitudes' sum M.
    const double cells = static_cast<double>(t.Rows * t.Cols);
    const double magnitude = terms_.PearsonMagnitude();
    const double error = 0x1p-53 * (16.0 * (magnitude + 2.0 * t.GrandTotal()) +
                                    4.0 * (2.0 * cells + t.Rows + t.Cols + 8.0) * magnitude);
    const auto S = static_cast<std::size_t>(stages_);
    // Within the pass's memory: on a machine of little memory the lattice
    // at its limit of values would hold far more than the budget (a
    // container's limit then ends the program).
    const std::size_t values = std::min(limits_.MaxLatticeValues, limits_.MaxBytes / kLatticeValueBytes);
    // The lattice with the columns in the given order of stages, or none.
    auto prepared = [&](const std::vector<std::size_t>& order) -> std::unique_ptr<PearsonLattice> {
        LatticeMargins margins;
        margins.Lines = lineTotal_;
        margins.Observed.resize(static_cast<std::size_t>(lines_) * S);
        for (std::size_t s = 0; s < S; ++s) margins.Stages.push_back(stageTotal_[order[s]]);
        for (std::size_t k = 0; k < static_cast<std::size_t>(lines_); ++k)
            for (std::size_t s = 0; s < S; ++s) {
                const int line = lineCell_[k];
                const int stage = stageCell_[order[s]];
                margins.Observed[k * S + s] = transposed_ ? t.Observed(stage, line) : t.Observed(line, stage);
            }
        auto lattice = std::make_unique<PearsonLattice>(margins, state_.Factorials, limits_.MaxNodes, values,
                                                        [this](std::uint64_t steps) { Tick(steps); });
        if (!lattice->Prepare(observed_[kPearson], error, tolerance_[kPearson])) return nullptr;
        return lattice;
    };
    // Columns of equal total are interchangeable, so their partial tables
    // merge when they are filled together on the same side of the stage
    // where the two sides meet: the largest group of equal totals is filled
    // first, then the rest in increasing order. Only if that order passes
    // the limits is the increasing order of totals tried. (Measured on
    // some 170 tables with such groups: preparing both and keeping the one
    // with less work at the meeting cost more in all than the grouped
    // order alone, and saved at most a twentieth of a second on any
    // table, the bound of the meeting's work being a poor guide to its
    // time.)
    std::vector<std::size_t> order(S);
    for (std::size_t s = 0; s < S; ++s) order[s] = s;
    std::size_t from = 0, size = 1;
    for (std::size_t s = 0; s < S;) {
        std::size_t e = s;
        while (e < S && stageTotal_[e] == stageTotal_[s]) ++e;
        if (e - s > size) {
            from = s;
            size = e - s;
        }
        s = e;
    }
    std::unique_ptr<PearsonLattice> lattice;
    if (from > 0) {
        std::vector<std::size_t> grouped;
        for (std::size_t s = from; s < from + size; ++s) grouped.push_back(s);
        for (std::size_t s = 0; s < S; ++s)
            if (s < from || s >= from + size) grouped.push_back(s);
        lattice = prepared(grouped);
    }
    if (!lattice) lattice = prepared(order);
    if (!lattice) return false;
    // Beside the other side, which may take part once its own passes have
    // ended.
    const std::function<void(SharedWork*)> offer = OfferToOtherSide();
    std::function<void(PearsonLattice::Sharing*)> offerLattice;
    if (offer) offerLattice = [&offer](PearsonLattice::Sharing* share) { offer(share); };
    std::uint64_t counts[3] = {0, 0, 0};
    lattice->Settle(counts, masses_[kPearson], latticeSettled_, offerLattice);
    for (int which = 0; which < 3; ++which) counts_[kPearson][which] += counts[which];
    settled_ += latticeSettled_;
    latticeSettled_ = 0;
    return true;
}

// A stage's gathering, in chunks of consecutive children that either side
// may take. A child's partial tables are merged in one table, in the order
// of its parents, whoever gathers it: the next stage's entries are the
// same to the last bit. The owner appends the chunks in order.
class Network::Gathering final : public SharedWork {
public:
    Gathering(const Network& owner, const WorkVector<StoredEntry>& items, const WorkVector<Onward>& byChild,
              const WorkVector<Step>& steps, std::size_t held, std::size_t maxEntries)
        : Gathering(owner, items, byChild, steps, held, maxEntries, ChunkBounds(byChild, owner.limits_.GatherChunk)) {}
    void Help(const std::function<void(std::uint64_t)>& tick) override;

    // A chunk gathered by a helper: its children's entries in order, each
    // child's node and number of entries.
    struct Out {
        WorkVector<StoredEntry> Items;
        std::vector<std::int32_t> Nodes;
        std::vector<std::size_t> Sizes;
        bool Failed = false;  // left to the owner
        bool GaveUp = false;  // past the limits
        auto Into() {
            return [this](std::int32_t node, const WorkVector<Keyed>& items, const WorkVector<KeyAt>& order) {
                for (const KeyAt& k : order) Items.push_back(items[k.At].Value);
                Nodes.push_back(node);
                Sizes.push_back(order.size());
            };
        }
    };
    void Finish(std::size_t chunk, bool failed, bool gaveUp) {
        Out& out = Outs[chunk];
        out.Failed = failed;
        out.GaveUp = gaveUp;
        MarkDone(chunk);
    }
    // Whether the next stage's partial tables so far, with more bytes
    // besides, would pass the budget.
    bool PastBudget(std::size_t more) const {
        return Held + Produced.load(std::memory_order_relaxed) * sizeof(StoredEntry) + more > Owner.limits_.MaxBytes;
    }

    // Chunks of about equal work (partial tables through choices), each
    // of whole children: chunk c is ByChild[Bounds[c], Bounds[c + 1]).
    static std::vector<std::size_t> ChunkBounds(const WorkVector<Onward>& byChild, std::size_t least) {
        constexpr std::size_t kChunks = 64;
        std::size_t work = 0;
        for (const Onward& o : byChild) work += o.To - o.From;
        const std::size_t each = std::max(least, work / kChunks + 1);
        std::vector<std::size_t> bounds{0};
        std::size_t since = 0;
        for (std::size_t i = 0; i < byChild.size(); ++i) {
            since += byChild[i].To - byChild[i].From;
            const bool childEnds = i + 1 == byChild.size() || byChild[i + 1].Node != byChild[i].Node;
            if (childEnds && (since >= each || i + 1 == byChild.size())) {
                bounds.push_back(i + 1);
                since = 0;
            }
        }
        if (bounds.size() == 1) bounds.push_back(0);  // (one empty chunk)
        return bounds;
    }
    Gathering(const Network& owner, const WorkVector<StoredEntry>& items, const WorkVector<Onward>& byChild,
              const WorkVector<Step>& steps, std::size_t held, std::size_t maxEntries, std::vector<std::size_t> bounds)
        : SharedWork(bounds.size() - 1),
          Owner(owner),
          Items(items),
          ByChild(byChild),
          Steps(steps),
          Held(held),
          MaxEntries(maxEntries),
          Bounds(std::move(bounds)),
          Outs(std::make_unique<Out[]>(Chunks())) {}

    const Network& Owner;
    const WorkVector<StoredEntry>& Items;
    const WorkVector<Onward>& ByChild;
    const WorkVector<Step>& Steps;
    const std::size_t Held;
    const std::size_t MaxEntries;
    std::vector<std::size_t> Bounds;  // chunk c: ByChild[Bounds[c], Bounds[c + 1])
    std::unique_ptr<Out[]> Outs;
    std::atomic<std::size_t> Produced{0};  // the next stage's entries so far
};

void Network::Gathering::Help(const std::function<void(std::uint64_t)>& tick) {
    GatherScratch s;
    for (std::size_t chunk = Take(); chunk < Chunks(); chunk = Take()) {
        Out& out = Outs[chunk];
        try {
            Owner.GatherChildren(*this, chunk, s, tick, out.Into());
        } catch (const GiveUp&) {
            Finish(chunk, false, true);
            return;
        } catch (...) {
            // The chunk in hand is left to the owner (its entries so far no
            // longer count).
            Produced.fetch_sub(out.Items.size(), std::memory_order_relaxed);
            out.Items = {};
            out.Nodes.clear();
            out.Sizes.clear();
            Finish(chunk, true, false);
            throw;
        }
        Finish(chunk, false, false);
    }
}

template <typename Ticks, typename Emit>
void Network::GatherChildren(Gathering& g, std::size_t chunk, GatherScratch& s, Ticks&& tick, Emit&& emit) const {
    const std::size_t end = g.Bounds[chunk + 1];
    for (std::size_t from = g.Bounds[chunk]; from < end;) {
        const std::int32_t node = g.ByChild[from].Node;
        s.Table.Clear();
        for (; from < end && g.ByChild[from].Node == node; ++from) {
            const Onward& o = g.ByChild[from];
            const Step& c = g.Steps[o.Step];
            tick(o.To - o.From);
            // While the merging table is small, each partial table is added
            // as it is formed, merged from the registers (most merge: only
            // the new ones are stored). Once the table is past the caches,
            // in blocks: formed, then added fetching ahead what each will
            // touch.
            for (std::size_t i = o.From; i < o.To;) {
                const std::size_t last = std::min<std::size_t>(o.To, i + 256);
                if (s.Table.Bytes() < limits_.FetchAheadFrom) {
                    for (; i < last; ++i) {
                        const Entry x = Extend(g.Items[i].Load(), c.Ways, c.Factor, c.Own);
                        const std::int64_t key = Quantise(x.Low);
                        s.Table.Add(
                            key, [&] { return Keyed{key, StoredEntry::Of(x)}; },
                            [&](Keyed& existing) { MergeInto(existing.Value, x); });
                    }
                    continue;
                }
                s.Block.clear();
                for (; i < last; ++i) {
                    const Entry x = Extend(g.Items[i].Load(), c.Ways, c.Factor, c.Own);
                    s.Block.push_back({Quantise(x.Low), StoredEntry::Of(x)});
                }
                s.Table.AddAll(s.Block.data(), s.Block.size());
            }
            // One node's merging table (an entry, its key and about two
            // slots, and the key with its position to sort) may be large
            // too.
            if (g.PastBudget(s.Table.Items().size() * (sizeof(Keyed) + 16 + sizeof(KeyAt)))) throw GiveUp{};
        }
        // Within a node in order of past value, so the cuts move little.
        // The keys are distinct and rise with the past values (all of an
        // entry's merged values share its key), so their order is the
        // values' order: the keys are sorted with their positions, then the
        // entries gathered.
        const WorkVector<Keyed>& items = s.Table.Items();
        if (g.Produced.load(std::memory_order_relaxed) + items.size() > g.MaxEntries ||
            g.PastBudget(items.size() * sizeof(StoredEntry)))
            throw GiveUp{};
        s.Order.clear();
        for (std::size_t i = 0; i < items.size(); ++i) s.Order.push_back({items[i].Key, i});
        std::sort(s.Order.begin(), s.Order.end(), [](const KeyAt& x, const KeyAt& y) { return x.Key < y.Key; });
        emit(node, items, s.Order);
        g.Produced.fetch_add(items.size(), std::memory_order_relaxed);
    }
}

void Network::Gather(Gathering& g, GatherScratch& s, StageEntries& next) {
    auto intoNext = [&next](std::int32_t node, const WorkVector<Keyed>& items, const WorkVector<KeyAt>& order) {
        for (const KeyAt& k : order) next.Items.push_back(items[k.At].Value);
        next.Nodes.push_back(node);
        next.Begin.push_back(next.Items.size());
    };
    auto tick = [this](std::uint64_t steps) { Tick(steps); };
    // However this ends, the other side has left the gathering first.
    const std::function<void(SharedWork*)> offer = OfferToOtherSide();
    const WorkOffer<SharedWork> offered(g, offer, g.Chunks() > 1);
    // The chunks before added are in next; a chunk taken here when every
    // one before it is in goes there at once.
    std::size_t added = 0;
    auto add = [&] {
        for (; added < g.Chunks(); ++added) {
            Gathering::Out& out = g.Outs[added];
            if (!g.IsDone(added)) return;
            if (out.GaveUp) throw GiveUp{};
            if (out.Failed) {
                GatherChildren(g, added, s, tick, intoNext);
                continue;
            }
            std::size_t at = 0;
            for (std::size_t k = 0; k < out.Nodes.size(); ++k) {
                next.Items.insert(next.Items.end(), out.Items.begin() + static_cast<std::ptrdiff_t>(at),
                                  out.Items.begin() + static_cast<std::ptrdiff_t>(at + out.Sizes[k]));
                at += out.Sizes[k];
                next.Nodes.push_back(out.Nodes[k]);
                next.Begin.push_back(next.Items.size());
            }
            out.Items = {};
        }
    };
    for (std::size_t chunk = g.Take(); chunk < g.Chunks(); chunk = g.Take()) {
        if (chunk == added) {
            GatherChildren(g, chunk, s, tick, intoNext);
            ++added;
        } else {
            GatherChildren(g, chunk, s, tick, g.Outs[chunk].Into());
            g.Finish(chunk, false, false);
        }
        add();
    }
    // The chunks the other side still gathers, waited for with the
    // progress shown.
    while (added < g.Chunks()) {
        g.WaitFor(added, std::chrono::milliseconds(10));
        add();
        Tick(std::uint64_t{1} << 14);
    }
}

void Network::Pass(int ordering) {
    ordering_ = ordering;
    latticeSettled_ = 0;
    if (ordering == kPearson && limits_.Lattice && SettleOnLattice()) return;
    // The probability and the likelihood ratio treat every row alike;
    // Pearson's terms depend on the row total.
    const std::int32_t root = GraphFor(ordering != kPearson);
    listOf_.assign(static_cast<std::size_t>(stages_ + 1), {});
    lists_.clear();
    listed_ = 0;
    PrepareCuts();

    StageEntries current;
    Entry start;
    start.Ways = 1;
    start.Mass = 1.0L;
    start.Low = start.High = ordering == kProbability ? 1.0L : 0.0L;
    current.Nodes.push_back(root);
    current.Begin = {0, 1};
    current.Items.push_back(StoredEntry::Of(start));
    WorkVector<Child> scratch;
    WorkVector<Entry> open;
    // The open partial tables going on to children without a list (see
    // Onward), gathered child by child once every node of the stage is
    // done. (Positions are kept in 32 bits: a stage holds fewer entries.)
    const std::size_t maxEntries = std::min<std::size_t>(limits_.MaxEntries, std::numeric_limits<std::uint32_t>::max());
    WorkVector<Onward> onward, byChild;
    WorkVector<Step> steps;
    WorkVector<std::size_t> childStart;
    StageEntries next;
    GatherScratch gathering;
    // The memory held through the gathering: this stage's partial tables
    // and the choices going on (twice: as they came and by child); the
    // next stage's are counted as they are added.
    auto holding = [&] {
        const std::size_t held = current.Items.size() * sizeof(StoredEntry) +
                                 onward.size() * (2 * sizeof(Onward) + sizeof(Step));
        if (held > limits_.MaxBytes) throw GiveUp{};
        return held;
    };
    for (int stage = 0; !current.Nodes.empty(); stage = Next(stage)) {
        onward.clear();
        steps.clear();
        for (std::size_t k = 0; k < current.Nodes.size(); ++k) {
            const std::int32_t node = current.Nodes[k];
            const Node& n = NodeAt(stage, node);
            // Whole subtrees clearly in one class.
            open.clear();
            for (std::size_t i = current.Begin[k]; i < current.Begin[k + 1]; ++i) {
                Tick();
                const Entry e = current.Items[i].Load();
                const auto [low, high] = Range(e, n.Low[ordering], n.High[ordering]);
                const int which = Decide(ordering, low, high, observed_[ordering]);
                if (which >= 0)
                    Settle(which, e, n);
                else
                    open.push_back(e);
            }
            if (open.empty()) continue;
            // With two columns left and few partial tables against the
            // node's completions (more than DirectPerEntry completions
            // each), the complete tables are settled without a list, unless
            // the node is listed already.
            std::uint64_t share = 0;  // completions the partial tables would allow
            const bool few = __builtin_mul_overflow(static_cast<std::uint64_t>(open.size()), limits_.DirectPerEntry, &share)
                                 ? false
                                 : share < n.Count;
            if (stage == stages_ - 2 && few &&
                !Listed(stage, node)) {
                SettleDirectly(stage, node, open);
                continue;
            }
            // Listing a node costs of the order of its completions (each
            // merged from its children's lists); it pays when the node is
            // small, or small against the partial tables it settles: at most
            // each completions per partial table.
            auto smallAgainst = [&](WideCount count, std::uint64_t each) {
                return count <= kListedChild || count <= static_cast<WideCount>(each) * open.size();
            };
            // The node's own list: up to 16 completions per partial table,
            // the best measured on some sixty tables of 1e5 to 2e7 points
            // (without it the partial tables go on to the children, listed
            // by their own rule below); with two columns left a list is the
            // only alternative to the complete tables.
            const bool ownList = Listed(stage, node) || stage == stages_ - 2 || smallAgainst(n.Count, 16);
            if (const Completions* list = ownList ? CompletionsOf(stage, node) : nullptr) {
                const Child itself = Itself(node);
                SettleThroughChild(open, CutsBeforeChildren(open, std::span<const Child>(&itself, 1)), itself, n, *list);
                continue;
            }
            // With two columns left and no list to be had (past the limit of
            // listed completions) the complete tables are the only way on;
            // so no partial table goes past that stage. Before it, the
            // partial tables go on to the children.
            if (stage == stages_ - 2) {
                SettleDirectly(stage, node, open);
                continue;
            }
            const std::span<const Child> kids = ChildrenOf(stage, node, scratch);
            NodeCuts cutsFor;
            bool kept = false;  // the open partial tables moved to the front of the node's
            for (const Child& c : kids) {
                const int below = Next(stage);
                const Node& child = NodeAt(below, c.Node);
                // A child is listed when already listed, or small against
                // the partial tables that reach it: up to 256 completions
                // each, the best measured on the benchmark tables. A child
                // with two columns left is settled at its own stage,
                // directly or by its list, once the partial tables of
                // every parent have reached it.
                const bool listed = Listed(below, c.Node);
                const bool small = below != stages_ - 2 && smallAgainst(child.Count, 256);
                if (const Completions* list = listed || small ? CompletionsOf(below, c.Node) : nullptr) {
                    if (cutsFor.Of.empty()) cutsFor = CutsBeforeChildren(open, kids);
                    SettleThroughChild(open, cutsFor, c, child, *list);
                    continue;
                }
                // The partial tables whose every completion through the
                // child lies in one class by the child's bounds (a leading
                // run of less, a trailing run of greater) settle here; the
                // rest go on to it.
                if (cutsFor.Of.empty()) cutsFor = CutsBeforeChildren(open, kids);
                const auto [first, last] =
                    SettleRuns(cutsFor, c, child.Low[ordering], child.High[ordering], child.Count, child.Closed);
                if (first == last) continue;
                if (!kept) {
                    std::transform(open.begin(), open.end(),
                                   current.Items.begin() + static_cast<std::ptrdiff_t>(current.Begin[k]), StoredEntry::Of);
                    kept = true;
                }
                onward.push_back({c.Node, static_cast<std::uint32_t>(steps.size()),
                                  static_cast<std::uint32_t>(current.Begin[k] + first),
                                  static_cast<std::uint32_t>(current.Begin[k] + last)});
                steps.push_back({c.Ways, c.Factor, Own(c)});
            }
            if (kept) holding();
        }
        const std::size_t held = holding();
        // Each child gathers the partial tables from all its parents, so
        // the merging table in use is one node's: grouped by child (a
        // counting sort, parents in the order they came).
        std::int32_t nodes = 0;
        for (const Onward& o : onward) nodes = std::max(nodes, o.Node + 1);
        childStart.assign(static_cast<std::size_t>(nodes) + 1, 0);
        for (const Onward& o : onward) ++childStart[static_cast<std::size_t>(o.Node) + 1];
        for (std::size_t i = 0; i < static_cast<std::size_t>(nodes); ++i) childStart[i + 1] += childStart[i];
        byChild.resize(onward.size());
        for (const Onward& o : onward) byChild[childStart[static_cast<std::size_t>(o.Node)]++] = o;
        next.Nodes.clear();
        next.Items.clear();
        next.Begin.assign(1, 0);
        // At most every partial table through every choice: reserved up to
        // the limits (pages never reached are never touched), so the
        // entries are not moved as they grow. Past the bytes the budget
        // leaves beside this stage's the gathering gives up: no more are
        // reserved (an address space limited to the memory the program may
        // use counts every page reserved, touched or not).
        const std::size_t most = std::min(maxEntries, (limits_.MaxBytes - held) / sizeof(StoredEntry)) + 1;
        std::size_t bound = 0;
        for (const Onward& o : onward) bound = std::min(bound + (o.To - o.From), most);
        next.Items.reserve(bound);
        Gathering chunks(*this, current.Items, byChild, steps, held, maxEntries);
        Gather(chunks, gathering, next);
        std::swap(current, next);
    }
}

}  // namespace

void ColumnsByTotal(const ContingencyTable& t, bool transposed, std::vector<std::int32_t>& totals,
                    std::vector<int>& numbers) {
    std::vector<std::pair<std::int32_t, int>> columns;
    const int count = transposed ? t.Rows : t.Cols;
    for (int j = 1; j <= count; ++j) columns.emplace_back(transposed ? t.RowTotal(j) : t.ColTotal(j), j);
    std::stable_sort(columns.begin(), columns.end());
    totals.clear();
    numbers.clear();
    for (const auto& [total, number] : columns) {
        totals.push_back(total);
        numbers.push_back(number);
    }
}

std::string SettledProgressText(WideCount settled, WideCount total) {
    const std::string of = total == 0 ? "" : " of " + CountText(total);
    return CountText(settled) + of + std::string(kBreakHint);
}

bool ShowSettledProgress(AnalysisState& state, const EnginePorts& ports, WideCount settled, WideCount total) {
    if (total != 0) state.SamplePointCount = settled;
    ports.Status->SetText(SettledProgressText(settled, total));
    ports.Pump->ProcessPendingEvents();
    return state.Abandoned;
}

void WriteSettledTallies(AnalysisState& state, const bool (&tallied)[3], const WideCount (&counts)[3][3],
                         const long double (&masses)[3][3], long double scale, WideCount points) {
    ExactTally* targets[3] = {&state.ProbabilityTally, &state.G2Tally, &state.X2Tally};
    for (int o = 0; o < 3; ++o) {
        if (!tallied[o]) continue;
        ExactTally& t = *targets[o];
        t.LessCount = counts[o][0];
        t.EqualCount = counts[o][1];
        t.GreaterCount = counts[o][2];
        // A class's mass is a sum of probabilities; some are formed as a
        // total less the others', whose rounding may leave a class of no or
        // negligible mass a little below 0 (printed "-0.000000"). Kept at 0.
        t.LessMass = std::max(0.0, static_cast<double>(masses[o][0] / scale));
        t.EqualMass = std::max(0.0, static_cast<double>(masses[o][1] / scale));
        t.GreaterMass = std::max(0.0, static_cast<double>(masses[o][2] / scale));
    }
    state.SamplePointCount = points;
    // Every ordering's pass adds the mass of the points it settles, and a
    // run broken off counts its points as the passes' mean: the mass that
    // goes with them is their mean too (after a whole run, each is the
    // whole mass).
    long double settled = 0.0L;
    int passes = 0;
    for (int o = 0; o < 3; ++o) {
        if (!tallied[o]) continue;
        settled += masses[o][0] + masses[o][1] + masses[o][2];
        ++passes;
    }
    state.SettledMass = passes == 0 ? 0.0 : std::max(0.0, static_cast<double>(settled / scale / passes));
}

namespace {

// Whether every cell equals its expected count r c / N (in integers).
bool AtExpectedCounts(const ContingencyTable& t) {
    const std::int64_t n = t.GrandTotal();
    for (int i = 1; i <= t.Rows; ++i)
        for (int j = 1; j <= t.Cols; ++j)
            if (std::int64_t{t.At(i, j)} * n != std::int64_t{t.RowTotal(i)} * t.ColTotal(j)) return false;
    return true;
}

// A table equal to its expected counts has both statistics exactly 0 (every
// cell term is: n / e is exactly 1, n - e exactly 0), and every other table
// both greater by far more than their evaluations' rounding (X2 by at least
// 2 / N: two cells differ from their whole expected counts by 1 or more).
// The statistics' tallies are then the observed table alone as equal and
// every other one as greater; only the probability's ordering is settled,
// and the sample points and the mass are its own. (A value 0 observed
// leaves the network no room for its rounding: without this it would leave
// the table to the enumeration.)
NetworkOutcome SettleAtExpectedCounts(AnalysisState& state, const EnginePorts& ports, NetworkLimits limits) {
    AnalysisOptions& options = state.Options;
    const bool lr = options.ExaLRtest, chi = options.ExaCStest;
    struct Restored {
        AnalysisOptions& Options;
        bool Lr, Chi;
        ~Restored() {
            Options.ExaLRtest = Lr;
            Options.ExaCStest = Chi;
        }
    } restored{options, lr, chi};
    options.ExaLRtest = options.ExaCStest = false;
    limits.NearMode = false;  // (tried already)
    const NetworkOutcome outcome = RunNetworkAlgorithm(state, ports, limits);
    if (outcome != NetworkOutcome::Completed) return outcome;
    ExactTally statistic;
    statistic.EqualCount = 1;
    statistic.GreaterCount = state.SamplePointCount - 1;
    statistic.EqualMass = state.ObservedProbability;
    statistic.GreaterMass = std::max(0.0, TotalMass(state.ProbabilityTally) - state.ObservedProbability);
    if (lr) state.G2Tally = statistic;
    if (chi) state.X2Tally = statistic;
    return outcome;
}

}  // namespace

NetworkOutcome RunNetworkAlgorithm(AnalysisState& state, const EnginePorts& ports, const NetworkLimits& limits) {
    if (!NetworkApplies(state)) return NetworkOutcome::NeedsEnumeration;
    if (limits.NearMode) {
        const NetworkOutcome nearMode = RunNearModeSearch(state, ports);
        if (nearMode != NetworkOutcome::NeedsEnumeration) return nearMode;
    }
    if ((state.Options.ExaLRtest || state.Options.ExaCStest) && AtExpectedCounts(state.Table) &&
        (!state.ComputeLR || state.G2 == 0.0) && (!state.ComputeChi || state.X2 == 0.0))
        return SettleAtExpectedCounts(state, ports, limits);
    if (limits.FarTail) {
        const NetworkOutcome farTail = RunFarTailSearch(state, ports);
        if (farTail != NetworkOutcome::NeedsEnumeration) return farTail;
    }
    if (limits.TwoLines) {
        // A table of two lines: on many the network is much the quicker,
        // on others it does not end. It is given the time the meeting of
        // the halves is estimated to take, but not much more than 10 s
        // (where it ended on such tables, it took at most 6 s), then the
        // meeting takes the table.
        TwoLineMeetingLimits meeting;
        meeting.MaxBytes = limits.MaxBytes;
        meeting.Threads = limits.PassesBeside ? 2 : 1;
        const double estimate = TwoLineMeetingSeconds(state, meeting);
        if (estimate > 0.0) {
            const double seconds = std::min(estimate, 10.0 + estimate / 8.0);
            NetworkLimits first = limits;
            first.MostSeconds = limits.MostSeconds > 0.0 ? std::min(limits.MostSeconds, seconds) : seconds;
            const NetworkOutcome outcome = Network(state, ports, first).Run();
            if (outcome != NetworkOutcome::NeedsEnumeration) return outcome;
            const NetworkOutcome met = RunTwoLineMeeting(state, ports, meeting);
            if (met != NetworkOutcome::NeedsEnumeration) return met;
        }
    }
    return Network(state, ports, limits).Run();
}

}  // namespace kelvorin
