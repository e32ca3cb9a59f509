// The progress line batch mode draws on a terminal.
#include <gtest/gtest.h>

#include "ConsolePorts.h"

namespace {

// The time left, from the share done and the time so far: minutes and
// seconds, hours and minutes past an hour; and for counts of sample points
// far beyond what can ever be visited (a one-way table of thirty cells)
// still a time left, never a negative or garbled figure.
TEST(ConsolePortsTest, TheProgressLineShowsTheTimeLeft) {
    EXPECT_EQ(kelvorin::ProgressText(kelvorin::WideCount(250), 1000.0, 100.0),
              "250 sample points  [#######.......................]  25.0%  5m00s left");
    EXPECT_TRUE(kelvorin::ProgressText(kelvorin::WideCount(1), 1000.0, 10.0).ends_with("  2h46m left"));
    for (const double expected : {1e18, 1e25, 1e80, 1e300}) {
        const std::string text = kelvorin::ProgressText(kelvorin::WideCount(10000), expected, 5.0);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find('-'), std::string::npos);
        EXPECT_TRUE(text.ends_with("h left"));
    }
}

// Before any point is accounted for (a network forming its graph, for
// minutes on a large table) no time left can be told: the time so far
// shows that the run goes on.
TEST(ConsolePortsTest, BeforeAnyShareTheProgressLineShowsTheTimeSoFar) {
    EXPECT_EQ(kelvorin::ProgressText(kelvorin::WideCount(0), 0.0, 75.4), "0 sample points  1m15s elapsed");
    EXPECT_EQ(kelvorin::ProgressText(kelvorin::WideCount(0), 1000.0, 7300.0),
              "0 sample points  [..............................]   0.0%  2h01m elapsed");
}

}  // namespace
