// The robot simulator: its status datagram, and the console's command thread driving two simulated robots.
#include "console/link/robot_link.h"
#include "tests/console/link/fake_robot.h"
#include "tools/kavro-robot-sim/robot_page.h"
#include "tools/kavro-robot-sim/robot_sim.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

using namespace kavro::console;
using kavro::Ipv4Address;
using namespace kavro::robot;
using namespace std::chrono_literals;

TEST(StatusDatagram, RoundTripAndRejections) {
    RobotStatus s;
    s.battery = 87;
    s.wheel1 = 127;
    s.wheel2 = 20;
    s.signal = 92;
    s.latitude = 48.117302;
    s.longitude = -11.516666;
    s.node = {10, 0, 0, 11};
    const std::string text = format_status_datagram(s);
    EXPECT_EQ(text, "status 87 127 20 92 48.117302 -11.516666 10.0.0.11");
    RobotStatus back;
    ASSERT_TRUE(parse_status_datagram(text.data(), text.size(), back));
    EXPECT_EQ(back.battery, 87);
    EXPECT_EQ(back.wheel2, 20);
    EXPECT_DOUBLE_EQ(back.longitude, -11.516666);
    EXPECT_EQ(back.node, s.node);

    for (const std::string& bad : std::vector<std::string>{"", "status", "status 87 127 20 92 48.1 11.5", "status 101 64 64 50 1 1 1.2.3.4",
                                  "status 50 128 64 50 1 1 1.2.3.4", "status 50 64 64 50 nan 1 1.2.3.4",
                                  "status 50 64 64 50 1 1 1.2.3.256", "status 50 64 64 50 1 1 1.2.3.4 extra",
                                  "status  50 64 64 50 1 1 1.2.3.4", "speed @ @", std::string("status 5\0", 9)}) {
        RobotStatus untouched = back;
        EXPECT_FALSE(parse_status_datagram(bad.data(), bad.size(), untouched)) << bad;
        EXPECT_EQ(untouched.battery, 87);
    }
    std::string huge(200, '1');
    EXPECT_FALSE(parse_status_datagram(huge.data(), huge.size(), back));
}

namespace {

// Receives status datagrams on 127.0.0.1 and keeps the last one per sender address.
class StatusListener {
public:
    StatusListener() { EXPECT_TRUE(socket_.open_bound(0, "127.0.0.1")); }
    std::uint16_t port() const { return socket_.local_port(); }
    // Waits for a status from `from` that satisfies pred.
    template <class Pred> bool wait(const char* from, Pred pred, std::chrono::milliseconds limit = 3000ms) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (socket_.receive(0, 20000) <= 0) continue;
            char sender[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &socket_.peer().sin_addr, sender, sizeof sender);
            RobotStatus s;
            if (std::string(sender) != from) continue;
            if (!parse_status_datagram(socket_.buffer(), static_cast<std::size_t>(socket_.length()), s)) continue;
            last = s;
            if (pred(s)) return true;
        }
        return false;
    }
    RobotStatus last;

private:
    UdpEndpoint socket_;
};

} // namespace

TEST(RobotSimulator, DrivenByTheCommandThread) {
    StatusListener status;
    SimSettings settings;
    settings.drive_drain = 30.0; // % per second, to see the battery move within the test
    RobotSimulator sim({{"127.0.0.41", 0, status.port(), {}}, {"127.0.0.42", 0, status.port(), {10, 0, 0, 42}}},
                       settings);
    ASSERT_TRUE(sim.open());
    std::atomic<bool> stop_sim{false};
    std::thread sim_thread([&] { sim.run(stop_sim); });

    DriveState drive;
    RobotTable table;
    kavro::console::testing::FakeFields fields;
    fields.set(1, {127, 0, 0, 41}, sim.port(0));
    fields.set(2, {127, 0, 0, 42}, sim.port(1));
    drive.pad_y = 6; // full speed forward
    set_selection(drive, 3);
    std::thread sender([&] { command_sender_thread(drive, table, fields); });

    // Both robots drive north at full speed; the status comes from each robot's own address.
    ASSERT_TRUE(status.wait("127.0.0.41", [](auto& s) { return s.wheel1 == 127 && s.wheel2 == 127; }));
    const double start = status.last.latitude;
    EXPECT_EQ(status.last.node, (Ipv4Address{127, 0, 0, 41}));
    ASSERT_TRUE(status.wait("127.0.0.42", [](auto& s) { return s.wheel1 == 127; }));
    EXPECT_EQ(status.last.node, (Ipv4Address{10, 0, 0, 42}));
    ASSERT_TRUE(status.wait("127.0.0.41", [&](auto& s) { return s.latitude > start + 3e-6 && s.battery < 95; }));
    EXPECT_NEAR(status.last.longitude, 11.516666, 1e-6) << "straight north";

    // Robot 1 leaves the selection: its stop command halts it at once, robot 2 drives on.
    set_selection(drive, 2);
    ASSERT_TRUE(status.wait("127.0.0.41", [](auto& s) { return s.wheel1 == 64 && s.wheel2 == 64; }, 1000ms));
    ASSERT_TRUE(status.wait("127.0.0.42", [](auto& s) { return s.wheel1 == 127; }));

    // Turning on the spot to the right: wheel 2 forward, wheel 1 backward.
    drive.pad_x = 195;
    drive.pad_y = 100;
    ASSERT_TRUE(status.wait("127.0.0.42", [](auto& s) { return s.wheel1 == 63 && s.wheel2 == 127; }));

    drive.quit = true;
    sender.join();
    ASSERT_TRUE(status.wait("127.0.0.42", [](auto& s) { return s.wheel1 == 64 && s.wheel2 == 64; }, 1000ms));
    stop_sim = true;
    sim_thread.join();
}

TEST(RobotSimulator, StopsWhenCommandsStopComing) {
    StatusListener status;
    RobotSimulator sim({{"127.0.0.43", 0, status.port(), {}}});
    ASSERT_TRUE(sim.open());
    std::atomic<bool> stop_sim{false};
    std::thread sim_thread([&] { sim.run(stop_sim); });

    UdpEndpoint console;
    ASSERT_TRUE(console.open_towards(sim.port(0), "127.0.0.43"));
    ASSERT_EQ(console.send("init", 4), 4);
    ASSERT_EQ(console.receive(1, 0), 2) << "the robot answers init";
    const auto forward = speed_command(127, 127);
    ASSERT_EQ(console.send(forward.data(), 9), 9);
    auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(status.wait("127.0.0.43", [](auto& s) { return s.wheel1 == 127; }));
    ASSERT_TRUE(status.wait("127.0.0.43", [](auto& s) { return s.wheel1 == 64 && s.wheel2 == 64; }));
    const auto stopped_after = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(stopped_after, 450ms);
    EXPECT_LT(stopped_after, 1500ms);

    // An autojump runs for its time, then stops by itself; malformed commands are ignored.
    ASSERT_EQ(console.send("speed", 5), 5);
    const auto jump = autojump_command(100, 6);
    ASSERT_EQ(console.send(jump.data(), 12), 12);
    ASSERT_TRUE(status.wait("127.0.0.43", [](auto& s) { return s.wheel1 == 127 && s.wheel2 == 127; }));
    ASSERT_TRUE(status.wait("127.0.0.43", [](auto& s) { return s.wheel1 == 64; }, 2000ms));
    stop_sim = true;
    sim_thread.join();
}

namespace {

// The body of the test below, in a child process with a network namespace of its own: a veth link stands for
// the cable to a mixer's station at 10.99.0.2 (known to the neighbour table, so nothing waits for an answer),
// and a packet socket on its far end sees what leaves. 0 when robot 1's status copy left towards the station's
// port; 77 when this system gives no namespace to play in; another code names the step that failed.
int station_copy_leaves_from_a_loopback_robot() {
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return 77;
    if (std::system("ip link set lo up && ip link add kvs0 type veth peer name kvs1 && "
                    "ip addr add 10.99.0.1/24 dev kvs0 && ip link set kvs0 up && ip link set kvs1 up && "
                    "ip neigh add 10.99.0.2 lladdr 02:00:00:00:00:02 dev kvs0") != 0)
        return 77;
    const int tap = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_IP);
    at.sll_ifindex = static_cast<int>(::if_nametoindex("kvs1"));
    if (tap < 0 || ::bind(tap, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return 2;
    timeval wait{0, 100000};
    ::setsockopt(tap, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    StatusListener status;
    SimSettings settings;
    settings.stations.push_back({10, 99, 0, 2});
    RobotSimulator sim({{"127.0.0.44", 0, status.port(), {}}}, settings);
    if (!sim.open()) return 3;
    std::atomic<bool> stop_sim{false};
    std::thread sim_thread([&] { sim.run(stop_sim); });
    UdpEndpoint console;
    int result = 4;
    if (console.open_towards(sim.port(0), "127.0.0.44") && console.send("init", 4) == 4) {
        const auto forward = speed_command(127, 127);
        console.send(forward.data(), 9);
        // Copies go out every status period while the robot is driven: one must reach the link in 2 s.
        for (int i = 0; i < 20 && result != 0; ++i) {
            unsigned char packet[2048];
            const long n = ::recv(tap, packet, sizeof packet, 0);
            if (n < long(sizeof(iphdr) + sizeof(udphdr))) continue;
            iphdr ip;
            std::memcpy(&ip, packet, sizeof ip);
            udphdr udp;
            std::memcpy(&udp, packet + ip.ihl * 4, sizeof udp);
            const char* text = reinterpret_cast<const char*>(packet + ip.ihl * 4 + sizeof udp);
            const std::size_t length = std::size_t(n) - ip.ihl * 4 - sizeof udp;
            kavro::robot::RobotStatus copy;
            if (ip.protocol == IPPROTO_UDP && ip.daddr == htonl(0x0A630002) &&
                ntohs(udp.dest) == station_status_port(1) && parse_status_datagram(text, length, copy))
                result = 0;
        }
    }
    stop_sim = true;
    sim_thread.join();
    ::close(tap);
    return result;
}

} // namespace

// A robot simulated on a loopback address (as scripts/run starts them) sends its status copies to a mixer on
// another station: its own socket cannot send there (a 127.x.y.z source never leaves the machine).
TEST(RobotSimulator, StationCopiesOfALoopbackRobotLeaveTheMachine) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(station_copy_leaves_from_a_loopback_robot());
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    if (WEXITSTATUS(wstatus) == 77) GTEST_SKIP() << "no private network namespace with a veth link here";
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << "no status copy left towards the station (step code above)";
}

TEST(RobotPage, ShowsTheRobotsStatusAndChangesItsSettings) {
    using namespace kavro::robot;
    RobotSimulator sim({RobotSpec{"127.0.0.1", 0}});
    ASSERT_TRUE(sim.open());
    RobotPages pages(sim);
    ASSERT_TRUE(pages.start(0, "127.0.0.1", 0));
    httplib::Client client("127.0.0.1", pages.port(0));
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("KAVRO robot 1 (127.0.0.1)"), std::string::npos);
    auto status = client.Get("/status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->body.find("\"battery\":100.0"), std::string::npos);
    EXPECT_NE(status->body.find("\"latitude\":48.117302"), std::string::npos);

    auto set = client.Post("/settings", "top_speed=2.5&battery=40", "application/x-www-form-urlencoded");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->status, 200);
    EXPECT_EQ(sim.info(0).top_speed, 2.5);
    EXPECT_EQ(sim.info(0).battery, 40.0);
    EXPECT_EQ(sim.status(0).battery, 40);
    auto bad = client.Post("/settings", "top_speed=99&battery=40", "application/x-www-form-urlencoded");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(sim.info(0).top_speed, 2.5);
    pages.stop();
}
