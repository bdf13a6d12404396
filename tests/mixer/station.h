// The Talvor program from outside, as a second station sees it: it runs in a network namespace of its own (only
// its loopback is up, so it binds its real ports and reaches nothing else) and is steered with datagrams sent
// from a thread that joined that namespace.
#pragma once

#include "tests/mixer/rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <utility>

namespace kavro::test {

inline int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

class Namespace {
public:
    Namespace() : name_("kavro-talvor-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++)) {
        if (::geteuid() != 0) {
            why_ = "network namespaces need root";
            return;
        }
        if (sh("ip netns add " + name_) != 0) {
            why_ = "`ip netns add` failed";
            return;
        }
        made_ = true;
        if (sh("ip netns exec " + name_ + " ip link set lo up") != 0) why_ = "loopback of the namespace is down";
    }
    ~Namespace() {
        if (made_) sh("ip netns delete " + name_);
    }
    const std::string& name() const { return name_; }
    const std::string& why_not() const { return why_; }

    // Runs fn on a thread inside the namespace (its sockets are the namespace's).
    void inside(const std::function<void()>& fn) const {
        std::thread t([&] {
            const int fd = ::open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
            ::close(fd);
            fn();
        });
        t.join();
    }

private:
    static inline std::atomic<int> counter_{0};
    std::string name_;
    std::string why_;
    bool made_ = false;
};

// Datagrams to the mixer's loopback inside the namespace; made by a thread that joined it.
class Client {
public:
    Client() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~Client() { ::close(fd_); }
    void send(std::uint16_t port, const std::string& data) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
    // The reply within ms, or nothing.
    std::string receive(int ms) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return {};
        char buf[2000];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
    }
    // Asked until the mixer answers: its start (Qt, eight plug-ins, the graph) takes long under the sanitizers
    // on a loaded machine.
    std::string getconf() const {
        for (int i = 0; i < 600; ++i) {
            send(11000, "getconf");
            if (std::string r = receive(100); !r.empty()) return r;
        }
        return {};
    }

private:
    int fd_;
};

// One Talvor process in the namespace, in the rig's folder; killed at the end if still running.
class Talvor {
public:
    // `environment`: extra variables (name, value); Qt runs offscreen unless QT_QPA_PLATFORM is among them.
    Talvor(const Namespace& ns, const MixerRig& rig, const std::string& log,
           const std::vector<std::pair<std::string, std::string>>& environment = {}) {
        const std::string work = rig.configs() + "..";
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(work.c_str()) != 0) ::_exit(120);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("KAVRO_MESSAGE_BOXES", "stderr", 1);
            ::setenv("KAVRO_SHUTDOWN_RECORD", "shutdown.log", 1);
            for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
            ::execlp("ip", "ip", "netns", "exec", ns.name().c_str(), TALVOR, static_cast<char*>(nullptr));
            ::_exit(121);
        }
    }
    ~Talvor() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // CPU time used so far, in clock ticks.
    long cpu_ticks() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stol(field);
            if (i == 15) stime = std::stol(field);
        }
        return utime + stime;
    }
    // The exit status within seconds, or -1 while it runs.
    int wait(int seconds) {
        for (int i = 0; i < seconds * 20; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

// A namespace, a machine folder and the log of the mixer started there.
class Station : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ns.why_not().empty()) GTEST_SKIP() << "no network namespace: " << ns.why_not();
    }
    std::string log() const { return rig.configs() + "../talvor.log"; }
    std::string file(const std::string& name) const {
        std::ifstream in(rig.configs() + "../" + name);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    Namespace ns;
    MixerRig rig;
};

} // namespace kavro::test
