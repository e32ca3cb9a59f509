// The exact enumeration may visit millions of tables; the memory it holds
// must not grow with their number. This program counts every allocation (it
// replaces the global operator new, which is why it is a test program of its
// own) and compares what is live at the first and at the last progress
// display of a long enumeration.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"

namespace {

std::atomic<long> liveBlocks{0};
std::atomic<long> liveBytes{0};
std::atomic<long> allocations{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    ++allocations;
    ++liveBlocks;
    liveBytes += static_cast<long>(malloc_usable_size(block));
    return block;
}

void Release(void* block) {
    if (block == nullptr) return;
    --liveBlocks;
    liveBytes -= static_cast<long>(malloc_usable_size(block));
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

namespace kelvorin {
namespace {

// Ports that keep nothing of what passes through them, so that they hold no
// memory of their own that grows with the run.
class Grid : public TextGrid {
public:
    explicit Grid(std::vector<std::vector<int>> counts) : counts_(std::move(counts)) {}
    int RowCount() const override { return static_cast<int>(counts_.size()); }
    int ColCount() const override { return static_cast<int>(counts_[0].size()); }
    void SetRowCount(int) override {}
    void SetColCount(int) override {}
    std::string Cell(int col, int row) const override {
        return std::to_string(counts_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)]);
    }
    void SetCell(int, int, const std::string&) override {}

private:
    std::vector<std::vector<int>> counts_;
};

// The proportions grid: every cell empty, so every weight is 1.
class EmptyGrid : public TextGrid {
public:
    int RowCount() const override { return rows_; }
    int ColCount() const override { return cols_; }
    void SetRowCount(int rows) override { rows_ = rows; }
    void SetColCount(int cols) override { cols_ = cols; }
    std::string Cell(int, int) const override { return {}; }
    void SetCell(int, int, const std::string&) override {}

private:
    int rows_ = 1;
    int cols_ = 1;
};

class CountingReport : public ReportSink {
public:
    void AppendLine(const std::string&) override { ++lines; }
    void Clear() override { lines = 0; }
    std::vector<std::string> Lines() const override { return {}; }
    long lines = 0;
};

// At every progress display it notes how many blocks and bytes are live and
// how many allocations have been made so far, into storage of its own.
class Quiet : public StatusLine, public EventPump, public MessageBoxes, public MenuStates, public ModalWindow {
public:
    static constexpr int kMaxDisplays = 4096;
    void SetText(const std::string&) override {}
    void ProcessPendingEvents() override {
        if (displays == kMaxDisplays) return;
        live[displays] = liveBlocks.load();
        bytes[displays] = liveBytes.load();
        allocated[displays] = allocations.load();
        ++displays;
    }
    void Show(const std::string&, const std::string&) override { ++messages; }
    bool AskYesNo(const std::string&) override { return false; }
    void SetEnabled(MenuItem, bool) override {}
    bool ShowModalOk() override { return true; }
    int messages = 0;
    int displays = 0;
    long live[kMaxDisplays] = {};
    long bytes[kMaxDisplays] = {};
    long allocated[kMaxDisplays] = {};
};

class StillClock : public Clock {
public:
    double Now() const override { return 45000.5; }
    std::string ShortDateText(double) const override { return "15.03.2023"; }
    std::string LongTimeText(double) const override { return "12:00:00"; }
};

class NamedDialog : public FileDialog {
public:
    explicit NamedDialog(std::string name) : name_(std::move(name)) {}
    void SetFileName(const std::string&) override {}
    std::string FileName() const override { return name_; }
    bool Execute() override { return true; }

private:
    std::string name_;
};

class Options : public OptionsProvider {
public:
    explicit Options(AnalysisOptions options) : options_(options) {}
    AnalysisOptions Current() const override { return options_; }

private:
    AnalysisOptions options_;
};

// What the enumeration held and allocated between its first progress
// display and its last.
struct Footprint {
    int Displays = 0;
    long LiveGrowth = 0;         // blocks live at the last display minus those at the first
    long ByteGrowth = 0;         // the same in bytes
    long AllocationsBetween = 0;  // allocations made from the first display to the last
    std::uint64_t SamplePoints = 0;
};

// Runs TABLE with every exact test (and, when DETAILS, the trace at level 4
// to /dev/null).
Footprint Measure(const std::vector<std::vector<int>>& table, bool details) {
    Grid entryGrid(table);
    EmptyGrid proportionsGrid;
    CountingReport report;
    auto quiet = std::make_unique<Quiet>();
    StillClock clock;
    NamedDialog dialog("/dev/null");
    AnalysisOptions chosen;
    chosen.ExaLRtest = chosen.ExaCStest = chosen.CountPos = true;
    chosen.Details = details;
    chosen.Track = 4;
    Options options(chosen);
    EnginePorts ports;
    ports.EntryGrid = &entryGrid;
    ports.ProportionsGrid = &proportionsGrid;
    ports.ProportionsWindow = quiet.get();
    ports.Report = &report;
    ports.Status = quiet.get();
    ports.Pump = quiet.get();
    ports.Messages = quiet.get();
    ports.LocalClock = &clock;
    ports.Menus = quiet.get();
    ports.SaveDialog1 = &dialog;
    ports.Options = &options;
    AnalysisEngine engine(ports);
    engine.DiscardTable();
    engine.RunAnalysis();

    EXPECT_EQ(quiet->messages, 0);
    EXPECT_GT(report.lines, 10);
    Footprint footprint;
    footprint.Displays = quiet->displays;
    footprint.SamplePoints = engine.State().SamplePointCount;
    if (quiet->displays > 0) {
        const int last = quiet->displays - 1;
        footprint.LiveGrowth = quiet->live[last] - quiet->live[0];
        footprint.ByteGrowth = quiet->bytes[last] - quiet->bytes[0];
        footprint.AllocationsBetween = quiet->allocated[last] - quiet->allocated[0];
    }
    return footprint;
}

// A 3 x 3 table with some 770 000 sample points.
const std::vector<std::vector<int>> kLargeTable = {{12, 24, 12}, {24, 12, 12}, {12, 12, 24}};

TEST(EnumerationMemory, TheMemoryHeldDoesNotGrowAsTheEnumerationGoesOn) {
    const Footprint footprint = Measure(kLargeTable, false);
    ASSERT_GT(footprint.SamplePoints, 500000u);
    ASSERT_GE(footprint.Displays, 50);
    EXPECT_EQ(footprint.LiveGrowth, 0);
    EXPECT_EQ(footprint.ByteGrowth, 0);
    // Nothing is allocated per sample point: at most the progress text of
    // each display.
    EXPECT_LE(footprint.AllocationsBetween, 4L * footprint.Displays);
}

TEST(EnumerationMemory, TheTraceAllocatesPerPointButHoldsNothingMore) {
    const Footprint footprint = Measure({{6, 12, 6}, {12, 6, 6}, {6, 6, 12}}, true);
    ASSERT_GE(footprint.Displays, 3);
    EXPECT_EQ(footprint.LiveGrowth, 0);
    EXPECT_EQ(footprint.ByteGrowth, 0);
}

TEST(EnumerationMemory, TheOneWayEnumerationHoldsNothingMoreEither) {
    // 50 observations in five categories: C(54, 4) = 316 251 sample points,
    // a progress display every 100.
    const Footprint footprint = Measure({{10, 15, 5, 12, 8}}, false);
    ASSERT_EQ(footprint.SamplePoints, 316251u);
    ASSERT_GE(footprint.Displays, 3000);
    EXPECT_EQ(footprint.LiveGrowth, 0);
    EXPECT_EQ(footprint.ByteGrowth, 0);
    EXPECT_LE(footprint.AllocationsBetween, 4L * footprint.Displays);
}

}  // namespace
}  // namespace kelvorin
