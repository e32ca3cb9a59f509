// The cores the program may use follow its processor affinity, not the
// number the machine has.
#include <gtest/gtest.h>

#include <sched.h>

#include <thread>

#include "ProcessorCores.h"

namespace kelvorin {
namespace {

TEST(ProcessorCoresTest, ReadsTheAffinityOfTheCallingThread) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_EQ(AvailableCores(), static_cast<unsigned>(CPU_COUNT(&allowed)));
    // A thread held to one of those cores sees one (run apart, so that
    // the test's own thread keeps its affinity).
    unsigned seen = 0;
    bool held = false;
    std::thread([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed)) {
                CPU_SET(cpu, &one);
                break;
            }
        held = sched_setaffinity(0, sizeof one, &one) == 0;
        if (held) seen = AvailableCores();
    }).join();
    if (!held) GTEST_SKIP() << "the system does not let a thread change its affinity";
    EXPECT_EQ(seen, 1u);
}

}  // namespace
}  // namespace kelvorin
