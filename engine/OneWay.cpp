#include "OneWay.h"

#include <cmath>

#include "FloatingPointGuard.h"
#include "SamplePointStep.h"

namespace kelvorin {

namespace {

long double LogMultinomialProbability(int k, int n, const std::int32_t* counts, const double* proportions) {
    long double logP = std::lgamma(static_cast<long double>(n) + 1.0L);
    for (int i = 0; i < k; ++i) {
        if (counts[i] == 0) continue;
        logP -= std::lgamma(static_cast<long double>(counts[i]) + 1.0L);
        logP += counts[i] * std::log(static_cast<long double>(proportions[i]));
    }
    return std::exp(logP);
}

}  // namespace

long double MultinomialProbability(int k, int n, const std::int32_t* counts, const double* proportions,
                                   const FactorialTable& factorials) {
    long double coefficient = 0.0L;
    if (n <= kFactorialLimit) {
        long double denominator = 1.0L;
        for (int i = 0; i < k; ++i) denominator *= factorials[counts[i]];
        coefficient = factorials[n] / denominator;
    } else {
        int large = 0;
        for (int i = 0; i < k; ++i)
            if (counts[i] > kFactorialLimit) ++large;
        if (large >= 2) return LogMultinomialProbability(k, n, counts, proportions);
        int largest = 0;
        for (int i = 1; i < k; ++i)
            if (counts[i] > counts[largest]) largest = i;
        long double numerator = 1.0L;
        for (int v = n; v > counts[largest]; --v) numerator *= static_cast<long double>(v);
        long double denominator = 1.0L;
        for (int i = 0; i < k; ++i)
            if (i != largest) denominator *= factorials[counts[i]];
        coefficient = numerator / denominator;
        if (!std::isfinite(coefficient)) return LogMultinomialProbability(k, n, counts, proportions);
    }
    if (!(coefficient > 0.0L)) return coefficient;
    for (int i = 0; i < k; ++i) {
        if (counts[i] == 0) continue;
        const long double p = proportions[i];
        if (n <= kFactorialLimit) {
            coefficient *= std::pow(p, static_cast<long double>(counts[i]));
        } else {
            for (int t = 0; t < counts[i]; ++t) coefficient *= p;
        }
    }
    return coefficient;
}

double OneWayLikelihoodRatioStatistic(const std::vector<std::int32_t>& counts,
                                      const std::vector<double>& proportions) {
    double n = 0.0;
    for (std::int32_t x : counts) n += x;
    double sum = 0.0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double e = n * proportions[i];
        if (counts[i] == 0) continue;
        const double x = counts[i];
        sum += x * std::log(x / e);
    }
    return 2.0 * sum;
}

double OneWayPearsonStatistic(const std::vector<std::int32_t>& counts, const std::vector<double>& proportions) {
    double n = 0.0;
    for (std::int32_t x : counts) n += x;
    double sum = 0.0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double e = n * proportions[i];
        const double difference = counts[i] - e;
        sum += difference * difference / e;
    }
    return sum;
}

OneWayValues::OneWayValues(const AnalysisState& state)
    : state_(state), k_(state.Categories), n_(state.CategoryTotal) {
    const std::size_t entries = static_cast<std::size_t>(k_) * static_cast<std::size_t>(n_ + 1);
    tabulated_ = Tabulates(k_, n_);
    if (!tabulated_) return;
    if (n_ <= kFactorialLimit) {
        powers_.resize(entries);
        for (int i = 0; i < k_; ++i)
            for (int x = 0; x <= n_; ++x)
                powers_[static_cast<std::size_t>(i) * static_cast<std::size_t>(n_ + 1) + static_cast<std::size_t>(x)] =
                    std::pow(static_cast<long double>(state.Proportions[static_cast<std::size_t>(i)]),
                             static_cast<long double>(x));
    }
    const double total = n_;
    if (state.ComputeLR) lrTerm_.resize(entries);
    if (state.ComputeChi) chiTerm_.resize(entries);
    for (int i = 0; i < k_; ++i) {
        const double e = total * state.Proportions[static_cast<std::size_t>(i)];
        for (int x = 0; x <= n_; ++x) {
            const std::size_t at = static_cast<std::size_t>(i) * static_cast<std::size_t>(n_ + 1) + static_cast<std::size_t>(x);
            const double v = x;
            if (state.ComputeLR) lrTerm_[at] = x == 0 ? 0.0 : v * std::log(v / e);
            if (state.ComputeChi) {
                const double difference = v - e;
                chiTerm_[at] = difference * difference / e;
            }
        }
    }
}

void OneWayValues::Evaluate(const std::vector<std::int32_t>& counts, double& p, double& g, double& x) const {
    long double probability;
    if (!powers_.empty()) {
        // The same products as MultinomialProbability, with the powers read
        // from the table.
        const std::size_t stride = static_cast<std::size_t>(n_ + 1);
        long double denominator = 1.0L;
        for (int i = 0; i < k_; ++i) denominator *= state_.Factorials[counts[static_cast<std::size_t>(i)]];
        probability = state_.Factorials[n_] / denominator;
        for (int i = 0; i < k_; ++i)
            if (const std::int32_t c = counts[static_cast<std::size_t>(i)]; c != 0)
                probability *= powers_[static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(c)];
    } else {
        probability = MultinomialProbability(k_, n_, counts.data(), state_.Proportions.data(), state_.Factorials);
    }
    p = static_cast<double>(probability);
    g = 0.0;
    x = 0.0;
    if (tabulated_) {
        const std::size_t stride = static_cast<std::size_t>(n_ + 1);
        if (state_.ComputeLR) {
            double sum = 0.0;
            for (int i = 0; i < k_; ++i)
                sum += lrTerm_[static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(counts[static_cast<std::size_t>(i)])];
            g = 2.0 * sum;
        }
        if (state_.ComputeChi) {
            for (int i = 0; i < k_; ++i)
                x += chiTerm_[static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(counts[static_cast<std::size_t>(i)])];
        }
    } else {
        if (state_.ComputeLR) g = OneWayLikelihoodRatioStatistic(counts, state_.Proportions);
        if (state_.ComputeChi) x = OneWayPearsonStatistic(counts, state_.Proportions);
    }
}

OneWayEnumerator::OneWayEnumerator(AnalysisState& state, SamplePointStep& step)
    : state_(state), step_(step), values_(state) {}

void OneWayEnumerator::Visit() {
    double p = 0.0;
    double g = 0.0;
    double x = 0.0;
    values_.Evaluate(state_.CategoryCounts, p, g, x);
    step_.Visit(p, g, x);
}

void OneWayEnumerator::EnumerateCategories() {
    std::vector<std::int32_t>& x = state_.CategoryCounts;
    const int k = state_.Categories;
    const int n = state_.CategoryTotal;
    for (int i = 0; i < k; ++i) x[static_cast<std::size_t>(i)] = 0;
    for (;;) {
        int partial = 0;
        for (int i = 0; i <= k - 3; ++i) partial += x[static_cast<std::size_t>(i)];
        for (int v = 0; v <= n - partial; ++v) {
            x[static_cast<std::size_t>(k - 2)] = v;
            x[static_cast<std::size_t>(k - 1)] = n - partial - v;
            Visit();
            if (state_.Abandoned) return;
        }
        if (k == 2) return;
        if (partial < n) {
            ++x[static_cast<std::size_t>(k - 3)];
            continue;
        }
        int q = k - 3;
        while (q >= 0 && x[static_cast<std::size_t>(q)] == 0) --q;
        if (q < 1) return;
        x[static_cast<std::size_t>(q)] = 0;
        ++x[static_cast<std::size_t>(q - 1)];
    }
}

}  // namespace kelvorin
