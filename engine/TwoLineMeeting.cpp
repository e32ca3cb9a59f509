#include "TwoLineMeeting.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

#include "ExactEnumeration.h"
#include "Ports.h"
#include "RadixSort.h"

namespace kelvorin {

namespace {

enum Ordering { kProbability, kLikelihoodRatio, kPearson, kOrderings };

struct BrokenOff {};
// Too many pairs lie within rounding of an edge to be evaluated one by one
// (or a list came out longer or shorter than its count, which would be a
// fault).
struct GiveUp {};

// The table as two lines over its stages: the columns of a two-row table,
// the rows of a two-column one.
struct Lines {
    bool Transposed = false;
    int Stages = 0;
    std::vector<int> Total;  // per stage (from 0)
    int First = 0;           // the first line's total
};

bool HasTwoLines(const ContingencyTable& t) {
    return t.TwoWay && ((t.Rows == 2 && t.Cols > 2) || (t.Cols == 2 && t.Rows > 2));
}

Lines LinesOf(const ContingencyTable& t) {
    Lines lines;
    lines.Transposed = t.Rows != 2;
    lines.Stages = lines.Transposed ? t.Rows : t.Cols;
    for (int j = 1; j <= lines.Stages; ++j) lines.Total.push_back(lines.Transposed ? t.RowTotal(j) : t.ColTotal(j));
    lines.First = lines.Transposed ? t.ColTotal(1) : t.RowTotal(1);
    return lines;
}

// The two halves of the stages: each stage goes, largest total first, to
// the half whose box (the product of total + 1) is the smaller, so the
// boxes come out about equal.
void SplitStages(const Lines& lines, std::vector<int>& first, std::vector<int>& rest) {
    std::vector<int> order(static_cast<std::size_t>(lines.Stages));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&lines](int a, int b) {
        return lines.Total[static_cast<std::size_t>(a)] > lines.Total[static_cast<std::size_t>(b)];
    });
    double box[2] = {0.0, 0.0};  // logarithms
    first.clear();
    rest.clear();
    for (int j : order) {
        const int to = box[0] <= box[1] ? 0 : 1;
        box[to] += std::log(lines.Total[static_cast<std::size_t>(j)] + 1.0);
        (to == 0 ? first : rest).push_back(j);
    }
}

// Per total s, the number of a half's partial tables (each stage's count
// at most its total) summing to s: the coefficients of the product of the
// polynomials 1 + z + ... + z^C, one running sum per stage.
std::vector<double> PartialTablesByTotal(const Lines& lines, const std::vector<int>& half) {
    std::vector<double> count{1.0};
    for (int j : half) {
        const int c = lines.Total[static_cast<std::size_t>(j)];
        std::vector<double> next(count.size() + static_cast<std::size_t>(c), 0.0);
        double window = 0.0;
        for (std::size_t s = 0; s < next.size(); ++s) {
            if (s < count.size()) window += count[s];
            if (s >= static_cast<std::size_t>(c) + 1 && s - static_cast<std::size_t>(c) - 1 < count.size())
                window -= count[s - static_cast<std::size_t>(c) - 1];
            next[s] = window;
        }
        count = std::move(next);
    }
    return count;
}

// What the meeting of the table's halves would form: the partial tables
// over all totals that meet, and the longest list of each half.
struct Work {
    unsigned Threads = 1;  // 1 or 2: as many as the memory holds the lists of, up to the limit
    double Formed = 0.0;
    double Longest[2] = {0.0, 0.0};
};

// The bytes a thread holds for lists of LONGEST partial tables at most:
// per partial table, each tallied ordering's value and its weight (the
// product of its stages' binomial coefficients, at most 2^N) as doubles,
// its sort key and place, its weight in sorted order; for the longer list,
// the sort's scratch and the running sums of its weights.
double ListBytes(const double (&longest)[2], int orderings) {
    const double perPartial = (orderings + 2.0) * sizeof(double) + sizeof(KeyedPlace);
    return (longest[0] + longest[1]) * perPartial +
           std::max(longest[0], longest[1]) * static_cast<double>(sizeof(KeyedPlace) + sizeof(long double));
}

Work WorkOf(const Lines& lines, const std::vector<double> (&byTotal)[2]) {
    Work work;
    const int most = static_cast<int>(byTotal[0].size()) - 1;
    for (int s = 0; s <= std::min(most, lines.First); ++s) {
        const auto t = static_cast<std::size_t>(lines.First - s);
        if (t >= byTotal[1].size()) continue;
        const double a = byTotal[0][static_cast<std::size_t>(s)];
        const double b = byTotal[1][t];
        work.Formed += a + b;
        work.Longest[0] = std::max(work.Longest[0], a);
        work.Longest[1] = std::max(work.Longest[1], b);
    }
    return work;
}

// One half's stages and the partial tables of the current total.
struct Half {
    std::vector<int> Stages;
    std::vector<int> Room;             // per level, the totals of the stages from it on
    // Per level l and total r (at [l (Room[0] + 1) + r]): the partial tables
    // of the stages from l on with total r, as the lists are formed (the
    // first stage's count slowest), so a place in a list gives its counts.
    std::vector<std::uint64_t> Completions;
    int Total = 0;  // of the current list
    std::size_t Size = 0;
    std::vector<double> Value[kOrderings];
    std::vector<double> Weight;
    double Least[kOrderings] = {};
    double Most[kOrderings] = {};
    long double WeightSum = 0.0L;
    // The list sorted by one ordering's value: the values' order keys
    // with their places, and the weights in that order.
    std::vector<KeyedPlace> Sorted;
    std::vector<double> SortedWeight;
};

// What the pairs of one total (or of all totals settled) came to.
struct Tallies {
    WideCount Count[kOrderings][3] = {};
    long double Mass[kOrderings][3] = {};
    void Add(const Tallies& other) {
        for (int o = 0; o < kOrderings; ++o)
            for (int c = 0; c < 3; ++c) {
                Count[o][c] += other.Count[o][c];
                Mass[o][c] += other.Mass[o][c];
            }
    }
};

// The meeting's setting, shared by the threads that settle its totals:
// the terms, the rule's edges and margins, the halves' stages.
class Meeting {
public:
    Meeting(AnalysisState& state, const EnginePorts& ports, const TwoLineMeetingLimits& limits)
        : state_(state), ports_(ports), limits_(limits), lines_(LinesOf(state.Table)) {}
    NetworkOutcome Run();

private:
    friend class Worker;
    bool Prepare();
    void SetUpHalf(Half& half, const std::vector<int>& stages);
    int Classify(int o, long double v) const;
    // The main thread's look at the user: progress, and a break-off.
    void Progress();
    WideCount Settled() const;

    AnalysisState& state_;
    const EnginePorts& ports_;
    TwoLineMeetingLimits limits_;
    Lines lines_;
    StatisticTerms terms_;

    bool tallied_[kOrderings] = {true, false, false};
    double observed_[kOrderings] = {0.0, 0.0, 0.0};
    long double normaliser_ = 1.0L;  // C(N, the first line's total)
    // Per stage and count of the first line, each ordering's term (from
    // offset_[stage]): ln C(C, x), and the sum of the stage's two cell
    // terms of the likelihood ratio and of Pearson's statistic; and the
    // weight C(C, x).
    std::vector<std::size_t> offset_;
    std::vector<long double> term_[kOrderings];
    std::vector<long double> binomial_;
    // Per ordering: the edges of the tally rule in the values' units (the
    // less side ends at low_, the greater starts at high_), how far a value
    // formed here may be from the enumeration's, and the class below low_.
    long double low_[kOrderings] = {};
    long double high_[kOrderings] = {};
    long double margin_[kOrderings] = {};
    int lowClass_[kOrderings] = {0, 0, 0};

    Half halves_[2];  // the stages of each half
    std::vector<double> byTotal_[2];
    // The totals of the first half, the longest lists first (so that the
    // threads end together); each one's sample points and, once settled,
    // its tallies.
    std::vector<int> totals_;
    std::vector<WideCount> points_;
    std::vector<Tallies> settled_;
    std::unique_ptr<std::atomic<bool>[]> done_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> directLeft_{0};
    WideCount total_ = 0;
};

// A thread's lists and their meeting: settles totals of the setting.
class Worker {
public:
    Worker(Meeting& m, bool main) : m_(m), main_(main), table_(m.state_.Table) {
        for (int h = 0; h < 2; ++h) {
            halves_[h].Stages = m.halves_[h].Stages;
            halves_[h].Room = m.halves_[h].Room;
            halves_[h].Completions = m.halves_[h].Completions;
        }
    }
    // Settles totals no thread has taken until none is left.
    void SettleTotals();

private:
    void Form(Half& half, int total, std::size_t size);
    void FormFrom(Half& half, std::size_t level, int remaining, const long double (&value)[kOrderings],
                  long double weight);
    void Meet(int o, Tallies& local);
    void Sort(Half& half, int o);
    void EvaluatePair(int o, std::uint32_t first, std::uint32_t rest, Tallies& local);
    // Puts the counts of the partial table at PLACE of the half's list into
    // the table evaluated directly.
    void Place(const Half& half, std::uint32_t place);
    // Now and then within a long list: the progress (main thread), or
    // whether to stop (the other).
    void Checkpoint();

    Meeting& m_;
    bool main_;
    ContingencyTable table_;  // the pairs evaluated directly
    Half halves_[2];
    std::vector<KeyedPlace> scratch_;
    std::vector<long double> prefix_;
    std::size_t filled_ = 0;  // the partial tables formed of the list
};

// The other thread stops (the total in hand is left unsettled).
struct Stopped {};

void Meeting::SetUpHalf(Half& half, const std::vector<int>& stages) {
    half.Stages = stages;
    half.Room.assign(stages.size() + 1, 0);
    for (std::size_t l = stages.size(); l-- > 0;)
        half.Room[l] = half.Room[l + 1] + lines_.Total[static_cast<std::size_t>(stages[l])];
    const auto width = static_cast<std::size_t>(half.Room[0]) + 1;
    half.Completions.assign((stages.size() + 1) * width, 0);
    half.Completions[stages.size() * width] = 1;
    for (std::size_t l = stages.size(); l-- > 0;) {
        const int c = lines_.Total[static_cast<std::size_t>(stages[l])];
        for (int r = 0; r <= half.Room[l]; ++r)
            for (int x = 0; x <= std::min(c, r); ++x)
                half.Completions[l * width + static_cast<std::size_t>(r)] +=
                    half.Completions[(l + 1) * width + static_cast<std::size_t>(r - x)];
    }
}

bool Meeting::Prepare() {
    tallied_[kLikelihoodRatio] = state_.Options.ExaLRtest;
    tallied_[kPearson] = state_.Options.ExaCStest;
    observed_[kProbability] = state_.ObservedProbability;
    observed_[kLikelihoodRatio] = state_.G2;
    observed_[kPearson] = state_.X2;
    if (!(state_.ObservedProbability >= 0.0) || !(state_.RowMultinomial > 0.0L)) return false;
    // A table's probability is the product of C(C_j, x_j) over C(N, first
    // line's total), whichever way the table lies.
    const auto& F = state_.Factorials;
    const int n = state_.Table.GrandTotal();
    normaliser_ = F[n] / (F[lines_.First] * F[n - lines_.First]);
    terms_.Prepare(state_.Table, state_.ComputeLR, state_.ComputeChi);
    if (!terms_.Available()) return false;

    // The terms, per stage and count of the first line.
    offset_.assign(static_cast<std::size_t>(lines_.Stages) + 1, 0);
    for (int j = 0; j < lines_.Stages; ++j)
        offset_[static_cast<std::size_t>(j) + 1] =
            offset_[static_cast<std::size_t>(j)] + static_cast<std::size_t>(lines_.Total[static_cast<std::size_t>(j)]) + 1;
    for (int o = 0; o < kOrderings; ++o) term_[o].assign(offset_.back(), 0.0L);
    binomial_.assign(offset_.back(), 0.0L);
    long double magnitude[kOrderings] = {};  // the most any table's terms add up to
    const long double logRows = std::log(normaliser_);
    for (int j = 0; j < lines_.Stages; ++j) {
        const int c = lines_.Total[static_cast<std::size_t>(j)];
        const long double logTotal = std::log(F[c]);
        long double most[kOrderings] = {};
        for (int x = 0; x <= c; ++x) {
            const std::size_t at = offset_[static_cast<std::size_t>(j)] + static_cast<std::size_t>(x);
            const long double logRest = std::log(F[x]) + std::log(F[c - x]);
            term_[kProbability][at] = logTotal - logRest;
            binomial_[at] = F[c] / (F[x] * F[c - x]);
            // (No table has a count above its line's total: the statistics'
            // terms are not tabled there, and such partial tables meet
            // none.)
            if (x > lines_.First || c - x > n - lines_.First) continue;
            most[kProbability] = std::max(most[kProbability], logTotal + logRest);
            // The cells (1, stage) and (2, stage), or (stage, 1) and (stage, 2).
            const int i1 = lines_.Transposed ? j + 1 : 1, j1 = lines_.Transposed ? 1 : j + 1;
            const int i2 = lines_.Transposed ? j + 1 : 2, j2 = lines_.Transposed ? 2 : j + 1;
            if (tallied_[kLikelihoodRatio]) {
                const double a = terms_.LikelihoodRatioTerm(i1, j1, x), b = terms_.LikelihoodRatioTerm(i2, j2, c - x);
                term_[kLikelihoodRatio][at] = static_cast<long double>(a) + b;
                most[kLikelihoodRatio] = std::max(most[kLikelihoodRatio], static_cast<long double>(std::fabs(a)) + std::fabs(b));
            }
            if (tallied_[kPearson]) {
                const double a = terms_.PearsonTerm(i1, j1, x), b = terms_.PearsonTerm(i2, j2, c - x);
                term_[kPearson][at] = static_cast<long double>(a) + b;
                most[kPearson] = std::max(most[kPearson], static_cast<long double>(std::fabs(a)) + std::fabs(b));
            }
        }
        for (int o = 0; o < kOrderings; ++o) magnitude[o] += most[o];
    }

    // The rule's edges (RuleEdges) in the values' units, and how far from
    // them a value formed here may lie.
    const long double k = lines_.Stages;
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o]) continue;
        const long double t = o == kProbability ? kProbabilityTolerance : kStatisticTolerance;
        const long double b = observed_[o];
        const TallyRuleEdges edges = RuleEdges(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, observed_[o]);
        lowClass_[o] = edges.LowClass;
        long double error = 0.0L;
        if (o == kProbability) {
            // The value is ln (p C(N, first)). The direct probability's
            // products (four roundings a column or row, the quotient by the
            // row multinomial) are within (4k + 2) 2^-64 of the same factorials'
            // exact quotient, then rounded to double, absolutely within half
            // the least double near 0; the logarithms here (three a stage,
            // each within two units of the last place) are summed in
            // extended precision.
            low_[o] = std::log(edges.Low) + logRows;
            high_[o] = std::log(edges.High) + logRows;
            error = 1.01L * (0x1p-53L + (4.0L * k + 8.0L) * 0x1p-64L + 0x1p-1074L / edges.Low) +
                    (8.0L * k + 8.0L) * 0x1p-64L * magnitude[o] +
                    0x1p-62L * (std::fabs(std::log(edges.Low)) + std::fabs(std::log(edges.High)) + std::fabs(logRows));
        } else {
            // Half G2, or X2: the direct sum of the 2k double cell terms in
            // row order is within (2k - 1) 2^-53 of their magnitude, the sums
            // here within (k + 2) 2^-64.
            const long double unit = o == kLikelihoodRatio ? 0.5L : 1.0L;
            low_[o] = unit * edges.Low;
            high_[o] = unit * edges.High;
            error = 1.01L * ((2.0L * k + 1.0L) * 0x1p-53L + (k + 4.0L) * 0x1p-64L) * magnitude[o] + 0x1p-62L * std::fabs(high_[o]);
        }
        // The lists keep each half's value rounded to double (together
        // within 2^-53 of the magnitude); the edges and the cuts against
        // them are rounded to double (each within 2^-53 of the edges and
        // the magnitude); the rule's own quotient is rounded. Twice all
        // that, to be safe: the margins only send more pairs to the direct
        // evaluation.
        margin_[o] = limits_.MarginScale * 2.0L *
                     (error + 0x1p-52L * magnitude[o] + 1e-12L * t * std::fabs(high_[o]) +
                      0x1p-50L * (std::fabs(low_[o]) + std::fabs(high_[o]) + magnitude[o]));
        // A statistic's rule counts a value at or below -b as equal: a
        // positive observed value so small that rounding may reach below -b
        // is left to the network, which keeps that stretch.
        if (o != kProbability && b > 0.0L && b <= 2.0L * margin_[o]) return false;
    }

    std::vector<int> stages[2];
    SplitStages(lines_, stages[0], stages[1]);
    for (int h = 0; h < 2; ++h) SetUpHalf(halves_[h], stages[h]);
    directLeft_ = limits_.MostDirectEvaluations;
    return true;
}

// Forms the half's SIZE partial tables with the given total, with their
// values, weights and places, and each ordering's least and greatest value.
void Worker::Form(Half& half, int total, std::size_t size) {
    half.Size = size;
    for (int o = 0; o < kOrderings; ++o) {
        half.Value[o].resize(m_.tallied_[o] ? size : 0);
        half.Least[o] = std::numeric_limits<double>::infinity();
        half.Most[o] = -std::numeric_limits<double>::infinity();
    }
    half.Total = total;
    half.Weight.resize(size);
    half.WeightSum = 0.0L;
    filled_ = 0;
    if (size == 0) return;
    const long double none[kOrderings] = {};
    FormFrom(half, 0, total, none, 1.0L);
    if (filled_ != size) throw GiveUp{};  // (the count by total and the forming agree)
    for (double w : half.Weight) half.WeightSum += w;
    for (int o = 0; o < kOrderings; ++o) {
        if (!m_.tallied_[o]) continue;
        for (double v : half.Value[o]) {
            half.Least[o] = std::min(half.Least[o], v);
            half.Most[o] = std::max(half.Most[o], v);
        }
    }
}

void Worker::FormFrom(Half& half, std::size_t level, int remaining, const long double (&value)[kOrderings],
                       long double weight) {
    const int j = half.Stages[level];
    const int c = m_.lines_.Total[static_cast<std::size_t>(j)];
    const std::size_t base = m_.offset_[static_cast<std::size_t>(j)];
    if (level + 1 == half.Stages.size()) {
        // (A half of one stage.)
        const std::size_t at = base + static_cast<std::size_t>(remaining);
        for (int o = 0; o < kOrderings; ++o)
            if (m_.tallied_[o]) half.Value[o][filled_] = static_cast<double>(value[o] + m_.term_[o][at]);
        half.Weight[filled_++] = static_cast<double>(weight * m_.binomial_[at]);
        return;
    }
    const int from = std::max(0, remaining - half.Room[level + 1]);
    const int to = std::min(c, remaining);
    if (level + 2 < half.Stages.size()) {
        for (int x = from; x <= to; ++x) {
            const std::size_t at = base + static_cast<std::size_t>(x);
            long double v[kOrderings];
            for (int o = 0; o < kOrderings; ++o) v[o] = m_.tallied_[o] ? value[o] + m_.term_[o][at] : 0.0L;
            FormFrom(half, level + 1, remaining - x, v, weight * m_.binomial_[at]);
        }
        return;
    }
    // The last two stages: the last takes what remains.
    if (filled_ + static_cast<std::size_t>(to - from + 1) > half.Size) throw GiveUp{};
    const int last = half.Stages[level + 1];
    const std::size_t lastBase = m_.offset_[static_cast<std::size_t>(last)];
    for (int o = 0; o < kOrderings; ++o) {
        if (!m_.tallied_[o]) continue;
        const long double* here = m_.term_[o].data() + base;
        const long double* there = m_.term_[o].data() + lastBase;
        double* out = half.Value[o].data() + filled_;
        for (int x = from; x <= to; ++x) out[x - from] = static_cast<double>(value[o] + here[x] + there[remaining - x]);
    }
    const long double* here = m_.binomial_.data() + base;
    const long double* there = m_.binomial_.data() + lastBase;
    double* weights = half.Weight.data() + filled_;
    for (int x = from; x <= to; ++x) weights[x - from] = static_cast<double>(weight * here[x] * there[remaining - x]);
    filled_ += static_cast<std::size_t>(to - from + 1);
}

int Meeting::Classify(int o, long double v) const {
    return ClassWithinMargin(v, low_[o], high_[o], margin_[o], lowClass_[o]);
}

void Worker::Sort(Half& half, int o) {
    const std::size_t n = half.Size;
    half.Sorted.resize(n);
    const std::vector<double>& value = half.Value[o];
    for (std::size_t i = 0; i < n; ++i)
        half.Sorted[i] = KeyedPlace{TallyBand::OrderKey(value[i]), static_cast<std::uint32_t>(i)};
    SortByKey(half.Sorted, scratch_);
    half.SortedWeight.resize(n);
    for (std::size_t i = 0; i < n; ++i) half.SortedWeight[i] = half.Weight[half.Sorted[i].Place];
}

// Settles every pair of the current total's lists in ordering O.
void Worker::Meet(int o, Tallies& local) {
    Half& first = halves_[0];
    Half& rest = halves_[1];
    const std::size_t na = first.Size;
    const std::size_t nb = rest.Size;
    if (na == 0 || nb == 0) return;
    // Every pair in one class: counted and weighed at once.
    const int least = m_.Classify(o, static_cast<long double>(first.Least[o]) + rest.Least[o]);
    if (least >= 0 && m_.Classify(o, static_cast<long double>(first.Most[o]) + rest.Most[o]) == least) {
        local.Count[o][least] += static_cast<WideCount>(na) * nb;
        local.Mass[o][least] += first.WeightSum * rest.WeightSum;
        return;
    }
    Sort(first, o);
    Sort(rest, o);
    const KeyedPlace* a = first.Sorted.data();
    const KeyedPlace* b = rest.Sorted.data();
    prefix_.resize(nb + 1);
    prefix_[0] = 0.0L;
    for (std::size_t i = 0; i < nb; ++i) prefix_[i + 1] = prefix_[i] + rest.SortedWeight[i];
    // For each partial table of the first half, in increasing value v, the
    // other's list falls at four cuts: below low - margin (the low class),
    // up to low + margin (open), below high - margin (equal), up to
    // high + margin (open), the rest greater. Each cut only moves down.
    // (The edges and the cuts are rounded to double: the margins allow for
    // it.)
    const long double margin = m_.margin_[o];
    const double edge[4] = {static_cast<double>(m_.low_[o] - margin), static_cast<double>(m_.low_[o] + margin),
                            static_cast<double>(m_.high_[o] - margin), static_cast<double>(m_.high_[o] + margin)};
    std::size_t cut[4] = {nb, nb, nb, nb};
    WideCount count[3] = {};
    long double mass[3] = {};
    for (std::size_t i = 0; i < na; ++i) {
        const double v = TallyBand::FromOrderKey(a[i].Key);
        // (Compared by their order keys, as the doubles compare but for
        // -0, which sorts below +0: a value equal to a cut may then fall on
        // its other side, which the margins, twice the error, allow.)
        const std::uint64_t below0 = TallyBand::OrderKey(edge[0] - v), upTo1 = TallyBand::OrderKey(edge[1] - v),
                            below2 = TallyBand::OrderKey(edge[2] - v), upTo3 = TallyBand::OrderKey(edge[3] - v);
        while (cut[0] > 0 && b[cut[0] - 1].Key >= below0) --cut[0];
        while (cut[1] > 0 && b[cut[1] - 1].Key > upTo1) --cut[1];
        while (cut[2] > 0 && b[cut[2] - 1].Key >= below2) --cut[2];
        while (cut[3] > 0 && b[cut[3] - 1].Key > upTo3) --cut[3];
        const std::size_t i1 = cut[0], i2 = cut[1], i3 = std::max(cut[1], cut[2]), i4 = cut[3];
        const long double w = first.SortedWeight[i];
        count[m_.lowClass_[o]] += i1;
        count[1] += i3 - i2;
        count[2] += nb - i4;
        mass[m_.lowClass_[o]] += w * prefix_[i1];
        mass[1] += w * (prefix_[i3] - prefix_[i2]);
        mass[2] += w * (prefix_[nb] - prefix_[i4]);
        for (std::size_t l = i1; l < i2; ++l) EvaluatePair(o, a[i].Place, b[l].Place, local);
        for (std::size_t l = i3; l < i4; ++l) EvaluatePair(o, a[i].Place, b[l].Place, local);
        if ((i & 0x3FFFF) == 0x3FFFF) Checkpoint();
    }
    for (int c = 0; c < 3; ++c) {
        local.Count[o][c] += count[c];
        local.Mass[o][c] += mass[c];
    }
}

void Worker::Place(const Half& half, std::uint32_t place) {
    const auto width = static_cast<std::size_t>(half.Room[0]) + 1;
    std::uint64_t left = place;
    int remaining = half.Total;
    for (std::size_t l = 0; l < half.Stages.size(); ++l) {
        const int j = half.Stages[l];
        const int c = m_.lines_.Total[static_cast<std::size_t>(j)];
        // The counts come in increasing order at each stage, each followed
        // by all completions of what remains.
        int x = std::max(0, remaining - half.Room[l + 1]);
        for (;; ++x) {
            const std::uint64_t after = half.Completions[(l + 1) * width + static_cast<std::size_t>(remaining - x)];
            if (left < after || x == std::min(c, remaining)) break;
            left -= after;
        }
        remaining -= x;
        if (m_.lines_.Transposed) {
            table_.At(j + 1, 1) = static_cast<std::int16_t>(x);
            table_.At(j + 1, 2) = static_cast<std::int16_t>(c - x);
        } else {
            table_.At(1, j + 1) = static_cast<std::int16_t>(x);
            table_.At(2, j + 1) = static_cast<std::int16_t>(c - x);
        }
    }
}

// A pair within rounding of an edge: its table evaluated and classed as the
// enumeration does.
void Worker::EvaluatePair(int o, std::uint32_t first, std::uint32_t rest, Tallies& local) {
    // Past the limit (shared by the threads), nothing is left.
    if (m_.directLeft_.fetch_sub(1, std::memory_order_relaxed) == 0) {
        m_.directLeft_.store(0, std::memory_order_relaxed);
        throw GiveUp{};
    }
    Place(halves_[0], first);
    Place(halves_[1], rest);
    double p = 0.0, g = 0.0, x = 0.0;
    if (!EvaluateTable(table_, m_.state_, m_.terms_, p, g, x)) throw GiveUp{};
    const double value[kOrderings] = {p, g, x};
    const int c = TallyClass(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, value[o], m_.observed_[o]);
    ++local.Count[o][c];
    local.Mass[o][c] += static_cast<long double>(p) * m_.normaliser_;
}

void Worker::Checkpoint() {
    if (main_) {
        m_.Progress();
    } else if (m_.stop_.load(std::memory_order_relaxed)) {
        throw Stopped{};
    }
}

void Worker::SettleTotals() {
    for (;;) {
        if (m_.stop_.load(std::memory_order_relaxed)) return;
        const std::size_t k = m_.next_.fetch_add(1, std::memory_order_relaxed);
        if (k >= m_.totals_.size()) return;
        const int s = m_.totals_[k];
        const int t = m_.lines_.First - s;
        Form(halves_[0], s, static_cast<std::size_t>(m_.byTotal_[0][static_cast<std::size_t>(s)]));
        Form(halves_[1], t, static_cast<std::size_t>(m_.byTotal_[1][static_cast<std::size_t>(t)]));
        Tallies local;
        for (int o = 0; o < kOrderings; ++o)
            if (m_.tallied_[o]) Meet(o, local);
        m_.settled_[k] = local;
        m_.done_[k].store(true, std::memory_order_release);
        Checkpoint();
    }
}

WideCount Meeting::Settled() const {
    WideCount points = 0;
    for (std::size_t k = 0; k < totals_.size(); ++k)
        if (done_[k].load(std::memory_order_acquire)) points += points_[k];
    return points;
}

void Meeting::Progress() {
    if (ShowSettledProgress(state_, ports_, Settled(), total_)) throw BrokenOff{};
}

NetworkOutcome Meeting::Run() {
    if (!Prepare()) return NetworkOutcome::NeedsEnumeration;
    for (int h = 0; h < 2; ++h) byTotal_[h] = PartialTablesByTotal(lines_, halves_[h].Stages);
    const int most = std::min(halves_[0].Room[0], lines_.First);
    for (int s = std::max(0, lines_.First - halves_[1].Room[0]); s <= most; ++s) totals_.push_back(s);
    const auto work = [this](int s) {
        return byTotal_[0][static_cast<std::size_t>(s)] + byTotal_[1][static_cast<std::size_t>(lines_.First - s)];
    };
    std::stable_sort(totals_.begin(), totals_.end(), [&work](int a, int b) { return work(a) > work(b); });
    total_ = 0;
    for (int s : totals_) {
        points_.push_back(static_cast<WideCount>(byTotal_[0][static_cast<std::size_t>(s)]) *
                          static_cast<WideCount>(byTotal_[1][static_cast<std::size_t>(lines_.First - s)]));
        total_ += points_.back();
    }
    settled_.assign(totals_.size(), Tallies{});
    done_ = std::make_unique<std::atomic<bool>[]>(totals_.size());

    // The other thread's outcome: settled its share, or gave up.
    std::atomic<bool> helperGaveUp{false};
    std::atomic<bool> helperEnded{false};
    // However this thread leaves, the other is stopped and joined first.
    struct Joined {
        std::atomic<bool>& Stop;
        std::thread Thread;
        ~Joined() { Join(); }
        void Join() {
            Stop.store(true, std::memory_order_relaxed);
            if (Thread.joinable()) Thread.join();
        }
    } helper{stop_, {}};
    NetworkOutcome outcome = NetworkOutcome::Completed;
    try {
        if (limits_.Threads > 1 && totals_.size() > 1) {
            helper.Thread = std::thread([this, &helperGaveUp, &helperEnded] {
                try {
                    Worker(*this, false).SettleTotals();
                } catch (const Stopped&) {
                } catch (...) {
                    // (A direct evaluation's limit, or memory: this thread
                    // stops too.)
                    helperGaveUp.store(true, std::memory_order_relaxed);
                    stop_.store(true, std::memory_order_relaxed);
                }
                helperEnded.store(true, std::memory_order_release);
            });
        }
        Worker(*this, true).SettleTotals();
        // The other thread's last totals, the progress shown meanwhile.
        while (helper.Thread.joinable() && !helperEnded.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Progress();
        }
        helper.Join();
        if (helperGaveUp.load()) outcome = NetworkOutcome::NeedsEnumeration;
    } catch (const BrokenOff&) {
        helper.Join();
        outcome = NetworkOutcome::BrokenOff;
    } catch (const GiveUp&) {
        outcome = NetworkOutcome::NeedsEnumeration;
    } catch (const std::bad_alloc&) {
        outcome = NetworkOutcome::NeedsEnumeration;
    }
    if (outcome == NetworkOutcome::NeedsEnumeration) return outcome;
    // The totals settled, summed in one order whichever thread settled them.
    Tallies sum;
    WideCount points = 0;
    for (std::size_t k = 0; k < totals_.size(); ++k) {
        if (!done_[k].load(std::memory_order_acquire)) continue;
        sum.Add(settled_[k]);
        points += points_[k];
    }
    WriteSettledTallies(state_, tallied_, sum.Count, sum.Mass, normaliser_, points);
    return outcome;
}

}  // namespace

namespace {

int TalliedOrderings(const AnalysisState& state) {
    return 1 + (state.Options.ExaLRtest ? 1 : 0) + (state.Options.ExaCStest ? 1 : 0);
}

// The work of meeting the table's halves, or nothing where the meeting
// does not apply.
std::optional<Work> MeetingWork(const AnalysisState& state, const TwoLineMeetingLimits& limits) {
    const ContingencyTable& t = state.Table;
    if (!HasTwoLines(t)) return std::nullopt;
    if (state.ExpectedPointsExact && state.ExpectedSamplePoints < limits.MinSamplePoints) return std::nullopt;
    const Lines lines = LinesOf(t);
    std::vector<int> halves[2];
    SplitStages(lines, halves[0], halves[1]);
    // The counts by total (as doubles) are exact.
    for (const std::vector<int>& half : halves) {
        double box = 1.0;
        for (int j : half) box *= lines.Total[static_cast<std::size_t>(j)] + 1.0;
        if (!(box < 0x1p53)) return std::nullopt;
    }
    const std::vector<double> byTotal[2] = {PartialTablesByTotal(lines, halves[0]), PartialTablesByTotal(lines, halves[1])};
    Work work = WorkOf(lines, byTotal);
    if (!(work.Formed <= limits.MaxFormed) || !(std::max(work.Longest[0], work.Longest[1]) < 0x1p32)) return std::nullopt;
    // Each thread holds its lists.
    const double bytes = ListBytes(work.Longest, TalliedOrderings(state));
    if (bytes > static_cast<double>(limits.MaxBytes)) return std::nullopt;
    for (work.Threads = std::clamp(limits.Threads, 1u, 2u); work.Threads > 1; --work.Threads)
        if (bytes * work.Threads <= static_cast<double>(limits.MaxBytes)) break;
    return work;
}

}  // namespace

bool TwoLineMeetingApplies(const AnalysisState& state, const TwoLineMeetingLimits& limits) {
    return MeetingWork(state, limits).has_value();
}

double TwoLineMeetingSeconds(const AnalysisState& state, const TwoLineMeetingLimits& limits) {
    const std::optional<Work> work = MeetingWork(state, limits);
    if (!work) return 0.0;
    return std::max(0.25, work->Formed * TalliedOrderings(state) * 25e-9 / work->Threads);
}

NetworkOutcome RunTwoLineMeeting(AnalysisState& state, const EnginePorts& ports, const TwoLineMeetingLimits& limits) {
    const std::optional<Work> work = MeetingWork(state, limits);
    if (!work) return NetworkOutcome::NeedsEnumeration;
    TwoLineMeetingLimits fitting = limits;
    fitting.Threads = work->Threads;
    return Meeting(state, ports, fitting).Run();
}

}  // namespace kelvorin
