#include "console/window/layout.h"

#include "console/window/ids.h"

namespace kavro::console {

using namespace ids;

std::vector<Placement> control_layout(int w, int h) {
    std::vector<Placement> out;
    out.reserve(200);
    auto put = [&out](int id, int x, int y, int cw, int ch) { out.push_back({id, Rect{x, y, cw, ch}}); };

    const int d = (h - 440) / 3;  // spare height shared between the robot blocks
    const int e = (h - 395) / 4;  // spare height shared between the camera blocks

    // Left column: the four robot blocks.
    put(kCommandGroup, 5, 5, 188, h - 10);
    for (int k = 1; k <= 4; ++k) {
        const int y = 25 + (k - 1) * (98 + d);
        put(robot_select(k), 11, y, 50, 20);
        put(robot_address(k), 68, y, 120, 20);
        put(robot_in_edit(k), 21, y + 23, 45, 20);
        put(robot_out_edit(k), 83, y + 23, 45, 20);
        put(robot_config_edit(k), 142, y + 23, 45, 20);
        put(robot_in_label(k), 11, y + 26, 10, 13);
        put(robot_out_label(k), 70, y + 26, 10, 13);
        put(robot_config_label(k), 132, y + 26, 10, 13);
        const int bars[3][2] = {{robot_battery_bar(k), robot_battery_label(k)},
                                {robot_speed_bar(k), robot_speed_label(k)},
                                {robot_signal_bar(k), robot_signal_label(k)}};
        for (int row = 0; row < 3; ++row) {
            const int ry = y + 46 + 24 * row;
            put(bars[row][0], 68, ry, 120, 20);
            put(bars[row][1], 11, ry + 4, 47, 13);
        }
    }

    // Right column: the views and the four camera blocks.
    put(kViewGroup, w - 193, 5, 188, h - 10);
    put(kKavroRadio, w - 187, 25, 50, 20);
    put(kWebCheck, w - 112, 25, 50, 16);
    put(kWebPortEdit, w - 57, 25, 45, 20);
    put(kMixerAddress, w - 187, 49, 125, 20);
    put(kMixerPortEdit, w - 57, 49, 45, 20);
    put(kMixerConfigList, w - 187, 73, 125, 21);
    put(kMixerConfigOk, w - 57, 73, 45, 20);
    put(kMeshRadio, w - 187, 97, 86, 20);
    put(kMapRadio, w - 97, 97, 86, 20);
    put(kReferenceList, w - 187, 120, 125, 20);
    put(kReferenceOk, w - 57, 120, 45, 20);
    for (int m = 1; m <= 4; ++m) {
        const int c = 120 + e + (m - 1) * (61 + e);
        put(camera_radio(m), w - 187, c, 50, 20);
        put(camera_center(m), w - 132, c, 45, 20);
        put(camera_io_label(m), w - 82, c, 15, 16);
        for (int n = 1; n <= 4; ++n) put(camera_output(m, n), w - 62 + 13 * (n - 1), c + 2, 12, 12);
        put(camera_address(m), w - 187, c + 21, 125, 20);
        put(camera_port(m), w - 57, c + 21, 45, 20);
        put(camera_zoom_kind(m), w - 187, c + 44, 55, 16);
        put(camera_mjpeg_kind(m), w - 124, c + 44, 55, 16);
        put(camera_mpeg4_kind(m), w - 62, c + 44, 55, 16);
        put(camera_zoom_in(m), w - 161, c + 61, 50, 20);
        put(camera_zoom_out(m), w - 85, c + 61, 50, 20);
    }

    // Bottom centre: the two page buttons, the pad and the base-station group.
    put(kRobotConfigButton, w - 399, h - 54, 95, 44);
    put(kVideoConfigButton, w - 294, h - 54, 95, 44);
    const Rect pad = drive_pad_rect(w, h);
    put(kDrivePad, pad.x, pad.y, pad.w, pad.h);
    put(kBaseGroup, 199, h - 259, 200, 255);
    put(kBaseAddress, 205, h - 240, 120, 20);
    put(kVirtualCheck, 340, h - 240, 55, 20);
    put(kGpsPortLabel, 205, h - 208, 50, 20);
    put(kGpsPortList, 260, h - 210, 70, 20);
    put(kGpsPortOk, 350, h - 210, 45, 20);
    put(kBaseInLabel, 205, h - 177, 35, 13);
    put(kBaseOutLabel, 310, h - 177, 35, 13);
    put(kBaseConfigLabel, 205, h - 148, 35, 13);
    put(kBaseOlsrLabel, 310, h - 148, 35, 13);
    put(kBaseInEdit, 249, h - 180, 45, 20);
    put(kBaseOutEdit, 349, h - 180, 45, 20);
    put(kBaseConfigEdit, 249, h - 150, 45, 20);
    put(kBaseOlsrEdit, 349, h - 150, 45, 20);
    for (int n = 1; n <= 4; ++n) {
        const int r = h - 120 + 30 * (n - 1);
        put(kBaseBarLabels[n - 1], 205, r + 2, 10, 13);
        put(kBaseBars[n - 1], 220, r, 120, 20);
        put(kLaunchButtons[n - 1], 345, r, 50, 20);
    }
    return out;
}

Rect normal_pane_rect(int w, int h) {
    const int w0 = w - 398;
    const int h0 = h - 275;
    Rect r{199, 11, w0, h0};
    if (3 * w0 / 4 > h0) {
        r.w = 4 * h0 / 3;
        r.x = (w0 - r.w) / 2 + 199;
    }
    return r;
}

Rect drive_pad_rect(int w, int h) { return Rect{w - 399, h - 259, 200, 200}; }

bool in_pad_press_area(int x, int y, int w, int h) {
    return x > w - 399 && x < w - 199 && y > h - 259 && y < h - 59;
}

} // namespace kavro::console
