#include "console/window/panes_without_video.h"

#include "console/window/console_app.h"
#include "console/window/ids.h"
#include "console/window/operator_window.h"

namespace kavro::console {

using namespace ids;

namespace {
// The player pane of the kind checked for camera m, or 0 when none is checked.
int player_pane(const Controls& c, int m) {
    if (c.checked(camera_zoom_kind(m))) return kPaneZoom;
    if (c.checked(camera_mjpeg_kind(m))) return kPaneMjpeg;
    if (c.checked(camera_mpeg4_kind(m))) return kPaneMpeg4;
    return 0;
}
} // namespace

void PanesWithoutVideo::stop_view(int view) {
    Controls* c = app_.controls;
    if (!c) return;
    if (view >= kViewCameraFirst && view <= kViewCameraLast) {
        if (const int pane = player_pane(*c, view - 3)) c->set_visible(pane, false);
    } else if (const int pane = pane_of_view(view)) {
        c->set_visible(pane, false);
    }
}

void PanesWithoutVideo::start_view(int view) {
    Controls* c = app_.controls;
    if (!c) return;
    if (view >= kViewCameraFirst && view <= kViewCameraLast) {
        if (const int pane = player_pane(*c, view - 3)) c->set_visible(pane, true);
    } else if (view == kViewRemoteMixer || view == kViewLocalMixer) {
        c->set_visible(pane_of_view(view), true);
    }
}

} // namespace kavro::console
