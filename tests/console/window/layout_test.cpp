#include "console/window/ids.h"
#include "console/window/layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace kavro::console {
namespace {

using namespace ids;

std::map<int, Rect> by_id(int w, int h) {
    std::map<int, Rect> m;
    for (const Placement& p : control_layout(w, h)) {
        EXPECT_TRUE(m.emplace(p.id, p.rect).second) << "control " << p.id << " placed twice";
    }
    return m;
}

TEST(Layout, PlacesRobotCameraAndBaseBlocksForA1280By1000Client) {
    auto m = by_id(1280, 1000);  // spare heights: robots 186, cameras 151
    EXPECT_EQ(m[kCommandGroup], (Rect{5, 5, 188, 990}));
    EXPECT_EQ(m[robot_select(1)], (Rect{11, 25, 50, 20}));
    EXPECT_EQ(m[robot_select(2)], (Rect{11, 309, 50, 20}));
    EXPECT_EQ(m[robot_address(2)], (Rect{68, 309, 120, 20}));
    EXPECT_EQ(m[robot_out_edit(2)], (Rect{83, 332, 45, 20}));
    EXPECT_EQ(m[robot_config_label(2)], (Rect{132, 335, 10, 13}));
    EXPECT_EQ(m[robot_battery_bar(2)], (Rect{68, 355, 120, 20}));
    EXPECT_EQ(m[robot_speed_label(2)], (Rect{11, 383, 47, 13}));
    EXPECT_EQ(m[robot_signal_label(2)], (Rect{11, 407, 47, 13}));
    EXPECT_EQ(m[robot_signal_bar(4)], (Rect{68, 25 + 3 * 284 + 94, 120, 20}));

    EXPECT_EQ(m[kViewGroup], (Rect{1087, 5, 188, 990}));
    EXPECT_EQ(m[kWebCheck], (Rect{1168, 25, 50, 16}));
    EXPECT_EQ(m[kMixerConfigList], (Rect{1093, 73, 125, 21}));
    EXPECT_EQ(m[kMapRadio], (Rect{1183, 97, 86, 20}));
    EXPECT_EQ(m[kReferenceOk], (Rect{1223, 120, 45, 20}));
    EXPECT_EQ(m[camera_radio(1)], (Rect{1093, 271, 50, 20}));
    EXPECT_EQ(m[camera_radio(3)], (Rect{1093, 695, 50, 20}));
    EXPECT_EQ(m[camera_io_label(3)], (Rect{1198, 695, 15, 16}));
    EXPECT_EQ(m[camera_output(3, 1)], (Rect{1218, 697, 12, 12}));
    EXPECT_EQ(m[camera_output(3, 4)], (Rect{1257, 697, 12, 12}));
    EXPECT_EQ(m[camera_port(3)], (Rect{1223, 716, 45, 20}));
    EXPECT_EQ(m[camera_mjpeg_kind(3)], (Rect{1156, 739, 55, 16}));
    EXPECT_EQ(m[camera_zoom_out(3)], (Rect{1195, 756, 50, 20}));

    EXPECT_EQ(m[kRobotConfigButton], (Rect{881, 946, 95, 44}));
    EXPECT_EQ(m[kVideoConfigButton], (Rect{986, 946, 95, 44}));
    EXPECT_EQ(m[kDrivePad], (Rect{881, 741, 200, 200}));
    EXPECT_EQ(m[kBaseGroup], (Rect{199, 741, 200, 255}));
    EXPECT_EQ(m[kGpsPortList], (Rect{260, 790, 70, 20}));
    EXPECT_EQ(m[kBaseOlsrEdit], (Rect{349, 850, 45, 20}));
    EXPECT_EQ(m[kBaseBarLabels[0]], (Rect{205, 882, 10, 13}));
    EXPECT_EQ(m[kBaseBars[3]], (Rect{220, 970, 120, 20}));
    EXPECT_EQ(m[kLaunchButtons[2]], (Rect{345, 940, 50, 20}));
}

TEST(Layout, SmallClientTruncatesNegativeSpareHeightTowardZero) {
    auto m = by_id(800, 300);  // (300 - 440) / 3 = -46, (300 - 395) / 4 = -23
    EXPECT_EQ(m[robot_select(2)].y, 25 + 98 - 46);
    EXPECT_EQ(m[camera_radio(1)].y, 120 - 23);
    EXPECT_EQ(m[camera_radio(2)].y, 120 - 23 + 61 - 23);
}

TEST(Layout, EveryNonPaneControlIsPlacedExactlyOnce) {
    auto m = by_id(1024, 768);
    std::set<int> panes(std::begin(kPanes), std::end(kPanes));
    for (const auto& [id, r] : m) EXPECT_FALSE(panes.count(id)) << id;
    // 3 groups, 4 x 14 robot controls, 11 view controls, 4 x 14 camera controls, 2 page buttons, the pad,
    // and 25 base-station controls.
    EXPECT_EQ(m.size(), 3u + 56u + 11u + 56u + 2u + 1u + 25u);
}

TEST(Layout, PaneFillsTheSpaceUpTo4By3AndIsCentredWhenWider) {
    // Taller than 4:3: the whole space.
    EXPECT_EQ(normal_pane_rect(1280, 1000), (Rect{199, 11, 882, 725}));
    // Exactly 4:3 (800 x 600) and one pixel wider, which truncation still counts as 4:3.
    EXPECT_EQ(normal_pane_rect(1198, 875), (Rect{199, 11, 800, 600}));
    EXPECT_EQ(normal_pane_rect(1199, 875), (Rect{199, 11, 801, 600}));
    // Two pixels wider: narrowed to 800 and centred.
    EXPECT_EQ(normal_pane_rect(1200, 875), (Rect{200, 11, 800, 600}));
    // Much wider: 4 x 625 / 3 = 833 wide, centred in 1202.
    EXPECT_EQ(normal_pane_rect(1600, 900), (Rect{383, 11, 833, 625}));
}

TEST(Layout, PadPressAreaIsStrictlyInsideThePad) {
    const int w = 1280, h = 1000;  // pad at (881, 741)
    EXPECT_FALSE(in_pad_press_area(881, 800, w, h));
    EXPECT_TRUE(in_pad_press_area(882, 800, w, h));
    EXPECT_TRUE(in_pad_press_area(1080, 940, w, h));
    EXPECT_FALSE(in_pad_press_area(1081, 800, w, h));
    EXPECT_FALSE(in_pad_press_area(900, 741, w, h));
    EXPECT_FALSE(in_pad_press_area(900, 941, w, h));
}

} // namespace
} // namespace kavro::console
