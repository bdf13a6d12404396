#include "console/link/robot_link.h"
#include "console/link/status_poll.h"

#include <gtest/gtest.h>

#include <string>

using namespace kavro::console;

TEST(WheelFromPad, CornersOfThePad) {
    // Centre: no input at all is a rotation of magnitude 0.
    WheelBytes w = wheel_from_pad(100, 100);
    EXPECT_EQ(w.wheel1, 64);
    EXPECT_EQ(w.wheel2, 0);
    // Full right: pure rotation, magnitude 63.
    w = wheel_from_pad(195, 100);
    EXPECT_EQ(w.wheel2, 127);
    EXPECT_EQ(w.wheel1, 63);
    // Full left mirrors it.
    w = wheel_from_pad(6, 100);
    EXPECT_EQ(w.wheel2, 63);
    EXPECT_EQ(w.wheel1, 127);
    // Full forward and full backward.
    w = wheel_from_pad(100, 6);
    EXPECT_EQ(w.wheel1, 127);
    EXPECT_EQ(w.wheel2, 127);
    w = wheel_from_pad(100, 195);
    EXPECT_EQ(w.wheel1, 63);
    EXPECT_EQ(w.wheel2, 63);
}

TEST(WheelFromPad, DeadZonesAndMixedInput) {
    // 10 pad steps scale to 7, inside the dead zone on both axes.
    WheelBytes w = wheel_from_pad(110, 90);
    EXPECT_EQ(w.wheel1, 64);
    EXPECT_EQ(w.wheel2, 0);
    // Just past the turn dead zone: 13 steps scale to 10, which leaves 0 after the cut.
    w = wheel_from_pad(113, 100);
    EXPECT_EQ(w.wheel2, 0);
    // 15 steps scale to 11: magnitude 1 to the right.
    w = wheel_from_pad(115, 100);
    EXPECT_EQ(w.wheel2, 65);
    EXPECT_EQ(w.wheel1, 1);
    // Forward right: 50 steps each way scale to 38, 28 after the dead zone.
    w = wheel_from_pad(150, 50);
    EXPECT_EQ(w.wheel2, 64 + 56);
    EXPECT_EQ(w.wheel1, 64 + 0);
    // Backward right: the outer wheel turns backward, the inner stops (a 0 the command sends as 64).
    w = wheel_from_pad(150, 150);
    EXPECT_EQ(w.wheel2, 56);
    EXPECT_EQ(w.wheel1, 0);
    // Forward with a strong turn saturates at 63 on one wheel.
    w = wheel_from_pad(195, 6);
    EXPECT_EQ(w.wheel2, 127);
    EXPECT_EQ(w.wheel1, 64);
}

TEST(WheelFromPad, EveryPadPositionGivesValidWheelBytes) {
    for (int x = 6; x <= 195; ++x) {
        for (int y = 6; y <= 195; ++y) {
            WheelBytes w = wheel_from_pad(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y));
            ASSERT_LT(w.wheel1, 128) << x << "," << y;
            ASSERT_LT(w.wheel2, 128) << x << "," << y;
            // Forward input never makes both wheels turn backward, and the reverse.
            if (y < 80) {
                ASSERT_TRUE(w.wheel1 >= 64 || w.wheel2 >= 64) << x << "," << y;
            }
            if (y > 120) {
                ASSERT_TRUE(w.wheel1 < 64 || w.wheel2 < 64) << x << "," << y;
            }
        }
    }
}

TEST(Commands, ExactBytes) {
    auto speed = speed_command(64, 127);
    EXPECT_EQ(std::string(speed.data(), speed.size()), std::string("speed @ \x7f", 9));
    auto jump = autojump_command(6, 195);
    EXPECT_EQ(std::string(jump.data(), jump.size()), std::string("autojump \x06 \xc3", 12));
}

TEST(SpeedBar, AverageOfSignedWheelSpeeds) {
    EXPECT_EQ(speed_bar_value(64 + 20, 64 + 30), 25);
    EXPECT_EQ(speed_bar_value(20, 30), 25);
    EXPECT_EQ(speed_bar_value(64 + 20, 20), 0);  // spinning on the spot
    EXPECT_EQ(speed_bar_value(64 + 63, 64 + 62), 62); // 62.5 truncates
    EXPECT_EQ(speed_bar_value(63, 62), 62);
}
