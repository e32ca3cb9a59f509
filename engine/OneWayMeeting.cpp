#include "OneWayMeeting.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "ExactEnumeration.h"
#include "Galloping.h"
#include "OneWay.h"
#include "RadixSort.h"
#include "Ports.h"

namespace kelvorin {

bool OneWayMeetingApplies(const AnalysisState& state) {
    if (state.Table.TwoWay || state.Categories < 2 || state.CategoryTotal < 1) return false;
    if (state.CategoryTotal > kFactorialLimit || state.DirectEvaluation || TraceWritten(state)) return false;
    if (!OneWayValues::Tabulates(state.Categories, state.CategoryTotal)) return false;
    if (state.NetworkFrom == std::numeric_limits<std::uint64_t>::max()) return false;
    // (A count not known exactly is past 64 bits, and so past any NetworkFrom.)
    return !state.ExpectedPointsExact || state.ExpectedSamplePoints >= static_cast<double>(state.NetworkFrom);
}

namespace {

enum Ordering { kProbability, kLikelihoodRatio, kPearson, kOrderings };

struct BrokenOff {};
// The count patterns give the table up: too many of their sample points
// lie within rounding of an edge to be evaluated one by one, or the walk
// has taken longer than the lists are estimated to take.
struct PatternsGiveUp {};
struct TooManyNearEdges : PatternsGiveUp {};
struct WalkTooLong : PatternsGiveUp {};

// The largest count the meeting works with: three passes' sums fit 128 bits.
constexpr WideCount kMostPoints = WideCount{1} << 120;

// The compositions of S into PARTS (the ways of writing S as an ordered sum
// of PARTS counts of 0 or more), or kMostPoints where they are that many or
// more.
WideCount WideCompositions(int s, int parts) {
    if (parts == 0) return s == 0 ? 1 : 0;
    return WideBinomial(s + parts - 1, parts - 1, kMostPoints);
}

// The same in 64 bits, or the largest value where they do not fit.
std::uint64_t Compositions(int s, int parts) {
    const WideCount c = WideCompositions(s, parts);
    return c > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                          : static_cast<std::uint64_t>(c);
}

class Meeting {
public:
    Meeting(AnalysisState& state, const EnginePorts& ports, const OneWayMeetingLimits& limits)
        : state_(state), ports_(ports), limits_(limits), values_(state), k_(state.Categories),
          n_(state.CategoryTotal) {}
    NetworkOutcome Run();

private:
    bool Prepare();
    // The cost of the best split of the categories (infinite when no split's
    // lists fit the memory), the split chosen.
    double ChooseSplit();
    // The number of count patterns (below), as a double.
    double CountPatterns();
    // An ordering's value of category I with count X: ln(p_i^x / x!), the
    // likelihood ratio's term (half of G2 is their sum) or Pearson's.
    long double Term(int o, int i, int x) const;
    // The class the rule gives every value within the margin of V, or -1
    // when the margin reaches across an edge.
    int Classify(int o, long double v) const;
    void Pass(int o);
    void WalkPatterns(int j, int remaining, int previous, int place, int run, const long double (&value)[kOrderings],
                      long double weight, WideCount ways, unsigned open);
    // Settles, at the start of a group, the orderings of OPEN whose every
    // completion lies in one class; returns those left open.
    unsigned SettleCompletions(int j, int remaining, const long double (&value)[kOrderings], long double weight,
                               WideCount ways, unsigned open);
    void SettlePattern(const long double (&value)[kOrderings], long double weight, WideCount ways, unsigned open);
    void EvaluateArrangements(std::size_t group, const bool (&undecided)[kOrderings]);
    void BoundCompletions();
    void WalkAllPatterns();
    // After the patterns gave up: whether the split's lists can take the
    // table; they then start from empty tallies.
    bool FallBackToSplit();
    // The group's arrangements WAYS of the counts before a place times the
    // number of the place in its group (from 1) over the length of the run
    // of equal counts the place ends: the multinomial coefficient of the
    // counts given so far. The quotient is whole, and LENGTH / gcd(PLACE,
    // LENGTH) divides WAYS.
    WideCount Arranged(WideCount ways, int place, int length) const;
    void ListRest(int o);
    void MeetFirstPart(int o, int category, int used, long double value, long double weight);
    void MeetList(int o, int m, long double value, long double weight);
    void EvaluateDirectly(int o, int s, std::uint32_t rank);
    void Tick(std::uint64_t points);
    // One more pattern or completion settled by the walk: the progress now
    // and then, and the walk's limit.
    void WalkStep();
    void Progress();
    WideCount Settled() const;
    void WriteTallies(WideCount points);

    AnalysisState& state_;
    const EnginePorts& ports_;
    OneWayMeetingLimits limits_;
    OneWayValues values_;
    int k_;
    int n_;
    int h_ = 1;  // the categories 0..h-1 are the first part, h..k-1 the rest

    bool tallied_[kOrderings] = {true, false, false};
    double observed_[kOrderings] = {0.0, 0.0, 0.0};
    // Per ordering, in its values' units: the edges of the tally rule (the
    // less side ends at Low, the greater side starts at High) and how far a
    // value formed here may be from the enumeration's.
    long double low_[kOrderings] = {};
    long double high_[kOrderings] = {};
    long double margin_[kOrderings] = {};
    long double magnitude_[kOrderings] = {};  // the most any point's terms add up to
    // How many patterns and completions the walk may settle (its work_)
    // before the lists take the table instead.
    std::uint64_t mostSettled_ = std::numeric_limits<std::uint64_t>::max();
    // The class of the values below the low edge: less, or for an observed
    // probability of 0 equal.
    int lowClass_[kOrderings] = {0, 0, 0};
    // ln(p_i^x / x!) and p_i^x / x! per category and count.
    std::vector<long double> logTerm_;
    std::vector<long double> weight_;
    long double logFactorialN_ = 0.0L;

    // The rest's partial sample points of each total s, sorted by value:
    // from Offset[s], their values (rounded to double), their ranks among
    // the rest's compositions of s (in the enumeration's order), and the
    // running sums of their weights over the list's largest weight (from
    // Offset[s] + s, one more than the list's length).
    std::vector<std::size_t> offset_;
    std::vector<double> listValue_;
    std::vector<std::uint32_t> listRank_;
    std::vector<double> listPrefix_;
    std::vector<long double> listScale_;

    // Categories of equal proportions are exchangeable: every ordering's
    // terms of a count are the same in each of them. A count pattern gives
    // each such group the counts of its categories as a non-increasing
    // sequence; its sample points are the pattern's arrangements within the
    // groups, all with the same value up to the rounding of the order of
    // their sums. Where the groups are large, the patterns are far fewer
    // than the sample points, and are walked one by one instead of the
    // split's lists being met.
    bool byPatterns_ = false;
    double splitCost_ = 0.0;
    std::vector<int> order_;              // the categories, group by group
    std::vector<std::size_t> groupFrom_;  // where each group starts in order_, then k
    std::vector<char> groupStarts_;       // per place in order_
    int lastGroupFrom_ = 0;
    std::vector<std::int32_t> pattern_;   // the pattern being formed, per place
    WideCount directLeft_ = 0;
    // Per divisor d up to k: the power of 2 in d, and the inverse of its odd
    // part modulo 2^128.
    std::vector<int> halvings_;
    std::vector<WideCount> oddInverse_;
    // Per place: where its group ends in order_; the ways of choosing which
    // of its group's places hold 0 when it is the first of them (C(size,
    // places from it to the end)); and Pearson's terms of 0 at the group's
    // places after it, summed.
    std::vector<int> groupEnd_;
    std::vector<WideCount> zeroWays_;
    std::vector<long double> zeroTail_;
    // Per place j and total m the places from j may take (at [j (n + 1) +
    // m]): the number of completions (the compositions of m over those
    // places), the sum of their products of p_i^x / x! (the places'
    // proportions summed, to the m, over m!), and the least and the
    // greatest sum of each ordering's terms over them. Formed where there
    // is more than one group, and used at the start of each group.
    bool bounded_ = false;
    std::vector<WideCount> completions_;
    std::vector<long double> completionWeight_;
    std::vector<long double> least_[kOrderings];
    std::vector<long double> greatest_[kOrderings];

    std::vector<std::int32_t> counts_;  // the sample point being formed
    WideCount total_ = 0;
    int passes_ = 0;
    WideCount done_ = 0;     // sample points of the passes completed
    WideCount settled_ = 0;  // in the current pass
    std::uint64_t work_ = 0;
    WideCount tally_[kOrderings][3] = {};
    long double mass_[kOrderings][3] = {};
};

long double Meeting::Term(int o, int i, int x) const {
    switch (o) {
        case kProbability: return logTerm_[static_cast<std::size_t>(i * (n_ + 1) + x)];
        case kLikelihoodRatio: return values_.LikelihoodRatioTerm(i, x);
        default: return values_.PearsonTerm(i, x);
    }
}

double Meeting::ChooseSplit() {
    // Memory: per listed point a value, a rank and a running sum; per list
    // its offset, scale and one more running sum; while a list is formed,
    // its points (a sort key and a rank, padded to two values), the sort's
    // scratch of as many, and the weights.
    // Work: per point of the first part four searches of a list, per
    // listed point its share of a sort.
    double best = std::numeric_limits<double>::infinity();
    for (int h = 1; h < k_; ++h) {
        const int rest = k_ - h;
        const std::uint64_t listed = Compositions(n_, rest + 1);  // totals 0..n
        const std::uint64_t first = Compositions(n_, h + 1);
        const std::uint64_t longest = Compositions(n_, rest);
        if (listed == std::numeric_limits<std::uint64_t>::max() || first == std::numeric_limits<std::uint64_t>::max())
            continue;
        const double bytes = static_cast<double>(listed) * (2 * sizeof(double) + sizeof(std::uint32_t)) +
                             static_cast<double>(longest) * (2 * sizeof(KeyedPlace) + sizeof(long double)) +
                             static_cast<double>(n_ + 1) * (2 * sizeof(double) + sizeof(long double));
        if (bytes > static_cast<double>(limits_.MaxBytes) || longest >= (std::uint64_t{1} << 32)) continue;
        const double depth = std::log2(static_cast<double>(longest) + 2.0);
        const double cost = static_cast<double>(first) * (depth + 8.0) + static_cast<double>(listed) * (depth + 4.0);
        if (cost < best) {
            best = cost;
            h_ = h;
        }
    }
    return best;
}

double Meeting::CountPatterns() {
    // The groups in the order of their first categories.
    order_.clear();
    groupFrom_.clear();
    std::vector<char> placed(static_cast<std::size_t>(k_), 0);
    for (int i = 0; i < k_; ++i) {
        if (placed[static_cast<std::size_t>(i)]) continue;
        groupFrom_.push_back(order_.size());
        const double p = state_.Proportions[static_cast<std::size_t>(i)];
        for (int j = i; j < k_; ++j) {
            if (placed[static_cast<std::size_t>(j)] || state_.Proportions[static_cast<std::size_t>(j)] != p) continue;
            placed[static_cast<std::size_t>(j)] = 1;
            order_.push_back(j);
        }
    }
    lastGroupFrom_ = static_cast<int>(groupFrom_.back());
    groupFrom_.push_back(order_.size());
    groupStarts_.assign(order_.size(), 0);
    for (std::size_t g = 0; g + 1 < groupFrom_.size(); ++g) groupStarts_[groupFrom_[g]] = 1;
    pattern_.assign(order_.size(), 0);
    // The patterns with total n: the coefficient of z^n in the product of
    // the groups' generating functions of partitions into at most as many
    // parts as the group has categories, which by conjugation are those
    // into parts of at most that size, the product of 1 / (1 - z^part).
    // Multiplying by one such factor is a running sum with that stride.
    std::vector<double> patterns(static_cast<std::size_t>(n_ + 1), 0.0);
    patterns[0] = 1.0;
    for (std::size_t g = 0; g + 1 < groupFrom_.size(); ++g) {
        const auto size = static_cast<int>(groupFrom_[g + 1] - groupFrom_[g]);
        for (int part = 1; part <= std::min(size, n_); ++part)
            for (int t = part; t <= n_; ++t)
                patterns[static_cast<std::size_t>(t)] += patterns[static_cast<std::size_t>(t - part)];
    }
    return patterns[static_cast<std::size_t>(n_)];
}

bool Meeting::Prepare() {
    if (!(state_.ObservedProbability >= 0.0)) return false;
    total_ = WideCompositions(n_, k_);
    if (total_ >= kMostPoints) return false;
    tallied_[kLikelihoodRatio] = state_.Options.ExaLRtest;
    tallied_[kPearson] = state_.Options.ExaCStest;
    observed_[kProbability] = state_.ObservedProbability;
    observed_[kLikelihoodRatio] = state_.G2;
    observed_[kPearson] = state_.X2;
    passes_ = 0;
    for (int o = 0; o < kOrderings; ++o) passes_ += tallied_[o] ? 1 : 0;
    // The split's passes each meet every point of the first part with a
    // list; the patterns' walk visits each pattern once for all orderings,
    // through up to k partial patterns, forming a term and a count each.
    splitCost_ = ChooseSplit();
    const double split = splitCost_ * passes_;
    const double patternCount = CountPatterns();
    const double patterns = patternCount * (k_ + 8.0) * (passes_ + 1.0);
    const bool groups = groupFrom_.size() > 2;
    switch (limits_.Way) {
        case OneWayWay::Cheaper:
            // (Patterns hardly fewer than the points would be an enumeration
            // but for the bounds between groups.)
            byPatterns_ = (patterns < split && patternCount <= 0.5 * static_cast<double>(total_)) ||
                          split == std::numeric_limits<double>::infinity();
            // Between groups whole completions are settled by their bounds,
            // which may spare most of the walk, or little: it is tried
            // within about half the lists' estimated time (a node of the
            // walk takes about as long as 16 units of the lists' work, and
            // there are one to three nodes to a pattern or completion
            // settled).
            if (!byPatterns_ && groups) {
                byPatterns_ = true;
                mostSettled_ = limits_.MostWalkSettled != 0 ? limits_.MostWalkSettled
                                                            : static_cast<std::uint64_t>(std::min(split / 64.0, 1e18));
            }
            break;
        case OneWayWay::Split: byPatterns_ = false; break;
        case OneWayWay::Patterns: byPatterns_ = true; break;
    }
    if (!byPatterns_ && split == std::numeric_limits<double>::infinity()) return false;
    directLeft_ = limits_.MostDirectEvaluations;

    const auto cells = static_cast<std::size_t>(k_) * static_cast<std::size_t>(n_ + 1);
    logTerm_.resize(cells);
    weight_.resize(cells);
    for (int i = 0; i < k_; ++i) {
        const long double logP = std::log(static_cast<long double>(state_.Proportions[static_cast<std::size_t>(i)]));
        for (int x = 0; x <= n_; ++x) {
            const auto at = static_cast<std::size_t>(i * (n_ + 1) + x);
            logTerm_[at] = static_cast<long double>(x) * logP - std::log(state_.Factorials[x]);
            weight_[at] = values_.Power(i, x) / state_.Factorials[x];
        }
    }
    logFactorialN_ = std::log(state_.Factorials[n_]);

    // The rule's edges (RuleEdges) in the values' units, and how far from
    // them a value formed here may lie.
    const long double k = k_;
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o]) continue;
        long double magnitude = 0.0L;  // the most any point's terms add up to
        for (int i = 0; i < k_; ++i) {
            long double most = 0.0L;
            for (int x = 0; x <= n_; ++x) most = std::max(most, std::fabs(Term(o, i, x)));
            magnitude += most;
        }
        magnitude_[o] = magnitude;
        const long double t = o == kProbability ? kProbabilityTolerance : kStatisticTolerance;
        const TallyRuleEdges edges = RuleEdges(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, observed_[o]);
        lowClass_[o] = edges.LowClass;
        long double error = 0.0L;
        if (o == kProbability) {
            // The value is ln p - ln n!. The direct probability's products
            // (the factorials, the powers of the extended power function)
            // are within (4k + 8) 2^-64 of the same terms' exact product,
            // then rounded to double; the logarithms here are summed in
            // extended precision from terms each within 2^-63 of their size.
            low_[o] = std::log(edges.Low) - logFactorialN_;
            high_[o] = std::log(edges.High) - logFactorialN_;
            // Near the double's least values its rounding is absolute:
            // within half the least double, a share of the edge.
            error = 1.01L * (0x1p-53L + (4.0L * k + 8.0L) * 0x1p-64L + 0x1p-1074L / edges.Low) +
                    (2.0L * k + 8.0L) * 0x1p-64L * magnitude + 0x1p-62L * (std::fabs(std::log(edges.High)) + logFactorialN_);
        } else {
            // Half G2, or X2: the direct sum of the double terms in category
            // order is within (k - 1) 2^-53 of their magnitude, the sums
            // here within (k + 2) 2^-64.
            const long double unit = o == kLikelihoodRatio ? 0.5L : 1.0L;
            low_[o] = unit * edges.Low;
            high_[o] = unit * edges.High;
            error = 1.01L * ((k + 1.0L) * 0x1p-53L + (k + 4.0L) * 0x1p-64L) * magnitude + 0x1p-62L * high_[o];
        }
        // The rule's own quotient is rounded to double; the cuts on a list
        // are formed in extended precision, and the list keeps its values
        // rounded to double (within 2^-53 of the magnitude).
        margin_[o] = limits_.MarginScale * (error + 0x1p-52L * magnitude + 1e-12L * t * std::fabs(high_[o]) +
                                            0x1p-60L * (std::fabs(low_[o]) + std::fabs(high_[o]) + magnitude + logFactorialN_));
    }
    counts_.assign(static_cast<std::size_t>(k_), 0);
    return true;
}

void Meeting::ListRest(int o) {
    const int rest = k_ - h_;
    offset_.assign(static_cast<std::size_t>(n_ + 2), 0);
    for (int s = 0; s <= n_; ++s)
        offset_[static_cast<std::size_t>(s + 1)] = offset_[static_cast<std::size_t>(s)] + Compositions(s, rest);
    const std::size_t listed = offset_.back();
    listValue_.resize(listed);
    listRank_.resize(listed);
    listPrefix_.resize(listed + static_cast<std::size_t>(n_ + 1));
    listScale_.assign(static_cast<std::size_t>(n_ + 1), 0.0L);
    // A list's points in the order formed (their ranks), sorted by the
    // order keys of their values.
    std::vector<KeyedPlace> points;
    std::vector<KeyedPlace> scratch;
    std::vector<long double> weight;
    points.reserve(Compositions(n_, rest));
    weight.reserve(Compositions(n_, rest));
    std::vector<std::int32_t> x(static_cast<std::size_t>(rest), 0);
    for (int s = 0; s <= n_; ++s) {
        // The compositions of s in the enumeration's order: the first of the
        // rest's categories slowest, the last the remainder.
        points.clear();
        weight.clear();
        std::fill(x.begin(), x.end(), 0);
        x.back() = s;
        for (;;) {
            long double v = 0.0L;
            long double w = 1.0L;
            for (int j = 0; j < rest; ++j) {
                v += Term(o, h_ + j, x[static_cast<std::size_t>(j)]);
                w *= weight_[static_cast<std::size_t>((h_ + j) * (n_ + 1) + x[static_cast<std::size_t>(j)])];
            }
            points.push_back({TallyBand::OrderKey(static_cast<double>(v)), static_cast<std::uint32_t>(points.size())});
            weight.push_back(w);
            // The next composition: raise the rightmost count before the last
            // that can be raised, zero those after it.
            int j = rest - 2;
            int before = 0;
            for (int i = 0; i < rest - 1; ++i) before += x[static_cast<std::size_t>(i)];
            if (j < 0 || before == s) {
                while (j >= 0 && x[static_cast<std::size_t>(j)] == 0) --j;
                if (j <= 0) break;
                before -= x[static_cast<std::size_t>(j)];
                x[static_cast<std::size_t>(j)] = 0;
                --j;
            }
            ++x[static_cast<std::size_t>(j)];
            x.back() = s - before - 1;
            Tick(0);
        }
        const std::size_t from = offset_[static_cast<std::size_t>(s)];
        SortByKey(points, scratch);
        Tick(0);
        long double scale = 0.0L;
        for (const long double w : weight) scale = std::max(scale, w);
        listScale_[static_cast<std::size_t>(s)] = scale;
        double* prefix = listPrefix_.data() + from + static_cast<std::size_t>(s);
        prefix[0] = 0.0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            listValue_[from + i] = TallyBand::FromOrderKey(points[i].Key);
            listRank_[from + i] = points[i].Place;
            prefix[i + 1] = prefix[i] + (scale > 0.0L ? static_cast<double>(weight[points[i].Place] / scale) : 0.0);
        }
    }
}

void Meeting::EvaluateDirectly(int o, int s, std::uint32_t rank) {
    // The rest's composition of s with this rank in the enumeration's order.
    int remaining = s;
    std::uint64_t r = rank;
    for (int j = h_; j < k_ - 1; ++j) {
        int v = 0;
        for (;; ++v) {
            const std::uint64_t after = Compositions(remaining - v, k_ - 1 - j);
            if (r < after) break;
            r -= after;
        }
        counts_[static_cast<std::size_t>(j)] = v;
        remaining -= v;
    }
    counts_[static_cast<std::size_t>(k_ - 1)] = remaining;
    double p = 0.0;
    double g = 0.0;
    double x = 0.0;
    values_.Evaluate(counts_, p, g, x);
    const double value = o == kProbability ? p : o == kLikelihoodRatio ? g : x;
    const int c = TallyClass(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, value, observed_[o]);
    ++tally_[o][c];
    mass_[o][c] += p;
}

void Meeting::MeetList(int o, int m, long double value, long double weight) {
    const int s = n_ - m;
    const std::size_t from = offset_[static_cast<std::size_t>(s)];
    const std::size_t size = offset_[static_cast<std::size_t>(s + 1)] - from;
    const double* v = listValue_.data() + from;
    const long double margin = margin_[o];
    const long double lessBelow = low_[o] - margin - value;
    const long double openTo = low_[o] + margin - value;
    const long double equalBelow = high_[o] - margin - value;
    const long double greaterAbove = high_[o] + margin - value;
    // The edges rise (but where the margins are wider than the equal band,
    // the sure-equal stretch is empty), and the later ones are near the
    // first: each search gallops from where the one before ended.
    std::size_t hint = kNoHint;
    const std::size_t i1 = Boundary(size, [v, lessBelow](std::size_t i) { return v[i] < lessBelow; }, hint);
    const std::size_t i2 = Boundary(size, [v, openTo](std::size_t i) { return v[i] <= openTo; }, hint);
    const std::size_t i3 =
        std::max(i2, Boundary(size, [v, equalBelow](std::size_t i) { return v[i] < equalBelow; }, hint));
    const std::size_t i4 = Boundary(size, [v, greaterAbove](std::size_t i) { return v[i] <= greaterAbove; }, hint);
    tally_[o][lowClass_[o]] += i1;
    tally_[o][1] += i3 - i2;
    tally_[o][2] += size - i4;
    const double* prefix = listPrefix_.data() + from + static_cast<std::size_t>(s);
    const long double factor = weight * listScale_[static_cast<std::size_t>(s)] * state_.Factorials[n_];
    mass_[o][lowClass_[o]] += factor * prefix[i1];
    mass_[o][1] += factor * (static_cast<long double>(prefix[i3]) - prefix[i2]);
    mass_[o][2] += factor * (static_cast<long double>(prefix[size]) - prefix[i4]);
    for (std::size_t i = i1; i < i2; ++i) EvaluateDirectly(o, s, listRank_[from + i]);
    for (std::size_t i = i3; i < i4; ++i) EvaluateDirectly(o, s, listRank_[from + i]);
    Tick(size);
}

void Meeting::MeetFirstPart(int o, int category, int used, long double value, long double weight) {
    if (category == h_) {
        MeetList(o, used, value, weight);
        return;
    }
    const auto at = static_cast<std::size_t>(category * (n_ + 1));
    for (int x = 0; used + x <= n_; ++x) {
        counts_[static_cast<std::size_t>(category)] = x;
        MeetFirstPart(o, category + 1, used + x, value + Term(o, category, x),
                      weight * weight_[at + static_cast<std::size_t>(x)]);
    }
}

int Meeting::Classify(int o, long double v) const {
    return ClassWithinMargin(v, low_[o], high_[o], margin_[o], lowClass_[o]);
}

void Meeting::EvaluateArrangements(std::size_t group, const bool (&undecided)[kOrderings]) {
    if (group + 1 == groupFrom_.size()) {
        double p = 0.0;
        double g = 0.0;
        double x = 0.0;
        values_.Evaluate(counts_, p, g, x);
        const double value[kOrderings] = {p, g, x};
        for (int o = 0; o < kOrderings; ++o) {
            if (!undecided[o]) continue;
            const int c = TallyClass(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, value[o], observed_[o]);
            ++tally_[o][c];
            mass_[o][c] += p;
        }
        return;
    }
    // Every distinct arrangement of the group's counts over its categories.
    const std::size_t from = groupFrom_[group];
    const std::size_t to = groupFrom_[group + 1];
    std::vector<std::int32_t> counts(pattern_.begin() + static_cast<std::ptrdiff_t>(from),
                                     pattern_.begin() + static_cast<std::ptrdiff_t>(to));
    std::sort(counts.begin(), counts.end());
    do {
        for (std::size_t i = from; i < to; ++i) counts_[static_cast<std::size_t>(order_[i])] = counts[i - from];
        EvaluateArrangements(group + 1, undecided);
    } while (std::next_permutation(counts.begin(), counts.end()));
}

void Meeting::SettlePattern(const long double (&value)[kOrderings], long double weight, WideCount ways,
                            unsigned open) {
    bool undecided[kOrderings] = {};
    bool near = false;
    const long double mass = weight * state_.Factorials[n_] * static_cast<long double>(ways);
    for (int o = 0; o < kOrderings; ++o) {
        if ((open & (1u << o)) == 0) continue;
        const int c = Classify(o, value[o]);
        if (c < 0) {
            undecided[o] = near = true;
            continue;
        }
        tally_[o][c] += ways;
        mass_[o][c] += mass;
    }
    if (near) {
        if (ways > directLeft_) throw TooManyNearEdges{};
        directLeft_ -= ways;
        EvaluateArrangements(0, undecided);
    }
    settled_ += ways;
    WalkStep();
}

WideCount Meeting::Arranged(WideCount ways, int place, int length) const {
    if (length == 1) return ways * static_cast<WideCount>(place);
    const int common = std::gcd(place, length);
    const auto d = static_cast<std::size_t>(length / common);
    // The exact quotient by d = 2^s q (q odd): shifted by s, times the
    // inverse of q modulo 2^128.
    return (ways >> halvings_[d]) * oddInverse_[d] * static_cast<WideCount>(place / common);
}

[[gnu::noinline]] unsigned Meeting::SettleCompletions(int j, int remaining, const long double (&value)[kOrderings], long double weight,
                                   WideCount ways, unsigned open) {
    const std::size_t at = static_cast<std::size_t>(j) * static_cast<std::size_t>(n_ + 1) + static_cast<std::size_t>(remaining);
    const WideCount count = ways * completions_[at];
    const long double mass = weight * state_.Factorials[n_] * static_cast<long double>(ways) * completionWeight_[at];
    for (int o = 0; o < kOrderings; ++o) {
        if ((open & (1u << o)) == 0) continue;
        // A completion's value formed in the walk is within the rounding of
        // a sum of k terms of the bounds (themselves such sums), far inside
        // the margins' allowance for the lists' rounding to double.
        const long double slack = 2.0L * k_ * 0x1p-64L * magnitude_[o];
        const int c = Classify(o, value[o] + least_[o][at] - slack);
        if (c < 0 || Classify(o, value[o] + greatest_[o][at] + slack) != c) continue;
        tally_[o][c] += count;
        mass_[o][c] += mass;
        open &= ~(1u << o);
    }
    if (open == 0) {
        settled_ += count;
        WalkStep();
    }
    return open;
}

// Place J of order_ takes each count it may in the pattern: at most the
// count before it in its group (PREVIOUS), in the last group at least its
// share of what remains. VALUE holds the orderings' terms summed so far,
// WEIGHT the product of p_i^x / x!, WAYS the arrangements of the counts
// given so far within their groups; PLACE and RUN are the number of the
// place before within its group (from 1) and how many places before it in
// a row have its count.
void Meeting::WalkPatterns(int j, int remaining, int previous, int place, int run,
                           const long double (&value)[kOrderings], long double weight, WideCount ways, unsigned open) {
    const auto at = static_cast<std::size_t>(j);
    const bool starts = groupStarts_[at] != 0;
    if (starts && bounded_ && j > 0) {
        open = SettleCompletions(j, remaining, value, weight, ways, open);
        if (open == 0) return;
    }
    place = starts ? 1 : place + 1;
    const int most = starts ? remaining : std::min(previous, remaining);
    int least = 0;
    if (j >= lastGroupFrom_) {
        const int left = k_ - j;
        least = (remaining + left - 1) / left;
    }
    const int category = order_[at];
    const auto terms = static_cast<std::size_t>(category * (n_ + 1));
    for (int x = most; x >= least; --x) {
        int length = !starts && x == previous ? run + 1 : 1;
        WideCount next = Arranged(ways, place, length);
        long double v[kOrderings] = {value[kProbability] + logTerm_[terms + static_cast<std::size_t>(x)], 0.0L, 0.0L};
        if (tallied_[kLikelihoodRatio]) v[kLikelihoodRatio] = value[kLikelihoodRatio] + values_.LikelihoodRatioTerm(category, x);
        if (tallied_[kPearson]) v[kPearson] = value[kPearson] + values_.PearsonTerm(category, x);
        const long double w = weight * weight_[terms + static_cast<std::size_t>(x)];
        pattern_[at] = x;
        int after = j + 1;
        if (x == 0) {
            // The group's later places can only take 0 too: the group's
            // arrangements are those of its counts before this place times
            // the ways of choosing the places of its zeros. The terms of a
            // count of 0 are 0 but Pearson's (e_i), and p^0 / 0! is 1.
            after = groupEnd_[at];
            next = ways * zeroWays_[at];
            v[kPearson] += zeroTail_[at];
            std::fill(pattern_.begin() + j + 1, pattern_.begin() + after, 0);
        }
        if (after == k_) {
            SettlePattern(v, w, next, open);
        } else {
            WalkPatterns(after, remaining - x, x, place, length, v, w, next, open);
        }
    }
}

void Meeting::WalkAllPatterns() {
    halvings_.assign(static_cast<std::size_t>(k_ + 1), 0);
    oddInverse_.assign(static_cast<std::size_t>(k_ + 1), 1);
    for (int d = 1; d <= k_; ++d) {
        int odd = d;
        while (odd % 2 == 0) {
            odd /= 2;
            ++halvings_[static_cast<std::size_t>(d)];
        }
        // Newton's step y (2 - q y) doubles the low bits of q y that are 1;
        // q q = 1 modulo 8 to begin with.
        const auto q = static_cast<WideCount>(odd);
        WideCount y = q;
        for (int step = 0; step < 6; ++step) y *= 2 - q * y;
        oddInverse_[static_cast<std::size_t>(d)] = y;
    }
    groupEnd_.assign(order_.size(), 0);
    zeroWays_.assign(order_.size(), 0);
    zeroTail_.assign(order_.size(), 0.0L);
    for (std::size_t g = 0; g + 1 < groupFrom_.size(); ++g) {
        const std::size_t from = groupFrom_[g];
        const std::size_t to = groupFrom_[g + 1];
        const auto size = static_cast<int>(to - from);
        long double tail = 0.0L;
        for (std::size_t place = to; place-- > from;) {
            // (Where C is kMostPoints or more, no pattern of the table, of at
            // most total_ points, has so many zeros in the group.)
            groupEnd_[place] = static_cast<int>(to);
            zeroWays_[place] = WideBinomial(size, static_cast<int>(to - place), kMostPoints);
            zeroTail_[place] = tail;
            if (tallied_[kPearson]) tail += values_.PearsonTerm(order_[place], 0);
        }
    }
    BoundCompletions();
    settled_ = 0;
    const long double none[kOrderings] = {};
    unsigned open = 0;
    for (int o = 0; o < kOrderings; ++o)
        if (tallied_[o]) open |= 1u << o;
    WalkPatterns(0, n_, 0, 0, 0, none, 1.0L, 1, open);
}

void Meeting::BoundCompletions() {
    bounded_ = groupFrom_.size() > 2;
    if (!bounded_) return;
    const auto width = static_cast<std::size_t>(n_ + 1);
    const std::size_t cells = static_cast<std::size_t>(k_ + 1) * width;
    completions_.assign(cells, 0);
    completionWeight_.assign(cells, 0.0L);
    long double share = 0.0L;
    const long double none = std::numeric_limits<long double>::infinity();
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o]) continue;
        least_[o].assign(cells, none);
        greatest_[o].assign(cells, -none);
        least_[o][static_cast<std::size_t>(k_) * width] = greatest_[o][static_cast<std::size_t>(k_) * width] = 0.0L;
    }
    // Place by place from the last: a total m of the places from j is x at
    // j and m - x at the places after it.
    for (int j = k_ - 1; j >= 0; --j) {
        const int category = order_[static_cast<std::size_t>(j)];
        share += state_.Proportions[static_cast<std::size_t>(category)];
        const std::size_t here = static_cast<std::size_t>(j) * width;
        const std::size_t after = here + width;
        for (int m = 0; m <= n_; ++m) {
            completions_[here + static_cast<std::size_t>(m)] = WideCompositions(m, k_ - j);
            completionWeight_[here + static_cast<std::size_t>(m)] =
                std::pow(share, static_cast<long double>(m)) / state_.Factorials[m];
            for (int o = 0; o < kOrderings; ++o) {
                if (!tallied_[o]) continue;
                long double least = none;
                long double greatest = -none;
                for (int x = 0; x <= m; ++x) {
                    const long double term = Term(o, category, x);
                    least = std::min(least, term + least_[o][after + static_cast<std::size_t>(m - x)]);
                    greatest = std::max(greatest, term + greatest_[o][after + static_cast<std::size_t>(m - x)]);
                }
                least_[o][here + static_cast<std::size_t>(m)] = least;
                greatest_[o][here + static_cast<std::size_t>(m)] = greatest;
            }
        }
    }
}

void Meeting::Pass(int o) {
    settled_ = 0;
    ListRest(o);
    MeetFirstPart(o, 0, 0, 0.0L, 1.0L);
    done_ += total_;
    settled_ = 0;
}

void Meeting::WalkStep() {
    if (++work_ > mostSettled_) throw WalkTooLong{};
    if ((work_ & 0xFFFF) == 0) Progress();
}

void Meeting::Tick(std::uint64_t points) {
    settled_ += points;
    if ((++work_ & 0xFFFF) == 0) Progress();
}

WideCount Meeting::Settled() const {
    if (byPatterns_) return settled_;
    return passes_ == 0 ? 0 : (done_ + settled_) / static_cast<WideCount>(passes_);
}

void Meeting::Progress() {
    if (ShowSettledProgress(state_, ports_, Settled(), total_)) throw BrokenOff{};
}

void Meeting::WriteTallies(WideCount points) {
    WriteSettledTallies(state_, tallied_, tally_, mass_, 1.0L, points);
}

bool Meeting::FallBackToSplit() {
    // The split's lists evaluate only the points near an edge.
    if (splitCost_ == std::numeric_limits<double>::infinity()) return false;
    byPatterns_ = false;
    settled_ = 0;
    for (int o = 0; o < kOrderings; ++o)
        for (int c = 0; c < 3; ++c) {
            tally_[o][c] = 0;
            mass_[o][c] = 0.0L;
        }
    return true;
}

NetworkOutcome Meeting::Run() {
    if (!Prepare()) return NetworkOutcome::NeedsEnumeration;
    try {
        if (byPatterns_) {
            try {
                WalkAllPatterns();
            } catch (const PatternsGiveUp&) {
                if (!FallBackToSplit()) return NetworkOutcome::NeedsEnumeration;
            }
        }
        if (!byPatterns_)
            for (int o = 0; o < kOrderings; ++o)
                if (tallied_[o]) Pass(o);
    } catch (const std::bad_alloc&) {
        return NetworkOutcome::NeedsEnumeration;
    } catch (const BrokenOff&) {
        WriteTallies(Settled());
        return NetworkOutcome::BrokenOff;
    }
    WriteTallies(total_);
    return NetworkOutcome::Completed;
}

}  // namespace

NetworkOutcome RunOneWayMeeting(AnalysisState& state, const EnginePorts& ports, const OneWayMeetingLimits& limits) {
    if (!OneWayMeetingApplies(state)) return NetworkOutcome::NeedsEnumeration;
    return Meeting(state, ports, limits).Run();
}

}  // namespace kelvorin
