#include "console/window/ids.h"
#include "console/window/operator_window.h"
#include "tests/console/window/fake_controls.h"
#include "platform/ui/message_box.h"
#include "tests/console/window/recording_subsystems.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kavro::console {
namespace {

using namespace ids;
using test::FakeControls;
using test::Log;
namespace fs = std::filesystem;

constexpr int W = 1280, H = 1000;  // pad at (881, 741); normal pane (199, 11, 882, 725)
constexpr int kPadX = 881, kPadY = 741;

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", dir_ / "interface.xml",
                      fs::copy_options::overwrite_existing);
        app_.config.configs_dir = dir_.string() + "/";
        app_.controls = &c_;
        app_.subsystems.video = std::make_unique<test::RecordingVideo>(app_, log_);
        app_.subsystems.pages = std::make_unique<test::RecordingPages>(log_);
        app_.subsystems.joystick = std::make_unique<test::RecordingDevices>(log_);
        app_.subsystems.wiimote = std::make_unique<test::RecordingWiimote>(log_);
        app_.subsystems.robot_link = std::make_unique<test::RecordingLink>(log_);
        app_.window.autojump_wait_step_ms = 1;
        app_.window.autojump_wait_limit_ms = 20;
        // The template's start state: Mouse and Normal checked, only the web pane shown.
        c_.menu_check(kMenuMouse, true);
        c_.menu_check(kMenuNormal, true);
        for (int pane : kPanes) c_.set_visible(pane, pane == kPaneWeb);
        window_init(app_, c_);
        window_size(app_, c_, W, H);
        log_.clear();
    }
    void command(int id) { window_command(app_, c_, id, 0); }
    // A click as the front end delivers it: automatic check boxes flip before the command arrives.
    void toggle(int id) {
        c_.set_checked(id, !c_.checked(id));
        command(id);
    }
    int view() const { return app_.window.view.load(); }
    int pad_x() const { return app_.drive.pad_x.load(); }
    int pad_y() const { return app_.drive.pad_y.load(); }
    std::vector<int> checked_inputs() const {
        std::vector<int> v;
        for (int id : {kMenuMouse, kMenuJoystick, kMenuWiimote, kMenuAutojump})
            if (c_.menu_checked(id)) v.push_back(id);
        return v;
    }
    std::vector<int> visible_panes() const {
        std::vector<int> v;
        for (int pane : kPanes)
            if (c_.visible(pane)) v.push_back(pane);
        return v;
    }
    std::vector<int> checked_view_radios() const {
        std::vector<int> v;
        for (int id : {kKavroRadio, kMeshRadio, kMapRadio, camera_radio(1), camera_radio(2), camera_radio(3), camera_radio(4)})
            if (c_.checked(id)) v.push_back(id);
        return v;
    }

    kavro::test::TempDir temp_{"kavro-console"};
    const fs::path dir_ = temp_.path();
    ConsoleApp app_;
    FakeControls c_;
    Log log_;
    kavro::test::MessageBoxes boxes_;
};

TEST_F(DispatchTest, InitialisationSetsBarsListsAndStartState) {
    EXPECT_EQ(view(), kViewPages);
    EXPECT_EQ(c_.at(robot_battery_bar(2)).range_high, 100);
    EXPECT_EQ(c_.at(robot_signal_bar(3)).range_high, 100);
    EXPECT_EQ(c_.at(robot_speed_bar(4)).range_high, 63);
    EXPECT_EQ(c_.at(robot_speed_bar(4)).step, 1);
    EXPECT_EQ(c_.at(robot_battery_bar(1)).colour, 0x0000FF);
    EXPECT_EQ(c_.at(robot_signal_bar(1)).colour, 0xFF00FF);
    EXPECT_EQ(c_.at(robot_speed_bar(1)).colour, -1);
    EXPECT_EQ(c_.text(kGpsPortList), "COM5");
    EXPECT_TRUE(c_.enabled(kWebCheck));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneWeb});
    EXPECT_EQ(app_.window.reference_address, (Ipv4Address{127, 0, 0, 1}));

    ConsoleApp offline;
    FakeControls c;
    offline.config.configs_dir = app_.config.configs_dir;
    offline.network_connected = [] { return false; };
    window_init(offline, c);
    EXPECT_FALSE(c.enabled(kWebCheck));
    EXPECT_FALSE(c.enabled(kMapRadio));
}

TEST_F(DispatchTest, InputModesSetMarksTimerAndPad) {
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuMouse});

    // No devices were found at start-up: the choice is refused with a message.
    command(kMenuJoystick);
    command(kMenuWiimote);
    ASSERT_EQ(boxes_.seen().size(), 2u);
    EXPECT_EQ(boxes_.seen()[0], "Info: Joystick not found.\nTo use a joystick, connect one and restart the program.");
    EXPECT_EQ(boxes_.seen()[1], "Info: Wiimote not found.\nTo use a wiimote, connect one and restart the program.");
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuMouse});
    EXPECT_EQ(app_.window.input_mode, kInputMouse);
    EXPECT_FALSE(c_.timers.count(kTimerDevicePoll));

    app_.joystick_present = app_.wiimote_present = true;
    command(kMenuAutojump);
    EXPECT_TRUE(app_.drive.autojump_mode.load());
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuAutojump});

    command(kMenuJoystick);
    EXPECT_FALSE(app_.drive.autojump_mode.load());
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuJoystick});
    EXPECT_EQ(app_.window.input_mode, kInputJoystick);
    EXPECT_EQ(c_.timers.at(kTimerDevicePoll), 10u);
    window_timer(app_, c_, kTimerDevicePoll);

    command(kMenuWiimote);
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuWiimote});
    EXPECT_EQ(app_.window.input_mode, kInputWiimote);
    window_timer(app_, c_, kTimerDevicePoll);
    EXPECT_EQ(log_, (Log{"joystick poll", "wiimote poll"}));

    app_.drive.pad_x = 150;
    command(kMenuAutojump);
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuAutojump});
    EXPECT_EQ(app_.window.input_mode, kInputMouse);
    EXPECT_FALSE(c_.timers.count(kTimerDevicePoll));
    EXPECT_EQ(pad_x(), 100);
    window_timer(app_, c_, kTimerDevicePoll);  // a late tick does nothing in mouse mode
    EXPECT_EQ(log_.size(), 2u);

    command(kMenuMouse);
    EXPECT_FALSE(app_.drive.autojump_mode.load());
    EXPECT_EQ(checked_inputs(), std::vector<int>{kMenuMouse});
}

TEST_F(DispatchTest, MixerViewsFollowKavroAndWeb) {
    command(kKavroRadio);
    EXPECT_EQ(view(), kViewLocalMixer);
    EXPECT_EQ(c_.timers.at(kTimerConfigList), 1000u);
    EXPECT_EQ(log_, (Log{"stop 12", "start 10"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneComposite});
    EXPECT_EQ(checked_view_radios(), std::vector<int>{kKavroRadio});

    log_.clear();
    command(kKavroRadio);  // already a mixer view: only its video again
    EXPECT_EQ(log_, (Log{"start 10"}));

    log_.clear();
    toggle(kWebCheck);
    EXPECT_EQ(view(), kViewRemoteMixer);
    EXPECT_EQ(log_, (Log{"stop 10", "clear list", "start 9"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMixer});
    EXPECT_TRUE(c_.enabled(kMixerAddress));
    EXPECT_TRUE(c_.enabled(kMixerPortEdit));
    EXPECT_FALSE(c_.enabled(kVirtualCheck));
    EXPECT_FALSE(c_.checked(kVirtualCheck));

    c_.kill_timer(kTimerConfigList);
    log_.clear();
    toggle(kWebCheck);
    EXPECT_EQ(view(), kViewLocalMixer);
    EXPECT_EQ(log_, (Log{"stop 9", "start 10"}));
    EXPECT_EQ(c_.timers.at(kTimerConfigList), 1000u);
    EXPECT_FALSE(c_.enabled(kMixerAddress));
    EXPECT_TRUE(c_.enabled(kVirtualCheck));

    // From any other view "KAVRO" goes to the remote mixer while "Web" is checked.
    command(kMapRadio);
    toggle(kWebCheck);
    EXPECT_EQ(view(), kViewPages);
    command(kKavroRadio);
    EXPECT_EQ(view(), kViewRemoteMixer);
}

TEST_F(DispatchTest, ConfigListTimerActsByView) {
    window_timer(app_, c_, kTimerConfigList);
    EXPECT_TRUE(log_.empty());
    EXPECT_FALSE(c_.timers.count(kTimerConfigList));  // the pages view kills it

    command(kKavroRadio);
    log_.clear();
    window_timer(app_, c_, kTimerConfigList);
    EXPECT_EQ(log_, (Log{"pending layout", "refresh list"}));
    toggle(kWebCheck);
    log_.clear();
    window_timer(app_, c_, kTimerConfigList);
    EXPECT_EQ(log_, (Log{"refresh list"}));

    log_.clear();
    window_timer(app_, c_, kTimerStatusPoll);
    EXPECT_EQ(log_, (Log{"status poll"}));
}

TEST_F(DispatchTest, CameraMeshAndMapViews) {
    c_.set_checked(camera_zoom_kind(2), false);
    c_.set_checked(camera_mjpeg_kind(2), true);
    command(camera_radio(2));
    EXPECT_EQ(view(), 5);
    EXPECT_EQ(log_, (Log{"stop 12", "start 5"}));
    EXPECT_EQ(checked_view_radios(), std::vector<int>{camera_radio(2)});
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMjpeg});

    log_.clear();
    command(camera_radio(2));
    EXPECT_EQ(log_, (Log{"start 5"}));

    log_.clear();
    command(camera_radio(4));  // a ZOOM camera
    EXPECT_EQ(view(), 7);
    EXPECT_EQ(checked_view_radios(), std::vector<int>{camera_radio(4)});
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneZoom});

    log_.clear();
    command(kMeshRadio);
    EXPECT_EQ(view(), kViewMesh);
    EXPECT_EQ(log_, (Log{"stop 7", "name nodes", "mesh"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMesh});
    EXPECT_EQ(checked_view_radios(), std::vector<int>{kMeshRadio});

    log_.clear();
    command(kMeshRadio);  // shown already: only the reference node
    EXPECT_EQ(log_, (Log{"reference node"}));

    log_.clear();
    command(kMapRadio);
    EXPECT_EQ(view(), kViewPages);
    EXPECT_EQ(log_, (Log{"navigate map", "stop 11"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneWeb});
    EXPECT_EQ(checked_view_radios(), std::vector<int>{kMapRadio});
}

TEST_F(DispatchTest, FailedMeshGraphLeavesThePaneHidden) {
    static_cast<test::RecordingVideo&>(*app_.subsystems.video).mesh_result = E_FAIL;
    command(kMeshRadio);
    EXPECT_EQ(view(), kViewMesh);
    EXPECT_TRUE(visible_panes().empty());
}

TEST_F(DispatchTest, FullScreenAndBack) {
    command(kMenuFullScreen);
    EXPECT_TRUE(app_.window.full_screen);
    EXPECT_TRUE(c_.menu_checked(kMenuFullScreen));
    EXPECT_FALSE(c_.menu_checked(kMenuNormal));
    for (int pane : kPanes) EXPECT_EQ(c_.at(pane).rect, (Rect{0, 0, W, H}));
    for (const Placement& p : control_layout(W, H)) EXPECT_FALSE(c_.visible(p.id)) << p.id;
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneWeb});
    EXPECT_NE(std::find(log_.begin(), log_.end(), "fit"), log_.end());

    // A size change in full screen keeps everything hidden and the panes full.
    window_size(app_, c_, 1600, 900);
    EXPECT_EQ(c_.at(kPaneComposite).rect, (Rect{0, 0, 1600, 900}));
    EXPECT_FALSE(c_.visible(kDrivePad));

    command(kMenuNormal);
    EXPECT_FALSE(app_.window.full_screen);
    EXPECT_TRUE(c_.menu_checked(kMenuNormal));
    EXPECT_FALSE(c_.menu_checked(kMenuFullScreen));
    for (int pane : kPanes) EXPECT_EQ(c_.at(pane).rect, (Rect{383, 11, 833, 625}));
    for (const Placement& p : control_layout(1600, 900)) EXPECT_TRUE(c_.visible(p.id)) << p.id;
    EXPECT_EQ(c_.at(kDrivePad).rect, (Rect{1201, 641, 200, 200}));
}

TEST_F(DispatchTest, RobotButtonsToggleTheSelectionAndAskForReconnection) {
    command(robot_select(1));
    EXPECT_EQ(app_.drive.selection_mask.load(), 1);
    EXPECT_TRUE(app_.drive.reconnect_request.load());
    app_.drive.reconnect_request = false;  // taken by the command sender
    command(robot_select(3));
    EXPECT_EQ(app_.drive.selection_mask.load(), 5);
    EXPECT_TRUE(app_.drive.reconnect_request.load());
    EXPECT_TRUE(c_.checked(robot_select(1)));
    EXPECT_FALSE(c_.checked(robot_select(2)));
    EXPECT_TRUE(c_.checked(robot_select(3)));
    app_.drive.reconnect_request = false;
    command(robot_select(1));
    EXPECT_EQ(app_.drive.selection_mask.load(), 4);
    EXPECT_TRUE(app_.drive.reconnect_request.load());
    EXPECT_FALSE(c_.checked(robot_select(1)));
    // Other notifications than a click are ignored; a timer with a control's identifier acts as a click.
    window_command(app_, c_, robot_select(2), 1);
    EXPECT_EQ(app_.drive.selection_mask.load(), 4);
    window_timer(app_, c_, robot_select(2));
    EXPECT_EQ(app_.drive.selection_mask.load(), 6);
    // Menu commands act whatever the code.
    window_command(app_, c_, kMenuFullScreen, 1);
    EXPECT_TRUE(app_.window.full_screen);
}

TEST_F(DispatchTest, MouseDrivingClampsAndDropsOutsideThePad) {
    const int redraws = c_.pad_redraws;
    window_left_down(app_, c_, kPadX + 50, kPadY + 60);
    EXPECT_TRUE(app_.window.mouse_drive);
    EXPECT_EQ(pad_x(), 50);
    EXPECT_EQ(pad_y(), 60);
    EXPECT_GT(c_.pad_redraws, redraws);

    window_mouse_move(app_, c_, kPadX + 199, kPadY + 1);
    EXPECT_EQ(pad_x(), 195);
    EXPECT_EQ(pad_y(), 5);
    window_mouse_move(app_, c_, kPadX - 2, kPadY + 202);  // 7 pixels out still drives
    EXPECT_EQ(pad_x(), 5);
    EXPECT_EQ(pad_y(), 195);
    EXPECT_TRUE(app_.window.mouse_drive);
    window_mouse_move(app_, c_, kPadX + 100, kPadY + 203);  // 8 pixels out drops the drive
    EXPECT_FALSE(app_.window.mouse_drive);
    EXPECT_EQ(pad_x(), 100);
    EXPECT_EQ(pad_y(), 100);
    window_mouse_move(app_, c_, kPadX + 30, kPadY + 30);  // back over the pad: no drive until pressed again
    EXPECT_EQ(pad_x(), 100);

    window_left_down(app_, c_, kPadX + 30, kPadY + 170);
    EXPECT_EQ(pad_y(), 170);
    window_left_up(app_, c_);
    EXPECT_FALSE(app_.window.mouse_drive);
    EXPECT_EQ(pad_x(), 100);
    EXPECT_EQ(pad_y(), 100);
    EXPECT_FALSE(app_.drive.autojump_pending.load());

    // The edge of the pad itself does not start a drive, nor does the joystick mode.
    window_left_down(app_, c_, kPadX, kPadY + 50);
    EXPECT_FALSE(app_.window.mouse_drive);
    app_.joystick_present = true;
    command(kMenuJoystick);
    window_left_down(app_, c_, kPadX + 50, kPadY + 50);
    EXPECT_FALSE(app_.window.mouse_drive);
}

TEST_F(DispatchTest, AutojumpReleaseHandsTheJumpOver) {
    command(kMenuAutojump);
    // A release anywhere sets the jump, even without a drive.
    window_left_up(app_, c_);
    EXPECT_TRUE(app_.drive.autojump_pending.load());
    app_.drive.autojump_pending = false;

    window_left_down(app_, c_, kPadX + 120, kPadY + 40);
    std::thread sender([this] {
        while (!app_.drive.autojump_pending.load()) std::this_thread::yield();
        // The pad still holds the release position when the sender takes the jump.
        EXPECT_EQ(pad_x(), 120);
        EXPECT_EQ(pad_y(), 40);
        app_.drive.autojump_pending = false;
    });
    app_.window.autojump_wait_limit_ms = 5000;
    window_left_up(app_, c_);
    sender.join();
    EXPECT_FALSE(app_.drive.autojump_pending.load());
    EXPECT_EQ(pad_x(), 100);

    // Without a sender the wait gives up instead of freezing the window.
    app_.window.autojump_wait_limit_ms = 20;
    window_left_down(app_, c_, kPadX + 120, kPadY + 40);
    window_left_up(app_, c_);
    EXPECT_FALSE(app_.window.mouse_drive);
    EXPECT_EQ(pad_x(), 100);
}

TEST_F(DispatchTest, RightDragPointsAnMjpegCameraOnly) {
    window_right_down(app_, c_, kPadX + 150, kPadY + 50);  // pages view: nothing
    EXPECT_FALSE(app_.window.camera_drag);
    command(camera_radio(1));  // ZOOM camera: nothing either
    window_right_down(app_, c_, kPadX + 150, kPadY + 50);
    EXPECT_FALSE(app_.window.camera_drag);

    toggle(camera_mjpeg_kind(1));
    log_.clear();
    window_right_down(app_, c_, kPadX + 150, kPadY + 50);
    EXPECT_TRUE(app_.window.camera_drag);
    EXPECT_EQ(log_, (Log{"pan 239 tilt 82"}));
    EXPECT_EQ(app_.window.camera_pad_x, 150);
    EXPECT_EQ(pad_x(), 100);  // the drive pad itself does not move

    log_.clear();
    window_mouse_move(app_, c_, kPadX + 250, kPadY + 50);  // leaves: camera back to the centre
    EXPECT_FALSE(app_.window.camera_drag);
    EXPECT_EQ(log_, (Log{"pan 157 tilt 46"}));
    window_right_down(app_, c_, kPadX + 199, kPadY + 199);
    window_right_up(app_, c_);
    EXPECT_FALSE(app_.window.camera_drag);
    EXPECT_EQ(app_.window.pan, 313);
    EXPECT_EQ(app_.window.tilt, 0);
}

TEST_F(DispatchTest, CameraButtonsByKind) {
    command(kMenuSnapshot);
    command(camera_center(1));    // ZOOM
    command(camera_zoom_in(1));
    command(camera_zoom_out(1));
    toggle(camera_output(1, 3));  // ZOOM: digital output 1 takes the box's state
    EXPECT_EQ(log_, (Log{"snapshot", "zoom home 100", "zoom tele 100", "zoom wide 100", "zoom output 1=1"}));

    log_.clear();
    c_.set_checked(camera_zoom_kind(3), false);
    c_.set_checked(camera_mpeg4_kind(3), true);
    command(camera_center(3));
    command(camera_zoom_in(3));
    toggle(camera_output(3, 1));
    toggle(camera_output(3, 1));
    EXPECT_EQ(log_, (Log{"mpeg4 home 100", "mpeg4 tele 100", "mpeg4 output 1=1", "mpeg4 output 1=0"}));

    log_.clear();
    c_.set_checked(camera_zoom_kind(2), false);
    c_.set_checked(camera_mjpeg_kind(2), true);
    for (int i = 0; i < 8; ++i) command(camera_zoom_in(2));
    command(camera_zoom_out(2));
    EXPECT_EQ(log_, (Log{"zoom 2", "zoom 3", "zoom 4", "zoom 5", "zoom 6", "zoom 7", "zoom 8", "zoom 8", "zoom 7"}));
    log_.clear();
    for (int i = 0; i < 7; ++i) command(camera_zoom_out(2));
    EXPECT_EQ(log_.back(), "zoom 1");
    EXPECT_EQ(log_[log_.size() - 2], "zoom 1");
    log_.clear();
    app_.window.camera_pad_x = 20;
    toggle(camera_output(2, 2));  // MJPEG: no outputs
    command(camera_center(2));
    EXPECT_EQ(log_, (Log{"pan 157 tilt 46"}));
    EXPECT_EQ(app_.window.camera_pad_x, 100);
}

TEST_F(DispatchTest, KindChangeSwapsThePlayerOfTheShownCamera) {
    command(camera_radio(2));  // ZOOM player shown
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneZoom});
    log_.clear();
    c_.set_checked(camera_zoom_kind(2), false);
    toggle(camera_mjpeg_kind(2));
    EXPECT_EQ(log_, (Log{"stop player zoom", "start 5"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMjpeg});
    for (int n = 1; n <= 4; ++n) EXPECT_FALSE(c_.enabled(camera_output(2, n)));

    log_.clear();
    toggle(camera_mpeg4_kind(2));
    EXPECT_EQ(log_, (Log{"stop player mjpeg", "start 5"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMpeg4});
    EXPECT_FALSE(c_.checked(camera_mjpeg_kind(2)));
    for (int n = 1; n <= 4; ++n) EXPECT_TRUE(c_.enabled(camera_output(2, n)));

    // Another camera's kind only changes its own boxes.
    log_.clear();
    toggle(camera_mjpeg_kind(3));
    EXPECT_EQ(log_, (Log{"start 5"}));
    EXPECT_EQ(visible_panes(), std::vector<int>{kPaneMpeg4});
    EXPECT_FALSE(c_.enabled(camera_output(3, 1)));
}

TEST_F(DispatchTest, VirtualBaseStationSwapsTheEnables) {
    toggle(kVirtualCheck);
    EXPECT_FALSE(c_.enabled(kBaseAddress));
    EXPECT_FALSE(c_.enabled(kBaseOlsrEdit));
    EXPECT_FALSE(c_.enabled(kBaseBars[2]));
    EXPECT_FALSE(c_.enabled(kLaunchButtons[3]));
    EXPECT_TRUE(c_.enabled(kGpsPortList));
    EXPECT_TRUE(c_.enabled(kGpsPortOk));
    toggle(kVirtualCheck);
    EXPECT_TRUE(c_.enabled(kBaseAddress));
    EXPECT_TRUE(c_.enabled(kLaunchButtons[3]));
    EXPECT_FALSE(c_.enabled(kGpsPortLabel));

    c_.list_select(kGpsPortList, 9);
    command(kGpsPortOk);
    EXPECT_TRUE(app_.window.gps_port->changed.load());
    EXPECT_EQ(app_.window.gps_port->name, "COM10");

    command(kLaunchButtons[2]);
    command(kMixerConfigOk);
    command(kReferenceOk);
    command(kRobotConfigButton);
    command(kVideoConfigButton);
    EXPECT_EQ(log_, (Log{"launch 3", "apply configuration", "reference node", "robot page", "video page"}));
}

TEST_F(DispatchTest, ExitSavesStopsAndQuitsOnce) {
    c_.set_number(robot_in_edit(2), 12345);
    command(kKavroRadio);
    log_.clear();
    command(kMenuExit);
    EXPECT_EQ(log_, (Log{"save kavro.xml", "stop graphs", "release"}));
    EXPECT_TRUE(app_.drive.quit.load());
    EXPECT_EQ(c_.ended_with, kMenuExit);
    EXPECT_FALSE(c_.timers.count(kTimerConfigList));
    EXPECT_TRUE(fs::exists(dir_ / "interface.xml"));

    // A remote close after the exit does not run it again.
    window_remote_close(app_, c_);
    EXPECT_EQ(log_.size(), 3u);

    ConsoleApp other;
    FakeControls c;
    other.config.load_save = false;
    window_remote_close(other, c);
    EXPECT_TRUE(other.drive.quit.load());
    EXPECT_EQ(c.ended_with, kCancel);
}

} // namespace
} // namespace kavro::console
