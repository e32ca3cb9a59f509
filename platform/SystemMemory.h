// How much memory the exact tests' network may hold, from the memory the
// program may use where it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvorin {

// The network's budget for USABLE bytes of memory: a quarter of them, but
// no less than the engine's default of 3 GiB or half of them, whichever is
// less, and no more than 16 GiB. The process's resident memory runs about a
// fifth above what the network holds, so the budget leaves at least two
// fifths of the memory to the rest, where an operating system that
// overcommits memory (or a memory limit of a control group) would rather
// end the program, and the user's unsaved results with it, than refuse an
// allocation.
std::size_t NetworkMemoryFor(std::uint64_t usableBytes);

// The smallest memory limit of the control groups that PROC_CGROUP (the
// text of /proc/self/cgroup) places the process in, read under CGROUP_ROOT
// (normally /sys/fs/cgroup): memory.max of the unified hierarchy and
// memory/memory.limit_in_bytes of the older one, in the group and in every
// group above it. The largest value when there is none.
std::uint64_t ControlGroupMemoryLimit(const std::string& procCgroup, const std::string& cgroupRoot);

// NetworkMemoryFor the memory this process may use: the machine's physical
// memory, or less where the address space is limited (ulimit -v) or the
// process's control group has a memory limit (a container, a batch job of a
// cluster); the engine's default where none of them can be read.
std::size_t NetworkMemoryBudget();

}  // namespace kelvorin
