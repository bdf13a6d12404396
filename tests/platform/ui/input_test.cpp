// The operator's input: clicks on buttons and radio groups, the close box and Esc.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

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

} // namespace
