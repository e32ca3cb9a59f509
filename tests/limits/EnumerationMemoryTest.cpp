// The exact enumeration may visit millions of tables; the memory it holds
// must not grow with their number. This program counts every allocation (it
// replaces the global operator new, which is why it is a test program of its
// own) and compares what is live at the first and at the last progress
// display of a long enumeration.
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
#include "engine/FakePorts.h"

namespace {

std::atomic<long> liveBlocks{0}, liveBytes{0}, allocations{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    ++allocations, ++liveBlocks, liveBytes += static_cast<long>(malloc_usable_size(block));
    return block;
}

void Release(void* block) {
    if (block != nullptr) --liveBlocks, liveBytes -= static_cast<long>(malloc_usable_size(block));
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

}  // namespace
}  // namespace kelvorin
