// The batch command line with files it cannot use: a data file that cannot
// be opened or read, result and details files that cannot be created or
// that fill the disk. No file is lost or emptied before its time, and every
// error message fails the run.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

class BatchBadInputsTest : public ::testing::Test {
protected:
    TempDir dir_;
    const std::string kept_ = WriteFile(dir_.File("kept.txt"), "report worth keeping\n");
    const std::string data_ = WriteFile(dir_.File("t.dat"), "1 2\n3 4\n\n");
};

// A data file that cannot be opened is a usage error, one that cannot be
// read a data error; a result file, or a details file asked for, that cannot
// be created ends the run before any table. Folders given for any of them
// are left alone, and so is the result file. Without Details=1 the details
// file's name is not used.
TEST_F(BatchBadInputsTest, UnusableFilesAreRefusedAndTheResultFileKept) {
    const std::string absent = dir_.File("absent.dat");
    const std::string missing = dir_.File("no/such/folder/file.txt");
    const std::string folder = dir_.File("folder.txt");
    std::filesystem::create_directory(folder);
    const struct {
        std::string Data;
        std::vector<std::string> More, Settings;
        int Status;
        std::string Err, Out = "";  // standard output checked when the run fails
    } cases[] = {
        {absent, {"--output", kept_}, {}, 2, "kelvorin: cannot open data file " + absent + "\n"},
        {folder, {"--output", kept_}, {}, 2, "kelvorin: cannot open data file " + folder + "\n"},
        {data_ + "/inside.dat", {"--output", kept_}, {}, 2, "kelvorin: cannot open data file " + data_ + "/inside.dat\n"},
        // A read error (reading the start of a process's memory fails) is
        // no end of the data: a data error, and the run ends there.
        {"/proc/self/mem", {}, {}, 1, "Error (table 1): Data error reading file /proc/self/mem\n",
         "Data error reading file /proc/self/mem\n"},
        {data_, {"--output", missing}, {}, 1, "kelvorin: cannot write result file " + missing + "\n"},
        {data_, {"--output", folder}, {}, 1, "kelvorin: cannot write result file " + folder + "\n"},
        {data_, {"--output", kept_, "--details", missing}, {"Details=1"}, 1, "Error: Cannot write file " + missing + "\n"},
        {data_, {"--output", kept_, "--details", folder}, {"Details=1"}, 1, "Error: Cannot write file " + folder + "\n"},
        // A device that is full fails at the first table, and the run stops.
        {WriteFile(dir_.File("two.dat"), "1 2\n3 4\n\n0 0\n1 2\n\n"), {"--output", "/dev/full"}, {}, 1,
         "Error (table 1): Cannot write file /dev/full\n"},
        {data_, {"--details", missing}, {}, 0, ""},
        {data_, {"--details", folder}, {}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Data + " " + ::testing::PrintToString(c.More));
        const BatchResult r = BatchOn(c.Data, c.Settings, c.More);
        EXPECT_EQ(r.Status, c.Status);
        EXPECT_EQ(r.Err, c.Err);
        if (c.Status == 0)
            EXPECT_EQ(Reports(r.Out).size(), 1u) << r.Out;
        else
            EXPECT_EQ(r.Out, c.Out);
        EXPECT_EQ(ReadFile(kept_), "report worth keeping\n");
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// The data, result and details files must be three files, whatever the
// spelling of their names (a path through "..", a symbolic link, a hard
// link; two names of a file not there yet): a clash is a usage error before
// any file is opened, and every file stays as it was, none is created. The
// details file counts with or without Details=1. Devices are not files that
// a write replaces: /dev/null takes both the reports and the trace.
TEST_F(BatchBadInputsTest, TheDataResultAndDetailsFilesMustBeThreeFiles) {
    namespace fs = std::filesystem;
    fs::create_directory(dir_.File("sub"));
    const std::string dotted = dir_.File("sub/../t.dat"), symbolic = dir_.File("link.dat"), hard = dir_.File("hard.dat");
    fs::create_symlink(data_, symbolic);
    fs::create_hard_link(data_, hard);
    const std::string fresh = dir_.File("fresh.txt"), pending = dir_.File("pending.txt");
    fs::create_symlink("fresh.txt", pending);
    const std::string toData = "is the data file\n", toResult = "is the result file\n";
    const struct {
        std::vector<std::string> More, Settings;
        std::string Err;
    } cases[] = {
        {{"--output", data_}, {}, "result file " + data_ + " " + toData},
        {{"--output", dotted}, {}, "result file " + dotted + " " + toData},
        {{"--output", symbolic}, {}, "result file " + symbolic + " " + toData},
        {{"--output", hard}, {}, "result file " + hard + " " + toData},
        {{"--output", kept_, "--details", data_}, {"Details=1"}, "details file " + data_ + " " + toData},
        {{"--details", symbolic}, {}, "details file " + symbolic + " " + toData},
        {{"--output", kept_, "--details", kept_}, {"Details=1"}, "details file " + kept_ + " " + toResult},
        {{"--output", dir_.File("sub/../kept.txt"), "--details", kept_}, {}, "details file " + kept_ + " " + toResult},
        {{"--output", fresh, "--details", dir_.File("sub/../fresh.txt")}, {"Details=1"},
         "details file " + dir_.File("sub/../fresh.txt") + " " + toResult},
        // Run in the folder: a relative name of a file not there yet.
        {{"--output", fresh, "--details", "fresh.txt"}, {"Details=1"}, "details file fresh.txt " + toResult},
        // A link to a file not there yet: writing through it creates that file.
        {{"--output", pending, "--details", fresh}, {"Details=1"}, "details file " + fresh + " " + toResult},
        {{"--output", fresh, "--details", pending}, {"Details=1"}, "details file " + pending + " " + toResult},
    };
    const fs::path folder = fs::current_path();
    fs::current_path(dir_.File("."));
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.More));
        const BatchResult r = BatchOn(data_, c.Settings, c.More);
        EXPECT_EQ(r.Status, kelvorin::kBatchUsage);
        EXPECT_EQ(r.Err, "kelvorin: " + c.Err + kelvorin::BatchUsage());
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(ReadFile(data_), "1 2\n3 4\n\n");
        EXPECT_EQ(ReadFile(kept_), "report worth keeping\n");
        EXPECT_FALSE(fs::exists(fresh));
    }
    fs::current_path(folder);
    const BatchResult discarded = BatchOn(data_, {"Details=1"}, {"--output", "/dev/null", "--details", "/dev/null"});
    EXPECT_EQ(discarded.Status, kelvorin::kBatchOk) << discarded.Err;
    EXPECT_EQ(discarded.Err, "");
}

// The result file is replaced and holds the reports and data error lines in
// the order of the tables; nothing goes to standard output.
TEST_F(BatchBadInputsTest, TheResultFileIsReplacedAndHoldsReportsAndDataErrorsInOrder) {
    const std::string data = WriteFile(data_, "2 0\n0 2\n\n1 2\n3 4 5\n6 7\n\n10 2\n3 15\n\n");
    const BatchResult r = BatchOn(data, {}, {"--output", kept_});
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Error (table 2): Data error reading file " + data + "\n");
    const auto items = Items(ReadFile(kept_));
    ASSERT_EQ(items.size(), 3u) << ReadFile(kept_);
    EXPECT_TRUE(Contains(items[0], {" ", kBanner, "Observed Numbers.", "     2     0  |      2"}));
    EXPECT_EQ(items[1], std::vector<std::string>{"Data error reading file " + data});
    EXPECT_TRUE(Contains(items[2], {" ", kBanner, "Observed Numbers.", "    10     2  |     12"}));
}

// The batch run on DATA with MORE arguments and the full trace asked for,
// while files stop growing at LIMIT bytes, as on a full disk.
BatchResult OnAFullDisk(rlim_t limit, const std::string& data, const std::vector<std::string>& more) {
    BatchResult r;
    kelvorin::fakes::WithFileSizeLimit(limit, [&] { r = BatchOn(data, {"Details=1", "Track=4"}, more); });
    return r;
}

// Room for the first report only: the run stops at the second table with one
// message (the row of zeros of the third would show if it went on), and the
// first report is whole.
TEST_F(BatchBadInputsTest, AResultFileThatFillsTheDiskStopsTheRunAtTheFirstFailedWrite) {
    const std::string first = "10 20 30\n5 15 20\n\n";
    const BatchResult alone = BatchOn(WriteFile(data_, first), {"Details=1", "Track=4"});
    ASSERT_EQ(alone.Status, kelvorin::kBatchOk) << alone.Err;
    const std::string data = WriteFile(data_, first + "10 2\n3 15\n\n0 0\n1 2\n\n");
    const std::string result = dir_.File("result.txt");
    const BatchResult r = OnAFullDisk(alone.Out.size() + 10, data, {"--output", result});
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(r.Err, "kelvorin: Details=1 without --details DETAILSFILE: no trace is written\n"
                     "Error (table 2): Cannot write file " + result + "\n");
    const std::string written = ReadFile(result);
    EXPECT_LE(written.size(), alone.Out.size() + 10);
    EXPECT_EQ(Masked(written.substr(0, alone.Out.size())), Masked(alone.Out));
}

// A details file that fills the disk is reported; the reports stay whole.
TEST_F(BatchBadInputsTest, ADetailsFileThatFillsTheDiskIsReportedAndTheReportsAreWhole) {
    const std::string data = WriteFile(data_, "5 3 2\n1 4 6\n\n2 0\n0 2\n\n");
    const BatchResult plain = BatchOn(data, {"Details=1", "Track=4"}, {"--details", dir_.File("roomy.txt")});
    ASSERT_EQ(plain.Err, "");
    const std::string details = dir_.File("details.txt");
    const BatchResult r = OnAFullDisk(2000, data, {"--details", details});
    EXPECT_NE(r.Err.find("Error (table 1): Cannot write file " + details + "\n"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Status, kelvorin::kBatchTableFailed);
    EXPECT_EQ(Masked(r.Out), Masked(plain.Out));
    EXPECT_LE(std::filesystem::file_size(details), 2000u);
}

}  // namespace

namespace {

// A stream buffer that takes SIZE characters and fails after them, as
// standard output on a full disk does.
struct FillingBuffer : std::stringbuf {
    std::size_t room = 0;
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const auto taken = std::min<std::streamsize>(n, static_cast<std::streamsize>(room - std::min(room, str().size())));
        return taken > 0 ? std::stringbuf::xsputn(s, taken) : 0;
    }
    int overflow(int c) override { return str().size() < room ? std::stringbuf::overflow(c) : traits_type::eof(); }
};

// Reports lost on standard output are a failure too: said once, at the
// table whose report could not be written, and the run stops there.
TEST_F(BatchBadInputsTest, StandardOutputThatCannotBeWrittenFailsTheRun) {
    const std::string data = WriteFile(data_, "10 20 30\n5 15 20\n\n10 2\n3 15\n\n");
    const BatchResult alone = BatchOn(WriteFile(dir_.File("first.dat"), "10 20 30\n5 15 20\n\n"));
    FillingBuffer buffer;
    buffer.room = alone.Out.size() + 10;
    std::ostream out(&buffer);
    std::ostringstream err;
    EXPECT_EQ(kelvorin::RunBatch({"--batch", data}, out, err, false), kelvorin::kBatchTableFailed);
    EXPECT_EQ(err.str(), "Error (table 2): Cannot write file standard output\n");
    EXPECT_EQ(Masked(buffer.str().substr(0, alone.Out.size())), Masked(alone.Out));
}

// The program started with its standard input and error stream closed: the
// result file opened takes none of their places, so no message of the run
// is written into it (and the run still fails for the refused table).
TEST_F(BatchBadInputsTest, ClosedStandardStreamsAreNotTakenByTheResultFile) {
    const std::string data = WriteFile(data_, "0 0\n1 2\n\n1 2\n3 4\n\n");
    const std::string result = dir_.File("result.txt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(STDIN_FILENO);
        close(STDERR_FILENO);
        execl(KELVORIN_PROGRAM, KELVORIN_PROGRAM, "--batch", data.c_str(), "--output", result.c_str(), "--no-settings",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string written = ReadFile(result);
    EXPECT_EQ(written.find("All zeros"), std::string::npos) << written;
    EXPECT_NE(written.find("Observed Numbers."), std::string::npos) << written;
}

}  // namespace
