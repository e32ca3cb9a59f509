#include "ExactEnumeration.h"

#include <algorithm>
#include <cmath>

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
double LikelihoodRatioTerm(int count, double expected) {
    const double n = count;
    return n * std::log(n / expected);
}
double PearsonTerm(int count, double expected) {
    const double difference = count - expected;
    return difference * difference / expected;
}
}  // namespace

double LikelihoodRatioStatistic(const ContingencyTable& table) {
    double sum = 0.0;
    for (int i = 1; i <= table.Rows; ++i)
        for (int j = 1; j <= table.Cols; ++j) {
            const int count = table.At(i, j);
            if (count != 0) sum += LikelihoodRatioTerm(count, ExpectedCount(table, i, j));
        }
    return 2.0 * sum;
}

double PearsonStatistic(const ContingencyTable& table) {
    double sum = 0.0;
    for (int i = 1; i <= table.Rows; ++i)
        for (int j = 1; j <= table.Cols; ++j) sum += PearsonTerm(table.At(i, j), ExpectedCount(table, i, j));
    return sum;
}

void UpdateTally(ExactTally& tally, TallyKind kind, double a, double b, double p) {
    double d = 0.0;
    const bool formed = kind == TallyKind::Probability ? a + b > 0.0 : a + b != 0.0;
    if (formed) {
        const long double la = a;
        const long double lb = b;
        d = static_cast<double>(std::fabs(la - lb) / (la + lb));
    }
    const double tolerance = kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    if (d < tolerance) {
        ++tally.EqualCount;
        tally.EqualMass += p;
    } else if (a >= b) {
        ++tally.GreaterCount;
        tally.GreaterMass += p;
    } else {
        ++tally.LessCount;
        tally.LessMass += p;
    }
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
    if (!available_) return;
    if (likelihoodRatio) lrTerm_.resize(total);
    if (pearson) chiTerm_.resize(total);
    for (int i = 1; i <= rows_; ++i)
        for (int j = 1; j <= cols_; ++j) {
            const double e = ExpectedCount(table, i, j);
            const std::size_t base = offset_[static_cast<std::size_t>((i - 1) * cols_ + (j - 1))];
            const int largest = std::min(table.RowTotal(i), table.ColTotal(j));
            for (int n = 0; n <= largest; ++n) {
                if (likelihoodRatio) lrTerm_[base + n] = n == 0 ? 0.0 : LikelihoodRatioTerm(n, e);
                if (pearson) chiTerm_[base + n] = PearsonTerm(n, e);
            }
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
    terms_.Prepare(state.Table, state.ComputeLR, state.ComputeChi);
    const std::size_t width = static_cast<std::size_t>(cols_ + 1);
    storage_.assign(static_cast<std::size_t>(rows_ + 1) * kLevelArrays * width, 0);
    rowsBefore_.assign(static_cast<std::size_t>(rows_ + 1), 0);
    for (int k = 2; k <= rows_; ++k) rowsBefore_[k] = rowsBefore_[k - 1] + state.Table.RowTotal(k - 1);
}

void TwoWayEnumerator::EnumerateTables() {
    std::vector<std::int32_t> totals(state_.Table.ColTotals);
    Enumerate(rows_, totals.data());
}

void TwoWayEnumerator::Enumerate(int level, const std::int32_t* remaining) {
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

void TwoWayEnumerator::VisitCurrentTable() {
    const ContingencyTable& table = state_.Table;
    const long double numerator = TableNumerator(table, state_.Factorials);
    if (!std::isfinite(numerator)) {
        step_.Overflow();
        return;
    }
    const double p = static_cast<double>(numerator / state_.RowMultinomial);
    double g = 0.0;
    double x = 0.0;
    if (state_.ComputeLR) g = terms_.Available() ? terms_.LikelihoodRatio(table) : LikelihoodRatioStatistic(table);
    if (state_.ComputeChi) x = terms_.Available() ? terms_.Pearson(table) : PearsonStatistic(table);
    step_.Visit(p, g, x);
}

}  // namespace kelvorin
