// The fast path of the r x c enumeration: the tally rule reduced to edges
// (TallyBand), and the sweep of rows 2 and 1 from per-column tables, which
// must give the very counts, masses and last table that evaluating every
// sample point directly gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "AnalysisEngine.h"
#include "ExactEnumeration.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using reference::Table;

struct BandCase {
    TallyKind kind;
    double observed, error;
};

// Values at and around every place where the rule can switch: 0, +-b and
// the edges of the band, moved by multiples of the error, by small relative
// amounts and by a few units in the last place; and values spread at random.
std::vector<double> Probes(const BandCase& c) {
    const double t = c.kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    const double b = c.observed;
    std::vector<double> probes;
    for (double anchor : {0.0, b, -b, b * (1 - t) / (1 + t), b * (1 + t) / (1 - t), 2 * b, 0.5 * b}) {
        const double a = std::fabs(anchor);
        for (double step : {c.error, a * 1e-15, a * 1e-12, a * 1e-11, a * 1e-10})
            for (int k = -3; k <= 3; ++k) probes.push_back(anchor + k * step);
        double below = anchor, above = anchor;
        for (int k = 0; k < 4; ++k) {
            probes.push_back(below = std::nextafter(below, -1e300));
            probes.push_back(above = std::nextafter(above, 1e300));
        }
    }
    std::mt19937 random(77u);
    std::uniform_real_distribution<double> spread(-1.0, 3.0);
    for (int k = 0; k < 200; ++k) probes.push_back(spread(random) * (b == 0.0 ? 1e-12 : std::fabs(b)));
    std::sort(probes.begin(), probes.end());
    return probes;
}

// A class given by the band must be the rule's class for every value the
// direct evaluation may give within the error; a common class of a range
// must be every probe's class in it. Only a subnormal observed value has all
// its neighbours within the margin, so elsewhere some values must be classed.
TEST(TallyBandTest, ClassesOnlyWhereTheRuleAgreesThroughoutTheError) {
    const TallyKind P = TallyKind::Probability, S = TallyKind::Statistic;
    for (const BandCase& c : {BandCase{P, 0.2, 0.0}, BandCase{P, 3.0e-7, 0.0}, BandCase{P, 1e-305, 0.0},
                              BandCase{P, 5e-320, 0.0}, BandCase{P, 0.0, 0.0}, BandCase{S, 12.5, 0.0},
                              BandCase{S, 12.5, 1e-11}, BandCase{S, 4.0, 1e-3}, BandCase{S, 0.0, 1e-13},
                              BandCase{S, -2e-15, 1e-13}, BandCase{S, 1e-200, 0.0}}) {
        SCOPED_TRACE(testing::Message() << (c.kind == P ? "probability " : "statistic ") << c.observed << " +- " << c.error);
        const TallyBand band(c.kind, c.observed, c.error);
        const std::vector<double> probes = Probes(c);
        int classed = 0, common = 0;
        for (double a : probes) {
            const int found = band.Class(a);
            if (found < 0) continue;
            ++classed;
            for (double delta : {-c.error, -0.5 * c.error, 0.0, 0.5 * c.error, c.error})
                ASSERT_EQ(found, TallyClass(c.kind, a + delta, c.observed)) << "a = " << a << ", delta = " << delta;
        }
        for (std::size_t low = 0; low < probes.size(); low += 7)
            for (std::size_t high = low; high < probes.size(); high += 5)
                for (int start = 0; start < 3; ++start) {
                    int guess = start;
                    const int found = band.Common(probes[low], probes[high], guess);
                    EXPECT_EQ(guess, found < 0 ? start : found);
                    if (found < 0) continue;
                    ++common;
                    for (std::size_t k = low; k <= high; ++k) ASSERT_EQ(band.Class(probes[k]), found) << k;
                }
        const bool normal = std::fabs(c.observed) > 1e-300 || c.observed == 0.0;
        EXPECT_TRUE(!normal || classed > 0);
        EXPECT_TRUE(!normal || c.error >= 1e-6 || common > 0);
    }
}

// Values clearly inside a class are classed; exactly on an edge, or within
// the error of an observed 0, the direct value must decide.
TEST(TallyBandTest, LeavesOpenOnlyValuesNearAnEdge) {
    const TallyBand probability(TallyKind::Probability, 0.2, 0.0);
    EXPECT_EQ(probability.Class(0.2 * (1 + 1.5e-10)), 1);
    EXPECT_EQ(probability.Class(0.2 * (1 + 2.5e-10)), 2);
    EXPECT_EQ(probability.Class(0.2 * (1 - 2.5e-10)), 0);
    EXPECT_EQ(probability.Class(0.2 * (1 + 1e-10) / (1 - 1e-10)), -1);
    const TallyBand zero(TallyKind::Statistic, 0.0, 1e-13);
    EXPECT_EQ(zero.Class(1e-6), 2);
    EXPECT_EQ(zero.Class(0.0), -1);
}

class RowTwoSweepTest : public fakes::EngineHarness {
protected:
    struct Outcome {
        std::uint64_t points = 0;
        double observed = 0.0;
        ExactTally tallies[3];
        std::vector<std::int16_t> cells;
        bool abandoned = false;
    };

    Outcome RunWith(const Table& table, bool direct) {
        engine.State().DirectEvaluation = direct;
        env.pump.passes = 0;
        Run(table);
        const AnalysisState& s = engine.State();
        return {s.SamplePointCount, s.ObservedProbability, {s.ProbabilityTally, s.G2Tally, s.X2Tally}, s.Table.Cells,
                s.Abandoned};
    }

    void ExpectSameAsDirect(const Table& table) {
        SCOPED_TRACE(reference::Text(table));
        const Outcome direct = RunWith(table, true);
        const Outcome swept = RunWith(table, false);
        ASSERT_GT(direct.points, 0u);
        EXPECT_EQ(swept.points, direct.points);
        EXPECT_EQ(swept.observed, direct.observed);
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(k == 0 ? "probability" : k == 1 ? "likelihood ratio" : "Pearson");
            const ExactTally& a = swept.tallies[k];
            const ExactTally& b = direct.tallies[k];
            EXPECT_EQ(a.LessCount, b.LessCount);
            EXPECT_EQ(a.EqualCount, b.EqualCount);
            EXPECT_EQ(a.GreaterCount, b.GreaterCount);
            EXPECT_EQ(a.LessMass, b.LessMass);
            EXPECT_EQ(a.EqualMass, b.EqualMass);
            EXPECT_EQ(a.GreaterMass, b.GreaterMass);
        }
        EXPECT_EQ(swept.cells, direct.cells) << "the last sample point stays in Cells";
        EXPECT_EQ(swept.abandoned, direct.abandoned);
    }
};

// Shapes for every way the sweep's positions fall (two rows; two columns;
// three columns with no position before the middle one; five with two),
// counts above 25 whose factorials are rounded in the extended table,
// observed statistics of exactly 0 and tables full of ties in probability;
// with all exact tests on, and with only one of them.
TEST_F(RowTwoSweepTest, AgreesWithTheDirectEvaluationToTheLastBit) {
    Options() = fakes::With("ExaLRtest ExaCStest CountPos");
    for (const Table& table : std::vector<Table>{{{3, 1, 4}, {1, 5, 2}},
                                                 {{2, 1, 0, 3, 1}, {0, 2, 2, 1, 1}},
                                                 {{4, 1}, {2, 3}, {1, 5}},
                                                 {{2, 0}, {1, 2}, {0, 3}, {2, 1}, {1, 1}},
                                                 {{3, 2, 1}, {1, 3, 2}, {2, 1, 4}},
                                                 {{2, 1, 1, 0, 2}, {0, 2, 1, 2, 1}, {1, 1, 2, 1, 0}},
                                                 {{40, 5, 30}, {10, 35, 20}},
                                                 {{30, 1, 2}, {25, 2, 1}, {28, 1, 1}},
                                                 {{1, 2, 6}, {2, 4, 12}},
                                                 {{1, 1, 1}, {1, 1, 1}, {2, 2, 2}},
                                                 {{2, 1, 1}, {1, 2, 1}, {1, 1, 2}},
                                                 {{1, 3, 10, 6}, {2, 3, 10, 7}, {0, 1, 2, 1}}})
        ExpectSameAsDirect(table);
    for (const char* tests : {"ExaLRtest CountPos", "ExaCStest CountPos", "CountPos"}) {
        Options() = fakes::With(tests);
        ExpectSameAsDirect({{3, 2, 1, 2}, {1, 3, 2, 0}, {2, 1, 4, 1}});
    }
}

TEST_F(RowTwoSweepTest, BrokenOffAtADisplayLikeTheDirectEvaluation) {
    // 32131 sample points; the user breaks off at the second display.
    Options() = fakes::With("ExaLRtest ExaCStest CountPos");
    env.pump.onPass = [&] {
        if (env.pump.passes == 2) engine.BreakOff();
    };
    ExpectSameAsDirect({{10, 6, 5}, {6, 8, 7}, {5, 7, 9}});
    EXPECT_EQ(engine.State().SamplePointCount, 20000u);
    EXPECT_TRUE(engine.State().Abandoned);
}

}  // namespace
}  // namespace kelvorin
