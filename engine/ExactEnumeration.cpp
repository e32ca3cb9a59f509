#include "ExactEnumeration.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "FloatingPointGuard.h"
#include "SamplePointStep.h"

namespace kelvorin {

void FillFactorials(FactorialTable& factorials) {
    factorials[0] = 1.0L;
    for (int k = 1; k <= kFactorialLimit; ++k) factorials[k] = static_cast<long double>(k) * factorials[k - 1];
}

long double ColumnCoefficient(const ContingencyTable& table, const FactorialTable& factorials, int j) {
    long double product = 1.0L;
    for (int i = 1; i <= table.Rows; ++i) product *= factorials[table.At(i, j)];
    return factorials[table.At(0, j)] / product;
}

long double TableNumerator(const ContingencyTable& table, const FactorialTable& factorials) {
    long double product = 1.0L;
    for (int j = 1; j <= table.Cols; ++j) product *= ColumnCoefficient(table, factorials, j);
    return product;
}

bool ComputeRowMultinomial(const ContingencyTable& table, const FactorialTable& factorials,
                           long double& result) {
    const int n = table.GrandTotal();
    if (n <= kFactorialLimit) {
        result = ColumnCoefficient(table, factorials, 0);
        return true;
    }
    int largestRow = 1;
    for (int i = 2; i <= table.Rows; ++i)
        if (table.RowTotal(i) > table.RowTotal(largestRow)) largestRow = i;
    const FloatingPointGuard guard;
    long double numerator = 1.0L;
    for (int k = n; k > table.RowTotal(largestRow); --k) numerator *= static_cast<long double>(k);
    long double denominator = 1.0L;
    for (int i = 1; i <= table.Rows; ++i) {
        if (i == largestRow) continue;
        if (table.RowTotal(i) > kFactorialLimit) return false;
        denominator *= factorials[table.RowTotal(i)];
    }
    result = numerator / denominator;
    return FloatingPointGuard::Raised() == nullptr && std::isfinite(result);
}

double ExpectedCount(const ContingencyTable& table, int i, int j) {
    const std::int32_t product = static_cast<std::int32_t>(table.ColTotal(j)) * table.RowTotal(i);
    return static_cast<double>(static_cast<long double>(product) / static_cast<long double>(table.GrandTotal()));
}

namespace {
// One cell's term of each statistic, as the direct evaluation forms it.
double CellLikelihoodRatioTerm(int count, double expected) {
    const double n = count;
    return n * std::log(n / expected);
}
double CellPearsonTerm(int count, double expected) {
    const double difference = count - expected;
    return difference * difference / expected;
}
}  // namespace

double LikelihoodRatioStatistic(const ContingencyTable& table) {
    double sum = 0.0;
    for (int i = 1; i <= table.Rows; ++i)
        for (int j = 1; j <= table.Cols; ++j) {
            const int count = table.At(i, j);
            if (count != 0) sum += CellLikelihoodRatioTerm(count, ExpectedCount(table, i, j));
        }
    return 2.0 * sum;
}

double PearsonStatistic(const ContingencyTable& table) {
    double sum = 0.0;
    for (int i = 1; i <= table.Rows; ++i)
        for (int j = 1; j <= table.Cols; ++j) sum += CellPearsonTerm(table.At(i, j), ExpectedCount(table, i, j));
    return sum;
}

int TallyClass(TallyKind kind, double a, double b) {
    double d = 0.0;
    const bool formed = kind == TallyKind::Probability ? a + b > 0.0 : a + b != 0.0;
    if (formed) {
        const long double la = a;
        const long double lb = b;
        d = static_cast<double>(std::fabs(la - lb) / (la + lb));
    }
    const double tolerance = kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    if (d < tolerance) return 1;
    return a >= b ? 2 : 0;
}

void UpdateTally(ExactTally& tally, TallyKind kind, double a, double b, double p) {
    switch (TallyClass(kind, a, b)) {
        case 1:
            ++tally.EqualCount;
            tally.EqualMass += p;
            break;
        case 2:
            ++tally.GreaterCount;
            tally.GreaterMass += p;
            break;
        default:
            ++tally.LessCount;
            tally.LessMass += p;
    }
}

TallyBand::TallyBand() {
    const double infinity = std::numeric_limits<double>::infinity();
    for (std::uint64_t& edge : edge_) edge = OrderKey(infinity);
    for (int k = 0; k < 3; ++k) lower_[k] = upper_[k] = infinity;
}

TallyBand::TallyBand(TallyKind kind, double observed, double error) {
    const double t = kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    const double b = observed;
    const double margin = error * (1.0 + 1e-9) + 1e-12 * std::fabs(b) + 1e-318;
    double edges[5];
    edges[0] = -b + margin;
    if (b > 0.0) {
        const double low = b * (1.0 - t) / (1.0 + t);
        const double high = b * (1.0 + t) / (1.0 - t);
        edges[1] = low - margin;
        edges[2] = low + margin;
        edges[3] = high - margin;
        edges[4] = high + margin;
    } else {
        // Above the first edge everything is greater.
        for (int k = 1; k < 5; ++k) edges[k] = edges[0];
    }
    for (int k = 0; k < 5; ++k) {
        if (k > 0) edges[k] = std::max(edges[k], edges[k - 1]);
        if (edges[k] == 0.0) edges[k] = 0.0;
        edge_[k] = OrderKey(edges[k]);
    }
    for (int k = 0; k < 3; ++k) {
        lower_[k] = edges[2 * k];
        upper_[k] = k < 2 ? edges[2 * k + 1] : std::numeric_limits<double>::infinity();
    }
}

TallyRuleEdges RuleEdges(TallyKind kind, double observed) {
    const long double t = kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    const long double b = observed;
    TallyRuleEdges edges{b * (1.0L - t) / (1.0L + t), b * (1.0L + t) / (1.0L - t), 0};
    if (kind == TallyKind::Probability && b == 0.0L) edges = {0x1p-1075L, 0x1p-1075L, 1};
    if (kind == TallyKind::Statistic && b <= 0.0L) edges = {b, -b, 0};
    return edges;
}

// --- StatisticTerms ---------------------------------------------------------

void StatisticTerms::Prepare(const ContingencyTable& table, bool likelihoodRatio, bool pearson) {
    constexpr std::size_t kMaxEntries = std::size_t{1} << 22;
    rows_ = table.Rows;
    cols_ = table.Cols;
    offset_.assign(static_cast<std::size_t>(rows_ * cols_), 0);
    std::size_t total = 0;
    for (int i = 1; i <= rows_; ++i)
        for (int j = 1; j <= cols_; ++j) {
            offset_[static_cast<std::size_t>((i - 1) * cols_ + (j - 1))] = total;
            total += static_cast<std::size_t>(std::min(table.RowTotal(i), table.ColTotal(j))) + 1;
        }
    available_ = total <= kMaxEntries;
    lrTerm_.clear();
    chiTerm_.clear();
    lrMagnitude_ = 0.0;
    chiMagnitude_ = 0.0;
    if (!available_) return;
    if (likelihoodRatio) lrTerm_.resize(total);
    if (pearson) chiTerm_.resize(total);
    for (int i = 1; i <= rows_; ++i)
        for (int j = 1; j <= cols_; ++j) {
            const double e = ExpectedCount(table, i, j);
            const std::size_t base = offset_[static_cast<std::size_t>((i - 1) * cols_ + (j - 1))];
            const int largest = std::min(table.RowTotal(i), table.ColTotal(j));
            double lrLargest = 0.0;
            double chiLargest = 0.0;
            for (int n = 0; n <= largest; ++n) {
                if (likelihoodRatio) {
                    lrTerm_[base + n] = n == 0 ? 0.0 : CellLikelihoodRatioTerm(n, e);
                    lrLargest = std::max(lrLargest, std::fabs(lrTerm_[base + n]));
                }
                if (pearson) {
                    chiTerm_[base + n] = CellPearsonTerm(n, e);
                    chiLargest = std::max(chiLargest, std::fabs(chiTerm_[base + n]));
                }
            }
            lrMagnitude_ += lrLargest;
            chiMagnitude_ += chiLargest;
        }
}

// Adding a zero term for an empty cell leaves the sum unchanged (it starts at
// +0 and can never become -0), so the sum equals the direct one that skips
// empty cells.
double StatisticTerms::LikelihoodRatio(const ContingencyTable& table) const {
    double sum = 0.0;
    std::size_t cell = 0;
    for (int i = 1; i <= rows_; ++i)
        for (int j = 1; j <= cols_; ++j, ++cell) sum += lrTerm_[offset_[cell] + table.At(i, j)];
    return 2.0 * sum;
}

double StatisticTerms::Pearson(const ContingencyTable& table) const {
    double sum = 0.0;
    std::size_t cell = 0;
    for (int i = 1; i <= rows_; ++i)
        for (int j = 1; j <= cols_; ++j, ++cell) sum += chiTerm_[offset_[cell] + table.At(i, j)];
    return sum;
}

// --- TwoWayEnumerator ------------------------------------------------------

namespace {
// The arrays each level keeps, each of c + 1 entries (index 0 unused).
enum LevelArray { kLow, kHigh, kSum, kValue, kNext, kLevelArrays };
}  // namespace

TwoWayEnumerator::TwoWayEnumerator(AnalysisState& state, SamplePointStep& step)
    : state_(state), step_(step), rows_(state.Table.Rows), cols_(state.Table.Cols) {
    const ContingencyTable& table = state.Table;
    const bool lr = step.TalliesLikelihoodRatio();
    const bool chi = step.TalliesPearson();
    terms_.Prepare(table, state.ComputeLR, state.ComputeChi);
    // The trace prints the values of every sample point and marks the
    // observed table by exact equality of probabilities, so a traced run
    // evaluates every point directly.
    // A 2 x 2 table has at most 1001 sample points and also sums the 2 x 2
    // probabilities by x11: it is evaluated directly too.
    incremental_ = terms_.Available() && !state.DirectEvaluation && rows_ >= 2 && cols_ >= 2 &&
                   rows_ * cols_ > 4 && !TraceWritten(state);
    const std::size_t width = static_cast<std::size_t>(cols_ + 1);
    storage_.assign(static_cast<std::size_t>(rows_ + 1) * kLevelArrays * width, 0);
    rowsBefore_.assign(static_cast<std::size_t>(rows_ + 1), 0);
    for (int k = 2; k <= rows_; ++k) rowsBefore_[k] = rowsBefore_[k - 1] + table.RowTotal(k - 1);
    if (!incremental_) return;

    // Room for every count cell (2, j) can take.
    columnOffset_.assign(width + 1, 0);
    for (int j = 1; j <= cols_; ++j)
        columnOffset_[static_cast<std::size_t>(j + 1)] =
            columnOffset_[static_cast<std::size_t>(j)] +
            static_cast<std::size_t>(std::min(table.RowTotal(2), table.ColTotal(j))) + 1;
    columnEntries_.assign(columnOffset_[width], ColumnEntry{0.0L, 0.0, 0.0});
    columnKey_.assign(static_cast<std::size_t>(cols_ * (rows_ - 1)), -1);
    rowsAboveFactorials_.assign(static_cast<std::size_t>(rows_), 0.0L);
    leadingProduct_.assign(width, 1.0L);
    leadingLr_.assign(width, 0.0);
    leadingChi_.assign(width, 0.0);
    // A block is at most a run: as many points as cell (2, c-1) has counts.
    const std::size_t block = static_cast<std::size_t>(std::min(table.RowTotal(2), table.ColTotal(cols_ - 1))) + 1;
    bufferP_.assign(block, 0.0);
    bufferLr_.assign(block, 0.0);
    bufferChi_.assign(block, 0.0);

    // Both the direct sum of a statistic and the one formed here add up the
    // same r c terms in some order, each addition rounding by at most 2^-53
    // of a partial sum, and no partial sum exceeds the sum of the largest
    // magnitudes of the cells' terms. The direct sum takes r c additions,
    // the one here r c + c; twice their total bounds the difference of the
    // two. G2 is twice the sum.
    const double additions = 2.0 * (2 * rows_ * cols_ + cols_ + 4);
    const double lrError = 2.0 * additions * 0x1p-53 * terms_.LikelihoodRatioMagnitude();
    const double chiError = additions * 0x1p-53 * terms_.PearsonMagnitude();
    bands_[0] = TallyBand(TallyKind::Probability, state.ObservedProbability, 0.0);
    bands_[1] = TallyBand(TallyKind::Statistic, state.G2, lrError);
    bands_[2] = TallyBand(TallyKind::Statistic, state.X2, chiError);
    sweep_ = lr ? (chi ? &TwoWayEnumerator::SweepRowTwo<true, true> : &TwoWayEnumerator::SweepRowTwo<true, false>)
                : (chi ? &TwoWayEnumerator::SweepRowTwo<false, true> : &TwoWayEnumerator::SweepRowTwo<false, false>);
}

void TwoWayEnumerator::EnumerateTables() {
    std::vector<std::int32_t> totals(state_.Table.ColTotals);
    Enumerate(rows_, totals.data());
}

void TwoWayEnumerator::Enumerate(int level, const std::int32_t* remaining) {
    if (level == 2 && incremental_) {
        (this->*sweep_)(remaining);
        return;
    }
    const int c = cols_;
    const std::size_t width = static_cast<std::size_t>(c + 1);
    std::int32_t* base = storage_.data() + static_cast<std::size_t>(level) * kLevelArrays * width;
    std::int32_t* lo = base + kLow * width;
    std::int32_t* hi = base + kHigh * width;
    std::int32_t* sum = base + kSum * width;
    std::int32_t* x = base + kValue * width;
    std::int32_t* next = base + kNext * width;
    const std::int32_t rowTotal = state_.Table.RowTotal(level);
    const std::int32_t before = rowsBefore_[level];
    ContingencyTable& table = state_.Table;

    sum[0] = 0;
    for (int j = 1; j <= c; ++j) sum[j] = sum[j - 1] + remaining[j];
    // Sets positions from..c-1 to their lower bounds given the cells before.
    auto reset = [&](int from, std::int32_t partial) {
        for (int j = from; j <= c - 1; ++j) {
            lo[j] = std::max<std::int32_t>(0, sum[j] - before - partial);
            hi[j] = std::min<std::int32_t>(rowTotal - partial, remaining[j]);
            x[j] = lo[j];
            partial += x[j];
        }
    };
    reset(1, 0);
    for (;;) {
        std::int32_t partial = 0;
        for (int j = 1; j <= c - 2; ++j) partial += x[j];
        for (std::int32_t v = lo[c - 1]; v <= hi[c - 1]; ++v) {
            x[c - 1] = v;
            x[c] = rowTotal - partial - v;
            for (int j = 1; j <= c; ++j) {
                table.At(level, j) = static_cast<std::int16_t>(x[j]);
                next[j] = remaining[j] - x[j];
            }
            if (level > 2) {
                Enumerate(level - 1, next);
            } else {
                for (int j = 1; j <= c; ++j) table.At(1, j) = static_cast<std::int16_t>(next[j]);
                VisitCurrentTable();
            }
            if (state_.Abandoned) return;
        }
        int p = c - 2;
        while (p >= 1 && x[p] >= hi[p]) --p;
        if (p < 1) return;
        ++x[p];
        std::int32_t before_p = 0;
        for (int j = 1; j <= p; ++j) before_p += x[j];
        reset(p + 1, before_p);
    }
}

void TwoWayEnumerator::PrepareRowTwo(const std::int32_t* remaining) {
    const ContingencyTable& table = state_.Table;
    const FactorialTable& factorials = state_.Factorials;
    const int r = rows_;
    const std::int32_t row1 = table.RowTotal(1);
    const std::int32_t row2 = table.RowTotal(2);
    const bool lr = step_.TalliesLikelihoodRatio();
    const bool chi = step_.TalliesPearson();
    long double* rowsAbove = rowsAboveFactorials_.data();
    for (int j = 1; j <= cols_; ++j) {
        std::int32_t* key = &columnKey_[static_cast<std::size_t>((j - 1) * (r - 1))];
        const std::int32_t left = remaining[j];
        bool same = true;
        for (int i = 3; i <= r; ++i) same = same && key[i - 2] == table.At(i, j);
        if (same && key[0] == left) continue;
        ColumnEntry* entry = columnEntries_.data() + columnOffset_[static_cast<std::size_t>(j)];
        const std::int32_t from = std::max<std::int32_t>(0, left - row1);
        const std::int32_t to = std::min(row2, left);
        if (!same || key[0] != left) {
            // ColumnCoefficient(j): the factorials of rows 1..r multiplied
            // in row order from 1, then the column total's divided by them.
            for (int i = 3; i <= r; ++i) {
                key[i - 2] = table.At(i, j);
                rowsAbove[i - 3] = factorials[table.At(i, j)];
            }
            const long double columnTotal = factorials[table.ColTotal(j)];
            for (std::int32_t x = from; x <= to; ++x) {
                long double product = 1.0L;
                product *= factorials[left - x];
                product *= factorials[x];
                for (int i = 0; i < r - 2; ++i) product *= rowsAbove[i];
                entry[x].Coefficient = columnTotal / product;
            }
        }
        if (key[0] != left) {
            // The pairs depend on the column's remaining total alone.
            key[0] = left;
            const double* lr1 = lr ? &terms_.LikelihoodRatioTerm(1, j, 0) : nullptr;
            const double* lr2 = lr ? &terms_.LikelihoodRatioTerm(2, j, 0) : nullptr;
            const double* chi1 = chi ? &terms_.PearsonTerm(1, j, 0) : nullptr;
            const double* chi2 = chi ? &terms_.PearsonTerm(2, j, 0) : nullptr;
            for (std::int32_t x = from; x <= to; ++x) {
                if (lr) entry[x].LikelihoodRatio = lr1[left - x] + lr2[x];
                if (chi) entry[x].Pearson = chi1[left - x] + chi2[x];
            }
        }
    }
    double lrRest = 0.0;
    double chiRest = 0.0;
    for (int i = 3; i <= r; ++i)
        for (int j = 1; j <= cols_; ++j) {
            if (lr) lrRest += terms_.LikelihoodRatioTerm(i, j, table.At(i, j));
            if (chi) chiRest += terms_.PearsonTerm(i, j, table.At(i, j));
        }
    leadingProduct_[0] = 1.0L;
    leadingLr_[0] = lrRest;
    leadingChi_[0] = chiRest;
}

template <bool LikelihoodRatio, bool Pearson>
void TwoWayEnumerator::SweepRowTwo(const std::int32_t* remaining) {
    PrepareRowTwo(remaining);
    ContingencyTable& table = state_.Table;
    const int c = cols_;
    const std::size_t width = static_cast<std::size_t>(c + 1);
    std::int32_t* base = storage_.data() + 2 * kLevelArrays * width;
    std::int32_t* lo = base + kLow * width;
    std::int32_t* hi = base + kHigh * width;
    std::int32_t* partial = base + kSum * width;  // x_1 + ... + x_j, [0..c-3]
    std::int32_t* x = base + kValue * width;
    std::int32_t* sum = base + kNext * width;  // remaining[1] + ... + remaining[j]
    long double* product = leadingProduct_.data();
    double* lrSum = leadingLr_.data();
    double* chiSum = leadingChi_.data();
    const std::int32_t rowTotal = table.RowTotal(2);
    const std::int32_t before = table.RowTotal(1);
    sum[0] = 0;
    for (int j = 1; j <= c; ++j) sum[j] = sum[j - 1] + remaining[j];
    partial[0] = 0;
    // Position j's lower and upper bound given the cells before it.
    auto lowest = [&](int j, std::int32_t cellsBefore) {
        return std::max<std::int32_t>(0, sum[j] - before - cellsBefore);
    };
    auto highest = [&](int j, std::int32_t cellsBefore) {
        return std::min<std::int32_t>(rowTotal - cellsBefore, remaining[j]);
    };
    // Takes position j's value x[j] into the products and sums through j.
    auto take = [&](int j) {
        const ColumnEntry& entry =
            columnEntries_[columnOffset_[static_cast<std::size_t>(j)] + static_cast<std::size_t>(x[j])];
        partial[j] = partial[j - 1] + x[j];
        product[j] = product[j - 1] * entry.Coefficient;
        if (LikelihoodRatio) lrSum[j] = lrSum[j - 1] + entry.LikelihoodRatio;
        if (Pearson) chiSum[j] = chiSum[j - 1] + entry.Pearson;
    };
    // Positions 1..c-3 are an odometer; c-2 (the middle) and c-1 (the
    // innermost run) are loops of their own. Sets positions from..c-3 to
    // their lower bounds.
    const int outer = c - 3;
    auto reset = [&](int from) {
        for (int j = from; j <= outer; ++j) {
            lo[j] = lowest(j, partial[j - 1]);
            hi[j] = highest(j, partial[j - 1]);
            x[j] = lo[j];
            take(j);
        }
    };
    reset(1);

    const long double rowMultinomial = state_.RowMultinomial;
    const ColumnEntry* columnA = columnEntries_.data() + columnOffset_[static_cast<std::size_t>(c - 1)];
    const ColumnEntry* columnB = columnEntries_.data() + columnOffset_[static_cast<std::size_t>(c)];
    const ColumnEntry* columnMiddle =
        c >= 3 ? columnEntries_.data() + columnOffset_[static_cast<std::size_t>(c - 2)] : nullptr;

    // Rows 1 and 2 of the point with (2, c-1) = a and (2, c) = b into Cells,
    // for whatever looks at it.
    auto writeCells = [&](std::int32_t a, std::int32_t b) {
        for (int j = 1; j <= c - 2; ++j) {
            table.At(2, j) = static_cast<std::int16_t>(x[j]);
            table.At(1, j) = static_cast<std::int16_t>(remaining[j] - x[j]);
        }
        table.At(2, c - 1) = static_cast<std::int16_t>(a);
        table.At(2, c) = static_cast<std::int16_t>(b);
        table.At(1, c - 1) = static_cast<std::int16_t>(remaining[c - 1] - a);
        table.At(1, c) = static_cast<std::int16_t>(remaining[c] - b);
    };
    // The points visited since the step last counted them, and how many
    // more may be before the next progress display.
    std::int64_t pending = 0;
    std::int64_t budget = step_.PointsBeforeProgress();
    auto hand = [&] {
        step_.CountVisited(pending);
        pending = 0;
        budget = step_.PointsBeforeProgress();
    };

    // A block of points (a run, or part of one up to a progress display)
    // is formed first, with the range of each value. Runs mostly lie within
    // one class of a tally (they cross an edge of its band at most a few
    // times, and only near the observed value), and mostly in the class of
    // the run before: so while the block is formed, its probabilities are
    // already added, in order, to the mass of that class of each tally, and
    // that sum is kept when the block's range lies within the class
    // (TallyBand::Common). When it lies within another class the block's
    // probabilities are added to that one; otherwise every point is
    // classed.
    double* const blockP = bufferP_.data();
    double* const blockLr = bufferLr_.data();
    double* const blockChi = bufferChi_.data();
    int guess[3] = {0, 0, 0};
    auto tally = [&](int which, const double* values, std::int64_t count, double low, double high, double guessedMass,
                     auto&& direct) {
        SamplePointStep::Accumulator& accumulator = step_.Tally(which);
        const TallyBand& band = bands_[which];
        const int guessed = guess[which];
        const int common = band.Common(low, high, guess[which]);
        if (common == guessed) {
            accumulator.Mass[common] = guessedMass;
            accumulator.Count[common] += count;
            return;
        }
        if (common >= 0) {
            double mass = accumulator.Mass[common];
            for (std::int64_t k = 0; k < count; ++k) mass += blockP[k];
            accumulator.Mass[common] = mass;
            accumulator.Count[common] += count;
            return;
        }
        for (std::int64_t k = 0; k < count; ++k) {
            int which = band.Class(values[k]);
            // Too close to an edge of the band: the direct value decides.
            if (which < 0) [[unlikely]] which = direct(k);
            ++accumulator.Count[which];
            accumulator.Mass[which] += blockP[k];
        }
    };

    for (;;) {
        // Positions 1..c-3 fixed: the middle position over its range (once,
        // with nothing to take, when c = 2).
        const std::int32_t outerCells = c >= 3 ? partial[outer] : 0;
        const long double outerProduct = c >= 3 ? product[outer] : 1.0L;
        const double outerLr = lrSum[c >= 3 ? outer : 0];
        const double outerChi = chiSum[c >= 3 ? outer : 0];
        const std::int32_t middleFirst = c >= 3 ? lowest(c - 2, outerCells) : 0;
        const std::int32_t middleLast = c >= 3 ? highest(c - 2, outerCells) : 0;
        for (std::int32_t middle = middleFirst; middle <= middleLast; ++middle) {
            long double leading = outerProduct;  // the product of the first c-2 column coefficients
            double lrLeading = outerLr;
            double chiLeading = outerChi;
            std::int32_t cells = outerCells;  // x_1 + ... + x_(c-2)
            if (c >= 3) {
                x[c - 2] = middle;
                leading *= columnMiddle[middle].Coefficient;
                if (LikelihoodRatio) lrLeading += columnMiddle[middle].LikelihoodRatio;
                if (Pearson) chiLeading += columnMiddle[middle].Pearson;
                cells += middle;
            }
            // The innermost run.
            const std::int32_t first = lowest(c - 1, cells);
            const std::int32_t last = highest(c - 1, cells);
            const std::int32_t pair = rowTotal - cells;  // (2, c-1) + (2, c)
            std::int32_t a = first;
            for (;;) {
                std::int64_t count = std::min<std::int64_t>(last - a + 1, budget);
                const ColumnEntry* entryA = columnA + a;
                const ColumnEntry* entryB = columnB + (pair - a);
                constexpr double kInfinity = std::numeric_limits<double>::infinity();
                double lowP = kInfinity, highP = -kInfinity;
                double lowLr = kInfinity, highLr = -kInfinity;
                double lowChi = kInfinity, highChi = -kInfinity;
                double massP = step_.Tally(0).Mass[guess[0]];
                double massLr = step_.Tally(1).Mass[guess[1]];
                double massChi = step_.Tally(2).Mass[guess[2]];
                for (std::int64_t k = 0; k < count; ++k) {
                    const double p =
                        static_cast<double>(leading * entryA[k].Coefficient * entryB[-k].Coefficient / rowMultinomial);
                    blockP[k] = p;
                    lowP = std::min(lowP, p);
                    highP = std::max(highP, p);
                    massP += p;
                    if (LikelihoodRatio) {
                        const double g = 2.0 * (lrLeading + (entryA[k].LikelihoodRatio + entryB[-k].LikelihoodRatio));
                        blockLr[k] = g;
                        lowLr = std::min(lowLr, g);
                        highLr = std::max(highLr, g);
                        massLr += p;
                    }
                    if (Pearson) {
                        const double chi = chiLeading + (entryA[k].Pearson + entryB[-k].Pearson);
                        blockChi[k] = chi;
                        lowChi = std::min(lowChi, chi);
                        highChi = std::max(highChi, chi);
                        massChi += p;
                    }
                }
                // An infinite TableNumerator gives an infinite p; a finite
                // one a probability, at most 1 but for rounding. The points
                // before the first infinite one are visited, and the run
                // is abandoned at it.
                std::int64_t overflowAt = -1;
                if (!(highP <= 2.0)) [[unlikely]] {
                    overflowAt = 0;
                    while (blockP[overflowAt] <= 2.0) ++overflowAt;
                    count = overflowAt;
                    lowP = lowLr = lowChi = -kInfinity;  // so that every point is classed
                }
                tally(0, blockP, count, lowP, highP, massP, [&](std::int64_t k) {
                    return TallyClass(TallyKind::Probability, blockP[k], state_.ObservedProbability);
                });
                if (LikelihoodRatio)
                    tally(1, blockLr, count, lowLr, highLr, massLr, [&](std::int64_t k) {
                        writeCells(a + static_cast<std::int32_t>(k), pair - a - static_cast<std::int32_t>(k));
                        return TallyClass(TallyKind::Statistic, terms_.LikelihoodRatio(table), state_.G2);
                    });
                if (Pearson)
                    tally(2, blockChi, count, lowChi, highChi, massChi, [&](std::int64_t k) {
                        writeCells(a + static_cast<std::int32_t>(k), pair - a - static_cast<std::int32_t>(k));
                        return TallyClass(TallyKind::Statistic, terms_.Pearson(table), state_.X2);
                    });
                if (overflowAt >= 0) [[unlikely]] {
                    writeCells(a + static_cast<std::int32_t>(overflowAt), pair - a - static_cast<std::int32_t>(overflowAt));
                    pending += overflowAt;
                    hand();
                    step_.Overflow();
                    return;
                }
                a += static_cast<std::int32_t>(count);
                pending += count;
                budget -= count;
                if (budget == 0) {
                    // A progress display may show the last point, and the
                    // user may break off there.
                    writeCells(a - 1, pair - a + 1);
                    hand();
                    if (state_.Abandoned) return;
                }
                if (a > last) break;
            }
            if (middle == middleLast) {
                int position = outer;
                while (position >= 1 && x[position] >= hi[position]) --position;
                if (position < 1) {
                    // The last point of the sweep stays in Cells.
                    writeCells(last, pair - last);
                    hand();
                    return;
                }
                ++x[position];
                take(position);
                reset(position + 1);
            }
        }
    }
}

bool EvaluateTable(const ContingencyTable& table, const AnalysisState& state, const StatisticTerms& terms, double& p,
                   double& g, double& x) {
    const long double numerator = TableNumerator(table, state.Factorials);
    if (!std::isfinite(numerator)) return false;
    p = static_cast<double>(numerator / state.RowMultinomial);
    g = 0.0;
    x = 0.0;
    if (state.ComputeLR) g = terms.Available() ? terms.LikelihoodRatio(table) : LikelihoodRatioStatistic(table);
    if (state.ComputeChi) x = terms.Available() ? terms.Pearson(table) : PearsonStatistic(table);
    return true;
}

void TwoWayEnumerator::VisitCurrentTable() {
    double p = 0.0, g = 0.0, x = 0.0;
    if (!EvaluateTable(state_.Table, state_, terms_, p, g, x)) {
        step_.Overflow();
        return;
    }
    step_.Visit(p, g, x);
}

}  // namespace kelvorin
