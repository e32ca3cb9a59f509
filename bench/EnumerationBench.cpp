// Throughput of the exact enumeration, in sample points per second, with the
// three exact tests on and the details trace off: the whole analysis run of
// each benchmark table through the engine, as the batch mode drives it.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "ConsolePorts.h"
#include "MemoryTextGrid.h"

namespace {

using kelvorin::AnalysisEngine;
using kelvorin::AnalysisOptions;

struct Harness {
    kelvorin::MemoryTextGrid entry;
    kelvorin::MemoryTextGrid proportions;
    kelvorin::NoWindow window;
    kelvorin::MemoryReport report;
    std::ostringstream err;
    kelvorin::ConsoleProgress progress{err, false};
    kelvorin::StreamMessages messages{err};
    kelvorin::SystemClock clock;
    kelvorin::NoMenus menus;
    kelvorin::FixedFileDialog details{""};
    kelvorin::FixedOptions options;
    AnalysisEngine engine;

    static kelvorin::EnginePorts Ports(Harness& h) {
        kelvorin::EnginePorts p;
        p.EntryGrid = &h.entry;
        p.ProportionsGrid = &h.proportions;
        p.ProportionsWindow = &h.window;
        p.Report = &h.report;
        p.Status = &h.progress;
        p.Pump = &h.progress;
        p.Messages = &h.messages;
        p.LocalClock = &h.clock;
        p.Menus = &h.menus;
        p.SaveDialog1 = &h.details;
        p.Options = &h.options;
        return p;
    }

    Harness(const std::vector<std::vector<int>>& rows, const AnalysisOptions& o)
        : options(o), engine(Ports(*this)) {
        entry.SetRowCount(static_cast<int>(rows.size()));
        entry.SetColCount(static_cast<int>(rows[0].size()));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows[i].size(); ++j)
                entry.SetCell(static_cast<int>(j), static_cast<int>(i), std::to_string(rows[i][j]));
    }
};

AnalysisOptions AllExactTests() {
    AnalysisOptions o;
    o.Observed = false;
    o.ExaLRtest = true;
    o.ExaCStest = true;
    o.CountPos = true;
    return o;
}

void RunTable(benchmark::State& state, const std::vector<std::vector<int>>& rows) {
    Harness h(rows, AllExactTests());
    std::uint64_t points = 0;
    for (auto _ : state) {
        h.engine.DiscardTable();
        h.report.Clear();
        h.engine.RunAnalysis();
        points += h.engine.State().SamplePointCount;
    }
    state.counters["sample_points"] = static_cast<double>(h.engine.State().SamplePointCount);
    state.counters["points_per_second"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}

void BM_Table3x4(benchmark::State& state) {
    RunTable(state, {{5, 6, 7, 8}, {8, 7, 6, 5}, {3, 4, 6, 5}});
}
BENCHMARK(BM_Table3x4)->Unit(benchmark::kMillisecond);

void BM_Table4x4(benchmark::State& state) {
    RunTable(state, {{1, 3, 10, 6}, {2, 3, 10, 7}, {1, 6, 14, 12}, {0, 1, 9, 11}});
}
BENCHMARK(BM_Table4x4)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_OneWayK5N60(benchmark::State& state) { RunTable(state, {{12, 10, 9, 11, 18}}); }
BENCHMARK(BM_OneWayK5N60)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
