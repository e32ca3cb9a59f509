#include "SystemMemory.h"

#include <unistd.h>

#include <algorithm>

#include "AnalysisState.h"

namespace kelvorin {

std::size_t NetworkMemoryFor(std::uint64_t physicalBytes) {
    constexpr std::uint64_t kMost = std::uint64_t{16} << 30;
    const std::uint64_t quarter = physicalBytes / 4;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(quarter, kDefaultNetworkMemory, kMost));
}

std::size_t NetworkMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kDefaultNetworkMemory;
    return NetworkMemoryFor(static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize));
}

}  // namespace kelvorin
