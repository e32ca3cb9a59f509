// A literal, slow reference of the exact tests from their definitions alone,
// which the engine is expected to match to the last bit.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace kelvorin::reference {

using Table = std::vector<std::vector<int>>;  // rows of counts, 0-based

// The table as text for test messages: "[ 1 2 ][ 3 4 ]".
inline std::string Text(const Table& t) {
    std::ostringstream out;
    for (const auto& row : t) {
        for (const int& v : row) out << (&v == &row.front() ? "[ " : " ") << v;
        out << " ]";
    }
    return out.str();
}

inline std::vector<int> RowTotals(const Table& t) {
    std::vector<int> totals;
    for (const auto& row : t) totals.push_back(std::accumulate(row.begin(), row.end(), 0));
    return totals;
}
inline std::vector<int> ColTotals(const Table& t) {
    std::vector<int> totals(t.empty() ? 0 : t[0].size(), 0);
    for (const auto& row : t)
        for (std::size_t j = 0; j < row.size(); ++j) totals[j] += row[j];
    return totals;
}

// Every vector x with sum `total` and 0 <= x_j <= limits_j, in lexicographic
// order (x_1 slowest).
inline std::vector<std::vector<int>> RowVectors(int total, const std::vector<int>& limits) {
    std::vector<std::vector<int>> out;
    std::vector<int> x(limits.size(), 0);
    auto fill = [&](auto& self, std::size_t j, int left) -> void {
        if (j + 1 == limits.size()) {
            x[j] = left;
            if (left <= limits[j]) out.push_back(x);
            return;
        }
        for (x[j] = 0; x[j] <= limits[j] && x[j] <= left; ++x[j]) self(self, j + 1, left - x[j]);
    };
    fill(fill, 0, total);
    return out;
}

// Every vector of k non-negative counts with sum n, in lexicographic order.
inline std::vector<std::vector<int>> Compositions(int k, int n) { return RowVectors(n, std::vector<int>(std::size_t(k), n)); }

// All tables with these margins in the enumeration's order: the last row
// outermost, row 2 innermost, row 1 the remainder, each row's vectors in
// lexicographic order (any that fits under the remaining column totals).
inline std::vector<Table> TablesInVisitingOrder(const std::vector<int>& rowTotals, const std::vector<int>& colTotals) {
    std::vector<Table> out;
    Table table(rowTotals.size());
    auto fill = [&](auto& self, std::size_t level, const std::vector<int>& remaining) -> void {
        if (level == 0) return table[0] = remaining, out.push_back(table);
        for (const auto& x : RowVectors(rowTotals[level], remaining)) {
            std::vector<int> next(remaining);
            for (std::size_t j = 0; j < next.size(); ++j) next[j] -= x[j];
            table[level] = x;
            self(self, level - 1, next);
        }
    };
    fill(fill, rowTotals.size() - 1, colTotals);
    return out;
}

// k! for k = 0..1000 in extended precision, each k times the one before.
struct Factorials {
    std::array<long double, 1001> f{};
    Factorials() {
        f[0] = 1.0L;
        for (std::size_t k = 1; k <= 1000; ++k) f[k] = static_cast<long double>(k) * f[k - 1];
    }
    long double operator[](int k) const { return f[static_cast<std::size_t>(k)]; }
};

// p = TableNumerator / RowMultinomial, in extended precision, rounded to
// double; every product is formed from 1 in row (or column) order.
inline double Probability(const Table& t, const Factorials& F) {
    const std::vector<int> rows = RowTotals(t), cols = ColTotals(t);
    long double rowProduct = 1.0L, numerator = 1.0L;
    for (int r : rows) rowProduct *= F[r];
    const long double rowMultinomial = F[std::accumulate(rows.begin(), rows.end(), 0)] / rowProduct;
    for (std::size_t j = 0; j < cols.size(); ++j) {
        long double product = 1.0L;
        for (std::size_t i = 0; i < t.size(); ++i) product *= F[t[i][j]];
        numerator *= F[cols[j]] / product;
    }
    return static_cast<double>(numerator / rowMultinomial);
}

// G2 = 2 sum o ln(o / e) over the non-zero cells (pearson false) or
// X2 = sum (o - e)^2 / e, cell by cell, with e = (C_j x R_i) / N: the product
// in 32-bit integers, the quotient in extended precision rounded to double.
inline double Statistic(const Table& t, bool pearson) {
    const std::vector<int> rows = RowTotals(t), cols = ColTotals(t);
    const long double n = std::accumulate(rows.begin(), rows.end(), 0);
    double sum = 0.0;
    for (std::size_t i = 0; i < t.size(); ++i)
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const double o = t[i][j], e = static_cast<double>(static_cast<std::int32_t>(cols[j] * rows[i]) / n);
            if (pearson) sum += (o - e) * (o - e) / e;
            else if (t[i][j] != 0) sum += o * std::log(o / e);
        }
    return pearson ? sum : 2.0 * sum;
}
inline double LikelihoodRatio(const Table& t) { return Statistic(t, false); }
inline double Pearson(const Table& t) { return Statistic(t, true); }

// n! / prod x_i! (from 1, in order) x prod p_i^x_i (extended power), n <= 1000.
inline double MultinomialProbability(const std::vector<int>& x, const std::vector<double>& p, const Factorials& F) {
    long double denominator = 1.0L;
    for (int v : x) denominator *= F[v];
    long double coefficient = F[std::accumulate(x.begin(), x.end(), 0)] / denominator;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0) coefficient *= std::pow(static_cast<long double>(p[i]), static_cast<long double>(x[i]));
    return static_cast<double>(coefficient);
}

// The one-way G2 (pearson false) or X2 against the expected counts n p_i.
inline double OneWayStatistic(const std::vector<int>& x, const std::vector<double>& p, bool pearson) {
    const double n = std::accumulate(x.begin(), x.end(), 0);
    double sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double o = x[i], e = n * p[i];
        if (pearson) sum += (o - e) * (o - e) / e;
        else if (x[i] != 0) sum += o * std::log(o / e);
    }
    return pearson ? sum : 2.0 * sum;
}

struct Tally {
    std::int64_t less = 0, equal = 0, greater = 0;
    double lessMass = 0.0, equalMass = 0.0, greaterMass = 0.0;
};

// The tally rule: relative difference |a - b| / (a + b) in extended
// precision rounded to double (0 when a + b > 0 fails for probabilities, when
// a + b is 0 for statistics); below the tolerance equal, otherwise greater
// when a >= b, else less; the sample point's probability goes to the mass.
inline void Update(Tally& tally, bool probability, double a, double b, double p) {
    const long double la = a, lb = b;
    const bool formed = probability ? a + b > 0.0 : a + b != 0.0;
    const double d = formed ? static_cast<double>(std::fabs(la - lb) / (la + lb)) : 0.0;
    if (d < (probability ? 1e-10 : 1e-9)) ++tally.equal, tally.equalMass += p;
    else if (a >= b) ++tally.greater, tally.greaterMass += p;
    else ++tally.less, tally.lessMass += p;
}

}  // namespace kelvorin::reference
