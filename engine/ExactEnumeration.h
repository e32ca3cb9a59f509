// The exact enumeration of r x c tables with fixed margins: the factorial
// table, the probability of a table under independence given both margins
// (the multivariate hypergeometric probability
//   p = (R_1! ... R_r!)(C_1! ... C_c!) / (N! prod n_ij!) ),
// the likelihood-ratio and Pearson statistics, the three exact tallies and the
// enumerator that visits every table with the observed margins.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "AnalysisState.h"

namespace kelvorin {

class SamplePointStep;

// k! for k = 0..1000 in extended precision: entry k = k x entry (k-1).
void FillFactorials(FactorialTable& factorials);

// Factorials[C_j] / (Factorials[n_1j] x ... x Factorials[n_rj]), the product
// formed in row order from 1; for j = 0 it is N! / (R_1! ... R_r!). Every
// argument must be at most 1000.
long double ColumnCoefficient(const ContingencyTable& table, const FactorialTable& factorials, int j);

// The product of ColumnCoefficient(j) over j = 1..c, from 1.
long double TableNumerator(const ContingencyTable& table, const FactorialTable& factorials);

// N! / (R_1! ... R_r!). Above N = 1000 the largest row total m (the first row
// that has it) is divided out: N (N-1) ... (m+1) / prod_{i != m-row} R_i!.
// Returns false when it cannot be formed: another row total above 1000 (no
// factorial for it) or an overflow of the extended range.
bool ComputeRowMultinomial(const ContingencyTable& table, const FactorialTable& factorials,
                           long double& result);

// G2 = 2 sum n_ij ln(n_ij / e_ij) over the non-zero cells and
// X2 = sum (n_ij - e_ij)^2 / e_ij over all cells, e_ij = C_j R_i / N, of the
// table in Cells, in row-major order.
double LikelihoodRatioStatistic(const ContingencyTable& table);
double PearsonStatistic(const ContingencyTable& table);
// e_ij = (C_j x R_i) / N: the product in 32 bits, the quotient in extended
// precision rounded to double.
double ExpectedCount(const ContingencyTable& table, int i, int j);

// Which ordering a tally update is for: a point counts as equal when
// |a - b| / (a + b) is below 1e-10 for probabilities, 1e-9 for statistics.
// The quotient is formed only where a + b > 0 (probabilities) or a + b is
// not 0 (statistics); where it is not formed, or is negative, the point
// counts as equal.
enum class TallyKind { Probability, Statistic };
inline constexpr double kProbabilityTolerance = 1e-10;
inline constexpr double kStatisticTolerance = 1e-9;

// Where a sample point with value a falls against the observed value b:
// 0 less, 1 equal (within the tolerance), 2 greater.
int TallyClass(TallyKind kind, double a, double b);

// Sorts a sample point with value a against the observed value b into the
// tally, adding the sample point's probability p to the matching mass.
void UpdateTally(ExactTally& tally, TallyKind kind, double a, double b, double p);

// The tally rule (TallyClass) for a value a known to within +-error of the
// directly evaluated value, against a fixed observed value b, reduced to
// comparisons with edges worked out once. For b > 0 the relative difference
// |a - b| / (a + b) is below the tolerance t exactly when a lies between
// L = b (1 - t) / (1 + t) and H = b (1 + t) / (1 - t); below L is less, above
// H greater, and a <= -b (possible only for a statistic rounded just below
// 0) equal, since the quotient is then not positive. For b <= 0 every
// a > -b is greater (the quotient is at least 1). A value closer to an edge
// than the margin (its error, 1e-12 b for the rounding of the edges and of
// the rule's own arithmetic, and 1e-318 for that rounding among subnormal
// numbers, whose units are absolute) is not classed here: the caller
// applies TallyClass to its direct value.
class TallyBand {
public:
    TallyBand();
    TallyBand(TallyKind kind, double observed, double error);
    // 0 less, 1 equal, 2 greater, as TallyClass gives for every value within
    // the error of a; -1 when the error leaves the class open. The edges
    // rise, so the number of them below a says where it lies: above the
    // first (-b + margin) and at most the second (L - margin) is less, and
    // so on; an even number is in a margin. The comparisons are made on
    // OrderKey, one integer compare and add each.
    int Class(double a) const {
        const std::uint64_t key = OrderKey(a);
        const int above = static_cast<int>(key > edge_[0]) + static_cast<int>(key > edge_[1]) +
                          static_cast<int>(key > edge_[2]) + static_cast<int>(key > edge_[3]) +
                          static_cast<int>(key > edge_[4]);
        return kClassAbove[above];
    }

    // The class shared by every value in [low, high] when none of them is
    // left open and all have the same; -1 otherwise. Guess is tried first
    // and set to the class found.
    int Common(double low, double high, int& guess) const {
        if (low > lower_[guess] && high <= upper_[guess]) return guess;
        const int found = Class(low);
        if (found < 0 || !(high <= upper_[found])) return -1;
        guess = found;
        return found;
    }

    // An unsigned integer in the order of the doubles (for every double
    // but NaN, with -0 just below +0): the bits with the sign bit set for a
    // positive number, all bits flipped for a negative one.
    static std::uint64_t OrderKey(double a) {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(a);
        const std::uint64_t negative = static_cast<std::uint64_t>(static_cast<std::int64_t>(bits) >> 63);
        return bits ^ (negative | (std::uint64_t{1} << 63));
    }
    // The double whose OrderKey KEY is.
    static double FromOrderKey(std::uint64_t key) {
        return std::bit_cast<double>((key >> 63) != 0 ? key ^ (std::uint64_t{1} << 63) : ~key);
    }

private:
    static constexpr int kClassAbove[6] = {-1, 0, -1, 1, -1, 2};
    // The OrderKey of -b + margin, L - margin, L + margin, H - margin,
    // H + margin, each raised to the one before where margins overlap: the
    // open stretches then merge and the class between them has no room.
    // None is -0, so comparing keys is comparing the doubles.
    std::uint64_t edge_[5];
    // The same edges as doubles: each class holds the values above lower_
    // and at most upper_ (+infinity for greater).
    double lower_[3];
    double upper_[3];
};

// The tally rule's edges against an observed value b, in extended
// precision, for sums formed elsewhere than the direct evaluation: for
// b > 0 a value below Low = b (1 - t) / (1 + t) is less, above
// High = b (1 + t) / (1 - t) greater, between them equal. An observed
// probability rounded to 0: a probability that rounds to 0 too is equal
// (the quotient is not formed), any other greater; both edges are half the
// least double, and below them is equal (LowClass 1). An observed statistic
// rounded to 0 or below: a value a with a + b below 0 is equal (the
// quotient is negative), one above -b greater: the edges are b and -b (no
// value lies below b by more than the rounding).
struct TallyRuleEdges {
    long double Low = 0.0L;
    long double High = 0.0L;
    int LowClass = 0;
};
TallyRuleEdges RuleEdges(TallyKind kind, double observed);

// The class of a value V formed within MARGIN of the direct evaluation's,
// against edges LOW and HIGH in the value's units (the class below LOW being
// LOWCLASS): -1 where the margin reaches across an edge.
inline int ClassWithinMargin(long double v, long double low, long double high, long double margin, int lowClass) {
    if (v < low - margin) return lowClass;
    if (v <= low + margin) return -1;
    if (v < high - margin) return 1;
    if (v <= high + margin) return -1;
    return 2;
}

// Per-cell terms of the two statistics for every count a cell can take,
// tabulated once per run: the sums over a table read them in the same order
// and with the same values as the direct evaluation, so the statistics of
// every sample point are identical to LikelihoodRatioStatistic and
// PearsonStatistic.
class StatisticTerms {
public:
    // Tabulates when the tables stay below a fixed size; otherwise
    // Available() is false and the caller evaluates directly.
    void Prepare(const ContingencyTable& table, bool likelihoodRatio, bool pearson);
    bool Available() const { return available_; }
    double LikelihoodRatio(const ContingencyTable& table) const;
    double Pearson(const ContingencyTable& table) const;
    // The terms of cell (i, j) for the count n: only where Available() and
    // that statistic was prepared.
    const double& LikelihoodRatioTerm(int i, int j, int n) const {
        return lrTerm_[Offset(i, j) + static_cast<std::size_t>(n)];
    }
    const double& PearsonTerm(int i, int j, int n) const { return chiTerm_[Offset(i, j) + static_cast<std::size_t>(n)]; }
    // Sum over the cells of the largest magnitude of each statistic's term:
    // a bound of every partial sum, used to bound rounding errors.
    double LikelihoodRatioMagnitude() const { return lrMagnitude_; }
    double PearsonMagnitude() const { return chiMagnitude_; }

private:
    std::size_t Offset(int i, int j) const { return offset_[static_cast<std::size_t>((i - 1) * cols_ + (j - 1))]; }

    bool available_ = false;
    double lrMagnitude_ = 0.0;
    double chiMagnitude_ = 0.0;
    int rows_ = 0;
    int cols_ = 0;
    std::vector<std::size_t> offset_;  // per cell (i-1)*c + (j-1)
    std::vector<double> lrTerm_;
    std::vector<double> chiTerm_;
};

// A sample point's values as the enumeration evaluates the table in Cells
// directly (terms prepared for the state's table): its probability
// TableNumerator / RowMultinomial, and G2 and X2 where the state computes
// them (0 otherwise). False when the numerator overflows the extended range.
bool EvaluateTable(const ContingencyTable& table, const AnalysisState& state, const StatisticTerms& terms, double& p,
                   double& g, double& x);

// Visits every r x c table with the margins of the table in the state, in
// the fixed order: the last row is the outermost loop, row 2 the innermost
// enumerated row, row 1 the remainder; within a row x_1 varies slowest and
// x_(c-1) fastest, x_c takes the rest. Each table is handed to the step (in
// rows 1..r of Cells whenever the step or the user may look at it, and at
// the end); the enumeration stops after the sample point at which Abandoned
// becomes set. Working storage is allocated once per enumeration, so memory
// does not grow with the number of sample points, and the recursion is as
// deep as the table has rows.
class TwoWayEnumerator {
public:
    TwoWayEnumerator(AnalysisState& state, SamplePointStep& step);
    void EnumerateTables();

private:
    void Enumerate(int level, const std::int32_t* remaining);
    void VisitCurrentTable();

    // Rows 2 and 1 under fixed rows 3..r, without writing every table:
    //  - the probability is TableNumerator / RowMultinomial formed with the
    //    very operations of the direct evaluation, so it has its bits. Of
    //    ColumnCoefficient(j) only cells (1, j) and (2, j) vary, and (1, j)
    //    is the column's remaining total less (2, j), so it is tabulated per
    //    column against x = (2, j); the product over the columns is then
    //    formed in column order as TableNumerator forms it: the first c - 2
    //    factors once per run of the innermost position, the last two per
    //    sample point.
    //  - each statistic is the sum of the terms of rows 3..r and of the
    //    pairs (1, j) + (2, j) tabulated per column, taken in another order
    //    than the direct sum; both are within a bound of the exact sum of
    //    the same terms, so their difference is the error that the
    //    statistic's TallyBand allows for.
    // Instantiated for the statistics that are tallied.
    template <bool LikelihoodRatio, bool Pearson>
    void SweepRowTwo(const std::int32_t* remaining);
    // Tabulates the columns whose cells in rows 3..r changed since their
    // tables were made, and sums the statistics' terms of rows 3..r.
    void PrepareRowTwo(const std::int32_t* remaining);

    bool incremental_ = false;
    void (TwoWayEnumerator::*sweep_)(const std::int32_t*) = nullptr;

    AnalysisState& state_;
    SamplePointStep& step_;
    int rows_;
    int cols_;
    StatisticTerms terms_;
    // Per level k (1..r): bounds, partial sums and row values, indexed 1..c.
    std::vector<std::int32_t> storage_;
    std::vector<std::int32_t> rowsBefore_;  // R_1 + ... + R_(k-1)

    // Per column j, indexed by x = count of cell (2, j), from
    // columnOffset_[j]: ColumnCoefficient(j) and the statistics' terms of
    // (1, j) + (2, j), for the x the current rows 3..r allow.
    struct ColumnEntry {
        long double Coefficient;
        double LikelihoodRatio;
        double Pearson;
    };
    std::vector<std::size_t> columnOffset_;
    std::vector<ColumnEntry> columnEntries_;
    // Per column: the remaining total and the cells of rows 3..r for which
    // its entries were made (r - 1 numbers each).
    std::vector<std::int32_t> columnKey_;
    std::vector<long double> rowsAboveFactorials_;  // of a column's cells in rows 3..r
    // Per position j = 0..c-3 of row 2 (the odometer's; the middle position
    // c-2 is carried in locals): the product of the coefficients of
    // columns 1..j in column order from 1, and the sums of the terms of rows
    // 3..r and of the pairs of columns 1..j.
    std::vector<long double> leadingProduct_;
    std::vector<double> leadingLr_;
    std::vector<double> leadingChi_;
    // The probabilities and statistics of the points of a block.
    std::vector<double> bufferP_;
    std::vector<double> bufferLr_;
    std::vector<double> bufferChi_;
    TallyBand bands_[3];  // probability, likelihood ratio, Pearson
};

}  // namespace kelvorin
