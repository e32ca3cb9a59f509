// The desktop program started as a user starts it: no arguments, a display
// (offscreen here) and settings of its own (a temporary folder). It makes its
// windows, shows the main window and waits for the user; it must not end on
// its own, let alone crash, on the way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

TEST(DesktopStartTest, TheProgramStartsAndWaitsForTheUser) {
    TempDir config;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
        execl(KELVORIN_PROGRAM, KELVORIN_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Starting takes well under a second (about one under the sanitizers);
    // the program is given three, then stopped.
    int status = 0;
    pid_t ended = 0;
    for (int tenth = 0; tenth < 30 && ended == 0; ++tenth) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ended = waitpid(child, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return;
    }
    ADD_FAILURE() << "the program ended on its own: "
                  << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                          : "exit status " + std::to_string(WEXITSTATUS(status)));
}

}  // namespace
