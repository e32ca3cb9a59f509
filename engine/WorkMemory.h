// The engine's large work arrays: the exact tests' lists of partial tables
// and of values, and their merging tables, of tens of kilobytes to
// hundreds of megabytes, each filled once. They come from the heap like any
// other vector (the program keeps freed blocks of up to 32 MiB there for
// the next pass, see its start-up). Asking the system to back them with
// transparent large pages was measured slower: on the development machine
// fresh large pages often took many times as long to come as small ones.
#pragma once

#include <vector>

namespace kelvorin {

template <typename T>
using WorkVector = std::vector<T>;

}  // namespace kelvorin
