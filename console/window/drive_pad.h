// The drive pad's arithmetic: clamping a pointer position to the pad and pointing an MJPEG camera from it.
#pragma once

namespace kavro::console {

inline constexpr int kPadSize = 200;
inline constexpr int kPadLow = 5, kPadHigh = 195;        // the marker stays within these
inline constexpr int kPadLeaveLow = -2, kPadLeaveHigh = 202;  // beyond these the drag ends

struct PadPoint {
    int x, y;
    bool inside;  // false when the pointer has left the pad, which ends the drag
};

// Clamps pad coordinates (pointer position relative to the pad's top-left corner) to 5..195 and tells
// whether the pointer is still close enough to keep the drag.
PadPoint clamp_to_pad(int px, int py);

struct PanTilt {
    int pan, tilt;
};

// Pan 1..313 (157 at the centre) and tilt 0..114 (46 at the centre) for a camera marker position.
PanTilt camera_pan_tilt(int camera_x, int camera_y);

} // namespace kavro::console
