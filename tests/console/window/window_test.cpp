// The operator window on the window system model, driven by messages as the front end sends them.
#include "console/window/ids.h"
#include "console/window/resources.h"
#include "console/window/window_proc.h"
#include "platform/ui/message_box.h"
#include "tests/console/window/recording_subsystems.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace kavro::console {
namespace {

using namespace ids;
namespace fs = std::filesystem;
using test::Log;

constexpr int W = 1280, H = 1000;
constexpr int kPadX = 881, kPadY = 741;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", dir_ / "interface.xml",
                      fs::copy_options::overwrite_existing);
        app_.config.configs_dir = dir_.string() + "/";
        app_.subsystems.video = std::make_unique<test::RecordingVideo>(app_, log_);
        app_.subsystems.pages = std::make_unique<test::RecordingPages>(log_);
        app_.subsystems.robot_link = std::make_unique<test::RecordingLink>(log_);
        w_ = ui::create_dialog(operator_dialog_template(), proc_.proc());
        ASSERT_TRUE(w_);
        ui::show_window(w_, ui::SW_SHOW);
        ui::user::resized(w_, W, H, ui::SIZE_MAXIMIZED);
        log_.clear();
    }
    void TearDown() override {
        app_.window.exiting = true;
        ui::destroy_window(w_);
    }
    ui::Hwnd item(int id) const { return ui::get_dlg_item(w_, id); }
    ui::Rect rect(int id) const { return ui::get_child_rect(item(id)); }
    bool click(int id) { return ui::user::click(item(id)); }
    bool checked(int id) const { return ui::is_dlg_button_checked(w_, id) == ui::BST_CHECKED; }
    bool shown(int id) const { return (ui::get_style(item(id)) & ui::WS_VISIBLE) != 0; }

    kavro::test::TempDir temp_{"kavro-console"};
    const fs::path dir_ = temp_.path();
    ConsoleApp app_;
    OperatorWindowProc proc_{app_};
    ui::Hwnd w_;
    Log log_;
    kavro::test::MessageBoxes boxes_;
};

TEST_F(WindowTest, TemplateHasTheControlsMenuAndCaption) {
    EXPECT_EQ(ui::get_window_text(w_), "Interface KAVRO v3.0");
    EXPECT_EQ(ui::template_id(w_), kOperatorDialog);
    const unsigned style = ui::get_style(w_);
    EXPECT_TRUE(style & ui::WS_MINIMIZEBOX);
    EXPECT_FALSE(style & ui::WS_THICKFRAME);
    struct {
        int id;
        ui::WindowClass cls;
        const char* text;
    } expected[] = {
        {kCommandGroup, ui::WindowClass::Button, "Command"}, {robot_select(3), ui::WindowClass::Button, "Robot 3"},
        {robot_address(2), ui::WindowClass::IpAddress, ""},  {robot_signal_label(4), ui::WindowClass::Static, "S/N"},
        {robot_config_label(1), ui::WindowClass::Static, "C"}, {kKavroRadio, ui::WindowClass::Button, "KAVRO"},
        {kMixerConfigList, ui::WindowClass::ComboBox, ""},   {kMeshRadio, ui::WindowClass::Button, "Mesh Topology"},
        {camera_radio(2), ui::WindowClass::Button, "Cam IP 2"}, {camera_zoom_out(4), ui::WindowClass::Button, "ZOOM -"},
        {camera_mpeg4_kind(1), ui::WindowClass::Button, "MPEG4"}, {kVideoConfigButton, ui::WindowClass::Button, "Video Source Configuration"},
        {kDrivePad, ui::WindowClass::Static, ""},            {kPaneWeb, ui::WindowClass::WebView, ""},
        {kPaneComposite, ui::WindowClass::VideoPane, ""},    {kGpsPortLabel, ui::WindowClass::Static, "Port GPS"},
        {kBaseOlsrLabel, ui::WindowClass::Static, "OLSR"},   {kBaseBarLabels[3], ui::WindowClass::Static, "4"},
        {kLaunchButtons[0], ui::WindowClass::Button, "Launch"},
    };
    for (const auto& e : expected) {
        ASSERT_TRUE(item(e.id)) << e.id;
        EXPECT_EQ(ui::get_class(item(e.id)), e.cls) << e.id;
        if (e.cls != ui::WindowClass::ComboBox && e.cls != ui::WindowClass::IpAddress) {
            EXPECT_EQ(ui::get_window_text(item(e.id)), e.text) << e.id;
        }
    }
    EXPECT_EQ(ui::get_style(item(kWebCheck)) & ui::BS_TYPEMASK, ui::BS_AUTOCHECKBOX);
    EXPECT_TRUE(ui::get_style(item(kMixerPortEdit)) & ui::ES_NUMBER);
    // Start state: only the web pane, the GPS port controls disabled, Mouse and Normal checked.
    for (int pane : kPanes) EXPECT_EQ(shown(pane), pane == kPaneWeb) << pane;
    EXPECT_FALSE(ui::is_window_enabled(item(kGpsPortList)));
    EXPECT_FALSE(ui::is_window_enabled(item(kGpsPortOk)));
    EXPECT_TRUE(ui::menu_item_checked(w_, kMenuMouse));
    EXPECT_TRUE(ui::menu_item_checked(w_, kMenuNormal));
    EXPECT_FALSE(ui::menu_item_checked(w_, kMenuFullScreen));
    const auto menu = ui::get_menu(w_);
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[1].text, "&Input");
    EXPECT_EQ(menu[1].popup[2].text, "&Wiimote");
    EXPECT_EQ(menu[1].popup[2].id, kMenuWiimote);
    // Filled from the shipped settings.
    EXPECT_EQ(ui::get_dlg_item_int(w_, kBaseOlsrEdit), 2004u);
    EXPECT_EQ(ui::get_window_text(item(kGpsPortList)), "COM5");
    EXPECT_EQ(ui::progress_state(item(robot_speed_bar(2))).high, 63);
}

TEST_F(WindowTest, SizeMessagesLayTheControlsOut) {
    EXPECT_EQ(rect(kDrivePad), (ui::Rect{kPadX, kPadY, 200, 200}));
    EXPECT_EQ(rect(camera_radio(3)), (ui::Rect{1093, 695, 50, 20}));
    EXPECT_EQ(rect(kPaneWeb), (ui::Rect{199, 11, 882, 725}));
    ui::user::resized(w_, 1600, 900);
    EXPECT_EQ(rect(kPaneComposite), (ui::Rect{383, 11, 833, 625}));
    EXPECT_EQ(rect(kViewGroup), (ui::Rect{1407, 5, 188, 890}));
    EXPECT_EQ(rect(kLaunchButtons[3]), (ui::Rect{345, 870, 50, 20}));
    // A minimised window keeps its layout.
    ui::user::resized(w_, 0, 0, ui::SIZE_MINIMIZED);
    EXPECT_EQ(rect(kViewGroup), (ui::Rect{1407, 5, 188, 890}));
}

TEST_F(WindowTest, ClicksMenusAndTimersReachTheDispatch) {
    ASSERT_TRUE(click(robot_select(2)));
    ASSERT_TRUE(click(robot_select(4)));
    EXPECT_EQ(app_.drive.selection_mask.load(), 10);
    EXPECT_TRUE(checked(robot_select(2)));
    EXPECT_TRUE(checked(robot_select(4)));
    EXPECT_TRUE(app_.drive.reconnect_request.load());
    click(robot_select(2));
    EXPECT_FALSE(checked(robot_select(2)));
    EXPECT_EQ(app_.drive.selection_mask.load(), 8);

    click(kKavroRadio);
    EXPECT_EQ(app_.window.view.load(), kViewLocalMixer);
    EXPECT_TRUE(checked(kKavroRadio));
    EXPECT_TRUE(ui::timer_exists(w_, kTimerConfigList));
    EXPECT_TRUE(shown(kPaneComposite));
    EXPECT_FALSE(shown(kPaneWeb));
    click(kWebCheck);  // the check box flips itself, then the window reacts
    EXPECT_EQ(app_.window.view.load(), kViewRemoteMixer);
    EXPECT_TRUE(ui::is_window_enabled(item(kMixerAddress)));
    EXPECT_FALSE(ui::is_window_enabled(item(kVirtualCheck)));

    ui::user::choose_menu(w_, kMenuAutojump);
    EXPECT_TRUE(ui::menu_item_checked(w_, kMenuAutojump));
    EXPECT_FALSE(ui::menu_item_checked(w_, kMenuMouse));
    ui::user::choose_menu(w_, kMenuFullScreen);
    EXPECT_EQ(rect(kPaneMixer), (ui::Rect{0, 0, W, H}));
    EXPECT_FALSE(shown(kDrivePad));
    EXPECT_FALSE(shown(kViewGroup));
    ui::user::choose_menu(w_, kMenuNormal);
    EXPECT_EQ(rect(kPaneMixer), (ui::Rect{199, 11, 882, 725}));
    EXPECT_TRUE(shown(kDrivePad));
    EXPECT_TRUE(shown(kMixerPortEdit));

    log_.clear();
    ui::send_message(w_, ui::WM_TIMER, kTimerStatusPoll);
    ui::send_message(w_, ui::WM_TIMER, kTimerConfigList);
    EXPECT_EQ(log_, (Log{"status poll", "refresh list"}));
    ui::send_message(w_, ui::WM_TIMER, robot_select(1));  // an unknown timer acts as that command
    EXPECT_TRUE(checked(robot_select(1)));
}

TEST_F(WindowTest, MouseOnThePadDrivesAndPaints) {
    ui::user::mouse(w_, ui::WM_LBUTTONDOWN, kPadX + 60, kPadY + 30, ui::MK_LBUTTON);
    EXPECT_EQ(app_.drive.pad_x.load(), 60);
    EXPECT_EQ(app_.drive.pad_y.load(), 30);
    EXPECT_TRUE(ui::needs_paint(item(kDrivePad)));
    ui::update_window(w_);
    auto canvas = ui::window_canvas(item(kDrivePad));
    ASSERT_TRUE(canvas);
    EXPECT_EQ(canvas->colour(60, 30), ui::rgb(255, 0, 0));   // pad marker
    EXPECT_EQ(canvas->colour(100, 100), ui::rgb(235, 233, 237));
    EXPECT_EQ(canvas->colour(85, 100), ui::rgb(200, 200, 200));  // centre square
    EXPECT_EQ(canvas->colour(100, 0), ui::rgb(157, 157, 161));   // dark bevel
    EXPECT_EQ(canvas->colour(1, 100), ui::rgb(255, 255, 255));   // light bevel

    ui::user::mouse(w_, ui::WM_MOUSEMOVE, kPadX + 250, kPadY + 30, ui::MK_LBUTTON);
    EXPECT_EQ(app_.drive.pad_x.load(), 100);
    ui::user::mouse(w_, ui::WM_LBUTTONUP, kPadX + 250, kPadY + 30);
    ui::update_window(w_);
    canvas = ui::window_canvas(item(kDrivePad));
    EXPECT_EQ(canvas->colour(100, 100), ui::rgb(255, 0, 0));
    EXPECT_EQ(canvas->colour(60, 30), ui::rgb(235, 233, 237));

    // A camera marker appears only for an MJPEG camera view.
    click(camera_radio(1));
    click(camera_mjpeg_kind(1));
    ui::user::mouse(w_, ui::WM_RBUTTONDOWN, kPadX + 150, kPadY + 150, ui::MK_RBUTTON);
    EXPECT_EQ(app_.window.pan, 157 + 50 * 155 / 94);
    EXPECT_EQ(app_.window.tilt, 46 - 50 * 46 / 94);
    ui::user::mouse(w_, ui::WM_RBUTTONUP, kPadX + 150, kPadY + 150);
    ui::update_window(w_);
    canvas = ui::window_canvas(item(kDrivePad));
    EXPECT_EQ(canvas->colour(150, 150), ui::rgb(0, 0, 255));
    click(camera_zoom_kind(1));
    ui::send_message(w_, ui::WM_PAINT);
    canvas = ui::window_canvas(item(kDrivePad));
    EXPECT_EQ(canvas->colour(150, 150), ui::rgb(235, 233, 237));
}

TEST_F(WindowTest, DeviceModesNeedADeviceFoundAtStart) {
    ui::enable_menu_item(w_, kMenuJoystick, ui::MF_ENABLED);
    ui::user::choose_menu(w_, kMenuJoystick);
    ASSERT_EQ(boxes_.seen().size(), 1u);
    EXPECT_EQ(boxes_.seen()[0], "Info: Joystick not found.\nTo use a joystick, connect one and restart the program.");
    EXPECT_FALSE(ui::timer_exists(w_, kTimerDevicePoll));
    app_.wiimote_present = true;
    ui::user::choose_menu(w_, kMenuWiimote);
    EXPECT_TRUE(ui::timer_exists(w_, kTimerDevicePoll));
    EXPECT_TRUE(ui::menu_item_checked(w_, kMenuWiimote));
    ui::user::choose_menu(w_, kMenuMouse);
    EXPECT_FALSE(ui::timer_exists(w_, kTimerDevicePoll));
}

TEST_F(WindowTest, AboutBoxIsModalAndClosesWithOk) {
    std::thread operator_([] {
        for (int i = 0; i < 2000; ++i) {
            for (ui::Hwnd t : ui::top_level_windows()) {
                // The click counts once the box is shown.
                if (ui::template_id(t) != kAboutDialog || !ui::is_modal(t)) continue;
                const std::string caption = ui::get_window_text(t);
                if (ui::user::click(ui::get_dlg_item(t, kOk))) {
                    EXPECT_EQ(caption, "About");
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "no About box";
    });
    ui::user::choose_menu(w_, kMenuAbout);
    operator_.join();
    EXPECT_TRUE(ui::is_window_enabled(w_));
}

TEST_F(WindowTest, EscapeAndRemoteCloseLeaveInOrderOnce) {
    ui::set_dlg_item_int(w_, robot_in_edit(3), 31000);
    // Another thread asks the window to close while its loop runs.
    std::thread remote([this] { ui::send_message(w_, ui::WM_DESTROY); });
    const int code = ui::run_message_loop();
    remote.join();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(app_.drive.quit.load());
    EXPECT_EQ(log_, (Log{"save kavro.xml", "stop graphs", "release"}));
    EXPECT_TRUE(fs::exists(dir_ / "interface.xml"));
    MinXL::t_xml_node saved{"x", ""};
    saved.load_file((dir_ / "interface.xml").string());
    EXPECT_EQ(saved.child(7).child(4).node_text(), "31000");
    ui::user::press_escape(w_);  // a second request changes nothing
    EXPECT_EQ(log_.size(), 3u);
}

} // namespace
} // namespace kavro::console
