#include "console/window/drive_pad.h"

namespace kavro::console {

namespace {
int clamp_axis(int v, bool& inside) {
    if (v <= kPadLow) {
        if (v < kPadLeaveLow) inside = false;
        return kPadLow;
    }
    if (v >= kPadHigh) {
        if (v > kPadLeaveHigh) inside = false;
        return kPadHigh;
    }
    return v;
}
} // namespace

PadPoint clamp_to_pad(int px, int py) {
    PadPoint p{0, 0, true};
    p.x = clamp_axis(px, p.inside);
    p.y = clamp_axis(py, p.inside);
    return p;
}

PanTilt camera_pan_tilt(int camera_x, int camera_y) {
    PanTilt r;
    r.pan = 157 + (camera_x - 100) * 155 / 94;
    r.tilt = camera_y > 100 ? 46 + (100 - camera_y) * 46 / 94 : 46 + (100 - camera_y) * 68 / 94;
    return r;
}

} // namespace kavro::console
