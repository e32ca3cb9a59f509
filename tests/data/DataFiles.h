// Files for the data tests: bytes written and read back exactly, and a file
// size limit under which a write fails midway, as on a full disk.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

namespace kelvorin::datafiles {

inline std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

inline std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs ACT with every file limited to BYTES (SIGXFSZ ignored, so the write
// fails instead of ending the program).
template <typename Act>
void WithFileSizeLimit(rlim_t bytes, Act act) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    act();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
}

}  // namespace kelvorin::datafiles
