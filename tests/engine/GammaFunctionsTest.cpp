#include "GammaFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

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

template <typename Call>
std::string FailureOf(Call call) {
    try {
        call();
    } catch (const NumericErrorException& e) {
        return e.what();
    }
    return "no failure";
}

TEST(GammaFunctionsTest, WorkedValues) {
    EXPECT_EQ(ChiSquareCdf(0.0, 1), 0.0);
    EXPECT_NEAR(ChiSquareCdf(3.841459, 1), 0.95, 5e-7);  // series branch
    EXPECT_NEAR(ChiSquareCdf(5.991465, 2), 0.95, 5e-7);  // continued fraction
    EXPECT_NEAR(LogGamma(1.0), 0.0, 1e-9);
    EXPECT_NEAR(LogGamma(2.0), 0.0, 1e-9);
    EXPECT_NEAR(LogGamma(0.5), 0.5723649, 5e-8);
}

TEST(GammaFunctionsTest, BothBranchesAndTheirBorder) {
    // a = 1: P = 1 - e^-x; the border is x = 2.
    for (double x : {0.1, 1.5, std::nextafter(2.0, 0.0), 2.0, 5.0, 30.0}) {
        EXPECT_NEAR(IncompleteGammaP(1.0, x), 1.0 - std::exp(-x), 1e-6) << x;
    }
    double gln = 0.0;
    EXPECT_NEAR(GammaSeries(3.5, 2.0, gln), ReferenceP(3.5, 2.0), 1e-6);
    EXPECT_NEAR(gln, std::lgamma(3.5), 1e-9);
    EXPECT_NEAR(GammaContinuedFraction(3.5, 7.0, gln), 1.0 - ReferenceP(3.5, 7.0), 1e-6);
    EXPECT_NEAR(gln, std::lgamma(3.5), 1e-9);
    EXPECT_EQ(GammaSeries(3.5, 0.0, gln), 0.0);
    EXPECT_NEAR(IncompleteGammaP(3.5, std::nextafter(4.5, 0.0)), IncompleteGammaP(3.5, 4.5), 1e-6);
}

TEST(GammaFunctionsTest, Failures) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double invalid[][2] = {{1.0, -0.5}, {0.0, 1.0}, {-1.0, 1.0}, {nan, 1.0}, {1.0, nan}, {1.0, inf}, {inf, 1.0}};
    for (const auto& ax : invalid) {
        EXPECT_EQ(FailureOf([&] { IncompleteGammaP(ax[0], ax[1]); }), "Invalid argument in routine GAMMP")
            << ax[0] << " " << ax[1];
    }
    double gln = 0.0;
    EXPECT_EQ(FailureOf([&] { GammaSeries(1.0, -1.0, gln); }), "x less than 0 in routine GSER");
    // Outside their own branch the expansions do not converge, and say so.
    EXPECT_EQ(FailureOf([&] { GammaSeries(1.0, 1000.0, gln); }),
              "a too large or ITMAX too small in routine GSER");
    EXPECT_EQ(FailureOf([&] { GammaContinuedFraction(0.5, 1e-6, gln); }),
              "a too large, ITMAX too small in routine GCF");
}

TEST(GammaFunctionsTest, LargeDegreesOfFreedomConverge) {
    // Statistics just below df + 2 once exhausted the classical limit of 100
    // terms. The series stops at a term below 3e-7 of the sum after at least
    // 4 sqrt(a) terms; the neglected tail, about term * a / n, is at most
    // 3e-7 * sqrt(a) / 4 of the sum, which bounds the error.
    for (int df : {778, 1000, 2000, 3000, 2000000}) {
        const double tolerance = 3e-7 * std::sqrt(0.5 * df) / 4.0 + 1e-7;
        for (double below : {0.001, 1.0, 10.0, 0.03 * df, -0.001, -10.0}) {
            const double x = df + 2.0 - below;
            EXPECT_NEAR(ChiSquareCdf(x, df), ReferenceP(0.5 * df, 0.5 * x), tolerance) << df << " " << x;
        }
    }
}

TEST(GammaFunctionsTest, MonotoneInTheStatistic) {
    for (int df : {3, 1000, 2000000}) {
        const double spread = 8.0 * std::sqrt(2.0 * df);
        double previous = 0.0;
        for (double x = std::max(0.0, df - spread); x <= df + spread; x += spread / 200.0) {
            const double p = ChiSquareCdf(x, df);
            EXPECT_TRUE(p >= previous && p <= 1.0) << df << " " << x << " " << p;
            previous = p;
        }
        // Across the switch from the series to the continued fraction.
        EXPECT_LE(ChiSquareCdf(std::nextafter(df + 2.0, 0.0), df), ChiSquareCdf(df + 2.0, df)) << df;
    }
}

}  // namespace
}  // namespace kelvorin
