// How much memory the exact tests' network may hold, from the memory of the
// machine the program runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvorin {

// A quarter of the physical memory, but no less than the engine's default
// of 3 GiB (which the smallest machines keep) and no more than 16 GiB. The
// process's resident memory runs about a fifth above what the network
// holds, so a quarter leaves the rest of the machine to other programs,
// where an operating system that overcommits memory would rather end the
// program (and the user's unsaved table) than refuse an allocation.
std::size_t NetworkMemoryFor(std::uint64_t physicalBytes);

// NetworkMemoryFor this machine's physical memory; the engine's default
// where it cannot be read.
std::size_t NetworkMemoryBudget();

}  // namespace kelvorin
