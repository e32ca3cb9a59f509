// The memory resource for the engine's work arrays: large blocks mapped on
// their own, aligned to large pages and advised for them; small ones and
// over-aligned ones from new and delete.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory_resource>
#include <numeric>
#include <sstream>
#include <string>

#include "LargePageMemory.h"
#include "WorkMemory.h"

namespace kelvorin {
namespace {

std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// The resource installed as the default for one test, the previous one
// restored after it.
class DefaultMemory {
public:
    // (The previous one read first: the first installation sets the
    // default itself.)
    DefaultMemory() : previous_(std::pmr::get_default_resource()) {
        std::pmr::set_default_resource(&LargePageMemory::InstallAsDefault());
    }
    ~DefaultMemory() { std::pmr::set_default_resource(previous_); }
    DefaultMemory(const DefaultMemory&) = delete;
    DefaultMemory& operator=(const DefaultMemory&) = delete;

private:
    std::pmr::memory_resource* previous_;
};

TEST(LargePageMemoryTest, BlocksOfEverySizeAreDistinctWritableMemoryAndLargeOnesStartOnALargePage) {
    const DefaultMemory installed;
    LargePageMemory& memory = LargePageMemory::InstallAsDefault();
    constexpr std::size_t page = LargePageMemory::kLargePage;
    const std::size_t sizes[] = {24, LargePageMemory::kLargeBlock - 8, LargePageMemory::kLargeBlock,
                                 page + 5, 3 * page, 5 * page - 16};
    void* blocks[std::size(sizes)];
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        blocks[i] = memory.allocate(sizes[i], 16);
        ASSERT_NE(blocks[i], nullptr);
        EXPECT_EQ(Address(blocks[i]) % 16, 0u);
        if (sizes[i] >= LargePageMemory::kLargeBlock) {
            EXPECT_EQ(Address(blocks[i]) % page, 0u) << sizes[i];
        }
        std::memset(blocks[i], static_cast<int>(i + 1), sizes[i]);
    }
    // Each block keeps its own bytes: none overlaps another.
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const auto* bytes = static_cast<const unsigned char*>(blocks[i]);
        EXPECT_EQ(bytes[0], i + 1);
        EXPECT_EQ(bytes[sizes[i] - 1], i + 1);
        EXPECT_EQ(bytes[sizes[i] / 2], i + 1);
        memory.deallocate(blocks[i], sizes[i], 16);
    }
    // Over-aligned requests are served too (by new and delete).
    void* aligned = memory.allocate(3 * page, 2 * page);
    EXPECT_EQ(Address(aligned) % (2 * page), 0u);
    std::memset(aligned, 7, 3 * page);
    memory.deallocate(aligned, 3 * page, 2 * page);
}

TEST(LargePageMemoryTest, WorkVectorsGrowingPastTheLargeBlockKeepTheirItems) {
    const DefaultMemory installed;
    WorkVector<std::int64_t> values;
    for (std::int64_t i = 0; i < 3'000'000; ++i) values.push_back(i * i % 1'000'003);
    WorkVector<std::int64_t> moved = std::move(values);
    std::int64_t sum = 0;
    for (std::int64_t i = 0; i < 3'000'000; ++i) sum += i * i % 1'000'003;
    EXPECT_EQ(std::accumulate(moved.begin(), moved.end(), std::int64_t{0}), sum);
    moved.resize(10);
    moved.shrink_to_fit();
    EXPECT_EQ(moved[9], 81);
}

// Where the system offers transparent large pages on advice, a large block
// once touched is backed by them.
TEST(LargePageMemoryTest, ALargeBlockIsBackedByLargePagesWhereTheSystemOffersThem) {
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (!std::getline(setting, modes) || modes.find("[never]") != std::string::npos)
        GTEST_SKIP() << "no transparent large pages on this system";
    const DefaultMemory installed;
    LargePageMemory& memory = LargePageMemory::InstallAsDefault();
    constexpr std::size_t size = 8 * LargePageMemory::kLargePage;
    void* block = memory.allocate(size, 16);
    std::memset(block, 1, size);
    // The mapping's share on large pages, from the process's own map.
    std::ifstream maps("/proc/self/smaps");
    std::string line;
    bool inBlock = false;
    long hugeKb = -1;
    while (std::getline(maps, line)) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> from >> dash >> to && dash == '-') {
            inBlock = from <= Address(block) && Address(block) < to;
            continue;
        }
        if (inBlock && line.rfind("AnonHugePages:", 0) == 0) {
            hugeKb = std::stol(line.substr(std::strlen("AnonHugePages:")));
            break;
        }
    }
    memory.deallocate(block, size, 16);
    ASSERT_GE(hugeKb, 0) << "the block is not in the process's map";
    EXPECT_GT(hugeKb, 0);
}

}  // namespace
}  // namespace kelvorin
