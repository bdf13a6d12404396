// Joystick and Wii Remote as drive input, on fake devices.
#include "console/link/joystick.h"
#include "console/link/wiimote.h"
#include "platform/devices/fake_devices.h"

#include <gtest/gtest.h>

using namespace kavro::console;
using namespace kavro::devices;

TEST(Joystick, AxisToPad) {
    EXPECT_EQ(joystick_pad_value(0), 7);
    EXPECT_EQ(joystick_pad_value(32767), 100);
    EXPECT_EQ(joystick_pad_value(65535), 195);
    EXPECT_EQ(joystick_pad_value(16384), 7 + 47);
}

TEST(Joystick, ProbeSkipsTheBluetoothHidPortAndTakesTheFirst) {
    fake::FakeControllers controllers;
    auto bt = controllers.add("/dev/input/event3", "Bluetooth HID port");
    auto first = controllers.add("/dev/input/event5", "Bluetooth HID port (gamepad)");
    auto second = controllers.add("/dev/input/event7", "Logitech Dual Action");
    JoystickInput joystick(controllers);
    ASSERT_EQ(joystick.probe(), S_OK);
    EXPECT_FALSE(bt->opened);
    EXPECT_TRUE(first->opened) << "a name that merely contains the words is used";
    EXPECT_TRUE(first->grabbed);
    EXPECT_FALSE(second->opened);

    DriveState drive;
    first->x = 65535;
    first->y = 0;
    EXPECT_TRUE(joystick.poll_step(drive));
    EXPECT_EQ(drive.pad_x, 195);
    EXPECT_EQ(drive.pad_y, 7);

    // A controller that stops answering leaves the pad as it was.
    first->x = 32767;
    first->poll_fails = true;
    EXPECT_FALSE(joystick.poll_step(drive));
    first->poll_fails = false;
    first->read_fails = true;
    EXPECT_FALSE(joystick.poll_step(drive));
    EXPECT_EQ(drive.pad_x, 195);

    joystick.release();
    EXPECT_FALSE(first->grabbed);
    EXPECT_FALSE(joystick.present());
    EXPECT_FALSE(joystick.poll_step(drive));
}

TEST(Joystick, ProbeFailures) {
    fake::FakeControllers none;
    EXPECT_EQ(JoystickInput(none).probe(), E_FAIL);

    fake::FakeControllers only_bt;
    only_bt.add("/dev/input/event1", "Bluetooth HID port");
    EXPECT_EQ(JoystickInput(only_bt).probe(), E_FAIL);

    fake::FakeControllers busy;
    busy.add("/dev/input/event1", "Pad")->grab_fails = true;
    JoystickInput j(busy);
    EXPECT_EQ(j.probe(), E_FAIL);
    EXPECT_FALSE(j.present());
}

namespace {

std::vector<std::uint8_t> report(std::uint8_t x, std::uint8_t y) { return {0x33, 0, 0, x, y, 128}; }

} // namespace

TEST(Wiimote, ConnectFindsTheRemoteAndSendsFullLengthReports) {
    fake::FakeHidSystem hid;
    auto keyboard = hid.add("/dev/hidraw0", 0x046D, 0xC31C, 9, 2);
    auto broken = hid.add("/dev/hidraw1", 0x057E, 0x0306);
    broken->open_fails = true;
    auto remote = hid.add("/dev/hidraw2", 0x057E, 0x0306, 22, 22);
    auto other = hid.add("/dev/hidraw3", 0x057E, 0x0306);

    Wiimote w(hid);
    ASSERT_TRUE(w.Connect());
    EXPECT_EQ(keyboard->opens, 1);
    EXPECT_EQ(other->opens, 0) << "the search ends at the first match";
    EXPECT_EQ(w.caps().input_report_length, 22);
    ASSERT_EQ(remote->written.size(), 2u);
    std::vector<std::uint8_t> leds(22, 0);
    leds[0] = 0x11;
    EXPECT_EQ(remote->written[0], leds);
    std::vector<std::uint8_t> mode(22, 0);
    mode[0] = 0x12;
    mode[2] = 0x33;
    EXPECT_EQ(remote->written[1], mode);

    // Reads wait 10 ms; nothing there reads as 0.
    EXPECT_EQ(w.ReadReport(), 0);
    EXPECT_EQ(remote->read_timeouts.back(), 10);

    EXPECT_TRUE(w.Close());
    EXPECT_EQ(w.ReadReport(), 0);
    const std::uint8_t b[] = {0x11, 0};
    EXPECT_EQ(w.WriteReport(b, 2), 0);
}

TEST(Wiimote, ConnectFailsWithoutARemote) {
    fake::FakeHidSystem hid;
    hid.add("/dev/hidraw0", 0x057E, 0x0330); // another product of the same vendor
    Wiimote w(hid);
    EXPECT_FALSE(w.Connect());
    EXPECT_FALSE(w.is_open());
}

TEST(Wiimote, TiltSmoothingAndPadMapping) {
    fake::FakeHidSystem hid;
    auto remote = hid.add("/dev/hidraw0", 0x057E, 0x0306);
    Wiimote w(hid);
    ASSERT_TRUE(w.Connect());
    DriveState drive;
    TiltSmoothing tilt;

    // 160 held steadily settles at 52 (truncation stops it short of 54): pad 188.
    for (int i = 0; i < 30; ++i) remote->input.push_back(report(160, 160));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(wiimote_poll_step(w, tilt, drive));
    EXPECT_EQ(tilt.sx, 52);
    EXPECT_EQ(drive.pad_x, 188);
    EXPECT_EQ(drive.pad_y, 188);

    // The first step from rest keeps 60 % of the old value.
    TiltSmoothing fresh;
    remote->input.push_back(report(160, 106));
    ASSERT_TRUE(wiimote_poll_step(w, fresh, drive));
    EXPECT_EQ(fresh.sx, 21); // 54 - 54 * 0.6 = 21.6
    EXPECT_EQ(fresh.sy, 0);

    // 106 held drives s to 0 and the pad to 6; a strong tilt the other way stays at 6.
    for (int i = 0; i < 40; ++i) remote->input.push_back(report(106, 0));
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(wiimote_poll_step(w, tilt, drive));
    EXPECT_EQ(tilt.sx, 0);
    EXPECT_EQ(drive.pad_x, 6);
    EXPECT_EQ(drive.pad_y, 6);
    EXPECT_LT(tilt.sy, 0);

    // About 133 is the centre.
    TiltSmoothing centre{27, 27};
    remote->input.push_back(report(133, 133));
    ASSERT_TRUE(wiimote_poll_step(w, centre, drive));
    EXPECT_EQ(drive.pad_x, 100);

    // No report: nothing changes.
    drive.pad_x = 150;
    EXPECT_FALSE(wiimote_poll_step(w, tilt, drive));
    EXPECT_EQ(drive.pad_x, 150);
    remote->gone = true;
    EXPECT_FALSE(wiimote_poll_step(w, tilt, drive));
}

TEST(Wiimote, ShortReportsReadAsZero) {
    fake::FakeHidSystem hid;
    auto dev = hid.add("/dev/hidraw0", 0x057E, 0x0306, 4, 3); // input reports too short for byte 4
    Wiimote w(hid);
    ASSERT_TRUE(w.Connect());
    dev->input.push_back({0x33, 0, 0, 200});
    DriveState drive;
    TiltSmoothing tilt;
    ASSERT_TRUE(wiimote_poll_step(w, tilt, drive));
    EXPECT_EQ(tilt.sx, static_cast<int>(94 - 94 * 0.6f));
    EXPECT_EQ(tilt.sy, static_cast<int>(-106 + 106 * 0.6f));
    // The mode report is cut to the device's 3-byte output length.
    EXPECT_EQ(dev->written[1], (std::vector<std::uint8_t>{0x12, 0x00, 0x33}));
}
