// The engine's large work arrays (the exact tests' lists of partial tables
// and of values, and their merging tables) are vectors over the default
// memory resource, so that the program can hand them memory suited to
// arrays of hundreds of megabytes that are filled once (see the program's
// start-up) without the engine depending on how it is obtained.
#pragma once

#include <memory_resource>
#include <vector>

namespace kelvorin {

template <typename T>
using WorkVector = std::pmr::vector<T>;

}  // namespace kelvorin
