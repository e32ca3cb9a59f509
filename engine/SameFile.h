// Whether two file names lead to one file. A file that the program reads
// must never be the one it replaces or appends to at the same time: the
// commands that write ask this before they open anything for writing.
#pragma once

#include <string>

namespace kelvorin {

// True when writing through one of the names A and B would change what is
// read or written through the other: both name one existing regular file
// (std::filesystem::equivalent, so different spellings of a path, symbolic
// links and hard links are seen through), or neither exists yet and both
// lead to the same path once the links of their last part are followed (a
// file opened under the name is made where they lead), the result made
// absolute, the links of its existing folders resolved and "." and ".."
// taken out. An empty name is no
// file. Devices, pipes and sockets are never the same file in this sense:
// writing reports and a trace both to /dev/null replaces nothing.
bool IsSameFile(const std::string& a, const std::string& b);

// The message (caption "Error") of a save or a trace that would write the
// data file the tables are read from.
inline constexpr const char* kDataFileBeingRead = "The data file being read cannot be written";

}  // namespace kelvorin
