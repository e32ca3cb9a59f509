// The network algorithm on the tables beyond enumeration. The whole
// analysis, as below; and the algorithm's passes alone, with the
// probability and Pearson orderings tallied: Pearson's ordering counted on
// the integer lattice of its values (as the program does when the lattice
// is fine enough) and in floating point with bounds (as for any table).
// For those, the engine's analysis is run once for the observed values;
// each iteration then runs the network algorithm alone. Both ways must give
// the same tallies, or the benchmark fails.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "BenchHarness.h"
#include "NetworkAlgorithm.h"
#include "OneWayMeeting.h"
#include "ProcessorCores.h"
#include "ReusedMemory.h"
#include "SamplePointCounter.h"
#include "TwoLineMeeting.h"

namespace {

// The work arrays' memory as in the program.
[[maybe_unused]] const bool kReused = kelvorin::KeepFreedMemoryForReuse();

using kelvorin::ExactTally;
using kelvorin::bench::Harness;
using kelvorin::bench::Rows;

bool SameCounts(const ExactTally& a, const ExactTally& b) {
    return a.LessCount == b.LessCount && a.EqualCount == b.EqualCount && a.GreaterCount == b.GreaterCount;
}

// The three orderings' tallies of a run, and whether another run's counts
// are the same.
struct Tallies {
    ExactTally Of[3];
    explicit Tallies(const kelvorin::AnalysisState& s) : Of{s.ProbabilityTally, s.G2Tally, s.X2Tally} {}
    bool SameCountsAs(const kelvorin::AnalysisState& s) const {
        return SameCounts(s.ProbabilityTally, Of[0]) && SameCounts(s.G2Tally, Of[1]) && SameCounts(s.X2Tally, Of[2]);
    }
};

// Runs RUN (an algorithm alone, on the state of an analysis run before) in
// every iteration, from empty tallies; false (and the benchmark failed)
// unless every run completes.
template <class Run>
bool RepeatAlone(benchmark::State& state, kelvorin::AnalysisState& s, Run run) {
    for (auto _ : state) {
        s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
        if (run() != kelvorin::NetworkOutcome::Completed) {
            state.SkipWithError("the algorithm did not complete");
            return false;
        }
    }
    state.counters["sample_points"] = static_cast<double>(s.SamplePointCount);
    return true;
}

void Network(benchmark::State& state, const Rows& rows, bool lattice) {
    Harness h(rows, kelvorin::bench::ExactTests(false, true));
    h.engine.RunAnalysis();
    kelvorin::AnalysisState& s = h.engine.State();
    const ExactTally reference = s.X2Tally;
    if (!s.NetworkUsed) {
        state.SkipWithError("the table was enumerated");
        return;
    }
    kelvorin::NetworkLimits limits;
    limits.Lattice = lattice;
    // The passes beside each other only where the affinity leaves more
    // than one core, as in the analysis.
    limits.PassesBeside = kelvorin::AvailableCores() > 1;
    const kelvorin::EnginePorts ports = Harness::Ports(h);
    if (RepeatAlone(state, s, [&] { return kelvorin::RunNetworkAlgorithm(s, ports, limits); }) &&
        !SameCounts(s.X2Tally, reference))
        state.SkipWithError("Pearson's tally differs from the program's");
}

const Rows kTable5x7 = {{1, 2, 2, 1, 1, 0, 1}, {2, 0, 0, 2, 3, 0, 0}, {0, 1, 1, 1, 2, 7, 3},
                        {1, 1, 2, 0, 0, 0, 1}, {0, 1, 1, 1, 1, 0, 0}};
const Rows kTable4x4 = {{1, 3, 10, 6}, {2, 3, 10, 7}, {1, 6, 14, 12}, {0, 1, 9, 11}};
const Rows kTable4x4b = {{3, 4, 5, 2}, {4, 3, 2, 5}, {5, 2, 3, 4}, {2, 5, 4, 3}};
// A sparse table (2.8e10 sample points) whose Pearson meeting places many
// completions among few past values at most of its nodes.
const Rows kTable4x6 = {{0, 4, 0, 0, 5, 4}, {3, 3, 2, 0, 4, 4}, {0, 5, 5, 0, 4, 5}, {2, 2, 1, 5, 0, 0}};

// The whole analysis in one process, as `kelvorin --batch` runs it but
// without starting the program and with warm caches: the report with all
// three exact tests, and with the probability ordering alone (the one p
// value R's fisher.test computes).
void Analysis(benchmark::State& state, const Rows& rows, bool allThree) {
    Harness h(rows, kelvorin::bench::ExactTests(allThree, allThree));
    // The cores the program itself would use here (pinned to one, as for
    // the one-core figures, the passes run in turn).
    h.engine.State().Cores = kelvorin::AvailableCores();
    for (auto _ : state) {
        h.report.Clear();
        h.engine.RunAnalysis();
    }
    if (!h.engine.State().NetworkUsed) state.SkipWithError("the table was enumerated");
}
// The searches of the rare side, and the network alone on the same table;
// both must give the same tallies. A 5 x 4 table near independence (3.8e13
// sample points, large-sample p values 0.99997), every exact test; and
// tables of rows of equal totals all in the diagonal (3.4e10 and 2.7e12
// sample points), far in the tail.
const Rows kNearIndependence = {{8, 7, 12, 6}, {6, 4, 7, 4}, {12, 8, 16, 8}, {5, 3, 9, 4}, {10, 6, 12, 5}};
Rows Diagonal(int rows, int count) {
    Rows t(static_cast<std::size_t>(rows), std::vector<int>(static_cast<std::size_t>(rows), 0));
    for (std::size_t i = 0; i < t.size(); ++i) t[i][i] = count;
    return t;
}
void RareSide(benchmark::State& state, const Rows& rows, bool search) {
    Harness h(rows, kelvorin::bench::ExactTests(true, true));
    h.engine.RunAnalysis();
    kelvorin::AnalysisState& s = h.engine.State();
    const Tallies reference(s);
    kelvorin::NetworkLimits limits;
    limits.NearMode = limits.FarTail = search;
    const kelvorin::EnginePorts ports = Harness::Ports(h);
    if (RepeatAlone(state, s, [&] { return kelvorin::RunNetworkAlgorithm(s, ports, limits); }) &&
        !reference.SameCountsAs(s))
        state.SkipWithError("the tallies differ from the program's");
}
BENCHMARK_CAPTURE(RareSide, NearIndependenceSearch, kNearIndependence, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RareSide, NearIndependenceNetworkOnly, kNearIndependence, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(RareSide, Diagonal30Search, Diagonal(4, 30), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RareSide, Diagonal30NetworkOnly, Diagonal(4, 30), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RareSide, Diagonal50Search, Diagonal(4, 50), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RareSide, Diagonal50NetworkOnly, Diagonal(4, 50), false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Tables of two rows: the meeting of the halves of their columns alone (on
// one thread), and the network alone, each on the state of an analysis run
// before, every exact test; both must give the program's tallies. A 2 x 9
// table of 1.9e12 sample points, which the network settles quickly, and
// 2 x 10 tables of 1.1e14 and 4.6e13, which it does not end in a minute.
const Rows kTwoRows9 = {{17, 31, 25, 23, 51, 14, 20, 10, 12}, {30, 33, 18, 21, 23, 16, 12, 10, 8}};
const Rows kTwoRows10 = {{17, 31, 25, 23, 51, 14, 20, 10, 12, 28}, {30, 33, 18, 21, 23, 16, 12, 10, 8, 33}};
const Rows kTwoRows10b = {{30, 10, 20, 17, 17, 8, 12, 21, 11, 30}, {18, 21, 38, 15, 26, 8, 13, 16, 35, 12}};
void TwoLines(benchmark::State& state, const Rows& rows, bool meeting) {
    Harness h(rows, kelvorin::bench::ExactTests(true, true));
    h.engine.RunAnalysis();
    kelvorin::AnalysisState& s = h.engine.State();
    const Tallies reference(s);
    const kelvorin::EnginePorts ports = Harness::Ports(h);
    kelvorin::TwoLineMeetingLimits limits;
    limits.MinSamplePoints = 0.0;
    kelvorin::NetworkLimits network;
    network.NearMode = network.FarTail = network.TwoLines = false;
    const auto run = [&] {
        return meeting ? kelvorin::RunTwoLineMeeting(s, ports, limits) : kelvorin::RunNetworkAlgorithm(s, ports, network);
    };
    if (RepeatAlone(state, s, run) && !reference.SameCountsAs(s)) state.SkipWithError("the tallies differ from the program's");
}
BENCHMARK_CAPTURE(TwoLines, Rows9Meeting, kTwoRows9, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(TwoLines, Rows9NetworkOnly, kTwoRows9, false)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(TwoLines, Rows10Meeting, kTwoRows10, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(TwoLines, Rows10bMeeting, kTwoRows10b, true)->Unit(benchmark::kMillisecond)->Iterations(1);

// The count of sample points made before every analysis (it decides
// whether the network algorithm is used, and drives the progress of an
// enumeration): its share of the whole analysis above.
void Counter(benchmark::State& state, const Rows& rows) {
    std::vector<int> rowTotals(rows.size(), 0), colTotals(rows.front().size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) {
            rowTotals[i] += rows[i][j];
            colTotals[j] += rows[i][j];
        }
    kelvorin::SamplePointEstimate e;
    for (auto _ : state) {
        e = kelvorin::CountTwoWaySamplePoints(rowTotals, colTotals);
        benchmark::DoNotOptimize(e);
    }
    if (!e.Exact) state.SkipWithError("the counter gave up");
    state.counters["sample_points"] = e.Count;
}
BENCHMARK_CAPTURE(Counter, Table5x7, kTable5x7)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Counter, Table4x4, kTable4x4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Counter, Table4x4b, kTable4x4b)->Unit(benchmark::kMicrosecond);

// The exact count by dominance sums over a box of about 2^27 points (1 GiB),
// as the search of a rare side needs it: the 5 x 5 table of N = 229 near
// independence in bench/tables/large.
void CounterLargeBox(benchmark::State& state) {
    const std::vector<int> rows{65, 49, 32, 66, 17}, cols{28, 30, 58, 56, 57};
    std::optional<std::uint64_t> count;
    for (auto _ : state) {
        count = kelvorin::CountTwoWayTablesExactly(rows, cols, std::size_t{1} << 27);
        benchmark::DoNotOptimize(count);
    }
    if (!count) state.SkipWithError("the count gave up");
    else state.counters["sample_points"] = static_cast<double>(*count);
}
BENCHMARK(CounterLargeBox)->Unit(benchmark::kMillisecond);

// A single row against equal proportions, the whole analysis with all three
// exact tests: by the meeting of its two parts of categories, and by the
// enumeration (the network never used). The meeting must give the
// enumeration's tallies (taken once, where the enumeration is not timed).
const Rows kOneWayK7 = {{5, 8, 3, 6, 9, 4, 7}};           // 12.3 million sample points
const Rows kOneWayK8 = {{5, 8, 3, 6, 9, 4, 7, 5}};        // 177 million
const Rows kOneWayK10 = {{6, 7, 5, 6, 4, 7, 5, 6, 6, 8}};  // 5.7e10
void OneWay(benchmark::State& state, const Rows& rows, bool meeting, bool checked) {
    Harness h(rows, kelvorin::bench::ExactTests(true, true));
    kelvorin::AnalysisState& s = h.engine.State();
    if (checked) {
        s.NetworkFrom = std::numeric_limits<std::uint64_t>::max();
        h.engine.RunAnalysis();
    }
    const Tallies reference(s);
    s.NetworkFrom = meeting ? 0 : std::numeric_limits<std::uint64_t>::max();
    for (auto _ : state) {
        h.report.Clear();
        h.engine.RunAnalysis();
    }
    state.counters["sample_points"] = static_cast<double>(s.SamplePointCount);
    if (s.NetworkUsed != meeting) state.SkipWithError(meeting ? "the table was enumerated" : "the table was met");
    if (checked && !reference.SameCountsAs(s)) state.SkipWithError("the tallies differ from the enumeration's");
}
BENCHMARK_CAPTURE(OneWay, K7Meeting, kOneWayK7, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWay, K7Enumeration, kOneWayK7, false, false)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWay, K8Meeting, kOneWayK8, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWay, K10Meeting, kOneWayK10, true, false)->Unit(benchmark::kMillisecond)->Iterations(1);

// The meeting's two ways on equal proportions, alone (the analysis run once
// for the observed values): the split's sorted lists and the count
// patterns. Both must give the same counts where both are run.
const Rows kOneWayK10N100 = {{10, 12, 8, 9, 11, 10, 9, 11, 10, 10}};  // 4.3e12
const Rows kOneWayK30N40 = {{2, 2, 0, 3, 1, 0, 1, 0, 2, 3, 1, 3, 0, 1, 1,
                             1, 3, 2, 1, 3, 1, 0, 1, 3, 1, 1, 0, 1, 1, 1}};  // 2.4e19
const Rows kOneWayK40N80 = {{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                             1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 0, 4, 0, 4, 0, 4, 2, 2, 2, 2}};  // 3.8e31
void OneWayWays(benchmark::State& state, const Rows& rows, kelvorin::OneWayWay way, bool checked,
                std::vector<std::string> weights = {}) {
    Harness h(rows, kelvorin::bench::ExactTests(true, true), std::move(weights));
    kelvorin::AnalysisState& s = h.engine.State();
    s.NetworkFrom = 0;
    h.engine.RunAnalysis();
    const Tallies reference(s);
    kelvorin::OneWayMeetingLimits limits;
    limits.Way = way;
    const kelvorin::EnginePorts ports = Harness::Ports(h);
    if (RepeatAlone(state, s, [&] { return kelvorin::RunOneWayMeeting(s, ports, limits); }) && checked &&
        !reference.SameCountsAs(s))
        state.SkipWithError("the two ways' tallies differ");
}
using kelvorin::OneWayWay;
BENCHMARK_CAPTURE(OneWayWays, K8Split, kOneWayK8, OneWayWay::Split, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K8Patterns, kOneWayK8, OneWayWay::Patterns, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K10Split, kOneWayK10, OneWayWay::Split, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWayWays, K10Patterns, kOneWayK10, OneWayWay::Patterns, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K10N100Patterns, kOneWayK10N100, OneWayWay::Patterns, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K30N40Patterns, kOneWayK30N40, OneWayWay::Patterns, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K40N80Patterns, kOneWayK40N80, OneWayWay::Patterns, false)->Unit(benchmark::kMillisecond)->Iterations(1);

// Rows of several groups of equal proportions, or of proportions all
// different: the walk with its bounds between groups, the lists, and the
// program's choice (the walk tried within about half the lists' time).
const std::vector<std::string> kWeights1To8 = {"1", "2", "3", "4", "5", "6", "7", "8"};
const std::vector<std::string> kWeights10To19 = {"10", "11", "12", "13", "14", "15", "16", "17", "18", "19"};
const std::vector<std::string> kTwoFives = {"1", "1", "1", "1", "1", "2", "2", "2", "2", "2"};
BENCHMARK_CAPTURE(OneWayWays, K8Weights1To8Split, kOneWayK8, OneWayWay::Split, true, kWeights1To8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K8Weights1To8Patterns, kOneWayK8, OneWayWay::Patterns, true, kWeights1To8)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWayWays, K8Weights1To8Cheaper, kOneWayK8, OneWayWay::Cheaper, true, kWeights1To8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OneWayWays, K10Weights10To19Split, kOneWayK10, OneWayWay::Split, true, kWeights10To19)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWayWays, K10Weights10To19Patterns, kOneWayK10, OneWayWay::Patterns, true, kWeights10To19)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWayWays, K10Weights10To19Cheaper, kOneWayK10, OneWayWay::Cheaper, true, kWeights10To19)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(OneWayWays, K10N100TwoFivesPatterns, kOneWayK10N100, OneWayWay::Patterns, false, kTwoFives)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_CAPTURE(Analysis, Table5x7All, kTable5x7, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analysis, Table5x7Probability, kTable5x7, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analysis, Table4x4All, kTable4x4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analysis, Table4x4Probability, kTable4x4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analysis, Table4x4bAll, kTable4x4b, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analysis, Table4x4bProbability, kTable4x4b, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table5x7Lattice, kTable5x7, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table5x7Floating, kTable5x7, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(Network, Table4x4Lattice, kTable4x4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table4x4Floating, kTable4x4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table4x4bLattice, kTable4x4b, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table4x4bFloating, kTable4x4b, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Network, Table4x6Lattice, kTable4x6, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
