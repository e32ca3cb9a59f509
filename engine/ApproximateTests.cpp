#include "ApproximateTests.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ExactEnumeration.h"
#include "FloatingPointGuard.h"
#include "Format.h"
#include "GammaFunctions.h"

namespace kelvorin {

double PearsonYatesStatistic(const ContingencyTable& table) {
    const std::int32_t a = table.At(1, 1);
    const std::int32_t b = table.At(1, 2);
    const std::int32_t c = table.At(2, 1);
    const std::int32_t d = table.At(2, 2);
    const std::int32_t difference = a * d - b * c;
    const long double n = table.GrandTotal();
    // The correction brings |ad - bc| half the grand total nearer to 0, and
    // no further: where it is already nearer, the corrected statistic is 0
    // (a correction towards independence never makes a table look less
    // independent than it is).
    const long double shortfall = std::max(0.0L, std::abs(difference) - 0.5L * n);
    const long double t = static_cast<double>(shortfall * shortfall);
    return static_cast<double>(t * n / table.ColTotal(1) / table.ColTotal(2) / table.RowTotal(1) /
                               table.RowTotal(2));
}

double LikelihoodRatioYatesStatistic(const ContingencyTable& table) {
    double sum = 0.0;
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 2; ++j) {
            // Each count moves half a unit towards its expected count, but
            // not past it: a count within half a unit of it is taken as
            // the expected count itself (its term is then 0).
            const double e = ExpectedCount(table, i, j);
            double o = table.At(i, j);
            if (o > e)
                o = std::max(o - 0.5, e);
            else if (o < e)
                o = std::min(o + 0.5, e);
            if (o != 0.0) sum += std::log(o / e) * o;
        }
    return 2.0 * sum;
}

int DegreesOfFreedom(const AnalysisState& state) {
    if (state.Table.TwoWay) return (state.Table.Rows - 1) * (state.Table.Cols - 1);
    return state.Categories - 1;
}

double ApproximatePValue(double statistic, int df) {
    const FloatingPointGuard guard;
    const double p = static_cast<double>(1.0L - static_cast<long double>(ChiSquareCdf(statistic, df)));
    guard.Check();
    return p;
}

namespace {

void WriteBlock(const AnalysisState& state, ReportSink& report, const char* title, double computed,
                double computedYates) {
    // The likelihood ratio is a sum of n ln(n / e) whose terms cancel at or
    // near the expected counts, and so may come out a few units of the last
    // place below 0 although it is never negative: shown, and referred to
    // the distribution, as 0.
    const double statistic = std::max(0.0, computed);
    const double yates = std::max(0.0, computedYates);
    const int df = DegreesOfFreedom(state);
    report.AppendLine(title);
    report.AppendLine(Format("  Chi^2 = %7.3f, df= %2d,           p  =  %9.6f", statistic, df,
                             ApproximatePValue(statistic, df)));
    if (state.Table.TwoWay && df == 1)
        report.AppendLine(
            Format("  Yates:  Chi^2 = %7.3f,           p  =  %9.6f", yates, ApproximatePValue(yates, 1)));
    report.AppendLine(Format("  (min.expected =%4.1f)", state.MinExpected));
    report.AppendLine("");
}

}  // namespace

void WriteApproximateLikelihoodRatio(const AnalysisState& state, ReportSink& report) {
    WriteBlock(state, report, "Approx. Likelihood Ratio test", state.G2, state.G2Yates);
}

void WriteApproximatePearson(const AnalysisState& state, ReportSink& report) {
    WriteBlock(state, report, "Approx. Chi-Square test (Pearson)", state.X2, state.X2Yates);
}

}  // namespace kelvorin
