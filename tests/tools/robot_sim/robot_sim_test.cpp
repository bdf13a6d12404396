// The robot simulator: its status datagram, and the console's command thread driving two simulated robots.
#include "console/link/robot_link.h"
#include "tests/console/link/fake_robot.h"
#include "tools/kavro-robot-sim/robot_page.h"
#include "tools/kavro-robot-sim/robot_sim.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>

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
    drive.selection_mask = 3;
    drive.reconnect_request = true;
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
    drive.selection_mask = 2;
    drive.reconnect_request = true;
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
