// Reading a data file's table block of many lines (a mistaken or hostile
// file: the commands refuse more than 50 rows only once the block is read)
// into a grid in memory, as batch mode and Bulk processing do. The time per
// line must not grow with the block's length.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "AnalysisState.h"
#include "MemoryTextGrid.h"
#include "TableDataFile.h"

namespace {

class NoDialog final : public kelvorin::FileDialog {
public:
    void SetFileName(const std::string&) override {}
    std::string FileName() const override { return {}; }
    void SetConfirmReplace(bool) override {}
    bool Execute() override { return false; }
};

void LongBlock(benchmark::State& state) {
    const auto lines = static_cast<int>(state.range(0));
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kelvorin_long_block_" + std::to_string(getpid()) + ".dat");
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i) out << "1 2\n";
    }
    NoDialog dialog;
    for (auto _ : state) {
        kelvorin::AnalysisState s;
        s.DataFileName = path.string();
        if (!s.DataFile.Open(s.DataFileName, kelvorin::TextFile::Mode::Read)) {
            state.SkipWithError("the block cannot be read");
            break;
        }
        kelvorin::MemoryTextGrid grid;
        const int read = kelvorin::ReadTableData(s, dialog, grid, kelvorin::BlockTarget::Table);
        if (read != lines) state.SkipWithError("the block was not read whole");
        benchmark::DoNotOptimize(grid);
    }
    std::filesystem::remove(path);
    state.SetComplexityN(lines);
    state.counters["lines"] = lines;
}
BENCHMARK(LongBlock)->RangeMultiplier(2)->Range(10000, 160000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
