// The video source page's server side: what the layout editor page posts, checked and turned into the
// console's remote-control datagrams (layout, code 2; picture adjustments, code 3), which go to the console's
// UDP port 7000.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavro::editor {

inline constexpr int kPanes = 8;    // 0..3 the capture inputs, 4..7 the network cameras
inline constexpr int kRobots = 4;

struct PaneLayout {
    float left = 0, top = 0, right = 1, bottom = 1; // fractions of the picture, 0..1
    float alpha = 1;                                // 0..1; at most 0.1 switches the pane off
    int z = 0;                                      // layer 0..11 (the console shows layer z at depth 12 - z)
};

// One sensor overlay setting of a robot: on/off and two values.
struct SensorSetting {
    bool on = false;
    std::int32_t a = 0, b = 0;
};

struct Layout {
    std::array<PaneLayout, kPanes> panes{};
    float overlay_alpha = 0;                                     // 0..1; 0 leaves the sensor settings alone
    std::array<std::array<SensorSetting, 4>, kRobots> sensors{}; // settings 1..4 of robots 1..4
};

// The page's form of a layout: numbers separated by blanks: per pane left top right bottom alpha z (48), the
// overlay alpha, then per robot per setting 1..4: on a b (48). nullopt for anything else (a count other than
// 97, a number that does not read whole, a fraction outside 0..1, a right/bottom before left/top, a layer
// outside 0..11, a flag other than 0/1).
std::optional<Layout> parse_layout_form(std::string_view body);

// "2 ..." as the console's layout command reads it: panes 0..3 (tokens 1..24), 24 unused zeros, panes 4..7
// (tokens 49..72), the overlay alpha (token 73) and, when that is not 0, robots 1..4 in the command's setting
// order 1, 4, 2, 3 (tokens 74..121). Single blanks, no terminator. Numbers locale-free, shortest form.
std::string layout_datagram(const Layout& layout);

struct Picture {
    int input = 1;                      // 1..4
    std::array<int, 4> values{100, 100, 100, 100}; // 0..200
};
// "input v1 v2 v3 v4" with input 1..4 and values 0..200; nullopt otherwise.
std::optional<Picture> parse_picture_form(std::string_view body);
// "3 input v1 v2 v3 v4".
std::string picture_datagram(const Picture& picture);

// The layout in the page's form (what parse_layout_form reads).
std::string layout_form(const Layout& layout);
// Four quarters for the capture inputs, the cameras as small windows along the bottom, overlay off.
Layout default_layout();

} // namespace kavro::editor
