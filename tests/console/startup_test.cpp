#include "console/window/ids.h"
#include "console/startup.h"
#include "console/link/station_address.h"
#include "platform/ui/message_box.h"
#include "tests/console/window/recording_subsystems.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace kavro::console {
namespace {

using namespace ids;
namespace fs = std::filesystem;
using test::Log;

class FakeSystem : public ConsoleSystem {
public:
    std::set<std::string> running;
    Log calls;
    ui::Hwnd published;
    bool instance_running(const std::string& name) override {
        calls.push_back("probe " + name);
        return running.count(name) != 0;
    }
    void create_instance_block(const std::string& name) override { calls.push_back("block " + name); }
    void publish_window(ui::Hwnd w) override {
        calls.push_back("publish");
        published = w;
    }
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", dir_ / "interface.xml",
                      fs::copy_options::overwrite_existing);
        app_.config.configs_dir = dir_.string() + "/";
        auto video = std::make_unique<test::RecordingVideo>(app_, log_);
        video_ = video.get();
        app_.subsystems.video = std::move(video);
        app_.subsystems.pages = std::make_unique<test::RecordingPages>(log_);
        app_.subsystems.robot_link = std::make_unique<test::RecordingLink>(log_);
        app_.subsystems.gps = std::make_unique<test::RecordingGps>(log_);
        app_.subsystems.remote = std::make_unique<test::RecordingRemote>(log_);
        auto joystick = std::make_unique<test::RecordingDevices>(log_);
        joystick_ = joystick.get();
        app_.subsystems.joystick = std::move(joystick);
        auto wiimote = std::make_unique<test::RecordingWiimote>(log_);
        wiimote_ = wiimote.get();
        app_.subsystems.wiimote = std::move(wiimote);
    }
    std::size_t windows() const { return ui::top_level_windows().size(); }

    kavro::test::TempDir temp_{"kavro-console"};
    const fs::path dir_ = temp_.path();
    ConsoleApp app_;
    test::RecordingVideo* video_ = nullptr;
    test::RecordingDevices* joystick_ = nullptr;
    test::RecordingWiimote* wiimote_ = nullptr;
    FakeSystem system_;
    Log log_;
    kavro::test::MessageBoxes boxes_;
};

TEST_F(StartupTest, RefusesBesideAnotherConsoleOrTheMixer) {
    const std::size_t before = windows();
    system_.running = {"InterfaceKAVRO"};
    EXPECT_EQ(run_console(app_, system_), 0);
    system_.running = {"KAVRO"};
    EXPECT_EQ(run_console(app_, system_), 0);
    ASSERT_EQ(boxes_.seen().size(), 2u);
    EXPECT_EQ(boxes_.seen()[0], "Erreur: Cette application est déjà lancée.\nFermer la première pour la relancer de nouveau.");
    EXPECT_EQ(boxes_.seen()[1],
              "Erreur: KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas utiliser l'interface en même temps.");
    EXPECT_EQ(system_.calls, (Log{"probe InterfaceKAVRO", "probe InterfaceKAVRO", "probe KAVRO"}));
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(windows(), before);
}

TEST_F(StartupTest, StartsInOrderRunsTheLoopAndReleasesDevices) {
    joystick_->probe_result = S_OK;
    wiimote_->found = true;
    bool looped = false;
    StartupHooks hooks;
    hooks.message_loop = [&] {
        looped = true;
        const ui::Hwnd w = system_.published;
        EXPECT_TRUE(ui::is_window(w));
        EXPECT_TRUE(ui::is_zoomed(w));
        EXPECT_TRUE(ui::timer_exists(w, kTimerConfigList));
        EXPECT_TRUE(ui::timer_exists(w, kTimerStatusPoll));
        EXPECT_FALSE(ui::timer_exists(w, kTimerDevicePoll));
        EXPECT_TRUE(ui::menu_item_enabled(w, kMenuJoystick));
        EXPECT_TRUE(ui::menu_item_enabled(w, kMenuWiimote));
        EXPECT_EQ(app_.controls != nullptr, true);
        ui::user::choose_menu(w, kMenuExit);
        return ui::run_message_loop();
    };
    EXPECT_EQ(run_console(app_, system_, hooks), 0);
    EXPECT_TRUE(looped);
    EXPECT_EQ(system_.calls, (Log{"probe InterfaceKAVRO", "probe KAVRO", "block InterfaceKAVRO", "publish"}));
    EXPECT_EQ(log_, (Log{"archive", "refresh list", "fit", "home page", "build", "remote listener", "command sender",
                         "gps reader", "map feed", "wiimote find", "joystick probe", "save kavro.xml", "stop graphs",
                         "release", "joystick release", "wiimote close"}));
    EXPECT_TRUE(app_.drive.quit.load());
    EXPECT_FALSE(ui::is_window(system_.published));
    EXPECT_EQ(app_.controls, nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "interface.xml"));
}

TEST_F(StartupTest, AbsentDevicesGreyTheirMenuItems) {
    StartupHooks hooks;
    hooks.message_loop = [&] {
        const ui::Hwnd w = system_.published;
        EXPECT_FALSE(ui::menu_item_enabled(w, kMenuJoystick));
        EXPECT_FALSE(ui::menu_item_enabled(w, kMenuWiimote));
        EXPECT_FALSE(app_.joystick_present);
        ui::post_quit_message(3);
        return ui::run_message_loop();
    };
    // The loop's code is the program's; a quit that did not come from Exit still leaves in order.
    EXPECT_EQ(run_console(app_, system_, hooks), 3);
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "joystick release"), 0);
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "save kavro.xml"), 1);
}

TEST_F(StartupTest, FailedVideoBuildEndsWithAMessageAndNoSave) {
    video_->build_result = E_FAIL;
    const std::size_t before = windows();
    EXPECT_EQ(run_console(app_, system_), 0);
    ASSERT_EQ(boxes_.seen().size(), 1u);
    EXPECT_EQ(boxes_.seen()[0], "Error: Initialisation failed !.\nSoftware will exit.");
    EXPECT_EQ(log_, (Log{"archive", "refresh list", "fit", "home page", "build", "release"}));
    EXPECT_EQ(system_.calls, (Log{"probe InterfaceKAVRO", "probe KAVRO", "block InterfaceKAVRO"}));
    EXPECT_EQ(windows(), before);
    EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));  // retired at load, not written again
    EXPECT_FALSE(app_.drive.quit.load());
}

const char* kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(StationAddress, InterfaceOfTheDefaultRouteElseFirstUpElseLoopback) {
    const std::vector<InterfaceAddress> all = {{"lo", {127, 0, 0, 1}, true, true},
                                               {"eth0", {10, 1, 2, 3}, true, false},
                                               {"wlan0", {192, 0, 2, 2}, true, false},
                                               {"eth1", {198, 51, 100, 7}, false, false}};
    // The default route (destination and mask 0, flag up) goes through wlan0; a network route through eth0.
    const std::string via_wlan = std::string(kRouteHeader) +
                                 "eth0\t0000010A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                                 "wlan0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
    EXPECT_EQ(choose_station_address(via_wlan, all), (Ipv4Address{192, 0, 2, 2}));
    // Of two default routes the one with the lower metric wins; a route that is not up does not count.
    const std::string two = via_wlan + "eth0\t00000000\t0101010A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n" +
                            "eth1\t00000000\t01643364\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(choose_station_address(two, all), (Ipv4Address{10, 1, 2, 3}));
    // A default route through an interface that is down or has no IPv4 address: the first one up.
    const std::string via_down = std::string(kRouteHeader) +
                                 "eth1\t00000000\t01643364\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                 "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(choose_station_address(via_down, all), (Ipv4Address{10, 1, 2, 3}));
    // No routing table at all (or an unreadable one).
    EXPECT_EQ(choose_station_address("", all), (Ipv4Address{10, 1, 2, 3}));
    EXPECT_EQ(choose_station_address("garbage\n\t\t\n00000000", all), (Ipv4Address{10, 1, 2, 3}));
    // Loopback only when nothing else is up; nothing when nothing is up.
    EXPECT_EQ(choose_station_address(via_wlan, {all[0], all[3]}), (Ipv4Address{127, 0, 0, 1}));
    EXPECT_EQ(choose_station_address(via_wlan, {all[3]}), std::nullopt);
    EXPECT_EQ(choose_station_address(via_wlan, {}), std::nullopt);
}

TEST(StationAddress, ThisMachineAnswersANonLoopbackAddressWhenItHasOne) {
    bool other_than_loopback = false;
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (ifaddrs* i = list; i; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK))
            other_than_loopback = true;
    freeifaddrs(list);
    const auto own = own_station_address();
    ASSERT_TRUE(own.has_value());
    if (other_than_loopback) EXPECT_NE((*own)[0], 127) << "a machine on a network is not reached at loopback";
    else EXPECT_EQ((*own)[0], 127);
}

} // namespace
} // namespace kavro::console
