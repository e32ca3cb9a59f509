// The exact test of goodness of fit of a single row or column of k category
// counts with total n against proportions p_0..p_(k-1): every way of
// distributing n observations over the k categories is a sample point, with
// its multinomial probability n! / (x_0! ... x_(k-1)!) p_0^x_0 ... p_(k-1)^x_(k-1).
#pragma once

#include <cstddef>
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

// The probability and the statistics of one-way sample points, as the
// formulas read: the probability with MultinomialProbability's operations in
// its order (the powers p_i^x tabulated from the same power function, up to
// n = 1000), each statistic as the sum of its category terms in category
// order, the terms tabulated once where that is small enough. Every caller
// gets the very bits of the direct evaluation.
class OneWayValues {
public:
    explicit OneWayValues(const AnalysisState& state);
    // Whether the terms of K categories with counts up to N are tabulated
    // (then Power, with N at most 1000, and the terms may be read).
    static bool Tabulates(int k, int n) {
        return static_cast<std::size_t>(k) * static_cast<std::size_t>(n + 1) <= (std::size_t{1} << 22);
    }
    // P is the probability rounded to double; G and X the likelihood ratio
    // and Pearson's statistic where the state computes them, else 0.
    void Evaluate(const std::vector<std::int32_t>& counts, double& p, double& g, double& x) const;

    // The tabulated parts of category I with count X (n at most 1000 and
    // the statistics computed): p_i^x, and the statistics' terms.
    long double Power(int i, int x) const { return powers_[At(i, x)]; }
    double LikelihoodRatioTerm(int i, int x) const { return lrTerm_[At(i, x)]; }
    double PearsonTerm(int i, int x) const { return chiTerm_[At(i, x)]; }

private:
    std::size_t At(int i, int x) const {
        return static_cast<std::size_t>(i) * static_cast<std::size_t>(n_ + 1) + static_cast<std::size_t>(x);
    }

    const AnalysisState& state_;
    int k_;
    int n_;
    bool tabulated_ = false;
    std::vector<double> lrTerm_;
    std::vector<double> chiTerm_;
    std::vector<long double> powers_;
};

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
    OneWayValues values_;
};

}  // namespace kelvorin
