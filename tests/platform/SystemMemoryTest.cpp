// The network's memory budget follows the machine's memory within its
// bounds, and this machine's budget is read from it.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "AnalysisState.h"
#include "SystemMemory.h"

namespace kelvorin {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(SystemMemoryTest, AQuarterOfPhysicalMemoryBetweenTheDefaultAndSixteenGiB) {
    // Small machines keep the engine's default; between the bounds a
    // quarter; large ones stop at 16 GiB.
    EXPECT_EQ(NetworkMemoryFor(2 * kGiB), kDefaultNetworkMemory);
    EXPECT_EQ(NetworkMemoryFor(12 * kGiB), kDefaultNetworkMemory);
    EXPECT_EQ(NetworkMemoryFor(24 * kGiB), 6 * kGiB);
    EXPECT_EQ(NetworkMemoryFor(40 * kGiB + 8), 10 * kGiB + 2);
    EXPECT_EQ(NetworkMemoryFor(512 * kGiB), 16 * kGiB);
}

// This machine's budget is the one its physical memory gives, as the kernel
// tells it (MemTotal leaves out the memory the kernel reserved, so the two
// readings differ by a little: a few hundred MiB of memory, a quarter of it
// in the budget).
TEST(SystemMemoryTest, ThisMachinesBudgetFollowsItsMemory) {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kiB = 0;
    while (meminfo >> key >> kiB && key != "MemTotal:") meminfo.ignore(1 << 10, '\n');
    if (key != "MemTotal:") GTEST_SKIP() << "no /proc/meminfo";
    const double budget = static_cast<double>(NetworkMemoryBudget());
    EXPECT_NEAR(budget, static_cast<double>(NetworkMemoryFor(kiB * 1024)), 0.02 * budget);
}

}  // namespace
}  // namespace kelvorin
