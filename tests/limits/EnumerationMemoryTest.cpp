// The exact enumeration may visit millions of tables; the memory it holds
// must not grow with their number. This program counts every allocation (it
// replaces the global operator new, which is why it is a test program of its
// own) and compares what is live at the first and at the last progress
// display of a long enumeration; and it keeps the most bytes live at once,
// which the network algorithm must keep near the memory budget it is given.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "NetworkAlgorithm.h"
#include "engine/FakePorts.h"

namespace {

std::atomic<long> liveBlocks{0}, liveBytes{0}, allocations{0}, mostBytes{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    ++allocations, ++liveBlocks;
    const long live = liveBytes += static_cast<long>(malloc_usable_size(block));
    for (long most = mostBytes.load(); live > most && !mostBytes.compare_exchange_weak(most, live);) {
    }
    return block;
}

void Release(void* block) {
    if (block != nullptr) --liveBlocks, liveBytes -= static_cast<long>(malloc_usable_size(block));
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
// The forms that return null instead of throwing (the standard library's
// temporary buffers use them) go through the same counting, or a block
// from the runtime's own operator would come back to Release.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

namespace kelvorin {
namespace {

// The run's status line and event pump: at every progress display it notes
// the live blocks and bytes and the allocations so far, in storage of its
// own (the other fakes are only touched at the start and end of the run).
struct Watch : StatusLine, EventPump {
    struct Snapshot {
        long live, bytes, allocated;
    };
    void SetText(const std::string&) override {}
    void ProcessPendingEvents() override {
        if (displays < 4096) at[displays++] = {liveBlocks.load(), liveBytes.load(), allocations.load()};
    }
    int displays = 0;
    Snapshot at[4096] = {};
};

// What is live must not grow from the first progress display to the last,
// and untraced no more than a few allocations per display (for its text) may
// be made in between: r x c, traced at level 4 to /dev/null, one-way.
TEST(EnumerationMemory, TheMemoryHeldDoesNotGrowAsTheEnumerationGoesOn) {
    for (const auto& [table, details, points, displays] :
         {std::tuple<std::vector<std::vector<int>>, bool, std::uint64_t, int>{
              {{12, 24, 12}, {24, 12, 12}, {12, 12, 24}}, false, 500000, 50},
          {{{6, 12, 6}, {12, 6, 6}, {6, 6, 12}}, true, 30000, 3}, {{{10, 15, 5, 12, 8}}, false, 316251, 3000}}) {
        fakes::FakeEnvironment env;
        env.entryGrid.SetCounts(table);
        env.options.options = fakes::With(details ? "ExaLRtest ExaCStest CountPos Details" : "ExaLRtest ExaCStest CountPos");
        env.options.options.Track = 4;
        env.saveDialog.chosen = "/dev/null";
        auto watch = std::make_unique<Watch>();
        EnginePorts ports = env.Ports();
        ports.Status = watch.get(), ports.Pump = watch.get();
        AnalysisEngine engine(ports);
        engine.DiscardTable();
        engine.RunAnalysis();
        EXPECT_TRUE(env.messages.shown.empty());
        EXPECT_GE(engine.State().SamplePointCount, points);
        ASSERT_GE(watch->displays, displays);
        const Watch::Snapshot &first = watch->at[0], &last = watch->at[watch->displays - 1];
        EXPECT_EQ(std::pair(last.live, last.bytes), std::pair(first.live, first.bytes));
        EXPECT_TRUE(details || last.allocated - first.allocated <= 4L * watch->displays);
    }
}

// The network algorithm keeps to the memory budget the program sizes from
// the memory it may use (a container's limit kills a program that does not,
// and the user's unsaved work with it). A sparse 5 x 10 table (N = 70, all
// three exact tests): Pearson's values seldom merge, and its integer count
// at its limit of values a side held 1.6 GB. With a budget of 64 MiB, the
// passes beside each other (each side within half of it), the bytes live
// at once during the run stay within 384 MiB: the budget, and up to 128 MiB
// of completions' lists on each side and the nodes on top of it (128 MiB
// were live at most). The network gives up on this table within it.
TEST(NetworkMemory, PearsonsIntegerCountKeepsToTheBudget) {
    fakes::FakeEnvironment env;
    env.entryGrid.SetCounts({{1, 2, 0, 1, 1, 2, 0, 4, 2, 1},
                             {3, 0, 2, 0, 1, 0, 0, 0, 1, 0},
                             {3, 3, 1, 0, 1, 2, 3, 5, 1, 1},
                             {1, 1, 1, 1, 2, 1, 2, 1, 3, 3},
                             {2, 2, 2, 2, 2, 1, 0, 1, 0, 1}});
    env.options.options = fakes::With("ExaLRtest ExaCStest CountPos");
    AnalysisEngine engine(env.Ports());
    AnalysisState& s = engine.State();
    s.NetworkFrom = 0;
    // The first progress breaks the analysis off once the state is prepared.
    env.pump.onPass = [&] { engine.BreakOff(); };
    engine.DiscardTable();
    engine.RunAnalysis();
    env.pump.onPass = nullptr;
    ASSERT_TRUE(s.Table.TwoWay);
    s.Abandoned = false;
    constexpr std::size_t kBudget = std::size_t{64} << 20;
    NetworkLimits limits;
    limits.MaxBytes = kBudget;
    limits.PassesBeside = true;
    limits.NearMode = limits.FarTail = false;
    const long before = liveBytes.load();
    mostBytes.store(before);
    EXPECT_EQ(RunNetworkAlgorithm(s, env.Ports(), limits), NetworkOutcome::NeedsEnumeration);
    const long most = mostBytes.load() - before;
    EXPECT_LE(most, 384L << 20) << most / (1 << 20) << " MiB live at once";
}

}  // namespace
}  // namespace kelvorin
