// Throughput of the exact enumeration, in sample points per second, with the
// three exact tests on and the details trace off: the whole analysis run of
// each benchmark table through the engine, as the batch mode drives it, and
// the literal evaluation of the same sample points (LiteralReference) for
// comparison. Each engine benchmark also checks that its tallies equal the
// literal ones (counts exactly, masses as printed) and fails otherwise.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "BenchHarness.h"
#include "LiteralReference.h"

namespace {

using kelvorin::AnalysisEngine;
using kelvorin::AnalysisOptions;
using kelvorin::ExactTally;
using kelvorin::bench::Harness;
using kelvorin::bench::Rows;

bool SameTally(const ExactTally& a, const ExactTally& b) {
    auto printed = [](double mass) {
        char text[32];
        std::snprintf(text, sizeof text, "%9.6f", mass);
        return std::string(text);
    };
    return a.LessCount == b.LessCount && a.EqualCount == b.EqualCount && a.GreaterCount == b.GreaterCount &&
           printed(a.LessMass) == printed(b.LessMass) && printed(a.EqualMass) == printed(b.EqualMass) &&
           printed(a.GreaterMass) == printed(b.GreaterMass);
}

const kelvorin::bench::LiteralResult& Literal(const Rows& rows) {
    static std::map<Rows, kelvorin::bench::LiteralResult> cache;
    auto found = cache.find(rows);
    if (found != cache.end()) return found->second;
    const auto result = rows.size() == 1 ? kelvorin::bench::LiteralOneWay(rows[0]) : kelvorin::bench::LiteralTwoWay(rows);
    return cache.emplace(rows, result).first->second;
}

void Engine(benchmark::State& state, const Rows& rows) {
    Harness h(rows, kelvorin::bench::ExactTests(true, true));
    // The enumeration itself: tables of a million sample points and more
    // would otherwise go to the network algorithm (see network_bench).
    h.engine.State().NetworkFrom = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t points = 0;
    for (auto _ : state) {
        h.engine.DiscardTable();
        h.report.Clear();
        h.engine.RunAnalysis();
        points += h.engine.State().SamplePointCount;
    }
    state.counters["points_per_second"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
    state.counters["sample_points"] = static_cast<double>(h.engine.State().SamplePointCount);
    const auto& literal = Literal(rows);
    const auto& s = h.engine.State();
    if (s.SamplePointCount != literal.SamplePoints || !SameTally(s.ProbabilityTally, literal.Probability) ||
        !SameTally(s.G2Tally, literal.LikelihoodRatio) || !SameTally(s.X2Tally, literal.Pearson))
        state.SkipWithError("tallies differ from the literal evaluation");
}

void LiteralEvaluation(benchmark::State& state, const Rows& rows) {
    std::uint64_t points = 0;
    for (auto _ : state) {
        const auto result =
            rows.size() == 1 ? kelvorin::bench::LiteralOneWay(rows[0]) : kelvorin::bench::LiteralTwoWay(rows);
        points += result.SamplePoints;
        benchmark::DoNotOptimize(result);
    }
    state.counters["points_per_second"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}

const Rows kTable3x4 = {{5, 6, 7, 8}, {8, 7, 6, 5}, {3, 4, 6, 5}};
const Rows kTable4x4 = {{1, 3, 10, 6}, {2, 3, 10, 7}, {1, 6, 14, 12}, {0, 1, 9, 11}};
const Rows kTable4x4b = {{3, 4, 5, 2}, {4, 3, 2, 5}, {5, 2, 3, 4}, {2, 5, 4, 3}};
const Rows kOneWayK5 = {{12, 10, 9, 11, 18}};
const Rows kOneWayK6 = {{9, 8, 7, 10, 8, 8}};

BENCHMARK_CAPTURE(LiteralEvaluation, Table3x4, kTable3x4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Engine, Table3x4, kTable3x4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LiteralEvaluation, Table4x4, kTable4x4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Engine, Table4x4, kTable4x4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(LiteralEvaluation, Table4x4b, kTable4x4b)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Engine, Table4x4b, kTable4x4b)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(LiteralEvaluation, OneWayK5N60, kOneWayK5)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Engine, OneWayK5N60, kOneWayK5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LiteralEvaluation, OneWayK6N50, kOneWayK6)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Engine, OneWayK6N50, kOneWayK6)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
