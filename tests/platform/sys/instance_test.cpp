// The instance block between processes: visible while its owner lives, gone when the owner is killed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <grp.h>
#include <cstdio>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/sys/instance.h"

using namespace kavro::sys;
using namespace std::chrono_literals;

extern char** environ;

namespace {

std::string unique_name(const char* base) {
    return std::string(base) + "-test-" + std::to_string(getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// A helper process holding a block, with its standard output readable line by line.
struct Holder {
    pid_t pid = -1;
    int out = -1;
    Holder(const std::string& name, unsigned value) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        std::string v = std::to_string(value);
        char* argv[] = {const_cast<char*>(SYS_HELPER), const_cast<char*>("hold"), const_cast<char*>(name.c_str()),
                        v.data(), nullptr};
        EXPECT_EQ(posix_spawn(&pid, SYS_HELPER, &fa, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        out = fds[0];
    }
    std::string line(int timeout_ms = 5000) {
        std::string s;
        char c;
        while (true) {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0) return s + "<timeout>";
            if (read(out, &c, 1) != 1) return s + "<eof>";
            if (c == '\n') return s;
            s += c;
        }
    }
    void kill9() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            int st;
            waitpid(pid, &st, 0);
            pid = -1;
        }
    }
    ~Holder() {
        kill9();
        if (out >= 0) close(out);
    }
};

TEST(InstanceBlock, AnotherProcessSeesTheBlockUntilItsOwnerIsKilled) {
    const std::string name = unique_name("InterfaceKAVRO");
    EXPECT_FALSE(instance_running(name));
    Holder h(name, 0x00ABCDEFu);
    ASSERT_EQ(h.line(), "ready");

    EXPECT_EQ(read_instance_block(name), std::optional<std::uint32_t>(0x00ABCDEFu));
    // The probe asks the owner to raise its window, and the owner hears the request.
    EXPECT_TRUE(instance_running(name));
    EXPECT_EQ(h.line(), "raise 11259375");
    // This process cannot take the name meanwhile.
    EXPECT_EQ(InstanceBlock::create(name), nullptr);

    h.kill9();
    EXPECT_FALSE(instance_running(name));
    EXPECT_FALSE(read_instance_block(name).has_value());
    // The name is free again.
    auto mine = InstanceBlock::create(name);
    EXPECT_NE(mine, nullptr);
}

TEST(InstanceBlock, TwoNamesAreIndependentAndTheBlockGoesWithItsObject) {
    const std::string console = unique_name("InterfaceKAVRO"), mixer = unique_name("KAVRO");
    std::atomic<int> raised{0};
    std::atomic<std::uint32_t> raised_value{0};
    {
        auto block = InstanceBlock::create(console, [&](std::uint32_t v) {
            raised_value = v;
            ++raised;
        });
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(read_instance_block(console), std::optional<std::uint32_t>(0u)); // before the window exists
        block->store(77);
        EXPECT_EQ(block->value(), 77u);
        EXPECT_FALSE(instance_running(mixer));
        EXPECT_TRUE(instance_running(console));
        for (int i = 0; i < 200 && raised == 0; ++i) std::this_thread::sleep_for(5ms);
        EXPECT_EQ(raised.load(), 1);
        EXPECT_EQ(raised_value.load(), 77u);
        // Reading does not ask for the window.
        read_instance_block(console);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(raised.load(), 1);
    }
    EXPECT_FALSE(instance_running(console));
}

TEST(InstanceBlock, ChildProcessesDoNotKeepTheNameAlive) {
    const std::string name = unique_name("KAVRO");
    auto block = InstanceBlock::create(name);
    ASSERT_NE(block, nullptr);
    // A child started meanwhile (for example an installer) outlives the block's owner object.
    pid_t pid;
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("2"), nullptr};
    ASSERT_EQ(posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
    block.reset();
    EXPECT_FALSE(instance_running(name));
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
}

// Runs `body` in a child process as uid/gid 65534 when this test runs as root (else as the current user) and
// answers its exit code.
template <class Body> int in_child_as_other_user(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(InstanceBlock, OneBlockPerMachineWhateverTheUserAndOnlyTheOwnerOrRootRaises) {
    const std::string name = unique_name("InterfaceKAVRO");
    std::atomic<int> raised{0};
    auto block = InstanceBlock::create(name, [&](std::uint32_t) { ++raised; });
    ASSERT_NE(block, nullptr);
    block->store(42);
    const bool other_user = geteuid() == 0;
    // Another user sees the block, cannot take the name, and its raise request is refused.
    const int code = in_child_as_other_user([&name] {
        if (!instance_running(name)) return 1;
        if (read_instance_block(name) != std::optional<std::uint32_t>(42u)) return 2;
        if (InstanceBlock::create(name) != nullptr) return 3;
        return 0;
    });
    EXPECT_EQ(code, 0) << "1: not seen, 2: value not read, 3: the name could be taken";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(raised.load(), other_user ? 0 : 1);
    // The owner's own user (and root) may ask.
    EXPECT_TRUE(instance_running(name));
    for (int i = 0; i < 200 && raised.load() == (other_user ? 0 : 1); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(raised.load(), other_user ? 1 : 2);
}

TEST(InstanceBlock, AFloodOfRequestsIsHandledAtAFewPerSecond) {
    const std::string name = unique_name("KAVRO");
    std::atomic<int> raised{0};
    auto block = InstanceBlock::create(name, [&](std::uint32_t) { ++raised; });
    ASSERT_NE(block, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int held = 0;
    for (int i = 0; i < 300; ++i) held += instance_running(name) ? 1 : 0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(held, 300) << "every probe still sees the block";
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(raised.load(), 5 + static_cast<int>(5 * seconds)) << "over " << seconds << " s";
    EXPECT_GE(raised.load(), 1);
    // Once the flood is over, requests are served again.
    std::this_thread::sleep_for(1100ms);
    const int before = raised.load();
    EXPECT_TRUE(instance_running(name));
    for (int i = 0; i < 200 && raised.load() == before; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(raised.load(), before + 1);
}

} // namespace
