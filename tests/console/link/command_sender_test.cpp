// The command thread against robots listening on loopback addresses.
#include "console/link/robot_link.h"
#include "tests/console/link/fake_robot.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kavro::console;
using kavro::Ipv4Address;
using namespace kavro::console::testing;
using namespace std::chrono_literals;

namespace {

const std::string kStop("speed @ @", 9);
const std::string kCentre = kStop; // the pad at rest sends the same bytes as a stop
const std::string kForward("speed \x7f \x7f", 9);

std::size_t count_of(const std::vector<Datagram>& d, const std::string& bytes) {
    return static_cast<std::size_t>(std::count_if(d.begin(), d.end(), [&](auto& x) { return x.bytes == bytes; }));
}

class CommandSenderTest : public ::testing::Test {
protected:
    void start() {
        thread_ = std::thread([this] { command_sender_thread(drive, table, fields, timing); });
    }
    void stop() {
        drive.quit = true;
        if (thread_.joinable()) thread_.join();
    }
    void TearDown() override { stop(); }
    void select(int mask) {
        set_selection(drive, mask);
    }

    DriveState drive;
    RobotTable table;
    FakeFields fields;
    // A fake robot answers "init" at once; the long wait only keeps a loaded machine from retrying a handshake
    // and so sending a second "init" that the tests count.
    LinkTiming timing{.handshake_wait = std::chrono::seconds(2)};
    std::thread thread_;
};

} // namespace

TEST_F(CommandSenderTest, HandshakeThenExactDriveBytesToEveryRobot) {
    FakeRobot r1("127.0.0.11");
    FakeRobot r2("127.0.0.12", false, /*reply_from_other_port=*/true);
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(2, {127, 0, 0, 12}, r2.port());
    start();
    select(3);

    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kCentre) >= 3; }));
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, kCentre) >= 3; }));
    auto d1 = r1.received();
    EXPECT_EQ(d1.front().bytes, "init");
    for (std::size_t i = 1; i < d1.size(); ++i) EXPECT_EQ(d1[i].bytes, kCentre);
    // Robot 2 answered from another socket: every command goes there, none to the address it was given.
    auto d2 = r2.received();
    EXPECT_EQ(d2.front().bytes, "init");
    EXPECT_FALSE(d2.front().on_reply_port);
    for (std::size_t i = 1; i < d2.size(); ++i) EXPECT_TRUE(d2[i].on_reply_port);
    EXPECT_TRUE(table.robot(1).linked);
    EXPECT_TRUE(table.robot(2).linked);

    drive.pad_x = 100;
    drive.pad_y = 6;
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kForward) >= 2; }));
    drive.pad_x = 195;
    drive.pad_y = 100;
    const std::string spin("speed ? \x7f", 9); // wheel 1 backward 63, wheel 2 forward 63
    ASSERT_TRUE(r2.wait_for([&](auto& d) { return count_of(d, spin) >= 2; }));
    drive.pad_x = 100;
    drive.pad_y = 195;
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, std::string("speed ? ?", 9)) >= 2; }));
    // Only the handshake ever went out as "init".
    EXPECT_EQ(r1.count("init"), 1u);
    EXPECT_EQ(r2.count("init"), 1u);
}

TEST_F(CommandSenderTest, AutojumpSendsOneCommandPerRelease) {
    FakeRobot r1("127.0.0.11");
    fields.set(1, {127, 0, 0, 11}, r1.port());
    start();
    select(1);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kCentre) >= 1; }));

    drive.autojump_mode = true;
    std::this_thread::sleep_for(300ms);
    r1.clear();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(r1.received().empty()) << "no drive commands while waiting for a release";

    drive.pad_x = 150;
    drive.pad_y = 60;
    drive.autojump_pending = true;
    const std::string jump("autojump \x96 <", 12);
    ASSERT_TRUE(r1.wait_for([&](auto& d) { return count_of(d, jump) == 1; }));
    EXPECT_FALSE(drive.autojump_pending);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(r1.texts(), std::vector<std::string>{jump});

    // Leaving autojump mode during the wait still sends the one command, then drive commands resume.
    r1.clear();
    drive.pad_x = 100;
    drive.pad_y = 100;
    drive.autojump_mode = false;
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kCentre) >= 2; }));
    auto texts = r1.texts();
    EXPECT_EQ(texts.front(), std::string("autojump d d", 12));
}

TEST_F(CommandSenderTest, SelectionChangeRedoesHandshakesAndStopsTheRobotThatLeft) {
    FakeRobot r1("127.0.0.11");
    FakeRobot r2("127.0.0.12");
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(2, {127, 0, 0, 12}, r2.port());
    drive.pad_y = 6; // forward, so a stop command stands out
    start();
    select(1);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kForward) >= 2; }));
    EXPECT_TRUE(r2.received().empty());

    // Adding robot 2 restarts the handshake of both.
    select(3);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, std::string("init")) == 2; }));
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, kForward) >= 2; }));
    EXPECT_EQ(r1.count(kStop), 0u) << "a robot that stays selected is not stopped";

    // Robot 1 leaves: it gets one stop, then nothing; robot 2 redoes its handshake and drives on.
    r1.clear();
    r2.clear();
    select(2);
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, std::string("init")) == 1 && count_of(d, kForward) >= 3; }));
    std::this_thread::sleep_for(100ms);
    auto d1 = r1.texts();
    ASSERT_FALSE(d1.empty());
    EXPECT_EQ(d1.back(), kStop);
    EXPECT_EQ(std::count(d1.begin(), d1.end(), kStop), 1);
    EXPECT_FALSE(table.robot(1).linked);

    // An empty selection stops robot 2 as well and leaves everything quiet.
    r2.clear();
    select(0);
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, kStop) == 1; }));
    r1.clear();
    r2.clear();
    std::this_thread::sleep_for(250ms);
    EXPECT_TRUE(r1.received().empty());
    EXPECT_TRUE(r2.received().empty());
}

TEST_F(CommandSenderTest, SilentRobotIsRetriedWithoutStoppingTheOthers) {
    FakeRobot r1("127.0.0.11");
    FakeRobot r2("127.0.0.12", /*silent=*/true);
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(2, {127, 0, 0, 12}, r2.port());
    timing.handshake_wait = std::chrono::milliseconds(150);
    start();
    select(3);
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, std::string("init")) >= 3; }));
    EXPECT_EQ(r2.count(kCentre), 0u);
    EXPECT_FALSE(table.robot(2).linked);
    EXPECT_GE(r1.count(kCentre), 2u);
    EXPECT_EQ(r1.count("init"), 1u);

    // Once it answers it is linked at the next attempt.
    r2.set_silent(false);
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, kCentre) >= 2; }));
    EXPECT_TRUE(table.robot(2).linked);
}

TEST_F(CommandSenderTest, EmptyAddressIsNeverLinked) {
    FakeRobot r1("127.0.0.11");
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(3, {0, 0, 0, 0}, r1.port());
    start();
    select(1 | 4);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kCentre) >= 3; }));
    EXPECT_FALSE(table.robot(3).linked);
    EXPECT_EQ(r1.count("init"), 1u);
    stop(); // the endpoint belongs to the command thread while it runs
    EXPECT_FALSE(table.robot(3).endpoint.is_open());
}

TEST_F(CommandSenderTest, QuitStopsEveryLinkedRobot) {
    FakeRobot r1("127.0.0.11");
    FakeRobot r2("127.0.0.12");
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(2, {127, 0, 0, 12}, r2.port());
    drive.pad_y = 6;
    start();
    select(3);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kForward) >= 2; }));
    ASSERT_TRUE(r2.wait_for([](auto& d) { return count_of(d, kForward) >= 2; }));
    auto before = Clock::now();
    stop();
    EXPECT_LT(Clock::now() - before, 500ms);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return !d.empty() && d.back().bytes == kStop; }));
    ASSERT_TRUE(r2.wait_for([](auto& d) { return !d.empty() && d.back().bytes == kStop; }));
    EXPECT_EQ(r1.count(kStop), 1u);
    EXPECT_FALSE(table.robot(1).linked);
}

namespace {

// Fields whose robot-2 address read takes 400 ms once, when asked: one late cycle of the command thread.
class StallingFields : public FakeFields {
public:
    Ipv4Address address(int index) const override {
        if (index == 2 && stall.exchange(false)) std::this_thread::sleep_for(400ms);
        return FakeFields::address(index);
    }
    mutable std::atomic<bool> stall{false};
};

} // namespace

TEST(CommandSenderPace, SelectedRobotWithoutAddressDoesNotSlowTheOthers) {
    // Robot 2 is selected but has no address: nothing is sent to it, so it is no handshake and the others keep
    // 25 commands a second; a late cycle is caught up as when robot 2 is not selected.
    FakeRobot r1("127.0.0.11");
    StallingFields fields;
    fields.set(1, {127, 0, 0, 11}, r1.port());
    fields.set(2, {0, 0, 0, 0}, r1.port());
    DriveState drive;
    RobotTable table;
    std::thread sender([&] { command_sender_thread(drive, table, fields); });
    set_selection(drive, 3);
    ASSERT_TRUE(r1.wait_for([](auto& d) { return count_of(d, kCentre) >= 3; }));
    const auto start = Clock::now();
    const std::size_t before = r1.count(kCentre);
    fields.stall = true;
    std::this_thread::sleep_for(1200ms);
    const std::size_t sent = r1.count(kCentre) - before;
    const auto periods = (Clock::now() - start) / 40ms;
    drive.quit = true;
    sender.join();
    EXPECT_GE(static_cast<long>(sent), static_cast<long>(periods) - 3) << "in " << periods << " periods";
    EXPECT_EQ(r1.count("init"), 1u) << "robot 2 was never contacted";
}
