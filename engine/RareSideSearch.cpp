#include "RareSideSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "BoundedVectors.h"
#include "ExactEnumeration.h"
#include "GammaFunctions.h"
#include "SamplePointCounter.h"

namespace kelvorin {

namespace {

enum Ordering { kProbability, kLikelihoodRatio, kPearson, kOrderings };
enum class Side { NearMode, FarTail };
// The class that holds nearly every table: near the mode less probable,
// greater statistics; far in the tail more probable, smaller statistics.
constexpr int kDominant[2][kOrderings] = {{0, 2, 2}, {2, 0, 0}};

class GiveUp {};
class BrokenOff {};

// The count beforehand as the progress shows it (0 where unknown or past
// 64 bits).
std::uint64_t ShownCount(const AnalysisState& state) {
    return state.ExpectedSamplePoints < 0x1p64 ? static_cast<std::uint64_t>(state.ExpectedSamplePoints) : 0;
}

// Sums of cell terms.
struct Parts {
    double Chi = 0.0;  // sum of (n - e)^2 / e
    double Lr = 0.0;   // sum of n ln(n / e)
    double LnFactorials = 0.0;
};

Parts Least(const Parts& a, const Parts& b) {
    return {std::min(a.Chi, b.Chi), std::min(a.Lr, b.Lr), std::min(a.LnFactorials, b.LnFactorials)};
}

Parts Sum(const Parts& a, const Parts& b) { return {a.Chi + b.Chi, a.Lr + b.Lr, a.LnFactorials + b.LnFactorials}; }

class Search {
public:
    // shown: the count in the progress text ("0 of shown"; 0 where unknown).
    Search(AnalysisState& state, const EnginePorts& ports, Side side, std::uint64_t maxSteps, std::uint64_t shown)
        : state_(state), ports_(ports), side_(side), dominant_(kDominant[static_cast<int>(side)]),
          maxSteps_(maxSteps), showing_(SettledProgressText(0, shown)), table_(state.Table) {}

    // Lists the rare side: Completed, or NeedsEnumeration where the search
    // gives up (the state untouched), or BrokenOff (tallies cleared).
    NetworkOutcome Walk();
    // Fills the tallies, the dominant classes from the total.
    void Finish(std::uint64_t total);

private:
    void SetUp();
    // Fills stage s (s columns already filled) with every column vector,
    // line by line from line k with left still to place; column carries the
    // column's parts so far.
    void Place(int s, int k, std::int32_t left, Parts column);
    // Stage s's column complete (its parts in column): the partial table
    // is dropped, or taken on to the next stage, or complete.
    void Completed(int s, const Parts& column);
    // Whether every completion of the partial table with `filled` columns
    // (its parts in parts_[filled]) is certainly in the dominant class of
    // every tallied ordering.
    bool Dropped(int filled) const;
    // The same within stage s: its lines up to k filled (their parts in
    // column), left still to place in the lines after k.
    bool DroppedWithin(int s, int k, std::int32_t left, const Parts& column) const;
    // Far in the tail: whether sums of cell terms of at most `known` plus
    // `bound` over the open cells are all dominant.
    bool AllMoreProbableAndSmaller(const Parts& known, const Parts& bound) const;
    // The bounds' tables and the edges of each side.
    void SetUpNearMode();
    void SetUpFarTail();
    double LeastRestLnFactorials(int filled) const;
    // The bound's part of line k with m left after `filled` columns, and
    // the part of the unfilled columns, tabled once, near the mode only (see
    // SetUpNearMode).
    double LeastLinePart(int filled, std::int32_t m) const;
    // The bound's terms (see LeastLinePart) of an open cell, m = m_i > 0
    // left in its line, ln m, c = c_j in its column, and of an open column,
    // of M = rest in all (ln M = lnRest).
    double LeastCellPart(std::int64_t m, double lnM, std::int64_t c, std::int64_t rest, double lnRest) const {
        const std::int64_t n = m * c / rest;
        const double lambda = lnM + lnInteger_[static_cast<std::size_t>(c)] - lnRest;
        return lnFactorial_[static_cast<std::size_t>(n)] - static_cast<double>(n) * lambda;
    }
    double LeastColumnPart(std::int64_t c, double lnRest) const {
        return static_cast<double>(c) * (lnInteger_[static_cast<std::size_t>(c)] - lnRest);
    }
    void Leaf();
    // Counts steps of work (a partial table formed or a partial column
    // tested is one; a complete table evaluated directly, about twenty
    // times the time, is 32);
    // every 16,384 shows progress and lets the user break off.
    void Tick(std::uint64_t steps = 1);

    AnalysisState& state_;
    const EnginePorts& ports_;
    Side side_;
    const int* dominant_;
    std::uint64_t maxSteps_;
    std::string showing_;
    ContingencyTable table_;  // the complete tables reached, for their direct evaluation
    StatisticTerms terms_;

    bool tallied_[kOrderings] = {true, false, false};
    int lines_ = 0, stages_ = 0;
    bool transposed_ = false;  // lines are the columns
    std::vector<int> lineCell_, stageCell_;
    std::vector<std::int32_t> lineTotal_, stageTotal_, restTotal_;  // restTotal_[s]: stages s.. together
    std::int32_t grand_ = 0;
    // The statistics' cell terms, (n - e)^2 / e and n ln(n / e): of count n
    // of line k in stage s at (k * S + s) * (most + 1) + n; and of the
    // bounds' merged cells, m left in line k over stages s.. (the expected
    // count E), at (s * K + k) * (most + 1) + m, for s < S.
    struct Terms {
        double Chi = 0.0, Lr = 0.0;
    };
    std::vector<Terms> cellTerms_, restTerms_;
    std::vector<double> lnFactorial_, lnInteger_;
    double lnConstant_ = 0.0;  // ln(prod R! prod C! / N!)
    // LeastLinePart at filled * (most + 1) + m, most the largest line
    // total (most_); the columns' part by filled.
    std::vector<double> leastLine_, leastColumns_;
    std::int32_t most_ = 0;
    // The edges past which a value is certainly in the dominant class, and
    // the margin of the statistics' rounding in them.
    double chiEdge_ = 0.0, lrEdge_ = 0.0, lnProbabilityEdge_ = 0.0;
    double scale_ = 0.0;
    // Far in the tail, the greatest sums of cell terms (Parts): over line k's
    // cells in stages s.. holding m of it, at (s * K + k) * (most + 1) + m
    // (s up to S); over stage s's cells in lines k.. holding c of it, at
    // (s * (K + 1) + k) * (largest stage total + 1) + c; and over whole
    // stages s.., at s.
    std::vector<Parts> lineMost_, stageMost_, stagesMost_;
    std::size_t stageWidth_ = 0;

    std::vector<std::int32_t> remaining_, chosen_;  // chosen_ at k * S + s
    std::vector<Parts> parts_;                      // of the filled columns, by their number
    std::uint64_t steps_ = 0;
    std::uint64_t counts_[kOrderings][3] = {};
    double masses_[kOrderings][3] = {};
};

void Search::SetUp() {
    const ContingencyTable& t = state_.Table;
    transposed_ = t.Cols < t.Rows;
    lines_ = transposed_ ? t.Cols : t.Rows;
    stages_ = transposed_ ? t.Rows : t.Cols;
    grand_ = t.GrandTotal();
    ColumnsByTotal(t, !transposed_, lineTotal_, lineCell_);
    // The fewest column vectors where the bounds are loosest.
    ColumnsByTotal(t, transposed_, stageTotal_, stageCell_);
    const auto S = static_cast<std::size_t>(stages_);
    restTotal_.assign(S + 1, 0);
    for (std::size_t s = S; s-- > 0;) restTotal_[s] = restTotal_[s + 1] + stageTotal_[s];
    const auto K = static_cast<std::size_t>(lines_);
    // e of line k in stage s (and ln e) at k * S + s; E of line k, the sum
    // of its expected counts in stages s.., and ln E, at s * K + k: only
    // the terms made of them are kept (below).
    std::vector<double> expected(K * S), lnExpected(K * S);
    std::vector<double> restExpected((S + 1) * K), lnRestExpected((S + 1) * K);
    for (std::size_t k = 0; k < K; ++k) {
        for (std::size_t s = 0; s < S; ++s) {
            expected[k * S + s] = static_cast<double>(lineTotal_[k]) * stageTotal_[s] / grand_;
            lnExpected[k * S + s] = std::log(expected[k * S + s]);
        }
        for (std::size_t s = 0; s <= S; ++s) {
            restExpected[s * K + k] = static_cast<double>(lineTotal_[k]) * restTotal_[s] / grand_;
            lnRestExpected[s * K + k] = s < S ? std::log(restExpected[s * K + k]) : 0.0;
        }
    }
    lnFactorial_.resize(static_cast<std::size_t>(grand_) + 1);
    lnInteger_.resize(static_cast<std::size_t>(grand_) + 1);
    for (std::int32_t n = 0; n <= grand_; ++n) {
        lnFactorial_[static_cast<std::size_t>(n)] = std::lgamma(n + 1.0);
        lnInteger_[static_cast<std::size_t>(n)] = n > 0 ? std::log(static_cast<double>(n)) : 0.0;
    }
    lnConstant_ = -lnFactorial_[static_cast<std::size_t>(grand_)];
    for (std::int32_t r : lineTotal_) lnConstant_ += lnFactorial_[static_cast<std::size_t>(r)];
    for (std::int32_t c : stageTotal_) lnConstant_ += lnFactorial_[static_cast<std::size_t>(c)];

    most_ = *std::max_element(lineTotal_.begin(), lineTotal_.end());
    const auto width = static_cast<std::size_t>(most_) + 1;
    auto terms = [&](std::int32_t n, double e, double lnE) {
        return Terms{(n - e) * (n - e) / e,
                     n > 0 ? n * (lnInteger_[static_cast<std::size_t>(n)] - lnE) : 0.0};
    };
    cellTerms_.resize(K * S * width);
    if (side_ == Side::NearMode) restTerms_.resize(S * K * width);
    for (std::size_t k = 0; k < K; ++k)
        for (std::size_t s = 0; s < S; ++s)
            for (std::int32_t n = 0; n <= most_; ++n) {
                const auto un = static_cast<std::size_t>(n);
                cellTerms_[(k * S + s) * width + un] = terms(n, expected[k * S + s], lnExpected[k * S + s]);
                if (side_ == Side::NearMode)
                    restTerms_[(s * K + k) * width + un] =
                        terms(n, restExpected[s * K + k], lnRestExpected[s * K + k]);
            }
    // Greater than b under the tally rule needs a relative difference of at
    // least 1e-9; less probable than p needs 1e-10. The bounds are sums of
    // at most a few hundred terms in double precision, the direct
    // evaluation's rounding of the same order: a further margin of 1e-9 of
    // the statistics' scale (N and the larger statistic) and of 1e-8 in the
    // logarithm of the probability is far beyond both.
    scale_ = 1e-9 * (grand_ + std::max(state_.G2, state_.X2));
    if (side_ == Side::NearMode) {
        SetUpNearMode();
    } else {
        SetUpFarTail();
    }

    remaining_ = lineTotal_;
    chosen_.assign(static_cast<std::size_t>(lines_) * S, 0);
    parts_.assign(S + 1, Parts{});
}

void Search::SetUpNearMode() {
    const auto S = static_cast<std::size_t>(stages_);
    const auto width = static_cast<std::size_t>(most_) + 1;
    // The bound of the least sum of ln n! over the unfilled cells splits
    // into a part of the columns and one of each line, which depends only
    // on the line's remaining total: both tabled for every number of
    // filled columns.
    leastLine_.assign(S * width, 0.0);
    leastColumns_.assign(S, 0.0);
    for (std::size_t filled = 0; filled < S; ++filled)
        for (std::int32_t m = 0; m <= most_; ++m)
            leastLine_[filled * width + static_cast<std::size_t>(m)] = LeastLinePart(static_cast<int>(filled), m);
    for (std::size_t filled = 0; filled < S; ++filled) {
        const double lnRest = lnInteger_[static_cast<std::size_t>(restTotal_[filled])];
        for (std::size_t s = filled; s < S; ++s) leastColumns_[filled] += LeastColumnPart(stageTotal_[s], lnRest);
    }

    // Greater than b needs a relative difference of 1e-9, which any
    // a >= b (1 + 3e-9) has; less probable than p needs 1e-10, which any
    // a <= p (1 - 1e-8) has.
    chiEdge_ = state_.X2 * (1.0 + 3e-9) + scale_;
    lrEdge_ = state_.G2 * (1.0 + 3e-9) + scale_;
    lnProbabilityEdge_ = std::log(state_.ObservedProbability) - 2e-8;
}

// Line k's part, with m = m_k left of M over columns of totals C_j:
//   m ln m + sum_j min_n [ln n! - n ln(m C_j / M)],
// the minimum at n = floor(m C_j / M).
double Search::LeastLinePart(int filled, std::int32_t m) const {
    if (m == 0) return 0.0;
    const auto S = static_cast<std::size_t>(stages_);
    const std::int64_t rest = restTotal_[static_cast<std::size_t>(filled)];
    const double lnRest = lnInteger_[static_cast<std::size_t>(rest)];
    const double lnM = lnInteger_[static_cast<std::size_t>(m)];
    double least = static_cast<double>(m) * lnM;
    for (std::size_t s = static_cast<std::size_t>(filled); s < S; ++s)
        least += LeastCellPart(m, lnM, stageTotal_[s], rest, lnRest);
    return least;
}

double Search::LeastRestLnFactorials(int filled) const {
    const auto width = static_cast<std::size_t>(most_) + 1;
    const double* const line = leastLine_.data() + static_cast<std::size_t>(filled) * width;
    double least = leastColumns_[static_cast<std::size_t>(filled)];
    for (const std::int32_t m : remaining_) least += line[m];
    return least;
}

// Each sum is convex in every cell's count, so its greatest value under
// either relaxation (see the header) is attained, and found exactly, by
// dynamic programming over the counts a cell at a time (each of the three
// sums maximised for itself). A line's table holds the counts it can reach
// (at most its total, and what the stages can take): a line or stage never
// holds more in a partial table that has completions.
void Search::SetUpFarTail() {
    // Less than b needs a relative difference of 1e-9, which any
    // a <= b (1 - 3e-9) has; more probable than p (which may have rounded
    // to 0 or below the normal range: any table of a normal probability is
    // then more probable, or one clearly greater) 1e-10, which any
    // a >= p (1 + 1e-8) has.
    chiEdge_ = state_.X2 * (1.0 - 3e-9) - scale_;
    lrEdge_ = state_.G2 * (1.0 - 3e-9) - scale_;
    lnProbabilityEdge_ = std::log(std::max(state_.ObservedProbability, std::numeric_limits<double>::min())) + 2e-8;

    const auto K = static_cast<std::size_t>(lines_);
    const auto S = static_cast<std::size_t>(stages_);
    const auto width = static_cast<std::size_t>(most_) + 1;
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    const Parts none{kNone, kNone, kNone};
    auto cell = [&](std::size_t k, std::size_t s, std::int32_t n) {
        const Terms& t = cellTerms_[(k * S + s) * width + static_cast<std::size_t>(n)];
        return Parts{t.Chi, t.Lr, lnFactorial_[static_cast<std::size_t>(n)]};
    };
    auto raise = [](Parts& best, const Parts& a, const Parts& b) {
        best.Chi = std::max(best.Chi, a.Chi + b.Chi);
        best.Lr = std::max(best.Lr, a.Lr + b.Lr);
        best.LnFactorials = std::max(best.LnFactorials, a.LnFactorials + b.LnFactorials);
    };
    lineMost_.assign((S + 1) * K * width, none);
    for (std::size_t k = 0; k < K; ++k) {
        lineMost_[(S * K + k) * width] = Parts{};
        std::int32_t after = 0;  // what the stages after s can take of the line
        for (std::size_t s = S; s-- > 0;) {
            const std::int32_t here = std::min(stageTotal_[s], lineTotal_[k]);
            const std::int32_t reach = std::min(lineTotal_[k], after + here);
            const Parts* const next = lineMost_.data() + ((s + 1) * K + k) * width;
            for (std::int32_t m = 0; m <= reach; ++m) {
                Parts best = none;
                for (std::int32_t n = std::max(0, m - after); n <= std::min(m, here); ++n)
                    raise(best, cell(k, s, n), next[m - n]);
                lineMost_[(s * K + k) * width + static_cast<std::size_t>(m)] = best;
            }
            after = reach;
        }
    }
    stageWidth_ = static_cast<std::size_t>(*std::max_element(stageTotal_.begin(), stageTotal_.end())) + 1;
    stageMost_.assign(S * (K + 1) * stageWidth_, none);
    stagesMost_.assign(S + 1, Parts{});
    for (std::size_t s = 0; s < S; ++s) {
        Parts* const stage = stageMost_.data() + s * (K + 1) * stageWidth_;
        stage[K * stageWidth_] = Parts{};
        std::int32_t after = 0;  // what the lines after k can take of the stage
        for (std::size_t k = K; k-- > 0;) {
            const std::int32_t here = std::min(stageTotal_[s], lineTotal_[k]);
            const std::int32_t reach = std::min(stageTotal_[s], after + here);
            for (std::int32_t c = 0; c <= reach; ++c) {
                Parts best = none;
                for (std::int32_t n = std::max(0, c - after); n <= std::min(c, here); ++n)
                    raise(best, cell(k, s, n), stage[(k + 1) * stageWidth_ + static_cast<std::size_t>(c - n)]);
                stage[k * stageWidth_ + static_cast<std::size_t>(c)] = best;
            }
            after = reach;
        }
    }
    for (std::size_t s = S; s-- > 0;)
        stagesMost_[s] = Sum(stagesMost_[s + 1],
                             stageMost_[s * (K + 1) * stageWidth_ + static_cast<std::size_t>(stageTotal_[s])]);
}

bool Search::AllMoreProbableAndSmaller(const Parts& known, const Parts& bound) const {
    if (tallied_[kPearson] && !(known.Chi + bound.Chi < chiEdge_)) return false;
    if (tallied_[kLikelihoodRatio] && !(2.0 * (known.Lr + bound.Lr) < lrEdge_)) return false;
    return lnConstant_ - known.LnFactorials - bound.LnFactorials > lnProbabilityEdge_;
}

bool Search::Dropped(int filled) const {
    const Parts& p = parts_[static_cast<std::size_t>(filled)];
    const auto width = static_cast<std::size_t>(most_) + 1;
    if (side_ == Side::FarTail) {
        const auto K = static_cast<std::size_t>(lines_);
        const Parts* const most = lineMost_.data() + static_cast<std::size_t>(filled) * K * width;
        Parts lines{};
        for (std::size_t k = 0; k < K; ++k)
            lines = Sum(lines, most[k * width + static_cast<std::size_t>(remaining_[k])]);
        return AllMoreProbableAndSmaller(p, Least(lines, stagesMost_[static_cast<std::size_t>(filled)]));
    }
    const Terms* const rest =
        restTerms_.data() + static_cast<std::size_t>(filled) * static_cast<std::size_t>(lines_) * width;
    if (tallied_[kPearson] || tallied_[kLikelihoodRatio]) {
        double chi = p.Chi, lr = p.Lr;
        for (std::size_t k = 0; k < static_cast<std::size_t>(lines_); ++k) {
            const Terms& t = rest[k * width + static_cast<std::size_t>(remaining_[k])];
            chi += t.Chi;
            lr += t.Lr;
        }
        if (tallied_[kPearson] && !(chi > chiEdge_)) return false;
        if (tallied_[kLikelihoodRatio] && !(2.0 * lr > lrEdge_)) return false;
    }
    const double lnProbability = lnConstant_ - p.LnFactorials - LeastRestLnFactorials(filled);
    return lnProbability < lnProbabilityEdge_;
}

// The bounds of Dropped over the cells still open, which are no longer a
// rectangle: line i's cells in the stages after s, and for the lines after
// k its cell in stage s too. Both statistics' bounds hold line by line for
// any set of cells (the line's open cells merged into one); the
// probability's weak duality holds for any cells whose line and stage sums
// are fixed, with the multipliers ln m_i and ln(c_j / M) as before (stage
// s's open part holding left).
bool Search::DroppedWithin(int s, int k, std::int32_t left, const Parts& column) const {
    const auto K = static_cast<std::size_t>(lines_);
    const auto S = static_cast<std::size_t>(stages_);
    const auto us = static_cast<std::size_t>(s);
    const Parts& p = parts_[us];
    if (side_ == Side::FarTail) {
        // Line i's open cells are in the stages after s, and for the lines
        // after k in stage s too (there at most left, relaxed to the
        // stage's total).
        const auto width = static_cast<std::size_t>(most_) + 1;
        Parts lines{};
        for (std::size_t i = 0; i < K; ++i) {
            const std::size_t at = i <= static_cast<std::size_t>(k) ? us + 1 : us;
            lines = Sum(lines, lineMost_[(at * K + i) * width + static_cast<std::size_t>(remaining_[i])]);
        }
        const Parts stages =
            Sum(stagesMost_[us + 1],
                stageMost_[(us * (K + 1) + static_cast<std::size_t>(k) + 1) * stageWidth_ + static_cast<std::size_t>(left)]);
        return AllMoreProbableAndSmaller(Sum(p, column), Least(lines, stages));
    }
    if (tallied_[kPearson] || tallied_[kLikelihoodRatio]) {
        const auto width = static_cast<std::size_t>(most_) + 1;
        double chi = p.Chi + column.Chi, lr = p.Lr + column.Lr;
        for (std::size_t i = 0; i < K; ++i) {
            const std::size_t at = (i <= static_cast<std::size_t>(k) ? us + 1 : us) * K + i;
            const Terms& t = restTerms_[at * width + static_cast<std::size_t>(remaining_[i])];
            chi += t.Chi;
            lr += t.Lr;
        }
        if (tallied_[kPearson] && !(chi > chiEdge_)) return false;
        if (tallied_[kLikelihoodRatio] && !(2.0 * lr > lrEdge_)) return false;
    }
    const std::int64_t rest = left + restTotal_[us + 1];
    const double lnRest = lnInteger_[static_cast<std::size_t>(rest)];
    // Stage s's open part, and the stages after it.
    double least = 0.0;
    if (left > 0) least += LeastColumnPart(left, lnRest);
    for (std::size_t j = us + 1; j < S; ++j) least += LeastColumnPart(stageTotal_[j], lnRest);
    for (std::size_t i = 0; i < K; ++i) {
        const std::int64_t m = remaining_[i];
        if (m == 0) continue;
        const double lnM = lnInteger_[static_cast<std::size_t>(m)];
        least += static_cast<double>(m) * lnM;
        if (i > static_cast<std::size_t>(k) && left > 0) least += LeastCellPart(m, lnM, left, rest, lnRest);
        for (std::size_t j = us + 1; j < S; ++j) least += LeastCellPart(m, lnM, stageTotal_[j], rest, lnRest);
    }
    const double lnProbability = lnConstant_ - p.LnFactorials - column.LnFactorials - least;
    return lnProbability < lnProbabilityEdge_;
}

void Search::Tick(std::uint64_t steps) {
    const std::uint64_t before = steps_;
    steps_ += steps;
    if (steps_ > maxSteps_) throw GiveUp{};
    if ((before >> 14) == (steps_ >> 14)) return;
    ports_.Status->SetText(showing_);
    ports_.Pump->ProcessPendingEvents();
    if (state_.Abandoned) throw BrokenOff{};
}

void Search::Completed(int s, const Parts& column) {
    const auto us = static_cast<std::size_t>(s);
    Tick();
    const Parts& before = parts_[us];
    parts_[us + 1] = {before.Chi + column.Chi, before.Lr + column.Lr, before.LnFactorials + column.LnFactorials};
    if (Dropped(s + 1)) return;
    if (s + 2 == stages_) {
        Leaf();
    } else {
        Place(s + 1, 0, stageTotal_[us + 1], Parts{});
    }
}

void Search::Place(int s, int k, std::int32_t left, Parts column) {
    const auto S = static_cast<std::size_t>(stages_);
    const auto us = static_cast<std::size_t>(s);
    const auto uk = static_cast<std::size_t>(k);
    const auto width = static_cast<std::size_t>(most_) + 1;
    std::int32_t after = 0;  // what the lines after k can take
    for (std::size_t j = uk + 1; j < static_cast<std::size_t>(lines_); ++j) after += remaining_[j];
    const std::int32_t low = std::max<std::int32_t>(0, left - after);
    const std::int32_t high = std::min(remaining_[uk], left);
    const Terms* const cells = cellTerms_.data() + (uk * S + us) * width;
    // Before the last line, whose count is then forced: the column is
    // completed at once.
    const bool lastButOne = k + 2 == lines_;
    const std::size_t last = static_cast<std::size_t>(lines_) - 1;
    const Terms* const lastCells = cellTerms_.data() + (last * S + us) * width;
    for (std::int32_t n = low; n <= high; ++n) {
        Parts with = column;
        with.Chi += cells[n].Chi;
        with.Lr += cells[n].Lr;
        with.LnFactorials += lnFactorial_[static_cast<std::size_t>(n)];
        chosen_[uk * S + us] = n;
        remaining_[uk] -= n;
        if (lastButOne) {
            // (The lines after k could take what is left: it fits.)
            const std::int32_t m = left - n;
            with.Chi += lastCells[m].Chi;
            with.Lr += lastCells[m].Lr;
            with.LnFactorials += lnFactorial_[static_cast<std::size_t>(m)];
            chosen_[last * S + us] = m;
            remaining_[last] -= m;
            Completed(s, with);
            remaining_[last] += m;
        } else {
            // Within the stage, a partial column whose every completion is
            // dropped is not completed.
            Tick();
            if (!DroppedWithin(s, k, left - n, with)) Place(s, k + 1, left - n, with);
        }
        remaining_[uk] += n;
    }
}

// A complete table: evaluated and sorted as the enumeration does.
void Search::Leaf() {
    Tick(32);
    const auto S = static_cast<std::size_t>(stages_);
    for (std::size_t k = 0; k < static_cast<std::size_t>(lines_); ++k) {
        chosen_[k * S + S - 1] = remaining_[k];
        for (std::size_t s = 0; s < S; ++s) {
            const int line = lineCell_[k], stage = stageCell_[s];
            std::int16_t& cell = transposed_ ? table_.At(stage, line) : table_.At(line, stage);
            cell = static_cast<std::int16_t>(chosen_[k * S + s]);
        }
    }
    double p = 0.0, g = 0.0, x = 0.0;
    if (!EvaluateTable(table_, state_, terms_, p, g, x)) throw GiveUp{};
    const double value[kOrderings] = {p, g, x};
    const double observed[kOrderings] = {state_.ObservedProbability, state_.G2, state_.X2};
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o]) continue;
        const int which = TallyClass(o == kProbability ? TallyKind::Probability : TallyKind::Statistic, value[o], observed[o]);
        if (which == dominant_[o]) continue;
        ++counts_[o][which];
        masses_[o][which] += p;
    }
}

NetworkOutcome Search::Walk() {
    tallied_[kLikelihoodRatio] = state_.Options.ExaLRtest;
    tallied_[kPearson] = state_.Options.ExaCStest;
    terms_.Prepare(state_.Table, state_.ComputeLR, state_.ComputeChi);
    SetUp();
    try {
        Place(0, 0, stageTotal_[0], Parts{});
    } catch (const GiveUp&) {
        return NetworkOutcome::NeedsEnumeration;
    } catch (const BrokenOff&) {
        state_.ProbabilityTally = state_.G2Tally = state_.X2Tally = ExactTally{};
        state_.SamplePointCount = 0;
        return NetworkOutcome::BrokenOff;
    }
    return NetworkOutcome::Completed;
}

void Search::Finish(std::uint64_t total) {
    ExactTally* targets[kOrderings] = {&state_.ProbabilityTally, &state_.G2Tally, &state_.X2Tally};
    for (int o = 0; o < kOrderings; ++o) {
        if (!tallied_[o]) continue;
        std::uint64_t others = 0;
        long double otherMass = 0.0L;
        for (int which = 0; which < 3; ++which) {
            if (which == dominant_[o]) continue;
            others += counts_[o][which];
            otherMass += masses_[o][which];
        }
        counts_[o][dominant_[o]] = total - others;
        masses_[o][dominant_[o]] = static_cast<double>(1.0L - otherMass);
        ExactTally& t = *targets[o];
        t.LessCount = counts_[o][0];
        t.EqualCount = counts_[o][1];
        t.GreaterCount = counts_[o][2];
        t.LessMass = masses_[o][0];
        t.EqualMass = masses_[o][1];
        t.GreaterMass = masses_[o][2];
    }
    state_.SamplePointCount = total;
    state_.ExpectedSamplePoints = static_cast<double>(total);
    state_.ExpectedPointsExact = true;
}

}  // namespace

double TablesAtMost(const std::vector<int>& rows, const std::vector<int>& cols) {
    // Saturating at kMany: only a comparison with far fewer is wanted, and no
    // floating-point overflow is raised on the way.
    constexpr double kMany = 1e300;
    auto bound = [](const std::vector<int>& lines, const std::vector<int>& stages) {
        double product = 1.0, most = 0.0;
        for (const int total : stages) {
            std::vector<std::int32_t> lo(lines.size(), 0), hi(lines.size(), 0);
            for (std::size_t k = 0; k < lines.size(); ++k) hi[k] = std::min(lines[k], total);
            const BoundedCount c = CountBoundedVectors(lo, hi, total);
            const double choices = c.Overflowed ? kMany : static_cast<double>(c.Count);
            if (choices == 0.0) return 0.0;  // a column no vector fits: no table
            product = product >= kMany / choices ? kMany : product * choices;
            most = std::max(most, choices);
        }
        return product >= kMany || most == 0.0 ? product : product / most;
    };
    return std::min(bound(rows, cols), bound(cols, rows));
}

namespace {

void Margins(const AnalysisState& state, std::vector<int>& rows, std::vector<int>& cols) {
    const ContingencyTable& t = state.Table;
    for (int i = 1; i <= t.Rows; ++i) rows.push_back(t.RowTotal(i));
    for (int j = 1; j <= t.Cols; ++j) cols.push_back(t.ColTotal(j));
}

// The most points of the count's box: within the network's memory budget
// too, 8 bytes a point (where the system refuses the memory, the network
// takes the table).
std::size_t CountBoxLimit(const AnalysisState& state, std::size_t maxBox) {
    return std::min(maxBox, state.NetworkMemory / sizeof(std::uint64_t));
}

// The exact number of tables with the table's margins, by dominance sums
// over a box of at most maxBox points (see CountTwoWayTablesExactly). The
// count over a large box takes seconds: it shows progress as the network
// does while it is formed (nothing settled yet) and stops at a break-off,
// clearing the tallies (BrokenOff); NeedsEnumeration where the box is too
// large or the count past its range, else Completed with the total.
NetworkOutcome CountTotal(AnalysisState& state, const EnginePorts& ports, std::size_t maxBox, std::uint64_t& total) {
    std::vector<int> rows, cols;
    Margins(state, rows, cols);
    const std::string showing = SettledProgressText(0, ShownCount(state));
    const std::size_t maxPoints = CountBoxLimit(state, maxBox);
    std::optional<std::uint64_t> counted;
    try {
        counted = CountTwoWayTablesExactly(rows, cols, maxPoints, [&] {
            ports.Status->SetText(showing);
            ports.Pump->ProcessPendingEvents();
            return !state.Abandoned;
        });
    } catch (const std::bad_alloc&) {
        return NetworkOutcome::NeedsEnumeration;
    }
    if (state.Abandoned) {
        state.ProbabilityTally = state.G2Tally = state.X2Tally = ExactTally{};
        state.SamplePointCount = 0;
        return NetworkOutcome::BrokenOff;
    }
    if (!counted) return NetworkOutcome::NeedsEnumeration;
    total = *counted;
    return NetworkOutcome::Completed;
}

// Whether the table has at least least sample points, by the count
// beforehand where it is exact, else by a bound found at once (the count
// beforehand may have stopped short, or given up).
bool AtLeastPoints(const AnalysisState& state, double least) {
    if (state.ExpectedPointsExact) return state.ExpectedSamplePoints >= least;
    std::vector<int> rows, cols;
    Margins(state, rows, cols);
    return TablesAtMost(rows, cols) >= least;
}

}  // namespace

NetworkOutcome RunNearModeSearch(AnalysisState& state, const EnginePorts& ports, const NearModeLimits& limits) {
    const ContingencyTable& t = state.Table;
    // A table equal to its expected counts has both statistics exactly 0
    // (every cell term is): it is the mode, every other table is greater in
    // both (by at least 1 / N) and is dropped as such; only the tables near
    // it in probability are evaluated.
    if (!(state.G2 >= 0.0 && state.X2 >= 0.0 && state.ObservedProbability > 0.0)) return NetworkOutcome::NeedsEnumeration;
    const int df = (t.Rows - 1) * (t.Cols - 1);
    const double rareMass = std::max(ChiSquareCdf(state.X2, df), ChiSquareCdf(state.G2, df));
    if (!(rareMass / state.ObservedProbability <= limits.MaxRareEstimate)) return NetworkOutcome::NeedsEnumeration;
    if (!AtLeastPoints(state, limits.MinSamplePoints)) return NetworkOutcome::NeedsEnumeration;
    std::uint64_t total = 0;
    const NetworkOutcome counted = CountTotal(state, ports, limits.MaxBoxPoints, total);
    if (counted != NetworkOutcome::Completed) return counted;
    if (static_cast<double>(total) < limits.MinSamplePoints) return NetworkOutcome::NeedsEnumeration;
    Search search(state, ports, Side::NearMode, limits.MaxSteps, total);
    const NetworkOutcome outcome = search.Walk();
    if (outcome == NetworkOutcome::Completed) search.Finish(total);
    return outcome;
}

NetworkOutcome RunFarTailSearch(AnalysisState& state, const EnginePorts& ports, const FarTailLimits& limits) {
    const ContingencyTable& t = state.Table;
    // (The observed probability may have rounded to 0.)
    if (!(state.G2 >= 0.0 && state.X2 >= 0.0 && state.ObservedProbability >= 0.0)) return NetworkOutcome::NeedsEnumeration;
    const int df = (t.Rows - 1) * (t.Cols - 1);
    const double tail = std::max(1.0 - ChiSquareCdf(state.X2, df), 1.0 - ChiSquareCdf(state.G2, df));
    if (!(tail <= limits.MaxTailP)) return NetworkOutcome::NeedsEnumeration;
    const double grand = t.GrandTotal();
    if (!(grand * grand <= limits.MaxBoundWork)) return NetworkOutcome::NeedsEnumeration;
    std::vector<int> rows, cols;
    Margins(state, rows, cols);
    if (TwoWayCountBoxPoints(rows, cols) > CountBoxLimit(state, limits.MaxBoxPoints)) return NetworkOutcome::NeedsEnumeration;
    const double points = state.ExpectedPointsExact ? state.ExpectedSamplePoints : TablesAtMost(rows, cols);
    if (!(points >= limits.MinSamplePoints)) return NetworkOutcome::NeedsEnumeration;
    const double scaled = points * limits.StepsPerPoint;
    const std::uint64_t steps = std::min(
        limits.MaxSteps, std::max(limits.LeastSteps, scaled < 0x1p63 ? static_cast<std::uint64_t>(scaled) : limits.MaxSteps));
    Search search(state, ports, Side::FarTail, steps, ShownCount(state));
    const NetworkOutcome outcome = search.Walk();
    if (outcome != NetworkOutcome::Completed) return outcome;
    std::uint64_t total = 0;
    const NetworkOutcome counted = CountTotal(state, ports, limits.MaxBoxPoints, total);
    if (counted != NetworkOutcome::Completed) return counted;
    search.Finish(total);
    return NetworkOutcome::Completed;
}

}  // namespace kelvorin
