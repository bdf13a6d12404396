// The whole status path on loopback: a simulated robot driven from the station's address reports to the
// status port, and the filter shows what the robot does.
#include "tests/outside/capteur/capteur_test_support.h"
#include "tools/kavro-robot-sim/robot_sim.h"

using namespace capteur;
using namespace capteur::test;

namespace {

TEST(CapteurWithSimulatedRobot, DrivingShowsInTheStatusAndSilenceAfterTheRobotStops) {
    CapteurOptions options;
    options.silence = 300ms;
    options.listener.bind_address = {127, 0, 0, 1};
    Filter f(options);
    ICapteurControl* c = f.control.get();

    const std::uint16_t status_port = free_udp_port();
    kavro::robot::RobotSpec spec;
    spec.address = "127.0.0.71";
    spec.status_port = status_port;
    spec.node = {10, 0, 0, 71};
    kavro::robot::SimSettings settings;
    settings.dead_man = 200ms;
    kavro::robot::RobotSimulator sim({spec}, settings);
    ASSERT_TRUE(sim.open());
    std::atomic<bool> stop{false};
    std::thread robot([&] { sim.run(stop); });

    auto rec = status_record(status_port, {127, 0, 0, 71});
    ASSERT_EQ(c->SetConfig(1, &rec), S_OK);
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().bound_ports() == 1; }));

    // The station drives from 127.0.0.1: full speed ahead, 9-byte commands as the console sends them.
    Sender station("127.0.0.1");
    const std::string speed = std::string("speed ") + char(127) + ' ' + char(127);
    int index = 1;
    std::int32_t battery = 0, w1 = 0, w2 = 0, signal = 0;
    const bool driving = eventually([&] {
        station.send(sim.port(0), speed, "127.0.0.71");
        std::this_thread::sleep_for(20ms);
        int i = index;
        return c->GetStatus(&i, &battery, &w1, &w2, &signal) == S_OK && w1 == 127 && w2 == 127;
    });
    EXPECT_TRUE(driving);
    EXPECT_GT(battery, 90);
    EXPECT_GT(signal, 0);
    float lat = 0, lon = 0;
    ASSERT_EQ(c->GetPosition(&index, &lat, &lon), S_OK);
    EXPECT_NEAR(lat, 48.117302f, 0.01f);
    EXPECT_NEAR(lon, 11.516666f, 0.01f);
    kavro::ConsoleSensorChannelRecord back{};
    ASSERT_EQ(c->GetConfig(1, &back), S_OK);
    EXPECT_EQ(back.node_address[3], 71);

    // No more commands: the robot stops by itself and says so.
    EXPECT_TRUE(eventually([&] {
        int i = index;
        return c->GetStatus(&i, &battery, &w1, &w2, &signal) == S_OK && w1 == 64 && w2 == 64 && signal > 0;
    }));
    // The robot goes away: its values stay, its signal drops to 0.
    stop.store(true);
    robot.join();
    EXPECT_TRUE(eventually([&] {
        int i = index;
        return c->GetStatus(&i, &battery, &w1, &w2, &signal) == S_OK && signal == 0;
    }));
    EXPECT_GT(battery, 90);
    ASSERT_EQ(c->GetPosition(&index, &lat, &lon), S_OK);
    EXPECT_NEAR(lat, 48.117302f, 0.01f);
}

} // namespace
