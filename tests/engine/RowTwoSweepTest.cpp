// The fast path of the r x c enumeration: the tally rule reduced to edges
// (TallyBand), and the sweep of rows 2 and 1 from per-column tables, which
// must give the very counts, masses and last table that evaluating every
// sample point directly gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "ExactEnumeration.h"
#include "FakePorts.h"
#include "ReferenceTables.h"

namespace kelvorin {
namespace {

using reference::Table;

// --- TallyBand against the tally rule ------------------------------------------------

struct BandCase {
    TallyKind kind;
    double observed;
    double error;
};

std::string Describe(const BandCase& c) {
    std::ostringstream out;
    out << (c.kind == TallyKind::Probability ? "probability " : "statistic ") << c.observed << " +- " << c.error;
    return out.str();
}

const std::vector<BandCase>& BandCases() {
    static const std::vector<BandCase> cases{
        {TallyKind::Probability, 0.2, 0.0},
        {TallyKind::Probability, 3.0e-7, 0.0},
        {TallyKind::Probability, 1e-305, 0.0},
        {TallyKind::Probability, 5e-320, 0.0},  // subnormal: edges closer than the margin
        {TallyKind::Probability, 0.0, 0.0},     // an observed probability that underflowed
        {TallyKind::Statistic, 12.5, 0.0},
        {TallyKind::Statistic, 12.5, 1e-11},
        {TallyKind::Statistic, 4.0, 1e-3},  // margins wider than the band: no room for equal
        {TallyKind::Statistic, 0.0, 1e-13},
        {TallyKind::Statistic, -2e-15, 1e-13},  // G2 rounded just below 0
        {TallyKind::Statistic, 1e-200, 0.0},
    };
    return cases;
}

// Values at and around every place where the rule can switch: 0, +-b and
// the edges of the band, each moved by multiples of the error, by small
// relative amounts and by a few units in the last place.
std::vector<double> Probes(const BandCase& c) {
    const double t = c.kind == TallyKind::Probability ? kProbabilityTolerance : kStatisticTolerance;
    const double b = c.observed;
    const std::vector<double> anchors{0.0, b, -b, b * (1 - t) / (1 + t), b * (1 + t) / (1 - t), 2 * b, 0.5 * b};
    std::vector<double> probes;
    for (double anchor : anchors) {
        for (double step : {c.error, std::fabs(anchor) * 1e-15, std::fabs(anchor) * 1e-12, std::fabs(anchor) * 1e-11,
                            std::fabs(anchor) * 1e-10})
            for (int k = -3; k <= 3; ++k) probes.push_back(anchor + k * step);
        double below = anchor, above = anchor;
        for (int k = 0; k < 4; ++k) {
            below = std::nextafter(below, -1e300);
            above = std::nextafter(above, 1e300);
            probes.push_back(below);
            probes.push_back(above);
        }
    }
    std::mt19937 random(77u);
    std::uniform_real_distribution<double> spread(-1.0, 3.0);
    for (int k = 0; k < 200; ++k) probes.push_back(spread(random) * (b == 0.0 ? 1e-12 : std::fabs(b)));
    return probes;
}

TEST(TallyBandTest, ClassesAValueOnlyWhereTheRuleAgreesThroughoutItsError) {
    for (const BandCase& c : BandCases()) {
        SCOPED_TRACE(Describe(c));
        const TallyBand band(c.kind, c.observed, c.error);
        int classed = 0;
        for (double a : Probes(c)) {
            const int found = band.Class(a);
            if (found < 0) continue;
            ++classed;
            // Any value the direct evaluation may give, within the error.
            for (double delta : {-c.error, -0.5 * c.error, 0.0, 0.5 * c.error, c.error})
                ASSERT_EQ(found, TallyClass(c.kind, a + delta, c.observed)) << "a = " << a << ", delta = " << delta;
        }
        // Only a subnormal observed value has all its neighbours within
        // the margin.
        if (std::fabs(c.observed) > 1e-300 || c.observed == 0.0) {
            EXPECT_GT(classed, 0);
        }
    }
}

TEST(TallyBandTest, LeavesOpenOnlyValuesNearAnEdge) {
    const TallyBand probability(TallyKind::Probability, 0.2, 0.0);
    EXPECT_EQ(probability.Class(0.2), 1);
    EXPECT_EQ(probability.Class(0.2 * (1 + 1.5e-10)), 1);  // relative difference 0.75e-10
    EXPECT_EQ(probability.Class(0.2 * (1 + 2.5e-10)), 2);  // 1.25e-10
    EXPECT_EQ(probability.Class(0.2 * (1 - 2.5e-10)), 0);
    EXPECT_EQ(probability.Class(0.0), 0);
    EXPECT_EQ(probability.Class(1.0), 2);
    // Exactly on the upper edge of the band the rule itself is decided by
    // the last bits of its arithmetic: that is left to the direct value.
    EXPECT_EQ(probability.Class(0.2 * (1 + 1e-10) / (1 - 1e-10)), -1);

    const TallyBand statistic(TallyKind::Statistic, 12.5, 1e-11);
    EXPECT_EQ(statistic.Class(12.5 * (1 + 1.5e-9)), 1);
    EXPECT_EQ(statistic.Class(12.5 * (1 + 2.5e-9)), 2);
    EXPECT_EQ(statistic.Class(12.5 * (1 - 2.5e-9)), 0);
    EXPECT_EQ(statistic.Class(0.0), 0);

    // An observed statistic of 0: anything clearly above it is greater, a
    // value within the error of 0 is decided directly (0 itself is equal,
    // a rounded value just below 0 equal as well).
    const TallyBand zero(TallyKind::Statistic, 0.0, 1e-13);
    EXPECT_EQ(zero.Class(1e-6), 2);
    EXPECT_EQ(zero.Class(0.0), -1);
    EXPECT_EQ(zero.Class(-1e-14), -1);
}

TEST(TallyBandTest, CommonClassOnlyForARangeWithinOneClass) {
    for (const BandCase& c : BandCases()) {
        SCOPED_TRACE(Describe(c));
        const TallyBand band(c.kind, c.observed, c.error);
        std::vector<double> probes = Probes(c);
        std::sort(probes.begin(), probes.end());
        int common = 0;
        for (std::size_t low = 0; low < probes.size(); low += 7)
            for (std::size_t high = low; high < probes.size(); high += 5)
                for (int start = 0; start < 3; ++start) {
                    int guess = start;
                    const int found = band.Common(probes[low], probes[high], guess);
                    if (found < 0) {
                        EXPECT_EQ(guess, start);
                        continue;
                    }
                    ++common;
                    EXPECT_EQ(guess, found);
                    for (std::size_t k = low; k <= high; ++k) ASSERT_EQ(band.Class(probes[k]), found) << k;
                }
        if (c.error < 1e-6 && (std::fabs(c.observed) > 1e-300 || c.observed == 0.0)) {
            EXPECT_GT(common, 0);
        }
    }
}

// --- The sweep against the direct evaluation -----------------------------------------

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
        Outcome o;
        o.points = s.SamplePointCount;
        o.observed = s.ObservedProbability;
        o.tallies[0] = s.ProbabilityTally;
        o.tallies[1] = s.G2Tally;
        o.tallies[2] = s.X2Tally;
        o.cells = s.Table.Cells;
        o.abandoned = s.Abandoned;
        return o;
    }

    void ExpectSameAsDirect(const Table& table) {
        const Outcome direct = RunWith(table, true);
        const Outcome swept = RunWith(table, false);
        ASSERT_GT(direct.points, 0u);
        EXPECT_EQ(swept.points, direct.points);
        EXPECT_EQ(swept.observed, direct.observed);
        const char* names[] = {"probability", "likelihood ratio", "Pearson"};
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(names[k]);
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

    void SetUp() override { Options() = fakes::NoSections(); }
};

using reference::Text;

// Shapes for every way the sweep's positions fall (two rows; two columns;
// three columns with no position before the middle one; five with two),
// counts above 25 whose factorials are rounded in the extended table,
// observed statistics of exactly 0 (every count equals its expected count)
// and tables full of ties in probability.
const std::vector<Table>& SweepTables() {
    static const std::vector<Table> tables{
        {{3, 1, 4}, {1, 5, 2}},
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
        {{1, 3, 10, 6}, {2, 3, 10, 7}, {0, 1, 2, 1}},
    };
    return tables;
}

TEST_F(RowTwoSweepTest, AgreesWithTheDirectEvaluationToTheLastBit) {
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    for (const Table& table : SweepTables()) {
        SCOPED_TRACE(Text(table));
        ExpectSameAsDirect(table);
    }
}

TEST_F(RowTwoSweepTest, AgreesWithOnlySomeTestsOn) {
    const Table table{{3, 2, 1, 2}, {1, 3, 2, 0}, {2, 1, 4, 1}};
    for (int tests = 0; tests < 3; ++tests) {
        SCOPED_TRACE(tests);
        Options().ExaLRtest = tests == 0;
        Options().ExaCStest = tests == 1;
        Options().CountPos = true;
        ExpectSameAsDirect(table);
    }
}

TEST_F(RowTwoSweepTest, BrokenOffAtADisplayLikeTheDirectEvaluation) {
    // 32131 sample points; the user breaks off at the second display.
    Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    env.pump.onPass = [&] {
        if (env.pump.passes == 2) engine.BreakOff();
    };
    ExpectSameAsDirect({{10, 6, 5}, {6, 8, 7}, {5, 7, 9}});
    EXPECT_EQ(engine.State().SamplePointCount, 20000u);
    EXPECT_TRUE(engine.State().Abandoned);
}

}  // namespace
}  // namespace kelvorin
