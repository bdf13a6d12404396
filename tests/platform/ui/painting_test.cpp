// Painting: an invalidated visible window gets one WM_PAINT.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

TEST(Painting, InvalidatedVisibleWindowGetsOneWmPaint) {
    int paints = 0;
    const Hwnd h = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_PAINT) ++paints;
        return def_window_proc(w, m, wp, lp);
    });
    pump_messages(); // the first showing paints
    EXPECT_EQ(paints, 1);
    invalidate_rect(h);
    invalidate_rect(h);
    EXPECT_TRUE(needs_paint(h));
    pump_messages();
    EXPECT_EQ(paints, 2);
    EXPECT_FALSE(needs_paint(h));
    show_window(h, SW_HIDE);
    invalidate_rect(h);
    pump_messages();
    EXPECT_EQ(paints, 2); // hidden windows are not painted
    show_window(h, SW_SHOW);
    pump_messages();
    EXPECT_EQ(paints, 3);
    destroy_window(h);
}

} // namespace
