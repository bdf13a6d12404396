// Two processes on one machine: the second console and the console beside the mixer are refused.
// The tests run in a network namespace of their own, so instance blocks of programs running on this host do
// not disturb them (the blocks' names are per namespace, as they would be per machine).
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A child process with its standard input, output and error on pipes.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int in[2], out[2], err[2];
        if (::pipe(in) || ::pipe(out) || ::pipe(err)) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&fa, fd);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~Child() {
        close_input();
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        for (int fd : {out_, err_})
            if (fd >= 0) ::close(fd);
    }
    bool started() const { return pid_ > 0; }
    void close_input() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }
    void kill_hard() { ::kill(pid_, SIGKILL); }
    // Reads standard output until the line appears or the time is up.
    bool wait_line(const std::string& line, int timeout_ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (out_text_.find(line + "\n") != std::string::npos) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0) return false;
            char buf[256];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) return out_text_.find(line + "\n") != std::string::npos;
            out_text_.append(buf, std::size_t(n));
        }
    }
    // Waits for the end and answers the exit status (-1 after a signal or on timeout).
    int wait(int timeout_ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (status_ < 0) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 1000;
                break;
            }
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_ == 1000 ? -1 : status_;
    }
    std::string error_text() {
        char buf[1024];
        pollfd p{err_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            const ssize_t n = ::read(err_, buf, sizeof buf);
            if (n <= 0) break;
            err_text_.append(buf, std::size_t(n));
        }
        return err_text_;
    }
    const std::string& output() const { return out_text_; }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    int status_ = -1;
    std::string out_text_, err_text_;
};

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", dir_ / "interface.xml",
                      fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> console() const { return {probe_, "console", dir_.string()}; }
    std::vector<std::string> hold(const std::string& name) const { return {probe_, "hold", name}; }

    kavro::test::TempDir temp_{"kavro-console"};
    const fs::path dir_ = temp_.path();
    std::string probe_ = KAVRO_INSTANCE_PROBE;
};

TEST_F(InstanceTest, SecondConsoleRaisesTheFirstAndIsRefused) {
    Child first(console());
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(first.wait_line("running")) << first.error_text();

    Child second(console());
    EXPECT_EQ(second.wait(), 0);
    EXPECT_NE(second.error_text().find("Cette application est déjà lancée.\nFermer la première pour la relancer de nouveau."),
              std::string::npos)
        << second.error_text();
    EXPECT_EQ(second.output().find("running"), std::string::npos);
    EXPECT_TRUE(first.wait_line("front")) << first.output();

    // The first one leaves through its exit sequence and saves its settings.
    first.close_input();
    EXPECT_TRUE(first.wait_line("exit 0"));
    EXPECT_EQ(first.wait(), 0);
    EXPECT_TRUE(fs::exists(dir_ / "interface.xml"));

    // Its name went with it: a new console starts.
    Child third(console());
    EXPECT_TRUE(third.wait_line("running")) << third.error_text();
}

TEST_F(InstanceTest, ConsoleIsRefusedOnTheMixersMachine) {
    Child mixer(hold("KAVRO"));
    ASSERT_TRUE(mixer.wait_line("ready"));
    Child console_(console());
    EXPECT_EQ(console_.wait(), 0);
    EXPECT_NE(console_.error_text().find("KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas utiliser l'interface "
                                         "en même temps."),
              std::string::npos)
        << console_.error_text();
    EXPECT_TRUE(mixer.wait_line("raised"));
}

TEST_F(InstanceTest, KilledConsoleLeavesNoBlockBehind) {
    Child first(console());
    ASSERT_TRUE(first.wait_line("running")) << first.error_text();
    first.kill_hard();
    first.wait();
    Child second(console());
    EXPECT_TRUE(second.wait_line("running")) << second.error_text();
}

} // namespace

int main(int argc, char** argv) {
    // Our own network namespace before any thread starts: the instance names are per namespace.
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        std::fprintf(stderr, "instance tests: no private network namespace (%s); sharing the host's\n", std::strerror(errno));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
