// Ctrl-C in batch mode, pressed while the progress display is drawn, and
// the SIGINT action of the program around it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

// The first table takes long to enumerate (90 208 550 sample points); the
// single row after it passes four progress displays (496 sample points),
// where a request left over from the first table would break it off too.
const char* const kData = "1 3 10 6\n2 3 10 7\n1 6 14 12\n0 1 9 11\n\n10 10 10\n\n\n2 0\n0 2\n\n";

// An error stream that presses Ctrl-C PRESSES times in a row when the
// progress display (or another text) is first written to it.
struct PressingBuffer : std::stringbuf {
    int presses = 0;
    std::string at = "sample points";
    int sync() override {
        if (str().find(at) != std::string::npos)
            for (; presses > 0; --presses) raise(SIGINT);
        return 0;
    }
};

// Runs the batch mode with the progress display on, all three exact tests
// and the enumeration kept for every table, pressing Ctrl-C PRESSES times.
BatchResult RunPressing(const std::string& data, int presses, const std::string& at = "sample points") {
    setenv("KELVORIN_NETWORK_FROM", "never", 1);
    PressingBuffer buffer;
    buffer.presses = presses;
    buffer.at = at;
    std::ostream err(&buffer);
    std::ostringstream out;
    const int status = kelvorin::RunBatch({"--batch", data, "--option", "ExaCStest=1"}, out, err, true);
    unsetenv("KELVORIN_NETWORK_FROM");
    return {status, out.str(), buffer.str()};
}

// The first press breaks the running enumeration off at its next progress
// display, and the run goes on with the next table.
TEST(InterruptTest, CtrlCBreaksTheRunningTableOffAndTheNextTableIsAnalysed) {
    TempDir dir;
    const BatchResult r = RunPressing(WriteFile(dir.File("long.dat"), kData), 1);
    EXPECT_EQ(r.Status, kelvorin::kBatchOk);
    const auto reports = Reports(r.Out);
    ASSERT_EQ(Items(r.Out).size(), 3u) << r.Out;  // nothing between the reports
    ASSERT_EQ(reports.size(), 3u) << r.Out;

    // Pressed at the first display (10000), broken off at the next: no exact
    // block, but the sample point being visited (four rows) and the
    // probability visited so far.
    const std::vector<std::string>& first = reports[0];
    ASSERT_EQ(first.size(), 18u) << r.Out;
    EXPECT_EQ(std::vector<std::string>(first.begin() + 6, first.begin() + 11),
              (std::vector<std::string>{"     0     1     9    11  |     21", "--------------------------+-------",
                                        "     4    13    43    36  |     96", "",
                                        " Calculations interrupted at sample point nr 20000"}));
    EXPECT_TRUE(std::regex_match(first[15], std::regex(R"( Sum of probabilities \d\.\d{3}E[-+]\d{2,3} )"))) << first[15];

    // The next tables get their whole reports.
    EXPECT_TRUE(Contains(reports[1], {"Number of sample points = 496"}));
    const BatchResult alone = RunPressing(WriteFile(dir.File("short.dat"), "2 0\n0 2\n\n"), 0);
    EXPECT_EQ(reports[2], Reports(alone.Out).at(0));
}

// A press while no table is analysed (here while a refused table's message
// is shown) breaks nothing off: the next table gets its whole report.
TEST(InterruptTest, APressBetweenTablesDoesNotBreakTheNextOneOff) {
    TempDir dir;
    const BatchResult r = RunPressing(WriteFile(dir.File("data.dat"), "0 0\n1 2\n\n10 10 10\n\n"), 1, "All zeros");
    EXPECT_NE(r.Err.find("All zeros"), std::string::npos) << r.Err;
    const auto reports = Reports(r.Out);
    ASSERT_EQ(reports.size(), 1u) << r.Out;
    EXPECT_TRUE(Contains(reports[0], {"Number of sample points = 496"})) << r.Out;
}

// Both presses come before the next display: the program ends in the first table.
TEST(InterruptTest, SecondCtrlCBeforeTheBreakOffEndsTheProgram) {
    TempDir dir;
    EXPECT_EXIT(RunPressing(WriteFile(dir.File("long.dat"), kData), 2), ::testing::ExitedWithCode(130), "Interrupted");
}

// An error stream that presses Ctrl-C once at each of the first PRESSES
// progress displays: the second press then comes after the first has broken
// the table off, while that table is still being finished.
struct PressingAtDisplays : std::stringbuf {
    int presses = 0;
    int sync() override {
        if (presses > 0 && str().find("sample points") != std::string::npos) {
            --presses;
            raise(SIGINT);
        }
        return 0;
    }
};

// A second press once the first has been taken, before the run goes on with
// the next table, ends the program as a second press before the break-off
// does; it is not lost with the table's end.
TEST(InterruptTest, SecondCtrlCWhileTheBrokenOffTableIsFinishedEndsTheProgram) {
    TempDir dir;
    const std::string data = WriteFile(dir.File("long.dat"), kData);
    auto run = [&] {
        setenv("KELVORIN_NETWORK_FROM", "never", 1);
        PressingAtDisplays buffer;
        buffer.presses = 2;
        std::ostream err(&buffer);
        std::ostringstream out;
        const int status = kelvorin::RunBatch({"--batch", data, "--option", "ExaCStest=1"}, out, err, true);
        std::_Exit(status == kelvorin::kBatchOk ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(130), "Interrupted");
}

volatile std::sig_atomic_t ownHandlerCalls = 0;

extern "C" void OwnInterruptHandler(int) { ownHandlerCalls = ownHandlerCalls + 1; }

// A program that runs batch mode keeps its own Ctrl-C: during the run a
// press is a break-off request, afterwards the program's handler is back.
TEST(InterruptTest, TheHandlerThatWasInstalledBeforeIsPutBack) {
    const auto saved = std::signal(SIGINT, OwnInterruptHandler);
    TempDir dir;
    const BatchResult r = RunPressing(WriteFile(dir.File("long.dat"), kData), 1);
    EXPECT_NE(r.Out.find(" Calculations interrupted at sample point nr "), std::string::npos);
    EXPECT_EQ(ownHandlerCalls, 0);
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // Checked before raising: the default action would end the test program.
    ASSERT_EQ(now.sa_handler, &OwnInterruptHandler);
    raise(SIGINT);
    EXPECT_EQ(ownHandlerCalls, 1);
    std::signal(SIGINT, saved);
}

// A program started with Ctrl-C ignored (a background job of a script) keeps
// it ignored: a press breaks nothing off.
TEST(InterruptTest, ACtrlCIgnoredWhenTheRunStartsStaysIgnored) {
    const auto saved = std::signal(SIGINT, SIG_IGN);
    TempDir dir;
    const BatchResult r = RunPressing(WriteFile(dir.File("row.dat"), "10 10 10\n\n\n"), 1);
    struct sigaction after {};
    sigaction(SIGINT, nullptr, &after);
    std::signal(SIGINT, saved);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
    EXPECT_EQ(r.Out.find(" Calculations interrupted"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Number of sample points = 496"), std::string::npos) << r.Out;
}

// True once thread TID of this process sleeps in the kernel (state S).
bool Sleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    return end != std::string::npos && text.compare(end + 1, 3, " S ") == 0;
}

// A press while the run waits for the data file (a pipe) to give its next
// line is a press between tables: the read goes on, not failed as a read
// error, and the table gets its whole report.
TEST(InterruptTest, APressWhileTheDataFileIsReadFromAPipeLosesNothing) {
    TempDir dir;
    const std::string pipe = dir.File("data.fifo");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const pthread_t runner = pthread_self();
    const pid_t runnerTid = gettid();
    // A run that ended early leaves the pipe without a reader: the write
    // then fails rather than ending the test program.
    const auto savedPipeAction = std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        const int fd = open(pipe.c_str(), O_WRONLY);  // once the run opens the pipe
        // The run now waits in its read; pressed there.
        for (int tries = 0; tries < 500 && !Sleeping(runnerTid); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(runner, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string table = "1 2\n3 4\n\n";
        EXPECT_EQ(write(fd, table.data(), table.size()), ssize_t(table.size()));
        close(fd);
    });
    std::ostringstream out, err;
    const int status = kelvorin::RunBatch({"--batch", pipe}, out, err, false);
    writer.join();
    std::signal(SIGPIPE, savedPipeAction);
    EXPECT_EQ(status, kelvorin::kBatchOk) << err.str();
    EXPECT_EQ(err.str().find("Data error"), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("Observed Numbers."), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find(" Calculations interrupted"), std::string::npos) << out.str();
}

}  // namespace
