// The seed corpus of the fuzz targets and every input that once made a fuzz
// target fail, replayed through the same checks in every build of the test
// suite (the sanitizer build included).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzChecks.h"

namespace {

struct Input {
    std::string Name;
    std::vector<std::uint8_t> Bytes;
};

// Every file of the corpus and of the regressions folder.
std::vector<Input> Inputs() {
    std::vector<Input> inputs;
    for (const char* folder : {"corpus", "regressions"}) {
        const std::filesystem::path path = std::filesystem::path(KELVORIN_FUZZ_DIR) / folder;
        if (!std::filesystem::is_directory(path)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            inputs.push_back({std::string(folder) + "/" + entry.path().filename().string(),
                              std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {})});
        }
    }
    return inputs;
}

TEST(FuzzCorpusReplay, EveryInputPassesTheDataFileReaderChecks) {
    const std::vector<Input> inputs = Inputs();
    ASSERT_FALSE(inputs.empty()) << "no corpus";
    for (const Input& input : inputs)
        EXPECT_EQ(kelvorin::fuzzing::CheckDataFileReader(input.Bytes.data(), input.Bytes.size()), "") << input.Name;
}

// The corpus is there and made of small files: nearly all of them are run.
TEST(FuzzCorpusReplay, EveryInputPassesTheBatchChecks) {
    int run = 0;
    for (const Input& input : Inputs()) {
        EXPECT_EQ(kelvorin::fuzzing::CheckBatchRun(input.Bytes.data(), input.Bytes.size()), "") << input.Name;
        run += kelvorin::fuzzing::BatchInputIsSmallEnough(input.Bytes.data(), input.Bytes.size()) ? 1 : 0;
    }
    EXPECT_GE(run, 10);
}

}  // namespace
