// The engine with console and in-memory ports, as the batch mode drives
// it, with a table typed into its entry grid: for the benchmark programs.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "ConsolePorts.h"
#include "MemoryTextGrid.h"

namespace kelvorin::bench {

using Rows = std::vector<std::vector<int>>;

// The options of a benchmark run: no descriptive tables, the exact tests
// with the sample points counted; the probability ordering always, the
// likelihood ratio's and Pearson's as asked.
inline AnalysisOptions ExactTests(bool likelihoodRatio, bool pearson) {
    AnalysisOptions o;
    o.Observed = false;
    o.ExaLRtest = likelihoodRatio;
    o.ExaCStest = pearson;
    o.CountPos = true;
    return o;
}

// The proportions window of a one-row table, typing the given weights (none:
// equal proportions) into its grid.
class TypedWeights : public ModalWindow {
public:
    TypedWeights(MemoryTextGrid& grid, std::vector<std::string> weights) : grid_(grid), weights_(std::move(weights)) {}
    bool ShowModalOk() override {
        for (std::size_t i = 0; i < weights_.size(); ++i) grid_.SetCell(static_cast<int>(i), 0, weights_[i]);
        return true;
    }

private:
    MemoryTextGrid& grid_;
    std::vector<std::string> weights_;
};

struct Harness {
    MemoryTextGrid entry;
    MemoryTextGrid proportions;
    TypedWeights window;
    MemoryReport report;
    std::ostringstream err;
    ConsoleProgress progress{err, false};
    StreamMessages messages{err};
    SystemClock clock;
    NoMenus menus;
    FixedFileDialog details{""};
    FixedOptions options;
    AnalysisEngine engine;

    static EnginePorts Ports(Harness& h) {
        EnginePorts p;
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

    Harness(const Rows& rows, const AnalysisOptions& o, std::vector<std::string> weights = {})
        : window(proportions, std::move(weights)), options(o), engine(Ports(*this)) {
        entry.SetRowCount(static_cast<int>(rows.size()));
        entry.SetColCount(static_cast<int>(rows[0].size()));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows[i].size(); ++j)
                entry.SetCell(static_cast<int>(j), static_cast<int>(i), std::to_string(rows[i][j]));
    }
};

}  // namespace kelvorin::bench
