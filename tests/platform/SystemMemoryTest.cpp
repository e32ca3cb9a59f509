// The network's memory budget follows the machine's memory within its
// bounds, and this machine's budget is read.
#include <gtest/gtest.h>

#include <cstdint>

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
    // This machine's memory is read: its budget lies within the bounds.
    const std::uint64_t budget = NetworkMemoryBudget();
    EXPECT_GE(budget, kDefaultNetworkMemory);
    EXPECT_LE(budget, 16 * kGiB);
}

}  // namespace
}  // namespace kelvorin
