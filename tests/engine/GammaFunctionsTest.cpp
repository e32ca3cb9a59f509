#include "GammaFunctions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "NumericError.h"

namespace kelvorin {
namespace {

// Independent reference: P(a, x) = x^a e^-x / Gamma(a + 1) * sum_n x^n / ((a+1)...(a+n)),
// summed in long double to full precision, with the library's lgammal.
double ReferenceP(double a, double x) {
    long double term = 1.0L, sum = 1.0L;
    for (int n = 1; term > 1e-25L * sum; ++n) {
        term *= static_cast<long double>(x) / (a + n);
        sum += term;
    }
    return static_cast<double>(sum * std::exp(a * std::log(static_cast<long double>(x)) - x - std::lgamma(a + 1.0L)));
}

MATCHER_P(FailsWith, message, "") {
    return ExplainMatchResult(::testing::ThrowsMessage<NumericErrorException>(::testing::StrEq(message)), arg, result_listener);
}

// The worked values, both expansions against the reference on either side
// of their border x = a + 1, and P(1, x) = 1 - e^-x across it.
TEST(GammaFunctionsTest, WorkedValuesAndBothBranches) {
    EXPECT_EQ(ChiSquareCdf(0.0, 1), 0.0);
    for (const auto& [x, df] : {std::pair{3.841459, 1}, {5.991465, 2}}) EXPECT_NEAR(ChiSquareCdf(x, df), 0.95, 5e-7) << df;
    for (const auto& [x, value] : {std::pair{1.0, 0.0}, {2.0, 0.0}, {0.5, 0.5723649}}) EXPECT_NEAR(LogGamma(x), value, 5e-8) << x;
    for (double x : {0.1, 1.5, std::nextafter(2.0, 0.0), 2.0, 5.0, 30.0})
        EXPECT_NEAR(IncompleteGammaP(1.0, x), 1.0 - std::exp(-x), 1e-6) << x;
    double gln = 0.0;
    EXPECT_NEAR(GammaSeries(3.5, 2.0, gln), ReferenceP(3.5, 2.0), 1e-6);
    EXPECT_NEAR(gln, std::lgamma(3.5), 1e-9);
    EXPECT_NEAR(GammaContinuedFraction(3.5, 7.0, gln), 1.0 - ReferenceP(3.5, 7.0), 1e-6);
    EXPECT_NEAR(gln, std::lgamma(3.5), 1e-9);
    EXPECT_EQ(GammaSeries(3.5, 0.0, gln), 0.0);
}

// Invalid arguments, and each expansion outside its own branch, fail with
// their messages.
TEST(GammaFunctionsTest, Failures) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const auto& [a, x] : {std::pair{1.0, -0.5}, {0.0, 1.0}, {-1.0, 1.0}, {nan, 1.0}, {1.0, nan}, {1.0, inf}, {inf, 1.0}})
        EXPECT_THAT([&] { IncompleteGammaP(a, x); }, FailsWith("Invalid argument in routine GAMMP")) << a << " " << x;
    double gln = 0.0;
    EXPECT_THAT([&] { GammaSeries(1.0, -1.0, gln); }, FailsWith("x less than 0 in routine GSER"));
    EXPECT_THAT([&] { GammaSeries(1.0, 1000.0, gln); }, FailsWith("a too large or ITMAX too small in routine GSER"));
    EXPECT_THAT([&] { GammaContinuedFraction(0.5, 1e-6, gln); }, FailsWith("a too large, ITMAX too small in routine GCF"));
}

// Statistics near df + 2 once exhausted the classical limit of 100 terms,
// and stopping at the classical tolerance there left an error of about
// 3e-7 sqrt(df / 2) / 4, in the sixth decimal of a p value from about 1000
// degrees of freedom on. Past 100 terms both expansions go on to a far
// smaller tolerance: the values are those of the full series (the six-term
// ln Gamma stays within about 1e-9 of them), on both sides of the switch
// to the continued fraction.
TEST(GammaFunctionsTest, LargeDegreesOfFreedomConvergeToTheFullSeries) {
    for (int df : {778, 1000, 2000, 2891, 2000000}) {
        for (double below : {0.001, 1.0, 10.0, 0.01 * df, -0.001, -10.0, -0.01 * df})
            EXPECT_NEAR(ChiSquareCdf(df + 2.0 - below, df), ReferenceP(0.5 * df, 0.5 * (df + 2.0 - below)), 2e-9)
                << df << " " << below;
        EXPECT_NEAR(ChiSquareCdf(std::nextafter(df + 2.0, 0.0), df), ChiSquareCdf(df + 2.0, df), 2e-9) << df;
    }
}

// From one to 200 degrees of freedom both expansions also end within their
// 100 terms, and there stopping at the classical tolerance left an error of
// up to 3e-7 near the mean, which turned a p value's sixth decimal wherever
// it lay that near a rounding edge (at df = 21 a statistic of 22.160 gave
// 0.390341 for 0.390340). Across the centre of each distribution and its
// tails, on both sides of the switch to the continued fraction, the values
// are those of the full series.
TEST(GammaFunctionsTest, SmallDegreesOfFreedomConvergeToTheFullSeries) {
    for (int df : {1, 2, 3, 4, 7, 10, 21, 50, 99, 150, 199, 200}) {
        const double sd = std::sqrt(2.0 * df);
        for (double z = -3.0; z <= 6.0; z += 0.25) {
            const double x = std::max(1e-3, df + z * sd);
            EXPECT_NEAR(ChiSquareCdf(x, df), ReferenceP(0.5 * df, 0.5 * x), 2e-9) << df << " " << x;
        }
        for (double beside : {-1e-9, 0.0, 1e-9, 0.5})
            EXPECT_NEAR(ChiSquareCdf(df + 2.0 + beside, df), ReferenceP(0.5 * df, 0.5 * (df + 2.0 + beside)), 2e-9)
                << df << " " << beside;
    }
}

// Statistics beyond the square root of the double range (weights far apart
// give them) have the value 1, hence p = 0, instead of failing.
TEST(ChiSquareTail, StatisticsBeyondTheSquareRootOfTheDoubleRangeHaveCdfOne) {
    for (const double x : {1e155, 1e200, 1e300, std::numeric_limits<double>::max()})
        for (const int df : {1, 2, 30, 3000}) EXPECT_EQ(ChiSquareCdf(x, df), 1.0) << x << " df " << df;
    EXPECT_NEAR(ChiSquareCdf(60.0, 2), 1.0 - std::exp(-30.0), 1e-15);
}

}  // namespace
}  // namespace kelvorin
