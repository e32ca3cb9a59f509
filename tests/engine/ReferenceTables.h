// A literal, slow reference of the exact tests, written for the tests from
// the definitions alone: every table with given margins in the enumeration's
// visiting order, the probability of a table from the factorial table, the
// two statistics cell by cell and the tally rule. The engine is expected to
// agree with it to the last bit.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace kelvorin::reference {

using Table = std::vector<std::vector<int>>;  // rows of counts, 0-based

// The table as text for test messages: "[ 1 2 ][ 3 4 ]".
inline std::string Text(const Table& t) {
    std::ostringstream out;
    for (const auto& row : t) {
        out << "[";
        for (int v : row) out << " " << v;
        out << " ]";
    }
    return out.str();
}

inline std::vector<int> RowTotals(const Table& t) {
    std::vector<int> totals;
    for (const auto& row : t) {
        int s = 0;
        for (int v : row) s += v;
        totals.push_back(s);
    }
    return totals;
}

inline std::vector<int> ColTotals(const Table& t) {
    std::vector<int> totals(t.empty() ? 0 : t[0].size(), 0);
    for (const auto& row : t)
        for (std::size_t j = 0; j < row.size(); ++j) totals[j] += row[j];
    return totals;
}

// Every vector x with x_1 + ... + x_c = total and 0 <= x_j <= limits_j, in
// lexicographic order (x_1 slowest).
inline void RowVectorsFrom(int total, const std::vector<int>& limits, std::vector<int>& x, std::size_t j,
                           std::vector<std::vector<int>>& out) {
    if (j + 1 == limits.size()) {
        if (total >= 0 && total <= limits[j]) {
            x[j] = total;
            out.push_back(x);
        }
        return;
    }
    for (int v = 0; v <= limits[j] && v <= total; ++v) {
        x[j] = v;
        RowVectorsFrom(total - v, limits, x, j + 1, out);
    }
}

inline std::vector<std::vector<int>> RowVectors(int total, const std::vector<int>& limits) {
    std::vector<std::vector<int>> out;
    std::vector<int> x(limits.size(), 0);
    RowVectorsFrom(total, limits, x, 0, out);
    return out;
}

// All tables with these margins, in the order of the exact enumeration: the
// last row is the outermost loop, row 2 the innermost, row 1 the remainder;
// the vectors of each row in lexicographic order. Any non-negative remainder
// of the column totals can be completed by the rows above, so a row vector is
// admitted whenever it fits under the remaining column totals.
inline void TablesFrom(std::size_t level, const std::vector<int>& rowTotals, const std::vector<int>& remaining,
                       Table& table, std::vector<Table>& out) {
    if (level == 0) {
        table[0] = remaining;
        out.push_back(table);
        return;
    }
    for (const auto& x : RowVectors(rowTotals[level], remaining)) {
        std::vector<int> next(remaining);
        for (std::size_t j = 0; j < next.size(); ++j) next[j] -= x[j];
        table[level] = x;
        TablesFrom(level - 1, rowTotals, next, table, out);
    }
}

inline std::vector<Table> TablesInVisitingOrder(const std::vector<int>& rowTotals,
                                                const std::vector<int>& colTotals) {
    std::vector<Table> out;
    Table table(rowTotals.size(), std::vector<int>(colTotals.size(), 0));
    TablesFrom(rowTotals.size() - 1, rowTotals, colTotals, table, out);
    return out;
}

// Every vector of k non-negative counts with sum n, in lexicographic order.
inline std::vector<std::vector<int>> Compositions(int k, int n) {
    return RowVectors(n, std::vector<int>(static_cast<std::size_t>(k), n));
}

// k! for k = 0..1000 in extended precision, each the product of k and the
// one before.
struct Factorials {
    std::array<long double, 1001> f{};
    Factorials() {
        f[0] = 1.0L;
        for (int k = 1; k <= 1000; ++k) f[static_cast<std::size_t>(k)] = static_cast<long double>(k) * f[static_cast<std::size_t>(k - 1)];
    }
    long double operator[](int k) const { return f[static_cast<std::size_t>(k)]; }
};

// p = TableNumerator / RowMultinomial, in extended precision, rounded to
// double; every product is formed from 1 in row (or column) order.
inline double Probability(const Table& t, const Factorials& F) {
    const std::vector<int> rows = RowTotals(t);
    const std::vector<int> cols = ColTotals(t);
    int n = 0;
    for (int r : rows) n += r;
    long double rowProduct = 1.0L;
    for (int r : rows) rowProduct *= F[r];
    const long double rowMultinomial = F[n] / rowProduct;
    long double numerator = 1.0L;
    for (std::size_t j = 0; j < cols.size(); ++j) {
        long double product = 1.0L;
        for (std::size_t i = 0; i < t.size(); ++i) product *= F[t[i][j]];
        numerator *= F[cols[j]] / product;
    }
    return static_cast<double>(numerator / rowMultinomial);
}

// e_ij = (C_j x R_i) / N: the product in 32-bit integers, the quotient in
// extended precision, rounded to double.
inline double Expected(int rowTotal, int colTotal, int n) {
    const std::int32_t product = colTotal * rowTotal;
    return static_cast<double>(static_cast<long double>(product) / static_cast<long double>(n));
}

inline double LikelihoodRatio(const Table& t) {
    const std::vector<int> rows = RowTotals(t);
    const std::vector<int> cols = ColTotals(t);
    int n = 0;
    for (int r : rows) n += r;
    double sum = 0.0;
    for (std::size_t i = 0; i < t.size(); ++i)
        for (std::size_t j = 0; j < cols.size(); ++j) {
            if (t[i][j] == 0) continue;
            const double o = t[i][j];
            const double e = Expected(rows[i], cols[j], n);
            sum += o * std::log(o / e);
        }
    return 2.0 * sum;
}

inline double Pearson(const Table& t) {
    const std::vector<int> rows = RowTotals(t);
    const std::vector<int> cols = ColTotals(t);
    int n = 0;
    for (int r : rows) n += r;
    double sum = 0.0;
    for (std::size_t i = 0; i < t.size(); ++i)
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const double e = Expected(rows[i], cols[j], n);
            const double d = t[i][j] - e;
            sum += d * d / e;
        }
    return sum;
}

// The multinomial probability of counts x against proportions p for n up to
// 1000: n! over the product of the x_i! (from 1, in order), times p_i^x_i by
// the extended power function; rounded to double.
inline double MultinomialProbability(const std::vector<int>& x, const std::vector<double>& p, const Factorials& F) {
    int n = 0;
    for (int v : x) n += v;
    long double denominator = 1.0L;
    for (int v : x) denominator *= F[v];
    long double coefficient = F[n] / denominator;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0) coefficient *= std::pow(static_cast<long double>(p[i]), static_cast<long double>(x[i]));
    return static_cast<double>(coefficient);
}

inline double OneWayLikelihoodRatio(const std::vector<int>& x, const std::vector<double>& p) {
    double n = 0.0;
    for (int v : x) n += v;
    double sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i] == 0) continue;
        const double e = n * p[i];
        const double o = x[i];
        sum += o * std::log(o / e);
    }
    return 2.0 * sum;
}

inline double OneWayPearson(const std::vector<int>& x, const std::vector<double>& p) {
    double n = 0.0;
    for (int v : x) n += v;
    double sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double e = n * p[i];
        const double d = x[i] - e;
        sum += d * d / e;
    }
    return sum;
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
    double d = 0.0;
    if (probability ? a + b > 0.0 : a + b != 0.0) {
        const long double la = a;
        const long double lb = b;
        d = static_cast<double>(std::fabs(la - lb) / (la + lb));
    }
    const double tolerance = probability ? 1e-10 : 1e-9;
    if (d < tolerance) {
        ++tally.equal;
        tally.equalMass += p;
    } else if (a >= b) {
        ++tally.greater;
        tally.greaterMass += p;
    } else {
        ++tally.less;
        tally.lessMass += p;
    }
}

}  // namespace kelvorin::reference
