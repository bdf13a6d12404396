// Dialogs from templates, control state, menus and the operator's actions, without a display.
#include <gtest/gtest.h>

#include <vector>

#include "platform/ui/ui.h"

using namespace kavro::ui;

namespace {

DialogTemplate sample_template() {
    DialogTemplate t;
    t.id = 300;
    t.caption = "Sample";
    t.rect = {0, 0, 200, 100};
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    t.menu.id = 301;
    t.menu.items = {
        menu_popup("&File", {menu_item(107, "&Exit")}),
        menu_popup("&Input", {menu_item(108, "&Mouse", true), menu_item(109, "&Joystick"), menu_item(115, "&Autojump")}),
    };
    t.controls = {
        {1, WindowClass::Button, "OK", {10, 10, 50, 14}, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {10, WindowClass::Button, "ZOOM", {10, 30, 40, 10}, WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON},
        {11, WindowClass::Button, "MJPEG", {50, 30, 40, 10}, WS_VISIBLE | BS_AUTORADIOBUTTON},
        {12, WindowClass::Button, "MPEG4", {90, 30, 40, 10}, WS_VISIBLE | BS_AUTORADIOBUTTON},
        {13, WindowClass::Button, "Other", {130, 30, 40, 10}, WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON},
        {20, WindowClass::Button, "Web", {10, 45, 40, 10}, WS_VISIBLE | BS_AUTOCHECKBOX},
        {21, WindowClass::Button, "Robot 1", {60, 45, 40, 10}, WS_VISIBLE | BS_RADIOBUTTON},
        {30, WindowClass::Edit, "", {10, 60, 30, 12}, WS_VISIBLE | ES_NUMBER},
        {31, WindowClass::ComboBox, "", {50, 60, 50, 40}, WS_VISIBLE | CBS_DROPDOWNLIST},
        {32, WindowClass::Progress, "", {110, 60, 50, 10}, WS_VISIBLE},
        {33, WindowClass::IpAddress, "", {10, 75, 60, 12}, WS_VISIBLE},
        {34, WindowClass::Static, "hidden", {80, 75, 20, 8}, SS_LEFT},
        {35, WindowClass::Button, "Off", {110, 75, 30, 12}, WS_VISIBLE | WS_DISABLED},
    };
    return t;
}

// Records every message a window procedure sees.
struct Recorder {
    struct Seen {
        unsigned msg;
        WPARAM wp;
        LPARAM lp;
    };
    std::vector<Seen> seen;
    WindowProc proc() {
        return [this](Hwnd, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back({m, wp, lp});
            return m == WM_INITDIALOG ? 1 : 0;
        };
    }
    std::vector<Seen> of(unsigned m) const {
        std::vector<Seen> out;
        for (auto& s : seen)
            if (s.msg == m) out.push_back(s);
        return out;
    }
};

struct DialogTest : ::testing::Test {
    Recorder rec;
    Hwnd dlg;
    void SetUp() override { dlg = create_dialog(sample_template(), rec.proc(), Hwnd{}, 1234); }
    void TearDown() override {
        destroy_window(dlg);
        pump_messages();
    }
};

TEST_F(DialogTest, TemplateBecomesWindowsWithIdsClassesTextsStylesAndRectangles) {
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(is_dialog(dlg));
    EXPECT_EQ(template_id(dlg), 300);
    EXPECT_EQ(get_window_text(dlg), "Sample");
    EXPECT_EQ(get_children(dlg).size(), 13u);
    const Hwnd ok = get_dlg_item(dlg, 1);
    ASSERT_TRUE(ok);
    EXPECT_EQ(get_class(ok), WindowClass::Button);
    EXPECT_EQ(get_class_name(ok), "Button");
    EXPECT_EQ(get_class_name(get_dlg_item(dlg, 32)), "msctls_progress32");
    EXPECT_EQ(get_class_name(get_dlg_item(dlg, 33)), "SysIPAddress32");
    EXPECT_EQ(get_window_text(ok), "OK");
    EXPECT_EQ(get_dlg_ctrl_id(ok), 1);
    EXPECT_EQ(get_parent(ok), dlg);
    EXPECT_EQ(get_style(ok) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_TRUE(get_style(ok) & WS_CHILD);
    // Dialog units: 6 × 13 base units.
    EXPECT_EQ(get_child_rect(ok), (Rect{15, 16, 75, 23}));
    EXPECT_EQ(get_client_rect(dlg), (Rect{0, 0, 300, 163}));
    EXPECT_FALSE(get_dlg_item(dlg, 999));
    EXPECT_FALSE(is_window_enabled(get_dlg_item(dlg, 35)));
    // Not yet shown: the template has no WS_VISIBLE.
    EXPECT_FALSE(is_window_visible(ok));
    show_window(dlg, SW_SHOW);
    EXPECT_TRUE(is_window_visible(ok));
    EXPECT_FALSE(is_window_visible(get_dlg_item(dlg, 34)));

    auto init = rec.of(WM_INITDIALOG);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].lp, 1234);
}

TEST_F(DialogTest, ButtonsCheckBoxesAndRadioGroupsBehaveAsTheControlsDo) {
    show_window(dlg, SW_SHOW);
    // Auto radio buttons: one checked per group; the group ends at the next WS_GROUP.
    check_dlg_button(dlg, 13, BST_CHECKED);
    ASSERT_TRUE(user::click(get_dlg_item(dlg, 11)));
    EXPECT_EQ(is_dlg_button_checked(dlg, 11), BST_CHECKED);
    EXPECT_TRUE(user::click(get_dlg_item(dlg, 12)));
    EXPECT_EQ(is_dlg_button_checked(dlg, 11), BST_UNCHECKED);
    EXPECT_EQ(is_dlg_button_checked(dlg, 12), BST_CHECKED);
    EXPECT_EQ(is_dlg_button_checked(dlg, 10), BST_UNCHECKED);
    EXPECT_EQ(is_dlg_button_checked(dlg, 13), BST_CHECKED);
    // Auto check box toggles; a plain radio button leaves its state to the program.
    user::click(get_dlg_item(dlg, 20));
    EXPECT_EQ(is_dlg_button_checked(dlg, 20), BST_CHECKED);
    user::click(get_dlg_item(dlg, 20));
    EXPECT_EQ(is_dlg_button_checked(dlg, 20), BST_UNCHECKED);
    user::click(get_dlg_item(dlg, 21));
    EXPECT_EQ(is_dlg_button_checked(dlg, 21), BST_UNCHECKED);
    // The clicks reached the dialog as WM_COMMAND with id and BN_CLICKED, in order.
    auto cmds = rec.of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 5u);
    EXPECT_EQ(loword(cmds[0].wp), 11u);
    EXPECT_EQ(hiword(cmds[0].wp), BN_CLICKED);
    EXPECT_EQ(loword(cmds[4].wp), 21u);
    // A disabled or hidden control takes no click.
    EXPECT_FALSE(user::click(get_dlg_item(dlg, 35)));
    enable_window(get_dlg_item(dlg, 20), false);
    EXPECT_FALSE(user::click(get_dlg_item(dlg, 20)));
    EXPECT_EQ(rec.of(WM_COMMAND).size(), 5u);
    // check_radio_button sets one and clears the rest of the range.
    check_radio_button(dlg, 10, 12, 10);
    EXPECT_EQ(is_dlg_button_checked(dlg, 10), BST_CHECKED);
    EXPECT_EQ(is_dlg_button_checked(dlg, 12), BST_UNCHECKED);
}

TEST_F(DialogTest, NumberEditsReadAsUnsignedLikeGetDlgItemInt) {
    struct Case {
        const char* text;
        unsigned value;
        bool ok;
    } cases[] = {{"9000", 9000, true}, {"  42", 42, true},  {"", 0, false},        {"abc", 0, false},
                 {"12ab", 12, true},   {"-5", 0, false},    {"4294967295", 4294967295u, true},
                 {"4294967296", 0, false}};
    for (auto& c : cases) {
        set_dlg_item_text(dlg, 30, c.text);
        bool ok = !c.ok;
        EXPECT_EQ(get_dlg_item_int(dlg, 30, &ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
    }
    set_dlg_item_text(dlg, 30, "-5");
    bool ok = false;
    EXPECT_EQ(int(get_dlg_item_int(dlg, 30, &ok, true)), -5);
    EXPECT_TRUE(ok);
    set_dlg_item_int(dlg, 30, 15010);
    EXPECT_EQ(get_dlg_item_text(dlg, 30), "15010");
    // The operator cannot type letters into a number edit; typing sends EN_CHANGE.
    show_window(dlg, SW_SHOW);
    EXPECT_FALSE(user::type_text(get_dlg_item(dlg, 30), "12a"));
    EXPECT_TRUE(user::type_text(get_dlg_item(dlg, 30), "82"));
    auto cmds = rec.of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(loword(cmds[0].wp), 30u);
    EXPECT_EQ(hiword(cmds[0].wp), EN_CHANGE);
}

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

TEST_F(DialogTest, MenusCarryCheckMarksAndGreyingAndOnlyEnabledItemsCommand) {
    EXPECT_TRUE(has_menu(dlg));
    EXPECT_TRUE(menu_item_checked(dlg, 108));
    EXPECT_EQ(check_menu_item(dlg, 108, MF_UNCHECKED), int(MF_CHECKED));
    EXPECT_EQ(check_menu_item(dlg, 115, MF_CHECKED), int(MF_UNCHECKED));
    EXPECT_FALSE(menu_item_checked(dlg, 108));
    EXPECT_TRUE(menu_item_checked(dlg, 115));
    EXPECT_EQ(check_menu_item(dlg, 4242, MF_CHECKED), -1);
    EXPECT_EQ(enable_menu_item(dlg, 109, MF_GRAYED), int(MF_ENABLED));
    EXPECT_FALSE(menu_item_enabled(dlg, 109));
    EXPECT_FALSE(user::choose_menu(dlg, 109));
    EXPECT_TRUE(user::choose_menu(dlg, 107));
    auto cmds = rec.of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].wp, make_wparam(107, 0));
    auto menu = get_menu(dlg);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[1].popup[1].text, "&Joystick");
    EXPECT_TRUE(menu[1].popup[1].grayed);
    // The menu bar is part of the frame.
    EXPECT_EQ(frame_insets(dlg).left, 3);
    EXPECT_EQ(frame_insets(dlg).top, 49);
}

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

TEST_F(DialogTest, CloseBoxAndEscapeBecomeCancel) {
    show_window(dlg, SW_SHOW);
    user::press_escape(dlg);
    user::close(dlg); // default dialog handling posts Cancel
    pump_messages();
    auto cmds = rec.of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(loword(cmds[0].wp), unsigned(IDCANCEL));
    EXPECT_EQ(loword(cmds[1].wp), unsigned(IDCANCEL));
    EXPECT_TRUE(is_window(dlg)); // a dialog decides itself whether to go
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

namespace {

TEST(Windows, ChildDialogSitsInsideItsFrameAndGoesWithIt) {
    WindowSpec frame;
    frame.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
    frame.rect = {0, 0, 400, 320};
    const Hwnd f = create_window(frame, def_window_proc);
    DialogTemplate page;
    page.id = 101;
    page.style = WS_CHILD | DS_CONTROL | WS_VISIBLE;
    page.rect = {4, 4, 224, 177};
    page.controls = {{1005, WindowClass::IpAddress, "", {83, 57, 96, 14}, WS_VISIBLE | WS_TABSTOP},
                     {1006, WindowClass::Edit, "", {83, 81, 35, 15},
                      WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_CENTER | ES_AUTOHSCROLL | WS_BORDER}};
    int commands = 0;
    const Hwnd p = create_dialog(page, [&](Hwnd, unsigned m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_COMMAND) ++commands;
        return m == WM_INITDIALOG;
    }, f);
    ASSERT_TRUE(p);
    EXPECT_EQ(get_parent(p), f);
    EXPECT_TRUE(get_style(p) & WS_CHILD);
    EXPECT_EQ(get_child_rect(p), (Rect{6, 7, 336, 288}));
    EXPECT_TRUE(is_window_visible(get_dlg_item(p, 1006)));
    EXPECT_EQ(frame_insets(p).top, 0);
    user::type_text(get_dlg_item(p, 1006), "2004");
    EXPECT_EQ(commands, 1);
    EXPECT_EQ(get_dlg_item_int(p, 1006), 2004u);
    destroy_window(f);
    EXPECT_FALSE(is_window(p));
}

} // namespace
