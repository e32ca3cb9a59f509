#include "ExactEnumeration.h"

#include <algorithm>
#include <bit>
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
    terms_.Prepare(state.Table, state.ComputeLR, state.ComputeChi);
    // The trace prints the values of every sample point and marks the
    // observed table by exact equality of probabilities, so a traced run
    // evaluates every point directly.
    incremental_ = terms_.Available() && !state.DirectEvaluation && !(state.Options.Details && state.DetailsFile.IsOpen());
    const std::size_t width = static_cast<std::size_t>(cols_ + 1);
    storage_.assign(static_cast<std::size_t>(rows_ + 1) * kLevelArrays * width, 0);
    rowsBefore_.assign(static_cast<std::size_t>(rows_ + 1), 0);
    carry_.Row2.assign(static_cast<std::size_t>(cols_ + 1), 0);
    // The direct quotient TableNumerator / RowMultinomial is formed with
    // about r c + c + 1 roundings of half a unit (2^-64) each.
    directUlps_ = 0.5 * (rows_ * cols_ + cols_ + 2);
    carry_.Previous.assign(static_cast<std::size_t>(cols_ + 1), 0);
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
    if (level == 2) StartRow2();
    for (;;) {
        std::int32_t partial = 0;
        for (int j = 1; j <= c - 2; ++j) partial += x[j];
        if (level == 2 && incremental_) {
            for (int j = 1; j <= c - 2; ++j) table.At(2, j) = static_cast<std::int16_t>(x[j]);
            InnermostRun(remaining, partial, lo[c - 1], hi[c - 1]);
            if (state_.Abandoned) return;
        } else
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

double TwoWayEnumerator::DirectValue(int which) const {
    const ContingencyTable& table = state_.Table;
    if (which == 0) return static_cast<double>(TableNumerator(table, state_.Factorials) / state_.RowMultinomial);
    return which == 1 ? terms_.LikelihoodRatio(table) : terms_.Pearson(table);
}

void TwoWayEnumerator::StartRow2() { carry_.Valid = false; }

void TwoWayEnumerator::InnermostRun(const std::int32_t* remaining, std::int32_t partial, std::int32_t first,
                                    std::int32_t last) {
    ContingencyTable& table = state_.Table;
    const int c = cols_;
    const bool lr = state_.ComputeLR;
    const bool chi = state_.ComputeChi;
    // Rounding bounds: one unit is 2^-52; a term update costs a few roundings
    // of the size of the largest terms, a probability update two relative
    // units (one quotient, one product).
    constexpr double kUnit = 0x1p-52;
    // Below this the probability may have lost precision (or underflow), so
    // it is evaluated directly rather than updated.
    constexpr long double kTiny = 1e-280L;
    // Past this bound of the updated quotient's error (in units of 2^-64 of
    // its value) it is evaluated directly again, so that it seldom lands too
    // near a rounding point to be used.
    constexpr double kMaxUlps = 128;
    const double lrStep = 16 * kUnit * terms_.LikelihoodRatioMagnitude();
    const double chiStep = 16 * kUnit * terms_.PearsonMagnitude();
    Carry& k = carry_;

    // Row 2 of the run's first sample point (cells 1..c-2 were written by
    // Enumerate) and row 1, the remainder.
    std::int32_t* x2 = k.Row2.data();
    for (int j = 1; j <= c - 2; ++j) x2[j] = table.At(2, j);
    x2[c - 1] = first;
    x2[c] = table.RowTotal(2) - partial - first;

    auto evaluateDirectly = [&]() -> bool {
        for (int j = 1; j <= c; ++j) {
            table.At(2, j) = static_cast<std::int16_t>(x2[j]);
            table.At(1, j) = static_cast<std::int16_t>(remaining[j] - x2[j]);
        }
        const long double numerator = TableNumerator(table, state_.Factorials);
        if (!std::isfinite(numerator)) return false;
        k.Q = numerator / state_.RowMultinomial;
        k.QUlps = directUlps_;
        return true;
    };
    if (!k.Valid) {
        // The first run of this row 2: every value evaluated directly.
        if (!evaluateDirectly()) {
            step_.Overflow();
            return;
        }
        const double cells = static_cast<double>(rows_ * c);
        k.LrSum = lr ? 0.5 * terms_.LikelihoodRatio(table) : 0.0;
        k.ChiSum = chi ? terms_.Pearson(table) : 0.0;
        k.LrError = 2 * cells * kUnit * terms_.LikelihoodRatioMagnitude();
        k.ChiError = cells * kUnit * terms_.PearsonMagnitude();
        k.Valid = true;
    } else {
        // From the last sample point of the previous run: each column whose
        // row-2 count changed moves counts between rows 1 and 2 one at a time.
        const bool tiny = k.Q < kTiny;
        for (int j = 1; j <= c; ++j) {
            std::int32_t upper = k.Previous[static_cast<std::size_t>(j)];
            const std::int32_t target = x2[j];
            if (upper == target) continue;
            std::int32_t lower = remaining[j] - upper;
            if (lr) {
                k.LrSum += (terms_.LikelihoodRatioTerm(2, j, target) - terms_.LikelihoodRatioTerm(2, j, upper)) +
                           (terms_.LikelihoodRatioTerm(1, j, remaining[j] - target) -
                            terms_.LikelihoodRatioTerm(1, j, lower));
                k.LrError += lrStep;
            }
            if (chi) {
                k.ChiSum += (terms_.PearsonTerm(2, j, target) - terms_.PearsonTerm(2, j, upper)) +
                            (terms_.PearsonTerm(1, j, remaining[j] - target) - terms_.PearsonTerm(1, j, lower));
                k.ChiError += chiStep;
            }
            for (; upper < target; ++upper, --lower) {
                k.Q *= static_cast<long double>(lower) / static_cast<long double>(upper + 1);
                k.QUlps += 3;
            }
            for (; upper > target; --upper, ++lower) {
                k.Q *= static_cast<long double>(upper) / static_cast<long double>(lower + 1);
                k.QUlps += 3;
            }
        }
        for (int j = 1; j <= c; ++j) {
            table.At(2, j) = static_cast<std::int16_t>(x2[j]);
            table.At(1, j) = static_cast<std::int16_t>(remaining[j] - x2[j]);
        }
        if (tiny && !evaluateDirectly()) {
            step_.Overflow();
            return;
        }
    }

    std::int32_t a = x2[c - 1];               // x(2,c-1)
    std::int32_t b = x2[c];                   // x(2,c)
    std::int32_t d = remaining[c - 1] - a;    // x(1,c-1)
    std::int32_t e = remaining[c] - b;        // x(1,c)
    long double q = k.Q;
    double qUlps = k.QUlps;
    // The probability as the direct evaluation rounds it: the quotient q is
    // known to within (qUlps + directUlps_) units of its last place of the
    // direct evaluation's quotient, so unless it lies that close to a point
    // where rounding to double changes, both round to the same double.
    auto probability = [&]() -> double {
        const double rounded = static_cast<double>(q);
        if (q >= kTiny) {
            // Half a unit in the last place of the rounded value (of the
            // binade below when q lies under a power of two).
            const std::uint64_t bits = std::bit_cast<std::uint64_t>(rounded);
            double half = std::bit_cast<double>((bits & 0x7FF0000000000000ULL) - (53ULL << 52));
            const long double off = q - static_cast<long double>(rounded);
            if ((bits & 0x000FFFFFFFFFFFFFULL) == 0 && off < 0) half *= 0.5;
            if (half - std::fabs(off) > (qUlps + directUlps_) * 0x1p-64L * q) return rounded;
        }
        q = TableNumerator(table, state_.Factorials) / state_.RowMultinomial;
        qUlps = directUlps_;
        return static_cast<double>(q);
    };
    double p = probability();
    double lrSum = k.LrSum;
    double chiSum = k.ChiSum;
    double lrError = k.LrError;
    double chiError = k.ChiError;

    auto direct = [this](int which) { return DirectValue(which); };
    // The terms of the four changing cells, indexed by their counts.
    const double* lrA = lr ? &terms_.LikelihoodRatioTerm(2, c - 1, 0) : nullptr;
    const double* lrB = lr ? &terms_.LikelihoodRatioTerm(2, c, 0) : nullptr;
    const double* lrD = lr ? &terms_.LikelihoodRatioTerm(1, c - 1, 0) : nullptr;
    const double* lrE = lr ? &terms_.LikelihoodRatioTerm(1, c, 0) : nullptr;
    const double* chiA = chi ? &terms_.PearsonTerm(2, c - 1, 0) : nullptr;
    const double* chiB = chi ? &terms_.PearsonTerm(2, c, 0) : nullptr;
    const double* chiD = chi ? &terms_.PearsonTerm(1, c - 1, 0) : nullptr;
    const double* chiE = chi ? &terms_.PearsonTerm(1, c, 0) : nullptr;
    std::int16_t& cellA = table.At(2, c - 1);
    std::int16_t& cellB = table.At(2, c);
    std::int16_t& cellD = table.At(1, c - 1);
    std::int16_t& cellE = table.At(1, c);
    for (std::int32_t v = first;; ++v) {
        step_.VisitBounded(p, 2.0 * lrSum, chiSum, 0.0, lrError, chiError, direct);
        if (v == last || state_.Abandoned) break;
        // Move one count from (2,c) to (2,c-1) and from (1,c-1) to (1,c).
        q *= static_cast<long double>(static_cast<std::int64_t>(b) * d) /
             static_cast<long double>(static_cast<std::int64_t>(a + 1) * (e + 1));
        qUlps += 4;
        if (lr) {
            lrSum += (lrA[a + 1] - lrA[a]) + (lrB[b - 1] - lrB[b]) + (lrD[d - 1] - lrD[d]) + (lrE[e + 1] - lrE[e]);
            lrError += 2 * lrStep;
        }
        if (chi) {
            chiSum += (chiA[a + 1] - chiA[a]) + (chiB[b - 1] - chiB[b]) + (chiD[d - 1] - chiD[d]) +
                      (chiE[e + 1] - chiE[e]);
            chiError += chiStep;
        }
        ++a;
        --b;
        --d;
        ++e;
        cellA = static_cast<std::int16_t>(a);
        cellB = static_cast<std::int16_t>(b);
        cellD = static_cast<std::int16_t>(d);
        cellE = static_cast<std::int16_t>(e);
        if (qUlps > kMaxUlps) {
            q = TableNumerator(table, state_.Factorials) / state_.RowMultinomial;
            qUlps = directUlps_;
        }
        p = probability();
    }
    x2[c - 1] = a;
    x2[c] = b;
    for (int j = 1; j <= c; ++j) k.Previous[static_cast<std::size_t>(j)] = x2[j];
    k.Q = q;
    k.QUlps = qUlps;
    k.LrSum = lrSum;
    k.ChiSum = chiSum;
    k.LrError = lrError;
    k.ChiError = chiError;
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
