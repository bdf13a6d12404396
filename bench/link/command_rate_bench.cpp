// Command rate of the robot link: four selected robots, each a real UDP receiver on its own loopback address,
// time-stamped by the kernel on arrival. Over 10 s: commands per second per robot (target 25.0 +/- 0.1) and the
// 99th percentile of |period - 40 ms| (target under 2 ms).
#include "console/link/robot_link.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace kavro::console;
using kavro::Ipv4Address;

namespace {

class Fields : public RobotLinkFields {
public:
    Ipv4Address address(int index) const override {
        return {127, 0, 0, static_cast<std::uint8_t>(50 + index)};
    }
    unsigned command_port(int index) const override { return ports[static_cast<std::size_t>(index)]; }
    unsigned status_port(int) const override { return 0; }
    std::array<unsigned, 6> ports{};
};

struct Receiver {
    int fd = -1;
    std::vector<double> arrivals; // kernel receive time, seconds
};

double kernel_time(msghdr& m) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts;
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
        }
    }
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// state.range(0) == 1: the command thread runs under the real-time scheduler (SCHED_FIFO), which shows the
// link's own timing on a machine whose cores are busy with other work. Skipped when not permitted.
void CommandRate(benchmark::State& state) {
    constexpr int kRobots = 4;
    constexpr double kWindow = 10.0;
    Fields fields;
    std::vector<Receiver> receivers(kRobots);
    for (int i = 0; i < kRobots; ++i) {
        Receiver& r = receivers[static_cast<std::size_t>(i)];
        r.fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(r.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ("127.0.0." + std::to_string(51 + i)).c_str(), &a.sin_addr);
        if (::bind(r.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            state.SkipWithError("cannot bind a loopback receiver");
            return;
        }
        socklen_t n = sizeof a;
        getsockname(r.fd, reinterpret_cast<sockaddr*>(&a), &n);
        fields.ports[static_cast<std::size_t>(i + 1)] = ntohs(a.sin_port);
    }

    for (auto _ : state) {
        DriveState drive;
        RobotTable table;
        drive.pad_y = 6;
        set_selection(drive, 1 | 2 | 4 | 8);
        std::atomic<bool> stop_receiving{false};
        std::thread receive([&] {
            std::vector<pollfd> fds;
            for (auto& r : receivers) fds.push_back({r.fd, POLLIN, 0});
            while (!stop_receiving.load(std::memory_order_relaxed)) {
                if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
                for (std::size_t i = 0; i < fds.size(); ++i) {
                    if ((fds[i].revents & POLLIN) == 0) continue;
                    char data[64];
                    char control[256];
                    sockaddr_in from{};
                    iovec io{data, sizeof data};
                    msghdr m{};
                    m.msg_name = &from;
                    m.msg_namelen = sizeof from;
                    m.msg_iov = &io;
                    m.msg_iovlen = 1;
                    m.msg_control = control;
                    m.msg_controllen = sizeof control;
                    ssize_t n = ::recvmsg(receivers[i].fd, &m, 0);
                    if (n == 4 && std::memcmp(data, "init", 4) == 0) {
                        ::sendto(receivers[i].fd, "ok", 2, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
                    } else if (n == kSpeedCommandLength) {
                        receivers[i].arrivals.push_back(kernel_time(m));
                    }
                }
            }
        });
        std::thread sender([&] { command_sender_thread(drive, table, fields); });
        if (state.range(0) == 1) {
            sched_param p{};
            p.sched_priority = 10;
            if (pthread_setschedparam(sender.native_handle(), SCHED_FIFO, &p) != 0) {
                drive.quit = true;
                sender.join();
                stop_receiving = true;
                receive.join();
                state.SkipWithError("real-time scheduling not permitted");
                return;
            }
        }
        // One second to link, then the measured window and a margin.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 + static_cast<int>(kWindow * 1000) + 500));
        drive.quit = true;
        sender.join();
        stop_receiving = true;
        receive.join();
    }

    // Window: from the first command of the latest-linked robot on, kWindow seconds.
    double start = 0;
    for (auto& r : receivers) {
        if (r.arrivals.empty()) {
            state.SkipWithError("a robot received no command");
            return;
        }
        start = std::max(start, r.arrivals.front());
    }
    start += 0.5;
    std::vector<double> deviations;
    double worst_rate_error = 0;
    const char* mode = state.range(0) == 1 ? "real-time command thread" : "normal scheduling";
    state.SetLabel(mode);
    std::printf("%s:\n", mode);
    for (int i = 0; i < kRobots; ++i) {
        auto& a = receivers[static_cast<std::size_t>(i)].arrivals;
        int count = 0;
        for (std::size_t k = 0; k < a.size(); ++k) {
            if (a[k] < start || a[k] >= start + kWindow) continue;
            ++count;
            if (k > 0 && a[k - 1] >= start) deviations.push_back(std::abs(a[k] - a[k - 1] - 0.040) * 1000.0);
        }
        const double rate = count / kWindow;
        state.counters["robot" + std::to_string(i + 1) + "_per_s"] = rate;
        worst_rate_error = std::max(worst_rate_error, std::abs(rate - 25.0));
        std::printf("robot %d: %.1f commands/s\n", i + 1, rate);
    }
    std::sort(deviations.begin(), deviations.end());
    const double p50 = deviations[deviations.size() / 2];
    const double p99 = deviations[static_cast<std::size_t>(0.99 * static_cast<double>(deviations.size() - 1))];
    state.counters["p50_period_dev_ms"] = p50;
    state.counters["p99_period_dev_ms"] = p99;
    state.counters["max_period_dev_ms"] = deviations.back();
    state.counters["periods"] = static_cast<double>(deviations.size());
    std::printf("period deviation from 40 ms: p50 %.3f ms, p99 %.3f ms, max %.3f ms over %zu periods; "
                "worst rate error %.2f/s\n",
                p50, p99, deviations.back(), deviations.size(), worst_rate_error);
    for (auto& r : receivers) ::close(r.fd);
}

} // namespace

BENCHMARK(CommandRate)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
