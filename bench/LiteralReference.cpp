#include "LiteralReference.h"

#include <cmath>
#include <functional>

#include "ExactEnumeration.h"
#include "OneWay.h"

namespace kelvorin::bench {

namespace {

ContingencyTable MakeTable(const std::vector<std::vector<int>>& rows) {
    ContingencyTable t;
    t.Rows = static_cast<int>(rows.size());
    t.Cols = static_cast<int>(rows[0].size());
    t.Cells.assign(static_cast<std::size_t>((t.Rows + 1) * (t.Cols + 1)), 0);
    t.ColTotals.assign(static_cast<std::size_t>(t.Cols + 1), 0);
    for (int i = 1; i <= t.Rows; ++i)
        for (int j = 1; j <= t.Cols; ++j) {
            const int v = rows[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)];
            t.At(i, j) = static_cast<std::int16_t>(v);
            t.At(i, 0) = static_cast<std::int16_t>(t.At(i, 0) + v);
            t.At(0, j) = static_cast<std::int16_t>(t.At(0, j) + v);
            t.At(0, 0) = static_cast<std::int16_t>(t.At(0, 0) + v);
        }
    for (int j = 1; j <= t.Cols; ++j) t.ColTotals[static_cast<std::size_t>(j)] = t.At(0, j);
    t.TwoWay = true;
    return t;
}

// Visits every table with the margins of T in the engine's order: the last
// row outermost, row 1 the remainder, within a row x_1 slowest.
void Enumerate(ContingencyTable& t, int level, std::vector<int> remaining, const std::function<void()>& visit) {
    const int c = t.Cols;
    int before = 0;
    for (int i = 1; i < level; ++i) before += t.RowTotal(i);
    std::vector<int> x(static_cast<std::size_t>(c + 1), 0);
    std::function<void(int, int, int)> fill = [&](int j, int partial, int sum) {
        if (j == c) {
            x[static_cast<std::size_t>(c)] = t.RowTotal(level) - partial;
            std::vector<int> next(remaining);
            for (int k = 1; k <= c; ++k) {
                t.At(level, k) = static_cast<std::int16_t>(x[static_cast<std::size_t>(k)]);
                next[static_cast<std::size_t>(k)] -= x[static_cast<std::size_t>(k)];
            }
            if (level > 2) {
                Enumerate(t, level - 1, next, visit);
            } else {
                for (int k = 1; k <= c; ++k) t.At(1, k) = static_cast<std::int16_t>(next[static_cast<std::size_t>(k)]);
                visit();
            }
            return;
        }
        const int s = sum + remaining[static_cast<std::size_t>(j)];
        const int lo = std::max(0, s - before - partial);
        const int hi = std::min(t.RowTotal(level) - partial, remaining[static_cast<std::size_t>(j)]);
        for (int v = lo; v <= hi; ++v) {
            x[static_cast<std::size_t>(j)] = v;
            fill(j + 1, partial + v, s);
        }
    };
    fill(1, 0, 0);
}

}  // namespace

LiteralResult LiteralTwoWay(const std::vector<std::vector<int>>& rows) {
    ContingencyTable t = MakeTable(rows);
    FactorialTable factorials;
    FillFactorials(factorials);
    long double rowMultinomial = 0;
    ComputeRowMultinomial(t, factorials, rowMultinomial);
    const double observedP = static_cast<double>(TableNumerator(t, factorials) / rowMultinomial);
    const double observedG = LikelihoodRatioStatistic(t);
    const double observedX = PearsonStatistic(t);
    LiteralResult result;
    std::vector<int> totals(t.ColTotals.begin(), t.ColTotals.end());
    Enumerate(t, t.Rows, totals, [&] {
        ++result.SamplePoints;
        const double p = static_cast<double>(TableNumerator(t, factorials) / rowMultinomial);
        const double g = LikelihoodRatioStatistic(t);
        const double x = PearsonStatistic(t);
        UpdateTally(result.Probability, TallyKind::Probability, p, observedP, p);
        UpdateTally(result.LikelihoodRatio, TallyKind::Statistic, g, observedG, p);
        UpdateTally(result.Pearson, TallyKind::Statistic, x, observedX, p);
    });
    return result;
}

LiteralResult LiteralOneWay(const std::vector<int>& counts) {
    const int k = static_cast<int>(counts.size());
    int n = 0;
    for (int v : counts) n += v;
    FactorialTable factorials;
    FillFactorials(factorials);
    const std::vector<double> proportions(static_cast<std::size_t>(k), 1.0 / k);
    std::vector<std::int32_t> x(counts.begin(), counts.end());
    const double observedP =
        static_cast<double>(MultinomialProbability(k, n, x.data(), proportions.data(), factorials));
    const double observedG = OneWayLikelihoodRatioStatistic(x, proportions);
    const double observedX = OneWayPearsonStatistic(x, proportions);
    LiteralResult result;
    std::function<void(int, int)> fill = [&](int i, int left) {
        if (i == k - 1) {
            x[static_cast<std::size_t>(i)] = left;
            ++result.SamplePoints;
            const double p =
                static_cast<double>(MultinomialProbability(k, n, x.data(), proportions.data(), factorials));
            const double g = OneWayLikelihoodRatioStatistic(x, proportions);
            const double chi = OneWayPearsonStatistic(x, proportions);
            UpdateTally(result.Probability, TallyKind::Probability, p, observedP, p);
            UpdateTally(result.LikelihoodRatio, TallyKind::Statistic, g, observedG, p);
            UpdateTally(result.Pearson, TallyKind::Statistic, chi, observedX, p);
            return;
        }
        for (int v = 0; v <= left; ++v) {
            x[static_cast<std::size_t>(i)] = v;
            fill(i + 1, left - v);
        }
    };
    fill(0, n);
    return result;
}

}  // namespace kelvorin::bench
