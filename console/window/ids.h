// Resource and control identifiers of the operator window (dialog 103, menu 105, About box 102).
// The numbers are the window's interface: other programs, stored files and the remote commands use them.
#pragma once

namespace kavro::console::ids {

inline constexpr int kOperatorDialog = 103;
inline constexpr int kAboutDialog = 102;
inline constexpr int kMainMenu = 105;

// Commands that are not controls.
inline constexpr int kCancel = 2;      // Esc and the close box
inline constexpr int kOk = 1;          // OK button of the About box

// Menu 105.
inline constexpr int kMenuAbout = 106;
inline constexpr int kMenuExit = 107;
inline constexpr int kMenuMouse = 108;
inline constexpr int kMenuJoystick = 109;
inline constexpr int kMenuWiimote = 1023;
inline constexpr int kMenuAutojump = 115;
inline constexpr int kMenuNormal = 1013;
inline constexpr int kMenuFullScreen = 1014;
inline constexpr int kMenuSnapshot = 1021;

// Columns and groups.
inline constexpr int kCommandGroup = 1008;
inline constexpr int kViewGroup = 1009;
inline constexpr int kBaseGroup = 2012;

// View column.
inline constexpr int kKavroRadio = 1501;
inline constexpr int kWebCheck = 2011;
inline constexpr int kWebPortEdit = 1506;
inline constexpr int kMixerAddress = 1502;
inline constexpr int kMixerPortEdit = 1503;
inline constexpr int kMixerConfigList = 1504;
inline constexpr int kMixerConfigOk = 2004;
inline constexpr int kMeshRadio = 1010;
inline constexpr int kMapRadio = 1011;
inline constexpr int kReferenceList = 1505;
inline constexpr int kReferenceOk = 2005;
inline constexpr int kRobotConfigButton = 1004;
inline constexpr int kVideoConfigButton = 1005;

// Drive pad and video panes.
inline constexpr int kDrivePad = 1006;
inline constexpr int kPaneMixer = 1000;      // remote mixer picture (view 9)
inline constexpr int kPaneZoom = 1001;       // ZOOM camera player
inline constexpr int kPaneMjpeg = 1002;      // MJPEG camera player
inline constexpr int kPaneMpeg4 = 1003;      // MPEG4 camera player
inline constexpr int kPaneComposite = 1014;  // local composite (view 10)
inline constexpr int kPaneMesh = 1015;       // mesh topology (view 11)
inline constexpr int kPaneWeb = 1018;        // map and web pages (view 12)
inline constexpr int kPanes[7] = {kPaneMixer, kPaneZoom, kPaneMjpeg, kPaneMpeg4, kPaneComposite, kPaneMesh, kPaneWeb};

// Base-station group.
inline constexpr int kBaseAddress = 1315;
inline constexpr int kVirtualCheck = 2013;
inline constexpr int kGpsPortLabel = 1615;
inline constexpr int kGpsPortList = 1507;
inline constexpr int kGpsPortOk = 2006;
inline constexpr int kBaseInLabel = 1316, kBaseInEdit = 1317;
inline constexpr int kBaseOutLabel = 1319, kBaseOutEdit = 1318;
inline constexpr int kBaseConfigLabel = 1321, kBaseConfigEdit = 1320;
inline constexpr int kBaseOlsrLabel = 1323, kBaseOlsrEdit = 1322;
inline constexpr int kBaseBarLabels[4] = {1324, 1327, 1333, 1336};
inline constexpr int kBaseBars[4] = {1325, 1328, 1334, 1337};
inline constexpr int kLaunchButtons[4] = {2014, 2015, 2016, 2017};

// Robot block k = 1..4: prefix 1000 + 100 k.
constexpr int robot_prefix(int k) { return 1000 + 100 * k; }
constexpr int robot_select(int k) { return robot_prefix(k) + 1; }
constexpr int robot_address(int k) { return robot_prefix(k) + 2; }
constexpr int robot_battery_label(int k) { return robot_prefix(k) + 3; }
constexpr int robot_battery_bar(int k) { return robot_prefix(k) + 4; }
constexpr int robot_speed_label(int k) { return robot_prefix(k) + 5; }
constexpr int robot_speed_bar(int k) { return robot_prefix(k) + 6; }
constexpr int robot_signal_label(int k) { return robot_prefix(k) + 7; }
constexpr int robot_signal_bar(int k) { return robot_prefix(k) + 8; }
constexpr int robot_in_label(int k) { return robot_prefix(k) + 9; }
constexpr int robot_out_label(int k) { return robot_prefix(k) + 10; }
constexpr int robot_in_edit(int k) { return robot_prefix(k) + 11; }
constexpr int robot_out_edit(int k) { return robot_prefix(k) + 12; }
constexpr int robot_config_edit(int k) { return robot_prefix(k) + 13; }
constexpr int robot_config_label(int k) { return robot_prefix(k) + 14; }

// Camera block m = 1..4: prefix 1500 + 100 m.
constexpr int camera_prefix(int m) { return 1500 + 100 * m; }
constexpr int camera_radio(int m) { return camera_prefix(m) + 1; }
constexpr int camera_address(int m) { return camera_prefix(m) + 2; }
constexpr int camera_port(int m) { return camera_prefix(m) + 3; }
constexpr int camera_center(int m) { return camera_prefix(m) + 4; }
constexpr int camera_zoom_kind(int m) { return camera_prefix(m) + 5; }
constexpr int camera_mjpeg_kind(int m) { return camera_prefix(m) + 6; }
constexpr int camera_mpeg4_kind(int m) { return camera_prefix(m) + 7; }
constexpr int camera_io_label(int m) { return camera_prefix(m) + 8; }
constexpr int camera_output(int m, int n) { return camera_prefix(m) + 8 + n; }  // n = 1..4
constexpr int camera_zoom_in(int m) { return camera_prefix(m) + 13; }
constexpr int camera_zoom_out(int m) { return camera_prefix(m) + 14; }

// The camera block (1..4) that a control belongs to, or 0.
constexpr int camera_of_control(int id) {
    for (int m = 1; m <= 4; ++m)
        if (id >= camera_prefix(m) + 1 && id <= camera_prefix(m) + 14) return m;
    return 0;
}
// The robot (1..4) whose select button this is, or 0.
constexpr int robot_of_select(int id) {
    for (int k = 1; k <= 4; ++k)
        if (id == robot_select(k)) return k;
    return 0;
}

} // namespace kavro::console::ids
