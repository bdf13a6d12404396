// The console process ended by the system (SIGTERM, SIGINT, SIGHUP) leaves as on Exit: each linked robot gets
// one stop command after its drive commands, the settings are saved, and the exit code is 0.
#include "tests/console/link/fake_robot.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace kavro::console {
namespace {

using namespace testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kStop("speed @ @", 9);
const std::string kForward("speed \x7f \x7f", 9);

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The shipped settings with robots 1 and 2 at the two receivers.
void write_settings(const fs::path& configs, const FakeRobot& r1, const FakeRobot& r2) {
    std::ifstream in(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    const std::string port = "<command_port>15000</command_port>";
    s = replaced(s, "<address_d>11</address_d>" + port,
                 "<address_d>11</address_d><command_port>" + std::to_string(r1.port()) + "</command_port>");
    s = replaced(s, "<address_d>12</address_d>" + port,
                 "<address_d>12</address_d><command_port>" + std::to_string(r2.port()) + "</command_port>");
    fs::create_directories(configs);
    std::ofstream(configs / "interface.xml") << s;
}

struct Console {
    pid_t pid = -1;
    int out = -1;
    explicit Console(const fs::path& folder) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            if (::chdir(folder.c_str()) != 0) ::_exit(97);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(KAVRO_CONSOLE_PROCESS, KAVRO_CONSOLE_PROCESS, static_cast<char*>(nullptr));
            ::_exit(98);
        }
        ::close(fds[1]);
        out = fds[0];
    }
    bool wait_ready() {
        std::string line;
        char c;
        for (;;) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0 || ::read(out, &c, 1) != 1) return false;
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line == "ready") return true;
            line.clear();
        }
    }
    // The exit status within `limit`, or -1 (the process is then killed).
    int wait_exit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        int status = 0;
        while (Clock::now() < end) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return status;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    ~Console() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }
};

TEST(ConsoleProcess, EndRequestsOfTheSystemLeaveAsOnExit) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const kavro::test::TempDir temp("kavro-console-signal");
        const fs::path& folder = temp.path();
        FakeRobot r1("127.0.0.11"), r2("127.0.0.12");
        write_settings(folder / "configs", r1, r2);
        Console console(folder);
        ASSERT_TRUE(console.wait_ready());
        auto driving = [](auto& d) {
            return std::count_if(d.begin(), d.end(), [](auto& x) { return x.bytes == kForward; }) >= 3;
        };
        ASSERT_TRUE(r1.wait_for(driving, 10000ms));
        ASSERT_TRUE(r2.wait_for(driving, 10000ms));

        ASSERT_EQ(::kill(console.pid, signal), 0);
        const int status = console.wait_exit(20000ms);
        ASSERT_NE(status, -1) << "still running";
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        for (FakeRobot* r : {&r1, &r2}) {
            const auto d = r->received();
            ASSERT_FALSE(d.empty());
            EXPECT_EQ(d.back().bytes, kStop) << "the last command stops the robot";
            EXPECT_EQ(r->count(kStop), 1u);
        }
        EXPECT_TRUE(fs::exists(folder / "configs" / "interface.xml")) << "settings saved";
    }
}

} // namespace
} // namespace kavro::console
