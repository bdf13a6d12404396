// The state of each kind of control: lists, progress bars, address controls, web views, video panes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

TEST_F(DialogTest, ListsProgressBarsAndAddressControlsKeepTheirState) {
    const Hwnd list = get_dlg_item(dlg, 31);
    for (const char* s : {"COM1", "COM2", "COM3"}) combo_add_string(list, s);
    EXPECT_EQ(combo_get_count(list), 3);
    EXPECT_EQ(combo_get_cur_sel(list), CB_ERR);
    EXPECT_EQ(get_window_text(list), "");
    EXPECT_EQ(combo_set_cur_sel(list, 2), 2);
    EXPECT_EQ(get_window_text(list), "COM3");
    EXPECT_EQ(combo_set_cur_sel(list, 7), CB_ERR);
    EXPECT_EQ(combo_get_cur_sel(list), CB_ERR);
    EXPECT_EQ(combo_find_string_exact(list, "COM2"), 1);
    combo_reset_content(list);
    EXPECT_EQ(combo_get_count(list), 0);

    const Hwnd bar = get_dlg_item(dlg, 32);
    progress_set_range(bar, 0, 63);
    EXPECT_EQ(progress_set_pos(bar, 80), 0);
    EXPECT_EQ(progress_get_pos(bar), 63);
    progress_set_pos(bar, -4);
    EXPECT_EQ(progress_get_pos(bar), 0);
    progress_set_bar_colour(bar, rgb(0, 0, 255));
    EXPECT_EQ(progress_state(bar).bar_colour, rgb(0, 0, 255));
    EXPECT_EQ(progress_state(bar).high, 63);

    const Hwnd ip = get_dlg_item(dlg, 33);
    std::uint32_t a = 1;
    EXPECT_EQ(ip_get_address(ip, a), 0);
    EXPECT_EQ(a, 0u);
    EXPECT_TRUE(ip_is_blank(ip));
    ip_set_address(ip, make_ip_address(192, 168, 1, 20));
    EXPECT_EQ(ip_get_address(ip, a), 4);
    EXPECT_EQ(first_ip_address(a), 192u);
    EXPECT_EQ(fourth_ip_address(a), 20u);
    EXPECT_EQ(get_window_text(ip), "192.168.1.20");
    show_window(dlg, SW_SHOW);
    user::enter_ip_fields(ip, {10, 300, -1, 7});
    EXPECT_EQ(ip_get_address(ip, a), 3);
    EXPECT_EQ(a, make_ip_address(10, 255, 0, 7));
    // Class mismatch is refused, not misread.
    EXPECT_EQ(ip_get_address(bar, a), -1);
    EXPECT_FALSE(progress_set_range(ip, 0, 1));
}

TEST(Windows, WebViewsKeepTheirAddressAndPanesTheLatestFrame) {
    DialogTemplate t;
    t.controls = {{1018, WindowClass::WebView, "http://example.invalid/", {0, 0, 100, 100}, WS_VISIBLE},
                  {1014, WindowClass::VideoPane, "", {0, 0, 100, 100}, WS_VISIBLE}};
    const Hwnd dlg = create_dialog(t, {});
    const Hwnd web = get_dlg_item(dlg, 1018), pane = get_dlg_item(dlg, 1014);
    EXPECT_EQ(web_location(web), "http://example.invalid/");
    web_navigate(web, "http://127.0.0.1/map/indexMap.html");
    EXPECT_EQ(web_location(web), "http://127.0.0.1/map/indexMap.html");
    EXPECT_FALSE(web_navigate(pane, "x"));

    EXPECT_EQ(current_frame(pane), nullptr);
    // A 2 × 2 frame inside a buffer 3 pixels wide.
    const std::uint32_t px[] = {1, 2, 99, 3, 4, 99};
    auto sink = frame_sink(pane);
    ASSERT_TRUE(sink->present(2, 2, px, 3));
    auto f = current_frame(pane);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->width, 2);
    EXPECT_EQ(f->pixels, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_FALSE(present_frame(pane, 2, 2, px, 1)); // stride shorter than a row
    EXPECT_FALSE(present_frame(pane, 0, 2, px, 3));
    EXPECT_FALSE(present_frame(pane, 2, 2, nullptr, 3));
    destroy_window(dlg);
    EXPECT_FALSE(sink->present(2, 2, px, 3)); // the pane is gone: refused, no crash
}

} // namespace
