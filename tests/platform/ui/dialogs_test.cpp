// Dialogs from templates, modal dialogs, child dialogs inside a frame, numbers read from dialog items.
#include <gtest/gtest.h>

#include <atomic>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

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

TEST(ModalDialogs, DialogBoxRunsUntilEndDialogAndDisablesItsOwner) {
    const Hwnd owner = create_window(plain_spec(), def_window_proc);
    DialogTemplate about;
    about.id = 102;
    about.caption = "About";
    about.rect = {0, 0, 150, 60};
    about.controls = {{IDOK, WindowClass::Button, "OK", {50, 40, 50, 14}, WS_VISIBLE | BS_DEFPUSHBUTTON}};
    std::atomic<bool> owner_disabled{false};
    Hwnd seen;
    // The operator presses OK once the box is up.
    const LRESULT r = dialog_box(
        about,
        [&](Hwnd d, unsigned m, WPARAM wp, LPARAM) -> LRESULT {
            if (m == WM_INITDIALOG) {
                seen = d;
                owner_disabled = !is_window_enabled(owner);
                post_message(d, WM_APP);
                return 1;
            }
            if (m == WM_APP) {
                EXPECT_EQ(get_last_active_popup(owner), d);
                user::click(get_dlg_item(d, IDOK));
            }
            if (m == WM_COMMAND && (loword(wp) == IDOK || loword(wp) == IDCANCEL)) {
                end_dialog(d, LRESULT(loword(wp)));
                return 1;
            }
            return 0;
        },
        owner);
    EXPECT_EQ(r, IDOK);
    EXPECT_TRUE(owner_disabled.load());
    EXPECT_TRUE(is_window_enabled(owner));
    EXPECT_FALSE(is_window(seen));
    EXPECT_EQ(get_last_active_popup(owner), owner);
    destroy_window(owner);
}

} // namespace
