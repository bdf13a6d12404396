#include "console/window/drive_pad.h"

#include <gtest/gtest.h>

namespace kavro::console {
namespace {

TEST(DrivePad, ClampsToFiveAnd195AndLetsGoSevenPixelsOut) {
    struct Case {
        int v, expected;
        bool inside;
    } cases[] = {{100, 100, true}, {6, 6, true},     {5, 5, true},    {0, 5, true},     {-2, 5, true},
                 {-3, 5, false},   {194, 194, true}, {195, 195, true}, {202, 195, true}, {203, 195, false}};
    for (const Case& c : cases) {
        const PadPoint x = clamp_to_pad(c.v, 100);
        EXPECT_EQ(x.x, c.expected) << c.v;
        EXPECT_EQ(x.inside, c.inside) << c.v;
        const PadPoint y = clamp_to_pad(100, c.v);
        EXPECT_EQ(y.y, c.expected) << c.v;
        EXPECT_EQ(y.inside, c.inside) << c.v;
    }
    // Leaving on one axis ends the drag even when the other is inside.
    EXPECT_FALSE(clamp_to_pad(50, 250).inside);
}

TEST(DrivePad, CameraPanAndTiltSpanTheirRangesFromThePad) {
    EXPECT_EQ(camera_pan_tilt(100, 100).pan, 157);
    EXPECT_EQ(camera_pan_tilt(100, 100).tilt, 46);
    EXPECT_EQ(camera_pan_tilt(5, 100).pan, 1);
    EXPECT_EQ(camera_pan_tilt(195, 100).pan, 313);
    EXPECT_EQ(camera_pan_tilt(100, 195).tilt, 0);    // down: 46 steps over 94 pixels
    EXPECT_EQ(camera_pan_tilt(100, 5).tilt, 114);    // up: 68 steps over 94 pixels
    // Truncation toward zero on both sides of the centre.
    EXPECT_EQ(camera_pan_tilt(99, 101).pan, 156);    // -155 / 94 = -1
    EXPECT_EQ(camera_pan_tilt(99, 101).tilt, 46);    // -46 / 94 = 0
    EXPECT_EQ(camera_pan_tilt(150, 50).pan, 157 + 82);
    EXPECT_EQ(camera_pan_tilt(150, 50).tilt, 46 + 36);
}

} // namespace
} // namespace kavro::console
