// Pearson's ordering of the tables with given margins, counted exactly on
// an integer lattice.
//
// With expected counts e_ij = r_i c_j / N, Pearson's statistic is
//   X2 = sum (n_ij - e_ij)^2 / e_ij = N (sum n_ij^2 / (r_i c_j)) - N.
// With D the least common multiple of the products r_i c_j, the lattice
// value L = sum n_ij^2 (D / (r_i c_j)) is an integer and X2 = N L / D - N:
// tables with different L differ in X2 by at least N / D. When that step is
// wide against the tolerance band around the observed X2 and against the
// rounding of any evaluation of X2, a table is less than the observed one
// exactly when its L is less, equal when its L is the same, greater when
// greater; the classes are then a question of integers alone.
//
// The tables are built column by column (stages) over the lines (the other
// dimension); a partial table reaches the node "remaining line totals",
// sorted within each group of lines with equal totals (their cells' terms
// are the same functions). Partial tables at a node with the same past L
// merge exactly. The counting meets in the middle: the past values of the
// partial tables after some columns, and the future values of the
// completions of every node of the next stage, each merged and sorted; at
// each node of the meeting stage the pairs below, on and above the
// observed L are counted from the two sorted lists with running sums. The
// stage where the two sides meet is chosen as they grow: the side with
// fewer values takes the next step. Partial tables whose every completion
// at a node lies on one side of the observed L are settled as a run,
// without being listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "AnalysisState.h"

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
    // tick(steps) is called as work is done; it may throw to break off.
    PearsonLattice(const LatticeMargins& margins, const FactorialTable& factorials, std::size_t maxNodes,
                   std::size_t maxItems, std::function<void(std::uint64_t)> tick);

    // Whether the classes follow from the lattice values for the observed
    // X2 as evaluated (observed), every evaluation of X2 being within
    // error of the exact value, and the relative tolerance of the tally
    // rule; if so, builds both sides of the meeting stage. False (nothing
    // settled) when the lattice is too coarse, its values too large, or
    // the nodes or values past the limits.
    bool Prepare(double observed, double error, double tolerance);

    // Settles every table after Prepare: adds to ways and mass (mass as the
    // product of the columns' factors T! / prod x!) of each class (less,
    // equal, greater) and to settled, so that they agree whenever tick is
    // called.
    void Settle(std::uint64_t (&ways)[3], long double (&mass)[3], std::uint64_t& settled);

    // The observed table's lattice value (after Prepare).
    std::int64_t ObservedValue() const { return observedValue_; }

private:
    // A value of a node's partial tables (or completions): the lattice
    // value, their number and the sum of their products of column factors.
    struct Item {
        std::int64_t Value;
        std::uint64_t Ways;
        long double Mass;
    };
    // A column choice at a node, with the column vectors that lead to the
    // same child with the same value merged.
    struct Edge {
        std::uint64_t Child;  // its key
        std::int64_t Term;
        std::uint64_t Ways;
        long double Factor;  // sum of T! / prod x! over the merged vectors
    };
    // Nodes of one stage with their sorted, merged items.
    struct Side {
        std::unordered_map<std::uint64_t, std::int32_t> Index;
        std::vector<std::uint64_t> Keys;
        std::vector<std::size_t> Begin;  // node k's items: [Begin[k], Begin[k + 1])
        std::vector<Item> Items;
        std::size_t Size() const { return Items.size(); }
    };

    std::uint64_t Pack(const std::vector<std::int32_t>& remaining) const;
    void Unpack(std::uint64_t key, std::vector<std::int32_t>& remaining) const;
    // The column vectors of a stage from a node (remaining totals).
    void Edges(int stage, const std::vector<std::int32_t>& remaining, std::vector<Edge>& out);
    // Sorts by value and merges equal values.
    void SortMerge(std::vector<Item>& items);
    // A frontier node's column choice into the next stage.
    struct Link {
        std::int32_t Child;  // in the next stage's side
        std::int32_t Parent;
        std::int64_t Term;
        std::uint64_t Ways;
        long double Factor;
    };
    // Numbers the children of the frontier's nodes in next and lists the
    // column choices into them, grouped by child; false past the limits.
    bool Link(Side& next, std::vector<struct Link>& links);
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
    void Gather(int stage);
    // Two columns left: line k has x_k from Low[k] to High[k] in the first
    // (and r_k - x_k in the second), Value and Inverse its parts of the
    // lattice value and of 1 / prod of factorials against x_k - Low[k].
    struct TwoColumns {
        std::int32_t First = 0;
        long double Scale = 1.0L;  // T! T'!
        std::vector<std::int32_t> Low, High, Least, Most;  // Least/Most: sums of Low/High from line k on
        std::vector<std::vector<std::int64_t>> Value;
        std::vector<std::vector<long double>> Inverse;
    };
    void PrepareTwoColumns(int stage, const std::vector<std::int32_t>& remaining);
    Summary TwoColumnSummary(const std::vector<std::int32_t>& remaining) const;
    void GatherTwoColumns();
    TwoColumns two_;
    std::vector<Summary> summaries_;  // of the back side's nodes
    // The next stage's partial tables from the frontier's.
    bool StepForward();
    // The completions of every node of the stage before the back side's.
    bool StepBack();

    LatticeMargins margins_;
    const FactorialTable& factorials_;
    std::size_t maxNodes_;
    std::size_t maxItems_;
    std::function<void(std::uint64_t)> tick_;

    int lines_ = 0;
    int stages_ = 0;
    std::vector<int> groupEnd_;  // end of the group of equal totals of line k
    int bits_ = 0;               // per line in a key
    std::int64_t denominator_ = 0;
    std::vector<std::int64_t> coefficient_;  // D / (r_k T_s) at k * S + s
    std::int64_t observedValue_ = 0;

    int front_ = 0;  // stage of the frontier's partial tables
    int back_ = 0;   // stage of the listed completions
    Side frontier_;     // partial tables after front_ columns
    Side completions_;  // completions of the nodes after back_ columns
    Side meet_;         // the nodes of the stage between the two
    std::vector<struct Link> meetLinks_;
    // Items gathered with equal values merged as they come (open
    // addressing on the value; a generation stamp empties the slots at
    // once), in order of first arrival.
    class Gathering {
    public:
        void Clear() {
            items_.clear();
            ++generation_;
        }
        void Add(std::int64_t value, std::uint64_t ways, long double mass) {
            if (2 * (items_.size() + 1) > slots_.size()) Grow();
            const std::size_t mask = slots_.size() - 1;
            for (std::size_t at = Hash(value) & mask;; at = (at + 1) & mask) {
                std::uint64_t& slot = slots_[at];
                if ((slot >> 32) != generation_) {
                    slot = (generation_ << 32) | items_.size();
                    items_.push_back({value, ways, mass});
                    return;
                }
                Item& item = items_[slot & 0xFFFFFFFFu];
                if (item.Value == value) {
                    item.Ways += ways;
                    item.Mass += mass;
                    return;
                }
            }
        }
        std::vector<Item>& Items() { return items_; }

    private:
        static std::size_t Hash(std::int64_t value) {
            const std::uint64_t h = static_cast<std::uint64_t>(value) * 0x9E3779B97F4A7C15ULL;
            return static_cast<std::size_t>(h ^ (h >> 31));
        }
        void Grow() {
            ++generation_;
            slots_.assign(std::max<std::size_t>(64, 2 * slots_.size()), 0);
            const std::size_t mask = slots_.size() - 1;
            for (std::size_t i = 0; i < items_.size(); ++i) {
                std::size_t at = Hash(items_[i].Value) & mask;
                while ((slots_[at] >> 32) == generation_) at = (at + 1) & mask;
                slots_[at] = (generation_ << 32) | i;
            }
        }
        std::vector<std::uint64_t> slots_;  // generation << 32 | index
        std::vector<Item> items_;
        std::uint64_t generation_ = 1;
    };
    Gathering pasts_, futures_;
    std::vector<Item> scratch_;
    std::vector<Edge> edges_;
};

}  // namespace kelvorin
