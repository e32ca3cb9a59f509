// libFuzzer target: arbitrary bytes as the data file of the batch command
// line with every option on. Inputs whose tables would take long to
// enumerate are passed over (see kMaxBatchSamplePoints).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fault = kelvorin::fuzzing::CheckBatchRun(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "batch run: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
