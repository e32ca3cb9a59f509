// The batch command line on files that are not what it expects: other line
// ends, a folder or an unreadable file as data file, weights that cannot be
// used, and result and details files that cannot be created or fill the disk.
// Every error message fails the run, even when later tables are reported.
#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/resource.h>

#include <csignal>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "BatchMode.h"

namespace {

struct Outcome {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Every option named, so that nothing stored elsewhere counts.
std::vector<std::string> Arguments(const std::string& data, const std::vector<std::string>& more,
                                   const std::vector<std::string>& options) {
    std::vector<std::string> args = {"--batch", data};
    args.insert(args.end(), more.begin(), more.end());
    const std::vector<std::string> all = {"Observed=1", "Expected=1", "Column=0",   "Row=0",        "ExaLRtest=1",
                                          "ExaCStest=0", "CountPos=1", "AppLRtest=0", "AppCStest=0", "Details=0",
                                          "2x2twotail=0", "2x2onetail=0", "Track=1", "InputData=0"};
    for (const std::string& option : all) {
        args.push_back("--option");
        args.push_back(option);
    }
    for (const std::string& option : options) {
        args.push_back("--option");
        args.push_back(option);
    }
    return args;
}

Outcome RunBatchOn(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.Status = kelvorin::RunBatch(args, out, err, false);
    outcome.Out = out.str();
    outcome.Err = err.str();
    return outcome;
}

// The output without the lines that depend on the clock.
std::vector<std::string> TimelessLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Zelkat ", 0) != 0 && line.rfind("  Used time", 0) != 0) lines.push_back(line);
    return lines;
}

class BatchBadInputsTest : public ::testing::Test {
protected:
    BatchBadInputsTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvorin_batchbad_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "cannot create a folder from " << pattern;
        folder_ = buffer.data();
    }
    ~BatchBadInputsTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string folder_;
};

TEST_F(BatchBadInputsTest, CarriageReturnLineEndsGiveTheReportsOfLineFeeds) {
    const std::string tables = "2 3\n4 5\n\n6 7 8\n1 2 3\n\n6 8 10\n\n1 1 2\n\n12\n7\n5\n\n\n";
    const Outcome lf = RunBatchOn(Arguments(Write("lf.dat", tables), {}, {}));
    ASSERT_EQ(lf.Status, kelvorin::kBatchOk) << lf.Err;
    std::string cr = tables;
    for (char& c : cr)
        if (c == '\n') c = '\r';
    const Outcome crOnly = RunBatchOn(Arguments(Write("cr.dat", cr), {}, {}));
    EXPECT_EQ(crOnly.Status, kelvorin::kBatchOk);
    EXPECT_EQ(crOnly.Err, "");
    EXPECT_EQ(TimelessLines(crOnly.Out), TimelessLines(lf.Out));
    EXPECT_GT(TimelessLines(lf.Out).size(), 20u);
}

TEST_F(BatchBadInputsTest, AFolderOrAFileThatCannotBeOpenedIsRefusedAndTheResultFileKept) {
    std::filesystem::create_directory(PathOf("folder.dat"));
    const std::string plain = Write("plain.dat", "1 2\n3 4\n\n");
    const std::string result = Write("result.txt", "report worth keeping\n");
    for (const std::string& data : {PathOf("folder.dat"), plain + "/inside.dat"}) {
        SCOPED_TRACE(data);
        const Outcome outcome = RunBatchOn(Arguments(data, {"--output", result}, {}));
        EXPECT_EQ(outcome.Status, kelvorin::kBatchUsage);
        EXPECT_EQ(outcome.Err, "kelvorin: cannot open data file " + data + "\n");
        EXPECT_EQ(outcome.Out, "");
        EXPECT_EQ(Contents(result), "report worth keeping\n");
    }
}

TEST_F(BatchBadInputsTest, AResultFileThatCannotBeCreatedIsRefusedBeforeAnyTable) {
    const std::string result = PathOf("no/such/folder/result.txt");
    const Outcome outcome = RunBatchOn(Arguments(Write("t.dat", "1 2\n3 4\n\n"), {"--output", result}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "kelvorin: cannot write result file " + result + "\n");
    EXPECT_EQ(outcome.Out, "");
}

TEST_F(BatchBadInputsTest, AFolderGivenAsResultFileIsRefusedAndLeftAlone) {
    std::filesystem::create_directory(PathOf("results"));
    const Outcome outcome = RunBatchOn(Arguments(Write("t.dat", "1 2\n3 4\n\n"), {"--output", PathOf("results")}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "kelvorin: cannot write result file " + PathOf("results") + "\n");
    EXPECT_TRUE(std::filesystem::is_directory(PathOf("results")));
}

TEST_F(BatchBadInputsTest, ADetailsFileThatCannotBeOpenedIsRefusedBeforeAnyTable) {
    const std::string data = Write("t.dat", "1 2\n3 4\n\n");
    const std::string result = Write("result.txt", "report worth keeping\n");
    std::filesystem::create_directory(PathOf("folder.txt"));
    for (const std::string& details : {PathOf("no/such/folder/details.txt"), PathOf("folder.txt")}) {
        SCOPED_TRACE(details);
        const Outcome outcome = RunBatchOn(Arguments(data, {"--output", result, "--details", details}, {"Details=1"}));
        EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
        EXPECT_EQ(outcome.Err, "Error: Cannot write file " + details + "\n");
        EXPECT_EQ(Contents(result), "report worth keeping\n");
        // Without the trace asked for, the name does not matter.
        const Outcome untraced = RunBatchOn(Arguments(data, {"--details", details}, {}));
        EXPECT_EQ(untraced.Status, kelvorin::kBatchOk);
        EXPECT_EQ(untraced.Err, "");
    }
    EXPECT_TRUE(std::filesystem::is_directory(PathOf("folder.txt")));
}

TEST_F(BatchBadInputsTest, AnErrorInAnyTableFailsTheRunThoughTheLaterTablesAreReported) {
    // The first table's exact test leaves the extended range: its report is
    // cut short with "To many observations" but is not empty.
    const std::string data = Write("t.dat", "350 350 400\n350 350 400\n\n2 0\n0 2\n\n");
    const Outcome outcome = RunBatchOn(Arguments(data, {}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "ERROR (table 1): To many observations\n");
    const std::vector<std::string> lines = TimelessLines(outcome.Out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), " Calculations interrupted at sample point nr 0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Number of sample points = 3"), lines.end());
}

TEST_F(BatchBadInputsTest, AFileThatOpensButCannotBeReadIsADataErrorAndEndsTheRun) {
    // Reading the start of a process's memory fails with an input/output
    // error, which is no end of the data.
    const std::string unreadable = "/proc/self/mem";
    if (!std::ifstream(unreadable)) GTEST_SKIP() << unreadable << " cannot be opened";
    const Outcome outcome = RunBatchOn(Arguments(unreadable, {}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "Error (table 1): Data error reading file " + unreadable + "\n");
    EXPECT_EQ(outcome.Out, "Data error reading file " + unreadable + "\n");
}

TEST_F(BatchBadInputsTest, AFileWithoutAnyTableIsReportedAsNoData) {
    for (const std::string& contents : {std::string(), std::string("\n1 2\n3 4\n\n"), std::string("text only\n")}) {
        SCOPED_TRACE(contents);
        const Outcome outcome = RunBatchOn(Arguments(Write("none.dat", contents), {}, {}));
        EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
        EXPECT_EQ(outcome.Err, "Error: No data avaiable\n");
        EXPECT_EQ(outcome.Out, "");
    }
}

TEST_F(BatchBadInputsTest, WeightsOfZeroOrBelowFromTheFileAreRefusedWithTheTableNumber) {
    const std::string data = Write("w.dat", "2 3\n4 5\n\n5 7 9\n\n1 0 2\n\n5 7 9\n\n-1 1 1\n\n");
    const Outcome outcome = RunBatchOn(Arguments(data, {}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    std::istringstream err(outcome.Err);
    std::vector<std::string> lines;
    for (std::string line; std::getline(err, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << outcome.Err;
    EXPECT_EQ(lines[0].rfind("Error (table 2): ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("category 2"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("Error (table 3): ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("category 1"), std::string::npos) << lines[1];
}

#if defined(__linux__)
// Files stop growing at LIMIT bytes for the length of one batch run, as on a
// full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, saved_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*handler_)(int) = nullptr;
};

TEST_F(BatchBadInputsTest, AResultFileThatFillsTheDiskStopsTheRunAtTheFirstFailedWrite) {
    // After the two tables that are written comes one with a row of zeros,
    // whose message would show if the run went on.
    const std::string first = "10 20 30\n5 15 20\n\n";
    const std::string data = Write("t.dat", first + "10 2\n3 15\n\n0 0\n1 2\n\n");
    const Outcome alone = RunBatchOn(Arguments(Write("first.dat", first), {}, {}));
    ASSERT_EQ(alone.Status, kelvorin::kBatchOk) << alone.Err;

    // Room for the first report only: the second fails.
    const std::string result = PathOf("result.txt");
    Outcome outcome;
    {
        const FileSizeLimit limit(alone.Out.size() + 10);
        outcome = RunBatchOn(Arguments(data, {"--output", result}, {}));
    }
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "Error (table 2): Cannot write file " + result + "\n");
    const std::string written = Contents(result);
    EXPECT_LE(written.size(), alone.Out.size() + 10);
    EXPECT_EQ(TimelessLines(written.substr(0, alone.Out.size())), TimelessLines(alone.Out));
}

TEST_F(BatchBadInputsTest, AResultFileOnAFullDeviceIsSaidOnceAtTheFirstTable) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const Outcome outcome =
        RunBatchOn(Arguments(Write("t.dat", "1 2\n3 4\n\n0 0\n1 2\n\n"), {"--output", "/dev/full"}, {}));
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(outcome.Err, "Error (table 1): Cannot write file /dev/full\n");
}

TEST_F(BatchBadInputsTest, ADetailsFileThatFillsTheDiskIsReportedAndTheReportsAreWhole) {
    const std::string tables = "5 3 2\n1 4 6\n\n2 0\n0 2\n\n";
    const std::string details = PathOf("details.txt");
    const std::vector<std::string> traced = {"Details=1", "Track=4"};
    const Outcome plain = RunBatchOn(Arguments(Write("t.dat", tables), {"--details", PathOf("roomy.txt")}, traced));
    ASSERT_EQ(plain.Err, "");
    Outcome outcome;
    {
        const FileSizeLimit limit(2000);
        outcome = RunBatchOn(Arguments(Write("t.dat", tables), {"--details", details}, traced));
    }
    EXPECT_NE(outcome.Err.find("Error (table 1): Cannot write file " + details + "\n"), std::string::npos)
        << outcome.Err;
    EXPECT_EQ(outcome.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(TimelessLines(outcome.Out), TimelessLines(plain.Out));
    EXPECT_LE(std::filesystem::file_size(details), 2000u);
}
#endif

}  // namespace
