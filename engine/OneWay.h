// The exact test of goodness of fit of a single row or column of k category
// counts with total n against proportions p_0..p_(k-1): every way of
// distributing n observations over the k categories is a sample point, with
// its multinomial probability n! / (x_0! ... x_(k-1)!) p_0^x_0 ... p_(k-1)^x_(k-1).
#pragma once

#include <cstdint>
#include <vector>

#include "AnalysisState.h"

namespace kelvorin {

class SamplePointStep;

// The multinomial probability of the counts, in extended precision. Up to
// n = 1000 from the factorial table and the extended power function; above
// that the largest count m is divided out (n (n-1) ... (m+1) over the other
// counts' factorials) and the proportions are applied by repeated
// multiplication. Where that cannot be formed (two counts above 1000, or an
// overflow of the extended range) it is computed from log-factorials
// (lgamma) in extended precision instead, so every sample point gets its
// true probability.
long double MultinomialProbability(int k, int n, const std::int32_t* counts, const double* proportions,
                                   const FactorialTable& factorials);

// 2 sum x_i ln(x_i / e_i) over the non-zero counts and
// sum (x_i - e_i)^2 / e_i, with e_i = n p_i and n the sum of the counts.
double OneWayLikelihoodRatioStatistic(const std::vector<std::int32_t>& counts,
                                      const std::vector<double>& proportions);
double OneWayPearsonStatistic(const std::vector<std::int32_t>& counts, const std::vector<double>& proportions);

// Visits every vector of k non-negative counts with sum n in lexicographic
// order of (x_0, ..., x_(k-2)) (x_0 slowest, x_(k-1) the remainder), writing
// each into CategoryCounts; stops after the sample point at which Abandoned
// becomes set.
class OneWayEnumerator {
public:
    OneWayEnumerator(AnalysisState& state, SamplePointStep& step);
    void EnumerateCategories();

private:
    void Visit();

    AnalysisState& state_;
    SamplePointStep& step_;
    int k_;
    int n_;
    double total_;
    // Per-category terms of the statistics for every count 0..n, tabulated
    // once (when small enough), read in category order like the direct sums.
    bool tabulated_ = false;
    std::vector<double> lrTerm_;
    std::vector<double> chiTerm_;
    // p_i^x for every category and count 0..n, from the same extended power
    // function the probability uses (up to n = 1000).
    std::vector<long double> powers_;
};

}  // namespace kelvorin
