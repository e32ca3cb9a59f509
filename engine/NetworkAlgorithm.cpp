#include "NetworkAlgorithm.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ExactEnumeration.h"

namespace kelvorin {

bool NetworkApplies(const AnalysisState& state) {
    const ContingencyTable& t = state.Table;
    if (!t.TwoWay || t.Rows < 2 || t.Cols < 2 || (t.Rows == 2 && t.Cols == 2)) return false;
    if (t.GrandTotal() > kFactorialLimit || state.DirectEvaluation || state.Options.Details) return false;
    // Counts are kept in 64 bits; the tallies print them signed.
    if (!state.ExpectedPointsExact || state.ExpectedSamplePoints >= 9.2e18) return false;
    return state.ExpectedSamplePoints >= static_cast<double>(state.NetworkFrom);
}

namespace {

// The orderings, as bits of a partial table's set of orderings not yet
// settled, and as indices of the tallies.
enum Ordering { kProbability, kLikelihoodRatio, kPearson, kOrderings };

// A column choice at a node: the node it leads to, the number of column
// vectors leading there with bitwise the same values, and those values.
struct Child {
    std::int32_t Node = 0;
    std::uint64_t Ways = 0;
    long double Factor = 0.0L;  // T! / prod x_k!
    double Lr = 0.0;            // sum of the column's likelihood-ratio cell terms
    double Chi = 0.0;           // sum of the column's Pearson cell terms
};

// A node: remaining row totals after some columns, with the exact number of
// completions and the range of each ordering's remaining part over them.
struct Node {
    std::string Key;  // the remaining totals, two bytes each
    bool Ready = false;
    std::uint64_t Count = 0;
    long double Closed = 0.0L;  // M! / prod r_k!: the sum of the completions' factors
    long double FactorLow = 0.0L;
    long double FactorHigh = 0.0L;
    double LrLow = 0.0;
    double LrHigh = 0.0;
    double ChiLow = 0.0;
    double ChiHigh = 0.0;
    // The node's children, kept while memory allows.
    bool ChildrenKept = false;
    std::vector<Child> Children;
};

// Partial tables merged at a node: the orderings still open, and the past
// values quantised (zero for a settled ordering).
struct EntryKey {
    std::int32_t Node = 0;
    std::uint32_t Open = 0;
    std::int64_t P = 0;
    std::int64_t Lr = 0;
    std::int64_t Chi = 0;
    bool operator==(const EntryKey&) const = default;
};

struct EntryKeyHash {
    std::size_t operator()(const EntryKey& k) const noexcept {
        std::uint64_t h = static_cast<std::uint64_t>(k.Node) * 0x9E3779B97F4A7C15ULL ^ k.Open;
        for (std::int64_t v : {k.P, k.Lr, k.Chi}) {
            h ^= static_cast<std::uint64_t>(v) + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
        }
        return static_cast<std::size_t>(h);
    }
};

// The partial tables behind one key: how many, the sum of their past
// factors, and the range of their past values.
struct Entry {
    std::uint64_t Ways = 0;
    long double Mass = 0.0L;
    long double PLow = 0.0L;
    long double PHigh = 0.0L;
    double LrLow = 0.0;
    double LrHigh = 0.0;
    double ChiLow = 0.0;
    double ChiHigh = 0.0;
};

class GiveUp {};

// Nodes with at most this many completions have them listed, up to this
// many listed in all.
constexpr std::uint64_t kListedNode = std::uint64_t{1} << 14;
// A child reached by a partial table is listed on the spot up to this many.
constexpr std::uint64_t kListedChild = std::uint64_t{1} << 10;
constexpr std::uint64_t kListLimit = std::uint64_t{1} << 22;
constexpr std::size_t kKeptChildren = std::size_t{1} << 23;
constexpr std::size_t kNoHint = std::numeric_limits<std::size_t>::max();
class BrokenOff {};

class Network {
public:
    Network(AnalysisState& state, const EnginePorts& ports, const NetworkLimits& limits)
        : state_(state), ports_(ports), limits_(limits) {}

    NetworkOutcome Run();

private:
    void SetUpLines();
    std::int32_t Intern(int stage, const std::vector<std::int32_t>& remaining);
    std::vector<std::int32_t> Remaining(int stage, std::int32_t node) const;
    void Children(int stage, const std::vector<std::int32_t>& remaining, std::vector<Child>& out);
    void Complete(int stage, std::int32_t node);
    // The node's children: the kept ones, or else formed into scratch.
    const std::vector<Child>& ChildrenOf(int stage, std::int32_t node, std::vector<Child>& scratch) {
        const Node& n = nodes_[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)];
        if (n.ChildrenKept) return n.Children;
        Children(stage, Remaining(stage, node), scratch);
        return scratch;
    }
    // The class of every value in [low, high] against the observed b under
    // the tally rule, or -1 when the interval reaches a band edge.
    static int Decide(double tolerance, long double low, long double high, double b);
    void Settle(int ordering, int which, const Entry& e, const Node& n);
    // The range of ordering o's value over the partial tables of e with a
    // remaining part in [futureLow, futureHigh], widened by the rounding
    // slack of both evaluations.
    std::pair<long double, long double> Range(int o, const Entry& e, long double futureLow,
                                              long double futureHigh) const;
    // Every completion of a node in ordering o: its remaining part, sorted,
    // with running sums of ways and masses; nullptr past the memory limit.
    struct Completions {
        std::vector<long double> Value;
        std::vector<std::uint64_t> Ways;  // Ways[i]: completions before i
        std::vector<long double> Mass;    // Mass[i]: their factors' sum
    };
    const Completions* CompletionsOf(int stage, std::int32_t node, int o);
    bool Listed(int stage, std::int32_t node) const { return lists_[static_cast<std::size_t>(stage)].count(node) != 0; }
    // Settles all sample points of e at node n from its sorted completions.
    // The hints are where the previous call's boundaries were (or npos):
    // entries are settled in order of their past value, so the boundaries
    // move little and are found by walking from there.
    void SettleByCompletions(int o, const Entry& e, const Node& n, const Completions& list,
                             std::size_t& firstHint, std::size_t& lastHint);
    // Settles every sample point in one ordering (a bit of Open).
    void Pass(std::int32_t rootNode, std::uint32_t ordering);
    void Progress();
    // Counts a step of work; every so often shows progress and lets the
    // user break off (then throws BrokenOff).
    void Tick() {
        if ((++work_ & 0x3FFF) != 0) return;
        Progress();
        if (state_.Abandoned) throw BrokenOff{};
    }
    // The sample points accounted for: the mean over the orderings of the
    // points each has settled.
    std::uint64_t Settled() const;
    void WriteTallies(std::uint64_t points);

    AnalysisState& state_;
    const EnginePorts& ports_;
    NetworkLimits limits_;
    StatisticTerms terms_;

    int lines_ = 0;   // K: the smaller dimension
    int stages_ = 0;  // S: the larger one
    bool transposed_ = false;
    std::vector<int> lineCell_;                 // original row or column of line k
    std::vector<std::int32_t> lineTotal_;       // sorted ascending
    std::vector<int> groupEnd_;                 // end of the group of equal totals line k is in
    std::vector<std::int32_t> stageTotal_;
    std::vector<const double*> lrTerm_;         // [k * S + s] -> terms indexed by count
    std::vector<const double*> chiTerm_;

    std::vector<std::vector<Node>> nodes_;      // per stage 0..S
    std::vector<std::unordered_map<std::string, std::int32_t>> index_;
    std::size_t nodeCount_ = 0;
    std::size_t kept_ = 0;  // children kept by the nodes

    std::uint32_t allOpen_ = 0;
    double observed_[kOrderings] = {0.0, 0.0, 0.0};
    double probabilitySlack_ = 0.0;  // relative
    double lrSlack_ = 0.0;           // absolute, of G2
    double chiSlack_ = 0.0;          // absolute, of X2
    double lrQuantum_ = 0.0;
    double chiQuantum_ = 0.0;

    std::uint64_t total_ = 0;
    std::uint64_t settled_ = 0;  // in the current pass
    std::uint64_t done_ = 0;     // in the passes completed
    int passes_ = 0;
    std::uint64_t counts_[kOrderings][3] = {};
    long double masses_[kOrderings][3] = {};
    std::uint64_t work_ = 0;
    // Sorted completions of the nodes with few, for the current pass.
    std::vector<std::unordered_map<std::int32_t, Completions>> lists_;
    std::size_t listed_ = 0;
    // N! / prod of the line totals' factorials: the sum of every table's
    // product of column factors, so a table's probability is its product
    // over this (in either orientation).
    long double normaliser_ = 1.0L;
};

void Network::SetUpLines() {
    const ContingencyTable& t = state_.Table;
    transposed_ = t.Rows > t.Cols;
    lines_ = transposed_ ? t.Cols : t.Rows;
    stages_ = transposed_ ? t.Rows : t.Cols;
    std::vector<std::pair<std::int32_t, int>> lines;
    for (int k = 1; k <= lines_; ++k) lines.emplace_back(transposed_ ? t.ColTotal(k) : t.RowTotal(k), k);
    std::stable_sort(lines.begin(), lines.end());
    for (const auto& [total, cell] : lines) {
        lineTotal_.push_back(total);
        lineCell_.push_back(cell);
    }
    groupEnd_.assign(static_cast<std::size_t>(lines_), lines_);
    for (int k = lines_ - 1; k >= 0; --k) {
        const auto uk = static_cast<std::size_t>(k);
        groupEnd_[uk] = (k + 1 < lines_ && lineTotal_[uk + 1] == lineTotal_[uk]) ? groupEnd_[uk + 1] : k + 1;
    }
    for (int s = 1; s <= stages_; ++s) stageTotal_.push_back(transposed_ ? t.RowTotal(s) : t.ColTotal(s));
    lrTerm_.assign(static_cast<std::size_t>(lines_ * stages_), nullptr);
    chiTerm_.assign(static_cast<std::size_t>(lines_ * stages_), nullptr);
    for (int k = 0; k < lines_; ++k)
        for (int s = 0; s < stages_; ++s) {
            const int line = lineCell_[static_cast<std::size_t>(k)];
            const int i = transposed_ ? s + 1 : line;
            const int j = transposed_ ? line : s + 1;
            const auto at = static_cast<std::size_t>(k * stages_ + s);
            if (state_.ComputeLR) lrTerm_[at] = &terms_.LikelihoodRatioTerm(i, j, 0);
            if (state_.ComputeChi) chiTerm_[at] = &terms_.PearsonTerm(i, j, 0);
        }
}

std::int32_t Network::Intern(int stage, const std::vector<std::int32_t>& remaining) {
    std::string key(remaining.size() * sizeof(std::int16_t), '\0');
    for (std::size_t k = 0; k < remaining.size(); ++k) {
        const auto v = static_cast<std::int16_t>(remaining[k]);
        std::memcpy(key.data() + k * sizeof v, &v, sizeof v);
    }
    auto& index = index_[static_cast<std::size_t>(stage)];
    const auto [it, added] = index.try_emplace(key, static_cast<std::int32_t>(nodes_[static_cast<std::size_t>(stage)].size()));
    if (added) {
        if (++nodeCount_ > limits_.MaxNodes) throw GiveUp{};
        Node node;
        node.Key = std::move(key);
        nodes_[static_cast<std::size_t>(stage)].push_back(std::move(node));
    }
    return it->second;
}

std::vector<std::int32_t> Network::Remaining(int stage, std::int32_t node) const {
    const std::string& key = nodes_[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)].Key;
    std::vector<std::int32_t> remaining(static_cast<std::size_t>(lines_));
    for (std::size_t k = 0; k < remaining.size(); ++k) {
        std::int16_t v = 0;
        std::memcpy(&v, key.data() + k * sizeof v, sizeof v);
        remaining[k] = v;
    }
    return remaining;
}

// Every column vector x of stage s with x_k <= r_k and sum T_s, grouped by
// the node r - x leads to (sorted within groups of lines of equal total)
// and by their values.
void Network::Children(int stage, const std::vector<std::int32_t>& remaining, std::vector<Child>& out) {
    out.clear();
    const auto us = static_cast<std::size_t>(stage);
    const std::int32_t total = stageTotal_[us];
    const int K = lines_;
    std::vector<std::int32_t> cap(static_cast<std::size_t>(K) + 1, 0);
    for (int k = K - 1; k >= 0; --k) {
        const auto uk = static_cast<std::size_t>(k);
        cap[uk] = cap[uk + 1] + std::min(remaining[uk], total);
    }
    std::vector<std::int32_t> x(static_cast<std::size_t>(K), 0);
    std::vector<std::int32_t> next(static_cast<std::size_t>(K), 0);
    const FactorialTable& f = state_.Factorials;
    auto emit = [&] {
        long double product = 1.0L;
        double lr = 0.0;
        double chi = 0.0;
        for (int k = 0; k < K; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            product *= f[static_cast<std::size_t>(x[uk])];
            const auto at = static_cast<std::size_t>(k * stages_ + stage);
            if (lrTerm_[at]) lr += lrTerm_[at][x[uk]];
            if (chiTerm_[at]) chi += chiTerm_[at][x[uk]];
            next[uk] = remaining[uk] - x[uk];
        }
        for (int k = 0; k < K; k = groupEnd_[static_cast<std::size_t>(k)])
            std::sort(next.begin() + k, next.begin() + groupEnd_[static_cast<std::size_t>(k)], std::greater<>());
        Child child;
        child.Node = Intern(stage + 1, next);
        child.Ways = 1;
        child.Factor = f[static_cast<std::size_t>(total)] / product;
        child.Lr = lr;
        child.Chi = chi;
        out.push_back(child);
    };
    // Depth-first over k with what is left of the column total.
    auto place = [&](auto& self, int k, std::int32_t left) -> void {
        const auto uk = static_cast<std::size_t>(k);
        if (k == K - 1) {
            x[uk] = left;
            emit();
            return;
        }
        const std::int32_t low = std::max<std::int32_t>(0, left - cap[uk + 1]);
        const std::int32_t high = std::min(std::min(remaining[uk], total), left);
        for (std::int32_t v = low; v <= high; ++v) {
            x[uk] = v;
            self(self, k + 1, left - v);
        }
    };
    if (cap[0] >= total) place(place, 0, total);
    // Column vectors that differ only by an exchange of lines of equal total
    // and equal remainder give the same node with the same values: one child
    // with their number of ways.
    std::sort(out.begin(), out.end(), [](const Child& a, const Child& b) {
        if (a.Node != b.Node) return a.Node < b.Node;
        if (a.Factor != b.Factor) return a.Factor < b.Factor;
        if (a.Lr != b.Lr) return a.Lr < b.Lr;
        return a.Chi < b.Chi;
    });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (kept > 0) {
            Child& last = out[kept - 1];
            if (last.Node == out[i].Node && last.Factor == out[i].Factor && last.Lr == out[i].Lr &&
                last.Chi == out[i].Chi) {
                last.Ways += out[i].Ways;
                continue;
            }
        }
        out[kept++] = out[i];
    }
    out.resize(kept);
}

// Counts the completions of a node and bounds each ordering's remaining
// part over them, from the nodes of the next stage.
void Network::Complete(int stage, std::int32_t node) {
    const auto us = static_cast<std::size_t>(stage);
    if (nodes_[us][static_cast<std::size_t>(node)].Ready) return;
    const std::vector<std::int32_t> remaining = Remaining(stage, node);
    const FactorialTable& f = state_.Factorials;
    std::int32_t sum = 0;
    long double product = 1.0L;
    for (std::int32_t r : remaining) {
        sum += r;
        product *= f[static_cast<std::size_t>(r)];
    }
    Node result;
    result.Closed = f[static_cast<std::size_t>(sum)] / product;
    if (stage == stages_) {
        result.Count = 1;
        result.FactorLow = result.FactorHigh = 1.0L;
    } else {
        std::vector<Child> children;
        Children(stage, remaining, children);
        bool first = true;
        for (const Child& c : children) {
            Complete(stage + 1, c.Node);
            const Node& n = nodes_[us + 1][static_cast<std::size_t>(c.Node)];
            std::uint64_t ways = 0;
            if (__builtin_mul_overflow(c.Ways, n.Count, &ways) ||
                __builtin_add_overflow(result.Count, ways, &result.Count))
                throw GiveUp{};
            const long double low = c.Factor * n.FactorLow;
            const long double high = c.Factor * n.FactorHigh;
            if (first) {
                result.FactorLow = low;
                result.FactorHigh = high;
                result.LrLow = c.Lr + n.LrLow;
                result.LrHigh = c.Lr + n.LrHigh;
                result.ChiLow = c.Chi + n.ChiLow;
                result.ChiHigh = c.Chi + n.ChiHigh;
                first = false;
            } else {
                result.FactorLow = std::min(result.FactorLow, low);
                result.FactorHigh = std::max(result.FactorHigh, high);
                result.LrLow = std::min(result.LrLow, c.Lr + n.LrLow);
                result.LrHigh = std::max(result.LrHigh, c.Lr + n.LrHigh);
                result.ChiLow = std::min(result.ChiLow, c.Chi + n.ChiLow);
                result.ChiHigh = std::max(result.ChiHigh, c.Chi + n.ChiHigh);
            }
        }
        if (first) throw GiveUp{};  // no completion: margins that cannot be met
        if (kept_ + children.size() <= kKeptChildren) {
            kept_ += children.size();
            result.Children = std::move(children);
            result.ChildrenKept = true;
        }
    }
    result.Ready = true;
    Node& target = nodes_[us][static_cast<std::size_t>(node)];
    result.Key = std::move(target.Key);
    target = std::move(result);
    Tick();
}

int Network::Decide(double tolerance, long double low, long double high, double b) {
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

std::pair<long double, long double> Network::Range(int o, const Entry& e, long double futureLow,
                                                   long double futureHigh) const {
    if (o == kProbability)
        return {e.PLow * futureLow / normaliser_ * (1.0L - probabilitySlack_),
                e.PHigh * futureHigh / normaliser_ * (1.0L + probabilitySlack_)};
    if (o == kLikelihoodRatio)
        return {2.0L * (static_cast<long double>(e.LrLow) + futureLow) - lrSlack_,
                2.0L * (static_cast<long double>(e.LrHigh) + futureHigh) + lrSlack_};
    return {static_cast<long double>(e.ChiLow) + futureLow - chiSlack_,
            static_cast<long double>(e.ChiHigh) + futureHigh + chiSlack_};
}

const Network::Completions* Network::CompletionsOf(int stage, std::int32_t node, int o) {
    auto& lists = lists_[static_cast<std::size_t>(stage)];
    if (const auto found = lists.find(node); found != lists.end())
        return found->second.Value.empty() ? nullptr : &found->second;
    const Node& n = nodes_[static_cast<std::size_t>(stage)][static_cast<std::size_t>(node)];
    // A node that cannot be listed is remembered as an empty list.
    if (listed_ + n.Count > kListLimit) {
        lists.emplace(node, Completions{});
        return nullptr;
    }
    struct Item {
        long double Value;
        long double Mass;
        std::uint64_t Ways;
    };
    std::vector<Item> items;
    if (stage == stages_) {
        items.push_back({o == kProbability ? 1.0L : 0.0L, 1.0L, 1});
    } else {
        std::vector<Child> scratch;
        for (const Child& c : ChildrenOf(stage, node, scratch)) {
            const Completions* below = CompletionsOf(stage + 1, c.Node, o);
            if (below == nullptr) {
                lists.emplace(node, Completions{});
                return nullptr;
            }
            const long double own = o == kProbability ? c.Factor : o == kLikelihoodRatio ? c.Lr : c.Chi;
            for (std::size_t i = 0; i < below->Value.size(); ++i) {
                const long double value = o == kProbability ? own * below->Value[i] : own + below->Value[i];
                const long double mass = (below->Mass[i + 1] - below->Mass[i]) * c.Factor * static_cast<long double>(c.Ways);
                items.push_back({value, mass, (below->Ways[i + 1] - below->Ways[i]) * c.Ways});
            }
        }
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.Value < b.Value; });
    }
    Completions list;
    list.Ways.push_back(0);
    list.Mass.push_back(0.0L);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0 && items[i].Value == items[i - 1].Value) {
            list.Ways.back() += items[i].Ways;
            list.Mass.back() += items[i].Mass;
            continue;
        }
        list.Value.push_back(items[i].Value);
        list.Ways.push_back(list.Ways.back() + items[i].Ways);
        list.Mass.push_back(list.Mass.back() + items[i].Mass);
    }
    listed_ += list.Value.size();
    return &lists.emplace(node, std::move(list)).first->second;
}

void Network::SettleByCompletions(int o, const Entry& e, const Node& n, const Completions& list,
                                  std::size_t& firstHint, std::size_t& lastHint) {
    const double tolerance = o == kProbability ? kProbabilityTolerance : kStatisticTolerance;
    auto classOf = [&](std::size_t i) {
        const auto [low, high] = Range(o, e, list.Value[i], list.Value[i]);
        return Decide(tolerance, low, high, observed_[o]);
    };
    // With the completions in increasing order the classes run: less,
    // (too close to call), equal, (too close to call), greater.
    std::size_t first = 0;
    std::size_t last = list.Value.size();
    // The end of the prefix of completions for which inFront holds.
    auto partition = [&](auto&& inFront, std::size_t& hint) {
        const std::size_t size = list.Value.size();
        std::size_t i = hint;
        if (i > size) {
            std::size_t lo = 0;
            std::size_t hi = size;
            while (lo < hi) {
                const std::size_t mid = lo + (hi - lo) / 2;
                if (inFront(mid)) lo = mid + 1;
                else hi = mid;
            }
            i = lo;
        } else {
            while (i > 0 && !inFront(i - 1)) --i;
            while (i < size && inFront(i)) ++i;
        }
        hint = i;
        return i;
    };
    Tick();
    first = partition([&](std::size_t i) { return classOf(i) == 0; }, firstHint);
    last = partition([&](std::size_t i) { return classOf(i) != 2; }, lastHint);
    if (first < last && (classOf(first) != 1 || classOf(last - 1) != 1)) throw GiveUp{};
    const std::size_t bounds[4] = {0, first, last, list.Value.size()};
    for (int which = 0; which < 3; ++which) {
        const std::size_t from = bounds[which];
        const std::size_t to = bounds[which + 1];
        if (from == to) continue;
        counts_[o][which] += e.Ways * (list.Ways[to] - list.Ways[from]);
        masses_[o][which] += e.Mass * (list.Mass[to] - list.Mass[from]);
    }
    settled_ += e.Ways * n.Count;
}

void Network::Settle(int ordering, int which, const Entry& e, const Node& n) {
    counts_[ordering][which] += e.Ways * n.Count;
    masses_[ordering][which] += e.Mass * n.Closed;
}

void Network::Progress() {
    ports_.Status->SetText(std::to_string(Settled()) + " of " + std::to_string(total_) + "  Click to break");
    ports_.Pump->ProcessPendingEvents();
}

std::uint64_t Network::Settled() const {
    return passes_ == 0 ? 0 : (done_ + settled_) / static_cast<std::uint64_t>(passes_);
}

void Network::WriteTallies(std::uint64_t points) {
    ExactTally* targets[kOrderings] = {&state_.ProbabilityTally, &state_.G2Tally, &state_.X2Tally};
    for (int o = 0; o < kOrderings; ++o) {
        if (!(allOpen_ & (1U << o))) continue;
        ExactTally& t = *targets[o];
        t.LessCount = static_cast<std::int64_t>(counts_[o][0]);
        t.EqualCount = static_cast<std::int64_t>(counts_[o][1]);
        t.GreaterCount = static_cast<std::int64_t>(counts_[o][2]);
        t.LessMass = static_cast<double>(masses_[o][0] / normaliser_);
        t.EqualMass = static_cast<double>(masses_[o][1] / normaliser_);
        t.GreaterMass = static_cast<double>(masses_[o][2] / normaliser_);
    }
    state_.SamplePointCount = points;
}

NetworkOutcome Network::Run() {
    const ContingencyTable& t = state_.Table;
    terms_.Prepare(t, state_.ComputeLR, state_.ComputeChi);
    if (!terms_.Available() || !(state_.ObservedProbability > 1e-280)) return NetworkOutcome::NeedsEnumeration;
    SetUpLines();
    allOpen_ = 1U << kProbability;
    if (state_.Options.ExaLRtest) allOpen_ |= 1U << kLikelihoodRatio;
    if (state_.Options.ExaCStest) allOpen_ |= 1U << kPearson;
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
    lrSlack_ = 2.0 * 4.0 * (cells + stages_ + 4.0) * 0x1p-53 * terms_.LikelihoodRatioMagnitude();
    chiSlack_ = 4.0 * (cells + stages_ + 4.0) * 0x1p-53 * terms_.PearsonMagnitude();
    // Past values that agree to within these steps merge (their spread is
    // kept): far below the tolerances, far above the rounding noise.
    lrQuantum_ = std::max(terms_.LikelihoodRatioMagnitude(), 1e-300) * 0x1p-44;
    chiQuantum_ = std::max(terms_.PearsonMagnitude(), 1e-300) * 0x1p-44;

    nodes_.assign(static_cast<std::size_t>(stages_ + 1), {});
    index_.assign(static_cast<std::size_t>(stages_ + 1), {});
    std::vector<std::int32_t> root(lineTotal_.begin(), lineTotal_.end());
    for (int k = 0; k < lines_; k = groupEnd_[static_cast<std::size_t>(k)])
        std::sort(root.begin() + k, root.begin() + groupEnd_[static_cast<std::size_t>(k)], std::greater<>());
    total_ = static_cast<std::uint64_t>(state_.ExpectedSamplePoints);
    try {
        const std::int32_t rootNode = Intern(0, root);
        Complete(0, rootNode);
        total_ = nodes_[0][static_cast<std::size_t>(rootNode)].Count;
        normaliser_ = nodes_[0][static_cast<std::size_t>(rootNode)].Closed;

        for (int o = 0; o < kOrderings; ++o)
            if (allOpen_ & (1U << o)) ++passes_;
        // One pass per ordering: a partial table then carries one past
        // value, so far more of them merge than if all three were carried.
        for (int o = 0; o < kOrderings; ++o) {
            if (!(allOpen_ & (1U << o))) continue;
            settled_ = 0;
            Pass(rootNode, 1U << o);
            if (settled_ != total_) return NetworkOutcome::NeedsEnumeration;
            done_ += total_;
        }
    } catch (const GiveUp&) {
        return NetworkOutcome::NeedsEnumeration;
    } catch (const BrokenOff&) {
        WriteTallies(Settled());
        return NetworkOutcome::BrokenOff;
    }
    WriteTallies(total_);
    return NetworkOutcome::Completed;
}

void Network::Pass(std::int32_t rootNode, std::uint32_t ordering) {
        lists_.assign(static_cast<std::size_t>(stages_ + 1), {});
        listed_ = 0;
        std::vector<std::pair<EntryKey, Entry>> current;
        Entry start;
        start.Ways = 1;
        start.Mass = start.PLow = start.PHigh = 1.0L;
        current.emplace_back(EntryKey{rootNode, ordering, 0, 0, 0}, start);
        std::vector<Child> scratch;
        const double tolerances[kOrderings] = {kProbabilityTolerance, kStatisticTolerance, kStatisticTolerance};
        for (int stage = 0; stage <= stages_ && !current.empty(); ++stage) {
            const auto us = static_cast<std::size_t>(stage);
            // Grouped by node, so each node's children are formed once.
            std::sort(current.begin(), current.end(), [](const auto& a, const auto& b) {
                if (a.first.Node != b.first.Node) return a.first.Node < b.first.Node;
                return a.first.P + a.first.Lr + a.first.Chi < b.first.P + b.first.Lr + b.first.Chi;
            });
            std::vector<std::size_t> hints;
            std::unordered_map<EntryKey, Entry, EntryKeyHash> next;
            std::int32_t childrenOf = -1;
            for (const auto& [key, e] : current) {
                const Node& n = nodes_[us][static_cast<std::size_t>(key.Node)];
                std::uint32_t open = key.Open;
                for (int o = 0; o < kOrderings; ++o) {
                    if (!(open & (1U << o))) continue;
                    const auto [low, high] =
                        o == kProbability       ? Range(o, e, n.FactorLow, n.FactorHigh)
                        : o == kLikelihoodRatio ? Range(o, e, n.LrLow, n.LrHigh)
                                                : Range(o, e, n.ChiLow, n.ChiHigh);
                    const int which = Decide(tolerances[o], low, high, observed_[o]);
                    if (which < 0) continue;
                    Settle(o, which, e, n);
                    open &= ~(1U << o);
                }
                Tick();
                if (open == 0) {
                    settled_ += e.Ways * n.Count;
                    continue;
                }
                // A node with few completions settles them one by one, in
                // order of value.
                if (n.Count <= kListedNode) {
                    const int o = std::countr_zero(open);
                    if (const Completions* list = CompletionsOf(stage, key.Node, o)) {
                        std::size_t none = kNoHint;
                        std::size_t none2 = kNoHint;
                        SettleByCompletions(o, e, n, *list, none, none2);
                        continue;
                    }
                }
                // A complete table whose class rounding could decide.
                if (stage == stages_) throw GiveUp{};
                if (childrenOf != key.Node) {
                    childrenOf = key.Node;
                    const std::vector<Child>& kids = ChildrenOf(stage, key.Node, scratch);
                    if (&kids != &scratch) scratch = kids;
                    hints.assign(2 * scratch.size(), kNoHint);
                }
                const std::vector<Child>& children = scratch;
                const int o = std::countr_zero(open);
                for (std::size_t ci = 0; ci < children.size(); ++ci) {
                    const Child& c = children[ci];
                    Entry child;
                    child.Ways = e.Ways * c.Ways;
                    const long double ways = static_cast<long double>(c.Ways);
                    child.Mass = e.Mass * c.Factor * ways;
                    child.PLow = e.PLow * c.Factor;
                    child.PHigh = e.PHigh * c.Factor;
                    child.LrLow = e.LrLow + c.Lr;
                    child.LrHigh = e.LrHigh + c.Lr;
                    child.ChiLow = e.ChiLow + c.Chi;
                    child.ChiHigh = e.ChiHigh + c.Chi;
                    // A child with few completions settles them at once.
                    const Node& childNode = nodes_[us + 1][static_cast<std::size_t>(c.Node)];
                    if (childNode.Count <= kListedChild || (childNode.Count <= kListedNode && Listed(stage + 1, c.Node))) {
                        if (const Completions* list = CompletionsOf(stage + 1, c.Node, o)) {
                            SettleByCompletions(o, child, childNode, *list, hints[2 * ci], hints[2 * ci + 1]);
                            continue;
                        }
                    }
                    EntryKey childKey{c.Node, open, 0, 0, 0};
                    if (open & (1U << kProbability)) {
                        int exponent = 0;
                        const long double mantissa = std::frexp(child.PLow, &exponent);
                        childKey.P = static_cast<std::int64_t>(exponent) * (std::int64_t{1} << 48) +
                                     static_cast<std::int64_t>(std::llround(mantissa * 0x1p46L));
                    }
                    if (open & (1U << kLikelihoodRatio)) childKey.Lr = std::llround(child.LrLow / lrQuantum_);
                    if (open & (1U << kPearson)) childKey.Chi = std::llround(child.ChiLow / chiQuantum_);
                    const auto [it, added] = next.try_emplace(childKey, child);
                    if (!added) {
                        Entry& m = it->second;
                        m.Ways += child.Ways;
                        m.Mass += child.Mass;
                        m.PLow = std::min(m.PLow, child.PLow);
                        m.PHigh = std::max(m.PHigh, child.PHigh);
                        m.LrLow = std::min(m.LrLow, child.LrLow);
                        m.LrHigh = std::max(m.LrHigh, child.LrHigh);
                        m.ChiLow = std::min(m.ChiLow, child.ChiLow);
                        m.ChiHigh = std::max(m.ChiHigh, child.ChiHigh);
                    } else if (next.size() > limits_.MaxEntries) {
                        throw GiveUp{};
                    }
                }
            }
            current.assign(next.begin(), next.end());
        }
}

}  // namespace

NetworkOutcome RunNetworkAlgorithm(AnalysisState& state, const EnginePorts& ports, const NetworkLimits& limits) {
    if (!NetworkApplies(state)) return NetworkOutcome::NeedsEnumeration;
    return Network(state, ports, limits).Run();
}

}  // namespace kelvorin
