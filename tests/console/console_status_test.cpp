// The whole status path of the console: the command sender drives a simulated robot, the robot reports to the
// sensor filter plug-in (registered like the setup step does, created by the console's robot link), and the status
// poll turns what the filter heard into the window's progress bars.
#include "console/window/ids.h"
#include "console/link/robot_link.h"
#include "console/install_robot_link.h"
#include "console/link/status_poll.h"
#include "platform/com/runtime.h"
#include "tests/console/link/fake_robot.h"
#include "tests/support/ports.h"
#include "tests/support/registry.h"
#include "tools/kavro-robot-sim/robot_sim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

using namespace kavro::console;
using kavro::Ipv4Address;
using namespace std::chrono_literals;

namespace {

struct BarWindow : StatusWindow {
    void set_bar(int id, int value) override { bars[id] = value; }
    ICapteurControl* capteur() override { return sensor; }
    void release_video_graph() override { sensor = nullptr; }
    void error_trace(int location, HRESULT hr) override { traces.push_back({location, hr}); }
    ICapteurControl* sensor = nullptr;
    std::map<int, int> bars;
    std::vector<std::pair<int, HRESULT>> traces;
};

class ConsoleStatusPath : public ::testing::Test {
protected:
    kavro::test::ScopedRegistry registry_;
};

} // namespace

TEST_F(ConsoleStatusPath, UnregisteredFilterLeavesTheConsoleWithoutStatus) {
    EXPECT_FALSE(create_sensor_filter());
}

TEST_F(ConsoleStatusPath, RobotStatusReachesTheProgressBars) {
    // Registered as the setup step does it, then created the way the console's robot link creates it.
    void* lib = kavro::com::load_library(CAPTEUR_AX);
    ASSERT_NE(lib, nullptr);
    auto reg = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
    ComPtr<ICapteurControl> sensor = create_sensor_filter();
    ASSERT_TRUE(sensor);

    const std::uint16_t status_port = kavro::test::free_udp_port();
    kavro::robot::RobotSpec spec;
    spec.address = "127.0.0.91";
    spec.status_port = status_port;
    kavro::robot::RobotSimulator sim({spec});
    ASSERT_TRUE(sim.open());
    std::atomic<bool> sim_stop{false};
    std::thread sim_thread([&] { sim.run(sim_stop); });

    kavro::console::testing::FakeFields fields;
    fields.set(1, {127, 0, 0, 91}, sim.port(0), status_port);
    DriveState drive;
    RobotTable table;
    std::thread sender([&] { command_sender_thread(drive, table, fields); });
    drive.pad_y = 6; // full speed ahead
    set_selection(drive, 1);

    BarWindow window;
    window.sensor = sensor.get();
    std::map<int, Ipv4Address> nodes;
    Ipv4Address reference{127, 0, 0, 1};
    // The window's 100 ms timer: the first poll hands the robot's status address and port to the filter.
    bool seen = false;
    for (int tick = 0; tick < 50 && !seen; ++tick) {
        ASSERT_TRUE(status_poll(table, fields, window, nodes, reference));
        seen = window.bars[ids::robot_speed_bar(1)] == 63 && window.bars[ids::robot_signal_bar(1)] > 0;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(seen) << "speed " << window.bars[ids::robot_speed_bar(1)] << ", signal "
                      << window.bars[ids::robot_signal_bar(1)];
    EXPECT_GE(window.bars[ids::robot_battery_bar(1)], 90);
    EXPECT_LE(window.bars[ids::robot_battery_bar(1)], 100);
    EXPECT_TRUE(window.traces.empty());
    EXPECT_EQ(nodes[1], (Ipv4Address{127, 0, 0, 91})); // the robot's mesh node address, from its datagrams

    // The robot stops when the console lets go of the pad: the bars follow.
    drive.pad_y = 100;
    bool stopped = false;
    for (int tick = 0; tick < 50 && !stopped; ++tick) {
        ASSERT_TRUE(status_poll(table, fields, window, nodes, reference));
        stopped = window.bars[ids::robot_speed_bar(1)] == 0;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(stopped);

    drive.quit = true;
    sender.join();
    sim_stop = true;
    sim_thread.join();
}
