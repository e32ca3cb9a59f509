// libFuzzer target: arbitrary bytes as a table data file, read line by line
// and block by block into the entry grid and the proportions grid.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fault = kelvorin::fuzzing::CheckDataFileReader(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "data file reader: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
