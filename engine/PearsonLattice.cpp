#include "PearsonLattice.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "BoundedVectors.h"
#include "Galloping.h"
#include "RadixSort.h"
#include "SeparableConvex.h"

namespace kelvorin {

namespace {

// The most past values gathered at a node that are merged in a table of
// their values before they are sorted.
constexpr std::size_t kMergedInCache = std::size_t{1} << 14;

// The number of values[0, at) below a bound (below holds for a prefix of
// the values, which rise), found by galloping down from at: steps doubling
// away from it bracket the end of the prefix, then bisection; of the order
// of the logarithm of how far the end lies below at. Where the bounds of
// consecutive searches move little (mostly by none or one value), the four
// values under at are tested first without a branch: the number of them
// not below is how far the end lies down, unless it is all four.
template <typename Below>
std::size_t GallopDown(const std::int64_t* values, std::size_t at, Below&& below) {
    if (at >= 4) {
        const std::size_t above = std::size_t{!below(values[at - 1])} + std::size_t{!below(values[at - 2])} +
                                  std::size_t{!below(values[at - 3])} + std::size_t{!below(values[at - 4])};
        if (above < 4) return at - above;
        at -= 4;
    }
    std::size_t step = 1;
    while (step <= at && !below(values[at - step])) step *= 2;
    const std::size_t low = step <= at ? at - step + 1 : 0;
    const std::size_t high = at - step / 2;
    return static_cast<std::size_t>(PartitionPoint(values + low, values + high, below) - values);
}

// The same upwards: the number of values[0, size) below a bound (a prefix),
// known to be at least at, found from at. The four values from at are
// tested first without a branch; past them, by galloping up.
template <typename Below>
std::size_t GallopUp(const std::int64_t* values, std::size_t size, std::size_t at, Below&& below) {
    if (at + 4 <= size) {
        const std::size_t under = std::size_t{below(values[at])} + std::size_t{below(values[at + 1])} +
                                  std::size_t{below(values[at + 2])} + std::size_t{below(values[at + 3])};
        if (under < 4) return at + under;
        at += 4;
    }
    return Boundary(size, [&](std::size_t i) { return below(values[i]); }, at);
}

// The meeting's nodes fall into about this many chunks, taken one at a
// time by the threads that settle them.
constexpr std::size_t kChunks = 256;

// The steps the settling thread counts while it waits for the others'
// chunks (enough for the progress to be shown).
constexpr std::uint64_t kWaitTick = std::uint64_t{1} << 14;

// The fewest completions left after some lines that are offered whole.
constexpr std::uint64_t kWholeFrom = 4;

// Multiplies, or returns false when the product leaves 0 .. 2^62.
bool Times(std::int64_t a, std::int64_t b, std::int64_t& product) {
    return !__builtin_mul_overflow(a, b, &product) && product >= 0 && product < (std::int64_t{1} << 62);
}

}  // namespace

PearsonLattice::PearsonLattice(const LatticeMargins& margins, const FactorialTable& factorials, std::size_t maxNodes,
                               std::size_t maxItems, std::function<void(std::uint64_t)> tick, std::size_t compactFrom,
                               std::uint64_t pricedFrom, bool wordKeys)
    : margins_(margins),
      factorials_(factorials),
      maxNodes_(maxNodes),
      maxItems_(maxItems),
      compactFrom_(compactFrom),
      pricedFrom_(pricedFrom),
      wordKeys_(wordKeys),
      tick_(std::move(tick)) {
    lines_ = static_cast<int>(margins_.Lines.size());
    stages_ = static_cast<int>(margins_.Stages.size());
    groupEnd_.assign(static_cast<std::size_t>(lines_), lines_);
    for (int k = lines_ - 1; k >= 0; --k) {
        const auto uk = static_cast<std::size_t>(k);
        groupEnd_[uk] = k + 1 < lines_ && margins_.Lines[uk + 1] == margins_.Lines[uk] ? groupEnd_[uk + 1] : k + 1;
        interchangeable_ = interchangeable_ || groupEnd_[uk] > k + 1;
    }
    std::int32_t largest = 0;
    for (const std::int32_t r : margins_.Lines) largest = std::max(largest, r);
    bits_ = static_cast<int>(std::bit_width(static_cast<std::uint32_t>(largest)));
}

bool PearsonLattice::Prepare(double observed, double error, double tolerance) {
    if (lines_ < 2 || stages_ < 3 || bits_ * lines_ > 64) return false;
    std::int64_t grand = 0;
    for (const std::int32_t r : margins_.Lines) {
        if (r <= 0) return false;
        grand += r;
    }
    for (const std::int32_t c : margins_.Stages)
        if (c <= 0) return false;
    // D = lcm of r_k T_s; every value is at most D times the number of
    // lines (sum over a line of n^2 / (r T) is at most sum n / r = 1).
    std::int64_t d = 1;
    for (const std::int32_t r : margins_.Lines)
        for (const std::int32_t c : margins_.Stages) {
            const std::int64_t p = static_cast<std::int64_t>(r) * c;
            if (!Times(d / std::gcd(d, p), p, d)) return false;
        }
    std::int64_t most = 0;
    if (!Times(d, lines_ + 1, most)) return false;
    const auto S = static_cast<std::size_t>(stages_);
    coefficient_.assign(static_cast<std::size_t>(lines_) * S, 0);
    observedValue_ = 0;
    for (std::size_t k = 0; k < static_cast<std::size_t>(lines_); ++k)
        for (std::size_t s = 0; s < S; ++s) {
            const std::int64_t q = d / (static_cast<std::int64_t>(margins_.Lines[k]) * margins_.Stages[s]);
            coefficient_[k * S + s] = q;
            const std::int64_t n = margins_.Observed[k * S + s];
            observedValue_ += n * n * q;
        }

    // The tally rule forms d = |a - b| / (a + b) and calls a and b equal
    // when d < tolerance, else a is less or greater as a < b or not. With
    // X(L) = N L / D - N and every evaluation of X2 within error of it, L
    // is surely less when X(L) + error lies below b (1 - t) / (1 + t),
    // surely greater when X(L) - error lies above b (1 + t) / (1 - t), and
    // surely equal when X(L) -+ error lie strictly between the same bounds
    // for a narrower t; the margins of 1e-6 of the tolerance cover the
    // rule's own roundings many times over. X(L) rises with L, so the
    // classes are L < equalFrom_, equalFrom_ <= L <= equalTo_ and L >
    // equalTo_, unless some L is none of the three: then rounding could
    // decide a table's class, and the lattice is not used.
    const long double b = observed;
    const long double e = error;
    const long double n = static_cast<long double>(grand);
    const long double scale = static_cast<long double>(d);
    auto statistic = [&](std::int64_t value) { return n * static_cast<long double>(value) / scale - n; };
    if (!(std::abs(statistic(observedValue_) - b) <= e) || !(b > 0.0L)) return false;  // the bound does not hold
    const long double outside = tolerance * (1.0L + 1e-6L);
    const long double inside = tolerance * (1.0L - 1e-6L);
    const long double lessBelow = b * (1.0L - outside) / (1.0L + outside);
    const long double greaterAbove = b * (1.0L + outside) / (1.0L - outside);
    const long double equalAbove = b * (1.0L - inside) / (1.0L + inside);
    const long double equalBelow = b * (1.0L + inside) / (1.0L - inside);
    auto less = [&](std::int64_t value) { return statistic(value) + e < lessBelow; };
    auto greater = [&](std::int64_t value) { return statistic(value) - e > greaterAbove; };
    auto equal = [&](std::int64_t value) {
        return statistic(value) - e > equalAbove && statistic(value) + e < equalBelow;
    };
    // The first L not surely less and the last not surely greater, from
    // estimates a few steps off at most.
    auto first = [&](long double edge, auto&& before) {
        auto at = static_cast<std::int64_t>(std::floor(scale * (edge + n) / n)) - 2;
        for (int steps = 0; steps < 64; ++steps) {
            if (before(at)) {
                ++at;
            } else if (before(at - 1)) {
                return at;
            } else {
                --at;
            }
        }
        return std::int64_t{-1};
    };
    equalFrom_ = first(lessBelow - e, less);
    const std::int64_t after = first(greaterAbove + e, [&](std::int64_t v) { return !greater(v); });
    equalTo_ = after - 1;
    if (equalFrom_ < 0 || after < 0 || !(equalFrom_ <= observedValue_ && observedValue_ <= equalTo_) ||
        !equal(equalFrom_) || !equal(equalTo_))
        return false;

    // The root's one partial table and the complete table's one completion.
    std::vector<std::int32_t> totals(margins_.Lines);
    frontier_ = Side{};
    frontier_.Index.Insert(Pack(totals), 0);
    frontier_.Keys.push_back(Pack(totals));
    frontier_.Begin = {0, 1};
    frontier_.Items.push_back({0, 1, 1.0L});
    std::fill(totals.begin(), totals.end(), 0);
    completions_ = Side{};
    completions_.Index.Insert(Pack(totals), 0);
    completions_.Keys.push_back(Pack(totals));
    completions_.Begin = {0, 1};
    completions_.Items.push_back({0, 1, 1.0L});
    summaries_.assign(1, Summary{0, 0, 1, 1.0L});
    front_ = 0;
    back_ = stages_;
    while (back_ - front_ > 2) {
        // The side with fewer values steps; but while the back side is
        // still the complete table, a step back that makes the meeting the
        // stage with two columns left is taken first: there the completions
        // of each node are formed with the remainders of its lines counted
        // whole where they stay in one class, instead of every partial
        // table of the stage before being paired with its one completion
        // (with three columns, every table).
        const bool twoColumnMeeting = back_ == stages_ && back_ - front_ == 3;
        const bool forward = !twoColumnMeeting && frontier_.Size() <= completions_.Size();
        if (front_ + 4 == stages_ && back_ + 1 == stages_) {
            if (!StepToCheaperMeeting(forward)) return false;
            continue;
        }
        if (!(forward ? StepForward() : StepBack())) return false;
    }
    return true;
}

bool PearsonLattice::FrontierParents(const std::vector<std::int32_t>& node) {
    Parents(front_, node, parentEdges_);
    const NodeIndex& index = Sides().frontier_.Index;
    bool reached = false;
    for (Edge& e : parentEdges_) {
        const std::int32_t p = index.At(e.Node);
        e.Node = static_cast<std::uint64_t>(p);  // from here on the parent's number
        reached = reached || p >= 0;
    }
    return reached;
}

std::pair<PearsonLattice::ItemAt, PearsonLattice::ItemAt> PearsonLattice::SettledRuns(ItemAt begin, ItemAt end,
                                                                                      std::int64_t term,
                                                                                      const Summary& sum) const {
    // (A parent's list may lie far out of the caches: the branching
    // search, whose guesses fetch ahead, is the faster here.)
    const auto lessEnd =
        std::partition_point(begin, end, [&](const Item& i) { return i.Value + term + sum.Greatest < equalFrom_; });
    const auto greaterFrom =
        std::partition_point(lessEnd, end, [&](const Item& i) { return i.Value + term + sum.Least <= equalTo_; });
    return {lessEnd, greaterFrom};
}

// The sizes of the sides can choose badly here: on a 5 x 6 table of 3e13
// sample points stepping forward left 9.5e9 past values unsettled at the
// meeting (almost eight minutes), where the lists of the other way held
// 1.4e10 completions (two and a half); on a symmetric 5 x 5 table the
// other way would not even keep to the limits.
bool PearsonLattice::StepToCheaperMeeting(bool forward) {
    constexpr std::uint64_t kRefused = std::numeric_limits<std::uint64_t>::max();
    // A step changes only its own side, and only when it succeeds.
    auto step = [&](bool ahead) {
        if (!(ahead ? StepForward() : StepBack())) return kRefused;
        return ahead ? TwoColumnMeetingPrice() : ListedMeetingPrice();
    };
    Side kept = forward ? frontier_ : completions_;
    std::vector<Summary> keptSummaries = summaries_;
    auto undo = [&](bool ahead) {
        if (ahead) {
            frontier_ = std::move(kept);
            --front_;
        } else {
            completions_ = std::move(kept);
            summaries_ = std::move(keptSummaries);
            ++back_;
        }
    };
    const std::uint64_t first = step(forward);
    if (first < pricedFrom_) return true;
    if (first != kRefused) undo(forward);
    kept = forward ? completions_ : frontier_;
    keptSummaries = summaries_;
    const std::uint64_t other = step(!forward);
    if (other < first) return true;
    if (other != kRefused) undo(!forward);
    return first != kRefused && (forward ? StepForward() : StepBack());
}

std::uint64_t PearsonLattice::TwoColumnMeetingPrice() {
    constexpr std::uint64_t kPerPast = 3;
    // Every past value carried into the meeting is at most the frontier's
    // through every column choice: below the price that matters, that is
    // price enough.
    const std::uint64_t work = MeetingWork();
    if (work < pricedFrom_ / kPerPast) return work * kPerPast;
    // Counted at every eighth node of the meeting (their column choices
    // and completions' bounds are most of the meeting's own work outside
    // the past values), the rest taken as alike.
    constexpr std::uint64_t kSampled = 8;
    std::uint64_t unsettled = 0, nodes = 0;
    const WorkVector<Item>& past = frontier_.Items;
    ForEachNode(front_ + 1, [&](const std::vector<std::int32_t>& node) {
        if (nodes++ % kSampled != 0 || !FrontierParents(node)) return true;
        const Summary sum = Summarise(front_ + 1, node);
        for (const Edge& e : parentEdges_) {
            if (static_cast<std::int32_t>(e.Node) < 0) continue;
            const auto p = static_cast<std::size_t>(e.Node);
            const auto [lessEnd, greaterFrom] = SettledRuns(past.begin() + static_cast<std::ptrdiff_t>(frontier_.Begin[p]),
                                                            past.begin() + static_cast<std::ptrdiff_t>(frontier_.Begin[p + 1]),
                                                            e.Term, sum);
            unsettled += static_cast<std::uint64_t>(greaterFrom - lessEnd);
        }
        tick_(parentEdges_.size() + 1);
        return true;
    });
    return unsettled > std::numeric_limits<std::uint64_t>::max() / (kPerPast * kSampled) - 1
               ? std::numeric_limits<std::uint64_t>::max() - 1
               : unsettled * kPerPast * kSampled;
}

std::uint64_t PearsonLattice::ListedMeetingPrice() {
    std::uint64_t listed = 0;
    ForEachNode(front_ + 1, [&](const std::vector<std::int32_t>& node) {
        if (!FrontierParents(node)) return true;
        PrepareNode(front_ + 1, node);
        const std::uint64_t here = Listed(front_ + 1);
        listed = here > std::numeric_limits<std::uint64_t>::max() - 1 - listed
                     ? std::numeric_limits<std::uint64_t>::max() - 1
                     : listed + here;
        tick_(parentEdges_.size() + edges_.size() + 1);
        return true;
    });
    return listed;
}

// Every partial table of the frontier through every column vector from its
// node (the number of vectors x with x_k at most the node's r_k and sum T
// by a convolution over the lines).
std::uint64_t PearsonLattice::MeetingWork() const {
    const std::int32_t total = margins_.Stages[static_cast<std::size_t>(front_)];
    std::vector<std::int32_t> remaining;
    const std::vector<std::int32_t> none(static_cast<std::size_t>(lines_), 0);
    std::uint64_t work = 0;
    for (std::size_t p = 0; p < frontier_.Keys.size(); ++p) {
        Unpack(frontier_.Keys[p], remaining);
        const BoundedCount vectors = CountBoundedVectors(none, remaining, total);
        std::uint64_t here = 0;
        if (vectors.Overflowed || __builtin_mul_overflow(vectors.Count, frontier_.Begin[p + 1] - frontier_.Begin[p], &here) ||
            __builtin_add_overflow(work, here, &work))
            return std::numeric_limits<std::uint64_t>::max();
    }
    return work;
}

std::uint64_t PearsonLattice::Pack(const std::vector<std::int32_t>& remaining) const {
    return PackTotals(remaining, bits_);
}

void PearsonLattice::Unpack(std::uint64_t key, std::vector<std::int32_t>& remaining) const {
    UnpackTotals(key, bits_, static_cast<std::size_t>(lines_), remaining);
}

void PearsonLattice::Edges(int stage, const std::vector<std::int32_t>& remaining, std::vector<Edge>& out) {
    const std::int32_t total = margins_.Stages[static_cast<std::size_t>(stage)];
    std::vector<std::int32_t>& room = vectorRoom_;
    room.resize(remaining.size());
    for (std::size_t k = 0; k < remaining.size(); ++k) room[k] = std::min(remaining[k], total);
    Vectors(stage, remaining, false, out);
}

void PearsonLattice::Vectors(int stage, const std::vector<std::int32_t>& from, bool up, std::vector<Edge>& out) {
    out.clear();
    const auto us = static_cast<std::size_t>(stage);
    const auto S = static_cast<std::size_t>(stages_);
    const std::int32_t total = margins_.Stages[us];
    const auto K = static_cast<std::size_t>(lines_);
    const std::vector<std::int32_t>& room = vectorRoom_;
    std::vector<std::int32_t>& cap = vectorCap_;
    std::vector<std::int32_t>& other = vectorOther_;
    cap.assign(K + 1, 0);
    other = from;
    for (std::size_t k = K; k-- > 0;) cap[k] = cap[k + 1] + room[k];
    if (cap[0] < total) return;
    const long double numerator = factorials_[static_cast<std::size_t>(total)];
    const std::uint64_t key = Pack(from);
    // Interchangeable lines with the same total in from (adjacent: a node's
    // totals are sorted within each group) take non-increasing counts, a
    // vector standing for every exchange of counts among them: they reach
    // the same node with the same term and factor.
    std::vector<std::uint8_t>& continues = vectorContinues_;
    continues.assign(K, 0);
    for (std::size_t k = 1; k < K && interchangeable_; ++k)
        continues[k] = groupEnd_[k - 1] == groupEnd_[k] && from[k - 1] == from[k];
    std::vector<std::int32_t>& chosen = vectorChosen_;
    chosen.assign(K, 0);
    vectorSorted_.resize(K);
    const long double* const f = factorials_.data();
    std::int32_t* const to = other.data();
    const std::int32_t* const start = from.data();
    // Line k's count z: the remaining total it leaves (or restores), and
    // the product of the factorials, the lattice term and (the key being
    // the lines' totals in fields of bits_ bits) the amount the column adds
    // to the key or takes off it, carried on.
    struct Carried {
        long double Product;
        std::int64_t Term;
        std::uint64_t Moved;
    };
    auto line = [&](std::size_t k, std::int32_t z, const Carried& c) {
        to[k] = up ? start[k] + z : start[k] - z;
        const int shift = bits_ * static_cast<int>(K - 1 - k);
        return Carried{c.Product * f[z], c.Term + static_cast<std::int64_t>(z) * z * coefficient_[k * S + us],
                       c.Moved + (static_cast<std::uint64_t>(z) << shift)};
    };
    ForEachBoundedVector(K, total, room.data(), cap.data(), continues.data(), chosen.data(), Carried{1.0L, 0, 0}, line,
                         [&](const Carried& c, std::uint64_t ways) {
                             if (!interchangeable_) {
                                 out.push_back({up ? key + c.Moved : key - c.Moved, c.Term, 1, numerator / c.Product});
                                 return;
                             }
                             std::vector<std::int32_t>& sorted = vectorSorted_;
                             SortGroupsDecreasing(to, sorted, groupEnd_);
                             out.push_back({Pack(sorted), c.Term, ways,
                                            static_cast<long double>(ways) * (numerator / c.Product)});
                         });
    // Every column vector reaches its own node, unless lines are
    // interchangeable: vectors that differ by an exchange of such lines and
    // reach the same node with the same term are one edge.
    if (!interchangeable_ || out.size() < 2) return;
    // Sorted by node, then term, then place (so that equal edges add up in
    // the order they came). Where the node's key, the term's offset from the
    // least and the place fit in one word together, by that word, which
    // moves a word per edge instead of the edge; else by the three.
    std::int64_t least = out[0].Term, most = out[0].Term;
    for (const Edge& e : out) {
        least = std::min(least, e.Term);
        most = std::max(most, e.Term);
    }
    const int placeBits = static_cast<int>(std::bit_width(out.size() - 1));
    const int termBits = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(most - least)));
    // The edges in their order into merged, equal ones added up.
    std::vector<Edge>& merged = edgesMerged_;
    merged.clear();
    auto take = [&merged](const Edge& e) {
        if (!merged.empty() && merged.back().Node == e.Node && merged.back().Term == e.Term) {
            merged.back().Ways += e.Ways;
            merged.back().Factor += e.Factor;
            return;
        }
        merged.push_back(e);
    };
    if (wordKeys_ && bits_ * lines_ + termBits + placeBits <= 64) {
        std::vector<std::uint64_t>& keys = edgeWords_;
        keys.resize(out.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            keys[i] = out[i].Node << (termBits + placeBits) | static_cast<std::uint64_t>(out[i].Term - least) << placeBits | i;
        SortPlacedWords(keys, placeBits, edgeScratch_, radixStarts_);
        const std::uint64_t place = (std::uint64_t{1} << placeBits) - 1;
        for (const std::uint64_t key : keys) take(out[key & place]);
    } else {
        std::vector<EdgeKey>& keys = edgeKeys_;
        keys.resize(out.size());
        for (std::size_t i = 0; i < out.size(); ++i) keys[i] = {out[i].Node, out[i].Term, i};
        std::sort(keys.begin(), keys.end(), [](const EdgeKey& a, const EdgeKey& b) {
            return a.Node != b.Node ? a.Node < b.Node : a.Term != b.Term ? a.Term < b.Term : a.Place < b.Place;
        });
        for (const EdgeKey& key : keys) take(out[key.Place]);
    }
    out.swap(merged);
}

// Least significant digit first, up to eleven bits a pass (the counts of
// every pass taken in one reading), over the values less the least (a few
// passes: the values of a node span far less than D times the lines); then
// equal values merged. Stable, so equal values are added up in order of arrival.
void PearsonLattice::SortMerge(WorkVector<Item>& items) {
    const std::size_t n = items.size();
    if (n < 2) return;
    auto inItems = [&](std::size_t k) -> Item& { return items[k]; };
    if (n <= 64) {
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.Value < b.Value; });
    } else {
        std::int64_t least = items[0].Value, greatest = items[0].Value;
        for (const Item& i : items) {
            least = std::min(least, i.Value);
            greatest = std::max(greatest, i.Value);
        }
        // Digits of 6 to 11 bits.
        const int width = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(greatest - least)));
        const int bits = RadixDigitBits(width, n, 6, 11);
        const std::size_t buckets = std::size_t{1} << bits;
        const int passes = (width + bits - 1) / bits;
        radixStarts_.assign(static_cast<std::size_t>(passes) * buckets, 0);
        auto digit = [&](const Item& i, int pass) {
            return static_cast<std::size_t>((static_cast<std::uint64_t>(i.Value - least) >> (pass * bits)) &
                                            (buckets - 1));
        };
        for (const Item& i : items)
            for (int pass = 0; pass < passes; ++pass)
                ++radixStarts_[static_cast<std::size_t>(pass) * buckets + digit(i, pass)];
        // The scratch only grows, and its slots are written over, never
        // built; the passes go back and forth between it and the items.
        if (scratch_.size() < n) scratch_.resize(n);
        auto inScratch = [&](std::size_t k) -> Item& { return scratch_[k].Held; };
        auto scatter = [&](int pass, auto&& from, auto&& to) {
            std::size_t* const start = radixStarts_.data() + static_cast<std::size_t>(pass) * buckets;
            for (std::size_t b = 0, sum = 0; b < buckets; ++b) {
                const std::size_t here = start[b];
                start[b] = sum;
                sum += here;
            }
            for (std::size_t k = 0; k < n; ++k) {
                const Item& i = from(k);
                to(start[digit(i, pass)]++) = i;
            }
        };
        for (int pass = 0; pass < passes; ++pass) {
            if (pass % 2 == 0) {
                scatter(pass, inItems, inScratch);
            } else {
                scatter(pass, inScratch, inItems);
            }
        }
        if (passes % 2 == 1) {
            MergeEqual(items, inScratch);
            return;
        }
    }
    MergeEqual(items, inItems);
}

// Writes the items sorted in sorted(0 .. n-1) to items, those with equal
// values added up in order.
template <typename Sorted>
void PearsonLattice::MergeEqual(WorkVector<Item>& items, Sorted&& sorted) {
    const std::size_t n = items.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Item& next = sorted(i);
        if (kept > 0 && items[kept - 1].Value == next.Value) {
            AddUp{}(items[kept - 1], next);
            continue;
        }
        items[kept++] = next;
    }
    items.resize(kept);
}

// The stabiliser of a vector of remaining totals under the exchanges of
// interchangeable lines: the product over each group's runs of equal
// values of their factorials.
std::uint64_t PearsonLattice::Symmetries(std::uint64_t key) const {
    // Field k of the key holds line k's total (line 0 in the highest); a
    // run of j equal totals within a group is exchanged in j! ways. Read
    // from the last line up.
    const std::uint64_t mask = (std::uint64_t{1} << bits_) - 1;
    const int* const group = groupEnd_.data();
    std::uint64_t count = 1;
    std::uint64_t run = 1;
    std::uint64_t last = key & mask;
    for (int k = lines_ - 2; k >= 0; --k) {
        key >>= bits_;
        const std::uint64_t v = key & mask;
        if (v == last && group[k] == group[k + 1]) {
            count *= ++run;
        } else {
            run = 1;
            last = v;
        }
    }
    return count;
}

// The column vectors y of a stage that lead from some node to the given
// child (remaining totals): y_k at most r_k - child_k, with sum T. With
// interchangeable lines, a parent P and child C are linked by the forward
// vectors P - gC (g exchanging such lines) and the reverse ones hP - C;
// with the same term both number the same exchanges, divided by the
// stabiliser of C and of P respectively, and have the same factors (each
// a permutation of the other), so the reverse ways and factors are
// scaled by |Stab P| / |Stab C|.
void PearsonLattice::Parents(int stage, const std::vector<std::int32_t>& child, std::vector<Edge>& out) {
    const std::int32_t total = margins_.Stages[static_cast<std::size_t>(stage)];
    std::vector<std::int32_t>& room = vectorRoom_;
    room.resize(child.size());
    for (std::size_t k = 0; k < child.size(); ++k) room[k] = std::min(margins_.Lines[k] - child[k], total);
    Vectors(stage, child, true, out);
    if (!interchangeable_) return;
    const std::uint64_t own = Symmetries(Pack(child));
    for (Edge& e : out) {
        const std::uint64_t theirs = Symmetries(e.Node);
        e.Ways = e.Ways * theirs / own;
        e.Factor = e.Factor * static_cast<long double>(theirs) / static_cast<long double>(own);
    }
}

template <typename Visit>
bool PearsonLattice::ForEachNode(int stage, Visit&& visit) {
    std::int32_t left = 0;
    for (int s = stage; s < stages_; ++s) left += margins_.Stages[static_cast<std::size_t>(s)];
    const auto K = static_cast<std::size_t>(lines_);
    std::vector<std::int32_t> room(K + 1, 0);
    for (std::size_t k = K; k-- > 0;) room[k] = room[k + 1] + margins_.Lines[k];
    bool going = true;
    // Every vector of remaining totals that sum to left, non-increasing
    // within each group of interchangeable lines.
    std::vector<std::int32_t> a(K, 0);
    auto place = [&](auto& self, std::size_t k, std::int32_t rest) -> void {
        if (!going) return;
        if (k == K) {
            if (rest == 0) going = visit(a);
            return;
        }
        const bool first = k == 0 || groupEnd_[k - 1] != groupEnd_[k];
        std::int32_t high = std::min(margins_.Lines[k], rest);
        if (!first) high = std::min(high, a[k - 1]);
        const std::int32_t low = std::max<std::int32_t>(0, rest - room[k + 1]);
        for (std::int32_t v = high; v >= low; --v) {
            a[k] = v;
            self(self, k + 1, rest - v);
        }
    };
    place(place, 0, left);
    return going;
}

// Every node of the next stage gathers its partial tables from its
// parents' in the frontier.
bool PearsonLattice::StepForward() {
    Side next;
    next.Begin.assign(1, 0);
    // At most every partial table through every column vector: reserved
    // (pages never reached are never touched), the items are not moved as
    // they grow.
    next.Items.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(MeetingWork(), maxItems_ + 1)));
    const bool within = ForEachNode(front_ + 1, [&](const std::vector<std::int32_t>& node) {
        Parents(front_, node, parentEdges_);
        pasts_.Clear();
        std::uint64_t added = 0;
        for (const Edge& e : parentEdges_) {
            const std::int32_t p = frontier_.Index.At(e.Node);
            if (p < 0) continue;
            const auto up = static_cast<std::size_t>(p);
            for (std::size_t i = frontier_.Begin[up]; i < frontier_.Begin[up + 1]; ++i) {
                const Item& item = frontier_.Items[i];
                pasts_.Add({item.Value + e.Term, item.Ways * e.Ways, item.Mass * e.Factor});
            }
            added += frontier_.Begin[up + 1] - frontier_.Begin[up];
            if (pasts_.Items().size() > maxItems_) return false;
        }
        WorkVector<Item>& merged = pasts_.Items();
        tick_(added + parentEdges_.size() + 1);
        if (merged.empty()) return true;
        SortMerge(merged);
        // Past the limit before the items are stored, so that they never
        // take more than the room reserved.
        if (!Within(next.Keys.size() + 1, next.Items.size() + merged.size())) return false;
        next.Index.Insert(Pack(node), static_cast<std::int32_t>(next.Keys.size()));
        next.Keys.push_back(Pack(node));
        next.Items.insert(next.Items.end(), merged.begin(), merged.end());
        next.Begin.push_back(next.Items.size());
        return true;
    });
    if (!within) return false;
    frontier_ = std::move(next);
    ++front_;
    return true;
}

void PearsonLattice::PrepareNode(int stage, const std::vector<std::int32_t>& remaining) {
    if (stage == stages_ - 2)
        PrepareTwoColumns(stage, remaining);
    else
        Edges(stage, remaining, edges_);
}

PearsonLattice::Summary PearsonLattice::Summarise(int stage, const std::vector<std::int32_t>& remaining) {
    PrepareNode(stage, remaining);
    if (stage == stages_ - 2) return TwoColumnSummary(remaining);
    const NodeIndex& index = Sides().completions_.Index;
    const std::vector<Summary>& summaries = Sides().summaries_;
    Summary sum;
    bool first = true;
    for (const Edge& e : edges_) {
        const std::int32_t found = index.At(e.Node);
        // Every vector of the back stage has its completions listed.
        if (found < 0) throw std::logic_error("lattice: a node without completions");
        const Summary& child = summaries[static_cast<std::size_t>(found)];
        sum.Least = first ? e.Term + child.Least : std::min(sum.Least, e.Term + child.Least);
        sum.Greatest = first ? e.Term + child.Greatest : std::max(sum.Greatest, e.Term + child.Greatest);
        sum.Count += e.Ways * child.Count;
        sum.Closed += e.Factor * child.Closed;
        first = false;
    }
    return sum;
}

template <typename Emit>
void PearsonLattice::ForEachCompletion(int stage, Emit&& emit) const {
    if (stage == stages_ - 2) {
        TwoColumnCompletions(emit);
        return;
    }
    const Side& back = Sides().completions_;
    for (const Edge& e : edges_) {
        const auto c = static_cast<std::size_t>(back.Index.At(e.Node));
        for (std::size_t i = back.Begin[c]; i < back.Begin[c + 1]; ++i) {
            const Item& item = back.Items[i];
            emit(item.Value + e.Term, item.Ways * e.Ways, item.Mass * e.Factor);
        }
    }
}

void PearsonLattice::Gather(int stage) {
    futures_.Clear();
    ForEachCompletion(stage, [&](std::int64_t v, std::uint64_t w, long double m) { futures_.Add({v, w, m}); });
}

std::uint64_t PearsonLattice::Listed(int stage) const {
    if (stage == stages_ - 2) return TwoColumnCount();
    const Side& back = Sides().completions_;
    std::uint64_t listed = 0;
    for (const Edge& e : edges_) {
        const auto c = static_cast<std::size_t>(back.Index.At(e.Node));
        listed += back.Begin[c + 1] - back.Begin[c];
    }
    return listed;
}

// With two columns left, line k has x_k in the first and r_k - x_k in the
// second, lo_k <= x_k <= hi_k, sum x_k = T: each completion is a choice of
// the x_k, its value and factor a sum and a product over the lines of
// tabulated parts.
void PearsonLattice::PrepareTwoColumns(int stage, const std::vector<std::int32_t>& remaining) {
    const auto us = static_cast<std::size_t>(stage);
    const auto S = static_cast<std::size_t>(stages_);
    const std::int32_t first = margins_.Stages[us];
    const std::int32_t second = margins_.Stages[us + 1];
    const auto K = static_cast<std::size_t>(lines_);
    TwoColumns& t = two_;
    t.First = first;
    t.Remaining = remaining;
    t.Scale = factorials_[static_cast<std::size_t>(first)] * factorials_[static_cast<std::size_t>(second)];
    t.Low.resize(K);
    t.High.resize(K);
    t.Value.resize(K);
    t.Inverse.resize(K);
    t.Least.assign(K + 1, 0);
    t.Most.assign(K + 1, 0);
    for (std::size_t k = K; k-- > 0;) {
        t.Low[k] = std::max<std::int32_t>(0, remaining[k] - second);
        t.High[k] = std::min(remaining[k], first);
        t.Least[k] = t.Least[k + 1] + t.Low[k];
        t.Most[k] = t.Most[k + 1] + t.High[k];
        t.Value[k].clear();
        t.Inverse[k].clear();
        for (std::int32_t x = t.Low[k]; x <= t.High[k]; ++x) {
            const std::int64_t y = remaining[k] - x;
            t.Value[k].push_back(static_cast<std::int64_t>(x) * x * coefficient_[k * S + us] +
                                 y * y * coefficient_[k * S + us + 1]);
            t.Inverse[k].push_back(1.0L / (factorials_[static_cast<std::size_t>(x)] *
                                           factorials_[static_cast<std::size_t>(y)]));
        }
    }
}

// Each line's part x^2 q + (r - x)^2 q' is convex in x, so the least sum is
// reached by adding the units one at a time where the part grows least
// (exact for separable convex functions), and the greatest at a vertex:
// every x_k at an end of its range but at most one, found per free line over
// the ends of the others. The number of completions is a convolution of the
// ranges; their mass is M! / prod r_k!.
PearsonLattice::Summary PearsonLattice::TwoColumnSummary(const std::vector<std::int32_t>& remaining) {
    const TwoColumns& t = two_;
    const auto K = static_cast<std::size_t>(lines_);
    Summary sum;
    if (t.Least[0] > t.First || t.Most[0] < t.First) return sum;
    auto part = [&](std::size_t k, std::int32_t x) { return t.Value[k][static_cast<std::size_t>(x - t.Low[k])]; };
    // Marginal allocation (as LeastChoice, ties to the first line), each
    // line's cost of its next unit kept until it takes one.
    std::vector<std::int32_t>& x = leastChoice_;
    std::vector<std::int64_t>& raise = leastRaise_;
    x.assign(t.Low.begin(), t.Low.end());
    raise.resize(K);
    constexpr std::int64_t kFull = std::numeric_limits<std::int64_t>::max();
    sum.Least = 0;
    std::int32_t units = t.First;
    for (std::size_t k = 0; k < K; ++k) {
        sum.Least += part(k, x[k]);
        units -= x[k];
        raise[k] = x[k] < t.High[k] ? part(k, x[k] + 1) - part(k, x[k]) : kFull;
    }
    for (; units > 0; --units) {
        std::size_t best = 0;
        for (std::size_t k = 1; k < K; ++k)
            if (raise[k] < raise[best]) best = k;
        sum.Least += raise[best];
        ++x[best];
        raise[best] = x[best] < t.High[best] ? part(best, x[best] + 1) - part(best, x[best]) : kFull;
    }
    sum.Greatest = GreatestAtVertex(
        t.Low, t.High, t.First, part, [](std::int64_t value, std::int64_t p) { return value + p; }, std::int64_t{0},
        std::int64_t{-1});
    sum.Count = TwoColumnCount();
    std::int32_t total = 0;
    long double product = 1.0L;
    for (const std::int32_t r : remaining) {
        total += r;
        product *= factorials_[static_cast<std::size_t>(r)];
    }
    sum.Closed = factorials_[static_cast<std::size_t>(total)] / product;
    return sum;
}

// The number of choices of the x_k, modulo 2^64 (exact below it): the
// lattice is not used for tables of 2^64 sample points or more, and where
// the count is not yet known a wrapped count cannot equal it once known
// (the pass is then settled again).
std::uint64_t PearsonLattice::TwoColumnCount() const {
    const TwoColumns& t = two_;
    if (t.Least[0] > t.First || t.Most[0] < t.First) return 0;
    return CountBoundedVectors(t.Low, t.High, t.First).Count;
}

template <typename Emit>
void PearsonLattice::TwoColumnCompletions(Emit& emit) const {
    std::nullptr_t none = nullptr;
    TwoColumnCompletions(none, none, emit);
}

void PearsonLattice::PrepareSuffixes() {
    const TwoColumns& t = two_;
    const auto K = static_cast<std::size_t>(lines_);
    auto at = [&](std::size_t k, std::int32_t x) { return static_cast<std::size_t>(x - t.Low[k]); };
    FormRemainders(
        t.Low, t.High, t.First, [&](std::size_t k, std::int32_t x) { return t.Value[k][at(k, x)]; },
        [&](std::size_t k, std::int32_t x) { return t.Inverse[k][at(k, x)]; },
        [](std::int64_t a, std::int64_t b) { return a + b; }, suffix_, PairShape::Dip,
        FactorialPairWeight([this](std::int32_t n) { return factorials_[static_cast<std::size_t>(n)]; },
                            t.Remaining[K - 2], t.Remaining[K - 1]));
}

template <typename Whole, typename Fits, typename Emit>
void PearsonLattice::TwoColumnCompletions(Whole& whole, Fits& fits, Emit& emit) const {
    constexpr bool offered = !std::is_same_v<std::decay_t<Whole>, std::nullptr_t>;
    const TwoColumns& t = two_;
    const auto K = static_cast<std::size_t>(lines_);
    if (K < 2 || t.Least[0] > t.First || t.Most[0] < t.First) return;
    std::uint64_t runLines = 0, runs = 0, runTables = 0;
    auto place = [&](auto& self, std::size_t k, std::int32_t left, long double factor, std::int64_t value) -> void {
        if constexpr (offered) {
            const RemainderRange<std::int64_t>& rest = suffix_.Of(k, left);
            if (rest.Count >= kWholeFrom &&
                whole(value + rest.Least, value + rest.Greatest, rest.Count, factor * rest.Weight))
                return;
        }
        const std::int32_t from = std::max(t.Low[k], left - t.Most[k + 1]);
        const std::int32_t to = std::min(t.High[k], left - t.Least[k + 1]);
        const std::int64_t* values = t.Value[k].data();
        const long double* inverses = t.Inverse[k].data();
        const std::int32_t base = t.Low[k];
        if (k + 2 == K) {
            // The last line takes the rest.
            const std::size_t z = K - 1;
            const std::int64_t* lastValues = t.Value[z].data();
            const long double* lastInverses = t.Inverse[z].data();
            const std::int32_t lastBase = left - t.Low[z];
            auto valueAt = [&](std::int32_t x) { return value + values[x - base] + lastValues[lastBase - x]; };
            auto factorAt = [&](std::int32_t x) { return factor * inverses[x - base] * lastInverses[lastBase - x]; };
            if constexpr (offered) {
                if (to - from >= kRunsFrom && (runLines < 4 || runTables >= kTablesPerRun * runs)) {
                    // The values fall to a turn and rise (x^2 q + (r - x)^2
                    // q' summed over two lines is strictly convex in x, and
                    // exact): on either side the choices that whole takes
                    // together are consecutive. (Once a few lines' runs
                    // prove short, the node's other lines go one by one.)
                    ++runLines;
                    runTables += static_cast<std::uint64_t>(to - from) + 1;
                    const std::int32_t turn = TurnOf(from, to, PairShape::Dip, valueAt);
                    for (const auto& [begin, end] : {std::pair{from, turn}, std::pair{turn + 1, to}}) {
                        for (std::int32_t x = begin; x <= end; ++runs) {
                            const std::int64_t v = valueAt(x);
                            const std::int32_t y = LastHolding(x, end, [&](std::int32_t at) {
                                const std::int64_t w = valueAt(at);
                                return fits(std::min(v, w), std::max(v, w));
                            });
                            long double sum = 0.0L;
                            for (std::int32_t at = x; at <= y; ++at) sum += factorAt(at);
                            const std::int64_t w = valueAt(y);
                            whole(std::min(v, w), std::max(v, w), static_cast<std::uint64_t>(y - x) + 1, sum);
                            x = y + 1;
                        }
                    }
                    return;
                }
            }
            for (std::int32_t x = from; x <= to; ++x) emit(valueAt(x), std::uint64_t{1}, factorAt(x));
            return;
        }
        for (std::int32_t x = from; x <= to; ++x)
            self(self, k + 1, left - x, factor * inverses[x - base], value + values[x - base]);
    };
    place(place, 0, t.First, t.Scale, 0);
}

bool PearsonLattice::StepBack() {
    const int stage = back_ - 1;
    Side next;
    next.Begin.assign(1, 0);
    std::vector<Summary> sums;
    const bool within = ForEachNode(stage, [&](const std::vector<std::int32_t>& node) {
        next.Index.Insert(Pack(node), static_cast<std::int32_t>(next.Keys.size()));
        next.Keys.push_back(Pack(node));
        if (stage == stages_ - 1) {
            // One column left: the node's one completion takes what is left
            // of every line (its value and factor formed as a column
            // vector's are).
            const auto us = static_cast<std::size_t>(stage);
            const auto S = static_cast<std::size_t>(stages_);
            std::int64_t value = 0;
            long double product = 1.0L;
            for (std::size_t k = 0; k < node.size(); ++k) {
                value += static_cast<std::int64_t>(node[k]) * node[k] * coefficient_[k * S + us];
                product *= factorials_[static_cast<std::size_t>(node[k])];
            }
            const long double factor = factorials_[static_cast<std::size_t>(margins_.Stages[us])] / product;
            sums.push_back({value, value, 1, factor});
            if (!Within(next.Keys.size(), next.Items.size() + 1)) return false;
            next.Items.push_back({value, 1, factor});
            next.Begin.push_back(next.Items.size());
            tick_(3);
            return true;
        }
        PrepareNode(stage, node);
        const std::uint64_t listed = Listed(stage);
        if (listed > maxItems_) return false;
        Gather(stage);
        WorkVector<Item>& merged = futures_.Items();
        SortMerge(merged);
        Summary sum;
        if (!merged.empty()) {
            sum.Least = merged.front().Value;
            sum.Greatest = merged.back().Value;
        }
        for (const Item& i : merged) {
            sum.Count += i.Ways;
            sum.Closed += i.Mass;
        }
        sums.push_back(sum);
        if (!Within(next.Keys.size(), next.Items.size() + merged.size())) return false;
        next.Items.insert(next.Items.end(), merged.begin(), merged.end());
        next.Begin.push_back(next.Items.size());
        // (With two columns left the node has no column choices listed.)
        tick_(listed + (stage == stages_ - 2 ? 0 : edges_.size()) + 1);
        return true;
    });
    if (!within) return false;
    completions_ = std::move(next);
    summaries_ = std::move(sums);
    --back_;
    return true;
}

void PearsonLattice::RunningSums(const Side& side, WorkVector<std::uint64_t>& ways, WorkVector<long double>& mass) {
    ways.resize(side.Items.size() + side.Keys.size());
    mass.resize(ways.size());
    for (std::size_t p = 0; p < side.Keys.size(); ++p) {
        std::size_t at = side.Begin[p] + p;
        ways[at] = 0;
        mass[at] = 0.0L;
        for (std::size_t i = side.Begin[p]; i < side.Begin[p + 1]; ++i, ++at) {
            ways[at + 1] = ways[at] + side.Items[i].Ways;
            mass[at + 1] = mass[at] + side.Items[i].Mass;
        }
    }
}

// A lattice of a thread helping the owner's Settle: the owner's settings,
// its sides and running sums read through Sides().
PearsonLattice::PearsonLattice(const PearsonLattice& owner, std::function<void(std::uint64_t)> tick)
    : owner_(&owner),
      margins_(owner.margins_),
      factorials_(owner.factorials_),
      maxNodes_(owner.maxNodes_),
      maxItems_(owner.maxItems_),
      compactFrom_(owner.compactFrom_),
      pricedFrom_(owner.pricedFrom_),
      wordKeys_(owner.wordKeys_),
      tick_(std::move(tick)),
      lines_(owner.lines_),
      stages_(owner.stages_),
      groupEnd_(owner.groupEnd_),
      interchangeable_(owner.interchangeable_),
      bits_(owner.bits_),
      coefficient_(owner.coefficient_),
      observedValue_(owner.observedValue_),
      equalFrom_(owner.equalFrom_),
      equalTo_(owner.equalTo_),
      front_(owner.front_),
      back_(owner.back_) {}

PearsonLattice::Sharing::Sharing(const PearsonLattice& owner, std::size_t nodes, std::size_t perChunk)
    : SharedWork((nodes + perChunk - 1) / perChunk),
      owner_(owner),
      nodes_(nodes),
      perChunk_(perChunk),
      chunk_(std::make_unique<Chunk[]>(Chunks())) {}

void PearsonLattice::Sharing::Finish(std::size_t chunk, const Tally& sum, bool failed) {
    Chunk& c = chunk_[chunk];
    c.Sum = sum;
    c.Failed = failed;
    MarkDone(chunk);
}

void PearsonLattice::Sharing::Help(const std::function<void(std::uint64_t)>& tick) {
    PearsonLattice helper(owner_, tick);
    helper.SettleChunks(*this, [] {});
}

std::size_t PearsonLattice::NodesOf(int stage) {
    std::size_t nodes = 0;
    ForEachNode(stage, [&](const std::vector<std::int32_t>&) {
        ++nodes;
        return true;
    });
    return nodes;
}

template <typename Done>
void PearsonLattice::SettleChunks(Sharing& sharing, Done&& done) {
    std::size_t chunk = sharing.Take();
    if (chunk >= sharing.Chunks()) return;
    Sharing::Tally sum;
    std::size_t ordinal = 0;
    try {
        ForEachNode(front_ + 1, [&](const std::vector<std::int32_t>& node) {
            if (ordinal++ / sharing.perChunk_ < chunk) return true;  // (another thread's)
            if (sharing.Stopped()) {
                sharing.Finish(std::exchange(chunk, sharing.Chunks()), {}, true);
                return false;
            }
            SettleNode(node, sum);
            if (ordinal % sharing.perChunk_ != 0 && ordinal != sharing.nodes_) return true;
            sharing.Finish(std::exchange(chunk, sharing.Chunks()), sum, false);
            sum = {};
            done();
            chunk = sharing.Take();
            return chunk < sharing.Chunks();
        });
    } catch (...) {
        // The chunk in hand is left to the owner.
        if (chunk < sharing.Chunks()) sharing.Finish(chunk, {}, true);
        throw;
    }
}

void PearsonLattice::SettleChunk(const Sharing& sharing, std::size_t chunk, Sharing::Tally& sum) {
    std::size_t ordinal = 0;
    ForEachNode(front_ + 1, [&](const std::vector<std::int32_t>& node) {
        const std::size_t c = ordinal++ / sharing.perChunk_;
        if (c < chunk) return true;
        if (c > chunk) return false;
        SettleNode(node, sum);
        return true;
    });
}

void PearsonLattice::Settle(std::uint64_t (&ways)[3], long double (&mass)[3], std::uint64_t& settled,
                            const std::function<void(Sharing*)>& offer) {
    // Running sums of the frontier's partial tables, and of the completions
    // of the back side's nodes where the meeting stage's completions are
    // taken from them by their lists.
    RunningSums(frontier_, pastWaysBelow_, pastMassBelow_);
    if (front_ + 1 < stages_ - 2) {
        RunningSums(completions_, listWaysBelow_, listMassBelow_);
        listValues_.resize(completions_.Items.size());
        for (std::size_t i = 0; i < listValues_.size(); ++i) listValues_[i] = completions_.Items[i].Value;
    }
    const std::size_t nodes = NodesOf(front_ + 1);
    Sharing sharing(*this, nodes, std::max<std::size_t>(1, (nodes + kChunks - 1) / kChunks));
    // The chunks' sums, added in order as far as they are done; a chunk a
    // helper left is settled here.
    std::size_t added = 0;
    auto add = [&] {
        for (; added < sharing.Chunks(); ++added) {
            Sharing::Chunk& c = sharing.chunk_[added];
            if (!sharing.IsDone(added)) return;
            if (c.Failed) {
                c.Sum = {};
                SettleChunk(sharing, added, c.Sum);
                c.Failed = false;
            }
            for (int w = 0; w < 3; ++w) {
                ways[w] += c.Sum.Ways[w];
                mass[w] += c.Sum.Mass[w];
            }
            settled += c.Sum.Settled;
        }
    };
    // However this ends, the helpers are stopped and gone first.
    const WorkOffer<Sharing> offered(sharing, offer, sharing.Chunks() > 1);
    SettleChunks(sharing, add);
    // The chunks other threads still settle, waited for with the progress
    // shown.
    while (added < sharing.Chunks()) {
        sharing.WaitFor(added, std::chrono::milliseconds(10));
        add();
        tick_(kWaitTick);
    }
}

void PearsonLattice::SettleNode(const std::vector<std::int32_t>& node, Sharing::Tally& tally) {
    const Side& front = Sides().frontier_;
    const Side& back = Sides().completions_;
    const WorkVector<Item>& past = front.Items;
    const WorkVector<std::uint64_t>& pastWaysBelow = Sides().pastWaysBelow_;
    const WorkVector<long double>& pastMassBelow = Sides().pastMassBelow_;
    const bool fromLists = front_ + 1 < stages_ - 2;
    const std::int64_t from = equalFrom_;
    const std::int64_t to = equalTo_;
    if (!FrontierParents(node)) return;
    // The range of the node's completions, their number and mass.
    const Summary sum = Summarise(front_ + 1, node);
    const std::uint64_t count = sum.Count;
    const long double closed = sum.Closed;

    // Each parent's partial tables, in order of value: a leading run
    // less than the observed table with every completion, a trailing
    // run greater, settled at once; the rest, between, are kept as runs.
    pastRuns_.clear();
    std::uint64_t between = 0;
    for (const Edge& l : parentEdges_) {
        if (static_cast<std::int32_t>(l.Node) < 0) continue;
        const auto p = static_cast<std::size_t>(l.Node);
        const auto begin = past.begin() + static_cast<std::ptrdiff_t>(front.Begin[p]);
        const auto end = past.begin() + static_cast<std::ptrdiff_t>(front.Begin[p + 1]);
        const auto [lessEnd, greaterFrom] = SettledRuns(begin, end, l.Term, sum);
        const std::size_t base = front.Begin[p] + p;
        const auto run = [&](int which, std::size_t i, std::size_t j) {
            if (i == j) return;
            const std::uint64_t w = (pastWaysBelow[base + j] - pastWaysBelow[base + i]) * l.Ways * count;
            tally.Ways[which] += w;
            tally.Mass[which] += (pastMassBelow[base + j] - pastMassBelow[base + i]) * l.Factor * closed;
            tally.Settled += w;
        };
        const auto at = [&](auto it) { return static_cast<std::size_t>(it - begin); };
        run(0, 0, at(lessEnd));
        run(2, at(greaterFrom), at(end));
        if (lessEnd == greaterFrom) continue;
        pastRuns_.push_back({lessEnd, greaterFrom, base + at(lessEnd), base + at(greaterFrom), &l});
        between += static_cast<std::uint64_t>(greaterFrom - lessEnd);
    }
    const std::uint64_t listed = Listed(front_ + 1);
    // With two columns left and no more completions listed than 8 for
    // each past value between, each run of past values is placed in the
    // node's sorted completions as it is (see SettleRuns): gathering them
    // (and sorting and merging them) costs more than placing them.
    if (!fromLists && listed <= 8 * between) {
        tick_(between + 1);
        SettleRuns(count, closed, tally);
        return;
    }
    WorkVector<Item>& pasts = meeting_;
    pasts.clear();
    std::size_t compactAt = compactFrom_;
    for (const PastRun& r : pastRuns_) {
        for (auto it = r.First; it != r.Last; ++it)
            pasts.push_back({it->Value + r.Through->Term, it->Ways * r.Through->Ways, it->Mass * r.Through->Factor});
        // Merged as the list grows, so that it stays within about twice
        // the merged values and one parent's; the sort is stable, so
        // equal values still add up in order of arrival.
        if (pasts.size() > compactAt) {
            SortMerge(pasts);
            compactAt = std::max(compactAt, 2 * pasts.size());
        }
    }
    tick_(pasts.size() + 1);
    if (pasts.empty()) return;
    // Few enough to merge in the cache first where partial tables from
    // different parents often coincide: so long as the table has taken
    // out at least a quarter of what went through it (and for one node
    // in 16 regardless, to keep that share current); many, or values
    // that seldom coincide, are sorted as they are. Either way equal
    // values add up in order of arrival, so the sums are the same.
    if (pasts.size() > 64 && pasts.size() <= kMergedInCache &&
        (4 * (hashedIn_ - hashedOut_) >= hashedIn_ || ++hashedSkipped_ % 16 == 0)) {
        pasts_.Clear();
        for (const Item& i : pasts) pasts_.Add(i);
        hashedIn_ += pasts.size();
        hashedOut_ += pasts_.Items().size();
        pasts.swap(pasts_.Items());
    }
    SortMerge(pasts);

    // Against each column choice's list (sorted, with running sums)
    // the past values, in order, find their two bounds by galloping
    // down the list; no completion is formed. Chosen when that (at
    // most a walk down the list, or a bisection per past value) takes
    // fewer steps than forming every completion and placing it among
    // the past values (by bisection, or by gathering and sorting them).
    const std::size_t n = pasts.size();
    // Per column choice, the past values before which every completion
    // of its list is less than the observed table with them, and from
    // which every one is greater: found by bisection against the list's
    // least and greatest values. Only those between are placed in the
    // list, each with two gallops (of the order of the logarithm of how
    // far its bounds move from the last ones).
    std::uint64_t walking = 0;
    runs_.clear();
    if (fromLists)
        for (const Edge& e : edges_) {
            const auto c = static_cast<std::size_t>(back.Index.At(e.Node));
            const std::size_t m = back.Begin[c + 1] - back.Begin[c];
            if (m == 0) {  // (no completion: nothing to place)
                runs_.push_back({c, n, n});
                continue;
            }
            const auto begin = back.Items.begin() + static_cast<std::ptrdiff_t>(back.Begin[c]);
            const std::int64_t least = begin->Value;
            const std::int64_t greatest = begin[static_cast<std::ptrdiff_t>(m - 1)].Value;
            const auto first = PartitionPoint(
                pasts.begin(), pasts.end(), [&](const Item& u) { return u.Value + e.Term + greatest < from; });
            const auto last = PartitionPoint(
                first, pasts.end(), [&](const Item& u) { return u.Value + e.Term + least <= to; });
            const auto between = static_cast<std::size_t>(last - first);
            runs_.push_back({c, static_cast<std::size_t>(first - pasts.begin()),
                            static_cast<std::size_t>(last - pasts.begin())});
            walking += 2 * std::bit_width(n) + 8 + between * (8 + 4 * std::bit_width(1 + m / std::max<std::size_t>(between, 1)));
        }
    const std::uint64_t forming = listed > 8 * n ? 2 * listed * std::bit_width(n) : 8 * listed + n;
    if (fromLists && walking < forming) {
        // Running sums of the past values' ways and mass: with a
        // class's share below each bound summed over them, the three
        // classes follow.
        pastWaysBefore_.resize(n + 1);
        pastMassBefore_.resize(n + 1);
        pastWaysBefore_[0] = 0;
        pastMassBefore_[0] = 0.0L;
        for (std::size_t j = 0; j < n; ++j) {
            pastWaysBefore_[j + 1] = pastWaysBefore_[j] + pasts[j].Ways;
            pastMassBefore_[j + 1] = pastMassBefore_[j] + pasts[j].Mass;
        }
        const std::uint64_t pastWays = pastWaysBefore_[n];
        const long double pastMass = pastMassBefore_[n];
        for (std::size_t k = 0; k < edges_.size(); ++k) {
            const Edge& e = edges_[k];
            const std::size_t c = runs_[k].List;
            const std::int64_t* const values = Sides().listValues_.data() + back.Begin[c];
            const std::size_t m = back.Begin[c + 1] - back.Begin[c];
            const std::uint64_t* const waysBelow = Sides().listWaysBelow_.data() + back.Begin[c] + c;
            const long double* const massBelow = Sides().listMassBelow_.data() + back.Begin[c] + c;
            // Over the past values: the ways and mass of the
            // completions less than the observed table with each (below
            // lo), and of those not greater (below hi); the past values
            // before the choice's run have every completion less, those
            // after it every one greater. (A list without completions
            // has an empty run at the end and adds nothing.)
            const std::size_t before = runs_[k].First;
            const auto first = pasts.begin() + static_cast<std::ptrdiff_t>(before);
            const auto last = pasts.begin() + static_cast<std::ptrdiff_t>(runs_[k].Last);
            std::uint64_t lessWays = pastWaysBefore_[before] * waysBelow[m];
            std::uint64_t notGreaterWays = lessWays;
            long double lessMass = pastMassBefore_[before] * massBelow[m];
            long double notGreaterMass = lessMass;
            // As the past values rise the bounds fall: each is sought
            // within the last one's prefix by galloping down from it.
            std::size_t lo = m, hi = m;
            for (auto it = first; it != last; ++it) {
                const Item& u = *it;
                const std::int64_t less = from - u.Value - e.Term;    // a completion below is less
                const std::int64_t most = to - u.Value - e.Term;      // one up to it is not greater
                lo = GallopDown(values, lo, [&](std::int64_t v) { return v < less; });
                hi = GallopDown(values, hi, [&](std::int64_t v) { return v <= most; });
                // The bounds creep down the list (by about one place a
                // past value): what they reach next is fetched ahead.
                if (lo >= 16) {
                    __builtin_prefetch(values + (lo - 16));
                    __builtin_prefetch(waysBelow + (lo - 16));
                    __builtin_prefetch(massBelow + (lo - 8));
                }
                lessWays += u.Ways * waysBelow[lo];
                notGreaterWays += u.Ways * waysBelow[hi];
                lessMass += u.Mass * massBelow[lo];
                notGreaterMass += u.Mass * massBelow[hi];
            }
            tally.Ways[0] += e.Ways * lessWays;
            tally.Ways[1] += e.Ways * (notGreaterWays - lessWays);
            tally.Ways[2] += e.Ways * (pastWays * waysBelow[m] - notGreaterWays);
            tally.Mass[0] += e.Factor * lessMass;
            tally.Mass[1] += e.Factor * (notGreaterMass - lessMass);
            tally.Mass[2] += e.Factor * (pastMass * massBelow[m] - notGreaterMass);
            tick_(pasts.size());
        }
        for (const Item& u : pasts) tally.Settled += u.Ways * count;
        return;
    }

    if (listed > 8 * n) {
        // Few past values against many completions. With the past
        // values u_j in decreasing order, the bounds from - u_j and to -
        // u_j ascend; a completion w is less with u_j when w < from -
        // u_j, that is for j from the number of lower bounds at most w
        // on, and not greater when w <= to - u_j, for j from the number
        // of upper bounds below w on. So each completion, as it is
        // formed, is counted once into each of two tallies at those
        // places, and each past value takes their running sums.
        values_.resize(n);
        highs_.resize(n);
        for (std::size_t j = 0; j < n; ++j) {
            values_[j] = from - pasts[n - 1 - j].Value;
            highs_[j] = to - pasts[n - 1 - j].Value;
        }
        futureWays_.assign(2 * (n + 1), 0);
        futureMass_.assign(2 * (n + 1), 0.0L);
        std::uint64_t formed = 0;
        // (Completions formed one after the other mostly differ little:
        // each place is sought from the last one.)
        std::size_t lastJ = kNoHint, lastK = kNoHint;
        // Completions of number w and mass m at places j and k.
        auto addAt = [&](std::size_t j, std::size_t k, std::uint64_t w, long double m) {
            futureWays_[j] += w;
            futureMass_[j] += m;
            futureWays_[n + 1 + k] += w;
            futureMass_[n + 1 + k] += m;
            if ((++formed & 0xFFFFu) == 0) tick_(0x10000u);
        };
        auto place = [&](std::int64_t value, std::uint64_t w, long double m) {
            const std::size_t j = Boundary(n, [&](std::size_t i) { return values_[i] <= value; }, lastJ);
            const std::size_t k = Boundary(n, [&](std::size_t i) { return highs_[i] < value; }, lastK);
            addAt(j, k, w, m);
        };
        if (front_ + 1 == stages_ - 2) {
            // With two columns left, the completions that remain after
            // some lines are placed at once when no bound lies between
            // their least and greatest value: they share both places.
            PrepareSuffixes();
            // Both places of the values from least to greatest (j, k as
            // in place), or none (n + 1) where a bound lies among them.
            auto places = [&](std::int64_t least, std::int64_t greatest) {
                const std::size_t j = Boundary(n, [&](std::size_t i) { return values_[i] <= least; }, lastJ);
                if (j < n && values_[j] <= greatest) return std::pair{n + 1, n + 1};
                const std::size_t k = Boundary(n, [&](std::size_t i) { return highs_[i] < least; }, lastK);
                if (k < n && highs_[k] < greatest) return std::pair{n + 1, n + 1};
                return std::pair{j, k};
            };
            auto fits = [&](std::int64_t least, std::int64_t greatest) { return places(least, greatest).first <= n; };
            auto whole = [&](std::int64_t least, std::int64_t greatest, std::uint64_t w, long double m) {
                const auto [j, k] = places(least, greatest);
                if (j > n) return false;
                addAt(j, k, w, m);
                return true;
            };
            TwoColumnCompletions(whole, fits, place);
        } else {
            // Each column choice's list of completions rises: from its
            // first completion's places (sought from the last ones) both
            // places only move up, mostly by a bound or two (a search from
            // the last place for each completion mispredicts most of its
            // steps). The places, and so the sums, are the same.
            const Side& back = Sides().completions_;
            const std::int64_t* const lower = values_.data();
            const std::int64_t* const upper = highs_.data();
            const std::int64_t* const listValues = Sides().listValues_.data();
            for (const Edge& e : edges_) {
                const auto c = static_cast<std::size_t>(back.Index.At(e.Node));
                const std::size_t begin = back.Begin[c];
                const std::size_t end = back.Begin[c + 1];
                if (begin == end) continue;
                const std::int64_t first = listValues[begin] + e.Term;
                std::size_t j = Boundary(n, [&](std::size_t i) { return lower[i] <= first; }, lastJ);
                std::size_t k = Boundary(n, [&](std::size_t i) { return upper[i] < first; }, lastK);
                for (std::size_t i = begin; i < end; ++i) {
                    const std::int64_t value = listValues[i] + e.Term;
                    j = GallopUp(lower, n, j, [value](std::int64_t v) { return v <= value; });
                    k = GallopUp(upper, n, k, [value](std::int64_t v) { return v < value; });
                    const Item& item = back.Items[i];
                    addAt(j, k, item.Ways * e.Ways, item.Mass * e.Factor);
                }
                lastJ = j;
                lastK = k;
            }
        }
        std::uint64_t lessWays = 0, notGreaterWays = 0;
        long double lessMass = 0.0L, notGreaterMass = 0.0L;
        for (std::size_t j = 0; j < n; ++j) {
            lessWays += futureWays_[j];
            lessMass += futureMass_[j];
            notGreaterWays += futureWays_[n + 1 + j];
            notGreaterMass += futureMass_[n + 1 + j];
            const Item& u = pasts[n - 1 - j];
            tally.Ways[0] += u.Ways * lessWays;
            tally.Mass[0] += u.Mass * lessMass;
            tally.Ways[1] += u.Ways * (notGreaterWays - lessWays);
            tally.Mass[1] += u.Mass * (notGreaterMass - lessMass);
            tally.Ways[2] += u.Ways * (count - notGreaterWays);
            tally.Mass[2] += u.Mass * (closed - notGreaterMass);
            tally.Settled += u.Ways * count;
        }
        tick_(n);
        return;
    }

    // The completions themselves, at most 8 for each past value. Both
    // sorted, with running sums over the completions; as the past values
    // rise, the completions less with each (below from - u) and those not
    // greater (up to to - u) are prefixes that shrink, found by walking
    // down.
    const std::size_t m = SortedCompletions();
    std::size_t lo = m, hi = m;
    for (const Item& u : pasts) {
        while (lo > 0 && values_[lo - 1] >= from - u.Value) --lo;
        while (hi > 0 && values_[hi - 1] > to - u.Value) --hi;
        tally.Ways[0] += u.Ways * futureWays_[lo];
        tally.Mass[0] += u.Mass * futureMass_[lo];
        if (hi > lo) {
            tally.Ways[1] += u.Ways * (futureWays_[hi] - futureWays_[lo]);
            tally.Mass[1] += u.Mass * (futureMass_[hi] - futureMass_[lo]);
        }
        tally.Ways[2] += u.Ways * (count - futureWays_[hi]);
        tally.Mass[2] += u.Mass * (closed - futureMass_[hi]);
        tally.Settled += u.Ways * count;
    }
}

std::size_t PearsonLattice::SortedCompletions() {
    Gather(front_ + 1);
    WorkVector<Item>& future = futures_.Items();
    tick_(future.size());
    SortMerge(future);
    const std::size_t m = future.size();
    values_.resize(m);
    futureWays_.assign(m + 1, 0);
    futureMass_.assign(m + 1, 0.0L);
    for (std::size_t i = 0; i < m; ++i) {
        values_[i] = future[i].Value;
        futureWays_[i + 1] = futureWays_[i] + future[i].Ways;
        futureMass_[i + 1] = futureMass_[i] + future[i].Mass;
    }
    return m;
}

// The node's completions (two columns left), sorted and merged, with
// running sums of their number and mass; each run of past values through a
// column choice rises, so the completions less than the observed table with
// each (below from - u) and those not greater (up to to - u) are prefixes
// that shrink along the run: their ends are found by galloping down from
// the last ones, in steps of the order of the logarithm of how far they
// move. Each run's sums are formed over its own past values and then
// multiplied by its column choice's number and factor.
void PearsonLattice::SettleRuns(std::uint64_t count, long double closed, Sharing::Tally& tally) {
    const std::size_t m = SortedCompletions();
    const std::int64_t* const values = values_.data();
    const WorkVector<std::uint64_t>& pastWaysBelow = Sides().pastWaysBelow_;
    const WorkVector<long double>& pastMassBelow = Sides().pastMassBelow_;
    for (const PastRun& r : pastRuns_) {
        const Edge& l = *r.Through;
        std::uint64_t lessWays = 0, notGreaterWays = 0;
        long double lessMass = 0.0L, notGreaterMass = 0.0L;
        std::size_t lo = m, hi = m;
        for (auto it = r.First; it != r.Last; ++it) {
            const std::int64_t less = equalFrom_ - it->Value - l.Term;  // a completion below is less
            const std::int64_t most = equalTo_ - it->Value - l.Term;    // one up to it is not greater
            lo = GallopDown(values, lo, [&](std::int64_t v) { return v < less; });
            hi = GallopDown(values, hi, [&](std::int64_t v) { return v <= most; });
            lessWays += it->Ways * futureWays_[lo];
            notGreaterWays += it->Ways * futureWays_[hi];
            lessMass += it->Mass * futureMass_[lo];
            notGreaterMass += it->Mass * futureMass_[hi];
        }
        const std::uint64_t runWays = pastWaysBelow[r.LastAt] - pastWaysBelow[r.FirstAt];
        const long double runMass = pastMassBelow[r.LastAt] - pastMassBelow[r.FirstAt];
        tally.Ways[0] += l.Ways * lessWays;
        tally.Ways[1] += l.Ways * (notGreaterWays - lessWays);
        tally.Ways[2] += l.Ways * (runWays * count - notGreaterWays);
        tally.Mass[0] += l.Factor * lessMass;
        tally.Mass[1] += l.Factor * (notGreaterMass - lessMass);
        tally.Mass[2] += l.Factor * (runMass * closed - notGreaterMass);
        tally.Settled += l.Ways * runWays * count;
        tick_(static_cast<std::uint64_t>(r.Last - r.First));
    }
}

}  // namespace kelvorin
