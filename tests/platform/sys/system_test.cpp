// Processes, the connected state and the shutdown double (no test shuts anything down).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/sys/process.h"
#include "platform/sys/system.h"
#include "tests/support/command.h"

using namespace kavro::sys;

namespace {

TEST(Shutdown, RequestFollowsThePrivilegeAndIsOnlyRecorded) {
    RecordingShutdown refused(false);
    EXPECT_FALSE(shut_down_machine(refused));
    EXPECT_EQ(refused.privilege_requests.load(), 1);
    EXPECT_EQ(refused.shutdown_requests.load(), 0);

    RecordingShutdown granted(true);
    EXPECT_TRUE(shut_down_machine(granted));
    EXPECT_EQ(granted.privilege_requests.load(), 1);
    EXPECT_EQ(granted.shutdown_requests.load(), 1);
}

TEST(Processes, RunAndWaitAnswersTheExitStatusOrMinusOne) {
    EXPECT_EQ(run_and_wait("/bin/sh", {"-c", "exit 3"}), 3);
    EXPECT_EQ(run_and_wait("sh", {"-c", "exit 0"}), 0); // found on PATH
    EXPECT_EQ(run_and_wait("/bin/sh", {"-c", "kill -9 $$"}), 128 + 9);
    EXPECT_EQ(run_and_wait("/nonexistent/dotnetfx.exe"), -1);
    EXPECT_FALSE(start_process("/nonexistent/SetupKAVRO.msi"));
    EXPECT_TRUE(start_process("/bin/true"));
}

std::string run_capture(const std::string& cmd) { return kavro::test::run_command(cmd).output; }

TEST(ConnectedState, AMachineWithOnlyLoopbackIsNotConnected) {
    // A network namespace of our own has nothing but a loopback interface.
    const std::string out = run_capture(std::string("unshare -rn ") + SYS_HELPER + " connected 2>/dev/null");
    if (out.empty()) GTEST_SKIP() << "user namespaces are not available here";
    EXPECT_EQ(out, "0\n");
    // With loopback up it is still not connected.
    const std::string lo =
        run_capture(std::string("unshare -rn sh -c 'ip link set lo up && ") + SYS_HELPER + " connected' 2>/dev/null");
    if (!lo.empty()) {
        EXPECT_EQ(lo, "0\n");
    }
}

} // namespace
