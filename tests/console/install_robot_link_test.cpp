// The link plugged into the console: the window's fields reach the command thread, and the end of the
// console stops every robot it drove.
#include "console/install_robot_link.h"
#include "tests/console/window/fake_controls.h"
#include "tests/console/link/fake_robot.h"
#include "tests/support/sensor_stub.h"

#include "console/link/status_poll.h"
#include "console/window/ids.h"

#include <gtest/gtest.h>

using namespace kavro::console;
using namespace std::chrono_literals;

TEST(InstalledRobotLink, WindowFieldsDriveRobotsAndTheEndStopsThem) {
    kavro::console::testing::FakeRobot r1("127.0.0.61");
    kavro::console::testing::FakeRobot r2("127.0.0.62");
    test::FakeControls controls;
    auto app = std::make_unique<ConsoleApp>();
    app->controls = &controls;
    controls.set_address(ids::robot_address(1), {127, 0, 0, 61});
    controls.set_number(ids::robot_in_edit(1), r1.port());
    controls.set_number(ids::robot_in_edit(2), r2.port()); // no address yet
    install_robot_link(*app);
    app->subsystems.robot_link->start_command_sender();

    const std::string forward("speed \x7f \x7f", 9), stop("speed @ @", 9);
    app->drive.pad_y = 6;
    set_selection(app->drive, 3);
    ASSERT_TRUE(r1.wait_for([&](auto& d) { return !d.empty() && d.back().bytes == forward; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(r2.received().empty());

    // An address typed in the window reaches the link with the next status poll tick.
    controls.set_address(ids::robot_address(2), {127, 0, 0, 62});
    app->subsystems.robot_link->status_poll();
    ASSERT_TRUE(r2.wait_for([&](auto& d) { return !d.empty() && d.back().bytes == forward; }));
    // Without a video graph the bars of robots without an address are simply left alone.
    app->subsystems.robot_link->status_poll();
    // A robot without an address shows empty bars, set through the window's controls.
    controls.set_progress_position(kBatteryBar[3], 50);
    app->subsystems.robot_link->status_poll();
    EXPECT_EQ(controls.at(kBatteryBar[3]).position, 0);

    // The console goes away: both robots get their stop before it is gone.
    app.reset();
    // The stops were sent before reset returned; the robots' receive threads may still be reading them.
    auto stopped = [&](auto& d) { return !d.empty() && d.back().bytes == stop; };
    EXPECT_TRUE(r1.wait_for(stopped));
    EXPECT_TRUE(r2.wait_for(stopped));
}

// The status poll uses the sensor filter the video graph holds, and does without once the graph is gone.
TEST(InstalledRobotLink, StatusPollUsesTheGraphsSensorFilterWhileTheGraphHoldsIt) {
    struct CountingSensor : kavro::test::SensorStub {
        std::atomic<int> calls{0};
        HRESULT GetConfig(int, kavro::ConsoleSensorChannelRecord*) override {
            ++calls;
            return S_OK;
        }
        HRESULT AddressBytes(unsigned char*, unsigned char*, unsigned char*, unsigned char*) override {
            ++calls;
            return S_OK;
        }
        HRESULT GetStatus(int*, std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*) override {
            ++calls;
            return S_OK;
        }
    } sensor;
    std::atomic<bool> graph_alive{true};
    test::FakeControls controls;
    auto app = std::make_unique<ConsoleApp>();
    app->controls = &controls;
    controls.set_address(ids::robot_address(1), {127, 0, 0, 61});
    install_robot_link(*app, [&]() -> ComPtr<ICapteurControl> {
        return graph_alive ? ComPtr<ICapteurControl>(&sensor) : nullptr;
    });
    app->subsystems.robot_link->start_command_sender();
    app->subsystems.robot_link->status_poll();
    EXPECT_GT(sensor.calls.load(), 0);

    graph_alive = false;
    sensor.calls = 0;
    app->subsystems.robot_link->status_poll();
    EXPECT_EQ(sensor.calls.load(), 0);
    app.reset();
}
