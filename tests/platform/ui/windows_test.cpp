// Plain windows: sizes and frames, destroyed handles, observers, the foreground window.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

TEST_F(DialogTest, MaximisedWindowGetsItsSizeAndScreenRectanglesMatchTheFrame) {
    set_monitors({Monitor{Rect{0, 0, 1280, 1024}, true}});
    show_window(dlg, SW_SHOWMAXIMIZED);
    auto sizes = rec.of(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].wp, SIZE_MAXIMIZED);
    const int w = get_x_lparam(sizes[0].lp), h = get_y_lparam(sizes[0].lp);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 1024 - 46);
    EXPECT_EQ(get_client_rect(dlg), (Rect{0, 0, w, h}));
    EXPECT_TRUE(is_zoomed(dlg));
    // A control placed at (x, y) in the client area: screen rectangles differ by the frame (3, 49).
    const Hwnd ok = get_dlg_item(dlg, 1);
    move_window(ok, w - 399, h - 259, 200, 200);
    const Rect win = get_window_rect(dlg), pad = get_window_rect(ok);
    EXPECT_EQ(pad.x - win.x - 3, w - 399);
    EXPECT_EQ(pad.y - win.y - 49, h - 259);
    // The operator resizing the window: WM_SIZE with the new client size.
    user::resized(dlg, 800, 600);
    sizes = rec.of(WM_SIZE);
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[1].wp, SIZE_RESTORED);
    EXPECT_EQ(get_x_lparam(sizes[1].lp), 800);
    EXPECT_EQ(get_y_lparam(sizes[1].lp), 600);
    EXPECT_FALSE(is_zoomed(dlg));
}

TEST(Windows, DestroyedHandlesStayInvalidAndObserversSeeChanges) {
    std::vector<Event> events;
    const int token = add_observer([&](const Event& e) { events.push_back(e); });
    Recorder rec;
    const Hwnd dlg = create_dialog(sample_template(), rec.proc());
    const Hwnd ok = get_dlg_item(dlg, 1);
    set_window_text(ok, "Go");
    destroy_window(dlg);
    remove_observer(token);
    EXPECT_FALSE(is_window(dlg));
    EXPECT_FALSE(is_window(ok));
    EXPECT_FALSE(set_window_text(ok, "x"));
    EXPECT_EQ(rec.of(WM_DESTROY).size(), 1u);
    auto count = [&](Event::Kind k, Hwnd h) {
        return std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.kind == k && e.hwnd == h; });
    };
    EXPECT_EQ(count(Event::Created, ok), 1);
    EXPECT_EQ(count(Event::Text, ok), 1);
    EXPECT_EQ(count(Event::Destroyed, ok), 1);
    EXPECT_EQ(count(Event::Destroyed, dlg), 1);
    // A new window never gets an old handle back.
    const Hwnd again = create_dialog(sample_template(), rec.proc());
    EXPECT_NE(again.value, dlg.value);
    destroy_window(again);
}

TEST(Foreground, BringToFrontRestoresAMinimisedWindow) {
    const Hwnd h = create_window(plain_spec(), def_window_proc);
    show_window(h, SW_MINIMIZE);
    EXPECT_TRUE(is_iconic(h));
    EXPECT_TRUE(bring_to_front(h));
    EXPECT_FALSE(is_iconic(h));
    EXPECT_EQ(get_foreground_window(), h);
    destroy_window(h);
    EXPECT_FALSE(bring_to_front(h));
}

} // namespace
