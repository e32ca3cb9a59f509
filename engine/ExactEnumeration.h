// The exact enumeration of r x c tables with fixed margins: the factorial
// table, the probability of a table under independence given both margins
// (the multivariate hypergeometric probability
//   p = (R_1! ... R_r!)(C_1! ... C_c!) / (N! prod n_ij!) ),
// the likelihood-ratio and Pearson statistics, the three exact tallies and the
// enumerator that visits every table with the observed margins.
#pragma once

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

// Which ordering a tally update is for: probabilities count as equal when
// their relative difference is below 1e-10 (and only when a + b > 0), the
// statistics below 1e-9 (when a + b is not 0).
enum class TallyKind { Probability, Statistic };
inline constexpr double kProbabilityTolerance = 1e-10;
inline constexpr double kStatisticTolerance = 1e-9;

// Where a sample point with value a falls against the observed value b:
// 0 less, 1 equal (within the tolerance), 2 greater.
int TallyClass(TallyKind kind, double a, double b);

// Sorts a sample point with value a against the observed value b into the
// tally, adding the sample point's probability p to the matching mass.
void UpdateTally(ExactTally& tally, TallyKind kind, double a, double b, double p);

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
    // The terms of cell (i, j) for the count n (zero when not tabulated).
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

// Visits every r x c table with the margins of the table in the state, in
// the fixed order: the last row is the outermost loop, row 2 the innermost
// enumerated row, row 1 the remainder; within a row x_1 varies slowest and
// x_(c-1) fastest, x_c takes the rest. Each table is written into rows 1..r
// of Cells and handed to the step; the enumeration stops after the sample
// point at which Abandoned becomes set. Working storage is allocated once per
// enumeration, so memory does not grow with the number of sample points, and
// the recursion is as deep as the table has rows.
class TwoWayEnumerator {
public:
    TwoWayEnumerator(AnalysisState& state, SamplePointStep& step);
    void EnumerateTables();

private:
    void Enumerate(int level, const std::int32_t* remaining);
    void VisitCurrentTable();
    // The innermost run of row 2 over x_(2,c-1) = first..last with the
    // cells before it fixed: the first sample point is evaluated directly,
    // each further one updated from the previous, since only four cells
    // change: (2,c-1) and (1,c) up by one, (2,c) and (1,c-1) down by one.
    // The first run of row 2 for the current rows 3..r starts from values
    // evaluated directly; each later run from where the previous one ended.
    void InnermostRun(const std::int32_t* remaining, std::int32_t partial, std::int32_t first, std::int32_t last);
    void StartRow2();
    double DirectValue(int which) const;

    // The values of the last sample point visited by InnermostRun, with
    // their bounds against the direct evaluation (absolute for the
    // statistics' half sum and sum, relative for the probability's
    // extended quotient, of which the direct evaluation's rounding to double
    // is reproduced exactly).
    struct Carry {
        bool Valid = false;
        std::vector<std::int32_t> Row2;      // row 2 being set up, [1..c]
        std::vector<std::int32_t> Previous;  // row 2 of the last point, [1..c]
        long double Q = 0.0L;  // TableNumerator / RowMultinomial
        double QUlps = 0.0;    // bound of its error, in units of 2^-64 of Q
        double LrSum = 0.0;
        double ChiSum = 0.0;
        double LrError = 0.0;
        double ChiError = 0.0;
    };

    bool incremental_ = false;
    double directUlps_ = 0.0;
    Carry carry_;

    AnalysisState& state_;
    SamplePointStep& step_;
    int rows_;
    int cols_;
    StatisticTerms terms_;
    // Per level k (1..r): bounds, partial sums and row values, indexed 1..c.
    std::vector<std::int32_t> storage_;
    std::vector<std::int32_t> rowsBefore_;  // R_1 + ... + R_(k-1)
};

}  // namespace kelvorin
