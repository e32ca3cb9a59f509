// Freed blocks of an analysis's sizes come back without the system
// clearing their pages again.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "ReusedMemory.h"

namespace kelvorin {
namespace {

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Arrays grown by doubling, as a vector grows, to 16 MiB, each written
// through, then all freed: the page faults of one such round.
long FaultsOfARound() {
    const long before = MinorFaults();
    std::vector<std::unique_ptr<char[]>> blocks;
    for (std::size_t bytes = std::size_t{1} << 16; bytes <= std::size_t{16} << 20; bytes *= 2) {
        blocks.push_back(std::make_unique_for_overwrite<char[]>(bytes));
        std::memset(blocks.back().get(), static_cast<int>(bytes >> 16), bytes);
    }
    blocks.clear();
    return MinorFaults() - before;
}

TEST(ReusedMemoryTest, ARoundOfFreedArraysIsServedAgainFromMemoryAlreadyTouched) {
    if (!KeepFreedMemoryForReuse()) GTEST_SKIP() << "the C library keeps its own bounds here";
    FaultsOfARound();
    // 32 MiB were written: some 8000 pages had they come fresh.
    EXPECT_LT(FaultsOfARound(), 100);
}

}  // namespace
}  // namespace kelvorin
