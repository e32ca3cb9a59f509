// Ctrl-C in batch mode, with the real program on a pseudo-terminal: the
// first SIGINT breaks the running enumeration off at its next progress
// display and the run goes on with the next table; a second SIGINT before
// that display ends the program. In-process, the batch mode's handler gives
// the SIGINT action it replaced back when it is done.
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "BatchMode.h"
#include "ConsolePorts.h"
#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;
using Clock = std::chrono::steady_clock;

// Every wait of these tests is bounded by this.
constexpr auto kWaitLimit = std::chrono::seconds(60);

// The first table takes long to enumerate: 90 208 550 sample points with the
// three exact tests. The single row after it has C(32, 2) = 496 sample points
// and so passes four progress displays (one every 100 in a one-way run),
// where a break-off request left over from the first table would show. The
// last table is the reference table with rows 2 0 and 0 2.
const char* const kData =
    "1 3 10 6\n2 3 10 7\n1 6 14 12\n0 1 9 11\n\n"
    "10 10 10\n\n\n"
    "2 0\n0 2\n\n";
const int kRowTotals[4] = {20, 22, 33, 21};
const int kColTotals[4] = {4, 13, 43, 36};

// The program started with its standard error on the slave side of a
// pseudo-terminal (so that it draws its progress display), its standard
// output in a file and its standard input from /dev/null. Killed and reaped
// when the test leaves it running.
class ProgramOnTerminal {
public:
    ProgramOnTerminal(const std::vector<std::string>& args, const std::string& stdoutPath) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name == nullptr) return;
        const std::string slaveName = name;
        // Held open here too, so that reading the master side never reports
        // a hang-up before the program has opened its end.
        slave_ = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ < 0) return;
        std::vector<std::string> argv = {KELVORIN_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp;
        for (std::string& a : argv) argp.push_back(a.data());
        argp.push_back(nullptr);

        pid_ = fork();
        if (pid_ == 0) {
            // The child: a session of its own whose controlling terminal is
            // the slave, default SIGINT handling, nothing blocked.
            setsid();
            const int slave = open(slaveName.c_str(), O_RDWR);
            const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int in = open("/dev/null", O_RDONLY);
            if (slave < 0 || out < 0 || in < 0) _exit(126);
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(slave, STDERR_FILENO);
            close(master_);
            close(slave_);
            signal(SIGINT, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(argp[0], argp.data());
            _exit(127);
        }
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }

    ~ProgramOnTerminal() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }

    ProgramOnTerminal(const ProgramOnTerminal&) = delete;
    ProgramOnTerminal& operator=(const ProgramOnTerminal&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    const std::string& Terminal() const { return terminal_; }

    // Reads what the program wrote to the terminal, waiting at most TIMEOUT
    // for something to arrive. False when nothing more can come.
    bool Drain(std::chrono::milliseconds timeout) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return true;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                terminal_.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
            return false;
        }
    }

    // Waits until the terminal text satisfies DONE; false at the time limit
    // or when the program has ended first.
    template <typename Done>
    bool WaitForTerminal(Done done) {
        const auto limit = Clock::now() + kWaitLimit;
        while (Clock::now() < limit) {
            if (done(terminal_)) return true;
            if (!Drain(std::chrono::milliseconds(20)) || Ended()) return done(terminal_);
        }
        return false;
    }

    // Waits for the program to end, reading its terminal meanwhile so that it
    // never blocks on it. False at the time limit.
    bool WaitForExit(int& status) {
        const auto limit = Clock::now() + kWaitLimit;
        while (Clock::now() < limit) {
            if (Ended()) {
                Drain(std::chrono::milliseconds(0));
                status = status_;
                return true;
            }
            Drain(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Waits until the program has stopped (SIGSTOP). False at the time limit.
    bool WaitUntilStopped() {
        const auto limit = Clock::now() + kWaitLimit;
        while (Clock::now() < limit) {
            int status = 0;
            const pid_t got = waitpid(pid_, &status, WNOHANG | WUNTRACED);
            if (got == pid_ && WIFSTOPPED(status)) return true;
            if (got == pid_) {
                exited_ = true;
                status_ = status;
                return false;
            }
            Drain(std::chrono::milliseconds(5));
        }
        return false;
    }

    // How many SIGINTs wait for delivery: one per pending queue, the
    // process's and its main thread's.
    int PendingInterrupts() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        int pending = 0;
        while (std::getline(in, line)) {
            if (line.rfind("SigPnd:", 0) != 0 && line.rfind("ShdPnd:", 0) != 0) continue;
            const std::uint64_t mask = std::stoull(line.substr(7), nullptr, 16);
            if (mask & (std::uint64_t{1} << (SIGINT - 1))) ++pending;
        }
        return pending;
    }

private:
    bool Ended() {
        if (exited_) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = status;
        }
        return exited_;
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string terminal_;
};

std::vector<std::string> Arguments(const std::string& data) {
    std::vector<std::string> args = {"--batch", data};
    const std::vector<std::string> options = OptionArguments({"ExaLRtest=1", "ExaCStest=1", "CountPos=1"});
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

TEST(InterruptTest, CtrlCBreaksTheRunningTableOffAndTheNextTableIsAnalysed) {
    TempDir dir;
    const std::string data = dir.File("long.dat");
    const std::string out = dir.File("stdout.txt");
    WriteFile(data, kData);
    setenv("KELVORIN_NETWORK_FROM", "never", 1);  // the long table is enumerated until broken off
    ProgramOnTerminal program(Arguments(data), out);
    ASSERT_TRUE(program.Started());

    ASSERT_TRUE(program.WaitForTerminal([](const std::string& t) { return t.find("sample points") != std::string::npos; }))
        << "no progress display on the terminal: '" << program.Terminal() << "'";
    ASSERT_EQ(kill(program.Pid(), SIGINT), 0);
    int status = 0;
    ASSERT_TRUE(program.WaitForExit(status)) << "the program did not end after Ctrl-C";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const std::string text = ReadFile(out);
    EXPECT_TRUE(LooseLinesOf(text).empty()) << text;
    const auto reports = ReportsOf(text);
    ASSERT_EQ(reports.size(), 3u) << text;

    // The broken-off table: its observed table, no exact block, the
    // interruption lines with the sample point being visited.
    const std::vector<std::string> first = CheckedReport(reports[0]);
    ASSERT_EQ(first.size(), 18u) << text;
    EXPECT_EQ(std::vector<std::string>(first.begin(), first.begin() + 10),
              (std::vector<std::string>{" ", kBanner, "Observed Numbers.", "     1     3    10     6  |     20",
                                        "     2     3    10     7  |     22", "     1     6    14    12  |     33",
                                        "     0     1     9    11  |     21", "--------------------------+-------",
                                        "     4    13    43    36  |     96", ""}));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(first[10], m, std::regex(R"(^ Calculations interrupted at sample point nr (\d+)$)")))
        << first[10];
    const long long at = std::stoll(m[1]);
    EXPECT_GT(at, 0);
    EXPECT_EQ(at % 10000, 0) << "interrupted at " << at;
    EXPECT_LT(at, 90208550);
    // The table being visited has the observed margins.
    int colSums[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const std::string& row = first[static_cast<std::size_t>(11 + i)];
        ASSERT_TRUE(std::regex_match(row, std::regex(R"(^( {1,3}\d{1,3}){4}$)")) && row.size() == 16) << row;
        int sum = 0;
        for (int j = 0; j < 4; ++j) {
            const int v = std::stoi(row.substr(static_cast<std::size_t>(4 * j), 4));
            sum += v;
            colSums[j] += v;
        }
        EXPECT_EQ(sum, kRowTotals[i]) << row;
    }
    for (int j = 0; j < 4; ++j) EXPECT_EQ(colSums[j], kColTotals[j]);
    ASSERT_TRUE(std::regex_match(first[15], m, std::regex(R"(^ Sum of probabilities (\d\.\d{3}E[-+]\d{2,3}) $)")))
        << first[15];
    const double visited = std::stod(m[1]);
    EXPECT_GT(visited, 0.0);
    EXPECT_LE(visited, 1.0);
    EXPECT_EQ(first[16], kUsedTime);
    EXPECT_EQ(first[17], "");

    // The next tables get their whole reports.
    EXPECT_TRUE(ContainsBlock(reports[1], {"Observed Numbers.", "    10    10    10  |     30", ""}));
    EXPECT_TRUE(ContainsLine(reports[1], "Number of sample points = 496"));
    for (const std::string& line : reports[1])
        EXPECT_EQ(line.find("interrupted"), std::string::npos) << line;
    ExpectLines(CheckedReport(reports[2]),
                Join({{" ", kBanner},
                      TwoZeroObservedBlock(),
                      TwoZeroExactBlocks(),
                      {"Number of sample points = 3", kUsedTime, ""}}),
                "table after the interrupted one");
}

TEST(InterruptTest, SecondCtrlCBeforeTheBreakOffEndsTheProgram) {
    // The two presses must reach the program between two progress displays,
    // whatever the load of the machine. So the program is stopped, one SIGINT
    // is queued for the process and one for its thread (pending signals of
    // one kind merge only within one queue), and the program is continued:
    // it takes the second right after its handler has returned from the
    // first, before any further sample point.
    TempDir dir;
    const std::string data = dir.File("long.dat");
    const std::string out = dir.File("stdout.txt");
    WriteFile(data, kData);
    setenv("KELVORIN_NETWORK_FROM", "never", 1);  // the long table is enumerated until broken off
    ProgramOnTerminal program(Arguments(data), out);
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForTerminal([](const std::string& t) { return t.find("sample points") != std::string::npos; }))
        << "no progress display on the terminal: '" << program.Terminal() << "'";

    ASSERT_EQ(kill(program.Pid(), SIGSTOP), 0);
    ASSERT_TRUE(program.WaitUntilStopped()) << "the program did not stop";
    ASSERT_EQ(kill(program.Pid(), SIGINT), 0);
    ASSERT_EQ(syscall(SYS_tgkill, program.Pid(), program.Pid(), SIGINT), 0);
    EXPECT_EQ(program.PendingInterrupts(), 2) << "both presses are waiting while the program is stopped";
    ASSERT_EQ(kill(program.Pid(), SIGCONT), 0);

    int status = 0;
    ASSERT_TRUE(program.WaitForExit(status)) << "the program did not end after two Ctrl-C";
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) << "status " << status;
    // It ended within the first table: no report of a later one.
    EXPECT_EQ(ReadFile(out).find("Number of sample points"), std::string::npos) << ReadFile(out);
}

volatile std::sig_atomic_t ownHandlerCalls = 0;

extern "C" void OwnInterruptHandler(int) { ownHandlerCalls = ownHandlerCalls + 1; }

TEST(InterruptTest, TheHandlerThatWasInstalledBeforeIsPutBack) {
    struct sigaction own {};
    own.sa_handler = OwnInterruptHandler;
    sigemptyset(&own.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(sigaction(SIGINT, &own, &saved), 0);
    auto currentHandler = [] {
        struct sigaction now {};
        sigaction(SIGINT, nullptr, &now);
        return now.sa_handler;
    };

    // While installed, a press is a break-off request and not the program's own.
    kelvorin::InterruptHandler::Install();
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(ownHandlerCalls, 0);
    EXPECT_TRUE(kelvorin::InterruptHandler::TakeRequest());
    kelvorin::InterruptHandler::Uninstall();
    // Checked before raising: the default action would end the test program.
    ASSERT_EQ(currentHandler(), &OwnInterruptHandler);
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(ownHandlerCalls, 1);
    EXPECT_FALSE(kelvorin::InterruptHandler::TakeRequest());

    // A whole batch run leaves it in place too.
    TempDir dir;
    const std::string data = dir.File("t.dat");
    WriteFile(data, "2 0\n0 2\n\n");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(kelvorin::RunBatch(Arguments(data), out, err, false), kelvorin::kBatchOk) << err.str();
    EXPECT_EQ(currentHandler(), &OwnInterruptHandler);

    sigaction(SIGINT, &saved, nullptr);
}

}  // namespace
