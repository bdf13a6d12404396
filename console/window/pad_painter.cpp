#include "console/window/pad_painter.h"

#include "console/window/ids.h"

namespace kavro::console {

namespace {
void polyline(ui::Dc& dc, std::initializer_list<ui::Point> points) {
    auto it = points.begin();
    dc.move_to(it->x, it->y);
    for (++it; it != points.end(); ++it) dc.line_to(it->x, it->y);
}

void marker(ui::Dc& dc, ui::Colour colour, int x, int y, int r) {
    dc.select_pen(ui::solid_pen(colour));
    dc.select_brush(ui::solid_brush(colour));
    dc.ellipse(x - r, y - r, x + r, y + r);
}
} // namespace

void paint_drive_pad(const ConsoleApp& app, const Controls& c, ui::Dc& dc) {
    const ui::Colour face = ui::rgb(235, 233, 237);
    dc.select_pen(ui::solid_pen(face));
    dc.select_brush(ui::solid_brush(face));
    dc.rectangle(0, 0, 200, 200);

    dc.select_pen(ui::solid_pen(ui::rgb(157, 157, 161)));
    polyline(dc, {{0, 0}, {198, 0}, {198, 198}, {0, 198}, {0, 0}});
    dc.select_pen(ui::solid_pen(ui::rgb(255, 255, 255)));
    polyline(dc, {{197, 1}, {1, 1}, {1, 197}});
    polyline(dc, {{0, 199}, {199, 199}, {199, 0}});

    dc.select_pen(ui::solid_pen(ui::rgb(200, 200, 200)));
    polyline(dc, {{85, 85}, {115, 85}, {115, 115}, {85, 115}, {85, 85}});

    const int view = app.window.view.load(std::memory_order_relaxed);
    if (view >= kViewCameraFirst && view <= kViewCameraLast && c.checked(ids::camera_mjpeg_kind(view - 3)))
        marker(dc, ui::rgb(0, 0, 255), app.window.camera_pad_x, app.window.camera_pad_y, app.window.camera_marker_radius);
    marker(dc, ui::rgb(255, 0, 0), app.drive.pad_x.load(std::memory_order_relaxed),
           app.drive.pad_y.load(std::memory_order_relaxed), app.window.pad_marker_radius);
}

} // namespace kavro::console
