// Counts the sample points of an exact test before it is run: the r x c
// tables of non-negative integers with given row and column totals, or the
// one-way count vectors with a given sum. The count drives the progress
// percentage and the estimate of the time left, so it is computed cheaply
// and may come back as "unknown".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace kelvorin {

struct SamplePointEstimate {
    double Count = 0.0;            // the number of sample points; 0 when unknown
    bool Exact = false;            // Count is exact (it fits in 64 bits and was counted exactly)
    std::uint64_t ExactCount = 0;  // valid when Exact
    bool Reached = false;          // unknown, but at least the bound the counting stopped at
};

// Number of tables of non-negative integers with the given row and column
// totals. Exact while the count fits in 64 bits; above that Exact is false
// and Count is a long-double approximation rounded to double. When the
// counting would take more than a fixed amount of work, or the count does not
// fit in a double, Count is 0 and Exact false (unknown).
// Margins that admit no table (a negative total, or row and column totals
// with different sums) give an exact count of 0. Zero totals are allowed;
// a table with a single non-zero row or column has exactly one completion.
// With stopAt (below the largest value, which means never), the counting
// stops as soon as the tables counted so far reach that many: the count is
// then unknown, with Reached set.
SamplePointEstimate CountTwoWaySamplePoints(const std::vector<int>& rowTotals,
                                            const std::vector<int>& colTotals,
                                            std::uint64_t stopAt = std::numeric_limits<std::uint64_t>::max());

// A bound below the number of tables with the given (positive) row and
// column totals, found at once: one table with those margins is formed
// (the expected counts rounded down, the rest placed by the north-west
// corner rule), and with the other lines fixed, each pair of lines (the
// first two, the next two, ...) can be replaced by any two-line table with
// their totals and the pair's column sums; the pairs vary independently.
// The larger of the products for rows and for columns, saturating at the
// largest value. (Margins with different sums give 0. The work grows with
// the totals: meant for totals of a few thousand at most.)
std::uint64_t TablesAtLeast(const std::vector<int>& rowTotals, const std::vector<int>& colTotals);

// The number of tables with the given (positive) row and column totals,
// counted exactly as a coefficient: that of prod_i x_i^{R_i} in the product
// over the columns of the complete homogeneous polynomials h_{C_j}(x) in one
// variable per row (each column is a vector of row counts with sum C_j).
// The product of the first j columns lives on the points y <= R of total
// C_1 + ... + C_j, and multiplying by h_{C_{j+1}} sums it over every point
// below y: a dominance sum over the box of points 0 <= y <= R, one running
// sum along each axis. The rows are taken as the dimension whose box is the
// smaller, the columns multiplied in increasing order, and with at most six
// rows the last two in closed form; the work is about (rows) x (columns) x
// (box). Nothing when the box has more than maxPoints points, or the count
// reaches 2^63. going (when given) is called before counting and after about
// every million points visited; the count stops, with nothing, once it
// returns false.
std::optional<std::uint64_t> CountTwoWayTablesExactly(const std::vector<int>& rowTotals,
                                                      const std::vector<int>& colTotals,
                                                      std::size_t maxPoints,
                                                      const std::function<bool()>& going = {});

// The points of the box CountTwoWayTablesExactly counts over (the largest
// value where a total is not positive or the box is past the range).
std::size_t TwoWayCountBoxPoints(const std::vector<int>& rowTotals, const std::vector<int>& colTotals);

// Number of vectors of k non-negative counts with sum n: C(n + k - 1, k - 1).
// Exact while it fits in 64 bits, else approximated through lgammal; 0 and
// not exact when it does not fit in a double. Negative n or k gives an exact 0;
// k = 0 gives 1 for n = 0 and 0 otherwise.
SamplePointEstimate CountOneWaySamplePoints(int n, int k);

}  // namespace kelvorin
