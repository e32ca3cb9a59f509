// The network's memory budget follows the memory the program may use: the
// machine's, or less under a limit of the address space or of the control
// group (a container, a batch job of a cluster).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "AnalysisState.h"
#include "engine/FakePorts.h"
#include "SystemMemory.h"

namespace kelvorin {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(SystemMemoryTest, AQuarterOfTheUsableMemoryWithinItsBounds) {
    // Below 12 GiB the engine's default of 3 GiB while it is at most half
    // of the memory, else half; between the bounds a quarter; large
    // machines stop at 16 GiB.
    EXPECT_EQ(NetworkMemoryFor(512 << 20), 256u << 20);
    EXPECT_EQ(NetworkMemoryFor(4 * kGiB), 2 * kGiB);
    EXPECT_EQ(NetworkMemoryFor(6 * kGiB), kDefaultNetworkMemory);
    EXPECT_EQ(NetworkMemoryFor(12 * kGiB), kDefaultNetworkMemory);
    EXPECT_EQ(NetworkMemoryFor(24 * kGiB), 6 * kGiB);
    EXPECT_EQ(NetworkMemoryFor(40 * kGiB + 8), 10 * kGiB + 2);
    EXPECT_EQ(NetworkMemoryFor(512 * kGiB), 16 * kGiB);
}

// The smallest limit of the process's group and the groups above it, in the
// unified hierarchy (at the top or under unified/) and in the older memory
// hierarchy; "max", text and missing files are no limit.
TEST(SystemMemoryTest, TheControlGroupsLimitIsTheSmallestOnTheWayUp) {
    fakes::TempDirectory root;
    auto limit = [&](const std::string& folder, const char* file, const std::string& value) {
        std::filesystem::create_directories(root.File(folder));
        std::ofstream(root.File(folder + "/" + file)) << value << "\n";
    };
    limit("a", "memory.max", "max");
    limit("a/b", "memory.max", "1073741824");
    limit("unified/u", "memory.max", "3221225472");
    limit("memory", "memory.limit_in_bytes", "9223372036854771712");
    limit("memory/m", "memory.limit_in_bytes", "2147483648");
    limit("memory/m/n", "memory.limit_in_bytes", "junk");
    const std::uint64_t none = ~std::uint64_t{0};
    const std::string r = root.Path();
    EXPECT_EQ(ControlGroupMemoryLimit("0::/a/b\n", r), kGiB);
    EXPECT_EQ(ControlGroupMemoryLimit("0::/a\n", r), none);
    EXPECT_EQ(ControlGroupMemoryLimit("0::/u\n", r), 3 * kGiB);
    EXPECT_EQ(ControlGroupMemoryLimit("4:memory:/m/n\n0::/\n", r), 2 * kGiB);
    EXPECT_EQ(ControlGroupMemoryLimit("3:cpu,memory:/m\n0::/a/b\n", r), kGiB);
    EXPECT_EQ(ControlGroupMemoryLimit("4:memory:/\n2:cpu:/m\n", r), 9223372036854771712u);
    EXPECT_EQ(ControlGroupMemoryLimit("", r), none);
    EXPECT_EQ(ControlGroupMemoryLimit("0::/a/b\n", r + "/nothing"), none);
}

// This machine's budget is the one its physical memory (as the kernel tells
// it in /proc/meminfo) and its control group give; a limit of the address
// space lowers it.
TEST(SystemMemoryTest, ThisProcessesBudgetFollowsItsMemoryAndItsLimits) {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kiB = 0;
    while (meminfo >> key >> kiB && key != "MemTotal:") meminfo.ignore(1 << 10, '\n');
    if (key != "MemTotal:") GTEST_SKIP() << "no /proc/meminfo";
    std::ifstream in("/proc/self/cgroup");
    const std::string groups((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::uint64_t usable = std::min(kiB * 1024, ControlGroupMemoryLimit(groups, "/sys/fs/cgroup"));
    rlimit addressSpace{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &addressSpace), 0);
    if (addressSpace.rlim_cur != RLIM_INFINITY) usable = std::min<std::uint64_t>(usable, addressSpace.rlim_cur);
    const double budget = static_cast<double>(NetworkMemoryBudget());
    EXPECT_NEAR(budget, static_cast<double>(NetworkMemoryFor(usable)), 0.02 * budget);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer holds more address space than the limit below";
#else
    if (addressSpace.rlim_max != RLIM_INFINITY && addressSpace.rlim_max < 4 * kGiB)
        GTEST_SKIP() << "the address space may not be given 4 GiB";
    // In a child, so that this process keeps its address space.
    const std::uint64_t limited = NetworkMemoryFor(std::min(usable, 4 * kGiB));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit small{4 * kGiB, addressSpace.rlim_max};
        const double got = static_cast<double>(setrlimit(RLIMIT_AS, &small) == 0 ? NetworkMemoryBudget() : 0);
        _exit(std::abs(got - static_cast<double>(limited)) <= 0.02 * static_cast<double>(limited) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

}  // namespace
}  // namespace kelvorin
