#include "SystemMemory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "AnalysisState.h"

namespace kelvorin {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The number a limit file holds; unlimited for "max", for anything else
// that is not a number, and for a file that cannot be read.
std::uint64_t ReadLimit(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        return kUnlimited;
    return std::stoull(text);
}

// The smallest limit in the group PATH under HIERARCHY and the groups above
// it, up to the hierarchy's own top.
std::uint64_t SmallestLimitUp(const std::filesystem::path& hierarchy, std::string path, const char* file) {
    std::uint64_t least = ReadLimit(hierarchy / file);
    while (!path.empty() && path != "/") {
        least = std::min(least, ReadLimit(hierarchy / path.substr(1) / file));
        path.erase(path.find_last_of('/'));
    }
    return least;
}

}  // namespace

std::size_t NetworkMemoryFor(std::uint64_t usableBytes) {
    constexpr std::uint64_t kMost = std::uint64_t{16} << 30;
    const std::uint64_t quarter = usableBytes / 4;
    const std::uint64_t least = std::min<std::uint64_t>(kDefaultNetworkMemory, usableBytes / 2);
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(quarter, least, kMost));
}

std::uint64_t ControlGroupMemoryLimit(const std::string& procCgroup, const std::string& cgroupRoot) {
    const std::filesystem::path root(cgroupRoot);
    std::uint64_t least = kUnlimited;
    std::istringstream lines(procCgroup);
    // Lines "ID:CONTROLLERS:PATH"; ID 0 with no controllers is the unified
    // hierarchy.
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (!path.starts_with('/')) continue;
        if (line.starts_with("0::")) {
            least = std::min({least, SmallestLimitUp(root, path, "memory.max"),
                              SmallestLimitUp(root / "unified", path, "memory.max")});
        }
        std::istringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');)
            if (name == "memory") least = std::min(least, SmallestLimitUp(root / "memory", path, "memory.limit_in_bytes"));
    }
    return least;
}

std::size_t NetworkMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    std::uint64_t usable = pages > 0 && pageSize > 0
                               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                               : kUnlimited;
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        usable = std::min<std::uint64_t>(usable, addressSpace.rlim_cur);
    std::ifstream in("/proc/self/cgroup");
    std::stringstream text;
    text << in.rdbuf();
    usable = std::min(usable, ControlGroupMemoryLimit(text.str(), "/sys/fs/cgroup"));
    return usable == kUnlimited ? kDefaultNetworkMemory : NetworkMemoryFor(usable);
}

}  // namespace kelvorin
